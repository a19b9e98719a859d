#include "sim/ftpsession.h"

#include "sim/instrumentserver_p.h"
#include "sim/listingformatter.h"
#include "sim/passivedataport.h"
#include "sim/receivetransfer.h"
#include "sim/replyscheduler.h"
#include "sim/sendtransfer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTcpSocket>

#include <memory>

namespace {

constexpr int maxLineBytes = 4096;
// Commands piled up behind a running transfer; beyond this the client is
// flooding, not pipelining.
constexpr int maxBufferedBytes = 64 * 1024;

const QString topFolderStep = QStringLiteral(" ..");

bool isAllowedBeforeLogin(const QString &verb)
{
    static const QStringList verbs = { QStringLiteral("USER"), QStringLiteral("PASS"), QStringLiteral("QUIT"),
                                       QStringLiteral("SYST"), QStringLiteral("FEAT"), QStringLiteral("NOOP") };
    return verbs.contains(verb);
}

QString refusalText(int code)
{
    switch (code) {
    case 421: return QStringLiteral("Service not available, closing control connection.");
    case 425: return QStringLiteral("Can't open data connection.");
    case 426: return QStringLiteral("Connection closed; transfer aborted.");
    case 450: return QStringLiteral("Requested file action not taken. File unavailable.");
    case 451: return QStringLiteral("Requested action aborted: local error in processing.");
    case 452: return QStringLiteral("Requested action not taken. Insufficient storage space.");
    case 500: return QStringLiteral("Syntax error, command unrecognized.");
    case 501: return QStringLiteral("Syntax error in parameters or arguments.");
    case 502: return QStringLiteral("Command not implemented.");
    case 530: return QStringLiteral("Not logged in.");
    case 550: return QStringLiteral("Requested action not taken. File unavailable.");
    case 552: return QStringLiteral("Requested file action aborted. Exceeded storage allocation.");
    case 553: return QStringLiteral("Requested action not taken. File name not allowed.");
    default: return QStringLiteral("Requested action refused.");
    }
}

QString quotedPath(const QString &virtualPath)
{
    QString path = ServedTree::displayPath(virtualPath);
    path.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + path + QLatin1Char('"');
}

} // namespace

FtpSession::FtpSession(int id, QTcpSocket *control, InstrumentServerPrivate *server, QObject *parent)
    : QObject(parent), m_id(id), m_control(control), m_server(server)
{
    m_control->setParent(this);
    // Replies are short and each one is awaited: without this, Nagle's
    // algorithm holds the next reply back until the last one is acknowledged.
    m_control->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_replies = new ReplyScheduler(m_control, this);
    m_dataTimer.setSingleShot(true);
    connect(&m_dataTimer, &QTimer::timeout, this, &FtpSession::onDataTimeout);
    connect(m_control, &QTcpSocket::readyRead, this, &FtpSession::readCommands);
    connect(m_control, &QTcpSocket::disconnected, this, &FtpSession::onControlDisconnected);
}

FtpSession::~FtpSession()
{
    m_control->disconnect(this);
    release();
    m_control->abort();
}

void FtpSession::start()
{
    reply(220, QStringLiteral("R9 instrument FTP service ready."));
    if (m_control->state() != QAbstractSocket::ConnectedState)
        onControlDisconnected();
}

void FtpSession::drop()
{
    if (m_state == State::Closed)
        return;
    m_replies->clear();
    release();
    m_control->abort();
    onControlDisconnected();
}

void FtpSession::release()
{
    m_dataTimer.stop();
    delete m_transfer;
    delete m_passive;
}

void FtpSession::onControlDisconnected()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_replies->clear();
    release();
    emit closed(m_id);
}

bool FtpSession::acceptsCommands() const
{
    return m_state == State::AwaitingUser || m_state == State::AwaitingPassword || m_state == State::LoggedIn
        || m_state == State::Hung;
}

