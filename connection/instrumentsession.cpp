#include "connection/instrumentsession.h"

#include "connection/operationrun.h"
#include "ftp/ftpclient.h"
#include "operations/operationplan.h"
#include "transfer/instrumentlayout.h"
#include "transfer/requiredtrace.h"

#include <utility>

namespace {

const QString instrumentUser = QStringLiteral("root");
const QString instrumentPassword = QStringLiteral("+00417263850");

} // namespace

InstrumentSession::InstrumentSession(FtpClient *client, QObject *parent) : QObject(parent), m_client(client)
{
    qRegisterMetaType<OperationResult>();
    qRegisterMetaType<Failure>();
    connect(m_client, &FtpClient::stateChanged, this, &InstrumentSession::setMyLable);
    connect(m_client, &FtpClient::done, this, &InstrumentSession::chkstat);
    connect(m_client, &FtpClient::commandFinished, this, &InstrumentSession::CmdFinishSlot);
    connect(m_client, &FtpClient::commandStarted, this, &InstrumentSession::CmdStartSlot);
    connect(m_client, &FtpClient::dataTransferProgress, this, &InstrumentSession::ftpProgress);
    connect(m_client, &FtpClient::listInfo, this, &InstrumentSession::doListInfo);

    m_closeDeadline.setSingleShot(true);
    m_closeDeadline.setInterval(closeTimeoutMs);
    // A server that does not answer QUIT is left without a word.
    connect(&m_closeDeadline, &QTimer::timeout, this, [this] {
        if (m_client->currentCommand() == FtpClient::Close)
            m_client->abort();
    });
}

// The run goes first: its files outlive the commands that write them only
// as long as the client does not report on them.
InstrumentSession::~InstrumentSession()
{
    m_client->disconnect(this);
    delete m_run;
}

// --- Connection ----------------------------------------------------------------

