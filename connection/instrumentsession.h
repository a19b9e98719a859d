#pragma once

#include "instrumentendpoint.h"
#include "transfer/transfertracker.h"

#include <QObject>
#include <QString>
#include <QStringList>

class FtpClient;
class UrlInfo;

// The engine of the tool: one connection to the instrument, its listing
// walk, and the four operations, driven by the FTP client's reports. It
// knows no window: a front end shows what its signals say and offers what
// controlsChanged() and operationsEnabledChanged() allow.
//
// The client's reports reach the handlers below: through attachToClient(),
// or, in the window, through its own slots, which forward them here.
class InstrumentSession : public QObject
{
    Q_OBJECT

public:
    enum class Operation { DataBackup, Clone, DataRestore, Update };
    Q_ENUM(Operation)
    // What a front end offers: Connect alone, or Disconnect and the operations.
    enum class Controls { Idle, Ready };
    // The heading of an error a front end shows.
    enum class ErrorKind { Ftp, Path };

    struct Result
    {
        enum Kind { Completed, Incomplete, Failed, Refused };
        Kind kind = Completed;
        QString text;     // the tool's own words: "Backup Completed", the box's text...
        int missing = 0;  // Incomplete, Failed: files not done
        int count = 0;    // Completed, Incomplete, Failed: files of the operation
        // Incomplete: each file not done, "folder/name" as on the
        // instrument; a left-out one with its reason.
        QStringList notDone;
    };
    // The end in one line, for a front end that keeps it in view:
    // "Backup Completed · 40 files", "Backup Incomplete · 2 of 40 files missing".
    static QString summary(Operation operation, const Result &result);

    explicit InstrumentSession(FtpClient *client, QObject *parent = nullptr);

    FtpClient *client() const { return m_client; }
    TransferTracker &tracker() { return m_tracker; }
    const TransferTracker &tracker() const { return m_tracker; }

    // Connects, logs in and queues the listing walk.
    void connectToDevice(const InstrumentEndpoint &endpoint);
    // Stops whatever runs, closes the connection and forgets the listing.
    void disconnectFromDevice();
    // Queues the operation on the files below `base`; false when it queued
    // nothing (refused, or another operation still runs).
    bool startOperation(Operation operation, const QString &base);
    bool isOperationRunning() const { return m_operationRunning; }
    // Transfer `number` of the running operation as "folder/name" on the
    // instrument (the top folder's files by their name alone).
    QString transferPath(int number) const { return m_transferPaths.value(number - 1); }

    // The client's reports.
    void attachToClient();
    void stateChanged(int state);
    void queueDone(bool error);

    // While set, a state change other than Unconnected leaves the controls
    // as they are: they become Ready only when the walk has ended.
    bool suppressButtonUpdate = true;

signals:
    void labelChanged(const QString &text);
    void progressChanged(qint64 done, qint64 total);
    void errorReported(InstrumentSession::ErrorKind kind, const QString &text);
    void controlsChanged(InstrumentSession::Controls controls);
    void operationsEnabledChanged(bool enabled);
    void operationStarted(InstrumentSession::Operation operation, int fileCount);
    // Transfer `number` of `count` begins.
    void transferStarted(int number, int count, const QString &name);
    // The bytes of the running operation moved so far, of all it announced.
    void operationProgressChanged(qint64 done, qint64 total);
    void operationEnded(InstrumentSession::Operation operation, const InstrumentSession::Result &result);
    // The walk's listings have all arrived, complete.
    void walkFinished();

private:
    void onWalkListed(bool error);
    void reportFtpError(const QString &text);
    void endOperation();
    void finishOperation(const Result &result);
    Result unfinishedResult(Result::Kind kind, const QString &text) const;
    void followTransfer(int number);
    void followProgress(qint64 done);

    FtpClient *m_client;
    TransferTracker m_tracker;
    bool m_operationRunning = false;
    Operation m_operation = Operation::DataBackup;
    bool m_resultReported = false;
    int m_fileCount = 0;
    // Per transfer, in queue order: its path on the instrument, and the
    // bytes announced before it; the operation's whole announced size.
    QStringList m_transferPaths;
    QList<qint64> m_bytesBefore;
    qint64 m_bytesTotal = 0;
    int m_transferNumber = 0;
    // Disconnect is ending the running command: that is no failure to report.
    bool m_stoppedByUser = false;
};
