#include "comparison.h"

#include "ftpclient.h"
#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"
#include "transfer/stagedfile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

// The regular files of one local folder (links to files count, as Update
// sends them), without a download's leftover temporaries.
QHash<QString, QFileInfo> localFiles(const QString &folder)
{
    QHash<QString, QFileInfo> files;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        if (!StagedFile::isTemporaryName(entry.fileName()))
            files.insert(entry.fileName(), entry);
    }
    return files;
}

QString localFolderOf(const QString &base, const QString &tag)
{
    return localFilePath(base, tag == InstrumentLayout::topFolderTag ? QString() : tag, QString());
}

} // namespace

QString stateText(ComparedFile::State state)
{
    switch (state) {
    case ComparedFile::Same: return QStringLiteral("same");
    case ComparedFile::Differs: return QStringLiteral("differs");
    case ComparedFile::OnlyOnInstrument: return QStringLiteral("only on instrument");
    case ComparedFile::OnlyOnPc: return QStringLiteral("only on PC");
    }
    return QString();
}

QList<ComparedFile> compareFiles(const QList<RemoteEntry> &remote, const QString &base)
{
    QList<ComparedFile> compared;
    for (const QString &tag : listingFolderTags) {
        const QHash<QString, QFileInfo> local = localFiles(localFolderOf(base, tag));
        QList<ComparedFile> folder;
        QSet<QString> matched;
        for (const RemoteEntry &entry : remote) {
            if (entry.folder != tag)
                continue;
            ComparedFile file;
            file.folder = tag;
            file.name = entry.name;
            file.instrumentSize = entry.size;
            // A name that is no plain file name can never stand on the PC,
            // and is not looked up there.
            const auto found = isPlainFileName(entry.name) ? local.constFind(entry.name) : local.constEnd();
            if (found == local.constEnd()) {
                file.state = ComparedFile::OnlyOnInstrument;
            } else {
                matched.insert(entry.name);
                file.pcSize = found->size();
                file.localPath = found->absoluteFilePath();
                file.state = entry.size >= 0 && entry.size == file.pcSize ? ComparedFile::Same : ComparedFile::Differs;
            }
            folder << file;
        }
        for (auto it = local.constBegin(); it != local.constEnd(); ++it) {
            if (!matched.contains(it.key()))
                folder << ComparedFile{tag, it.key(), ComparedFile::absent, it->size(), ComparedFile::OnlyOnPc,
                                       QString(), it->absoluteFilePath()};
        }
        std::stable_sort(folder.begin(), folder.end(),
                         [](const ComparedFile &a, const ComparedFile &b) { return a.name < b.name; });
        compared += folder;
    }
    return compared;
}

// --- ContentCheck ------------------------------------------------------------------

ContentCheck::ContentCheck(const QString &localPath, QObject *parent) : QIODevice(parent), m_local(localPath)
{
}

// The PC's file is open only while its counterpart arrives. One that
// cannot be read (or is no longer a regular file) differs from the first byte.
bool ContentCheck::open(OpenMode mode)
{
    m_received = 0;
    m_firstDifference = -1;
    if (!QFileInfo(m_local.fileName()).isFile() || !m_local.open(QIODevice::ReadOnly))
        m_firstDifference = 0;
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void ContentCheck::close()
{
    // A PC file longer than what arrived differs where the data ended.
    if (m_firstDifference < 0 && m_local.isOpen() && !m_local.atEnd())
        m_firstDifference = m_received;
    m_local.close();
    QIODevice::close();
}

qint64 ContentCheck::writeData(const char *data, qint64 length)
{
    if (m_firstDifference < 0) {
        m_buffer.resize(qsizetype(length));
        const qint64 got = qMax<qint64>(0, m_local.read(m_buffer.data(), length));
        const auto mismatch = std::mismatch(data, data + got, m_buffer.constData());
        const qint64 same = mismatch.first - data;
        if (same < length)
            m_firstDifference = m_received + same;
    }
    m_received += length;
    return length;
}

// --- ContentComparison --------------------------------------------------------------

ContentComparison::ContentComparison(FtpClient *client, QList<ComparedFile> *files, QObject *parent)
    : QObject(parent), m_client(client), m_files(files)
{
    connect(m_client, &FtpClient::commandStarted, this, &ContentComparison::onStarted);
    connect(m_client, &FtpClient::dataTransferProgress, this, &ContentComparison::onProgress);
    connect(m_client, &FtpClient::commandFinished, this, &ContentComparison::onFinished);
}

ContentComparison::~ContentComparison() = default;

// The walk leaves the connection in the top folder: its files are fetched
// there, those of each other folder after a change into it and back.
int ContentComparison::queue()
{
    for (const QString &tag : listingFolderTags) {
        const bool top = tag == InstrumentLayout::topFolderTag;
        bool entered = false;
        for (int i = 0; i < m_files->size(); ++i) {
            const ComparedFile &file = m_files->at(i);
            if (file.folder != tag || file.state != ComparedFile::Same)
                continue;
            if (!top && !entered)
                m_client->cd(tag);
            entered = true;
            auto check = std::make_unique<ContentCheck>(file.localPath);
            const int id = m_client->get(file.name, check.get(), FtpClient::Binary, file.instrumentSize);
            m_fetches[id] = Fetch{i, ++m_count, m_bytesTotal, std::move(check)};
            m_bytesTotal += file.instrumentSize;
        }
        if (entered && !top)
            m_client->cd(InstrumentLayout::upToTop);
    }
    return m_count;
}

void ContentComparison::onStarted(int commandId)
{
    const auto found = m_fetches.find(commandId);
    m_current = found == m_fetches.end() ? nullptr : &found->second;
    if (m_current) {
        const ComparedFile &file = m_files->at(m_current->file);
        const QString path = file.folder == InstrumentLayout::topFolderTag ? file.name : file.folder + u'/' + file.name;
        emit fileStarted(m_current->number, m_count, printableName(path));
        emit progressChanged(m_current->bytesBefore, m_bytesTotal);
    }
}

void ContentComparison::onProgress(qint64 done)
{
    if (m_current && done >= 0)
        emit progressChanged(m_current->bytesBefore + done, m_bytesTotal);
}

void ContentComparison::onFinished(int commandId, bool error)
{
    const auto found = m_fetches.find(commandId);
    if (found == m_fetches.end())
        return;
    m_current = nullptr;
    ContentCheck &check = *found->second.check;
    check.close();
    ComparedFile &file = (*m_files)[found->second.file];
    if (error) {
        // The client drops the rest and reports the failure.
    } else if (check.received() != file.instrumentSize) {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("%1/%2: %3 of %4 bytes arrived")
                            .arg(file.folder, printableName(file.name))
                            .arg(check.received())
                            .arg(file.instrumentSize);
    } else if (check.firstDifference() >= 0) {
        file.state = ComparedFile::Differs;
        file.detail = QStringLiteral("content from byte %1").arg(check.firstDifference());
    }
    m_fetches.erase(found);
}
