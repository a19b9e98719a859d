#include "connection/operationrun.h"

#include "connection/connectionlogging.h"
#include "ftp/ftpclient.h"
#include "ftp/urlinfo.h"
#include "transfer/contentcheck.h"
#include "transfer/transferlogging.h"
#include "transfer/folderhandle.h"
#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"
#include "transfer/stagedbatch.h"
#include "transfer/stagedfile.h"
#include "transfer/transfertracker.h"
#include "transfer/uploadsource.h"

#include <QLocale>

namespace {

QString completedTextOf(Operation operation)
{
    if (isDownload(operation))
        return QStringLiteral("Backup Completed");
    if (isUpload(operation))
        return QStringLiteral("Update Completed");
    return QStringLiteral("Compared");
}

QString bytesText(qint64 bytes)
{
    return QLocale(QLocale::English).toString(bytes);
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

// Files that arrived whole are put in place by the batch as it goes, the
// last of them here, while the base folder is still locked; the transfers'
// own files (temporaries, sources) close with their objects.
OperationRun::~OperationRun()
{
    delete m_staged;
}

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
    prepareTransfers();
    qCDebug(lcConnection) << operationName(m_operation) << "starts:" << transferCount() << "transfers,"
                          << m_bytesTotal << "bytes," << m_plan.leftOut.size() << "left out";
    queueFrom(0);
    // An operation that queued nothing for the client has nothing to wait for.
    if (m_commands.empty())
        settle();
}

// Each transfer's local file: a download goes to a temporary file beside
// its target, in the folder the plan opened, and replaces the target only
// when it has arrived whole and is on disk, so that a failed transfer never
// costs an earlier copy; an upload's source is only read, and only while it
// lies inside the set's folder; a comparison's fetch is checked against the
// PC's copy as it arrives and writes nothing. Each file is opened by the
// client when its command starts and released when it ends.
void OperationRun::prepareTransfers()
{
    QString folder;
    m_transferOfCall.assign(m_plan.calls.size(), -1);
    for (int i = 0; i < m_plan.calls.size(); ++i) {
        const ClientCall &call = m_plan.calls.at(i);
        if (call.kind == ClientCall::Cd)
            folder = call.argument == InstrumentLayout::upToTop ? QString() : call.argument;
        if (call.kind == ClientCall::List)
            ++m_listingsPlanned;
        if (!call.isTransfer())
            continue;
        Transfer transfer;
        transfer.call = i;
        transfer.path = printableName(folder.isEmpty() ? call.argument : folder + u'/' + call.argument);
        transfer.folderTag = folder.isEmpty() ? InstrumentLayout::topFolderTag : folder;
        transfer.bytesBefore = m_bytesTotal;
        m_bytesTotal = addSaturated(m_bytesTotal, call.size);
        switch (call.kind) {
        case ClientCall::Get:
            transfer.device = std::make_unique<StagedFile>(m_plan.folders.value(call.localFolder), call.argument);
            break;
        case ClientCall::Put:
            transfer.device = std::make_unique<UploadSource>(call.localPath, m_plan.setRoot);
            break;
        default:
            transfer.device = std::make_unique<ContentCheck>(call.localPath);
            for (int c = 0; c < m_plan.compared.size(); ++c) {
                if (m_plan.compared.at(c).localPath == call.localPath)
                    transfer.compared = c;
            }
            break;
        }
        m_transferOfCall[i] = int(m_transfers.size());
        m_transfers.push_back(std::move(transfer));
    }
}

// The listed size goes to the client with each download, which then stops
// a server that sends more. A comparison's fetches leave no trace in the
// transfer records.
void OperationRun::queueFrom(int firstCall)
{
    for (int i = firstCall; i < m_plan.calls.size(); ++i) {
        const ClientCall &call = m_plan.calls.at(i);
        const int index = m_transferOfCall.at(i);
        int id = 0;
        switch (call.kind) {
        case ClientCall::Cd: id = m_client->cd(call.argument); break;
        case ClientCall::Mkdir: id = m_client->mkdir(call.argument); break;
        case ClientCall::List: id = m_client->list(); break;
        case ClientCall::Get:
        case ClientCall::Check:
            id = m_client->get(call.argument, m_transfers[index].device.get(), FtpClient::Binary, call.size);
            break;
        case ClientCall::Put:
            id = m_client->put(m_transfers[index].device.get(), call.argument, FtpClient::Binary);
            break;
        }
        m_commands[id] = {i, index};
        // Queued once: a command queued again after a file-level failure
        // keeps its record.
        if (firstCall == 0 && (call.kind == ClientCall::Get || call.kind == ClientCall::Put)) {
            auto *file = call.kind == ClientCall::Get ? static_cast<QFileDevice *>(m_transfers[index].device.get())
                                                      : nullptr;
            m_tracker.appendRecord({false, call.argument, call.size, file},
                                   static_cast<QFileDevice *>(m_transfers[index].device.get()));
        }
    }
}

// The client drops the rest of its queue behind a failed command. Where the
// failure concerns one file alone and the connection is still logged in,
// the rest of the operation is queued again: a folder that exists already,
// a file that grew since the listing, a comparison's fetch the instrument
// refused.
bool OperationRun::resumeAfter(const Command &command)
{
    if (m_stopped || m_client->state() != FtpClient::LoggedIn)
        return false;
    const ClientCall::Kind kind = m_plan.calls.at(command.call).kind;
    const FtpClient::Error error = m_client->error();
    const bool fileLevel = (kind == ClientCall::Mkdir && error == FtpClient::ServerRefused)
            || (kind == ClientCall::Get && error == FtpClient::DataLimitExceeded)
            || (kind == ClientCall::Check
                && (error == FtpClient::ServerRefused || error == FtpClient::DataLimitExceeded));
    if (!fileLevel)
        return false;
    qCDebug(lcConnection) << "goes on after a failure of its own file:" << m_client->errorString();
    queueFrom(command.call + 1);
    return true;
}

// --- The client's reports ------------------------------------------------------------

void OperationRun::commandStarted(int commandId)
{
    const Command &command = m_commands.at(commandId);
    if (m_plan.calls.at(command.call).kind == ClientCall::List)
        m_listingTag = m_plan.calls.at(command.call).argument;
    if (command.transfer < 0)
        return;
    Transfer &transfer = m_transfers[command.transfer];
    m_current = &transfer;
    transfer.state = Transfer::State::Running;
    if (callOf(transfer).kind == ClientCall::Check)
        emit labelChanged(transfer.path);
    else
        emit labelChanged(m_tracker.transferStarting(commandId));
    emit transferStarted(command.transfer + 1, transferCount(), transfer.path);
    emit progressChanged(transfer.bytesBefore, m_bytesTotal);
}

void OperationRun::dataProgress(qint64 done, qint64 total)
{
    emit fileProgressChanged(done, total);
    if (!m_current || done < 0)
        return;
    m_current->moved = done;
    const ClientCall &call = callOf(*m_current);
    if (call.kind != ClientCall::Check)
        m_tracker.transferProgress(done);
    const qint64 moved = addSaturated(m_current->bytesBefore, qMin(done, call.size));
    emit progressChanged(qMin(moved, m_bytesTotal), m_bytesTotal);
}

void OperationRun::listEntry(const UrlInfo &info)
{
    if (info.isFile())
        m_listed[m_listingTag].insert(info.name(), info.size());
}

void OperationRun::commandFinished(int commandId, bool error)
{
    m_current = nullptr;
    const Command command = m_commands.at(commandId);
    Transfer *transfer = command.transfer < 0 ? nullptr : &m_transfers[command.transfer];
    const ClientCall &call = m_plan.calls.at(command.call);
    if (call.kind == ClientCall::List && !error)
        ++m_listingsDone;
    if (transfer) {
        emit transferFinished(command.transfer + 1, !error);
        switch (call.kind) {
        case ClientCall::Get: finishDownload(command.transfer, *transfer, error); break;
        case ClientCall::Put: finishUpload(*transfer, error); break;
        default: finishCheck(*transfer, error); break;
        }
    }
    // A command that Disconnect ended is no failure to report; nor is one
    // whose failure concerns its own file only.
    if (!error || m_stopped || m_failed || resumeAfter(command))
        return;
    if (command.call >= m_plan.confirmationFrom) {
        // The report's own heading says which command it was.
        m_unconfirmed = m_client->errorReason();
        return;
    }
    m_failed = true;
    m_failure = {m_client->error(), m_client->replyCode(), transfer ? transfer->path : QString(),
                 transfer && call.kind != ClientCall::Check, m_client->errorString()};
}

// Only a file of exactly the listed size is kept: a transfer that the
// server ended early, and still confirmed, must not replace an earlier copy.
void OperationRun::finishDownload(int index, Transfer &transfer, bool error)
{
    auto *target = static_cast<StagedFile *>(transfer.device.get());
    transfer.state = Transfer::State::NotDone;
    if (error) {
        if (m_client->error() == FtpClient::DataLimitExceeded)
            transfer.reason = QStringLiteral("changed on the instrument since the listing: Connect again to fetch it");
        // Dropping the temporary file leaves any earlier local copy as it was.
        transfer.device.reset();
        return;
    }
    m_tracker.downloadFinished();
    const qint64 size = target->pos();
    target->close();
    if (target->error() != QFileDevice::NoError) {
        qCWarning(lcTransfer) << "could not write" << target->targetPath() << ":" << target->errorString();
    } else if (size != callOf(transfer).size) {
        qCWarning(lcTransfer) << "not kept:" << target->targetPath() << "arrived with" << size << "of"
                              << callOf(transfer).size << "bytes";
    } else {
        m_staged->add({target->folder(), target->release(), target->targetName(), size, index});
        transfer.state = Transfer::State::Staged;
    }
    transfer.device.reset(); // removes the temporary file unless staged
    // The transfers go on while the disk catches up; once the run is being
    // settled (a stop in the last file's finish), a file that arrived after
    // all goes straight to the disk.
    if (m_staged->isFull() || m_phase == Phase::Saving)
        m_staged->commit();
}

// An upload is sent when the client handed over every byte of the file and
// the server confirmed it; whether the instrument kept it is asked at the end.
void OperationRun::finishUpload(Transfer &transfer, bool error)
{
    transfer.device.reset(); // closes and releases this upload's own source
    const bool whole = !error && transfer.moved == callOf(transfer).size;
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
        file.detail = m_client->errorReason();
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
    for (const int index : inPlace)
        m_transfers[index].state = Transfer::State::Done;
    for (const int index : failed) {
        m_transfers[index].state = Transfer::State::NotDone;
        m_transfers[index].reason = QStringLiteral("could not be put in place");
    }
    if (m_phase == Phase::Saving && m_staged->isIdle())
        decide();
}

// Nothing in FTP confirms what a server stored: each file sent counts only
// if the instrument then lists it with the size that was sent.
void OperationRun::confirmUploads()
{
    if (!isUpload(m_operation) || m_failed)
        return;
    // Stopped before the instrument listed what it kept, a file sent is not
    // known to be there.
    const bool listed = m_unconfirmed.isEmpty() && m_listingsDone == m_listingsPlanned;
    for (Transfer &transfer : m_transfers) {
        if (transfer.state != Transfer::State::Done)
            continue;
        if (!listed) {
            transfer.state = Transfer::State::NotDone;
            transfer.reason = QStringLiteral("sent, but not confirmed by the instrument");
            continue;
        }
        const auto folder = m_listed.constFind(transfer.folderTag);
        const qint64 kept = folder == m_listed.cend() ? -1 : folder->value(callOf(transfer).argument, -1);
        if (kept == transfer.moved)
            continue;
        transfer.state = Transfer::State::NotDone;
        transfer.reason = kept < 0 ? QStringLiteral("not listed by the instrument after it was sent")
                                   : QStringLiteral("the instrument kept %1 of %2 bytes")
                                             .arg(bytesText(kept), bytesText(transfer.moved));
    }
}

// A download went into its folder as it stood at the start. Where that
// folder has since been moved away, or replaced by another or by a link,
// its files are not where the technician will look for them, and nothing
// went into what stands there now.
void OperationRun::checkFoldersStayed()
{
    if (!isDownload(m_operation))
        return;
    QHash<QString, QString> replaced;
    for (auto it = m_plan.folders.cbegin(); it != m_plan.folders.cend(); ++it)
        replaced.insert(it.key(), it.value()->replacedLevel());
    for (Transfer &transfer : m_transfers) {
        const QString level = replaced.value(callOf(transfer).localFolder);
        if (transfer.state != Transfer::State::Done || level.isEmpty())
            continue;
        transfer.state = Transfer::State::NotDone;
        transfer.reason = level + QStringLiteral(" was replaced during the run");
    }
}

// The one place where an operation's end is decided.
void OperationRun::decide()
{
    m_phase = Phase::Finished;
    checkFoldersStayed();
    // Nothing more is written: another run may use the folder.
    m_plan.folders.clear();
    m_plan.lock.reset();
    OperationResult result;
    result.operation = m_operation;
    result.compared = m_plan.compared;
    result.note = m_plan.note;
    if (m_plan.refused) {
        result.kind = OperationResult::Refused;
        result.text = m_plan.refusalText;
        result.refusedFolder = m_plan.refusedFolder;
        // A set that is no set is told in the label, a folder in a box.
        if (!result.refusedFolder)
            emit labelChanged(result.text.section(u'\n', 0, 0));
        emit finished(result);
        return;
    }

    confirmUploads();
    const bool allArrived = countNotDone(result);
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
    qCDebug(lcConnection) << operationName(m_operation) << "ends:" << summaryOf(result);
    emit finished(result);
}

// Each file not done, with its reason where it has one of its own, and the
// files left out before anything was queued; the shared records learn the
// run's verdict on each. True when every transfer is done.
bool OperationRun::countNotDone(OperationResult &result)
{
    bool allDone = true;
    for (int i = 0; i < transferCount(); ++i) {
        const Transfer &transfer = m_transfers[i];
        const bool done = transfer.state == Transfer::State::Done;
        if (callOf(transfer).kind != ClientCall::Check)
            m_tracker.setDone(i, done);
        if (done)
            continue;
        allDone = false;
        result.notDone << (transfer.reason.isEmpty() ? transfer.path
                                                     : transfer.path + QStringLiteral(" (") + transfer.reason + u')');
    }
    result.notDone += m_plan.leftOut;
    result.missing = int(result.notDone.size());
    result.count = transferCount() + int(m_plan.leftOut.size());
    return allDone;
}

// The files not done for a reason of their own, and those left out before
// anything was queued, are named: the technician has to fetch or fix them.
QString OperationRun::incompleteReport(const QString &heading) const
{
    QStringList named;
    for (const Transfer &transfer : m_transfers) {
        if (transfer.state != Transfer::State::Done && !transfer.reason.isEmpty())
            named << transfer.path + QStringLiteral(" (") + transfer.reason + u')';
    }
    QString report = heading;
    constexpr int shown = 10;
    for (const auto &[title, names] : {std::pair{QStringLiteral("Not done:"), named},
                                       std::pair{QStringLiteral("Left out:"), m_plan.leftOut}}) {
        if (names.isEmpty())
            continue;
        report += QStringLiteral("\n\n") + title + u'\n' + names.mid(0, shown).join(u'\n');
        if (names.size() > shown)
            report += QStringLiteral("\n... and %1 more").arg(names.size() - shown);
    }
    if (!m_unconfirmed.isEmpty())
        report += QStringLiteral("\n\nThe instrument's listing of what was sent failed:\n") + m_unconfirmed;
    return report;
}
