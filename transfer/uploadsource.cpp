#include "transfer/uploadsource.h"

#include "transfer/locallinks.h"
#include "transfer/localnames.h"

#include <QDir>
#include <QFileInfo>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool isInside(const QString &path, const QString &root)
{
#if defined(Q_OS_WIN)
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    if (root.isEmpty())
        return false;
    return path.startsWith(root.endsWith(u'/') ? root : root + u'/', cs);
}

} // namespace

UploadSource::UploadSource(const QString &path, const QString &setRoot, QObject *parent)
    : QFile(path, parent), m_root(setRoot)
{
}

bool UploadSource::fail(const QString &reason)
{
    m_failureReason = reason;
    setErrorString(QDir::toNativeSeparators(fileName()) + QStringLiteral(": ") + reason);
    return false;
}

bool UploadSource::open(OpenMode mode)
{
    m_failureReason.clear();
    if (mode & (WriteOnly | Append | Truncate | NewOnly))
        return fail(QStringLiteral("an upload source is only read"));
    // A folder of the path swapped for a link since the click could lead
    // anywhere. (A file that is gone is left to open() to report.)
    const QString real = QFileInfo(fileName()).canonicalFilePath();
    if (!m_root.isEmpty() && !real.isEmpty() && !isInside(real, m_root))
        return fail(QStringLiteral("it no longer lies inside the chosen folder"));
#if defined(Q_OS_UNIX)
    const QByteArray path = QFile::encodeName(fileName());
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno == ELOOP ? QStringLiteral("a link now stands where the file was") : qt_error_string(errno));
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
        return fail(failure);
    }
    if (!QFile::open(fd, mode, AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    if (isLink(QFileInfo(fileName())))
        return fail(QStringLiteral("a link now stands where the file was"));
    if (!QFileInfo(fileName()).isFile())
        return fail(QStringLiteral("not a regular file"));
    if (!QFile::open(mode))
        return fail(errorString());
    if (isSequential()) {
        QFile::close();
        return fail(QStringLiteral("not a regular file"));
    }
    return true;
#endif
}

UploadCandidate uploadCandidate(const QFileInfo &entry, const QString &setRoot)
{
    if (isOwnFileName(entry.fileName()))
        return {UploadCandidate::Temporary, {}, 0, {}};
    if (!isLink(entry)) {
        if (entry.isDir())
            return {UploadCandidate::Folder, {}, 0, {}};
        if (entry.isFile())
            return {UploadCandidate::File, entry.absoluteFilePath(), entry.size(), {}};
        return {UploadCandidate::Unsafe, {}, 0, QStringLiteral("not a regular file")};
    }
    // Empty for a link that leads nowhere.
    const QFileInfo target(entry.canonicalFilePath());
    if (target.isDir())
        return {UploadCandidate::Folder, {}, 0, {}};
    if (target.filePath().isEmpty())
        return {UploadCandidate::Unsafe, {}, 0, QStringLiteral("a link that leads nowhere")};
    if (!isInside(target.filePath(), setRoot))
        return {UploadCandidate::Unsafe, {}, 0, QStringLiteral("a link leading outside the chosen folder")};
    if (!target.isFile())
        return {UploadCandidate::Unsafe, {}, 0, QStringLiteral("a link to no regular file")};
    if (isOwnFileName(target.fileName()))
        return {UploadCandidate::Unsafe, {}, 0, QStringLiteral("a link to a download's temporary file or a lock")};
    return {UploadCandidate::File, target.filePath(), target.size(), {}};
}
