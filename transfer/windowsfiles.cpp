#include "transfer/windowsfiles.h"

#include "transfer/windowsnames.h"

#include <QFileInfo>

#include <limits>

#include <qt_windows.h>

namespace {

// Kept alive for the call it is passed to.
struct Win32Path
{
    explicit Win32Path(const QString &path) : text(extendedLengthPath(QFileInfo(path).absoluteFilePath())) {}
    const wchar_t *get() const { return reinterpret_cast<const wchar_t *>(text.utf16()); }
    QString text;
};

} // namespace

namespace WindowsFiles {

bool flush(const QString &path)
{
    const HANDLE file = ::CreateFileW(Win32Path(path).get(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return flushed;
}

bool replace(const QString &from, const QString &to)
{
    return ::MoveFileExW(Win32Path(from).get(), Win32Path(to).get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void setHidden(const QString &path, bool hidden)
{
    const Win32Path native(path);
    const DWORD attributes = ::GetFileAttributesW(native.get());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(native.get(),
                         hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN));
}

bool isReparsePoint(const QString &path)
{
    // The attributes of the entry itself: a reparse point is not followed.
    const DWORD attributes = ::GetFileAttributesW(Win32Path(path).get());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

qint64 freeBytes(const QString &folder)
{
    QString native = Win32Path(folder).text;
    if (!native.endsWith(u'\\'))
        native += u'\\';
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(reinterpret_cast<const wchar_t *>(native.utf16()), &available, nullptr, nullptr))
        return -1;
    return available.QuadPart > ULONGLONG(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max()
                                                                             : qint64(available.QuadPart);
}

} // namespace WindowsFiles
