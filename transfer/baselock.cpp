#include "transfer/baselock.h"

#include "transfer/localnames.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSysInfo>

namespace {

// The locks this process holds, by the lock file's canonical path.
QMutex heldMutex;
QSet<QString> &heldHere()
{
    static QSet<QString> held;
    return held;
}

} // namespace

BaseFolderLock::BaseFolderLock(const QString &folder)
    : m_folder(folder), m_file(localFilePath(folder, QString(), fileName))
{
    m_file.setStaleLockTime(0);
}

BaseFolderLock::~BaseFolderLock()
{
    if (!m_file.isLocked())
        return;
    const QMutexLocker locker(&heldMutex);
    heldHere().remove(m_held);
}

// A lock that names this very process, though no run of it holds one, was
// left by an earlier process that had the same number: a killed run in a
// container or a sandbox, whose processes are numbered alike each time.
// QLockFile takes such a lock for a live one.
bool BaseFolderLock::tryLock()
{
    bool locked = m_file.tryLock(0);
    const QMutexLocker locker(&heldMutex);
    qint64 pid = 0;
    QString host;
    QString application;
    if (!locked && m_file.error() == QLockFile::LockFailedError && m_file.getLockInfo(&pid, &host, &application)
        && pid == QCoreApplication::applicationPid() && host == QSysInfo::machineHostName()
        && !heldHere().contains(QFileInfo(path()).canonicalFilePath()) && m_file.removeStaleLockFile())
        locked = m_file.tryLock(0);
    if (locked) {
        m_held = QFileInfo(path()).canonicalFilePath();
        heldHere().insert(m_held);
    }
    return locked;
}

QString BaseFolderLock::path() const
{
    return localFilePath(m_folder, QString(), fileName);
}
