#include "transfer/locallinks.h"

#include <QFileInfo>

#if defined(Q_OS_WIN)
#include "transfer/windowsfiles.h"
#endif

bool isLink(const QFileInfo &entry)
{
#if defined(Q_OS_WIN)
    return entry.isSymbolicLink() || entry.isJunction() || WindowsFiles::isReparsePoint(entry.absoluteFilePath());
#else
    return entry.isSymbolicLink();
#endif
}
