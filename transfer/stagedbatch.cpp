#include "stagedbatch.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <utility>

#if defined(Q_OS_WIN)
#include "windowsfiles.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_LINUX)
QSet<QString> foldersOf(const std::vector<StagedBatch::Entry> &entries)
{
    QSet<QString> folders;
    for (const StagedBatch::Entry &entry : entries)
        folders.insert(QFileInfo(entry.targetPath).path());
    return folders;
}

// One folder of each file system the folders are on, open for syncfs().
std::vector<int> openFileSystemsOf(const QSet<QString> &folders, bool *ok)
{
    std::vector<int> opened;
    QSet<dev_t> seen;
    *ok = true;
    for (const QString &folder : folders) {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat info;
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            *ok = false;
        } else if (!seen.contains(info.st_dev)) {
            seen.insert(info.st_dev);
            opened.push_back(fd);
            continue;
        }
        if (fd >= 0)
            ::close(fd);
    }
    return opened;
}

// One syncfs() per file system writes out everything written there, with
// a single flush of the disk's cache. Touches nothing but the descriptors,
// so that it can run on a worker thread.
bool syncAndClose(const std::vector<int> &fileSystems)
{
    bool ok = true;
    for (const int fd : fileSystems) {
        if (::syncfs(fd) != 0)
            ok = false;
        ::close(fd);
    }
    return ok;
}

bool syncFileSystemsOf(const QSet<QString> &folders)
{
    bool opened = false;
    const std::vector<int> fileSystems = openFileSystemsOf(folders, &opened);
    return syncAndClose(fileSystems) && opened;
}
#else
// Elsewhere each file is synced on its own.
bool syncFile(const QString &path)
{
#if defined(Q_OS_WIN)
    return WindowsFiles::flush(path);
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    return ::fsync(file.handle()) == 0;
#endif
}
#endif

// Replaces the target in one step: no moment without a complete file.
bool replace(const QString &from, const QString &to)
{
#if defined(Q_OS_WIN)
    return WindowsFiles::replace(from, to);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

QList<int> idsOf(const std::vector<StagedBatch::Entry> &entries)
{
    QList<int> ids;
    for (const StagedBatch::Entry &entry : entries)
        ids.append(entry.commandId);
    return ids;
}

} // namespace

StagedBatch::~StagedBatch()
{
    discard();
}

void StagedBatch::add(Entry entry)
{
    bytes += entry.size;
    entries.push_back(std::move(entry));
}

bool StagedBatch::isFull() const
{
    return int(entries.size()) >= maxFiles || bytes >= maxBytes;
}

QList<int> StagedBatch::commit()
{
    QList<int> failed = finishBackgroundSync();
    if (!entries.empty()) {
        // The data must be on disk before any name points at it: otherwise a
        // power cut could leave an empty file where the earlier copy was.
#if defined(Q_OS_LINUX)
        const bool synced = syncFileSystemsOf(foldersOf(entries));
#else
        const bool synced = true; // file by file, in putInPlace()
#endif
        failed += putInPlace(entries, synced);
        bytes = 0;
    }
    // And the new names themselves, before the operation reports success.
#if defined(Q_OS_LINUX)
    if (!renamed.empty() && !syncFileSystemsOf(foldersOf(renamed)))
        failed += idsOf(renamed);
#endif
    renamed.clear();
    return failed;
}

QList<int> StagedBatch::commitInBackground()
{
#if defined(Q_OS_LINUX)
    QList<int> failed = finishBackgroundSync();
    if (entries.empty())
        return failed;
    // This sync also makes the names put in place just now durable.
    bool opened = false;
    std::vector<int> fileSystems = openFileSystemsOf(foldersOf(entries).unite(foldersOf(renamed)), &opened);
    syncing = std::exchange(entries, {});
    bytes = 0;
    renamedBeforeSync = std::exchange(renamed, {});
    syncResult = std::async(std::launch::async, [fileSystems = std::move(fileSystems), opened] {
        return syncAndClose(fileSystems) && opened;
    });
    return failed;
#else
    return commit();
#endif
}

QList<int> StagedBatch::finishBackgroundSync()
{
    QList<int> failed;
    if (!syncResult.valid())
        return failed;
    const bool synced = syncResult.get();
    if (!synced)
        failed += idsOf(renamedBeforeSync);
    renamedBeforeSync.clear();
    failed += putInPlace(syncing, synced);
    return failed;
}

// Renames each file of the batch over its target once its data is on disk;
// a file that cannot be put in place leaves its target untouched.
QList<int> StagedBatch::putInPlace(std::vector<Entry> &batch, bool synced)
{
    QList<int> failed;
    for (const Entry &entry : batch) {
#if defined(Q_OS_LINUX)
        const bool onDisk = synced;
#else
        const bool onDisk = synced && syncFile(entry.stagedPath);
#endif
        if (onDisk && replace(entry.stagedPath, entry.targetPath)) {
            renamed.push_back(entry);
        } else {
            qWarning() << "could not put" << entry.targetPath << "in place";
            QFile::remove(entry.stagedPath);
            failed.append(entry.commandId);
        }
    }
    batch.clear();
    return failed;
}

void StagedBatch::discard()
{
    if (syncResult.valid()) {
        syncResult.wait();
        syncResult = {};
    }
    for (const Entry &entry : syncing)
        QFile::remove(entry.stagedPath);
    syncing.clear();
    renamedBeforeSync.clear();
    for (const Entry &entry : entries)
        QFile::remove(entry.stagedPath);
    entries.clear();
    bytes = 0;
    renamed.clear();
}