void FtpSession::readCommands()
{
    if (m_state == State::Closed || m_state == State::Closing) {
        m_control->readAll();
        return;
    }
    m_input += m_control->readAll();
    QPointer<FtpSession> alive(this);
    while (alive && acceptsCommands()) {
        const int end = m_input.indexOf('\n');
        if (end < 0)
            break;
        QByteArray line = m_input.left(end);
        m_input.remove(0, end + 1);
        handleLine(line);
    }
    if (!alive || m_state == State::Closed || m_state == State::Closing)
        return;
    const int pendingLine = m_input.size() - (m_input.lastIndexOf('\n') + 1);
    if (pendingLine > maxLineBytes || m_input.size() > maxBufferedBytes) {
        m_input.clear();
        reply(500, QStringLiteral("Command line too long."));
        closeAfterReplies();
    }
}

void FtpSession::handleLine(QByteArray raw)
{
    const bool endsWithCrLf = raw.endsWith('\r');
    if (endsWithCrLf)
        raw.chop(1);
    // An 8-bit instrument: one byte per character on the wire, both ways.
    const QString line = QString::fromLatin1(raw);
    const int blank = line.indexOf(QLatin1Char(' '));
    const QString verb = (blank < 0 ? line : line.left(blank)).toUpper();
    const QString argument = blank < 0 ? QString() : line.mid(blank + 1);

    ++m_commandCount;
    QPointer<FtpSession> alive(this);
    m_server->logCommand(m_id, line, verb, argument);
    if (!alive || m_state == State::Closed)
        return;

    const FaultPlan &faults = m_server->m_faults;
    if (faults.dropsAt(m_commandCount)) {
        drop();
        return;
    }
    if (m_state == State::Hung)
        return;
    if (faults.silences(verb, argument)) {
        m_state = State::Hung;
        return;
    }
    if (!endsWithCrLf) {
        reply(500, QStringLiteral("Command line must end with CR LF."));
        return;
    }
    if (verb.isEmpty()) {
        reply(500, QStringLiteral("Syntax error, command unrecognized."));
        return;
    }
    if (const auto code = faults.refusalFor(verb, argument)) {
        refuse(*code);
        return;
    }
    if (m_state != State::LoggedIn && !isAllowedBeforeLogin(verb)) {
        reply(530, QStringLiteral("Please login with USER and PASS."));
        return;
    }
    dispatch(verb, argument);
}

const QHash<QString, FtpSession::Handler> &FtpSession::handlers()
{
    static const QHash<QString, Handler> table = {
        { QStringLiteral("USER"), &FtpSession::cmdUser }, { QStringLiteral("PASS"), &FtpSession::cmdPass },
        { QStringLiteral("SYST"), &FtpSession::cmdSyst }, { QStringLiteral("FEAT"), &FtpSession::cmdFeat },
        { QStringLiteral("TYPE"), &FtpSession::cmdType }, { QStringLiteral("PASV"), &FtpSession::cmdPasv },
        { QStringLiteral("ALLO"), &FtpSession::cmdAllo },
        { QStringLiteral("EPSV"), &FtpSession::cmdEpsv }, { QStringLiteral("LIST"), &FtpSession::cmdList },
        { QStringLiteral("SIZE"), &FtpSession::cmdSize }, { QStringLiteral("RETR"), &FtpSession::cmdRetr },
        { QStringLiteral("STOR"), &FtpSession::cmdStor }, { QStringLiteral("MKD"), &FtpSession::cmdMkd },
        { QStringLiteral("CWD"), &FtpSession::cmdCwd },   { QStringLiteral("CDUP"), &FtpSession::cmdCdup },
        { QStringLiteral("PWD"), &FtpSession::cmdPwd },   { QStringLiteral("NOOP"), &FtpSession::cmdNoop },
        { QStringLiteral("QUIT"), &FtpSession::cmdQuit },
    };
    return table;
}

void FtpSession::dispatch(const QString &verb, const QString &argument)
{
    const Handler handler = m_server->m_faults.unknownToMinimal(verb) ? nullptr : handlers().value(verb);
    if (!handler) {
        reply(502, QStringLiteral("Command not implemented."));
        return;
    }
    (this->*handler)(argument);
}

