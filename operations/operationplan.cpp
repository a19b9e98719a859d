#include "operations/operationplan.h"

#include "transfer/baselock.h"
#include "operations/operationslogging.h"
#include "transfer/folderhandle.h"
#include "transfer/freespace.h"
#include "transfer/instrumentlayout.h"
#include "transfer/locallinks.h"
#include "transfer/localnames.h"
#include "transfer/stagedfile.h"
#include "transfer/uploadsource.h"
#include "transfer/windowsnames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <cerrno>
#if defined(Q_OS_WIN)
#include <direct.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <limits>

using namespace InstrumentLayout;

namespace {

template <typename Table>
bool isIn(const Table &table, const QString &name)
{
    return std::find(std::begin(table), std::end(table), name) != std::end(table);
}

// --- Downloads -------------------------------------------------------------------

// The longest file name the PC's file systems take (NAME_MAX, in bytes).
constexpr qsizetype maxNameBytes = 255;

class DownloadPlanner
{
public:
    DownloadPlanner(const QString &base, bool namesIgnoreCase, NameRule names)
        : m_base(base), m_ignoreCase(namesIgnoreCase), m_names(names)
    {
    }

    void cd(const QString &folder) { plan.calls.append({ClientCall::Cd, folder, {}, 0, {}}); }

    // A name that could lead outside its folder or that the tool keeps for
    // its own files, a size the PC cannot count and a second file for one
    // local file are left out, and named.
    void get(const QString &localFolder, const RemoteEntry &entry)
    {
        const QString shown = printableName(localFolder.isEmpty() ? entry.name : localFolder + u'/' + entry.name);
        if (!isPlainFileName(entry.name)) {
            qCWarning(lcOperations) << "not fetched, unsafe file name:" << entry.name;
            plan.leftOut << shown + QStringLiteral(" (not a plain file name)");
            return;
        }
        // Windows would refuse it, open a device, or keep it as another name.
        if (m_names == NameRule::Windows && !windowsCanHold(entry.name)) {
            qCWarning(lcOperations) << "not fetched, a name Windows cannot hold:" << entry.name;
            plan.leftOut << shown + QStringLiteral(" (a name Windows cannot hold)");
            return;
        }
        // Fetched, it would pass for a killed run's leftover, or go over the
        // run's own lock (in any letter case, on a disk that ignores it).
        if (isOwnFileName(entry.name.toLower())) {
            plan.leftOut << shown + QStringLiteral(" (a name the tool keeps for its own files)");
            return;
        }
        if (entry.size < 0) {
            plan.leftOut << shown + QStringLiteral(" (listed size too large)");
            return;
        }
        // Fetched, it could never be put in place.
        if (QFile::encodeName(entry.name).size() > maxNameBytes) {
            plan.leftOut << shown.left(40) + QStringLiteral("... (a name longer than the PC takes)");
            return;
        }
        const QString target = localFilePath(m_base, localFolder, entry.name);
        const QString key = m_ignoreCase ? target.toCaseFolded() : target;
        const auto taken = m_targets.constFind(key);
        if (taken != m_targets.cend()) {
            plan.leftOut << shown + QStringLiteral(" (the same file on the PC as %1)").arg(*taken);
            return;
        }
        m_targets.insert(key, entry.name);
        plan.calls.append({ClientCall::Get, entry.name, target, entry.size, localFolder});
    }

    OperationPlan plan;

private:
    QString m_base;
    bool m_ignoreCase;
    NameRule m_names;
    QHash<QString, QString> m_targets;
};

// --- Uploads ---------------------------------------------------------------------

// The listing of the chosen folder. A file of this tool's own (a download's
// leftover temporary, a run's lock) is no part of a set: on Windows its
// leading dot does not hide it.
QFileInfoList setEntries(const QDir &dir)
{
    QFileInfoList entries = dir.entryInfoList();
    entries.removeIf([](const QFileInfo &entry) { return isOwnFileName(entry.fileName()); });
    return entries;
}

// A name goes to the instrument one byte per character: a character beyond
// Latin-1 cannot be sent faithfully.
bool fitsTheInstrument(const QString &name)
{
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() <= 0xff; });
}

class UploadPlanner
{
public:
    explicit UploadPlanner(const QString &base) : m_base(base) { plan.setRoot = QDir(base).canonicalPath(); }

    void cd(const QString &folder) { plan.calls.append({ClientCall::Cd, folder, {}, 0, {}}); }
    void mkdir(const QString &folder) { plan.calls.append({ClientCall::Mkdir, folder, {}, 0, {}}); }

