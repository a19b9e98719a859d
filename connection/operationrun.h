#pragma once

#include "connection/operationresult.h"
#include "operations/operationplan.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class FtpClient;
class QIODevice;
class StagedBatch;
class TransferTracker;
class UrlInfo;

// One operation, from the click to its result. It queues the plan's
// commands, alone takes the client's reports for them, owns the local file
// of each transfer and the downloads waiting to be put in place, and decides
// once, in decide(), how the operation ended: finished() is emitted exactly
// once, after the last file that arrived whole is on disk.
class OperationRun : public QObject
{
    Q_OBJECT

public:
    OperationRun(Operation operation, OperationPlan plan, FtpClient *client, TransferTracker &tracker,
                 QObject *parent = nullptr);
    ~OperationRun() override;

    Operation operation() const { return m_operation; }
    int transferCount() const { return int(m_transfers.size()); }
    bool isFinished() const { return m_phase == Phase::Finished; }

    // Queues the plan's commands; a refused plan, or one that queues
    // nothing, ends at once.
    void start();
    // Disconnect or a signal: the command in progress is dropped with its
    // partial file, the rest is not sent; what arrived whole is put in
    // place. Once the last byte has arrived the run ends as it would have.
    void stop();

    // The client's reports, for the commands this run queued.
    bool owns(int commandId) const { return m_commands.count(commandId) != 0; }
    void commandStarted(int commandId);
    void dataProgress(qint64 done, qint64 total);
    void listEntry(const UrlInfo &info);
    void commandFinished(int commandId, bool error);
    // The client's queue has run empty: nothing more of this run will move.
    void queueDone();

signals:
    void labelChanged(const QString &text);
    // The file in transfer.
    void fileProgressChanged(qint64 done, qint64 total);
    // Transfer `number` of `count` begins: "folder/name" on the instrument.
    void transferStarted(int number, int count, const QString &path);
    // Transfer `number` has ended: its command finished without an error.
    void transferFinished(int number, bool ended);
    // The bytes of all the operation's files.
    void progressChanged(qint64 done, qint64 total);
    // The last byte has arrived: what arrived is being put on disk.
    void saving();
    void finished(const OperationResult &result);

private:
    enum class Phase { Created, Running, Saving, Finished };

    struct Transfer
    {
        enum class State { Queued, Running, Staged, Done, NotDone };
        int call = 0;                // in the plan
        QString path;                // "folder/name" on the instrument, fit to show
        QString folderTag;           // the walk's tag of its folder on the instrument
        qint64 bytesBefore = 0;      // announced by the transfers before it
        std::unique_ptr<QIODevice> device;
        qint64 moved = 0;            // as the client last reported
        State state = State::Queued;
        QString reason;              // why it is not done, when that is worth telling
        int compared = -1;           // Check: the file of the plan's comparison
    };
    struct Command
    {
        int call = 0;
        int transfer = -1;           // into m_transfers; -1: no transfer
    };

    void prepareTransfers();
    void queueFrom(int firstCall);
    const ClientCall &callOf(const Transfer &transfer) const { return m_plan.calls.at(transfer.call); }
    bool resumeAfter(const Command &command);

    void finishDownload(int index, Transfer &transfer, bool error);
    void finishUpload(Transfer &transfer, bool error);
    void finishCheck(Transfer &transfer, bool error);
    void onCommitted(const QList<int> &inPlace, const QList<int> &failed);
    void settle();
    void confirmUploads();
    void checkFoldersStayed();
    void decide();
    bool countNotDone(OperationResult &result);
    QString incompleteReport(const QString &heading) const;

    const Operation m_operation;
    OperationPlan m_plan;
    FtpClient *const m_client;
    TransferTracker &m_tracker;
    Phase m_phase = Phase::Created;
    bool m_stopped = false;
    bool m_failed = false;
    Failure m_failure;
    // Why the instrument's listing of what was sent could not be had.
    QString m_unconfirmed;

    // Every queued command by the client's id, every transfer in plan order,
    // and the transfer of each call (-1: none).
    std::map<int, Command> m_commands;
    std::vector<Transfer> m_transfers;
    std::vector<int> m_transferOfCall;
    Transfer *m_current = nullptr;
    qint64 m_bytesTotal = 0;
    // What the instrument lists after the uploads, by folder tag and name.
    QHash<QString, QHash<QString, qint64>> m_listed;
    QString m_listingTag;
    int m_listingsPlanned = 0;
    int m_listingsDone = 0;
    // Downloads that arrived whole, until they are in place.
    StagedBatch *m_staged = nullptr;
};
