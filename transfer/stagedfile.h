#pragma once

#include <QFile>

#include <memory>

class FolderHandle;

// A download's local file. It is written under a hidden temporary name
// beside its target, in the target's folder as opened when the operation
// began, and StagedBatch puts it in place once it has arrived whole and is
// on disk: until then any earlier copy stays as it was, and no part of a
// file ever stands under the target's name.
//
// Unlike QSaveFile it does not sync each file on its own: the batch syncs
// many at once, which costs one disk flush instead of one per file. While
// the data arrives, writeback is started every few MiB so that the final
// sync of a large file has little left to do.
class StagedFile : public QFile
{
    Q_OBJECT

public:
    StagedFile(std::shared_ptr<const FolderHandle> folder, const QString &targetName, QObject *parent = nullptr);
    ~StagedFile() override;

    const std::shared_ptr<const FolderHandle> &folder() const { return m_folder; }
    QString targetName() const { return m_target; }
    // Where the target stands, to name it to the technician.
    QString targetPath() const;

    // Creates the temporary file (beside the target) and opens it.
    bool open(OpenMode mode) override;
    void close() override;

    // Hands the closed temporary file to its new owner: its name in the
    // folder. It is no longer removed when this object goes.
    QString release();

    // Whether `fileName` is one of these temporary names.
    static bool isTemporaryName(const QString &fileName);
    // Removes the temporary files a killed run left in `folder`. Only for
    // the holder of the base folder's lock: another live run's files look
    // just the same.
    static void removeLeftovers(const FolderHandle &folder);

protected:
    qint64 writeData(const char *data, qint64 length) override;

private:
    void startWriteback(qint64 end);

    std::shared_ptr<const FolderHandle> m_folder;
    QString m_target;
    QString m_temporary;
    bool m_released = false;
    qint64 m_writebackStart = 0;
};