void FtpSession::reply(int code, const QString &text, std::function<void()> afterSent)
{
    m_replies->send(QByteArray::number(code) + ' ' + text.toLatin1() + "\r\n", m_server->m_faults.replyDelay(),
                    std::move(afterSent));
}

void FtpSession::replyLines(int code, const QStringList &lines)
{
    QByteArray bytes;
    for (int i = 0; i < lines.size(); ++i) {
        const bool last = i == lines.size() - 1;
        if (i == 0 || last)
            bytes += QByteArray::number(code) + (last ? ' ' : '-');
        else
            bytes += ' ';
        bytes += lines.at(i).toLatin1() + "\r\n";
    }
    m_replies->send(bytes, m_server->m_faults.replyDelay());
}

void FtpSession::refuse(int code)
{
    reply(code, refusalText(code));
    if (code == 421)
        closeAfterReplies();
}

void FtpSession::closeAfterReplies()
{
    m_state = State::Closing;
    release();
    QPointer<QTcpSocket> control(m_control);
    m_replies->send(QByteArray(), 0, [control] {
        if (control)
            control->disconnectFromHost();
    });
}

// --- Login --------------------------------------------------------------

void FtpSession::cmdUser(const QString &argument)
{
    if (m_state == State::LoggedIn) {
        reply(530, QStringLiteral("Can't change to another user."));
        return;
    }
    // Any name gets the password prompt; the password step refuses both
    // together, so a wrong name is not told apart from a wrong password.
    m_userName = argument;
    m_state = State::AwaitingPassword;
    reply(331, QStringLiteral("Please specify the password."));
}

void FtpSession::cmdPass(const QString &argument)
{
    if (m_state == State::LoggedIn) {
        reply(230, QStringLiteral("Already logged in."));
        return;
    }
    if (m_state != State::AwaitingPassword) {
        reply(503, QStringLiteral("Login with USER first."));
        return;
    }
    const bool accepted = m_userName == QLatin1String(InstrumentServer::userName)
                       && argument == QLatin1String(InstrumentServer::password);
    m_userName.clear();
    if (!accepted) {
        m_state = State::AwaitingUser;
        reply(530, QStringLiteral("Login incorrect."));
        return;
    }
    m_state = State::LoggedIn;
    m_cwd.clear();
    reply(230, QStringLiteral("Login successful."));
}

// --- Simple commands ------------------------------------------------------

void FtpSession::cmdSyst(const QString &)
{
    reply(215, QStringLiteral("UNIX Type: L8"));
}

void FtpSession::cmdFeat(const QString &)
{
    if (m_server->m_faults.isMinimal())
        replyLines(211, { QStringLiteral("Features:"), QStringLiteral("PASV"), QStringLiteral("End") });
    else
        replyLines(211, { QStringLiteral("Features:"), QStringLiteral("EPSV"), QStringLiteral("PASV"),
                          QStringLiteral("SIZE"), QStringLiteral("End") });
}

void FtpSession::cmdType(const QString &argument)
{
    const QString type = argument.toUpper();
    if (type == QLatin1String("I") || type == QLatin1String("L 8")) {
        m_binary = true;
        reply(200, QStringLiteral("Switching to Binary mode."));
    } else if (type == QLatin1String("A") || type == QLatin1String("A N")) {
        m_binary = false;
        reply(200, QStringLiteral("Switching to ASCII mode."));
    } else if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
    } else {
        reply(504, QStringLiteral("Command not implemented for that parameter."));
    }
}

