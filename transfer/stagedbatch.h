#pragma once

#include <QList>
#include <QString>

#include <future>
#include <vector>

// Downloads that have arrived whole and wait, under their temporary names,
// to be put in place. commit() makes them durable with one sync for all,
// then renames each over its target: a crash at any point leaves every
// target either as it was or replaced by a complete file.
//
// commitInBackground() lets the transfers go on while the disk catches up:
// the waiting files are synced by a worker thread, and renamed over their
// targets (in this thread) by the next call of either commit function.
// Their new names are made durable by the sync after that one, so a
// commit() at the end leaves everything on disk.
class StagedBatch
{
public:
    struct Entry
    {
        QString stagedPath;
        QString targetPath;
        qint64 size = 0;
        int commandId = 0;
    };

    StagedBatch() = default;
    StagedBatch(const StagedBatch &) = delete;
    StagedBatch &operator=(const StagedBatch &) = delete;
    ~StagedBatch();

    void add(Entry entry);
    // Counts the files being synced in the background too.
    bool isEmpty() const { return count() == 0; }
    int count() const { return int(entries.size() + syncing.size()); }

    // Enough waits that putting it in place now saves little by waiting
    // longer, and a technician would miss it if the operation broke off.
    bool isFull() const;

    // Puts every waiting file in place, waiting for a background sync if
    // one runs. Returns the command ids of those that could not be (the
    // sync or the rename failed: their temporary files are removed and
    // their targets left untouched), and of those put in place whose new
    // names could not be synced.
    QList<int> commit();

    // Puts the files of the previous background sync in place and starts
    // syncing the waiting ones; returns at once, with the failures found
    // meanwhile, reported as by commit().
    QList<int> commitInBackground();

    // Removes every waiting temporary file; the targets stay as they were.
    void discard();

    static constexpr int maxFiles = 256;
    static constexpr qint64 maxBytes = qint64(256) << 20;

private:
    QList<int> finishBackgroundSync();
    QList<int> putInPlace(std::vector<Entry> &batch, bool synced);

    std::vector<Entry> entries;
    qint64 bytes = 0;
    // The files the worker syncs, those put in place before it started
    // (whose new names its sync makes durable too), and its result.
    std::vector<Entry> syncing;
    std::vector<Entry> renamedBeforeSync;
    std::future<bool> syncResult;
    // Put in place, but their new names wait for the next sync.
    std::vector<Entry> renamed;
};
