#include "operationplan.h"

#include "transfer/diagnostics.h"
#include "transfer/instrumentlayout.h"
#include "transfer/locallinks.h"
#include "transfer/localnames.h"
#include "transfer/stagedfile.h"
#include "transfer/uploadsource.h"
#include "transfer/windowsnames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

using namespace InstrumentLayout;

namespace {

template <typename Table>
bool isIn(const Table &table, const QString &name)
{
    return std::find(std::begin(table), std::end(table), name) != std::end(table);
}

// --- Downloads -------------------------------------------------------------------

class DownloadPlanner
{
public:
    DownloadPlanner(const QString &base, bool namesIgnoreCase, NameRule names)
        : m_base(base), m_ignoreCase(namesIgnoreCase), m_names(names)
    {
    }

    void cd(const QString &folder) { plan.calls.append({ClientCall::Cd, folder, {}, 0}); }

    // A name that could lead outside its folder, a size the PC cannot count
    // and a second file for one local file are left out, and named.
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
        if (entry.size < 0) {
            plan.leftOut << shown + QStringLiteral(" (listed size too large)");
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
        plan.calls.append({ClientCall::Get, entry.name, target, entry.size});
    }

    OperationPlan plan;

private:
    QString m_base;
    bool m_ignoreCase;
    NameRule m_names;
    QHash<QString, QString> m_targets;
};

// --- Uploads ---------------------------------------------------------------------

// The listing of the chosen folder. A download's leftover temporary is no
// part of a set: on Windows its leading dot does not hide it.
QFileInfoList setEntries(const QDir &dir)
{
    QFileInfoList entries = dir.entryInfoList();
    entries.removeIf([](const QFileInfo &entry) { return StagedFile::isTemporaryName(entry.fileName()); });
    return entries;
}

// A file the set needs must be one that the upload sends, or the operation
// would end without it.
bool isSendable(const QFileInfo &entry, const QDir &dir)
{
    return uploadCandidate(entry, dir.canonicalPath()).kind == UploadCandidate::File;
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

    void cd(const QString &folder) { plan.calls.append({ClientCall::Cd, folder, {}, 0}); }
    void mkdir(const QString &folder) { plan.calls.append({ClientCall::Mkdir, folder, {}, 0}); }

    // One stage: the files of `folder`, in name order without regard to
    // letter case; a link to a file inside the base folder with that file's
    // content. What is not sent for safety (a link leading elsewhere or
    // nowhere, a FIFO, socket or device) leaves the operation incomplete;
    // special entries are listed for that alone.
    void putFilesOf(const QString &folder)
    {
        QDir dir(folder);
        dir.setFilter(dir.filter() | QDir::System);
        for (const QFileInfo &entry : dir.entryInfoList()) {
            const UploadCandidate source = uploadCandidate(entry, plan.setRoot);
            const QString shown = printableName(QDir(m_base).relativeFilePath(entry.absoluteFilePath()));
            if (source.kind == UploadCandidate::File && !fitsTheInstrument(entry.fileName())) {
                qCWarning(lcOperations) << "refused, name beyond Latin-1:" << shown;
                plan.refused = true;
            } else if (source.kind == UploadCandidate::File) {
                plan.calls.append({ClientCall::Put, entry.fileName(), source.path, source.size});
            } else if (source.kind == UploadCandidate::Unsafe) {
                qCWarning(lcOperations) << "not sent:" << shown << source.reason;
                plan.leftOut << shown + QStringLiteral(" (") + source.reason + u')';
            }
        }
    }

    OperationPlan plan;

private:
    QString m_base;
};

OperationPlan planUpload(const QString &base, bool instrumentEmpty, const QStringList &remoteFolders,
                         const QStringList &stageFolders, bool setChecked)
{
    UploadPlanner planner(base);
    if (!setChecked || !firstUnfitFolder(base, stageFolders).isEmpty()) {
        planner.plan.refused = true;
        return planner.plan;
    }
    if (instrumentEmpty) {
        for (const QString &folder : remoteFolders)
            planner.mkdir(folder);
    }
    bool first = true;
    for (const QString &folder : stageFolders) {
        if (!first)
            planner.cd(upToTop);
        first = false;
        planner.cd(folder);
        planner.putFilesOf(localFilePath(base, folder, QString()));
    }
    planner.cd(upToTop);
    planner.putFilesOf(base);
    planner.cd(upToTop);
    if (planner.plan.refused)
        planner.plan.calls.clear();
    return planner.plan;
}

} // namespace

int OperationPlan::transferCount() const
{
    return int(std::count_if(calls.cbegin(), calls.cend(), [](const ClientCall &call) {
        return call.kind == ClientCall::Get || call.kind == ClientCall::Put;
    }));
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
    return planUpload(base, instrumentEmpty, restoreRemoteFolders, dataFolders, checkRestoreFolder(base));
}

OperationPlan planUpdate(const QString &base, bool instrumentEmpty)
{
    return planUpload(base, instrumentEmpty, updateRemoteFolders, walkFolders, checkUpdateFolder(base));
}

// A data set: exactly three entries besides "." and "..", each named, in
// upper case, like a root entry of the instrument.
bool checkRestoreFolder(const QString &base)
{
    const QDir dir(base);
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (!isIn(rootEntryNames, name))
            continue;
        ++rootCount;
        if (isIn(dataSetFiles, name) && !isSendable(entry, dir))
            return false;
    }
    return rootCount == 3 && entries.size() == 5;
}

// An update set: all seven root entries, in any letter case, and settings
// files besides them, nothing else.
bool checkUpdateFolder(const QString &base)
{
    const QDir dir(base);
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    int settingsCount = 0;
    int nameCount = 0;
    QString lastName;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName().toUpper();
        if (isIn(rootEntryNames, name))
            ++rootCount;
        if (isIn(updateSetFiles, name) && !isSendable(entry, dir))
            return false;
        if (isIn(settingsFileNames, name))
            ++settingsCount;
        if (name != lastName)
            ++nameCount;
        lastName = name;
    }
    return rootCount == 7 && nameCount - settingsCount == 9 && entries.size() <= 21;
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

// Leftovers of an earlier run that was killed go before the new files arrive.
QString prepareDownloadFolders(const QString &base, const QStringList &folders)
{
    QDir dir;
    dir.setPath(base);
    // Level by level, each checked before the next is made in it: a link
    // standing for DATA must not get folders made through it.
    for (const QString &folder : folders) {
        QString path;
        for (const QString &level : folder.split(u'/')) {
            path = path.isEmpty() ? level : path + u'/' + level;
            if (!dir.exists(path))
                dir.mkdir(path);
            const QString unfit = firstUnfitFolder(base, {path});
            if (!unfit.isEmpty())
                return unfit;
        }
    }
    StagedFile::removeLeftovers(base);
    for (const QString &folder : folders)
        StagedFile::removeLeftovers(localFilePath(base, folder, QString()));
    return QString();
}
