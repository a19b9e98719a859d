#include "ftp/ftpprotocol.h"

#include "ftp/commandlines.h"
#include "ftp/ftplogging.h"
#include "ftp/listparser.h"
#include "ftp/passivereply.h"
#include "ftp/transferdevice.h"

#include <QFileDevice>
#include <QTcpSocket>

namespace {

constexpr qint64 controlReadBufferSize = 64 * 1024;
constexpr int defaultTimeout = 30 * 1000;
// "120 ready in n minutes", "150 opening data connection": a server says it
// is about to answer once or twice, not for ever.
constexpr int maxPreliminaryReplies = 3;

} // namespace

FtpProtocol::FtpProtocol(QObject *context, FtpCommandQueue &queue, SignalGate &gate)
    : m_context(context)
    , m_queue(queue)
    , m_gate(gate)
    , m_limit(context, [this] { onTimeLimit(); })
    , m_connectTimeout(defaultTimeout)
    , m_idleTimeout(defaultTimeout)
{
    QObject::connect(&m_data, &FtpDataChannel::progress, m_context, [this](qint64 bytes) { onDataProgress(bytes); });
    QObject::connect(&m_data, &FtpDataChannel::listingLine, m_context, [this](const QByteArray &line) { onListingLine(line); });
    QObject::connect(&m_data, &FtpDataChannel::finished, m_context, [this] { onDataFinished(); });
    QObject::connect(&m_data, &FtpDataChannel::limitPassed, m_context, [this] { onDataLimitPassed(); });
    QObject::connect(&m_data, &FtpDataChannel::failed, m_context, [this](FtpClient::Error kind, const QString &reason) {
        failCommand(kind, reason);
    });
}

FtpProtocol::~FtpProtocol()
{
    m_data.disconnect(m_context);
    m_data.close();
    if (m_control) {
        m_control->disconnect(m_context);
        m_control->abort();
    }
}

// --- Starting a command --------------------------------------------------------

void FtpProtocol::execute()
{
    const FtpCommandRequest &request = command();
    switch (request.command) {
    case FtpClient::ConnectToHost:
        startConnect();
        return;
    case FtpClient::Login: {
        if (!requireConnection())
            return;
        if (unsendableCharacter(request.argument) || unsendableCharacter(request.password)) {
            failCommand(FtpClient::InvalidArgument, QStringLiteral("Invalid character in the user name or password"));
            return;
        }
        m_step = Step::User;
        send(QStringLiteral("USER ") + request.argument);
        return;
    }
    case FtpClient::Close:
        if (m_control)
            startClose();
        else
            m_queue.finishCommand(false);
        return;
    case FtpClient::Cd:
    case FtpClient::Mkdir:
        if (!requireConnection())
            return;
        if (const char16_t c = unsendableCharacter(request.argument)) {
            failCommand(FtpClient::InvalidArgument, invalidCharacterText(QStringLiteral("folder name"), c));
            return;
        }
        m_step = request.command == FtpClient::Cd ? Step::Cwd : Step::Mkd;
        send((request.command == FtpClient::Cd ? QStringLiteral("CWD ") : QStringLiteral("MKD ")) + request.argument);
        return;
    case FtpClient::List:
    case FtpClient::Get:
    case FtpClient::Put:
        if (!requireConnection())
            return;
        if (const char16_t c = unsendableCharacter(request.argument)) {
            failCommand(FtpClient::InvalidArgument, invalidCharacterText(QStringLiteral("name"), c));
            return;
        }
        beginTransfer();
        return;
    default:
        // Unreachable: the client queues no other command.
        failCommand(FtpClient::UnknownError, QStringLiteral("Command not supported"));
        return;
    }
}

bool FtpProtocol::requireConnection()
{
    if (m_control && (m_state == FtpClient::Connected || m_state == FtpClient::LoggedIn))
        return true;
    failCommand(FtpClient::NotConnected, QStringLiteral("Not connected"));
    return false;
}

// --- Control connection ------------------------------------------------------

