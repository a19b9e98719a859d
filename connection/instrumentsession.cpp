#include "instrumentsession.h"

#include "ftpclient.h"
#include "operations/operationplan.h"
#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"
#include "transfer/requiredtrace.h"

#include <QDir>

#include <limits>

namespace {

const QString instrumentUser = QStringLiteral("root");
const QString instrumentPassword = QStringLiteral("+00417263850");

bool isDownload(InstrumentSession::Operation operation)
{
    return operation == InstrumentSession::Operation::DataBackup || operation == InstrumentSession::Operation::Clone;
}

QString incompleteTextOf(InstrumentSession::Operation operation)
{
    return isDownload(operation) ? QStringLiteral("Backup Incomplete") : QStringLiteral("File Update Incomplete");
}

// A hostile listing may announce sizes whose sum passes 2^63.
qint64 addSaturated(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

} // namespace

InstrumentSession::InstrumentSession(FtpClient *client, QObject *parent)
    : QObject(parent), m_client(client), m_tracker(client)
{
    connect(&m_tracker, &TransferTracker::labelChanged, this, &InstrumentSession::labelChanged);
    connect(&m_tracker, &TransferTracker::progressChanged, this, &InstrumentSession::progressChanged);
    connect(&m_tracker, &TransferTracker::transferStarted, this, &InstrumentSession::transferStarted);
    connect(&m_tracker, &TransferTracker::transferStarted, this, &InstrumentSession::followTransfer);
    connect(&m_tracker, &TransferTracker::progressChanged, this, &InstrumentSession::followProgress);
    connect(&m_tracker, &TransferTracker::transferFailed, this, &InstrumentSession::reportFtpError);
    connect(&m_tracker, &TransferTracker::walkListed, this, &InstrumentSession::onWalkListed);
    connect(&m_tracker, &TransferTracker::operationCompleted, this, [this](const QString &text) {
        finishOperation({Result::Completed, text, 0, m_fileCount, {}});
    });
    connect(&m_tracker, &TransferTracker::operationIncomplete, this, [this](const QString &report) {
        reportFtpError(report);
        finishOperation(unfinishedResult(Result::Incomplete, report));
    });
}

void InstrumentSession::attachToClient()
{
    connect(m_client, &FtpClient::stateChanged, this, &InstrumentSession::stateChanged);
    connect(m_client, &FtpClient::done, this, &InstrumentSession::queueDone);
    connect(m_client, &FtpClient::commandFinished, &m_tracker, &TransferTracker::commandFinished);
    connect(m_client, &FtpClient::commandStarted, &m_tracker, &TransferTracker::commandStarted);
    connect(m_client, &FtpClient::dataTransferProgress, &m_tracker, &TransferTracker::progress);
    connect(m_client, &FtpClient::listInfo, &m_tracker, &TransferTracker::listEntry);
}

// --- Connection ----------------------------------------------------------------

void InstrumentSession::connectToDevice(const InstrumentEndpoint &endpoint)
{
    emit labelChanged(QStringLiteral("Wait ...."));
    m_tracker.resetForWalk();
    // A second connect during the walk starts over: the rest of the first
    // walk would otherwise be counted as listings of the second and tag its
    // entries with the wrong folders.
    m_client->clearPendingCommands();

    m_client->connectToHost(endpoint.host, endpoint.port);
    m_client->login(instrumentUser, instrumentPassword);
    for (const QString &folder : InstrumentLayout::walkFolders) {
        m_client->cd(folder);
        m_client->list();
        m_client->cd(InstrumentLayout::upToTop);
    }
    m_client->list();
    emit labelChanged(QStringLiteral("Wait .."));
}

void InstrumentSession::disconnectFromDevice()
{
    // A close queued behind a running command waits for it, and a stuck
    // transfer never ends: the running command is stopped first. Its
    // partial file goes with it; earlier local copies stay as they were.
    if (m_client->currentCommand() != FtpClient::None || m_client->hasPendingCommands()) {
        m_stoppedByUser = true;
        m_client->abort();
        m_stoppedByUser = false;
        endOperation();
    }
    m_client->close();
    m_tracker.remoteList.clear();
    m_tracker.transferList.clear();
}

void InstrumentSession::stateChanged(int state)
{
    RequiredTrace::stateChanged(state);
    if (state >= 0 && state < int(stateNames.size()))
        emit labelChanged(stateNames[state]);

    if (suppressButtonUpdate && state != FtpClient::Unconnected)
        return;
    if (state == FtpClient::LoggedIn)
        emit controlsChanged(Controls::Ready);
    else if (state == FtpClient::Unconnected)
        emit controlsChanged(Controls::Idle);
    suppressButtonUpdate = true;
}

// The operations work from the whole listing: they are offered only once
// the walk's last listing has arrived complete.
void InstrumentSession::onWalkListed(bool error)
{
    if (error || m_operationRunning)
        return;
    suppressButtonUpdate = false;
    stateChanged(FtpClient::LoggedIn);
    emit walkFinished();
}

void InstrumentSession::queueDone(bool error)
{
    // The queue has run empty: whatever operation was running is over.
    // What arrived whole is put in place first, so that the result counts it.
    const bool failed = m_operationRunning && error && !m_stoppedByUser;
    endOperation();
    if (failed)
        finishOperation(unfinishedResult(Result::Failed, m_client->errorString()));
    if (error)
        reportFtpError(m_client->errorString());
}

void InstrumentSession::reportFtpError(const QString &text)
{
    if (!m_stoppedByUser)
        emit errorReported(ErrorKind::Ftp, text);
}

// --- Operations ------------------------------------------------------------------

// A second operation is refused while one runs: it would reset the tracking
// of the first while its transfers are still queued.
bool InstrumentSession::startOperation(Operation operation, const QString &base)
{
    if (base.isEmpty()) {
        emit errorReported(ErrorKind::Path, QStringLiteral("Select a Valid Folder"));
        return false;
    }
    if (m_operationRunning)
        return false;
    m_operationRunning = true;
    m_operation = operation;
    m_resultReported = false;
    emit operationsEnabledChanged(false);
    m_tracker.resetForOperation(isDownload(operation));

    OperationPlan plan;
    const QString incompleteText = incompleteTextOf(operation);
    if (isDownload(operation)) {
        const bool clone = operation == Operation::Clone;
        const QString unfit = prepareDownloadFolders(
                base, clone ? InstrumentLayout::cloneLocalFolders : InstrumentLayout::backupLocalFolders);
        if (!unfit.isEmpty()) {
            const QString text = QStringLiteral("Not a folder of its own (a link, or not a folder):\n%1")
                                         .arg(QDir::toNativeSeparators(unfit));
            emit errorReported(ErrorKind::Path, text);
            finishOperation({Result::Refused, text, 0, 0, {}});
            endOperation();
            return false;
        }
        const bool ignoreCase = folderIgnoresCase(base);
        plan = clone ? planClone(base, m_tracker.remoteList, ignoreCase)
                     : planDataBackup(base, m_tracker.remoteList, ignoreCase);
    } else {
        const bool empty = m_tracker.remoteList.isEmpty();
        plan = operation == Operation::Update ? planUpdate(base, empty) : planDataRestore(base, empty);
        if (plan.refused) {
            const QString text = QStringLiteral("Incorrect file in Selected Directory");
            emit labelChanged(text);
            finishOperation({Result::Refused, text, 0, 0, {}});
            endOperation();
            return false;
        }
    }

    m_tracker.skippedEntries = plan.leftOut;
    m_fileCount = plan.transferCount();
    m_transferPaths.clear();
    m_bytesBefore.clear();
    m_bytesTotal = 0;
    m_transferNumber = 0;
    emit operationStarted(operation, m_fileCount);
    QString folder;
    for (const ClientCall &call : std::as_const(plan.calls)) {
        if (call.kind == ClientCall::Get || call.kind == ClientCall::Put) {
            m_transferPaths << printableName(folder.isEmpty() ? call.argument : folder + u'/' + call.argument);
            m_bytesBefore << m_bytesTotal;
            m_bytesTotal = addSaturated(m_bytesTotal, call.size);
        }
        switch (call.kind) {
        case ClientCall::Cd:
            folder = call.argument == InstrumentLayout::upToTop ? QString() : call.argument;
            m_client->cd(call.argument);
            break;
        case ClientCall::Mkdir: m_client->mkdir(call.argument); break;
        case ClientCall::Get: m_tracker.queueGet(call.localPath, call.argument, call.size); break;
        case ClientCall::Put: m_tracker.queuePut(call.localPath, call.argument, call.size, plan.setRoot); break;
        }
    }

    // An operation that queued nothing for the client gets no end report.
    if (!m_client->hasPendingCommands() && m_client->currentCommand() == FtpClient::None)
        endOperation();
    // Nor does one that left out every file it was given.
    if (plan.transferCount() == 0 && !plan.leftOut.isEmpty()) {
        const QString report = m_tracker.incompleteReport(incompleteText);
        reportFtpError(report);
        finishOperation(unfinishedResult(Result::Incomplete, report));
    }
    return true;
}

InstrumentSession::Result InstrumentSession::unfinishedResult(Result::Kind kind, const QString &text) const
{
    Result result{kind, text, 0, 0, {}};
    const QList<TransferRecord> &records = m_tracker.transferList;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (!records.at(i).done)
            result.notDone << m_transferPaths.value(i, records.at(i).name);
    }
    result.notDone += m_tracker.skippedEntries;
    result.missing = int(result.notDone.size());
    result.count = int(records.size() + m_tracker.skippedEntries.size());
    return result;
}

