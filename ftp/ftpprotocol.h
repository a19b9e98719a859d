#pragma once

// Internal to r9ftp: the protocol interpreter behind FtpClient's queue.

#include "ftp/datachannel.h"
#include "ftp/ftpclient.h"
#include "ftp/replyparser.h"
#include "ftp/socketdisposal.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <optional>

class QTcpSocket;

// One queued command and its arguments.
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

// The command queue, as the interpreter sees it.
class FtpCommandQueue
{
public:
    // The command being carried out; null when none is, and while the one
    // that ended is being reported.
    virtual const FtpCommandRequest *runningCommand() const = 0;
    // Why the running command fails, recorded before the interpreter tidies
    // up, so that slots of the signals that tidying emits can read it.
    virtual void setCommandError(const QString &reason, FtpClient::Error code) = 0;
    // Reports the running command's end, then starts the next one or
    // reports done().
    virtual void finishCommand(bool failed) = 0;
    // The connection can take the next command again.
    virtual void scheduleStart() = 0;
    // The replies read in one go have been handled: a command held back
    // meanwhile may start.
    virtual void repliesHandled() = 0;

    // Emits through `emitSignal`, whose slots may end the running command or
    // delete the client; true when the same command still runs afterwards.
    template <typename Emit>
    bool stillRunningAfter(Emit &&emitSignal)
    {
        const QPointer<FtpClient> guard(client());
        const quint64 token = runToken();
        emitSignal();
        return guard && runToken() == token && runningCommand();
    }

protected:
    ~FtpCommandQueue() = default;
    virtual FtpClient *client() const = 0;
    // Changes whenever a command ends.
    virtual quint64 runToken() const = 0;
};

// Carries out the queue's running command on the control connection: the
// one place that reads replies and moves the command on, the data
// connection of transfers, and the time limits.
class FtpProtocol
{
public:
    enum class Connection { Keep, Drop };

    FtpProtocol(FtpClient *client, FtpCommandQueue &queue);
    ~FtpProtocol();

    // Starts the running command.
    void execute();
    // Ends the running command with an error; the connection is dropped, or
    // kept and made ready for the next command.
    void failCommand(const QString &reason, Connection connection = Connection::Keep,
                     FtpClient::Error code = FtpClient::UnknownError);
    // The running command is ending, before its end is reported.
    void commandEnding();
    // The answer to an interrupted command is still due: only a new
    // connection or a close may start meanwhile.
    bool awaitsSkippedReply() const { return m_step == Step::Resync; }
    // Replies just read are being handled: the next command waits for
    // repliesHandled(), lest it take one of them for its own.
    bool readingReplies() const { return m_readingReplies; }

    FtpClient::State state() const { return m_state; }
    int connectTimeout() const { return m_connectTimeout; }
    void setConnectTimeout(int msecs) { m_connectTimeout = msecs; }
    int idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(int msecs) { m_idleTimeout = msecs; }

private:
    // What the control connection waits for.
    enum class Step {
        Idle, Connecting, Greeting, User, Pass, Type, Size, Epsv, Pasv, Transfer, Cwd, Mkd,
        Quit, Disconnecting,
        // Skipping the replies still due for a command that ended early.
        Resync
    };

    const FtpCommandRequest &command() const { return *m_queue.runningCommand(); }
    bool requireConnection();
    QIODevice *prepareDevice();

    void startConnect();
    bool send(const QString &line);
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
    void connectionLost(const QString &reason);

    void handleReply(const FtpReply &reply);
    void handleResyncReply(const FtpReply &reply);
    void handleGreetingReply(const FtpReply &reply);
    void handleLoginReply(const FtpReply &reply);
    void handleFolderReply(const FtpReply &reply);
    void handleTypeReply(const FtpReply &reply);
    void handleSizeReply(const FtpReply &reply);
    void handlePassiveReply(const FtpReply &reply);
    void handleTransferReply(const FtpReply &reply);
    void refused(const FtpReply &reply);
    void unexpected(const FtpReply &reply);

    void onDataProgress(qint64 bytes);
    void onDataFinished();
    void onListingLine(const QByteArray &line);
    void onDataLimitPassed();
    void completeTransferIfDone();
    bool reportProgress(qint64 bytes, bool final);

    void dropControlConnection();
    void discardControlSocket();
    bool changeState(FtpClient::State newState);

    void armTimer(int limit);
    void noteActivity() { m_activity.start(); }
    void onTimer();

    FtpClient *const m_client;
    FtpCommandQueue &m_queue;
    FtpClient::State m_state = FtpClient::Unconnected;

    QTcpSocket *m_control = nullptr;
    SocketDisposal m_disposal;
    FtpReplyParser m_replies;
    bool m_readingReplies = false;
    Step m_step = Step::Idle;
    int m_repliesToSkip = 0;
    std::optional<FtpClient::TransferType> m_transferType;
    bool m_extendedPassiveRefused = false;

    FtpDataChannel m_data;
    // The total reported in dataTransferProgress(); 0 while unknown.
    qint64 m_transferTotal = 0;
    // The most a download may receive: its announced size; -1: no limit.
    qint64 m_downloadLimit = -1;
    int m_listingLines = 0;
    bool m_finalReplySeen = false;
    bool m_dataEnded = false;
    qint64 m_reportedBytes = -1;
    qint64 m_reportedTotal = -1;
    QElapsedTimer m_progressClock;

    static constexpr int defaultTimeout = 30 * 1000;
    QTimer m_timer;
    QElapsedTimer m_activity;
    int m_timerLimit = 0;
    int m_connectTimeout = defaultTimeout;
    int m_idleTimeout = defaultTimeout;
};
