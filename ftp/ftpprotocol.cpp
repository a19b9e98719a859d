#include "ftp/ftpprotocol.h"

#include "ftp/listparser.h"
#include "ftp/passivereply.h"

#include <QFileDevice>
#include <QTcpSocket>

#if defined(Q_OS_UNIX)
#include <sys/socket.h>
#include <sys/types.h>
#endif

namespace {

// A progress bar moves smoothly at this rate, and no faster is worth its cost.
constexpr qint64 progressInterval = 30;
constexpr qint64 controlReadBufferSize = 64 * 1024;

QString durationText(int msecs)
{
    return msecs % 1000 == 0 ? QStringLiteral("%1 s").arg(msecs / 1000)
                             : QStringLiteral("%1 ms").arg(msecs);
}

// A command line goes out one byte per character, as QFtp sent it, so that
// a name read from a listing goes back as the very bytes the server listed.
// Returns the first character that cannot go out: one beyond Latin-1 has no
// byte, and a line break would smuggle in a command of its own. 0: none.
char16_t unsendableCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return c.unicode();
    }
    return 0;
}

QString invalidCharacterText(const QString &what, char16_t c)
{
    return QStringLiteral("Invalid character in the %1 (U+%2)")
            .arg(what, QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

} // namespace

FtpProtocol::FtpProtocol(FtpClient *client, FtpCommandQueue &queue)
    : m_client(client)
    , m_queue(queue)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, m_client, [this] { onTimer(); });
    QObject::connect(&m_data, &FtpDataChannel::progress, m_client, [this](qint64 bytes) { onDataProgress(bytes); });
    QObject::connect(&m_data, &FtpDataChannel::listingLine, m_client, [this](const QByteArray &line) { onListingLine(line); });
    QObject::connect(&m_data, &FtpDataChannel::finished, m_client, [this] { onDataFinished(); });
    QObject::connect(&m_data, &FtpDataChannel::limitPassed, m_client, [this] { onDataLimitPassed(); });
    QObject::connect(&m_data, &FtpDataChannel::failed, m_client, [this](const QString &reason) {
        noteActivity();
        failCommand(reason);
    });
}

FtpProtocol::~FtpProtocol()
{
    m_data.disconnect(m_client);
    m_data.close();
    if (m_control) {
        m_control->disconnect(m_client);
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
            failCommand(QStringLiteral("Invalid character in the user name or password"));
            return;
        }
        m_step = Step::User;
        armTimer(m_idleTimeout);
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
            failCommand(invalidCharacterText(QStringLiteral("folder name"), c));
            return;
        }
        m_step = request.command == FtpClient::Cd ? Step::Cwd : Step::Mkd;
        armTimer(m_idleTimeout);
        send((request.command == FtpClient::Cd ? QStringLiteral("CWD ") : QStringLiteral("MKD "))
             + request.argument);
        return;
    case FtpClient::List:
    case FtpClient::Get:
    case FtpClient::Put:
        if (!requireConnection())
            return;
        if (const char16_t c = unsendableCharacter(request.argument)) {
            failCommand(invalidCharacterText(QStringLiteral("name"), c));
            return;
        }
        beginTransfer();
        return;
    default:
        failCommand(QStringLiteral("Command not supported"));
        return;
    }
}

bool FtpProtocol::requireConnection()
{
    if (m_control && (m_state == FtpClient::Connected || m_state == FtpClient::LoggedIn))
        return true;
    failCommand(QStringLiteral("Not connected"), Connection::Keep, FtpClient::NotConnected);
    return false;
}

// --- Control connection ------------------------------------------------------

void FtpProtocol::startConnect()
{
    // A new connection replaces the old one without a word to the old server.
    discardControlSocket();
    m_control = new QTcpSocket(m_client);
    m_control->setReadBufferSize(controlReadBufferSize);
    QObject::connect(m_control, &QTcpSocket::stateChanged, m_client, [this](QAbstractSocket::SocketState s) {
        SocketDisposal::Scope scope(m_disposal);
        onControlStateChanged(s);
    });
    QObject::connect(m_control, &QTcpSocket::connected, m_client, [this] {
        SocketDisposal::Scope scope(m_disposal);
        onControlConnected();
    });
    QObject::connect(m_control, &QTcpSocket::readyRead, m_client, [this] {
        SocketDisposal::Scope scope(m_disposal);
        onControlReadyRead();
    });
    QObject::connect(m_control, &QTcpSocket::disconnected, m_client, [this] {
        SocketDisposal::Scope scope(m_disposal);
        onControlDisconnected();
    });
    QObject::connect(m_control, &QTcpSocket::errorOccurred, m_client, [this](QAbstractSocket::SocketError e) {
        SocketDisposal::Scope scope(m_disposal);
        onControlError(e);
    });

    m_step = Step::Connecting;
    armTimer(m_connectTimeout);
    if (!changeState(FtpClient::HostLookup))
        return;
    m_control->connectToHost(command().argument, command().port);
}

