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

bool isOwnFolder(const QFileInfo &info)
{
    return info.isDir() && !isLink(info);
}

} // namespace

FolderHandle::~FolderHandle() = default;

std::shared_ptr<const FolderHandle> FolderHandle::openBase(const QString &path, QString *error)
{
    if (!QFileInfo(path).isDir()) {
        *error = pathRefusal(QStringLiteral("Not a folder"), path);
        return nullptr;
    }
    std::shared_ptr<FolderHandle> folder(new FolderHandle);
    folder->m_path = path;
    return folder;
}

bool FolderHandle::openInParent(QString *error)
{
    if (isOwnFolder(QFileInfo(m_path)))
        return true;
    *error = pathRefusal(QStringLiteral("Not a folder of its own (a link, or not a folder)"), m_path);
    return false;
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

bool FolderHandle::standsWhereOpened() const
{
    return m_parent ? isOwnFolder(QFileInfo(m_path)) : QFileInfo(m_path).isDir();
}
