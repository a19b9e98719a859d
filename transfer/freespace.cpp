#include "transfer/freespace.h"

#include <limits>

#if defined(Q_OS_WIN)
#include "transfer/windowsfiles.h"
#else
#include <QFile>

#include <sys/statvfs.h>
#endif

qint64 freeBytes(const QString &folder)
{
#if defined(Q_OS_WIN)
    return WindowsFiles::freeBytes(folder);
#else
    struct statvfs info;
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return -1;
    // What an unprivileged writer may use, not the root's reserve.
    const unsigned long long bytes = (unsigned long long)info.f_bavail * info.f_frsize;
    return bytes > (unsigned long long)std::numeric_limits<qint64>::max() ? std::numeric_limits<qint64>::max()
                                                                         : qint64(bytes);
#endif
}
