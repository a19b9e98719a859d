#include "app/commandline.h"

#include "app/stopsignals.h"
#include "ftp/ftpclient.h"
#include "operations/comparison.h"
#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iterator>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#ifndef R9_VERSION
#define R9_VERSION "0"
#endif


namespace {

struct CommandName
{
    const char *name;
    CommandRequest::Command command;
};

const CommandName commandNames[] = {
    {"list", CommandRequest::List},       {"compare", CommandRequest::Compare}, {"backup", CommandRequest::Backup},
    {"clone", CommandRequest::Clone},     {"restore", CommandRequest::Restore}, {"update", CommandRequest::Update},
};

const char description[] =
    "Maintenance of an R9 instrument over its FTP service, without a window.\n"
    "With no argument, r9-update opens its window.\n"
    "\n"
    "Commands (each connects, lists the instrument's folders, does its work\n"
    "and closes; DIR is a folder on the PC):\n"
    "  list          the instrument's files by folder, with their sizes\n"
    "  backup DIR    as Data Backup(PC): the data folders, INIE91.CFG and\n"
    "                INIE91.FLS into DIR\n"
    "  clone DIR     as Clone R9(on PC): every file of the instrument into DIR\n"
    "  restore DIR   as Data Restore: the data set in DIR to the instrument\n"
    "  update DIR    as Update/Restore: the complete file set in DIR to the\n"
    "                instrument\n"
    "  compare DIR   the instrument against DIR laid out as Clone writes it:\n"
    "                each file same, differs, only on instrument or only on PC,\n"
    "                with its folder and both sizes. Reads only, on both sides.\n"
    "\n"
    "Progress goes to standard error, the result to standard output. Ctrl+C,\n"
    "SIGTERM or SIGHUP (a dropped session) stops as Disconnect does: the file\n"
    "in transfer is dropped, what arrived whole is kept, earlier copies stay\n"
    "as they were. A closed output (| head) only silences the output.\n"
    "\n"
    "Exit status:\n"
    "  0    completed; compare: identical\n"
    "  1    incomplete; compare: differences\n"
    "  2    folder refused, connection or login failed, any FTP error\n"
    "  64   usage error\n"
    "  129  stopped by SIGHUP\n"
    "  130  stopped by Ctrl+C (SIGINT)\n"
    "  143  stopped by SIGTERM";

QString titleOf(CommandRequest::Command command)
{
    for (const CommandName &entry : commandNames) {
        if (entry.command == command)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

Operation operationOf(CommandRequest::Command command)
{
    switch (command) {
    case CommandRequest::Clone: return Operation::Clone;
    case CommandRequest::Restore: return Operation::DataRestore;
    case CommandRequest::Update: return Operation::Update;
    default: return Operation::DataBackup;
    }
}

int terminalWidth()
{
#ifdef Q_OS_UNIX
    if (!::isatty(STDERR_FILENO))
        return 0;
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
#else
    return 0;
#endif
}

QString filesText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

QString sizeText(qint64 size)
{
    if (size == ComparedFile::absent)
        return QStringLiteral("-");
    return size < 0 ? QStringLiteral("too large") : QString::number(size);
}

QString ftpError(const QString &text)
{
    return QStringLiteral("FTP Error: ") + text;
}

// Columns two blanks apart; the last is not padded.
QString table(const QList<QStringList> &rows, const QList<bool> &rightAligned)
{
    QList<qsizetype> widths(rightAligned.size(), 0);
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : rows) {
        QStringList cells;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (rightAligned.at(i))
                cells << row.at(i).rightJustified(widths.at(i));
            else
                cells << (i + 1 == row.size() ? row.at(i) : row.at(i).leftJustified(widths.at(i)));
        }
        text += cells.join(QStringLiteral("  ")) + u'\n';
    }
    return text;
}

} // namespace

// --- Arguments -----------------------------------------------------------------------

