#include "transfer/folderhandle.h"

#include "transfer/localnames.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString refusal(const QString &why, const QString &path)
{
    return why + QStringLiteral(":\n") + QDir::toNativeSeparators(path);
}

int retried(int (*call)(int), int fd)
{
    int result;
    do {
        result = call(fd);
    } while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::shared_ptr<const FolderHandle> FolderHandle::openBase(const QString &path, QString *error)
{
    std::shared_ptr<FolderHandle> folder(new FolderHandle);
    folder->m_path = path;
    folder->m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status;
    if (folder->m_fd < 0 || ::fstat(folder->m_fd, &status) != 0) {
        *error = refusal(qt_error_string(errno), path);
        return nullptr;
    }
    folder->m_device = status.st_dev;
    folder->m_inode = status.st_ino;
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
        // A link in the way fails with ELOOP or ENOTDIR, a file with ENOTDIR.
        folder->m_fd = ::openat(parent->m_fd, QFile::encodeName(level).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat status;
        if (folder->m_fd < 0 || ::fstat(folder->m_fd, &status) != 0) {
            *error = errno == ELOOP || errno == ENOTDIR
                    ? refusal(QStringLiteral("Not a folder of its own (a link, or not a folder)"), folder->m_path)
                    : refusal(qt_error_string(errno), folder->m_path);
            return nullptr;
        }
        folder->m_device = status.st_dev;
        folder->m_inode = status.st_ino;
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
    int fd;
    do {
        fd = ::openat(m_fd, QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
    } while (fd < 0 && errno == EINTR);
    *nameTaken = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    // The file is new and empty: there is nothing to truncate.
    if (!file.open(fd, mode & ~(QIODevice::Truncate | QIODevice::NewOnly), QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0);
        *error = file.errorString();
        return false;
    }
    return true;
}

void FolderHandle::copyPermissions(const QString &name, QFile &file) const
{
    struct stat status;
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(status.st_mode))
        ::fchmod(file.handle(), status.st_mode & 07777);
}

bool FolderHandle::rename(const QString &from, const QString &to) const
{
    return ::renameat(m_fd, QFile::encodeName(from).constData(), m_fd, QFile::encodeName(to).constData()) == 0;
}

bool FolderHandle::remove(const QString &name) const
{
    return ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0) == 0;
}

QStringList FolderHandle::regularFiles() const
{
    QStringList names;
    // The listing reads through a descriptor of its own.
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent *entry = ::readdir(dir)) {
        struct stat status;
        const bool regular = entry->d_type == DT_REG
                || (entry->d_type == DT_UNKNOWN && ::fstatat(m_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
                    && S_ISREG(status.st_mode));
        if (regular)
            names << QFile::decodeName(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool FolderHandle::syncFile(const QString &name) const
{
    // Read-only is enough to sync, and a replaced file's permissions may
    // allow no more.
    const int fd = ::openat(m_fd, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = retried(::fsync, fd) == 0;
    ::close(fd);
    return synced;
}

bool FolderHandle::syncFileSystem() const
{
#if defined(Q_OS_LINUX)
    return retried(::syncfs, m_fd) == 0;
#else
    return false;
#endif
}

bool FolderHandle::syncNames() const
{
    if (retried(::fsync, m_fd) == 0)
        return true;
    // A file system that syncs no folder on its own is synced as a whole.
    return errno == EINVAL && syncFileSystem();
}

quint64 FolderHandle::fileSystemId() const
{
    return m_device;
}

QString FolderHandle::replacedLevel() const
{
    struct stat status;
    if (!m_parent) {
        // The base folder by its path, through the technician's own links.
        const bool there = ::stat(QFile::encodeName(m_path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
                && status.st_dev == m_device && status.st_ino == m_inode;
        return there ? QString() : QDir::toNativeSeparators(m_path);
    }
    if (const QString outer = m_parent->replacedLevel(); !outer.isEmpty())
        return outer;
    const bool there = ::fstatat(m_parent->m_fd, QFile::encodeName(m_name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(status.st_mode) && status.st_dev == m_device && status.st_ino == m_inode;
    return there ? QString() : m_relative;
}
