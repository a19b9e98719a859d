#pragma once

#include "comparison.h"
#include "progressreport.h"

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

// Reads the arguments of `app` and runs what they ask; the exit status.
int runCommandLine(QCoreApplication &app);

// One run of the command line: connects, walks, does the one thing asked
// through the same engine as the window, closes, and says how it went.
class CommandLine : public QObject
{
    Q_OBJECT

public:
    enum Status { Success = 0, Differences = 1, Failure = 2, UsageError = 64, Interrupted = 130 };

    // `terminalWidth`: the columns of standard error when it is a terminal, else 0.
    CommandLine(const CommandRequest &request, QIODevice *out, QIODevice *err, int terminalWidth,
                QObject *parent = nullptr);
    ~CommandLine() override;

    FtpClient *client() const { return m_client; }
    InstrumentSession *session() const { return m_session; }

    void start();
    // As Disconnect: the running command is stopped, its partial file
    // dropped, earlier copies kept. A second stop ends at once.
    void stop();

signals:
    void finished(int status);

private:
    enum class Phase { Connecting, Operating, Comparing, Finishing };

    void onWalkFinished();
    void onQueueDone(bool error);
    void onStateChanged(int state);
    void onOperationEnded(InstrumentSession::Operation operation, const InstrumentSession::Result &result);
    void startWork();
    void startOperation(InstrumentSession::Operation operation);
    void operationOver(bool error);
    void startComparison();
    void comparisonOver(bool error);
    void printListing();
    void printComparison();
    void finish(int status, const QString &result);
    void closeWhenIdle();
    bool clientIdle() const;

    CommandRequest m_request;
    QTextStream m_out;
    QTextStream m_err;
    ProgressReport m_progress;
    FtpClient *m_client;
    InstrumentSession *m_session;
    Phase m_phase = Phase::Connecting;
    bool m_walked = false;
    InstrumentSession::Operation m_operation = InstrumentSession::Operation::DataBackup;
    std::optional<InstrumentSession::Result> m_result;
    QList<ComparedFile> m_files;
    ContentComparison *m_comparison = nullptr;
    int m_status = Success;
    bool m_closeRequested = false;
    bool m_stopped = false;
    bool m_ended = false;
};
