#pragma once

#include "operations/comparison.h"
#include "operations/operation.h"
#include "transfer/transferrecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>
#include <memory>

class BaseFolderLock;
class FolderHandle;

// One call an operation makes on the FTP client, in queue order.
struct ClientCall
{
    // Check: a download compared byte for byte with the PC's file as it
    // arrives, writing nothing. List: the current folder's listing, its
    // files taken for those of the folder `argument` (a walk's tag).
    enum Kind { Cd, Mkdir, Get, Put, Check, List };
    Kind kind = Cd;
    QString argument;   // the folder, or the remote file name
    QString localPath;  // Get: the target; Put: the file to read; Check: the PC's copy
    qint64 size = 0;    // Get, Put, Check: the bytes announced
    QString localFolder; // Get: the target's folder below the base folder, empty for the base itself

    bool isTransfer() const { return kind == Get || kind == Put || kind == Check; }

    bool operator==(const ClientCall &other) const
    {
        return kind == other.kind && argument == other.argument && localPath == other.localPath
            && size == other.size && localFolder == other.localFolder;
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
    // Set when the local folder is no set to send, or a download's folder
    // is not one of its own: nothing is queued.
    bool refused = false;
    // Why, in the tool's words; `refusedFolder` when a folder is at fault
    // (shown in a "PATH ERROR" box), else the set (shown in the label).
    QString refusalText;
    bool refusedFolder = false;
    // Uploads: the canonical base folder every source must still lie in.
    QString setRoot;
    // Compare: the two sides, side by side; the Check calls mark the files
    // whose content differs.
    QList<ComparedFile> compared;
    // Uploads: the calls from this one on list what the instrument kept.
    qsizetype confirmationFrom = std::numeric_limits<qsizetype>::max();
    // What the technician should know besides the result, in one line.
    QString note;
    // The base folder's lock, held until the run that carries out the plan
    // ends; null where the folder takes no lock (an upload's read-only set).
    std::shared_ptr<BaseFolderLock> lock;
    // Downloads: each local folder written into, by its path below the base
    // folder (empty for the base itself), opened before anything is written.
    QHash<QString, std::shared_ptr<const FolderHandle>> folders;

    int transferCount() const;
};

// Which plain names the PC keeps as given: on Windows not all of them.
enum class NameRule { Posix, Windows };
#ifdef Q_OS_WIN
inline constexpr NameRule platformNameRule = NameRule::Windows;
#else
inline constexpr NameRule platformNameRule = NameRule::Posix;
#endif

// The plan of `operation` on the local folder `base`, which it locks first:
// a second run into a folder that a live run holds is refused. A download
// operation is refused when the PC lacks the space for what it fetches;
// otherwise it makes, readies and opens its folders. A comparison (by
// content when `content`) sets the two sides side by side.
OperationPlan planOperation(Operation operation, const QString &base, const QList<RemoteEntry> &remote,
                            bool content = false);

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
// required files; the problem, in a line, when it does not.
bool checkRestoreFolder(const QString &base);
bool checkUpdateFolder(const QString &base);
QString restoreFolderProblem(const QString &base);
QString updateFolderProblem(const QString &base);

// The sum of two sizes, held at the largest: a hostile listing may announce
// sizes whose sum passes 2^63.
qint64 addSaturated(qint64 a, qint64 b);

// The first of `folders` (paths below `base`) that is missing, a link or no
// folder; empty when all are folders of their own.
QString firstUnfitFolder(const QString &base, const QStringList &folders);

// Makes the download folders below the locked base folder and checks them;
// returns, for the first that cannot be written into, why and which
// ("Permission denied:\n/path"), or an empty string.
QString prepareDownloadFolders(const BaseFolderLock &lock, const QStringList &folders);