void FtpProtocol::startConnect()
{
    // A new connection replaces the old one without a word to the old server.
    discardControlSocket();
    m_control = new QTcpSocket(m_context);
    m_control->setReadBufferSize(controlReadBufferSize);
    const auto handle = [this](auto handler) {
        return [this, handler](auto... arguments) {
            SocketDisposal::Scope scope(m_disposal);
            (this->*handler)(arguments...);
        };
    };
    QObject::connect(m_control, &QTcpSocket::stateChanged, m_context, handle(&FtpProtocol::onControlStateChanged));
    QObject::connect(m_control, &QTcpSocket::connected, m_context, handle(&FtpProtocol::onControlConnected));
    QObject::connect(m_control, &QTcpSocket::readyRead, m_context, handle(&FtpProtocol::onControlReadyRead));
    QObject::connect(m_control, &QTcpSocket::disconnected, m_context, handle(&FtpProtocol::onControlDisconnected));
    QObject::connect(m_control, &QTcpSocket::errorOccurred, m_context, handle(&FtpProtocol::onControlError));

    m_step = Step::Connecting;
    m_limit.start(m_connectTimeout);
    if (!changeState(FtpClient::HostLookup))
        return;
    m_control->connectToHost(command().argument, command().port);
}

void FtpProtocol::onControlStateChanged(QAbstractSocket::SocketState socketState)
{
    if (socketState == QAbstractSocket::ConnectingState && m_step == Step::Connecting)
        (void)changeState(FtpClient::Connecting);
}

void FtpProtocol::onControlConnected()
{
    // Commands and replies are small: waiting to coalesce them only adds
    // delayed-acknowledgement stalls between commands.
    m_control->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_step = Step::Greeting;
    m_preliminaryReplies = 0;
    m_limit.start(m_idleTimeout);
    (void)changeState(FtpClient::Connected);
}

// Sends a command line; its reply is due within the idle limit from now.
// False when the line could not be handed over: the connection is gone,
// which is reported from the event loop, never from in here.
bool FtpProtocol::send(const QString &line)
{
    m_limit.start(m_idleTimeout);
    m_preliminaryReplies = 0;
    if (!m_control || m_control->state() != QAbstractSocket::ConnectedState)
        return false;
    if (writeCommandLine(m_control, line))
        return true;
    const QPointer<QTcpSocket> socket(m_control);
    QMetaObject::invokeMethod(m_context, [this, socket] {
        if (socket && socket == m_control) {
            SocketDisposal::Scope scope(m_disposal);
            connectionLost(FtpClient::ConnectionLost, socket->errorString());
        }
    }, Qt::QueuedConnection);
    return false;
}

// QUIT, and the connection ends with the server's answer or its leaving.
// It ends at once when the QUIT cannot be sent, or when the answer to an
// interrupted command is still due: a server that owes that answer may
// never read the QUIT, and a disconnect must not hang on it.
void FtpProtocol::startClose()
{
    const bool answerDue = m_step == Step::Resync;
    m_step = Step::Quit;
    m_limit.start(m_idleTimeout);
    if (!changeState(FtpClient::Closing))
        return;
    if (send(QStringLiteral("QUIT")) && !answerDue)
        return;
    if (dropControlConnection())
        m_queue.finishCommand(false);
}

void FtpProtocol::onControlReadyRead()
{
    if (!m_control)
        return;
    QPointer<QObject> guard(m_context);
    QTcpSocket *socket = m_control;
    // A slot may run a nested event loop that reads replies too.
    const bool nested = m_readingReplies;
    m_readingReplies = true;
    bool garbled = false;
    while (!garbled && m_control == socket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(controlReadBufferSize);
        m_replies.addData(bytes);
        while (m_control == socket && m_replies.hasReply()) {
            const FtpReply reply = m_replies.takeReply();
            qCDebug(lcFtp).noquote() << "<-" << reply.toString();
            handleReply(reply);
            if (!guard)
                return;
        }
        garbled = m_control == socket && m_replies.hasError();
    }
    m_readingReplies = nested;
    if (garbled) {
        connectionLost(FtpClient::ProtocolError, m_replies.errorString());
        if (!guard)
            return;
    }
    if (!nested)
        m_queue.repliesHandled();
}

void FtpProtocol::onControlDisconnected()
{
    QTcpSocket *socket = m_control;
    onControlReadyRead(); // replies sent just before the close still count
    if (socket && m_control == socket)
        connectionLost(FtpClient::ConnectionLost, QStringLiteral("Connection closed"));
}

