#include "ftp/ftpclient.h"

#include "ftp/ftpprotocol.h"
#include "ftp/signalgate.h"

#include <QList>
#include <QPointer>

#include <optional>
#include <utility>

// The command queue: starts the queued commands one at a time, has the
// interpreter carry each out, and reports each start and end.
class FtpClientPrivate final : public FtpCommandQueue
{
public:
    explicit FtpClientPrivate(FtpClient *client);

    int queue(FtpCommandRequest request);
    void scheduleStart() override;
    void continueQueue();
    void startNext();
    QString failureHeading() const;

    const FtpCommandRequest *runningCommand() const override;
    quint64 runToken() const override { return m_runToken; }
    void setCommandError(FtpClient::Error kind, const QString &reason, int replyCode) override;
    void finishCommand(bool failed) override;
    void repliesHandled() override;

    FtpClient *const m_q;
    QList<FtpCommandRequest> m_pending;
    std::optional<FtpCommandRequest> m_current;
    bool m_finishing = false;
    bool m_startScheduled = false;
    bool m_startAfterReplies = false;
    bool m_starting = false;
    bool m_batchFailed = false;
    int m_nextId = 1;
    quint64 m_runToken = 0;
    FtpClient::Error m_error = FtpClient::NoError;
    int m_replyCode = 0;
    QString m_errorString = QStringLiteral("Unknown error");
    QString m_errorReason;
    SignalGate m_gate;
    FtpProtocol m_protocol;
};

FtpClientPrivate::FtpClientPrivate(FtpClient *client)
    : m_q(client)
    , m_gate(client, *this)
    , m_protocol(client, *this, m_gate)
{
}

int FtpClientPrivate::queue(FtpCommandRequest request)
{
    request.id = m_nextId++;
    m_pending.append(request);
    scheduleStart();
    return request.id;
}

// A command starts from the event loop, never inside the call that queued
// it, and never after a timer delay: small transfers live on short gaps.
void FtpClientPrivate::scheduleStart()
{
    if (m_startScheduled)
        return;
    m_startScheduled = true;
    QMetaObject::invokeMethod(m_q, [this] {
        m_startScheduled = false;
        startNext();
    }, Qt::QueuedConnection);
}

// The command after a finished one goes out at once: a trip through the
// event loop costs a wake-up per command, and a small transfer is five
// short commands. It waits only for replies already read to be handled (at
// Idle, unsolicited ones must not be taken for its own), and a command that
// ends inside its own start hands over to the event loop, so that a run of
// such commands cannot grow the stack.
void FtpClientPrivate::continueQueue()
{
    if (m_protocol.readingReplies()) {
        m_startAfterReplies = true;
        return;
    }
    if (m_starting) {
        scheduleStart();
        return;
    }
    QPointer<FtpClient> guard(m_q);
    m_starting = true;
    startNext();
    if (guard)
        m_starting = false;
}

void FtpClientPrivate::repliesHandled()
{
    if (std::exchange(m_startAfterReplies, false))
        continueQueue();
}

void FtpClientPrivate::startNext()
{
    if (m_current || m_pending.isEmpty())
        return;
    // A reply still due would be taken for the next command's; a new
    // connection or a close does not care.
    const FtpClient::Command next = m_pending.first().command;
    if (m_protocol.awaitsSkippedReply() && next != FtpClient::ConnectToHost && next != FtpClient::Close)
        return;
    m_current = m_pending.takeFirst();
    m_error = FtpClient::NoError;
    m_replyCode = 0;
    m_errorString = QStringLiteral("Unknown error");
    m_errorReason.clear();
    if (m_gate.commandStarted(m_current->id))
        m_protocol.execute();
}

const FtpCommandRequest *FtpClientPrivate::runningCommand() const
{
    return m_current && !m_finishing ? &*m_current : nullptr;
}

QString FtpClientPrivate::failureHeading() const
{
    switch (m_current ? m_current->command : FtpClient::None) {
    case FtpClient::ConnectToHost: return QStringLiteral("Connecting to host failed:\n");
    case FtpClient::Login: return QStringLiteral("Login failed:\n");
    case FtpClient::Close: return QStringLiteral("Closing the connection failed:\n");
    case FtpClient::List: return QStringLiteral("Listing directory failed:\n");
    case FtpClient::Cd: return QStringLiteral("Changing directory failed:\n");
    case FtpClient::Get: return QStringLiteral("Downloading file %1 failed:\n").arg(m_current->argument);
    case FtpClient::Put: return QStringLiteral("Uploading file %1 failed:\n").arg(m_current->argument);
    case FtpClient::Mkdir: return QStringLiteral("Creating directory failed:\n");
    default: return QString();
    }
}

