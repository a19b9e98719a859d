#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class FolderHandle;

// Downloads that have arrived whole and wait, under their temporary names,
// to be put in place. A commit makes them durable and puts them in place on
// a worker thread, so that the event loop never waits on the disk: it syncs
// their data (one sync for all), renames each over its target within the
// folder opened for it, and syncs the folders' new names. A crash at any
// point leaves every target either as it was or replaced by a complete
// file. Commits run one after another, in the order they were asked for.
class StagedBatch : public QObject
{
    Q_OBJECT

public:
    struct Entry
    {
        std::shared_ptr<const FolderHandle> folder;
        QString stagedName;
        QString targetName;
        qint64 size = 0;
        int id = 0; // the caller's, to tell the files apart in committed()
    };

    explicit StagedBatch(QObject *parent = nullptr);
    // Waits for the commits under way, then puts the files still waiting
    // in place: files that arrived whole are not lost because the engine goes.
    ~StagedBatch() override;

    void add(Entry entry);
    int waitingCount() const { return int(m_waiting.size()); }
    // Enough waits that putting it in place now saves little by waiting
    // longer, and a technician would miss it if the operation broke off.
    bool isFull() const;

    // Starts putting the waiting files in place and returns at once;
    // committed() tells how it went.
    void commit();
    // No commit runs and no file waits.
    bool isIdle() const { return m_waiting.empty() && m_commitsUnderWay == 0; }
    // Blocks until every commit asked for has run. For the end of the
    // process, never for the event loop.
    void waitForCommits();

    static constexpr int maxFiles = 256;
    static constexpr qint64 maxBytes = qint64(256) << 20;

signals:
    // One commit has ended: the ids of the files now in place and on disk,
    // and of those that could not be put in place (their temporary files
    // are removed, their targets left as they were).
    void committed(const QList<int> &inPlace, const QList<int> &failed);

private:
    struct Outcome
    {
        QList<int> inPlace;
        QList<int> failed;
    };
    static Outcome putInPlace(const std::vector<Entry> &batch);
    void runWorker();

    std::vector<Entry> m_waiting;
    qint64 m_waitingBytes = 0;
    int m_commitsUnderWay = 0;

    // The worker and its queue of commits.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::vector<Entry>> m_jobs;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_worker;
};