ParsedArguments parseArguments(const QStringList &arguments, const InstrumentEndpoint &compiledIn)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption content(QStringLiteral("content"),
                                     QStringLiteral("compare: fetch each file of equal size and compare it byte "
                                                    "for byte as it arrives; nothing is written anywhere."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Write the tool's debug trace on standard error as well."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Connect to port <N> of %1 instead of %2, e.g. to a stand-in. "
                                                 "Only builds for a loopback address take it.")
                                      .arg(compiledIn.host)
                                      .arg(compiledIn.port),
                                  QStringLiteral("N"));
    parser.addOption(content);
    parser.addOption(verbose);
    // A field build can never be pointed anywhere but at its instrument.
    if (QHostAddress(compiledIn.host).isLoopback())
        parser.addOption(port);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, backup, clone, restore, update or compare."));
    parser.addPositionalArgument(QStringLiteral("dir"), QStringLiteral("The folder on the PC (all but list)."),
                                 QStringLiteral("[dir]"));

    ParsedArguments parsed;
    const auto usageError = [&parsed](const QString &text) {
        parsed.error = QStringLiteral("r9-update: %1\nTry 'r9-update --help'.\n").arg(text);
        parsed.status = CommandLine::UsageError;
        return parsed;
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        parsed.output = parser.helpText();
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.output = QStringLiteral("r9-update " R9_VERSION "\n");
        return parsed;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QStringLiteral("Name a command: list, backup, clone, restore, update or compare."));
    const auto named = std::find_if(std::begin(commandNames), std::end(commandNames),
                                    [&](const CommandName &entry) { return positional.first() == QLatin1String(entry.name); });
    if (named == std::end(commandNames))
        return usageError(QStringLiteral("Unknown command: %1").arg(positional.first()));
    CommandRequest request;
    request.command = named->command;
    const qsizetype wanted = request.command == CommandRequest::List ? 1 : 2;
    if (positional.size() != wanted)
        return usageError(wanted == 1 ? QStringLiteral("list takes no folder.")
                                      : QStringLiteral("%1 takes one folder.").arg(positional.first()));
    if (wanted == 2) {
        if (positional.at(1).isEmpty())
            return usageError(QStringLiteral("Select a Valid Folder"));
        request.folder = QDir::cleanPath(QFileInfo(positional.at(1)).absoluteFilePath());
    }
    request.content = parser.isSet(content);
    if (request.content && request.command != CommandRequest::Compare)
        return usageError(QStringLiteral("--content goes with compare only."));
    request.verbose = parser.isSet(verbose);
    request.endpoint = compiledIn;
    if (parser.isSet(port)) {
        bool ok = false;
        const uint number = parser.value(port).toUInt(&ok);
        if (!ok || number == 0 || number > 65535)
            return usageError(QStringLiteral("--port takes a number from 1 to 65535."));
        request.endpoint.port = quint16(number);
    }
    parsed.request = request;
    return parsed;
}

bool wantsCommandLine(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return false;
    if (!arguments.at(1).startsWith(u'-'))
        return true;
    static const QStringList ours = {"-h", "--help", "--help-all", "-v", "--version", "--content", "--verbose",
                                     "--port"};
    for (const QString &argument : arguments.mid(1)) {
        if (ours.contains(argument.section(u'=', 0, 0)))
            return true;
        for (const CommandName &entry : commandNames) {
            if (argument == QLatin1String(entry.name))
                return true;
        }
    }
    return false;
}

QString argumentFromSystem(const char *argument)
{
    const QString decoded = QString::fromLocal8Bit(argument);
#if defined(Q_OS_LINUX)
    if (QFile::encodeName(decoded) != QByteArray(argument)) {
        // The kernel resolves the handle's name to the very folder, and the
        // handle stays open for the whole run.
        const int fd = ::open(argument, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            return QStringLiteral("/proc/self/fd/%1").arg(fd);
    }
#endif
    return decoded;
}

int runCommandLine(QCoreApplication &app, const QStringList &arguments)
{
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    const ParsedArguments parsed = parseArguments(arguments, instrumentEndpoint());
    if (!parsed.request) {
        out.write(parsed.output.toUtf8());
        err.write(parsed.error.toUtf8());
        return parsed.status;
    }
    // The trace lines would break up the progress and the result; asked
    // for, they come with the tool's own accounts of every layer.
    QLoggingCategory::setFilterRules(parsed.request->verbose ? QStringLiteral("r9.*.debug=true")
                                                             : QStringLiteral("default.debug=false"));

    CommandLine commandLine(*parsed.request, &out, &err, terminalWidth());
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &commandLine, &CommandLine::stop);
    QObject::connect(&commandLine, &CommandLine::finished, &app, &QCoreApplication::exit);
    QTimer::singleShot(0, &commandLine, &CommandLine::start);
    return app.exec();
}

