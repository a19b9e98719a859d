#include "ftpclient.h"

#include "datachannel.h"
#include "listparser.h"
#include "passivereply.h"
#include "replyparser.h"
#include "socketdisposal.h"

#include <QElapsedTimer>
#include <QFileDevice>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>
#include <utility>

#if defined(Q_OS_UNIX)
#include <sys/socket.h>
#include <sys/types.h>
#endif

namespace {

constexpr int defaultTimeout = 30 * 1000;
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

struct FtpCommandRequest
{
    int id = 0;
    FtpClient::Command command = FtpClient::None;
    QString argument;  // host, user name, folder or remote file name
    QString password;
    quint16 port = 0;
    QPointer<QIODevice> device;
    bool deviceGiven = false;
    FtpClient::TransferType type = FtpClient::Binary;
    qint64 expectedSize = -1; // a download's size as the caller knows it
};

class FtpClientPrivate
{
public:
    // What the control connection waits for.
    enum class Step {
        Idle, Connecting, Greeting, User, Pass, Type, Size, Epsv, Pasv, Transfer, Cwd, Mkd,
        Quit, Disconnecting,
        // Skipping the replies still due for a command that ended early.
        Resync
    };

    explicit FtpClientPrivate(FtpClient *client);

    int queue(FtpCommandRequest request);
    void scheduleStart();
    void continueQueue();
    void startNext();
    void execute();
    bool requireConnection();
    QIODevice *prepareDevice();
    QString failureHeading() const;

    void startConnect();
    bool send(const QString &command);
    void startClose();
    void beginTransfer();
    void sendTransferSteps();
    void enterPassiveMode();
    void openDataConnection(quint16 port);

    void onControlStateChanged(QAbstractSocket::SocketState socketState);
    void onControlConnected();
    void onControlReadyRead();
    void onControlDisconnected();
    void onControlError(QAbstractSocket::SocketError socketError);
    void handleReply(const FtpReply &reply);
    void handleTransferReply(const FtpReply &reply);
    void protocolError(const QString &reason);
    void connectionLost(const QString &reason);

    void onDataProgress(qint64 bytes);
    void onDataFinished();
    void onListingLine(const QByteArray &line);
    void onDataLimitPassed();
    void completeTransferIfDone();
    bool reportProgress(qint64 bytes, bool final);

    enum class Connection { Keep, Drop };
    void failCommand(const QString &reason, Connection connection = Connection::Keep,
                     FtpClient::Error code = FtpClient::UnknownError);
    void finishCommand(bool failed);
    void dropControlConnection();
    void discardControlSocket();
    bool changeState(FtpClient::State newState);
    bool stillRunning(const QPointer<FtpClient> &guard, quint64 token) const;

    void armTimer(int limit);
    void noteActivity() { activity.start(); }
    void onTimer();

    FtpClient *q;
    QList<FtpCommandRequest> pending;
    std::optional<FtpCommandRequest> current;
    bool finishing = false;
    bool startScheduled = false;
    bool readingReplies = false;
    bool startAfterReplies = false;
    bool starting = false;
    bool batchFailed = false;
    int nextId = 1;
    // Changes whenever a command ends; code that emitted a signal compares
    // it to learn whether a slot ended the command meanwhile.
    quint64 runToken = 0;

    FtpClient::State state = FtpClient::Unconnected;
    FtpClient::Error error = FtpClient::NoError;
    QString errorString = QStringLiteral("Unknown error");

    QTcpSocket *control = nullptr;
    SocketDisposal disposal;
    FtpReplyParser replies;
    Step step = Step::Idle;
    int repliesToSkip = 0;
    std::optional<FtpClient::TransferType> transferType;
    bool extendedPassiveRefused = false;

    FtpDataChannel data;
    // The total reported in dataTransferProgress(); 0 while unknown.
    qint64 transferTotal = 0;
    // The most a download may receive: its announced size; -1: no limit.
    qint64 downloadLimit = -1;
    int listingLines = 0;
    bool finalReplySeen = false;
    bool dataEnded = false;
    qint64 reportedBytes = -1;
    qint64 reportedTotal = -1;
    QElapsedTimer progressClock;

