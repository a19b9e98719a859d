#pragma once

#include "transfer/transferrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

// One call an operation makes on the FTP client, in queue order.
struct ClientCall
{
    enum Kind { Cd, Mkdir, Get, Put };
    Kind kind = Cd;
    QString argument;   // the folder, or the remote file name
    QString localPath;  // Get: the target; Put: the file to read
    qint64 size = 0;    // Get, Put: the bytes announced

    bool operator==(const ClientCall &other) const
    {
        return kind == other.kind && argument == other.argument && localPath == other.localPath
            && size == other.size;
    }
};

// What one operation asks of the client, worked out before anything is
// queued: the calls, what it leaves out and why, or why it refuses the
// local folder.
struct OperationPlan
{
    QList<ClientCall> calls;
    // Entries not queued, each "folder/name (reason)": the operation then
    // ends as incomplete, whatever the transfers do.
    QStringList leftOut;
    // Set when the local folder is no set to send: nothing is queued.
    bool refused = false;
    // Uploads: the canonical base folder every source must still lie in.
    QString setRoot;

    int transferCount() const;
};

// Which plain names the PC keeps as given: on Windows not all of them.
enum class NameRule { Posix, Windows };
#ifdef Q_OS_WIN
inline constexpr NameRule platformNameRule = NameRule::Windows;
#else
inline constexpr NameRule platformNameRule = NameRule::Posix;
#endif

// Downloads, from the remote listing into `base`. `namesIgnoreCase`: the
// base folder's file system takes "A" and "a" for one name.
OperationPlan planDataBackup(const QString &base, const QList<RemoteEntry> &remote, bool namesIgnoreCase,
                             NameRule names = platformNameRule);
OperationPlan planClone(const QString &base, const QList<RemoteEntry> &remote, bool namesIgnoreCase,
                        NameRule names = platformNameRule);

// Uploads of the set in `base`; the instrument's folders are made first when
// the walk found no file on it.
OperationPlan planDataRestore(const QString &base, bool instrumentEmpty);
OperationPlan planUpdate(const QString &base, bool instrumentEmpty);

// Whether `base` holds a data set (as Data Backup writes it) or a complete
// file set (as Clone writes it), by the names of its entries and its
// required files.
bool checkRestoreFolder(const QString &base);
bool checkUpdateFolder(const QString &base);

// The first of `folders` (paths below `base`) that is missing, a link or no
// folder; empty when all are folders of their own.
QString firstUnfitFolder(const QString &base, const QStringList &folders);

// Makes the download folders and readies them; returns the first that is not
// a folder of its own (nothing else is done then), or an empty string.
QString prepareDownloadFolders(const QString &base, const QStringList &folders);