    // One stage: the files of `folder`, in name order without regard to
    // letter case; a link to a file inside the base folder with that file's
    // content. What is not sent for safety (a link leading elsewhere or
    // nowhere, a FIFO, socket or device) leaves the operation incomplete;
    // special entries are listed for that alone. Every file sent is opened
    // for reading now: one that cannot be read refuses the set before
    // anything goes to the instrument. True when the stage sends a file.
    bool putFilesOf(const QString &folder)
    {
        QDir dir(folder);
        dir.setFilter(dir.filter() | QDir::System);
        bool sends = false;
        for (const QFileInfo &entry : dir.entryInfoList()) {
            const UploadCandidate source = uploadCandidate(entry, plan.setRoot);
            const QString shown = printableName(QDir(m_base).relativeFilePath(entry.absoluteFilePath()));
            if (source.kind == UploadCandidate::File && !fitsTheInstrument(entry.fileName())) {
                refuse(shown + QStringLiteral(": a name beyond Latin-1, which the instrument cannot take"));
            } else if (source.kind == UploadCandidate::File) {
                UploadSource readable(source.path, plan.setRoot);
                if (!readable.open(QIODevice::ReadOnly))
                    refuse(shown + QStringLiteral(": ") + readable.failureReason());
                plan.calls.append({ClientCall::Put, entry.fileName(), source.path, source.size, {}});
                sends = true;
            } else if (source.kind == UploadCandidate::Unsafe) {
                qCWarning(lcOperations) << "not sent:" << shown << source.reason;
                plan.leftOut << shown + QStringLiteral(" (") + source.reason + u')';
            }
        }
        return sends;
    }

    // The first reason stands.
    void refuse(const QString &why)
    {
        qCWarning(lcOperations) << "set refused:" << why;
        if (!plan.refused)
            plan.refusalText = QStringLiteral("Incorrect file in Selected Directory\n") + why;
        plan.refused = true;
    }

    // After the last upload, the instrument lists each folder that was
    // written, by the walk's own steps, so that what it kept can be told.
    void confirm(const QStringList &folders, bool top)
    {
        plan.confirmationFrom = plan.calls.size();
        for (const QString &folder : folders) {
            cd(folder);
            plan.calls.append({ClientCall::List, folder, {}, 0, {}});
            cd(upToTop);
        }
        if (top)
            plan.calls.append({ClientCall::List, topFolderTag, {}, 0, {}});
    }

    OperationPlan plan;

private:
    QString m_base;
};

OperationPlan planUpload(const QString &base, bool instrumentEmpty, const QStringList &remoteFolders,
                         const QStringList &stageFolders, const QString &setProblem)
{
    UploadPlanner planner(base);
    if (!setProblem.isEmpty()) {
        planner.refuse(setProblem);
        return planner.plan;
    }
    if (const QString unfit = firstUnfitFolder(base, stageFolders); !unfit.isEmpty()) {
        planner.refuse(QDir::toNativeSeparators(unfit) + QStringLiteral(": a link or a file, not a folder of its own"));
        return planner.plan;
    }
    if (instrumentEmpty) {
        for (const QString &folder : remoteFolders)
            planner.mkdir(folder);
    }
    QStringList written;
    bool first = true;
    for (const QString &folder : stageFolders) {
        if (!first)
            planner.cd(upToTop);
        first = false;
        planner.cd(folder);
        if (planner.putFilesOf(localFilePath(base, folder, QString())))
            written << folder;
    }
    planner.cd(upToTop);
    const bool top = planner.putFilesOf(base);
    planner.cd(upToTop);
    if (planner.plan.refused) {
        planner.plan.calls.clear();
        return planner.plan;
    }
    if (!written.isEmpty() || top)
        planner.confirm(written, top);
    return planner.plan;
}

} // namespace

int OperationPlan::transferCount() const
{
    return int(std::count_if(calls.cbegin(), calls.cend(), [](const ClientCall &call) { return call.isTransfer(); }));
}

