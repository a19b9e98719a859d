#include "transfer/stagedbatch.h"

#include "transfer/diagnostics.h"

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

} // namespace

StagedBatch::StagedBatch(QObject *parent) : QObject(parent)
{
}

StagedBatch::~StagedBatch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    if (!m_waiting.empty())
        putInPlace(m_waiting);
}

void StagedBatch::add(Entry entry)
{
    m_waitingBytes += entry.size;
    m_waiting.push_back(std::move(entry));
}

bool StagedBatch::isFull() const
{
    return int(m_waiting.size()) >= maxFiles || m_waitingBytes >= maxBytes;
}

void StagedBatch::commit()
{
    ++m_commitsUnderWay;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::exchange(m_waiting, {}));
        if (!m_worker.joinable())
            m_worker = std::thread([this] { runWorker(); });
    }
    m_waitingBytes = 0;
    m_wake.notify_one();
}

void StagedBatch::waitForCommits()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_drained.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

// Touches nothing of the object but the queue: the outcome of each commit
// goes back to the object's own thread.
void StagedBatch::runWorker()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        std::vector<Entry> batch = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        const Outcome outcome = putInPlace(batch);
        QMetaObject::invokeMethod(this, [this, outcome] {
            --m_commitsUnderWay;
            emit committed(outcome.inPlace, outcome.failed);
        }, Qt::QueuedConnection);
        lock.lock();
        m_busy = false;
        if (m_jobs.empty())
            m_drained.notify_all();
    }
}

// The data must be on disk before any name points at it: otherwise a power
// cut could leave an empty file where the earlier copy was. The new names
// are synced before the files count as in place.
StagedBatch::Outcome StagedBatch::putInPlace(const std::vector<Entry> &batch)
{
    Outcome outcome;
    if (batch.empty())
        return outcome;
#if defined(Q_OS_LINUX)
    const QSet<QString> folders = foldersOf(batch);
    const bool synced = syncFileSystemsOf(folders);
#else
    const bool synced = true; // file by file, below
#endif
    QList<int> renamed;
    for (const Entry &entry : batch) {
#if defined(Q_OS_LINUX)
        const bool onDisk = synced;
#else
        const bool onDisk = synced && syncFile(entry.stagedPath);
#endif
        if (onDisk && replace(entry.stagedPath, entry.targetPath)) {
            renamed.append(entry.id);
        } else {
            qCWarning(lcTransfer) << "could not put" << entry.targetPath << "in place";
            QFile::remove(entry.stagedPath);
            outcome.failed.append(entry.id);
        }
    }
#if defined(Q_OS_LINUX)
    if (!renamed.isEmpty() && !syncFileSystemsOf(folders)) {
        outcome.failed += renamed;
        return outcome;
    }
#endif
    outcome.inPlace = renamed;
    return outcome;
}
