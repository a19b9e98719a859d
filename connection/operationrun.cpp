#include "connection/operationrun.h"

#include "ftp/ftpclient.h"
#include "transfer/contentcheck.h"
#include "transfer/diagnostics.h"
#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"
#include "transfer/stagedbatch.h"
#include "transfer/stagedfile.h"
#include "transfer/transfertracker.h"
#include "transfer/uploadsource.h"

#include <limits>

namespace {

// A hostile listing may announce sizes whose sum passes 2^63.
qint64 addSaturated(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

QString completedTextOf(Operation operation)
{
    if (isDownload(operation))
        return QStringLiteral("Backup Completed");
    if (isUpload(operation))
        return QStringLiteral("Update Completed");
    return QStringLiteral("Compared");
}

} // namespace

OperationRun::OperationRun(Operation operation, OperationPlan plan, FtpClient *client, TransferTracker &tracker,
                           QObject *parent)
    : QObject(parent)
    , m_operation(operation)
    , m_plan(std::move(plan))
    , m_client(client)
    , m_tracker(tracker)
    , m_staged(new StagedBatch(this))
{
    connect(m_staged, &StagedBatch::committed, this, &OperationRun::onCommitted);
}

// Files that arrived whole are put in place by the batch as it goes; the
// transfers' own files (temporaries, sources) close with their objects.
OperationRun::~OperationRun() = default;

// --- Queueing ----------------------------------------------------------------------

void OperationRun::start()
{
    m_phase = Phase::Running;
    if (m_operation != Operation::Compare)
        m_tracker.beginOperation(isDownload(m_operation));
    if (m_plan.refused) {
        decide();
        return;
    }
    queueCalls();
    // An operation that queued nothing for the client has nothing to wait for.
    if (m_commandIds.empty())
        settle();
}

void OperationRun::queueCalls()
{
    QString folder;
    for (const ClientCall &call : std::as_const(m_plan.calls)) {
        const QString path = printableName(folder.isEmpty() ? call.argument : folder + u'/' + call.argument);
        switch (call.kind) {
        case ClientCall::Cd:
            folder = call.argument == InstrumentLayout::upToTop ? QString() : call.argument;
            m_commandIds.insert(m_client->cd(call.argument));
            break;
        case ClientCall::Mkdir:
            m_commandIds.insert(m_client->mkdir(call.argument));
            break;
        case ClientCall::Get:
            queueGet(call, path);
            break;
        case ClientCall::Put:
            queuePut(call, path);
            break;
        case ClientCall::Check:
            queueCheck(call, path);
            break;
        }
    }
}

// A download replaces its target only when it has arrived whole and is on
// disk: a failed transfer never costs the technician an earlier copy. The
// listed size goes to the client, which then stops a server that sends more.
void OperationRun::queueGet(const ClientCall &call, const QString &path)
{
    auto target = std::make_unique<StagedFile>(call.localPath);
    StagedFile *file = target.get();
    const int id = m_client->get(call.argument, file, FtpClient::Binary, call.size);
    addTransfer(id, call, path, target.release());
    m_tracker.appendRecord({false, call.argument, call.size, file, id}, file);
}

// The source is opened by the client when the command starts and released
// when it ends, so that a long operation keeps one file open; it is only
// read, and only while it lies inside the set's folder.
void OperationRun::queuePut(const ClientCall &call, const QString &path)
{
    auto source = std::make_unique<UploadSource>(call.localPath, m_plan.setRoot);
    UploadSource *file = source.get();
    const int id = m_client->put(file, call.argument, FtpClient::Binary);
    addTransfer(id, call, path, source.release());
    m_tracker.appendRecord({false, call.argument, call.size, nullptr, id}, file);
}

// A comparison's fetch writes nothing: it is checked against the PC's copy
// as it arrives. It is no transfer of the tool's and leaves no trace.
void OperationRun::queueCheck(const ClientCall &call, const QString &path)
{
    auto check = std::make_unique<ContentCheck>(call.localPath);
    const int id = m_client->get(call.argument, check.get(), FtpClient::Binary, call.size);
    Transfer &transfer = addTransfer(id, call, path, check.release());
    for (int i = 0; i < m_plan.compared.size(); ++i) {
        if (m_plan.compared.at(i).localPath == call.localPath)
            transfer.compared = i;
    }
}

OperationRun::Transfer &OperationRun::addTransfer(int commandId, const ClientCall &call, const QString &path,
                                                  QIODevice *device)
{
    m_commandIds.insert(commandId);
    Transfer &transfer = m_transfers[commandId];
    transfer.kind = call.kind;
    transfer.number = int(m_transfers.size());
    transfer.path = path;
    transfer.expectedSize = call.size;
    transfer.bytesBefore = m_bytesTotal;
    transfer.device.reset(device);
    m_bytesTotal = addSaturated(m_bytesTotal, call.size);
    return transfer;
}

// --- The client's reports ------------------------------------------------------------

void OperationRun::commandStarted(int commandId)
{
    const auto found = m_transfers.find(commandId);
    if (found == m_transfers.end())
        return;
    Transfer &transfer = found->second;
    m_current = &transfer;
    transfer.state = Transfer::State::Running;
    if (transfer.kind == ClientCall::Check)
        emit labelChanged(transfer.path);
    else
        emit labelChanged(m_tracker.transferStarting(commandId));
    emit transferStarted(transfer.number, transferCount(), transfer.path);
    emit progressChanged(transfer.bytesBefore, m_bytesTotal);
}

void OperationRun::dataProgress(qint64 done, qint64 total)
{
    emit fileProgressChanged(done, total);
    if (!m_current || done < 0)
        return;
    m_current->moved = done;
    if (m_current->kind != ClientCall::Check)
        m_tracker.transferProgress(done);
    const qint64 moved = addSaturated(m_current->bytesBefore, qMin(done, m_current->expectedSize));
    emit progressChanged(qMin(moved, m_bytesTotal), m_bytesTotal);
}

void OperationRun::commandFinished(int commandId, bool error)
{
    m_current = nullptr;
    const auto found = m_transfers.find(commandId);
    Transfer *transfer = found == m_transfers.end() ? nullptr : &found->second;
    // A command that Disconnect ended is no failure to report.
    if (error && !m_stopped && !m_failed) {
        m_failed = true;
        m_failure = {m_client->error(), m_client->replyCode(), transfer ? transfer->path : QString(),
                     transfer && transfer->kind != ClientCall::Check, m_client->errorString()};
    }
    if (!transfer)
        return;
    emit transferFinished(transfer->number, !error);
    switch (transfer->kind) {
    case ClientCall::Get: finishDownload(commandId, *transfer, error); break;
    case ClientCall::Put: finishUpload(*transfer, error); break;
    case ClientCall::Check: finishCheck(*transfer, error); break;
    default: break;
    }
}

// Only a file of exactly the listed size is kept: a transfer that the
// server ended early, and still confirmed, must not replace an earlier copy.
void OperationRun::finishDownload(int commandId, Transfer &transfer, bool error)
{
    auto *target = static_cast<StagedFile *>(transfer.device.get());
    transfer.state = Transfer::State::NotDone;
    if (error) {
        // Dropping the temporary file leaves any earlier local copy as it was.
        transfer.device.reset();
        return;
    }
    m_tracker.downloadFinished();
    const qint64 size = target->pos();
    target->close();
    if (target->error() != QFileDevice::NoError) {
        qCWarning(lcTransfer) << "could not write" << target->targetPath() << ":" << target->errorString();
    } else if (size != transfer.expectedSize) {
        qCWarning(lcTransfer) << "not kept:" << target->targetPath() << "arrived with" << size << "of"
                              << transfer.expectedSize << "bytes";
    } else {
        m_staged->add({target->release(), target->targetPath(), size, commandId});
        transfer.state = Transfer::State::Staged;
    }
    transfer.device.reset(); // removes the temporary file unless staged
    // The transfers go on while the disk catches up.
    if (m_staged->isFull())
        m_staged->commit();
}

// An upload is stored when the client handed over every byte of the file
// and the server confirmed it.
void OperationRun::finishUpload(Transfer &transfer, bool error)
{
    transfer.device.reset(); // closes and releases this upload's own source
    const bool whole = !error && transfer.moved == transfer.expectedSize;
    transfer.state = whole ? Transfer::State::Done : Transfer::State::NotDone;
}

void OperationRun::finishCheck(Transfer &transfer, bool error)
{
    auto *check = static_cast<ContentCheck *>(transfer.device.get());
    check->close();
    transfer.state = Transfer::State::Done;
    if (transfer.compared < 0)
        return;
    ComparedFile &file = m_plan.compared[transfer.compared];
    if (error) {
        file.state = ComparedFile::NotFetched;
        file.detail = m_client->errorString().section(u'\n', -1);
    } else if (!check->localError().isEmpty()) {
        file.state = ComparedFile::Unreadable;
        file.detail = check->localError();
    } else if (check->received() != file.instrumentSize) {
        file.state = ComparedFile::NotFetched;
        file.detail = QStringLiteral("%1 of %2 bytes arrived").arg(check->received()).arg(file.instrumentSize);
    } else if (check->firstDifference() >= 0) {
        file.state = ComparedFile::Differs;
        file.detail = QStringLiteral("content from byte %1").arg(check->firstDifference());
    }
}

void OperationRun::queueDone()
{
    if (m_phase == Phase::Running)
        settle();
}

// --- The end ---------------------------------------------------------------------------

void OperationRun::stop()
{
    if (m_phase != Phase::Running)
        return;
    m_stopped = true;
    // The client drops the rest and ends the command in progress; its
    // report of the empty queue then settles the run.
    if (m_client->currentCommand() != FtpClient::None || m_client->hasPendingCommands())
        m_client->abort();
    if (m_phase == Phase::Running)
        settle();
}

// Nothing more will arrive: what did is put on disk, off the event loop,
// before the result is told.
void OperationRun::settle()
{
    m_phase = Phase::Saving;
    m_current = nullptr;
    if (m_staged->waitingCount() > 0)
        m_staged->commit();
    if (m_staged->isIdle()) {
        decide();
        return;
    }
    emit saving();
}

void OperationRun::onCommitted(const QList<int> &inPlace, const QList<int> &failed)
{
    for (const int id : inPlace)
        m_transfers[id].state = Transfer::State::Done;
    for (const int id : failed) {
        Transfer &transfer = m_transfers[id];
        transfer.state = Transfer::State::NotDone;
        transfer.reason = QStringLiteral("could not be put in place");
    }
    if (m_phase == Phase::Saving && m_staged->isIdle())
        decide();
}

// The one place where an operation's end is decided.
void OperationRun::decide()
{
    m_phase = Phase::Finished;
    OperationResult result;
    result.operation = m_operation;
    result.compared = m_plan.compared;
    if (m_plan.refused) {
        result.kind = OperationResult::Refused;
        result.text = m_plan.refusalText;
        result.refusedFolder = m_plan.refusedFolder;
        // A set that is no set is told in the label, a folder in a box.
        if (!result.refusedFolder)
            emit labelChanged(result.text);
        emit finished(result);
        return;
    }

    bool allArrived = true;
    for (const auto &[id, transfer] : m_transfers) {
        const bool done = transfer.state == Transfer::State::Done;
        if (transfer.kind != ClientCall::Check)
            m_tracker.setDone(transfer.number - 1, done);
        if (!done) {
            allArrived = false;
            result.notDone << (transfer.reason.isEmpty() ? transfer.path
                                                         : transfer.path + QStringLiteral(" (") + transfer.reason + u')');
        }
    }
    result.notDone += m_plan.leftOut;
    result.missing = int(result.notDone.size());
    result.count = transferCount() + int(m_plan.leftOut.size());

    if (m_stopped && !allArrived) {
        result.kind = OperationResult::Stopped;
        result.text = QStringLiteral("Interrupted");
    } else if (m_failed) {
        result.kind = OperationResult::Failed;
        result.failure = m_failure;
        result.text = m_failure.text;
    } else if (result.notDone.isEmpty()) {
        result.kind = OperationResult::Completed;
        result.text = completedTextOf(m_operation);
        // With nothing transferred there is nothing to report as done.
        if (transferCount() > 0 && m_operation != Operation::Compare) {
            emit labelChanged(result.text);
            m_tracker.clear();
        }
    } else {
        result.kind = OperationResult::Incomplete;
        result.text = incompleteReport(incompleteTextOf(m_operation));
    }
    emit finished(result);
}

// The files left out before anything was queued are named: the technician
// has to fetch or fix them by hand.
QString OperationRun::incompleteReport(const QString &heading) const
{
    const QStringList &leftOut = m_plan.leftOut;
    if (leftOut.isEmpty())
        return heading;
    constexpr int shown = 10;
    QString report = heading + QStringLiteral("\n\nLeft out:\n") + leftOut.mid(0, shown).join(u'\n');
    if (leftOut.size() > shown)
        report += QStringLiteral("\n... and %1 more").arg(leftOut.size() - shown);
    return report;
}
