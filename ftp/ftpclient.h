#pragma once

#include "ftp/urlinfo.h"

#include <QObject>
#include <QString>

#include <memory>

class QIODevice;
class FtpClientPrivate;

// An asynchronous FTP client with the command queue of Qt 4's QFtp.
//
// Every command call queues one command and returns its id at once; the
// commands run one at a time, in queue order. The first starts from the
// event loop, never inside the call that queued it; each next one as soon as
// the one before has finished and its commandFinished() slots returned. Each
// command is reported by commandStarted(), then its data
// (listInfo(), dataTransferProgress()), then commandFinished(). When a
// command fails, every command queued behind it is dropped without being
// started, and done(true) follows; done(false) follows when the queue runs
// empty without a failure.
//
// Command lines go out one byte per character (Latin-1), and listings and
// replies are read the same way, so a listed name is sent back as the very
// bytes the server listed. A command whose argument holds a line break or a
// character beyond U+00FF fails before anything is sent.
//
// On the wire as QFtp: a listing is TYPE A, PASV, LIST; a download TYPE I,
// SIZE (unless its size is given), PASV, RETR; an upload TYPE I, PASV,
// ALLO (when the device's size is known), STOR. TYPE goes out only when the
// connection is not in that type already; EPSV replaces PASV only when the
// server is reached over IPv6, and a refused EPSV is asked again as PASV.
// Whatever ALLO is answered, the upload goes on. Data connections always go
// to the control connection's peer, whatever address the server's passive
// reply names.
//
// The protocol trace (commands sent, the password masked, and replies) goes
// to the logging category "r9.ftp" at debug level, off by default.
class FtpClient : public QObject
{
    Q_OBJECT

public:
    // Numbering as in QFtp, which callers and stored traces rely on.
    enum State { Unconnected, HostLookup, Connecting, Connected, LoggedIn, Closing };
    Q_ENUM(State)

    // QFtp's values first, then the kinds it folded into UnknownError, so
    // that a caller can tell a failure by its kind rather than by its text.
    enum Error {
        NoError, UnknownError, HostNotFound, ConnectionRefused, NotConnected,
        TimedOut,          // the server did not answer, or sent nothing, in time
        ServerRefused,     // a negative reply; replyCode() holds its code
        DataLimitExceeded, // more data than announced (download) or allowed (listing)
        LocalFileError,    // the local file could not be opened, read or written
        Aborted,           // abort() ended the command
        ConnectionLost,    // the control or data connection broke off
        ProtocolError,     // a reply that makes no sense at that point
        InvalidArgument,   // a name that cannot go out on the command line
    };
    Q_ENUM(Error)

    enum Command {
        None, SetTransferMode, SetProxy, ConnectToHost, Login, Close,
        List, Cd, Get, Put, Remove, Mkdir, Rmdir, Rename, RawCommand
    };
    Q_ENUM(Command)

    enum TransferType { Binary, Ascii };

    explicit FtpClient(QObject *parent = nullptr);
    ~FtpClient() override;

    int connectToHost(const QString &host, quint16 port = 21);
    int login(const QString &user = QString(), const QString &password = QString());
    // Sends QUIT and always ends in Unconnected: with the server's answer,
    // its leaving, or the idle timeout; at once when QUIT cannot be sent,
    // or while the answer to an aborted command is still due, so that
    // abort() then close() disconnects without waiting on the server.
    int close();
    // Each entry of the listing is reported by listInfo().
    //
    // Bounds of one listing, far beyond any real folder of the instrument,
    // so that a listing that never ends cannot grow memory without bound.
    // Past either, the List command fails ("The listing is longer than
    // 200000 entries", "The listing is larger than 64 MiB") and its data
    // connection is closed. Every line counts as an entry, lines that parse
    // to nothing included; a line longer than 8 KiB is dropped uncounted,
    // its bytes still count.
    static constexpr int maxListingEntries = 200000;
    static constexpr qint64 maxListingBytes = 64 * 1024 * 1024;
    int list(const QString &dir = QString());
    int cd(const QString &dir);
    // The device is written as data arrives; an unopened device is opened
    // WriteOnly when the command starts. The caller keeps ownership, and the
    // client never closes it. A null device is refused: the command fails
    // (QFtp's readyRead()/readAll() mode is not offered).
    //
    // The download's size is announced by the caller (expectedSize >= 0, as
    // listed; no SIZE command is sent) or else asked with SIZE. It is the
    // total in dataTransferProgress(). Data beyond an announced size fails
    // the command ("The server sent more than the N bytes announced") and
    // closes the data connection; no byte beyond it reaches the device. (An
    // answer to SIZE bounds binary downloads only: in ASCII type the bytes
    // on the wire may differ from the server's count.)
    //
    // A data connection that ends short is no failure by itself: the
    // server's final reply decides (226/250: the command finishes without
    // error; 426/451 or a lost control connection: it fails). The last
    // dataTransferProgress() then reports the bytes received against the
    // announced total; whether the file is complete is the caller's call.
    int get(const QString &file, QIODevice *device, TransferType type = Binary, qint64 expectedSize = -1);
    // An unopened device is opened ReadOnly when the command starts. The
    // caller keeps ownership; the device must live until the command ends.
    //
    // The client's own verdict comes first: when the data connection closes
    // or resets before every byte of the device was handed to the system,
    // the command fails (ConnectionLost), whatever the server then replies.
    // (A file small enough to sit whole in the socket buffers is handed
    // over at once; what the server did with it only a listing can tell.)
    int put(QIODevice *device, const QString &file, TransferType type = Binary);
    int mkdir(const QString &dir);

    int currentId() const;
    Command currentCommand() const;
    QIODevice *currentDevice() const;
    bool hasPendingCommands() const;
    void clearPendingCommands();

    State state() const;
    Error error() const;
    // The code of the server's reply behind the last failure (ServerRefused,
    // and ProtocolError when a reply caused it); 0 when no reply did.
    int replyCode() const;
    QString errorString() const;
    // The last failure's own words, without the heading errorString() puts
    // before them ("Downloading file X failed:"); empty before a failure.
    QString errorReason() const;

    // Time limits, in milliseconds: establishing the control connection; and
    // the idle limit: a reply is due within it of its command being sent
    // (the greeting, of the connection being made), however it trickles in,
    // and a transfer's data within it of the data before. Bytes that do not
    // complete a reply, and preliminary replies, do not extend it; more than
    // three preliminary replies to one command fail it (ProtocolError).
    void setConnectTimeout(int msecs);
    int connectTimeout() const;
    void setIdleTimeout(int msecs);
    int idleTimeout() const;

public slots:
    // Drops the pending commands and ends the running one with an error
    // ("Aborted"), then done(true); no signal when nothing runs. A transfer's
    // data connection is closed; the server's late answer to the interrupted
    // command is skipped, so the connection stays usable.
    void abort();

signals:
    void stateChanged(int state);
    void listInfo(const UrlInfo &info);
    void commandStarted(int id);
    void commandFinished(int id, bool error);
    void done(bool error);
    void dataTransferProgress(qint64 done, qint64 total);

private:
    std::unique_ptr<FtpClientPrivate> m_d;
};
