// Where folders cannot be opened as handles (Windows), the folder is named
// by its path, and each level is checked to be a folder of its own when it
// is opened and again by replacedLevel(). Holding the folder open against
// a rename is left to the platform's own code.

#include "transfer/folderhandle.h"

#include "transfer/locallinks.h"
#include "transfer/localnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_WIN)
#include "transfer/windowsfiles.h"
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace {

QString refusal(const QString &why, const QString &path)
{
    return why + QStringLiteral(":\n") + QDir::toNativeSeparators(path);
}

bool isOwnFolder(const QFileInfo &info)
{
    return info.isDir() && !isLink(info);
}

} // namespace

FolderHandle::~FolderHandle() = default;

std::shared_ptr<const FolderHandle> FolderHandle::openBase(const QString &path, QString *error)
{
    if (!QFileInfo(path).isDir()) {
        *error = refusal(QStringLiteral("Not a folder"), path);
        return nullptr;
    }
    std::shared_ptr<FolderHandle> folder(new FolderHandle);
    folder->m_path = path;
    return folder;
}

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
        if (!isOwnFolder(QFileInfo(folder->m_path))) {
            *error = refusal(QStringLiteral("Not a folder of its own (a link, or not a folder)"), folder->m_path);
            return nullptr;
        }
        parent = std::move(folder);
    }
    return parent;
}

QString FolderHandle::filePath(const QString &name) const
{
    return localFilePath(m_path, QString(), name);
}

bool FolderHandle::createFile(const QString &name, QFile &file, QIODevice::OpenMode mode, QString *error,
                              bool *nameTaken) const
{
    file.setFileName(filePath(name));
    // QFile's own open: `file` may be a subclass whose open() comes here.
    if (file.QFile::open(mode | QIODevice::NewOnly)) {
        *nameTaken = false;
        return true;
    }
    *nameTaken = QFileInfo::exists(file.fileName()) || QFileInfo(file.fileName()).isSymLink();
    *error = file.errorString();
    file.setFileName(QString());
    return false;
}

void FolderHandle::copyPermissions(const QString &name, QFile &file) const
{
    const QFileInfo info(filePath(name));
    if (info.isFile() && !isLink(info))
        file.setPermissions(info.permissions());
}

bool FolderHandle::rename(const QString &from, const QString &to) const
{
#if defined(Q_OS_WIN)
    return WindowsFiles::replace(filePath(from), filePath(to));
#else
    return std::rename(QFile::encodeName(filePath(from)).constData(), QFile::encodeName(filePath(to)).constData()) == 0;
#endif
}

bool FolderHandle::remove(const QString &name) const
{
    return QFile::remove(filePath(name));
}

QStringList FolderHandle::regularFiles() const
{
    QStringList names;
    for (const QFileInfo &entry : QDir(m_path).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!isLink(entry))
            names << entry.fileName();
    }
    return names;
}

bool FolderHandle::syncFile(const QString &name) const
{
#if defined(Q_OS_WIN)
    return WindowsFiles::flush(filePath(name));
#else
    QFile file(filePath(name));
    return file.open(QIODevice::ReadOnly) && ::fsync(file.handle()) == 0;
#endif
}

bool FolderHandle::syncFileSystem() const
{
    return false;
}

// A replacement written through is durable when it returns.
bool FolderHandle::syncNames() const
{
    return true;
}

quint64 FolderHandle::fileSystemId() const
{
    return 0;
}

QString FolderHandle::replacedLevel() const
{
    if (!m_parent)
        return QFileInfo(m_path).isDir() ? QString() : QDir::toNativeSeparators(m_path);
    if (const QString outer = m_parent->replacedLevel(); !outer.isEmpty())
        return outer;
    return isOwnFolder(QFileInfo(m_path)) ? QString() : m_relative;
}