// A backup of an instrument without its settings files is a backup all the
// same, but one that Data Restore will not take: the technician should know
// before the repair, not after it.
static QString restoreNote(const QList<RemoteEntry> &remote)
{
    QStringList missing;
    for (const QString &name : dataSetFiles) {
        const bool listed = std::any_of(remote.cbegin(), remote.cend(), [&](const RemoteEntry &entry) {
            return entry.folder == topFolderTag && entry.name == name;
        });
        if (!listed)
            missing << name;
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("Data Restore will refuse this folder: %1 not on the instrument")
            .arg(missing.join(QStringLiteral(" and ")) + (missing.size() == 1 ? QStringLiteral(" is") : QStringLiteral(" are")));
}

// The files whose sizes agree are fetched and compared as they arrive. The
// walk leaves the connection in the top folder: its files are fetched
// there, those of each other folder after a change into it and back.
static OperationPlan planCompare(const QString &base, const QList<RemoteEntry> &remote, bool content)
{
    OperationPlan plan;
    plan.compared = compareFiles(remote, base);
    if (!content)
        return plan;
    for (const QString &tag : listingFolderTags) {
        const bool top = tag == topFolderTag;
        bool entered = false;
        for (const ComparedFile &file : std::as_const(plan.compared)) {
            if (file.folder != tag || file.state != ComparedFile::Same)
                continue;
            if (!top && !entered)
                plan.calls.append({ClientCall::Cd, tag, {}, 0, {}});
            entered = true;
            plan.calls.append({ClientCall::Check, file.name, file.localPath, file.instrumentSize, {}});
        }
        if (entered && !top)
            plan.calls.append({ClientCall::Cd, upToTop, {}, 0, {}});
    }
    return plan;
}

static OperationPlan folderRefusal(const QString &text)
{
    OperationPlan plan;
    plan.refused = true;
    plan.refusedFolder = true;
    plan.refusalText = text;
    return plan;
}

qint64 addSaturated(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

// A download that cannot fit would fill the disk before it failed: every
// file it fetches is compared with the free space first. Earlier copies
// are not counted as room: each stays until its new file is whole.
static QString spaceShortage(const QString &base, const OperationPlan &plan)
{
    qint64 needed = 0;
    for (const ClientCall &call : plan.calls) {
        if (call.kind == ClientCall::Get)
            needed = addSaturated(needed, call.size);
    }
    const qint64 available = freeBytes(base);
    if (available < 0 || needed <= available)
        return QString();
    const auto shown = [](qint64 bytes) { return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat); };
    return QStringLiteral("Not enough space on the PC: needs %1, %2 free").arg(shown(needed), shown(available));
}

// Why a download cannot lock its base folder, when no other run holds it.
static QString unlockableReason(const BaseFolderLock &lock)
{
    const QFileInfo base(lock.folder());
    if (!base.exists())
        return pathRefusal(qt_error_string(ENOENT), lock.folder());
    if (!base.isDir())
        return pathRefusal(QStringLiteral("Not a folder"), lock.folder());
    if (!base.isWritable())
        return pathRefusal(qt_error_string(EACCES), lock.folder());
    return pathRefusal(QStringLiteral("Cannot make the lock file"), lock.path());
}

// Under the base folder's lock. The free space is told before anything is
// made: a refusal leaves the folder as it was (the letter-case probe is
// gone at once, the lock when the run ends). Then the folders are made and
// opened, each level without following a link, and whatever a killed run
// left is removed through them: from here on every file goes into the
// folders as they are now, whatever is later put at their paths.
static OperationPlan planDownloadOperation(Operation operation, const std::shared_ptr<BaseFolderLock> &lock,
                                           const QList<RemoteEntry> &remote)
{
    const QString &base = lock->folder();
    const bool clone = operation == Operation::Clone;
    const bool ignoreCase = folderIgnoresCase(base);
    OperationPlan plan = clone ? planClone(base, remote, ignoreCase) : planDataBackup(base, remote, ignoreCase);
    if (const QString shortage = spaceShortage(base, plan); !shortage.isEmpty())
        return folderRefusal(shortage);
    const QStringList &folders = clone ? cloneLocalFolders : backupLocalFolders;
    if (const QString unfit = prepareDownloadFolders(*lock, folders); !unfit.isEmpty())
        return folderRefusal(unfit);
    QString why;
    const std::shared_ptr<const FolderHandle> baseFolder = FolderHandle::openBase(base, &why);
    if (!baseFolder)
        return folderRefusal(why);
    plan.folders.insert(QString(), baseFolder);
    for (const QString &folder : folders) {
        std::shared_ptr<const FolderHandle> opened = FolderHandle::openBelow(baseFolder, folder, &why);
        if (!opened)
            return folderRefusal(why);
        plan.folders.insert(folder, std::move(opened));
    }
    for (const std::shared_ptr<const FolderHandle> &folder : std::as_const(plan.folders))
        StagedFile::removeLeftovers(*folder);
    if (!clone)
        plan.note = restoreNote(remote);
    return plan;
}

OperationPlan planOperation(Operation operation, const QString &base, const QList<RemoteEntry> &remote, bool content)
{
    // Before anything else looks into the folder or writes there. A set
    // that cannot be locked (read-only) is still sent or compared: no
    // download can write into it either.
    auto lock = std::make_shared<BaseFolderLock>(base);
    const bool locked = lock->tryLock();
    if (!locked && lock->heldByAnother())
        return folderRefusal(QStringLiteral("another r9-update is writing into this folder\n")
                             + QDir::toNativeSeparators(lock->path()));
    OperationPlan plan;
    switch (operation) {
    case Operation::DataBackup:
    case Operation::Clone:
        plan = locked ? planDownloadOperation(operation, lock, remote) : folderRefusal(unlockableReason(*lock));
        break;
    case Operation::DataRestore:
        plan = planDataRestore(base, remote.isEmpty());
        break;
    case Operation::Update:
        plan = planUpdate(base, remote.isEmpty());
        break;
    case Operation::Compare:
        plan = planCompare(base, remote, content);
        break;
    }
    if (locked)
        plan.lock = std::move(lock);
    return plan;
}

// The two download operations differ only in what they fetch: Data Backup
// the data folders and the two INIE91 files, Clone everything, after which
// it leaves the connection in the top folder.
static OperationPlan planDownload(const QString &base, const QList<RemoteEntry> &remote, bool namesIgnoreCase,
                                  NameRule names, bool everything)
{
    DownloadPlanner planner(base, namesIgnoreCase, names);
    const QStringList &folders = everything ? walkFolders : dataFolders;
    for (const RemoteEntry &entry : remote) {
        if (folders.contains(entry.folder)) {
            planner.cd(upToTop);
            planner.cd(entry.folder);
            planner.get(entry.folder, entry);
        } else if (entry.folder == topFolderTag) {
            planner.cd(upToTop);
            if (everything || dataSetFiles.contains(entry.name))
                planner.get(QString(), entry);
        }
    }
    if (everything)
        planner.cd(upToTop);
    return planner.plan;
}

OperationPlan planDataBackup(const QString &base, const QList<RemoteEntry> &remote, bool namesIgnoreCase,
                             NameRule names)
{
    return planDownload(base, remote, namesIgnoreCase, names, false);
}

OperationPlan planClone(const QString &base, const QList<RemoteEntry> &remote, bool namesIgnoreCase, NameRule names)
{
    return planDownload(base, remote, namesIgnoreCase, names, true);
}

OperationPlan planDataRestore(const QString &base, bool instrumentEmpty)
{
    return planUpload(base, instrumentEmpty, restoreRemoteFolders, dataFolders, restoreFolderProblem(base));
}

OperationPlan planUpdate(const QString &base, bool instrumentEmpty)
{
    return planUpload(base, instrumentEmpty, updateRemoteFolders, walkFolders, updateFolderProblem(base));
}

// Why an entry the set needs cannot be sent; empty when it can.
static QString unsendableReason(const QFileInfo &entry, const QDir &dir)
{
    const UploadCandidate candidate = uploadCandidate(entry, dir.canonicalPath());
    if (candidate.kind == UploadCandidate::File)
        return QString();
    const QString why = candidate.kind == UploadCandidate::Folder ? QStringLiteral("a folder, not a file")
                      : candidate.reason.isEmpty()                ? QStringLiteral("not a regular file")
                                                                  : candidate.reason;
    return printableName(entry.fileName()) + QStringLiteral(": ") + why;
}

// The first of `names` (upper case) that no entry bears, or empty.
static QStringList missingNames(const QStringList &names, const QFileInfoList &entries, bool anyCase)
{
    QStringList missing = names;
    for (const QFileInfo &entry : entries)
        missing.removeAll(anyCase ? entry.fileName().toUpper() : entry.fileName());
    return missing;
}

// A data set: exactly three entries besides "." and "..", each named, in
// upper case, like a root entry of the instrument.
QString restoreFolderProblem(const QString &base)
{
    const QDir dir(base);
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    QString stranger;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        const bool dot = name == QLatin1String(".") || name == QLatin1String("..");
        if (stranger.isEmpty() && !dot && name != QLatin1String("DATA") && !dataSetFiles.contains(name))
            stranger = name;
        if (!isIn(rootEntryNames, name))
            continue;
        ++rootCount;
        if (isIn(dataSetFiles, name)) {
            if (const QString why = unsendableReason(entry, dir); !why.isEmpty())
                return why;
        }
    }
    if (rootCount == 3 && entries.size() == 5)
        return QString();
    if (!stranger.isEmpty())
        return printableName(stranger) + QStringLiteral(": no part of a data set");
    const QStringList missing = missingNames(QStringList{QStringLiteral("DATA")} + dataSetFiles, entries, false);
    return QStringLiteral("a data set holds DATA, INIE91.CFG and INIE91.FLS; missing: ") + missing.join(QStringLiteral(", "));
}