void FtpClientPrivate::setCommandError(FtpClient::Error kind, const QString &reason, int replyCode)
{
    m_errorString = failureHeading() + reason;
    m_errorReason = reason;
    m_error = kind;
    m_replyCode = replyCode;
}

void FtpClientPrivate::finishCommand(bool failed)
{
    m_protocol.commandEnding();
    ++m_runToken;
    if (failed) {
        // The rest of the batch depends on this command: drop it unstarted.
        m_pending.clear();
        m_batchFailed = true;
    }
    m_finishing = true;
    if (!m_gate.commandFinished(m_current->id, failed))
        return;
    m_finishing = false;
    m_current.reset();
    if (m_pending.isEmpty()) {
        const bool batchError = m_batchFailed;
        m_batchFailed = false;
        (void)m_gate.done(batchError);
    } else {
        continueQueue();
    }
}

// --- FtpClient -------------------------------------------------------------------

FtpClient::FtpClient(QObject *parent)
    : QObject(parent)
    , m_d(std::make_unique<FtpClientPrivate>(this))
{
    qRegisterMetaType<UrlInfo>();
}

FtpClient::~FtpClient() = default;

int FtpClient::connectToHost(const QString &host, quint16 port)
{
    FtpCommandRequest request;
    request.command = ConnectToHost;
    request.argument = host;
    request.port = port;
    return m_d->queue(request);
}

int FtpClient::login(const QString &user, const QString &password)
{
    FtpCommandRequest request;
    request.command = Login;
    request.argument = user.isEmpty() ? QStringLiteral("anonymous") : user;
    request.password = password;
    return m_d->queue(request);
}

int FtpClient::close()
{
    FtpCommandRequest request;
    request.command = Close;
    return m_d->queue(request);
}

int FtpClient::list(const QString &dir)
{
    FtpCommandRequest request;
    request.command = List;
    request.argument = dir;
    return m_d->queue(request);
}

int FtpClient::cd(const QString &dir)
{
    FtpCommandRequest request;
    request.command = Cd;
    request.argument = dir;
    return m_d->queue(request);
}

int FtpClient::get(const QString &file, QIODevice *device, TransferType type, qint64 expectedSize)
{
    FtpCommandRequest request;
    request.command = Get;
    request.argument = file;
    request.device = device;
    request.deviceGiven = device != nullptr;
    request.type = type;
    request.expectedSize = expectedSize;
    return m_d->queue(request);
}

int FtpClient::put(QIODevice *device, const QString &file, TransferType type)
{
    FtpCommandRequest request;
    request.command = Put;
    request.argument = file;
    request.device = device;
    request.deviceGiven = device != nullptr;
    request.type = type;
    return m_d->queue(request);
}

int FtpClient::mkdir(const QString &dir)
{
    FtpCommandRequest request;
    request.command = Mkdir;
    request.argument = dir;
    return m_d->queue(request);
}

int FtpClient::currentId() const
{
    return m_d->m_current ? m_d->m_current->id : 0;
}

FtpClient::Command FtpClient::currentCommand() const
{
    return m_d->m_current ? m_d->m_current->command : None;
}

QIODevice *FtpClient::currentDevice() const
{
    return m_d->m_current ? m_d->m_current->device.data() : nullptr;
}

bool FtpClient::hasPendingCommands() const
{
    return !m_d->m_pending.isEmpty();
}

void FtpClient::clearPendingCommands()
{
    m_d->m_pending.clear();
}

FtpClient::State FtpClient::state() const
{
    return m_d->m_protocol.state();
}

FtpClient::Error FtpClient::error() const
{
    return m_d->m_error;
}

int FtpClient::replyCode() const
{
    return m_d->m_replyCode;
}

QString FtpClient::errorString() const
{
    return m_d->m_errorString;
}

QString FtpClient::errorReason() const
{
    return m_d->m_errorReason;
}

void FtpClient::setConnectTimeout(int msecs)
{
    m_d->m_protocol.setConnectTimeout(qMax(1, msecs));
}

int FtpClient::connectTimeout() const
{
    return m_d->m_protocol.connectTimeout();
}

void FtpClient::setIdleTimeout(int msecs)
{
    m_d->m_protocol.setIdleTimeout(qMax(1, msecs));
}

int FtpClient::idleTimeout() const
{
    return m_d->m_protocol.idleTimeout();
}

void FtpClient::abort()
{
    m_d->m_pending.clear();
    m_d->m_protocol.failCommand(FtpClient::Aborted, QStringLiteral("Aborted"));
}