// "ALLO n" or "ALLO n R m" (RFC 959). Nothing needs reserving here, but a
// malformed size is the client's mistake and is told as such.
void FtpSession::cmdAllo(const QString &argument)
{
    static const QRegularExpression form(QStringLiteral("^\\d{1,18}( R \\d{1,18})?$"));
    if (!form.match(argument).hasMatch()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    reply(202, QStringLiteral("No storage allocation necessary."));
}

void FtpSession::cmdNoop(const QString &)
{
    reply(200, QStringLiteral("NOOP ok."));
}

void FtpSession::cmdQuit(const QString &)
{
    reply(221, QStringLiteral("Goodbye."));
    closeAfterReplies();
}

// --- Folders --------------------------------------------------------------

void FtpSession::cmdPwd(const QString &)
{
    reply(257, quotedPath(m_cwd) + QStringLiteral(" is the current directory"));
}

void FtpSession::cmdCwd(const QString &argument)
{
    if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    // The instrument's own step back: a blank and two dots lead to the top
    // folder from anywhere, unlike "..".
    if (argument == topFolderStep) {
        m_cwd.clear();
        reply(250, QStringLiteral("Directory successfully changed."));
        return;
    }
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, argument);
    if (!where.valid || !where.isFolder) {
        reply(550, QStringLiteral("Failed to change directory."));
        return;
    }
    m_cwd = where.virtualPath;
    reply(250, QStringLiteral("Directory successfully changed."));
}

void FtpSession::cmdCdup(const QString &)
{
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, QStringLiteral(".."));
    if (!where.valid || !where.isFolder) {
        reply(550, QStringLiteral("Failed to change directory."));
        return;
    }
    m_cwd = where.virtualPath;
    reply(250, QStringLiteral("Directory successfully changed."));
}

void FtpSession::cmdMkd(const QString &argument)
{
    if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    // The instrument resolves MKD from its top folder, wherever the session is.
    const ServedTree::Location where = m_server->tree().resolve(QString(), argument);
    if (where.valid && where.exists) {
        reply(550, QStringLiteral("File exists"));
        return;
    }
    if (where.valid && !isAcceptableName(ServedTree::fileName(where.virtualPath))) {
        reply(553, QStringLiteral("Requested action not taken. File name not allowed."));
        return;
    }
    if (!where.valid || !QDir().mkdir(where.diskPath)) {
        reply(550, QStringLiteral("Create directory operation failed."));
        return;
    }
    reply(257, quotedPath(where.virtualPath) + QStringLiteral(" created"));
}

bool FtpSession::isAcceptableName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.toUtf8().size() > 255)
        return false;
    if (name.startsWith(QLatin1Char(' ')) || name.endsWith(QLatin1Char(' ')))
        return false;
    static const QString forbidden = QStringLiteral("\\:*?\"<>|");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c))
            return false;
    }
    return true;
}

// --- Files ----------------------------------------------------------------

void FtpSession::cmdSize(const QString &argument)
{
    if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, argument);
    if (!where.valid || !where.isFile) {
        reply(550, QStringLiteral("Could not get file size."));
        return;
    }
    reply(213, QString::number(QFileInfo(where.diskPath).size()));
}

void FtpSession::cmdRetr(const QString &argument)
{
    if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    if (!m_passive) {
        reply(425, QStringLiteral("Use PASV or EPSV first."));
        return;
    }
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, argument);
    if (!where.valid || !where.exists) {
        reply(550, QStringLiteral("Failed to open file."));
        return;
    }
    if (!where.isFile) {
        reply(550, QStringLiteral("Not a plain file."));
        return;
    }
    awaitDataConnection({ QStringLiteral("RETR"), where, QByteArray() });
}

void FtpSession::cmdStor(const QString &argument)
{
    if (argument.isEmpty()) {
        reply(501, QStringLiteral("Syntax error in parameters or arguments."));
        return;
    }
    if (!m_passive) {
        reply(425, QStringLiteral("Use PASV or EPSV first."));
        return;
    }
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, argument);
    if (where.valid && !isAcceptableName(ServedTree::fileName(where.virtualPath))) {
        reply(553, QStringLiteral("Requested action not taken. File name not allowed."));
        return;
    }
    if (!where.valid || (where.exists && !where.isFile)
        || !QFileInfo(QFileInfo(where.diskPath).absolutePath()).isDir()) {
        reply(550, QStringLiteral("Could not create file."));
        return;
    }
    awaitDataConnection({ QStringLiteral("STOR"), where, QByteArray() });
}

