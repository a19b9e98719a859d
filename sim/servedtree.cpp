#include "sim/servedtree.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

ServedTree::ServedTree(const QString &rootPath) : m_rootPath(rootPath) {}

bool ServedTree::rootExists() const
{
    return !m_rootPath.isEmpty() && QFileInfo(m_rootPath).isDir();
}

ServedTree::Location ServedTree::resolve(const QString &base, const QString &path) const
{
    QStringList steps;
    if (!path.startsWith(QLatin1Char('/')))
        steps = base.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("."))
            continue;
        if (step == QLatin1String("..")) {
            if (steps.isEmpty())
                return {};
            steps.removeLast();
            continue;
        }
        steps << step;
    }
    return locate(steps.join(QLatin1Char('/')));
}

ServedTree::Location ServedTree::locate(const QString &virtualPath) const
{
    Location where;
    where.virtualPath = virtualPath;
    where.diskPath = virtualPath.isEmpty() ? m_rootPath : m_rootPath + QLatin1Char('/') + virtualPath;
    const QFileInfo info(where.diskPath);
    if (info.exists()) {
        if (!isConfined(info.canonicalFilePath()))
            return {};
        where.exists = true;
        where.isFolder = info.isDir();
        where.isFile = info.isFile();
    } else {
        // A dangling symlink could still be written through to anywhere.
        if (info.isSymLink())
            return {};
        const QFileInfo parent(info.absolutePath());
        if (parent.exists() && !isConfined(parent.canonicalFilePath()))
            return {};
    }
    where.valid = true;
    return where;
}

bool ServedTree::isConfined(const QString &canonicalPath) const
{
    const QString root = QFileInfo(m_rootPath).canonicalFilePath();
    if (root.isEmpty() || canonicalPath.isEmpty())
        return false;
    return canonicalPath == root || canonicalPath.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

QString ServedTree::fileName(const QString &virtualPath)
{
    return virtualPath.section(QLatin1Char('/'), -1);
}

QString ServedTree::displayPath(const QString &virtualPath)
{
    return QLatin1Char('/') + virtualPath;
}
