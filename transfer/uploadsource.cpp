#include "uploadsource.h"

#include <QDir>
#include <QFileInfo>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

UploadSource::UploadSource(const QString &path, QObject *parent)
    : QFile(path, parent)
{
}

bool UploadSource::open(OpenMode mode)
{
    const QString shown = QDir::toNativeSeparators(fileName()) + QStringLiteral(": ");
    if (mode & (WriteOnly | Append | Truncate | NewOnly)) {
        setErrorString(shown + QStringLiteral("an upload source is only read"));
        return false;
    }
#if defined(Q_OS_UNIX)
    const QByteArray path = QFile::encodeName(fileName());
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setErrorString(shown + (errno == ELOOP ? QStringLiteral("a link now stands where the file was")
                                               : qt_error_string(errno)));
        return false;
    }
    struct stat status;
    QString failure;
    if (::fstat(fd, &status) != 0)
        failure = qt_error_string(errno);
    else if (!S_ISREG(status.st_mode))
        failure = QStringLiteral("not a regular file");
    else if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        failure = qt_error_string(errno);
    if (!failure.isEmpty()) {
        ::close(fd);
        setErrorString(shown + failure);
        return false;
    }
    if (!QFile::open(fd, mode, AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    if (!QFileInfo(fileName()).isFile()) {
        setErrorString(shown + QStringLiteral("not a regular file"));
        return false;
    }
    if (!QFile::open(mode))
        return false;
    if (isSequential()) {
        QFile::close();
        setErrorString(shown + QStringLiteral("not a regular file"));
        return false;
    }
    return true;
#endif
}