void FtpSession::cmdList(const QString &argument)
{
    if (!m_passive) {
        reply(425, QStringLiteral("Use PASV or EPSV first."));
        return;
    }
    // Clients send options such as "-a" or "-la" that an ls would take.
    QString path = argument;
    while (path.startsWith(QLatin1Char('-'))) {
        const int blank = path.indexOf(QLatin1Char(' '));
        path = blank < 0 ? QString() : path.mid(blank + 1);
    }
    const ServedTree::Location where = m_server->tree().resolve(m_cwd, path);
    if (!where.valid || !where.exists) {
        reply(550, QStringLiteral("Could not list: no such file or folder."));
        return;
    }
    awaitDataConnection({ QStringLiteral("LIST"), where, listingOf(where) });
}

QByteArray FtpSession::listingOf(const ServedTree::Location &location) const
{
    const ListingFormatter formatter;
    const FaultPlan &faults = m_server->m_faults;
    auto lineFor = [&](const QFileInfo &entry, const QString &virtualPath) {
        qint64 size = entry.isSymLink() ? entry.symLinkTarget().toUtf8().size() : entry.isDir() ? 4096 : entry.size();
        if (const auto lie = faults.reportedSizeFor(virtualPath))
            size = *lie;
        return formatter.line(entry, size);
    };
    if (!location.isFolder)
        return lineFor(QFileInfo(location.diskPath), location.virtualPath);

    QByteArray listing;
    const QDir folder(location.diskPath);
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    const QString prefix = location.virtualPath.isEmpty() ? QString() : location.virtualPath + QLatin1Char('/');
    for (const QFileInfo &entry : entries) {
        // A name an 8-bit instrument cannot hold is not on it.
        if (entry.fileName() == QString::fromLatin1(entry.fileName().toLatin1()))
            listing += lineFor(entry, prefix + entry.fileName());
    }
    return listing;
}

// --- Data connections -------------------------------------------------------

bool FtpSession::openPassive()
{
    // A new PASV replaces an unused one, as on any server.
    delete m_passive;
    m_passive = new PassiveDataPort(this);
    if (m_passive->listen())
        return true;
    delete m_passive;
    return false;
}

void FtpSession::cmdPasv(const QString &)
{
    if (!openPassive()) {
        reply(425, QStringLiteral("Can't open passive connection."));
        return;
    }
    const quint16 port = m_passive->port();
    reply(227, QStringLiteral("Entering Passive Mode (127,0,0,1,%1,%2).").arg(port >> 8).arg(port & 0xFF));
}

void FtpSession::cmdEpsv(const QString &argument)
{
    if (argument.compare(QLatin1String("ALL"), Qt::CaseInsensitive) == 0) {
        reply(200, QStringLiteral("EPSV ALL ok."));
        return;
    }
    if (!argument.isEmpty() && argument != QLatin1String("1")) {
        reply(522, QStringLiteral("Network protocol not supported, use (1)"));
        return;
    }
    if (!openPassive()) {
        reply(425, QStringLiteral("Can't open passive connection."));
        return;
    }
    reply(229, QStringLiteral("Entering Extended Passive Mode (|||%1|)").arg(m_passive->port()));
}

void FtpSession::awaitDataConnection(const PendingTransfer &transfer)
{
    m_pending = transfer;
    if (m_passive->hasConnection()) {
        startTransfer();
        return;
    }
    m_state = State::AwaitingDataConnection;
    connect(m_passive, &PassiveDataPort::connectionArrived, this, &FtpSession::startTransfer);
    m_dataTimer.start(m_server->m_dataConnectionTimeout);
}

void FtpSession::onDataTimeout()
{
    if (m_state != State::AwaitingDataConnection)
        return;
    delete m_passive;
    m_pending = PendingTransfer();
    m_state = State::LoggedIn;
    reply(425, QStringLiteral("Failed to establish connection."));
    readCommands();
}

