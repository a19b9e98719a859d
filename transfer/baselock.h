#pragma once

#include <QLockFile>
#include <QString>

// A run's hold on its base folder, from its plan to its end. A second run
// into the same folder, in this process or another, is refused while the
// first one writes; without it the second would take the first one's
// temporary files for a killed run's leftovers and remove them.
//
// Only a lock whose owner is gone is stale, however old it is: a clone
// over a slow link may hold it for hours.
class BaseFolderLock
{
public:
    // Beside the set's own entries, where no upload sends it and no check
    // counts it (see isOwnFileName()).
    static inline const QString fileName = QStringLiteral(".r9-update.lock");

    explicit BaseFolderLock(const QString &folder);
    ~BaseFolderLock();

    // Takes the lock at once or not at all; a stale lock is taken over.
    bool tryLock();
    // tryLock() failed because a live run holds the lock.
    bool heldByAnother() const { return m_file.error() == QLockFile::LockFailedError; }
    QString folder() const { return m_folder; }
    QString path() const;

private:
    QString m_folder;
    QLockFile m_file;
    QString m_held; // the lock file's canonical path, while this holds it
};