    QTimer timer;
    QElapsedTimer activity;
    int timerLimit = 0;
    int connectTimeout = defaultTimeout;
    int idleTimeout = defaultTimeout;
};

FtpClientPrivate::FtpClientPrivate(FtpClient *client)
    : q(client)
{
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, q, [this] { onTimer(); });
    QObject::connect(&data, &FtpDataChannel::progress, q, [this](qint64 bytes) { onDataProgress(bytes); });
    QObject::connect(&data, &FtpDataChannel::listingLine, q, [this](const QByteArray &line) { onListingLine(line); });
    QObject::connect(&data, &FtpDataChannel::finished, q, [this] { onDataFinished(); });
    QObject::connect(&data, &FtpDataChannel::limitPassed, q, [this] { onDataLimitPassed(); });
    QObject::connect(&data, &FtpDataChannel::failed, q, [this](const QString &reason) {
        noteActivity();
        failCommand(reason);
    });
}

// --- The command queue -------------------------------------------------------

int FtpClientPrivate::queue(FtpCommandRequest request)
{
    request.id = nextId++;
    pending.append(request);
    scheduleStart();
    return request.id;
}

// A command starts from the event loop, never inside the call that queued
// it, and never after a timer delay: small transfers live on short gaps.
void FtpClientPrivate::scheduleStart()
{
    if (startScheduled)
        return;
    startScheduled = true;
    QMetaObject::invokeMethod(q, [this] {
        startScheduled = false;
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
    if (readingReplies) {
        startAfterReplies = true;
        return;
    }
    if (starting) {
        scheduleStart();
        return;
    }
    QPointer<FtpClient> guard(q);
    starting = true;
    startNext();
    if (guard)
        starting = false;
}

void FtpClientPrivate::startNext()
{
    if (current || pending.isEmpty())
        return;
    // A reply still due would be taken for the next command's; a new
    // connection or a close does not care.
    const FtpClient::Command next = pending.first().command;
    if (step == Step::Resync && next != FtpClient::ConnectToHost && next != FtpClient::Close)
        return;
    current = pending.takeFirst();
    error = FtpClient::NoError;
    errorString = QStringLiteral("Unknown error");
    QPointer<FtpClient> guard(q);
    const quint64 token = runToken;
    emit q->commandStarted(current->id);
    if (stillRunning(guard, token))
        execute();
}

bool FtpClientPrivate::stillRunning(const QPointer<FtpClient> &guard, quint64 token) const
{
    return guard && runToken == token && current && !finishing;
}

void FtpClientPrivate::execute()
{
    switch (current->command) {
    case FtpClient::ConnectToHost:
        startConnect();
        return;
    case FtpClient::Login: {
        if (!requireConnection())
            return;
        if (unsendableCharacter(current->argument) || unsendableCharacter(current->password)) {
            failCommand(QStringLiteral("Invalid character in the user name or password"));
            return;
        }
        step = Step::User;
        armTimer(idleTimeout);
        send(QStringLiteral("USER ") + current->argument);
        return;
    }
    case FtpClient::Close:
        if (control)
            startClose();
        else
            finishCommand(false);
        return;
    case FtpClient::Cd:
    case FtpClient::Mkdir:
        if (!requireConnection())
            return;
        if (const char16_t c = unsendableCharacter(current->argument)) {
            failCommand(invalidCharacterText(QStringLiteral("folder name"), c));
            return;
        }
        step = current->command == FtpClient::Cd ? Step::Cwd : Step::Mkd;
        armTimer(idleTimeout);
        send((current->command == FtpClient::Cd ? QStringLiteral("CWD ") : QStringLiteral("MKD "))
             + current->argument);
        return;
    case FtpClient::List:
    case FtpClient::Get:
    case FtpClient::Put:
        if (!requireConnection())
            return;
        if (const char16_t c = unsendableCharacter(current->argument)) {
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

bool FtpClientPrivate::requireConnection()
{
    if (control && (state == FtpClient::Connected || state == FtpClient::LoggedIn))
        return true;
    failCommand(QStringLiteral("Not connected"), Connection::Keep, FtpClient::NotConnected);
    return false;
}

QString FtpClientPrivate::failureHeading() const
{
    switch (current ? current->command : FtpClient::None) {
    case FtpClient::ConnectToHost: return QStringLiteral("Connecting to host failed:\n");
    case FtpClient::Login: return QStringLiteral("Login failed:\n");
    case FtpClient::Close: return QStringLiteral("Closing the connection failed:\n");
    case FtpClient::List: return QStringLiteral("Listing directory failed:\n");
    case FtpClient::Cd: return QStringLiteral("Changing directory failed:\n");
    case FtpClient::Get: return QStringLiteral("Downloading file %1 failed:\n").arg(current->argument);
    case FtpClient::Put: return QStringLiteral("Uploading file %1 failed:\n").arg(current->argument);
    case FtpClient::Mkdir: return QStringLiteral("Creating directory failed:\n");
    default: return QString();
    }
}

// --- Control connection ------------------------------------------------------

void FtpClientPrivate::startConnect()
{
    // A new connection replaces the old one without a word to the old server.
    discardControlSocket();
    control = new QTcpSocket(q);
    control->setReadBufferSize(controlReadBufferSize);
    QObject::connect(control, &QTcpSocket::stateChanged, q, [this](QAbstractSocket::SocketState s) {
        SocketDisposal::Scope scope(disposal);
        onControlStateChanged(s);
    });
    QObject::connect(control, &QTcpSocket::connected, q, [this] {
        SocketDisposal::Scope scope(disposal);
        onControlConnected();
    });
    QObject::connect(control, &QTcpSocket::readyRead, q, [this] {
        SocketDisposal::Scope scope(disposal);
        onControlReadyRead();
    });
    QObject::connect(control, &QTcpSocket::disconnected, q, [this] {
        SocketDisposal::Scope scope(disposal);
        onControlDisconnected();
    });
    QObject::connect(control, &QTcpSocket::errorOccurred, q, [this](QAbstractSocket::SocketError e) {
        SocketDisposal::Scope scope(disposal);
        onControlError(e);
    });

    step = Step::Connecting;
    armTimer(connectTimeout);
    QPointer<FtpClient> guard(q);
    const quint64 token = runToken;
    if (!changeState(FtpClient::HostLookup) || !stillRunning(guard, token))
        return;
    control->connectToHost(current->argument, current->port);
}

void FtpClientPrivate::onControlStateChanged(QAbstractSocket::SocketState socketState)
{
    if (socketState == QAbstractSocket::ConnectingState && step == Step::Connecting)
        changeState(FtpClient::Connecting);
}

void FtpClientPrivate::onControlConnected()
{
    // Commands and replies are small: waiting to coalesce them only adds
    // delayed-acknowledgement stalls between commands.
    control->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    step = Step::Greeting;
    armTimer(idleTimeout);
    changeState(FtpClient::Connected);
}

// False when the line could not be handed over: the connection is gone. A
// write error may also drop the connection, and end the running command,
// before this returns.
bool FtpClientPrivate::send(const QString &command)
{
    QTcpSocket *socket = control;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    // Arguments were checked by unsendableCharacter(): one byte each.
    const QByteArray line = command.toLatin1() + "\r\n";
    qint64 sent = 0;
#if defined(Q_OS_UNIX)
    // Straight to the system while the socket holds nothing back: a buffered
    // write switches the socket's write notifier on and off again, two
    // event-loop wake-ups per command. What the system does not take goes
    // through the socket as usual, after what was sent; an error is left to
    // the socket to report.
    if (control->bytesToWrite() == 0 && control->state() == QAbstractSocket::ConnectedState) {
        const ssize_t n = ::send(int(control->socketDescriptor()), line.constData(), size_t(line.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent = n;
    }
#endif
    if (sent < line.size()) {
        // One write per command, sent at once.
        if (control->write(line.constData() + sent, line.size() - sent) < 0)
            return false;
        control->flush();
    }
    return control == socket;
}

// QUIT, and the connection ends with the server's answer or its leaving.
// It ends at once when the QUIT cannot be sent, or when the answer to an
// interrupted command is still due: a server that owes that answer may
// never read the QUIT, and a disconnect must not hang on it.
void FtpClientPrivate::startClose()
{
    const bool answerDue = step == Step::Resync;
    step = Step::Quit;
    armTimer(idleTimeout);
    QPointer<FtpClient> guard(q);
    const quint64 token = runToken;
    if (!changeState(FtpClient::Closing) || !stillRunning(guard, token))
        return;
    const bool sent = send(QStringLiteral("QUIT"));
    if (!stillRunning(guard, token) || (sent && !answerDue))
        return;
    dropControlConnection();
    if (stillRunning(guard, token))
        finishCommand(false);
}

void FtpClientPrivate::onControlReadyRead()
{
    if (!control)
        return;
    noteActivity();
    QPointer<FtpClient> guard(q);
    QTcpSocket *socket = control;
    // A slot may run a nested event loop that reads replies too.
    const bool nested = readingReplies;
    readingReplies = true;
    bool garbled = false;
    while (!garbled && control == socket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(controlReadBufferSize);
        replies.addData(bytes);
        while (control == socket && replies.hasReply()) {
            handleReply(replies.takeReply());
            if (!guard)
                return;
        }
        garbled = control == socket && replies.hasError();
    }
    readingReplies = nested;
    if (garbled) {
        protocolError(replies.errorString());
        if (!guard)
            return;
    }
    if (!nested && std::exchange(startAfterReplies, false))
        continueQueue();
}

void FtpClientPrivate::onControlDisconnected()
{
    QTcpSocket *socket = control;
    onControlReadyRead(); // replies sent just before the close still count
    if (socket && control == socket)
        connectionLost(QStringLiteral("Connection closed"));
}

void FtpClientPrivate::onControlError(QAbstractSocket::SocketError socketError)
{
    if (!control || socketError == QAbstractSocket::RemoteHostClosedError)
        return; // a close by the server is reported as a disconnect
    if (step == Step::Connecting && current && !finishing) {
        const QString host = current->argument;
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
            failCommand(control->errorString(), Connection::Drop);
            return;
        }
    }
    connectionLost(control->errorString());
}

void FtpClientPrivate::protocolError(const QString &reason)
{
    connectionLost(reason);
}

// The control connection is gone or cannot be trusted any more: it is
// dropped, and the running command fails, except a close, which is done.
void FtpClientPrivate::connectionLost(const QString &reason)
{
    if (!current || finishing || step == Step::Resync) {
        dropControlConnection();
        return;
    }
    if (current->command == FtpClient::Close) {
        QPointer<FtpClient> guard(q);
        const quint64 token = runToken;
        dropControlConnection();
        if (stillRunning(guard, token))
            finishCommand(false);
        return;
    }
    if (step == Step::Transfer && finalReplySeen && !dataEnded) {
        // The server has confirmed the transfer; its last data is still on
        // the way and completes the command without a control connection.
        discardControlSocket();
        step = Step::Transfer;
        changeState(FtpClient::Unconnected);
        return;
    }
    failCommand(reason, Connection::Drop);
}

// The one place where replies move the running command on.
void FtpClientPrivate::handleReply(const FtpReply &reply)
{
    const auto unexpected = [&] {
        protocolError(QStringLiteral("Unexpected reply from the server: %1").arg(reply.toString()));
    };
    const auto refused = [&] {
        step = Step::Idle;
        failCommand(reply.toString());
    };

    switch (step) {
    case Step::Idle:
    case Step::Connecting:
    case Step::Disconnecting:
        return; // unsolicited, such as a notice before the server closes
    case Step::Resync:
        if (!reply.isPreliminary() && --repliesToSkip <= 0) {
            step = Step::Idle;
            timer.stop();
            scheduleStart();
        }
        return;
    case Step::Greeting:
        if (reply.isPreliminary())
            return; // "120 ready in n minutes"
        if (reply.isPositive()) {
            step = Step::Idle;
            finishCommand(false);
        } else {
            failCommand(reply.toString(), Connection::Drop);
        }
        return;
    case Step::User:
    case Step::Pass:
        if (reply.isPositive()) {
            step = Step::Idle;
            QPointer<FtpClient> guard(q);
            const quint64 token = runToken;
            if (changeState(FtpClient::LoggedIn) && stillRunning(guard, token))
                finishCommand(false);
        } else if (reply.code == 331 && step == Step::User) {
            step = Step::Pass;
            const QString password = current->argument == QLatin1String("anonymous")
                    && current->password.isEmpty() ? QStringLiteral("anonymous@") : current->password;
            send(QStringLiteral("PASS ") + password);
        } else if (reply.isNegative() || reply.isIntermediate()) {
            refused();
        } else {
            unexpected();
        }
        return;
    case Step::Cwd:
    case Step::Mkd:
        if (reply.isPositive()) {
            step = Step::Idle;
            finishCommand(false);
        } else if (reply.isNegative()) {
            refused();
        } else {
            unexpected();
        }
        return;
    case Step::Type:
        if (reply.isPositive()) {
            transferType = current->type;
            sendTransferSteps();
        } else if (reply.isNegative()) {
            refused();
        } else {
            unexpected();
        }
        return;
    case Step::Size:
        if (reply.code == 213) {
            bool ok = false;
            const qint64 size = reply.text.trimmed().toLongLong(&ok);
            transferTotal = ok && size >= 0 ? size : 0;
            // In ASCII type the bytes on the wire may differ from what a
            // server counts; only a binary download is held to its size.
            if (ok && size >= 0 && current->type == FtpClient::Binary)
                downloadLimit = size;
        } else if (!reply.isNegative()) {
            unexpected();
            return;
        } // a refused SIZE leaves the total unknown
        enterPassiveMode();
        return;
    case Step::Epsv:
    case Step::Pasv: {
        quint16 port = 0;
        const bool extended = step == Step::Epsv;
        if (reply.code == (extended ? 229 : 227)) {
            if (extended ? parseExtendedPassiveReply(reply.text, &port) : parsePassiveReply(reply.text, &port))
                openDataConnection(port);
            else
                protocolError(QStringLiteral("Invalid passive mode reply: %1").arg(reply.toString()));
        } else if (extended && reply.code >= 500) {
            extendedPassiveRefused = true;
            enterPassiveMode();
        } else if (reply.isNegative()) {
            refused();
        } else {
            unexpected();
        }
        return;
    }
    case Step::Transfer:
        handleTransferReply(reply);
        return;
    case Step::Quit:
        // Whatever the answer, the connection ends here.
        step = Step::Disconnecting;
        control->disconnectFromHost();
        return;
    }
}

// --- Transfers ---------------------------------------------------------------

QIODevice *FtpClientPrivate::prepareDevice()
{
    QIODevice *device = current->device;
    const bool get = current->command == FtpClient::Get;
    if (!device) {
        failCommand(current->deviceGiven ? QStringLiteral("The local file was deleted")
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

void FtpClientPrivate::beginTransfer()
{
    transferTotal = 0;
    downloadLimit = -1;
    listingLines = 0;
    finalReplySeen = false;
    dataEnded = false;
    reportedBytes = -1;
    reportedTotal = -1;
    if (current->command != FtpClient::List && !prepareDevice())
        return;
    if (current->command == FtpClient::Put) {
        QIODevice *device = current->device;
        transferTotal = device->isSequential() ? device->bytesAvailable() : device->size() - device->pos();
    }
    armTimer(idleTimeout);
    // The type stays set on the server for the whole connection.
    if (current->command != FtpClient::List && transferType != current->type) {
        step = Step::Type;
        send(current->type == FtpClient::Binary ? QStringLiteral("TYPE I") : QStringLiteral("TYPE A"));
        return;
    }
    sendTransferSteps();
}

void FtpClientPrivate::sendTransferSteps()
{
    if (current->command == FtpClient::Get && current->expectedSize >= 0) {
        transferTotal = current->expectedSize;
        downloadLimit = current->expectedSize;
    } else if (current->command == FtpClient::Get) {
        step = Step::Size;
        send(QStringLiteral("SIZE ") + current->argument);
        return;
    }
    enterPassiveMode();
}

void FtpClientPrivate::enterPassiveMode()
{
    step = extendedPassiveRefused ? Step::Pasv : Step::Epsv;
    send(extendedPassiveRefused ? QStringLiteral("PASV") : QStringLiteral("EPSV"));
}

void FtpClientPrivate::openDataConnection(quint16 port)
{
    // Only the port comes from the server; the address is the one we already
    // talk to, so a server cannot send our data connection elsewhere.
    const QHostAddress peer = control->peerAddress();
    step = Step::Transfer;
    switch (current->command) {
    case FtpClient::Get:
        data.open(FtpDataChannel::Mode::Download, peer, port, current->device, downloadLimit);
        send(QStringLiteral("RETR ") + current->argument);
        break;
    case FtpClient::Put:
        data.open(FtpDataChannel::Mode::Upload, peer, port, current->device);
        send(QStringLiteral("STOR ") + current->argument);
        break;
    default:
        data.open(FtpDataChannel::Mode::Listing, peer, port, nullptr, FtpClient::maxListingBytes);
        send(current->argument.isEmpty() ? QStringLiteral("LIST") : QStringLiteral("LIST ") + current->argument);
        break;
    }
}

void FtpClientPrivate::handleTransferReply(const FtpReply &reply)
{
    if (reply.isPreliminary()) {
        if (current->command == FtpClient::Put)
            data.startSending();
        return;
    }
    if (reply.isPositive() && !finalReplySeen) {
        finalReplySeen = true;
        completeTransferIfDone();
    } else if (reply.isNegative()) {
        finalReplySeen = true;
        step = Step::Idle;
        failCommand(reply.toString());
    } else {
        protocolError(QStringLiteral("Unexpected reply from the server: %1").arg(reply.toString()));
    }
}

void FtpClientPrivate::onDataProgress(qint64 bytes)
{
    noteActivity();
    if (current && current->command != FtpClient::List)
        reportProgress(bytes, false);
}

void FtpClientPrivate::onListingLine(const QByteArray &line)
{
    noteActivity();
    if (++listingLines > FtpClient::maxListingEntries) {
        failCommand(QStringLiteral("The listing is longer than %1 entries").arg(FtpClient::maxListingEntries));
        return;
    }
    // One character per byte: the name goes back to the server unchanged.
    const UrlInfo info = parseListLine(QString::fromLatin1(line));
    if (info.isValid())
        emit q->listInfo(info);
}

void FtpClientPrivate::onDataLimitPassed()
{
    noteActivity();
    if (!current)
        return;
    if (current->command == FtpClient::List)
        failCommand(QStringLiteral("The listing is larger than %1 MiB").arg(FtpClient::maxListingBytes / (1024 * 1024)));
    else
        failCommand(QStringLiteral("The server sent more than the %1 bytes announced").arg(downloadLimit));
}

// A download that ends short of its announced size is decided by the final
// reply like any other: confirmed, it finishes, and its last progress report
// shows the bytes received against the total, for the caller to judge.
void FtpClientPrivate::onDataFinished()
{
    noteActivity();
    if (!current || step != Step::Transfer)
        return;
    dataEnded = true;
    completeTransferIfDone();
}

// The data connection's end and the final reply come in either order; the
// command is complete when both have been seen.
void FtpClientPrivate::completeTransferIfDone()
{
    if (!finalReplySeen || !dataEnded)
        return;
    step = Step::Idle;
    const qint64 done = data.bytesDone();
    if (current->command == FtpClient::Get) {
        // Buffered bytes that cannot be written (disk full) fail the command
        // here rather than go unnoticed when the caller closes the file.
        auto *file = qobject_cast<QFileDevice *>(current->device.data());
        if (file && !file->flush()) {
            failCommand(QStringLiteral("Writing the local file failed: %1").arg(file->errorString()));
            return;
        }
    }
    if (current->command != FtpClient::List && !reportProgress(done, true))
        return;
    finishCommand(false);
}

// Returns false when a slot ended the command meanwhile.
bool FtpClientPrivate::reportProgress(qint64 bytes, bool final)
{
    qint64 total = transferTotal;
    if (final && total == 0)
        total = bytes;
    if (final) {
        if (bytes == reportedBytes && total == reportedTotal)
            return true;
    } else if (reportedBytes >= 0 && progressClock.elapsed() < progressInterval) {
        return true;
    }
    reportedBytes = bytes;
    reportedTotal = total;
    progressClock.start();
    QPointer<FtpClient> guard(q);
    const quint64 token = runToken;
    emit q->dataTransferProgress(bytes, total);
    return stillRunning(guard, token);
}

// --- Ending commands -----------------------------------------------------------

void FtpClientPrivate::failCommand(const QString &reason, Connection connection, FtpClient::Error code)
{
    if (!current || finishing)
        return;
    errorString = failureHeading() + reason;
    error = code;
    data.close();
    if (connection == Connection::Drop) {
        QPointer<FtpClient> guard(q);
        const quint64 token = runToken;
        dropControlConnection();
        if (!stillRunning(guard, token))
            return;
    } else if (control && step != Step::Idle && step != Step::Resync) {
        // The reply to the interrupted request is still due; it must not be
        // taken for the reply to the next one.
        const bool replyDue = step != Step::Transfer || !finalReplySeen;
        if (step == Step::Connecting || step == Step::Greeting || step == Step::Quit
            || step == Step::Disconnecting) {
            QPointer<FtpClient> guard(q);
            const quint64 token = runToken;
            dropControlConnection();
            if (!stillRunning(guard, token))
                return;
        } else if (replyDue) {
            step = Step::Resync;
            repliesToSkip = 1;
            armTimer(idleTimeout);
        } else {
            step = Step::Idle;
        }
    }
    finishCommand(true);
}

void FtpClientPrivate::finishCommand(bool failed)
{
    if (step != Step::Resync)
        timer.stop();
    data.close();
    ++runToken;
    if (failed) {
        // The rest of the batch depends on this command: drop it unstarted.
        pending.clear();
        batchFailed = true;
    }
    finishing = true;
    const int id = current->id;
    QPointer<FtpClient> guard(q);
    emit q->commandFinished(id, failed);
    if (!guard)
        return;
    finishing = false;
    current.reset();
    if (pending.isEmpty()) {
        const bool batchError = batchFailed;
        batchFailed = false;
        emit q->done(batchError);
    } else {
        continueQueue();
    }
}

void FtpClientPrivate::discardControlSocket()
{
    if (control) {
        disposal.retire(control, q);
        control = nullptr;
    }
    replies.clear();
    transferType.reset();
    extendedPassiveRefused = false;
    if (step == Step::Resync)
        scheduleStart();
    step = Step::Idle;
}

void FtpClientPrivate::dropControlConnection()
{
    data.close();
    discardControlSocket();
    if (!current || finishing)
        timer.stop();
    changeState(FtpClient::Unconnected);
}

// Returns false when a slot ended the running command meanwhile.
bool FtpClientPrivate::changeState(FtpClient::State newState)
{
    if (state == newState)
        return true;
    state = newState;
    QPointer<FtpClient> guard(q);
    const quint64 token = runToken;
    emit q->stateChanged(newState);
    return guard && runToken == token;
}

// --- Time limits ---------------------------------------------------------------

void FtpClientPrivate::armTimer(int limit)
{
    timerLimit = limit;
    noteActivity();
    timer.start(limit);
}

void FtpClientPrivate::onTimer()
{
    // The timer is not restarted on every chunk; it checks the last activity.
    const qint64 quiet = activity.elapsed();
    if (quiet < timerLimit) {
        timer.start(int(timerLimit - quiet));
        return;
    }
    if (step == Step::Resync) {
        dropControlConnection();
        return;
    }
    if (!current || finishing)
        return;
    if (step == Step::Quit || step == Step::Disconnecting) {
        QPointer<FtpClient> guard(q);
        const quint64 token = runToken;
        dropControlConnection();
        if (stillRunning(guard, token))
            finishCommand(false);
        return;
    }
    failCommand(QStringLiteral("The server did not answer within %1").arg(durationText(timerLimit)),
                Connection::Drop);
}

// --- FtpClient -------------------------------------------------------------------

FtpClient::FtpClient(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<FtpClientPrivate>(this))
{
    qRegisterMetaType<UrlInfo>();
}

FtpClient::~FtpClient()
{
    d->data.disconnect(this);
    d->data.close();
    if (d->control) {
        d->control->disconnect(this);
        d->control->abort();
    }
}

int FtpClient::connectToHost(const QString &host, quint16 port)
{
    FtpCommandRequest request;
    request.command = ConnectToHost;
    request.argument = host;
    request.port = port;
    return d->queue(request);
}

int FtpClient::login(const QString &user, const QString &password)
{
    FtpCommandRequest request;
    request.command = Login;
    request.argument = user.isEmpty() ? QStringLiteral("anonymous") : user;
    request.password = password;
    return d->queue(request);
}

int FtpClient::close()
{
    FtpCommandRequest request;
    request.command = Close;
    return d->queue(request);
}

int FtpClient::list(const QString &dir)
{
    FtpCommandRequest request;
    request.command = List;
    request.argument = dir;
    return d->queue(request);
}

int FtpClient::cd(const QString &dir)
{
    FtpCommandRequest request;
    request.command = Cd;
    request.argument = dir;
    return d->queue(request);
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
    return d->queue(request);
}

int FtpClient::put(QIODevice *device, const QString &file, TransferType type)
{
    FtpCommandRequest request;
    request.command = Put;
    request.argument = file;
    request.device = device;
    request.deviceGiven = device != nullptr;
    request.type = type;
    return d->queue(request);
}

int FtpClient::mkdir(const QString &dir)
{
    FtpCommandRequest request;
    request.command = Mkdir;
    request.argument = dir;
    return d->queue(request);
}

int FtpClient::currentId() const
{
    return d->current ? d->current->id : 0;
}

FtpClient::Command FtpClient::currentCommand() const
{
    return d->current ? d->current->command : None;
}

QIODevice *FtpClient::currentDevice() const
{
    return d->current ? d->current->device.data() : nullptr;
}

bool FtpClient::hasPendingCommands() const
{
    return !d->pending.isEmpty();
}

void FtpClient::clearPendingCommands()
{
    d->pending.clear();
}

FtpClient::State FtpClient::state() const
{
    return d->state;
}

FtpClient::Error FtpClient::error() const
{
    return d->error;
}

QString FtpClient::errorString() const
{
    return d->errorString;
}

void FtpClient::setConnectTimeout(int msecs)
{
    d->connectTimeout = qMax(1, msecs);
}

int FtpClient::connectTimeout() const
{
    return d->connectTimeout;
}

void FtpClient::setIdleTimeout(int msecs)
{
    d->idleTimeout = qMax(1, msecs);
}

int FtpClient::idleTimeout() const
{
    return d->idleTimeout;
}

void FtpClient::abort()
{
    d->pending.clear();
    d->failCommand(QStringLiteral("Aborted"));
}
