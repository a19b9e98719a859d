#include "transfer/baselock.h"

#include "transfer/localnames.h"

BaseFolderLock::BaseFolderLock(const QString &folder)
    : m_folder(folder), m_file(localFilePath(folder, QString(), fileName))
{
    m_file.setStaleLockTime(0);
}

bool BaseFolderLock::tryLock()
{
    return m_file.tryLock(0);
}

QString BaseFolderLock::path() const
{
    return localFilePath(m_folder, QString(), fileName);
}
