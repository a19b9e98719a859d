#pragma once

#include "sim/servedtree.h"
#include "sim/transferlimits.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class InstrumentServerPrivate;
class PassiveDataPort;
class QTcpSocket;
class ReplyScheduler;

// One client's control connection: reads command lines, answers them as the
// instrument does, and runs their data transfers over passive connections.
// Each session keeps its own current folder.
class FtpSession : public QObject
{
    Q_OBJECT

public:
    FtpSession(int id, QTcpSocket *control, InstrumentServerPrivate *server, QObject *parent = nullptr);
    ~FtpSession() override;

    int id() const { return m_id; }
    bool isOpen() const { return m_state != State::Closed; }
    void start();
    // Closes everything at once, without a reply.
    void drop();

signals:
    void closed(int id);

private:
    enum class State {
        AwaitingUser,
        AwaitingPassword,
        LoggedIn,
        AwaitingDataConnection,   // a transfer command waits for the client's data connection
        Transferring,
        Hung,                     // a silenced command: nothing is answered any more
        Closing,                  // QUIT answered, or the line was too long
        Closed
    };
    using Handler = void (FtpSession::*)(const QString &argument);

    struct PendingTransfer {
        QString verb;
        ServedTree::Location location;
        QByteArray listing;
    };

    void readCommands();
    bool acceptsCommands() const;
    void handleLine(QByteArray raw);
    void dispatch(const QString &verb, const QString &argument);
    static const QHash<QString, Handler> &handlers();

    void reply(int code, const QString &text, std::function<void()> afterSent = {});
    void replyLines(int code, const QStringList &lines);
    void refuse(int code);
    void closeAfterReplies();

    void cmdUser(const QString &argument);
    void cmdPass(const QString &argument);
    void cmdSyst(const QString &argument);
    void cmdFeat(const QString &argument);
    void cmdType(const QString &argument);
    void cmdAllo(const QString &argument);
    void cmdPasv(const QString &argument);
    void cmdEpsv(const QString &argument);
    void cmdList(const QString &argument);
    void cmdSize(const QString &argument);
    void cmdRetr(const QString &argument);
    void cmdStor(const QString &argument);
    void cmdMkd(const QString &argument);
    void cmdCwd(const QString &argument);
    void cmdCdup(const QString &argument);
    void cmdPwd(const QString &argument);
    void cmdNoop(const QString &argument);
    void cmdQuit(const QString &argument);

    bool openPassive();
    void awaitDataConnection(const PendingTransfer &transfer);
    void startTransfer();
    void onDataTimeout();
    void onTransferFinished(TransferOutcome outcome);
    TransferLimits limitsFor(const PendingTransfer &transfer) const;
    QByteArray listingOf(const ServedTree::Location &location) const;
    static bool isAcceptableName(const QString &name);
    void onControlDisconnected();
    void release();

    const int m_id;
    QTcpSocket *m_control;
    InstrumentServerPrivate *m_server;
    ReplyScheduler *m_replies;
    State m_state = State::AwaitingUser;
    QByteArray m_input;
    int m_commandCount = 0;
    QString m_userName;
    QString m_cwd;                 // "" is the top folder
    bool m_binary = false;         // RFC 959: ASCII until TYPE I
    QPointer<PassiveDataPort> m_passive;
    PendingTransfer m_pending;
    // The transfer under way, for its final answer.
    PendingTransfer m_running;
    QPointer<QObject> m_transfer;
    QTimer m_dataTimer;
};