void InstrumentSession::connectToDevice(const InstrumentEndpoint &endpoint)
{
    emit labelChanged(QStringLiteral("Wait ...."));
    m_tracker.beginWalk();
    // A second connect during the walk starts over: the rest of the first
    // walk would otherwise be counted as listings of the second and tag its
    // entries with the wrong folders.
    m_client->clearPendingCommands();
    m_closing = false;
    m_walkTooLong = false;

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

// A close queued behind a running command waits for it, and a stuck
// transfer never ends: the running command is stopped first. Its partial
// file goes with it; earlier local copies stay as they were.
void InstrumentSession::disconnectFromDevice()
{
    m_stoppedByUser = true;
    if (OperationRun *run = runningOperation())
        run->stop();
    else if (m_client->currentCommand() != FtpClient::None || m_client->hasPendingCommands())
        m_client->abort();
    m_stoppedByUser = false;
    close();
    m_tracker.clear();
}

void InstrumentSession::close()
{
    m_closing = true;
    m_client->close();
    m_closeDeadline.start();
}

void InstrumentSession::setMyLable(int state)
{
    RequiredTrace::stateChanged(state);
    if (state >= 0 && state < int(stateNames.size()))
        emit labelChanged(stateNames[state]);
    if (state == FtpClient::Unconnected) {
        m_closeDeadline.stop();
        emit connectionClosed();
    }
    if (m_suppressButtonUpdate && state != FtpClient::Unconnected)
        return;
    if (state == FtpClient::LoggedIn)
        showControls(Controls::Ready);
    else if (state == FtpClient::Unconnected)
        showControls(Controls::Idle);
}

void InstrumentSession::showControls(Controls controls)
{
    emit controlsChanged(controls);
    m_suppressButtonUpdate = true;
}

// The queue has run empty: a running operation has nothing more coming; a
// walk that failed is reported.
void InstrumentSession::chkstat(bool error)
{
    if (OperationRun *run = runningOperation()) {
        run->queueDone();
        return;
    }
    if (std::exchange(m_walkTooLong, false)) {
        emit walkFailed({FtpClient::DataLimitExceeded, 0, QString(), false,
                         QStringLiteral("Listing directory failed:\nThe instrument's listings hold more than %1 entries "
                                        "or %2 MiB of names in all")
                                 .arg(TransferTracker::maxWalkEntries)
                                 .arg(TransferTracker::maxWalkNameBytes >> 20)});
        return;
    }
    if (!error || m_stoppedByUser || m_closing)
        return;
    emit walkFailed({m_client->error(), m_client->replyCode(), QString(), false, m_client->errorString()});
}

OperationRun *InstrumentSession::runningOperation() const
{
    return m_run && !m_run->isFinished() ? m_run.data() : nullptr;
}

bool InstrumentSession::isOperationRunning() const
{
    return runningOperation() != nullptr;
}

bool InstrumentSession::ownsCurrentCommand() const
{
    OperationRun *run = runningOperation();
    return run && run->owns(m_client->currentId());
}

void InstrumentSession::CmdStartSlot(int commandId)
{
    if (OperationRun *run = runningOperation(); run && run->owns(commandId))
        run->commandStarted(commandId);
    else if (m_client->currentCommand() == FtpClient::List)
        m_tracker.listingStarted();
}

// The operations work from the whole listing: they are offered only once
// the walk's last listing has arrived complete. An empty top folder ends
// it as well.
void InstrumentSession::CmdFinishSlot(int commandId, bool error)
{
    if (OperationRun *run = runningOperation(); run && run->owns(commandId)) {
        run->commandFinished(commandId, error);
        return;
    }
    if (m_client->currentCommand() != FtpClient::List || !m_tracker.isLastListing() || error)
        return;
    m_suppressButtonUpdate = false;
    showControls(Controls::Ready);
    emit walkFinished();
}

void InstrumentSession::ftpProgress(qint64 done, qint64 total)
{
    if (ownsCurrentCommand())
        runningOperation()->dataProgress(done, total);
    else
        emit progressChanged(done, total);
}

// Each entry shows in the label; each entry of the top folder's listing,
// the walk's last, shows the logged-in state again. The buttons wait for
// the listing's end.
void InstrumentSession::doListInfo(const UrlInfo &info)
{
    if (ownsCurrentCommand()) {
        runningOperation()->listEntry(info);
        return;
    }
    emit labelChanged(QStringLiteral("Wait ...."));
    const bool lastListing = m_tracker.listEntry(info);
    emit labelChanged(QStringLiteral("Wait ..."));
    // Each listing is bounded by the client; the walk as a whole is bounded
    // here, so that a server that lists without end cannot fill the PC.
    if (!m_tracker.walkWithinBounds() && !m_walkTooLong) {
        m_walkTooLong = true;
        m_client->abort();
        return;
    }
    if (lastListing) {
        RequiredTrace::stateChanged(FtpClient::LoggedIn);
        emit labelChanged(stateNames[FtpClient::LoggedIn]);
    }
}

// --- Operations ------------------------------------------------------------------

// A second operation is refused while one runs: it would reset the tracking
// of the first while its transfers are still queued.
bool InstrumentSession::startOperation(Operation operation, const QString &base, bool content)
{
    if (isOperationRunning())
        return false;
    // The last run may still be reporting its end (a box of its result can
    // be open): it goes once that is over.
    if (m_run)
        m_run->deleteLater();
    auto *run = new OperationRun(operation, planOperation(operation, base, m_tracker.remoteList(), content), m_client,
                                 m_tracker, this);
    m_run = run;
    connect(run, &OperationRun::labelChanged, this, &InstrumentSession::labelChanged);
    connect(run, &OperationRun::fileProgressChanged, this, &InstrumentSession::progressChanged);
    connect(run, &OperationRun::transferStarted, this, &InstrumentSession::transferStarted);
    connect(run, &OperationRun::transferFinished, this, &InstrumentSession::transferFinished);
    connect(run, &OperationRun::progressChanged, this, &InstrumentSession::operationProgressChanged);
    connect(run, &OperationRun::saving, this, &InstrumentSession::saving);
    connect(run, &OperationRun::finished, this, &InstrumentSession::onOperationFinished);
    emit operationsEnabledChanged(false);
    run->start();
    if (!run->isFinished())
        emit operationStarted(operation, run->transferCount());
    return true;
}

void InstrumentSession::onOperationFinished(const OperationResult &result)
{
    // Nothing more comes from the client for the run; the connection stays
    // open after anything but a whole operation, for another try.
    if (result.completed() && m_run && m_run->transferCount() > 0 && result.operation != Operation::Compare)
        close();
    if (m_client->state() == FtpClient::LoggedIn && !m_closing)
        emit operationsEnabledChanged(true);
    emit operationFinished(result);
}