// An update set: all seven root entries, in any letter case, and settings
// files besides them, nothing else.
QString updateFolderProblem(const QString &base)
{
    const QDir dir(base);
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    int settingsCount = 0;
    int nameCount = 0;
    QString lastName;
    QString stranger;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName().toUpper();
        if (isIn(rootEntryNames, name))
            ++rootCount;
        if (isIn(updateSetFiles, name)) {
            if (const QString why = unsendableReason(entry, dir); !why.isEmpty())
                return why;
        }
        if (isIn(settingsFileNames, name))
            ++settingsCount;
        else if (!isIn(rootEntryNames, name) && stranger.isEmpty() && name != QLatin1String(".")
                 && name != QLatin1String(".."))
            stranger = entry.fileName();
        if (name != lastName)
            ++nameCount;
        lastName = name;
    }
    if (rootCount == 7 && nameCount - settingsCount == 9 && entries.size() <= 21)
        return QString();
    QStringList required;
    for (const QString &name : rootEntryNames) {
        if (!name.isEmpty())
            required << name;
    }
    if (const QStringList missing = missingNames(required, entries, true); !missing.isEmpty())
        return QStringLiteral("a complete file set holds DATA, TEXT, FONTS, COMMANDS.TXT, INIE91.CFG, INIE91.FLS and "
                              "R9DIGIT; missing: ") + missing.join(QStringLiteral(", "));
    if (!stranger.isEmpty())
        return printableName(stranger) + QStringLiteral(": no part of a complete file set");
    return QStringLiteral("more entries than a complete file set holds");
}

