#pragma once

#include <QList>
#include <QString>

#include <vector>

// Downloads that have arrived whole and wait, under their temporary names,
// to be put in place. commit() makes them durable with one sync for all,
// then renames each over its target: a crash at any point leaves every
// target either as it was or replaced by a complete file.
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
    bool isEmpty() const { return entries.empty(); }
    int count() const { return int(entries.size()); }

    // Enough waits that putting it in place now saves little by waiting
    // longer, and a technician would miss it if the operation broke off.
    bool isFull() const;

    // Puts every waiting file in place. Returns the command ids of those
    // that could not be (the sync or the rename failed: their temporary
    // files are removed and their targets left untouched), and of those put
    // in place whose new names could not be synced.
    QList<int> commit();

    // Removes every waiting temporary file; the targets stay as they were.
    void discard();

    static constexpr int maxFiles = 256;
    static constexpr qint64 maxBytes = qint64(256) << 20;

private:
    std::vector<Entry> entries;
    qint64 bytes = 0;
};
