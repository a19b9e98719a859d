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
        *error = pathRefusal(qt_error_string(errno), path);
        return nullptr;
    }
    folder->m_device = status.st_dev;
    folder->m_inode = status.st_ino;
    return folder;
}

// A link in the way fails with ELOOP or ENOTDIR, a file with ENOTDIR.
bool FolderHandle::openInParent(QString *error)
{
    m_fd = ::openat(m_parent->m_fd, QFile::encodeName(m_name).constData(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0) {
        *error = errno == ELOOP || errno == ENOTDIR
                ? pathRefusal(QStringLiteral("Not a folder of its own (a link, or not a folder)"), m_path)
                : pathRefusal(qt_error_string(errno), m_path);
        return false;
    }
    m_device = status.st_dev;
    m_inode = status.st_ino;
    return true;
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

// The base folder by its path, through the technician's own links; a
// level below it by its name in its parent, as it was opened.
bool FolderHandle::standsWhereOpened() const
{
    struct stat status;
    const bool found = m_parent
            ? ::fstatat(m_parent->m_fd, QFile::encodeName(m_name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            : ::stat(QFile::encodeName(m_path).constData(), &status) == 0;
    return found && S_ISDIR(status.st_mode) && status.st_dev == m_device && status.st_ino == m_inode;
}
