#pragma once

#include <QFile>

// A download's local file. It is written under a hidden temporary name
// beside its target, and StagedBatch puts it in place once it has arrived
// whole and is on disk: until then any earlier copy stays as it was, and no
// part of a file ever stands under the target's name.
//
// Unlike QSaveFile it does not sync each file on its own: the batch syncs
// many at once, which costs one disk flush instead of one per file. While
// the data arrives, writeback is started every few MiB so that the final
// sync of a large file has little left to do.
class StagedFile : public QFile
{
    Q_OBJECT

public:
    explicit StagedFile(const QString &targetPath, QObject *parent = nullptr);
    ~StagedFile() override;

    QString targetPath() const { return target; }

    // Creates the temporary file (beside the target) and opens it.
    bool open(OpenMode mode) override;
    void close() override;

    // Hands the closed temporary file to its new owner: it is no longer
    // removed when this object goes.
    QString release();

    // Whether `fileName` is one of these temporary names.
    static bool isTemporaryName(const QString &fileName);
    // Removes the temporary files a killed run left in `folder`.
    static void removeLeftovers(const QString &folder);

protected:
    qint64 writeData(const char *data, qint64 length) override;

private:
    void startWriteback(qint64 end);

    QString target;
    bool released = false;
    qint64 writebackStart = 0;
};
