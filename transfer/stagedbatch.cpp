#include "transfer/stagedbatch.h"

#include "transfer/transferlogging.h"
#include "transfer/folderhandle.h"

#include <algorithm>
#include <utility>

namespace {

// Each folder once, in the order first met.
std::vector<const FolderHandle *> foldersOf(const std::vector<StagedBatch::Entry> &entries)
{
    std::vector<const FolderHandle *> folders;
    for (const StagedBatch::Entry &entry : entries) {
        if (std::find(folders.cbegin(), folders.cend(), entry.folder.get()) == folders.cend())
            folders.push_back(entry.folder.get());
    }
    return folders;
}

#if defined(Q_OS_LINUX)
// One sync per file system writes out everything written there, with a
// single flush of the disk's cache. (Elsewhere each file is synced on its
// own.)
bool syncFileSystemsOf(const std::vector<const FolderHandle *> &folders)
{
    std::vector<quint64> synced;
    for (const FolderHandle *folder : folders) {
        if (std::find(synced.cbegin(), synced.cend(), folder->fileSystemId()) != synced.cend())
            continue;
        if (!folder->syncFileSystem())
            return false;
        synced.push_back(folder->fileSystemId());
    }
    return true;
}
#endif

bool syncNamesOf(const std::vector<const FolderHandle *> &folders)
{
    return std::all_of(folders.cbegin(), folders.cend(), [](const FolderHandle *folder) { return folder->syncNames(); });
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
// are synced before the files count as in place. Everything goes through
// the folders as they were opened: a folder swapped meanwhile for another,
// or for a link, receives nothing.
StagedBatch::Outcome StagedBatch::putInPlace(const std::vector<Entry> &batch)
{
    Outcome outcome;
    if (batch.empty())
        return outcome;
    const std::vector<const FolderHandle *> folders = foldersOf(batch);
#if defined(Q_OS_LINUX)
    const bool synced = syncFileSystemsOf(folders);
#else
    const bool synced = true; // file by file, below
#endif
    QList<int> renamed;
    for (const Entry &entry : batch) {
#if defined(Q_OS_LINUX)
        const bool onDisk = synced;
#else
        const bool onDisk = synced && entry.folder->syncFile(entry.stagedName);
#endif
        if (onDisk && entry.folder->rename(entry.stagedName, entry.targetName)) {
            renamed.append(entry.id);
        } else {
            qCWarning(lcTransfer) << "could not put" << entry.folder->filePath(entry.targetName) << "in place";
            entry.folder->remove(entry.stagedName);
            outcome.failed.append(entry.id);
        }
    }
    if (!renamed.isEmpty() && !syncNamesOf(folders)) {
        outcome.failed += renamed;
        return outcome;
    }
    outcome.inPlace = renamed;
    return outcome;
}
