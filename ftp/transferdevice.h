#pragma once

#include <QString>

class QIODevice;
struct FtpCommandRequest;

// The local side of a download or upload: the caller's device, opened for
// the transfer's direction when it is not open yet, and what it will send.
struct TransferDevice
{
    QIODevice *device = nullptr; // null when it cannot serve; `error` says why
    QString error;
    // An upload's bytes from the device's position to its end; -1 when a
    // sequential device cannot tell.
    qint64 uploadSize = -1;
};

TransferDevice prepareTransferDevice(const FtpCommandRequest &request);
