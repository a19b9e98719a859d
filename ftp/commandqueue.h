#pragma once

// Internal to r9ftp: the command queue as the protocol interpreter sees it.

#include "ftp/ftpclient.h"

#include <QPointer>
#include <QString>

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

class FtpCommandQueue
{
public:
    // The command being carried out; null when none is, and while the one
    // that ended is being reported.
    virtual const FtpCommandRequest *runningCommand() const = 0;
    // Changes whenever a command ends.
    virtual quint64 runToken() const = 0;
    // Why the running command fails, recorded before the interpreter tidies
    // up, so that slots of the signals that tidying emits can read it.
    // `replyCode`: the server's reply behind the failure, 0 for none.
    virtual void setCommandError(FtpClient::Error kind, const QString &reason, int replyCode) = 0;
    // Reports the running command's end, then starts the next one or
    // reports done().
    virtual void finishCommand(bool failed) = 0;
    // The connection can take the next command again.
    virtual void scheduleStart() = 0;
    // The replies read in one go have been handled: a command held back
    // meanwhile may start.
    virtual void repliesHandled() = 0;

protected:
    ~FtpCommandQueue() = default;
};
