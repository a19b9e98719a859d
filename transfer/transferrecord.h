#pragma once

#include <QString>

class QFileDevice;

// One queued upload or download, in the order the FTP client runs them.
struct TransferRecord
{
    bool done = false;           // every expected byte has moved
    QString name;                // remote file name, shown while it transfers
    qint64 expectedSize = 0;     // bytes the operation announced
    QFileDevice *file = nullptr; // download target; null for uploads; not owned
};

// One regular file reported by the listing walk.
struct RemoteEntry
{
    QString name;
    qint64 size = 0;             // -1: the listed size does not fit in 64 bits
    QString folder;              // listing tag: "DATA/IPA_BD1" ... "ROOT"

    bool operator==(const RemoteEntry &other) const
    {
        return name == other.name && size == other.size && folder == other.folder;
    }
};
