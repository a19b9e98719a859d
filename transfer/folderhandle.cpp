#include "transfer/folderhandle.h"

#include "transfer/localnames.h"

#include <QDir>

std::shared_ptr<const FolderHandle> FolderHandle::openBelow(const std::shared_ptr<const FolderHandle> &base,
                                                            const QString &relative, QString *error)
{
    std::shared_ptr<const FolderHandle> parent = base;
    for (const QString &level : relative.split(u'/')) {
        std::shared_ptr<FolderHandle> folder(new FolderHandle);
        folder->m_parent = parent;
        folder->m_name = level;
        folder->m_path = localFilePath(parent->m_path, QString(), level);
        folder->m_relative = parent->m_relative.isEmpty() ? level : parent->m_relative + u'/' + level;
        if (!folder->openInParent(error))
            return nullptr;
        parent = std::move(folder);
    }
    return parent;
}

QString FolderHandle::filePath(const QString &name) const
{
    return localFilePath(m_path, QString(), name);
}

QString FolderHandle::replacedLevel() const
{
    if (!m_parent)
        return standsWhereOpened() ? QString() : QDir::toNativeSeparators(m_path);
    if (const QString outer = m_parent->replacedLevel(); !outer.isEmpty())
        return outer;
    return standsWhereOpened() ? QString() : m_relative;
}
