#include "transfer/stagedfile.h"

#include "transfer/folderhandle.h"

#include <QDir>
#include <QRandomGenerator>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#elif defined(Q_OS_WIN)
#include "transfer/windowsfiles.h"
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

StagedFile::StagedFile(std::shared_ptr<const FolderHandle> folder, const QString &targetName, QObject *parent)
    : QFile(parent), m_folder(std::move(folder)), m_target(targetName)
{
}

StagedFile::~StagedFile()
{
    // A file that never arrived whole must not linger, whatever the reason.
    if (isOpen())
        QFile::close();
    if (!m_released && !m_temporary.isEmpty())
        m_folder->remove(m_temporary);
}

QString StagedFile::targetPath() const
{
    return m_folder ? m_folder->filePath(m_target) : m_target;
}

// The temporary name is hidden (and the uploads pass over it by name), so
// that a set folder holding a leftover (after a power cut) does not send it
// to the instrument on an Update, and short, so that a name the folder
// cannot take fails only when it is put in place and does not stop the rest
// of the operation.
bool StagedFile::open(OpenMode mode)
{
    if (!(mode & WriteOnly) || (mode & ReadOnly) || !m_temporary.isEmpty() || !m_folder) {
        setErrorString(QStringLiteral("A staged file is written once"));
        return false;
    }
    QString reason;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString name = temporaryPrefix + randomSuffix();
        bool taken = false;
        if (m_folder->createFile(name, *this, mode, &reason, &taken)) {
            m_temporary = name;
#if defined(Q_OS_WIN)
            // A leading dot hides nothing on Windows: the attribute does.
            WindowsFiles::setHidden(m_folder->filePath(m_temporary), true);
#endif
            // A replaced file keeps the permissions the technician gave it.
            m_folder->copyPermissions(m_target, *this);
            return true;
        }
        if (!taken)
            break; // not a clash of names: the folder refuses
    }
    // Name the file the technician knows, not the temporary one.
    setErrorString(QDir::toNativeSeparators(targetPath()) + QStringLiteral(": ") + reason);
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
    WindowsFiles::setHidden(m_folder->filePath(m_temporary), false);
#endif
    m_released = true;
    return m_temporary;
}

qint64 StagedFile::writeData(const char *data, qint64 length)
{
    const qint64 result = QFile::writeData(data, length);
    // pos() moves only after this returns.
    const qint64 end = pos() + qMax<qint64>(result, 0);
    if (end - m_writebackStart >= writebackStep && flush())
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

void StagedFile::removeLeftovers(const FolderHandle &folder)
{
    for (const QString &name : folder.regularFiles()) {
        if (isTemporaryName(name))
            folder.remove(name);
    }
}

// Asks the kernel to begin writing the range out without waiting for it, so
// that disk and network work at the same time.
void StagedFile::startWriteback(qint64 end)
{
#if defined(Q_OS_LINUX)
    if (end > m_writebackStart && handle() >= 0)
        ::sync_file_range(handle(), m_writebackStart, end - m_writebackStart, SYNC_FILE_RANGE_WRITE);
#endif
    m_writebackStart = end;
}