// --- One run ---------------------------------------------------------------------------

CommandLine::CommandLine(const CommandRequest &request, QIODevice *out, QIODevice *err, int terminalWidth,
                         QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_out(out)
    , m_err(err)
    , m_progress(m_err, terminalWidth)
    , m_client(new FtpClient)
    , m_session(new InstrumentSession(m_client))
{
    connect(m_session, &InstrumentSession::walkFinished, this, &CommandLine::startWork);
    connect(m_session, &InstrumentSession::walkFailed, this,
            [this](const ::Failure &failure) { conclude(Failure, ftpError(failure.text)); });
    connect(m_session, &InstrumentSession::operationFinished, this, &CommandLine::onOperationFinished);
    connect(m_session, &InstrumentSession::connectionClosed, this, [this] {
        if (m_concluded)
            end();
    });
    connect(m_session, &InstrumentSession::labelChanged, this, [this](const QString &text) {
        // Once the outcome is printed, the closing states would only follow it.
        if (!m_concluded)
            m_progress.status(text);
    });
    connect(m_session, &InstrumentSession::operationStarted, this, [this](Operation, int count) {
        m_progress.begin(titleOf(m_request.command), count);
    });
    connect(m_session, &InstrumentSession::transferStarted, this,
            [this](int number, int, const QString &path) { m_progress.fileStarted(number, path); });
    connect(m_session, &InstrumentSession::transferFinished, this,
            [this](int, bool ended) { m_progress.fileEnded(ended); });
    connect(m_session, &InstrumentSession::progressChanged, this,
            [this](qint64 done, qint64 total) { m_progress.fileProgress(done, total); });
    connect(m_session, &InstrumentSession::operationProgressChanged, this,
            [this](qint64 done, qint64 total) { m_progress.overall(done, total); });
    connect(m_session, &InstrumentSession::saving, this, [this] {
        m_saving = true;
        m_progress.saving();
    });
}

CommandLine::~CommandLine()
{
    // The engine goes first: it puts what arrived whole in place and lets
    // go of the client's reports before the client goes.
    delete m_session;
    delete m_client;
}

void CommandLine::start()
{
    // As mkdir would: a backup or clone may make the last level of the
    // folder it is told to write into, and says so.
    const bool writes = m_request.command == CommandRequest::Backup || m_request.command == CommandRequest::Clone;
    const QFileInfo folder(m_request.folder);
    // A name that lost characters in decoding is never made: it would not
    // be the folder asked for.
    if (writes && !folder.exists() && !folder.isSymLink() && QFileInfo(folder.path()).isDir()
        && !m_request.folder.contains(QChar::ReplacementCharacter) && QDir().mkdir(m_request.folder)) {
        m_err << "r9-update: made the folder " << QDir::toNativeSeparators(m_request.folder) << '\n';
        m_err.flush();
    }
    if (!m_request.folder.isEmpty() && !QFileInfo(m_request.folder).isDir()) {
        conclude(Failure, QStringLiteral("PATH ERROR: Select a Valid Folder: ") + QDir::toNativeSeparators(m_request.folder));
        return;
    }
    m_session->connectToDevice(m_request.endpoint);
}

void CommandLine::stop(int signalNumber)
{
    if (m_ended)
        return;
    // The outcome stands; the stop only cuts the close short. A second stop
    // before the outcome ends the run as stopped (what is being saved is
    // still put in place as the engine goes).
    if (m_concluded || m_stopRequested) {
        if (!m_concluded)
            m_status = m_stopStatus;
        end();
        return;
    }
    m_stopRequested = true;
    m_stopStatus = 128 + signalNumber;
    // Once the last byte has arrived, the files being saved make the
    // outcome: the run ends as it would have.
    if (m_saving)
        return;
    // An operation that stops says so with its result: the last file may
    // have arrived already, and then the result is the true one.
    const bool operating = m_session->isOperationRunning();
    m_session->disconnectFromDevice();
    if (!operating)
        conclude(m_stopStatus, QString());
}

void CommandLine::startWork()
{
    switch (m_request.command) {
    case CommandRequest::List:
        printListing();
        conclude(Success, QString());
        break;
    case CommandRequest::Compare:
        m_session->startOperation(Operation::Compare, m_request.folder, m_request.content);
        break;
    default:
        m_session->startOperation(operationOf(m_request.command), m_request.folder);
        break;
    }
}

void CommandLine::onOperationFinished(const OperationResult &result)
{
    m_progress.end();
    const QString summary = summaryOf(result);
    if (result.operation == Operation::Compare && result.kind == OperationResult::Completed) {
        printComparison(result.compared);
        const bool identical = std::all_of(result.compared.cbegin(), result.compared.cend(),
                                           [](const ComparedFile &file) { return file.state == ComparedFile::Same; });
        conclude(identical ? Success : Differences, QString());
        return;
    }
    switch (result.kind) {
    case OperationResult::Completed:
        conclude(Success, result.count == 0 ? QStringLiteral("No file to transfer") : summary);
        break;
    case OperationResult::Incomplete:
        conclude(Differences, summary + QStringLiteral("\n  ") + result.notDone.join(QStringLiteral("\n  ")));
        break;
    case OperationResult::Failed:
        conclude(Failure, result.operation == Operation::Compare ? ftpError(result.text)
                                                                 : ftpError(result.text) + u'\n' + summary);
        break;
    case OperationResult::Refused:
        // A download's folder in the words of the window's box, an
        // upload's set in those of its label.
        conclude(Failure, result.refusedFolder ? QStringLiteral("PATH ERROR: ") + result.text : result.text);
        break;
    case OperationResult::Stopped:
        conclude(m_stopStatus, QString());
        break;
    }
}

// --- Listing and comparison ------------------------------------------------------------

void CommandLine::printListing()
{
    const QList<RemoteEntry> &remote = m_session->tracker().remoteList();
    QList<QStringList> rows = {{QStringLiteral("Folder"), QStringLiteral("Name"), QStringLiteral("Size")}};
    for (const QString &tag : listingFolderTags) {
        for (const RemoteEntry &entry : remote) {
            if (entry.folder == tag)
                rows << QStringList{tag, printableName(entry.name), sizeText(entry.size)};
        }
    }
    m_out << table(rows, {false, false, true}) << filesText(remote.size()) << '\n';
    m_out.flush();
}

void CommandLine::printComparison(const QList<ComparedFile> &files)
{
    QList<QStringList> rows = {{QStringLiteral("Folder"), QStringLiteral("Name"), QStringLiteral("Instrument"),
                                QStringLiteral("PC"), QStringLiteral("Result")}};
    QHash<int, int> counts;
    for (const ComparedFile &file : files) {
        ++counts[file.state];
        const QString result = file.detail.isEmpty() ? stateText(file.state)
                                                     : stateText(file.state) + QStringLiteral(" (") + file.detail + u')';
        rows << QStringList{file.folder, printableName(file.name), sizeText(file.instrumentSize), sizeText(file.pcSize),
                            result};
    }
    m_out << table(rows, {false, false, true, true, false});
    if (counts.value(ComparedFile::Same) == files.size()) {
        m_out << "Identical: " << filesText(files.size())
              << (m_request.content ? ", byte for byte\n" : ", the same sizes\n");
    } else {
        m_out << "Different: " << counts.value(ComparedFile::Differs) << " differs, "
              << counts.value(ComparedFile::OnlyOnInstrument) << " only on instrument, "
              << counts.value(ComparedFile::OnlyOnPc) << " only on PC";
        if (const int unread = counts.value(ComparedFile::Unreadable) + counts.value(ComparedFile::NotFetched))
            m_out << ", " << unread << " not compared";
        m_out << "; " << counts.value(ComparedFile::Same) << " same\n";
    }
    m_out.flush();
}

// --- The end -----------------------------------------------------------------------------

// The first outcome stands and is told at once; the connection is then
// closed, and the run ends when it is.
void CommandLine::conclude(int status, const QString &text)
{
    if (m_concluded)
        return;
    m_concluded = true;
    m_status = status;
    m_progress.end();
    if (m_stopRequested && status == m_stopStatus) {
        m_err << "Interrupted\n";
        m_err.flush();
    }
    if (!text.isEmpty()) {
        m_out << text << '\n';
        m_out.flush();
    }
    closeOrEnd();
}

void CommandLine::closeOrEnd()
{
    if (m_client->state() == FtpClient::Unconnected)
        end();
    else if (m_client->currentCommand() != FtpClient::Close && !m_client->hasPendingCommands())
        m_session->close();
}

void CommandLine::end()
{
    if (m_ended)
        return;
    m_ended = true;
    emit finished(m_status);
}
