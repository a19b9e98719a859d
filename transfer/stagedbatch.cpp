#include "stagedbatch.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#if defined(Q_OS_WIN)
#include <io.h>
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_LINUX)
// One syncfs() per file system writes out everything the batch wrote, with
// a single flush of the disk's cache.
bool syncFileSystemsOf(const QSet<QString> &folders)
{
    QSet<dev_t> synced;
    bool ok = true;
    for (const QString &folder : folders) {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            ok = false;
            continue;
        }
        struct stat info;
        if (::fstat(fd, &info) != 0) {
            ok = false;
        } else if (!synced.contains(info.st_dev)) {
            synced.insert(info.st_dev);
            if (::syncfs(fd) != 0)
                ok = false;
        }
        ::close(fd);
    }
    return ok;
}
#else
// Elsewhere each file is synced on its own.
bool syncFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
#if defined(Q_OS_WIN)
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}
#endif

// Replaces the target in one step: no moment without a complete file.
bool replace(const QString &from, const QString &to)
{
#if defined(Q_OS_WIN)
    return ::MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()),
                         reinterpret_cast<const wchar_t *>(to.utf16()),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
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
    QList<int> failed;
    if (entries.empty())
        return failed;

    QSet<QString> folders;
    for (const Entry &entry : entries)
        folders.insert(QFileInfo(entry.targetPath).path());

    // The data must be on disk before any name points at it: otherwise a
    // power cut could leave an empty file where the earlier copy was.
#if defined(Q_OS_LINUX)
    const bool synced = syncFileSystemsOf(folders);
#endif
    for (const Entry &entry : entries) {
#if defined(Q_OS_LINUX)
        const bool onDisk = synced;
#else
        const bool onDisk = syncFile(entry.stagedPath);
#endif
        if (!onDisk || !replace(entry.stagedPath, entry.targetPath)) {
            qWarning() << "could not put" << entry.targetPath << "in place";
            QFile::remove(entry.stagedPath);
            failed.append(entry.commandId);
        }
    }

    // And the new names themselves, before the operation reports success.
#if defined(Q_OS_LINUX)
    if (!syncFileSystemsOf(folders)) {
        failed.clear();
        for (const Entry &entry : entries)
            failed.append(entry.commandId);
    }
#endif
    entries.clear();
    bytes = 0;
    return failed;
}

void StagedBatch::discard()
{
    for (const Entry &entry : entries)
        QFile::remove(entry.stagedPath);
    entries.clear();
    bytes = 0;
}
