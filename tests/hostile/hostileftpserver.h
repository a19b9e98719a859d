#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// An FTP server that serves the instrument's five folders from memory well
// enough for the tool's listing walk and downloads, and misbehaves as a test
// asks: listings with any bytes as names, a PASV reply naming another
// address, replies that never end. It listens on 127.0.0.1
// only, control and data alike. One control connection at a time; a new one
// replaces the old.
class HostileFtpServer : public QObject
{
    Q_OBJECT

public:
    // Folders by their listing tag; the empty name is the top folder.
    static const QStringList folders;
    // What an endless answer sends before it gives up by itself.
    static constexpr qint64 endlessCap = 16 * 1024 * 1024;

    explicit HostileFtpServer(QObject *parent = nullptr);
    ~HostileFtpServer() override;

    bool listen();
    quint16 port() const;

    // A file listed in `folder` under the raw `name` and served by RETR.
    void addFile(const QString &folder, const QByteArray &name, const QByteArray &content);
    // Raw bytes added to the listing of `folder`, each line ended by CR LF.
    void addListingLines(const QString &folder, const QByteArray &lines);
    // PASV names this address ("10,9,9,9"), and EPSV is refused so that
    // the client has to use PASV.
    void setPassiveAddress(const QByteArray &address);
    // The reply to the command line `line` never ends: a multi-line reply
    // whose last line never comes, or one line without CR LF.
    enum class Endless { MultiLineReply, LineWithoutEnd };
    void setEndlessReply(const QByteArray &line, Endless kind);

    QList<QByteArray> commandLines() const { return m_lines; }
    QList<QByteArray> retrieved() const;       // arguments of RETR, in order
    QList<QHostAddress> dataPeers() const { return m_dataPeers; }
    qint64 endlessBytesSent() const { return m_endlessSent; }
    // An endless answer ended because the client closed the connection.
    bool endlessStoppedByClient() const { return m_endlessStoppedByClient; }

private:
    void onNewConnection();
    void onNewDataConnection();
    void onReadyRead();
    void handle(const QByteArray &line);
    void reply(const QByteArray &line);
    QByteArray listingOf(const QString &folder) const;
    void startTransfer(const QByteArray &payload);
    void runTransfer();
    void pumpEndlessReply();

    QTcpServer *m_server = nullptr;
    QTcpServer *m_dataServer = nullptr;
    QPointer<QTcpSocket> m_control;
    QList<QPointer<QTcpSocket>> m_waitingData;
    QPointer<QTcpSocket> m_data;
    QByteArray m_input;
    QString m_cwd;

    QMap<QString, QList<QPair<QByteArray, QByteArray>>> m_files;
    QHash<QString, QByteArray> m_extraLines;
    QByteArray m_passiveAddress;
    QByteArray m_endlessLine;
    Endless m_endlessKind = Endless::MultiLineReply;

    bool m_transferPending = false;
    QByteArray m_payload;
    qint64 m_endlessSent = 0;
    bool m_endlessStoppedByClient = false;

    QList<QByteArray> m_lines;
    QList<QHostAddress> m_dataPeers;
};
