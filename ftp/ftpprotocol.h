#pragma once

// Internal to r9ftp: the protocol interpreter behind FtpClient's queue.

#include "ftp/commandqueue.h"
#include "ftp/datachannel.h"
#include "ftp/ftpclient.h"
#include "ftp/replyparser.h"
#include "ftp/signalgate.h"
#include "ftp/socketdisposal.h"
#include "ftp/timelimit.h"
#include "ftp/transferstate.h"

#include <QAbstractSocket>

#include <optional>

class QTcpSocket;

// Carries out the queue's running command on the control connection: the
// one place that reads replies and moves the command on, the data
// connection of transfers, and the time limits.
class FtpProtocol
{
public:
    enum class Connection { Keep, Drop };

    // `context` owns the sockets and receives their signals; every signal
    // of the client goes out through `gate`.
    FtpProtocol(QObject *context, FtpCommandQueue &queue, SignalGate &gate);
    ~FtpProtocol();

    // Starts the running command.
    void execute();
    // Ends the running command with an error; the connection is dropped, or
    // kept and made ready for the next command.
    void failCommand(FtpClient::Error kind, const QString &reason, Connection connection = Connection::Keep,
                     int replyCode = 0);
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
        Idle, Connecting, Greeting, User, Pass, Type, Size, Epsv, Pasv, Allo, Transfer, Cwd, Mkd,
        Quit, Disconnecting,
        // Skipping the replies still due for a command that ended early.
        Resync
    };

    const FtpCommandRequest &command() const { return *m_queue.runningCommand(); }
    bool requireConnection();

    void startConnect();
    bool send(const QString &line);
    void startClose();
    void beginTransfer();
    void sendTransferSteps();
    void enterPassiveMode();
    void openDataConnection(quint16 port);
    void sendTransferCommand();

    void onControlStateChanged(QAbstractSocket::SocketState socketState);
    void onControlConnected();
    void onControlReadyRead();
    void onControlDisconnected();
    void onControlError(QAbstractSocket::SocketError socketError);
    void connectionLost(FtpClient::Error kind, const QString &reason, int replyCode = 0);

    void handleReply(const FtpReply &reply);
    void handlePreliminaryReply(const FtpReply &reply);
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
    [[nodiscard]] bool reportProgress(qint64 bytes, bool final);

    void onTimeLimit();
    [[nodiscard]] bool dropControlConnection();
    void discardControlSocket();
    [[nodiscard]] bool changeState(FtpClient::State newState);

    QObject *const m_context;
    FtpCommandQueue &m_queue;
    SignalGate &m_gate;
    FtpClient::State m_state = FtpClient::Unconnected;

    QTcpSocket *m_control = nullptr;
    SocketDisposal m_disposal;
    FtpReplyParser m_replies;
    bool m_readingReplies = false;
    Step m_step = Step::Idle;
    int m_preliminaryReplies = 0;
    int m_repliesToSkip = 0;
    // As the server has it; unknown on a new connection.
    std::optional<FtpClient::TransferType> m_transferType;
    bool m_extendedPassiveRefused = false;

    FtpDataChannel m_data;
    TransferState m_transfer;

    TimeLimit m_limit;
    int m_connectTimeout;
    int m_idleTimeout;
};
