#include "stagedfile.h"

#include "locallinks.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#elif defined(Q_OS_WIN)
#include "windowsfiles.h"
#endif

namespace {

const QLatin1String temporaryPrefix(".r9-part-");
constexpr int suffixLength = 8;

// Writeback is started for every this many bytes written.
constexpr qint64 writebackStep = qint64(8) << 20;

QString randomSuffix()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < suffixLength; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
    return suffix;
}

} // namespace

StagedFile::StagedFile(const QString &targetPath, QObject *parent)
    : QFile(parent), target(targetPath)
{
}

StagedFile::~StagedFile()
{
    // A file that never arrived whole must not linger, whatever the reason.
    if (isOpen())
        QFile::close();
    if (!released && !fileName().isEmpty())
        QFile::remove(fileName());
}

// The temporary name is hidden (and the uploads pass over it by name), so
// that a set folder holding a leftover (after a power cut) does not send it
// to the instrument on an Update, and short, so that a name the folder
// cannot take fails only when it is put in place and does not stop the rest
// of the operation.
bool StagedFile::open(OpenMode mode)
{
    if (!(mode & WriteOnly) || (mode & ReadOnly) || !fileName().isEmpty()) {
        setErrorString(QStringLiteral("A staged file is written once"));
        return false;
    }
    const QFileInfo info(target);
    const QString stem = info.path() + u'/' + temporaryPrefix;
    for (int attempt = 0; attempt < 8; ++attempt) {
        setFileName(stem + randomSuffix());
        if (QFile::open(mode | NewOnly)) {
#if defined(Q_OS_WIN)
            // A leading dot hides nothing on Windows: the attribute does.
            WindowsFiles::setHidden(fileName(), true);
#endif
            // A replaced file keeps the permissions the technician gave it.
            if (info.exists())
                setPermissions(info.permissions());
            return true;
        }
        if (!QFile::exists(fileName()))
            break; // not a clash of names: the folder refuses
    }
    // Name the file the technician knows, not the temporary one.
    const QString reason = QDir::toNativeSeparators(target) + QStringLiteral(": ") + errorString();
    setFileName(QString());
    setErrorString(reason);
    return false;
}

void StagedFile::close()
{
    // A small file is left to the batch's one sync: starting its writeback
    // alone would cost a disk request per file.
    if (isOpen() && pos() >= writebackStep && flush())
        startWriteback(pos());
    QFile::close();
}

QString StagedFile::release()
{
    if (isOpen())
        close();
#if defined(Q_OS_WIN)
    // The attribute would move with the file onto its target.
    WindowsFiles::setHidden(fileName(), false);
#endif
    released = true;
    return fileName();
}

qint64 StagedFile::writeData(const char *data, qint64 length)
{
    const qint64 result = QFile::writeData(data, length);
    // pos() moves only after this returns.
    const qint64 end = pos() + qMax<qint64>(result, 0);
    if (end - writebackStart >= writebackStep && flush())
        startWriteback(end);
    return result;
}

bool StagedFile::isTemporaryName(const QString &fileName)
{
    if (fileName.size() != temporaryPrefix.size() + suffixLength || !fileName.startsWith(temporaryPrefix))
        return false;
    for (const QChar c : QStringView(fileName).mid(temporaryPrefix.size())) {
        if (!(c >= u'a' && c <= u'z') && !(c >= u'0' && c <= u'9'))
            return false;
    }
    return true;
}

void StagedFile::removeLeftovers(const QString &folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (isTemporaryName(entry.fileName()) && !isLink(entry))
            QFile::remove(entry.filePath());
    }
}

// Asks the kernel to begin writing the range out without waiting for it, so
// that disk and network work at the same time.
void StagedFile::startWriteback(qint64 end)
{
#if defined(Q_OS_LINUX)
    if (end > writebackStart && handle() >= 0)
        ::sync_file_range(handle(), writebackStart, end - writebackStart, SYNC_FILE_RANGE_WRITE);
#endif
    writebackStart = end;
}
