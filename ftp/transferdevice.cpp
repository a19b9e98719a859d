#include "ftp/transferdevice.h"

#include "ftp/commandqueue.h"

#include <QIODevice>

TransferDevice prepareTransferDevice(const FtpCommandRequest &request)
{
    TransferDevice result;
    QIODevice *device = request.device;
    const bool get = request.command == FtpClient::Get;
    const QString direction = get ? QStringLiteral("writing") : QStringLiteral("reading");
    if (!device) {
        result.error = request.deviceGiven ? QStringLiteral("The local file was deleted")
                                           : QStringLiteral("No local file given");
        return result;
    }
    if (!device->isOpen()) {
        if (!device->open(get ? QIODevice::WriteOnly : QIODevice::ReadOnly)) {
            result.error = QStringLiteral("Cannot open the local file for %1: %2").arg(direction, device->errorString());
            return result;
        }
    } else if (get ? !device->isWritable() : !device->isReadable()) {
        result.error = QStringLiteral("The local file is not open for %1").arg(direction);
        return result;
    }
    result.device = device;
    if (!get && !device->isSequential())
        result.uploadSize = device->size() - device->pos();
    return result;
}
