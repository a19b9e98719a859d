#pragma once

#include "connection/instrumentendpoint.h"
#include "connection/operationresult.h"
#include "transfer/transfertracker.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class FtpClient;
class OperationRun;
class UrlInfo;

// The engine of the tool: one connection to the instrument, its listing
// walk, and the operations, each carried out by an OperationRun. It alone
// takes the FTP client's reports and knows no window: a front end shows
// what its signals say and offers what controlsChanged() and
// operationsEnabledChanged() allow.
class InstrumentSession : public QObject
{
    Q_OBJECT

public:
    // What a front end offers: Connect alone, or Disconnect and the operations.
    enum class Controls { Idle, Ready };

    explicit InstrumentSession(FtpClient *client, QObject *parent = nullptr);
    ~InstrumentSession() override;

    FtpClient *client() const { return m_client; }
    const TransferTracker &tracker() const { return m_tracker; }

    // Connects, logs in and queues the listing walk.
    void connectToDevice(const InstrumentEndpoint &endpoint);
    // Stops whatever runs, closes the connection and forgets the listing.
    void disconnectFromDevice();
    // Starts `operation` on the files below `base` (`content`: a comparison
    // byte for byte); false when another operation still runs.
    bool startOperation(Operation operation, const QString &base, bool content = false);
    bool isOperationRunning() const;
    // QUIT, and the connection ends with the answer, or at the latest after
    // closeTimeoutMs: a silent server never holds a finished run up.
    void close();
    static constexpr int closeTimeoutMs = 5000;

signals:
    void labelChanged(const QString &text);
    // The file in transfer.
    void progressChanged(qint64 done, qint64 total);
    void controlsChanged(InstrumentSession::Controls controls);
    void operationsEnabledChanged(bool enabled);
    // The walk's listings have all arrived, complete.
    void walkFinished();
    // A command of the walk failed (not when Disconnect stopped it).
    void walkFailed(const Failure &failure);
    void operationStarted(Operation operation, int fileCount);
    // Transfer `number` of `count` begins: "folder/name" on the instrument.
    void transferStarted(int number, int count, const QString &path);
    void transferFinished(int number, bool ended);
    // The bytes of the running operation moved so far, of all it announced.
    void operationProgressChanged(qint64 done, qint64 total);
    // The last byte has arrived: the files are being put on disk.
    void saving();
    void operationFinished(const OperationResult &result);
    // The connection has ended, by a close or by its loss.
    void connectionClosed();

private slots:
    // The client's reports, under the names the tool has always given them.
    void setMyLable(int state);
    void chkstat(bool error);
    void CmdStartSlot(int commandId);
    void CmdFinishSlot(int commandId, bool error);
    void ftpProgress(qint64 done, qint64 total);
    void doListInfo(const UrlInfo &info);

private:
    OperationRun *runningOperation() const;
    bool ownsCurrentCommand() const;
    void showControls(Controls controls);
    void onOperationFinished(const OperationResult &result);

    FtpClient *m_client;
    TransferTracker m_tracker;
    QPointer<OperationRun> m_run;
    // While set, a state change other than Unconnected leaves the controls
    // as they are: they become Ready only when the walk has ended.
    bool m_suppressButtonUpdate = true;
    // Disconnect is ending the running command, or a close the connection:
    // that is no failure to report.
    bool m_stoppedByUser = false;
    bool m_closing = false;
    // The walk's listings passed their bounds: it was stopped.
    bool m_walkTooLong = false;
    QTimer m_closeDeadline;
};
