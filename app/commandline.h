#pragma once

#include "app/progressreport.h"
#include "connection/instrumentendpoint.h"
#include "connection/instrumentsession.h"

#include <QObject>
#include <QStringList>
#include <QTextStream>

#include <memory>
#include <optional>

class FtpClient;
class QCoreApplication;
class QIODevice;

// What one run of the command line is asked to do.
struct CommandRequest
{
    enum Command { List, Compare, Backup, Clone, Restore, Update };
    Command command = List;
    QString folder;        // absolute; empty for List
    bool content = false;  // Compare: byte for byte
    bool verbose = false;  // the debug trace lines too
    InstrumentEndpoint endpoint;
};

// The arguments, read: a request to run, or else what to print and the
// status to end with.
struct ParsedArguments
{
    std::optional<CommandRequest> request;
    QString output;  // --help, --version
    QString error;   // a usage error, for standard error
    int status = 0;
};

// `compiledIn` is the instrument's endpoint of this build: only a build
// that talks to a loopback address takes --port.
ParsedArguments parseArguments(const QStringList &arguments, const InstrumentEndpoint &compiledIn);

// Whether these arguments ask for the command line rather than the window:
// a command, one of its options, or a first argument that is no option.
// Qt's own options (-platform, -style...) alone still open the window.
bool wantsCommandLine(const QStringList &arguments);

// One argument of the program as the system gave it. A folder whose name is
// not in the system's encoding (not valid UTF-8, say) cannot be told in a
// QString without changing it: it is opened here and named by its handle.
QString argumentFromSystem(const char *argument);

// Runs what `arguments` (the program's, read by argumentFromSystem) ask;
// the exit status.
int runCommandLine(QCoreApplication &app, const QStringList &arguments);

// One run of the command line: connects, walks, does the one thing asked
// through the same engine as the window, says how it went as soon as that
// is decided, and then closes the connection.
class CommandLine : public QObject
{
    Q_OBJECT

public:
    // A stop by a signal ends with 128 + its number (Interrupted: Ctrl+C).
    enum Status { Success = 0, Differences = 1, Failure = 2, UsageError = 64, Interrupted = 130 };

    // `terminalWidth`: the columns of standard error when it is a terminal, else 0.
    CommandLine(const CommandRequest &request, QIODevice *out, QIODevice *err, int terminalWidth,
                QObject *parent = nullptr);
    ~CommandLine() override;

    FtpClient *client() const { return m_client; }
    InstrumentSession *session() const { return m_session; }

    void start();
    // As Disconnect: the running command is stopped, its partial file
    // dropped, what arrived whole kept. Once the outcome is known, a stop
    // only cuts the close short; a second stop ends at once.
    void stop(int signalNumber = 2);

signals:
    void finished(int status);

private:
    void startWork();
    void onOperationFinished(const OperationResult &result);
    void printListing();
    void printComparison(const QList<ComparedFile> &files);
    void conclude(int status, const QString &text);
    void closeOrEnd();
    void end();

    CommandRequest m_request;
    QTextStream m_out;
    QTextStream m_err;
    ProgressReport m_progress;
    FtpClient *m_client;
    InstrumentSession *m_session;
    int m_status = Success;
    bool m_concluded = false;
    bool m_saving = false;
    bool m_stopRequested = false;
    int m_stopStatus = Interrupted;
    bool m_ended = false;
};
