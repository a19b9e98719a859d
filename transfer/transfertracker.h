#pragma once

#include "stagedbatch.h"
#include "transferrecord.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

#include <map>
#include <memory>

class FtpClient;
class QFileDevice;
class UrlInfo;

// The transfer state of one connection to the instrument, and its reaction
// to the FTP client's reports: it counts the walk's listings and keeps their
// files, queues the transfers of an operation, follows each transfer from
// start to finish, puts downloads in place, and tests at the end of the last
// transfer whether the operation is complete. It knows no window: it tells
// what to show through its signals.
class TransferTracker : public QObject
{
    Q_OBJECT

public:
    explicit TransferTracker(FtpClient *client, QObject *parent = nullptr);
    ~TransferTracker() override;

    // The state, under the names it has always had.
    QList<TransferRecord> transferList;
    QList<RemoteEntry> remoteList;
    int transferIndex = 0;
    // The newest queued file; kept as the tool always has, though nothing
    // reads it since each transfer owns its file.
    QFileDevice *currentFile = nullptr;
    int listCount = 0;
    int getFinishIndex = 0;
    int lastCommandId = 0;
    bool lastTransferStarted = false;
    // What the running operation left out before queueing, each with the
    // reason, for the incomplete report.
    QStringList skippedEntries;

    // The one way an operation starts a file transfer. A download goes to
    // a temporary file beside its target; an upload source is only read,
    // and only while it lies inside `setRoot` (when given).
    void queuePut(const QString &localPath, const QString &remoteName, qint64 size,
                  const QString &setRoot = QString());
    void queueGet(const QString &localPath, const QString &remoteName, qint64 size);

    // An operation starts: the records of the last one go.
    void resetForOperation(bool downloads);
    // The operation is over: files of commands the client dropped are
    // released, and what arrived whole is put in place.
    void settle();
    // The walk begins anew.
    void resetForWalk();

    // The client's reports.
    void commandStarted();
    void commandFinished(int commandId, bool error);
    void progress(qint64 done, qint64 total);
    void listEntry(const UrlInfo &info);

    // `incompleteText` and, when entries were left out, their names.
    QString incompleteReport(const QString &incompleteText) const;

signals:
    void labelChanged(const QString &text);
    void progressChanged(qint64 done, qint64 total);
    // Transfer `number` of `count` begins.
    void transferStarted(int number, int count, const QString &name);
    // A get or put failed, with the client's error text.
    void transferFailed(const QString &text);
    // The last transfer has finished: every record done (and nothing left
    // out), or not.
    void operationCompleted(const QString &completedText);
    void operationIncomplete(const QString &report, int missing, int count);
    // The walk's last listing ended.
    void walkListed(bool error);

private:
    void startTransfer();
    void countListing();
    void finishUpload(int commandId, bool error);
    void finishDownload(int commandId, bool error);
    void finishListing(bool error);
    bool stageDownload(int commandId, qint64 expectedSize);
    TransferRecord *recordOf(int commandId);
    void markNotDone(const QList<int> &commandIds);
    void testCompleteness(const QString &completedText, const QString &incompleteText);

    FtpClient *m_client;
    // The local file of every queued transfer, by command id. A file lives
    // until its command has finished or the client has dropped it, whatever
    // happens to transferList meanwhile.
    std::map<int, std::unique_ptr<QFileDevice>> m_transferFiles;
    // Downloads that have arrived whole, waiting to be put in place together.
    StagedBatch m_stagedDownloads;
};