bool checkRestoreFolder(const QString &base)
{
    return restoreFolderProblem(base).isEmpty();
}

bool checkUpdateFolder(const QString &base)
{
    return updateFolderProblem(base).isEmpty();
}

// Every folder must be there under its exact name, as a real folder, not a
// link: a stage must never list, nor a download write, some other folder.
QString firstUnfitFolder(const QString &base, const QStringList &folders)
{
    for (const QString &folder : folders) {
        QString path = base;
        for (const QString &level : folder.split(u'/')) {
            path = localFilePath(path, QString(), level);
            const QFileInfo info(path);
            if (!info.isDir() || isLink(info))
                return path;
        }
    }
    return QString();
}

static int makeFolder(const QString &path)
{
#if defined(Q_OS_WIN)
    return ::_wmkdir(reinterpret_cast<const wchar_t *>(path.utf16()));
#else
    return ::mkdir(QFile::encodeName(path).constData(), 0777);
#endif
}

QString prepareDownloadFolders(const BaseFolderLock &lock, const QStringList &folders)
{
    const QString &base = lock.folder();
    // Level by level, each checked before the next is made in it: a link
    // standing for DATA must not get folders made through it. A folder the
    // PC does not let us make is named as such.
    for (const QString &folder : folders) {
        QString relative;
        for (const QString &level : folder.split(u'/')) {
            relative = relative.isEmpty() ? level : relative + u'/' + level;
            const QString path = localFilePath(base, relative, QString());
            const QFileInfo info(path);
            if (!info.exists() && !isLink(info) && makeFolder(path) != 0
                && (errno == EACCES || errno == EPERM || errno == EROFS))
                return pathRefusal(qt_error_string(errno), path);
            if (const QString unfit = firstUnfitFolder(base, {relative}); !unfit.isEmpty())
                return pathRefusal(QStringLiteral("Not a folder of its own (a link, or not a folder)"), unfit);
        }
    }
    for (const QString &folder : QStringList{QString()} + folders) {
        const QString path = localFilePath(base, folder, QString());
        if (!QFileInfo(path).isWritable())
            return pathRefusal(qt_error_string(EACCES), path);
    }
    return QString();
}