void FtpProtocol::onControlError(QAbstractSocket::SocketError socketError)
{
    if (!m_control || socketError == QAbstractSocket::RemoteHostClosedError)
        return; // a close by the server is reported as a disconnect
    if (m_step == Step::Connecting && m_queue.runningCommand()) {
        const QString host = command().argument;
        switch (socketError) {
        case QAbstractSocket::ConnectionRefusedError:
            failCommand(FtpClient::ConnectionRefused, QStringLiteral("Connection refused to host %1").arg(host),
                        Connection::Drop);
            return;
        case QAbstractSocket::HostNotFoundError:
            failCommand(FtpClient::HostNotFound, QStringLiteral("Host %1 not found").arg(host), Connection::Drop);
            return;
        default:
            failCommand(socketError == QAbstractSocket::SocketTimeoutError ? FtpClient::TimedOut
                                                                           : FtpClient::ConnectionLost,
                        m_control->errorString(), Connection::Drop);
            return;
        }
    }
    connectionLost(FtpClient::ConnectionLost, m_control->errorString());
}

// The control connection is gone or cannot be trusted any more: it is
// dropped, and the running command fails, except a close, which is done.
void FtpProtocol::connectionLost(FtpClient::Error kind, const QString &reason, int replyCode)
{
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (!running || m_step == Step::Resync) {
        (void)dropControlConnection();
        return;
    }
    if (running->command == FtpClient::Close) {
        if (dropControlConnection())
            m_queue.finishCommand(false);
        return;
    }
    if (m_step == Step::Transfer && m_transfer.finalReplySeen && !m_transfer.dataEnded) {
        // The server has confirmed the transfer; its last data is still on
        // the way and completes the command without a control connection.
        discardControlSocket();
        m_step = Step::Transfer;
        (void)changeState(FtpClient::Unconnected);
        return;
    }
    failCommand(kind, reason, Connection::Drop, replyCode);
}

// --- Replies -----------------------------------------------------------------

// The one place where replies move the running command on.
void FtpProtocol::handleReply(const FtpReply &reply)
{
    switch (m_step) {
    case Step::Idle:
    case Step::Connecting:
    case Step::Disconnecting:
        return; // unsolicited, such as a notice before the server closes
    case Step::Resync:
        handleResyncReply(reply);
        return;
    case Step::Quit:
        // Whatever the answer, the connection ends here.
        m_step = Step::Disconnecting;
        m_control->disconnectFromHost();
        return;
    default:
        break;
    }
    if (reply.isPreliminary()) {
        handlePreliminaryReply(reply);
        return;
    }
    switch (m_step) {
    case Step::Greeting:
        handleGreetingReply(reply);
        return;
    case Step::User:
    case Step::Pass:
        handleLoginReply(reply);
        return;
    case Step::Cwd:
    case Step::Mkd:
        handleFolderReply(reply);
        return;
    case Step::Type:
        handleTypeReply(reply);
        return;
    case Step::Size:
        handleSizeReply(reply);
        return;
    case Step::Epsv:
    case Step::Pasv:
        handlePassiveReply(reply);
        return;
    case Step::Allo:
        // Only a courtesy to the server: whatever it answers, the upload goes
        // on as it would have without.
        sendTransferCommand();
        return;
    default:
        handleTransferReply(reply);
        return;
    }
}

// The final reply is still due, and no sooner than before: a preliminary
// reply does not extend the time limit.
void FtpProtocol::handlePreliminaryReply(const FtpReply &reply)
{
    if (++m_preliminaryReplies > maxPreliminaryReplies) {
        connectionLost(FtpClient::ProtocolError,
                       QStringLiteral("More than %1 preliminary replies from the server: %2")
                               .arg(maxPreliminaryReplies).arg(reply.toString()),
                       reply.code);
        return;
    }
    if (m_step == Step::Transfer && command().command == FtpClient::Put)
        m_data.startSending();
}

void FtpProtocol::refused(const FtpReply &reply)
{
    m_step = Step::Idle;
    failCommand(FtpClient::ServerRefused, reply.toString(), Connection::Keep, reply.code);
}

void FtpProtocol::unexpected(const FtpReply &reply)
{
    connectionLost(FtpClient::ProtocolError, QStringLiteral("Unexpected reply from the server: %1").arg(reply.toString()),
                   reply.code);
}

void FtpProtocol::handleResyncReply(const FtpReply &reply)
{
    if (!reply.isPreliminary() && --m_repliesToSkip <= 0) {
        m_step = Step::Idle;
        m_limit.stop();
        m_queue.scheduleStart();
    }
}

