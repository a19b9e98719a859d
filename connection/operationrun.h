#pragma once

#include "connection/operationresult.h"
#include "operations/operationplan.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <set>

class FtpClient;
class QIODevice;
class StagedBatch;
class TransferTracker;

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
    bool owns(int commandId) const { return m_commandIds.count(commandId) != 0; }
    void commandStarted(int commandId);
    void dataProgress(qint64 done, qint64 total);
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
        ClientCall::Kind kind = ClientCall::Get;
        int number = 0;              // 1 for the operation's first transfer
        QString path;                // "folder/name" on the instrument, fit to show
        qint64 expectedSize = 0;
        qint64 bytesBefore = 0;      // announced by the transfers before it
        std::unique_ptr<QIODevice> device;
        qint64 moved = 0;            // as the client last reported
        State state = State::Queued;
        QString reason;              // why it is not done, when that is worth telling
        int compared = -1;           // Check: the file of the plan's comparison
    };

    void queueCalls();
    void queueGet(const ClientCall &call, const QString &path);
    void queuePut(const ClientCall &call, const QString &path);
    void queueCheck(const ClientCall &call, const QString &path);
    Transfer &addTransfer(int commandId, const ClientCall &call, const QString &path, QIODevice *device);

    void finishDownload(int commandId, Transfer &transfer, bool error);
    void finishUpload(Transfer &transfer, bool error);
    void finishCheck(Transfer &transfer, bool error);
    void onCommitted(const QList<int> &inPlace, const QList<int> &failed);
    void settle();
    void decide();
    QString incompleteReport(const QString &heading) const;

    const Operation m_operation;
    OperationPlan m_plan;
    FtpClient *const m_client;
    TransferTracker &m_tracker;
    Phase m_phase = Phase::Created;
    bool m_stopped = false;
    bool m_failed = false;
    Failure m_failure;

    std::set<int> m_commandIds;
    // Every transfer, by the client's command id.
    std::map<int, Transfer> m_transfers;
    Transfer *m_current = nullptr;
    qint64 m_bytesTotal = 0;
    // Downloads that arrived whole, until they are in place.
    StagedBatch *m_staged = nullptr;
};