TransferLimits FtpSession::limitsFor(const PendingTransfer &transfer) const
{
    TransferLimits limits;
    limits.bytesPerSecond = m_server->m_faults.rateLimit();
    if (transfer.verb != QLatin1String("LIST")) {
        limits.cutAfterBytes = m_server->m_faults.cutFor(transfer.location.virtualPath);
        limits.asciiLineEnds = !m_binary;
    }
    if (transfer.verb == QLatin1String("STOR"))
        limits.shortStoreBytes = m_server->m_faults.shortStoreFor(transfer.location.virtualPath);
    return limits;
}

void FtpSession::startTransfer()
{
    m_dataTimer.stop();
    QTcpSocket *data = m_passive->takeConnection();
    m_passive->deleteLater();
    m_passive = nullptr;
    const PendingTransfer transfer = m_pending;
    m_pending = PendingTransfer();
    m_running = transfer;
    if (!data) {
        m_state = State::LoggedIn;
        reply(425, QStringLiteral("Can't open data connection."));
        readCommands();
        return;
    }
    const TransferLimits limits = limitsFor(transfer);
    const QString name = ServedTree::fileName(transfer.location.virtualPath);

    SendTransfer *sender = nullptr;
    ReceiveTransfer *receiver = nullptr;
    QString opening;
    if (transfer.verb == QLatin1String("LIST")) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(transfer.listing);
        buffer->open(QIODevice::ReadOnly);
        sender = new SendTransfer(data, std::move(buffer), limits, this);
        opening = QStringLiteral("Here comes the directory listing.");
    } else if (transfer.verb == QLatin1String("RETR")) {
        auto file = std::make_unique<QFile>(transfer.location.diskPath);
        if (!file->open(QIODevice::ReadOnly)) {
            delete data;
            m_state = State::LoggedIn;
            reply(550, QStringLiteral("Failed to open file."));
            readCommands();
            return;
        }
        opening = QStringLiteral("Opening %1 mode data connection for %2 (%3 bytes).")
                      .arg(m_binary ? QStringLiteral("BINARY") : QStringLiteral("ASCII"), name)
                      .arg(file->size());
        sender = new SendTransfer(data, std::move(file), limits, this);
    } else {
        auto file = std::make_unique<QFile>(transfer.location.diskPath);
        // Not truncated here: the receiver writes over the old content and
        // sets the length when the transfer ends (see ReceiveTransfer).
        // Unbuffered, so that what it counts as stored is in the file.
        if (!file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            delete data;
            m_state = State::LoggedIn;
            reply(550, QStringLiteral("Could not create file."));
            readCommands();
            return;
        }
        receiver = new ReceiveTransfer(data, std::move(file), limits, this);
        opening = QStringLiteral("Ok to send data.");
    }

    m_state = State::Transferring;
    if (sender) {
        m_transfer = sender;
        connect(sender, &SendTransfer::finished, this, &FtpSession::onTransferFinished);
    } else {
        m_transfer = receiver;
        connect(receiver, &ReceiveTransfer::finished, this, &FtpSession::onTransferFinished);
    }
    // Data flows only once the client has been told to expect it.
    QPointer<SendTransfer> guardedSender(sender);
    QPointer<ReceiveTransfer> guardedReceiver(receiver);
    reply(150, opening, [guardedSender, guardedReceiver] {
        if (guardedSender)
            guardedSender->start();
        if (guardedReceiver)
            guardedReceiver->start();
    });
}

void FtpSession::onTransferFinished(TransferOutcome outcome)
{
    if (m_transfer)
        m_transfer->deleteLater();
    m_transfer = nullptr;
    if (m_state != State::Transferring)
        return;
    m_state = State::LoggedIn;
    switch (outcome) {
    case TransferOutcome::Completed:
        if (const int code = m_server->m_faults.answerAfterFor(m_running.verb, m_running.location.virtualPath))
            reply(code, refusalText(code));
        else
            reply(226, QStringLiteral("Transfer complete."));
        break;
    case TransferOutcome::Cut:
    case TransferOutcome::PeerClosed:
        reply(426, QStringLiteral("Connection closed; transfer aborted."));
        break;
    case TransferOutcome::LocalError:
        reply(451, QStringLiteral("Requested action aborted: local error in processing."));
        break;
    }
    readCommands();
}