void FtpProtocol::handleGreetingReply(const FtpReply &reply)
{
    if (reply.isPositive()) {
        m_step = Step::Idle;
        m_queue.finishCommand(false);
    } else {
        failCommand(reply.isNegative() ? FtpClient::ServerRefused : FtpClient::ProtocolError, reply.toString(),
                    Connection::Drop, reply.code);
    }
}

void FtpProtocol::handleLoginReply(const FtpReply &reply)
{
    if (reply.isPositive()) {
        m_step = Step::Idle;
        if (changeState(FtpClient::LoggedIn))
            m_queue.finishCommand(false);
    } else if (reply.code == 331 && m_step == Step::User) {
        m_step = Step::Pass;
        const FtpCommandRequest &request = command();
        const QString password = request.argument == QLatin1String("anonymous") && request.password.isEmpty()
                ? QStringLiteral("anonymous@") : request.password;
        send(QStringLiteral("PASS ") + password);
    } else {
        refused(reply); // also an account asked for (332), which we do not have
    }
}

void FtpProtocol::handleFolderReply(const FtpReply &reply)
{
    if (reply.isPositive()) {
        m_step = Step::Idle;
        m_queue.finishCommand(false);
    } else if (reply.isNegative()) {
        refused(reply);
    } else {
        unexpected(reply);
    }
}

void FtpProtocol::handleTypeReply(const FtpReply &reply)
{
    if (reply.isPositive()) {
        m_transferType = command().command == FtpClient::List ? FtpClient::Ascii : command().type;
        sendTransferSteps();
    } else if (reply.isNegative()) {
        refused(reply);
    } else {
        unexpected(reply);
    }
}

void FtpProtocol::handleSizeReply(const FtpReply &reply)
{
    if (reply.code == 213) {
        bool ok = false;
        const qint64 size = reply.text.trimmed().toLongLong(&ok);
        m_transfer.total = ok && size >= 0 ? size : 0;
        // In ASCII type the bytes on the wire may differ from what a
        // server counts; only a binary download is held to its size.
        if (ok && size >= 0 && command().type == FtpClient::Binary)
            m_transfer.downloadLimit = size;
    } else if (!reply.isNegative()) {
        unexpected(reply);
        return;
    } // a refused SIZE leaves the total unknown
    enterPassiveMode();
}

void FtpProtocol::handlePassiveReply(const FtpReply &reply)
{
    quint16 port = 0;
    const bool extended = m_step == Step::Epsv;
    if (reply.code == (extended ? 229 : 227)) {
        if (extended ? parseExtendedPassiveReply(reply.text, &port) : parsePassiveReply(reply.text, &port))
            openDataConnection(port);
        else
            connectionLost(FtpClient::ProtocolError,
                           QStringLiteral("Invalid passive mode reply: %1").arg(reply.toString()), reply.code);
    } else if (extended && reply.isNegative()) {
        // As QFtp: a server that cannot do EPSV, now or ever, is asked with
        // PASV, for the rest of the connection.
        m_extendedPassiveRefused = true;
        enterPassiveMode();
    } else if (reply.isNegative()) {
        refused(reply);
    } else {
        unexpected(reply);
    }
}

void FtpProtocol::handleTransferReply(const FtpReply &reply)
{
    if (reply.isPositive() && !m_transfer.finalReplySeen) {
        m_transfer.finalReplySeen = true;
        // The data connection's end, if still to come, is due within the
        // limit as data was; the reply does not extend it.
        completeTransferIfDone();
    } else if (reply.isNegative()) {
        m_transfer.finalReplySeen = true;
        m_step = Step::Idle;
        failCommand(FtpClient::ServerRefused, reply.toString(), Connection::Keep, reply.code);
    } else {
        unexpected(reply);
    }
}

// --- Transfers ---------------------------------------------------------------