void FtpProtocol::onControlStateChanged(QAbstractSocket::SocketState socketState)
{
    if (socketState == QAbstractSocket::ConnectingState && m_step == Step::Connecting)
        changeState(FtpClient::Connecting);
}

void FtpProtocol::onControlConnected()
{
    // Commands and replies are small: waiting to coalesce them only adds
    // delayed-acknowledgement stalls between commands.
    m_control->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_step = Step::Greeting;
    armTimer(m_idleTimeout);
    changeState(FtpClient::Connected);
}

// False when the line could not be handed over: the connection is gone. A
// write error may also drop the connection, and end the running command,
// before this returns.
bool FtpProtocol::send(const QString &line)
{
    QTcpSocket *socket = m_control;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    // Arguments were checked by unsendableCharacter(): one byte each.
    const QByteArray bytes = line.toLatin1() + "\r\n";
    qint64 sent = 0;
#if defined(Q_OS_UNIX)
    // Straight to the system while the socket holds nothing back: a buffered
    // write switches the socket's write notifier on and off again, two
    // event-loop wake-ups per command. What the system does not take goes
    // through the socket as usual, after what was sent; an error is left to
    // the socket to report.
    if (m_control->bytesToWrite() == 0 && m_control->state() == QAbstractSocket::ConnectedState) {
        const ssize_t n = ::send(int(m_control->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent = n;
    }
#endif
    if (sent < bytes.size()) {
        // One write per command, sent at once.
        if (m_control->write(bytes.constData() + sent, bytes.size() - sent) < 0)
            return false;
        m_control->flush();
    }
    return m_control == socket;
}

// QUIT, and the connection ends with the server's answer or its leaving.
// It ends at once when the QUIT cannot be sent, or when the answer to an
// interrupted command is still due: a server that owes that answer may
// never read the QUIT, and a disconnect must not hang on it.
void FtpProtocol::startClose()
{
    const bool answerDue = m_step == Step::Resync;
    m_step = Step::Quit;
    armTimer(m_idleTimeout);
    if (!changeState(FtpClient::Closing))
        return;
    bool sent = false;
    if (!m_queue.stillRunningAfter([&] { sent = send(QStringLiteral("QUIT")); }) || (sent && !answerDue))
        return;
    if (m_queue.stillRunningAfter([this] { dropControlConnection(); }))
        m_queue.finishCommand(false);
}

void FtpProtocol::onControlReadyRead()
{
    if (!m_control)
        return;
    noteActivity();
    QPointer<FtpClient> guard(m_client);
    QTcpSocket *socket = m_control;
    // A slot may run a nested event loop that reads replies too.
    const bool nested = m_readingReplies;
    m_readingReplies = true;
    bool garbled = false;
    while (!garbled && m_control == socket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(controlReadBufferSize);
        m_replies.addData(bytes);
        while (m_control == socket && m_replies.hasReply()) {
            handleReply(m_replies.takeReply());
            if (!guard)
                return;
        }
        garbled = m_control == socket && m_replies.hasError();
    }
    m_readingReplies = nested;
    if (garbled) {
        connectionLost(m_replies.errorString());
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
        connectionLost(QStringLiteral("Connection closed"));
}

void FtpProtocol::onControlError(QAbstractSocket::SocketError socketError)
{
    if (!m_control || socketError == QAbstractSocket::RemoteHostClosedError)
        return; // a close by the server is reported as a disconnect
    if (m_step == Step::Connecting && m_queue.runningCommand()) {
        const QString host = command().argument;
        switch (socketError) {
        case QAbstractSocket::ConnectionRefusedError:
            failCommand(QStringLiteral("Connection refused to host %1").arg(host), Connection::Drop,
                        FtpClient::ConnectionRefused);
            return;
        case QAbstractSocket::HostNotFoundError:
            failCommand(QStringLiteral("Host %1 not found").arg(host), Connection::Drop,
                        FtpClient::HostNotFound);
            return;
        default:
            failCommand(m_control->errorString(), Connection::Drop);
            return;
        }
    }
    connectionLost(m_control->errorString());
}

// The control connection is gone or cannot be trusted any more: it is
// dropped, and the running command fails, except a close, which is done.
void FtpProtocol::connectionLost(const QString &reason)
{
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (!running || m_step == Step::Resync) {
        dropControlConnection();
        return;
    }
    if (running->command == FtpClient::Close) {
        if (m_queue.stillRunningAfter([this] { dropControlConnection(); }))
            m_queue.finishCommand(false);
        return;
    }
    if (m_step == Step::Transfer && m_finalReplySeen && !m_dataEnded) {
        // The server has confirmed the transfer; its last data is still on
        // the way and completes the command without a control connection.
        discardControlSocket();
        m_step = Step::Transfer;
        changeState(FtpClient::Unconnected);
        return;
    }
    failCommand(reason, Connection::Drop);
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
    case Step::Transfer:
        handleTransferReply(reply);
        return;
    case Step::Quit:
        // Whatever the answer, the connection ends here.
        m_step = Step::Disconnecting;
        m_control->disconnectFromHost();
        return;
    }
}

void FtpProtocol::refused(const FtpReply &reply)
{
    m_step = Step::Idle;
    failCommand(reply.toString());
}

void FtpProtocol::unexpected(const FtpReply &reply)
{
    connectionLost(QStringLiteral("Unexpected reply from the server: %1").arg(reply.toString()));
}

void FtpProtocol::handleResyncReply(const FtpReply &reply)
{
    if (!reply.isPreliminary() && --m_repliesToSkip <= 0) {
        m_step = Step::Idle;
        m_timer.stop();
        m_queue.scheduleStart();
    }
}

void FtpProtocol::handleGreetingReply(const FtpReply &reply)
{
    if (reply.isPreliminary())
        return; // "120 ready in n minutes"
    if (reply.isPositive()) {
        m_step = Step::Idle;
        m_queue.finishCommand(false);
    } else {
        failCommand(reply.toString(), Connection::Drop);
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
    } else if (reply.isNegative() || reply.isIntermediate()) {
        refused(reply);
    } else {
        unexpected(reply);
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
        m_transferType = command().type;
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
        m_transferTotal = ok && size >= 0 ? size : 0;
        // In ASCII type the bytes on the wire may differ from what a
        // server counts; only a binary download is held to its size.
        if (ok && size >= 0 && command().type == FtpClient::Binary)
            m_downloadLimit = size;
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
            connectionLost(QStringLiteral("Invalid passive mode reply: %1").arg(reply.toString()));
    } else if (extended && reply.code >= 500) {
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
    if (reply.isPreliminary()) {
        if (command().command == FtpClient::Put)
            m_data.startSending();
        return;
    }
    if (reply.isPositive() && !m_finalReplySeen) {
        m_finalReplySeen = true;
        completeTransferIfDone();
    } else if (reply.isNegative()) {
        m_finalReplySeen = true;
        m_step = Step::Idle;
        failCommand(reply.toString());
    } else {
        unexpected(reply);
    }
}

// --- Transfers ---------------------------------------------------------------

QIODevice *FtpProtocol::prepareDevice()
{
    const FtpCommandRequest &request = command();
    QIODevice *device = request.device;
    const bool get = request.command == FtpClient::Get;
    if (!device) {
        failCommand(request.deviceGiven ? QStringLiteral("The local file was deleted")
                                        : QStringLiteral("No local file given"));
        return nullptr;
    }
    if (!device->isOpen()) {
        if (!device->open(get ? QIODevice::WriteOnly : QIODevice::ReadOnly)) {
            failCommand(QStringLiteral("Cannot open the local file for %1: %2")
                                .arg(get ? QStringLiteral("writing") : QStringLiteral("reading"),
                                     device->errorString()));
            return nullptr;
        }
    } else if (get ? !device->isWritable() : !device->isReadable()) {
        failCommand(QStringLiteral("The local file is not open for %1")
                            .arg(get ? QStringLiteral("writing") : QStringLiteral("reading")));
        return nullptr;
    }
    return device;
}

void FtpProtocol::beginTransfer()
{
    m_transferTotal = 0;
    m_downloadLimit = -1;
    m_listingLines = 0;
    m_finalReplySeen = false;
    m_dataEnded = false;
    m_reportedBytes = -1;
    m_reportedTotal = -1;
    const FtpCommandRequest &request = command();
    if (request.command != FtpClient::List && !prepareDevice())
        return;
    if (request.command == FtpClient::Put) {
        QIODevice *device = request.device;
        m_transferTotal = device->isSequential() ? device->bytesAvailable() : device->size() - device->pos();
    }
    armTimer(m_idleTimeout);
    // The type stays set on the server for the whole connection.
    if (request.command != FtpClient::List && m_transferType != request.type) {
        m_step = Step::Type;
        send(request.type == FtpClient::Binary ? QStringLiteral("TYPE I") : QStringLiteral("TYPE A"));
        return;
    }
    sendTransferSteps();
}

void FtpProtocol::sendTransferSteps()
{
    const FtpCommandRequest &request = command();
    if (request.command == FtpClient::Get && request.expectedSize >= 0) {
        m_transferTotal = request.expectedSize;
        m_downloadLimit = request.expectedSize;
    } else if (request.command == FtpClient::Get) {
        m_step = Step::Size;
        send(QStringLiteral("SIZE ") + request.argument);
        return;
    }
    enterPassiveMode();
}

void FtpProtocol::enterPassiveMode()
{
    m_step = m_extendedPassiveRefused ? Step::Pasv : Step::Epsv;
    send(m_extendedPassiveRefused ? QStringLiteral("PASV") : QStringLiteral("EPSV"));
}

void FtpProtocol::openDataConnection(quint16 port)
{
    // Only the port comes from the server; the address is the one we already
    // talk to, so a server cannot send our data connection elsewhere.
    const QHostAddress peer = m_control->peerAddress();
    const FtpCommandRequest &request = command();
    m_step = Step::Transfer;
    switch (request.command) {
    case FtpClient::Get:
        m_data.open(FtpDataChannel::Mode::Download, peer, port, request.device, m_downloadLimit);
        send(QStringLiteral("RETR ") + request.argument);
        break;
    case FtpClient::Put:
        m_data.open(FtpDataChannel::Mode::Upload, peer, port, request.device);
        send(QStringLiteral("STOR ") + request.argument);
        break;
    default:
        m_data.open(FtpDataChannel::Mode::Listing, peer, port, nullptr, FtpClient::maxListingBytes);
        send(request.argument.isEmpty() ? QStringLiteral("LIST") : QStringLiteral("LIST ") + request.argument);
        break;
    }
}

void FtpProtocol::onDataProgress(qint64 bytes)
{
    noteActivity();
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (running && running->command != FtpClient::List)
        reportProgress(bytes, false);
}

void FtpProtocol::onListingLine(const QByteArray &line)
{
    noteActivity();
    if (++m_listingLines > FtpClient::maxListingEntries) {
        failCommand(QStringLiteral("The listing is longer than %1 entries").arg(FtpClient::maxListingEntries));
        return;
    }
    // One character per byte: the name goes back to the server unchanged.
    const UrlInfo info = parseListLine(QString::fromLatin1(line));
    if (info.isValid())
        emit m_client->listInfo(info);
}

void FtpProtocol::onDataLimitPassed()
{
    noteActivity();
    const FtpCommandRequest *running = m_queue.runningCommand();
    if (!running)
        return;
    if (running->command == FtpClient::List)
        failCommand(QStringLiteral("The listing is larger than %1 MiB").arg(FtpClient::maxListingBytes / (1024 * 1024)));
    else
        failCommand(QStringLiteral("The server sent more than the %1 bytes announced").arg(m_downloadLimit));
}

// A download that ends short of its announced size is decided by the final
// reply like any other: confirmed, it finishes, and its last progress report
// shows the bytes received against the total, for the caller to judge.
void FtpProtocol::onDataFinished()
{
    noteActivity();
    if (!m_queue.runningCommand() || m_step != Step::Transfer)
        return;
    m_dataEnded = true;
    completeTransferIfDone();
}

// The data connection's end and the final reply come in either order; the
// command is complete when both have been seen.
void FtpProtocol::completeTransferIfDone()
{
    if (!m_finalReplySeen || !m_dataEnded)
        return;
    m_step = Step::Idle;
    const qint64 done = m_data.bytesDone();
    const FtpCommandRequest &request = command();
    if (request.command == FtpClient::Get) {
        // Buffered bytes that cannot be written (disk full) fail the command
        // here rather than go unnoticed when the caller closes the file.
        auto *file = qobject_cast<QFileDevice *>(request.device.data());
        if (file && !file->flush()) {
            failCommand(QStringLiteral("Writing the local file failed: %1").arg(file->errorString()));
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
    qint64 total = m_transferTotal;
    if (final && total == 0)
        total = bytes;
    if (final) {
        if (bytes == m_reportedBytes && total == m_reportedTotal)
            return true;
    } else if (m_reportedBytes >= 0 && m_progressClock.elapsed() < progressInterval) {
        return true;
    }
    m_reportedBytes = bytes;
    m_reportedTotal = total;
    m_progressClock.start();
    return m_queue.stillRunningAfter([&] { emit m_client->dataTransferProgress(bytes, total); });
}

// --- Ending commands -----------------------------------------------------------

void FtpProtocol::failCommand(const QString &reason, Connection connection, FtpClient::Error code)
{
    if (!m_queue.runningCommand())
        return;
    m_queue.setCommandError(reason, code);
    m_data.close();
    if (connection == Connection::Drop) {
        if (!m_queue.stillRunningAfter([this] { dropControlConnection(); }))
            return;
    } else if (m_control && m_step != Step::Idle && m_step != Step::Resync) {
        // The reply to the interrupted request is still due; it must not be
        // taken for the reply to the next one.
        const bool replyDue = m_step != Step::Transfer || !m_finalReplySeen;
        if (m_step == Step::Connecting || m_step == Step::Greeting || m_step == Step::Quit
            || m_step == Step::Disconnecting) {
            if (!m_queue.stillRunningAfter([this] { dropControlConnection(); }))
                return;
        } else if (replyDue) {
            m_step = Step::Resync;
            m_repliesToSkip = 1;
            armTimer(m_idleTimeout);
        } else {
            m_step = Step::Idle;
        }
    }
    m_queue.finishCommand(true);
}

void FtpProtocol::commandEnding()
{
    if (m_step != Step::Resync)
        m_timer.stop();
    m_data.close();
}

void FtpProtocol::discardControlSocket()
{
    if (m_control) {
        m_disposal.retire(m_control, m_client);
        m_control = nullptr;
    }
    m_replies.clear();
    m_transferType.reset();
    m_extendedPassiveRefused = false;
    if (m_step == Step::Resync)
        m_queue.scheduleStart();
    m_step = Step::Idle;
}

void FtpProtocol::dropControlConnection()
{
    m_data.close();
    discardControlSocket();
    if (!m_queue.runningCommand())
        m_timer.stop();
    changeState(FtpClient::Unconnected);
}

// Returns false when a slot ended the running command meanwhile.
bool FtpProtocol::changeState(FtpClient::State newState)
{
    if (m_state == newState)
        return true;
    m_state = newState;
    return m_queue.stillRunningAfter([&] { emit m_client->stateChanged(newState); });
}

// --- Time limits ---------------------------------------------------------------

void FtpProtocol::armTimer(int limit)
{
    m_timerLimit = limit;
    noteActivity();
    m_timer.start(limit);
}

void FtpProtocol::onTimer()
{
    // The timer is not restarted on every chunk; it checks the last activity.
    const qint64 quiet = m_activity.elapsed();
    if (quiet < m_timerLimit) {
        m_timer.start(int(m_timerLimit - quiet));
        return;
    }
    if (m_step == Step::Resync) {
        dropControlConnection();
        return;
    }
    if (!m_queue.runningCommand())
        return;
    if (m_step == Step::Quit || m_step == Step::Disconnecting) {
        if (m_queue.stillRunningAfter([this] { dropControlConnection(); }))
            m_queue.finishCommand(false);
        return;
    }
    failCommand(QStringLiteral("The server did not answer within %1").arg(durationText(m_timerLimit)),
                Connection::Drop);
}