QString InstrumentSession::summary(Operation operation, const Result &result)
{
    const QString files = result.count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(result.count);
    switch (result.kind) {
    case Result::Completed:
        return result.text + QStringLiteral(" · ") + files;
    case Result::Incomplete:
    case Result::Failed:
        return incompleteTextOf(operation) + QStringLiteral(" · %1 of %2 missing").arg(result.missing).arg(files);
    case Result::Refused:
        break;
    }
    return result.text.section(u'\n', 0, 0);
}

void InstrumentSession::followTransfer(int number)
{
    m_transferNumber = number;
    if (m_operationRunning && number >= 1 && number <= m_bytesBefore.size())
        emit operationProgressChanged(m_bytesBefore.at(number - 1), m_bytesTotal);
}

void InstrumentSession::followProgress(qint64 done)
{
    if (!m_operationRunning || m_transferNumber < 1 || m_transferNumber > m_bytesBefore.size() || done < 0)
        return;
    const qint64 moved = addSaturated(m_bytesBefore.at(m_transferNumber - 1), done);
    emit operationProgressChanged(qMin(moved, m_bytesTotal), m_bytesTotal);
}

void InstrumentSession::finishOperation(const Result &result)
{
    if (m_resultReported)
        return;
    m_resultReported = true;
    emit operationEnded(m_operation, result);
}

void InstrumentSession::endOperation()
{
    if (!m_operationRunning)
        return;
    m_operationRunning = false;
    m_tracker.settle();
    if (m_client->state() == FtpClient::LoggedIn)
        emit operationsEnabledChanged(true);
}