// As QFtp: TYPE A before a listing, TYPE I before a transfer, each only when
// the connection is not in that type already; a download asks SIZE unless
// its size is known; PASV, or EPSV to an IPv6 server; an upload of known
// size announces it with ALLO; then LIST, RETR or STOR.
void FtpProtocol::beginTransfer()
{
    m_transfer = TransferState();
    const FtpCommandRequest &request = command();
    if (request.command != FtpClient::List) {
        const TransferDevice local = prepareTransferDevice(request);
        if (!local.device) {
            failCommand(FtpClient::LocalFileError, local.error);
            return;
        }
        m_transfer.uploadSize = local.uploadSize;
        if (request.command == FtpClient::Put)
            m_transfer.total = local.uploadSize >= 0 ? local.uploadSize : local.device->bytesAvailable();
    }
    // The type stays set on the server for the whole connection.
    const FtpClient::TransferType type = request.command == FtpClient::List ? FtpClient::Ascii : request.type;
    if (m_transferType != type) {
        m_step = Step::Type;
        send(type == FtpClient::Binary ? QStringLiteral("TYPE I") : QStringLiteral("TYPE A"));
        return;
    }
    sendTransferSteps();
}

void FtpProtocol::sendTransferSteps()
{
    const FtpCommandRequest &request = command();
    if (request.command == FtpClient::Get && request.expectedSize >= 0) {
        m_transfer.total = request.expectedSize;
        m_transfer.downloadLimit = request.expectedSize;
    } else if (request.command == FtpClient::Get) {
        m_step = Step::Size;
        send(QStringLiteral("SIZE ") + request.argument);
        return;
    }
    enterPassiveMode();
}

void FtpProtocol::enterPassiveMode()
{
    const bool extended = !m_extendedPassiveRefused && m_control
            && m_control->peerAddress().protocol() == QAbstractSocket::IPv6Protocol;
    m_step = extended ? Step::Epsv : Step::Pasv;
    send(extended ? QStringLiteral("EPSV") : QStringLiteral("PASV"));
}

void FtpProtocol::openDataConnection(quint16 port)
{
    // Only the port comes from the server; the address is the one we already
    // talk to, so a server cannot send our data connection elsewhere.
    const QHostAddress peer = m_control->peerAddress();
    const FtpCommandRequest &request = command();
    switch (request.command) {
    case FtpClient::Get:
        m_data.open(FtpDataChannel::Mode::Download, peer, port, request.device, m_transfer.downloadLimit);
        break;
    case FtpClient::Put:
        m_data.open(FtpDataChannel::Mode::Upload, peer, port, request.device);
        if (m_transfer.uploadSize >= 0) {
            m_step = Step::Allo;
            send(QStringLiteral("ALLO %1").arg(m_transfer.uploadSize));
            return;
        }
        break;
    default:
        m_data.open(FtpDataChannel::Mode::Listing, peer, port, nullptr, FtpClient::maxListingBytes);
        break;
    }
    sendTransferCommand();
}

void FtpProtocol::sendTransferCommand()
{
    const FtpCommandRequest &request = command();
    m_step = Step::Transfer;
    if (request.command == FtpClient::Get)
        send(QStringLiteral("RETR ") + request.argument);
    else if (request.command == FtpClient::Put)
        send(QStringLiteral("STOR ") + request.argument);
    else
        send(request.argument.isEmpty() ? QStringLiteral("LIST") : QStringLiteral("LIST ") + request.argument);
}

// During a transfer only its data shows that the server is at work: each
// chunk gives the next one the whole limit again.
void FtpProtocol::onDataProgress(qint64 bytes)
{
    if (m_step == Step::Transfer)
        m_limit.restart();
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (running && running->command != FtpClient::List)
        (void)reportProgress(bytes, false);
}

void FtpProtocol::onListingLine(const QByteArray &line)
{
    if (m_step == Step::Transfer)
        m_limit.restart();
    if (++m_transfer.listingLines > FtpClient::maxListingEntries) {
        failCommand(FtpClient::DataLimitExceeded,
                    QStringLiteral("The listing is longer than %1 entries").arg(FtpClient::maxListingEntries));
        return;
    }
    // One character per byte: the name goes back to the server unchanged.
    // A slot that ends the command closes the channel, which sees it.
    const UrlInfo info = parseListLine(QString::fromLatin1(line));
    if (info.isValid())
        (void)m_gate.listInfo(info);
}

void FtpProtocol::onDataLimitPassed()
{
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (!running)
        return;
    if (running->command == FtpClient::List)
        failCommand(FtpClient::DataLimitExceeded,
                    QStringLiteral("The listing is larger than %1 MiB").arg(FtpClient::maxListingBytes / (1024 * 1024)));
    else
        failCommand(FtpClient::DataLimitExceeded,
                    QStringLiteral("The server sent more than the %1 bytes announced").arg(m_transfer.downloadLimit));
}

// A download that ends short of its announced size is decided by the final
// reply like any other: confirmed, it finishes, and its last progress report
// shows the bytes received against the total, for the caller to judge.
void FtpProtocol::onDataFinished()
{
    if (!m_queue.runningCommand() || m_step != Step::Transfer)
        return;
    // The final reply is due within the limit from here.
    m_limit.restart();
    m_transfer.dataEnded = true;
    completeTransferIfDone();
}

// The data connection's end and the final reply come in either order; the
// command is complete when both have been seen.
void FtpProtocol::completeTransferIfDone()
{
    if (!m_transfer.finalReplySeen || !m_transfer.dataEnded)
        return;
    m_step = Step::Idle;
    const qint64 done = m_data.bytesDone();
    const FtpCommandRequest &request = command();
    if (request.command == FtpClient::Get) {
        // Buffered bytes that cannot be written (disk full) fail the command
        // here rather than go unnoticed when the caller closes the file.
        auto *file = qobject_cast<QFileDevice *>(request.device.data());
        if (file && !file->flush()) {
            failCommand(FtpClient::LocalFileError,
                        QStringLiteral("Writing the local file failed: %1").arg(file->errorString()));
            return;
        }
    }
    if (request.command != FtpClient::List && !reportProgress(done, true))
        return;
    m_queue.finishCommand(false);
}

// Returns false when a slot ended the command meanwhile.
bool FtpProtocol::reportProgress(qint64 bytes, bool final)
{
    qint64 total = 0;
    return !m_transfer.progressDue(bytes, final, &total) || m_gate.dataTransferProgress(bytes, total);
}

// --- Ending commands -----------------------------------------------------------

void FtpProtocol::failCommand(FtpClient::Error kind, const QString &reason, Connection connection, int replyCode)
{
    if (!m_queue.runningCommand())
        return;
    m_queue.setCommandError(kind, reason, replyCode);
    m_data.close();
    if (connection == Connection::Drop) {
        if (!dropControlConnection())
            return;
    } else if (m_control && m_step != Step::Idle && m_step != Step::Resync) {
        // The reply to the interrupted request is still due; it must not be
        // taken for the reply to the next one.
        const bool replyDue = m_step != Step::Transfer || !m_transfer.finalReplySeen;
        if (m_step == Step::Connecting || m_step == Step::Greeting || m_step == Step::Quit
            || m_step == Step::Disconnecting) {
            if (!dropControlConnection())
                return;
        } else if (replyDue) {
            m_step = Step::Resync;
            m_repliesToSkip = 1;
            m_limit.start(m_idleTimeout);
        } else {
            m_step = Step::Idle;
        }
    }
    m_queue.finishCommand(true);
}

void FtpProtocol::commandEnding()
{
    if (m_step != Step::Resync)
        m_limit.stop();
    m_data.close();
}

void FtpProtocol::discardControlSocket()
{
    if (m_control) {
        m_disposal.retire(m_control, m_context);
        m_control = nullptr;
    }
    m_replies.clear();
    m_transferType.reset();
    m_extendedPassiveRefused = false;
    if (m_step == Step::Resync)
        m_queue.scheduleStart();
    m_step = Step::Idle;
}

// Returns false when a slot of the state change ended the running command.
bool FtpProtocol::dropControlConnection()
{
    m_data.close();
    discardControlSocket();
    if (!m_queue.runningCommand())
        m_limit.stop();
    return changeState(FtpClient::Unconnected);
}

// Returns false when a slot ended the running command meanwhile.
bool FtpProtocol::changeState(FtpClient::State newState)
{
    if (m_state == newState)
        return true;
    m_state = newState;
    return m_gate.stateChanged(newState);
}

void FtpProtocol::onTimeLimit()
{
    if (m_step == Step::Resync) {
        (void)dropControlConnection(); // no command runs
        return;
    }
    if (!m_queue.runningCommand())
        return;
    if (m_step == Step::Quit || m_step == Step::Disconnecting) {
        if (dropControlConnection())
            m_queue.finishCommand(false);
        return;
    }
    failCommand(FtpClient::TimedOut, QStringLiteral("The server did not answer within %1").arg(m_limit.text()),
                Connection::Drop);
}
