#include "operations/comparison.h"

#include "transfer/instrumentlayout.h"
#include "transfer/localnames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// The regular files of one local folder (links to files count, as Update
// sends them), without this tool's own files: a download's leftover
// temporaries, the lock of the run itself.
QHash<QString, QFileInfo> localFiles(const QString &folder)
{
    QHash<QString, QFileInfo> files;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        if (!isOwnFileName(entry.fileName()))
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
    case ComparedFile::Unreadable: return QStringLiteral("cannot read on the PC");
    case ComparedFile::NotFetched: return QStringLiteral("not compared");
    }
    return QString();
}

QString ComparedFile::path() const
{
    return folder == InstrumentLayout::topFolderTag ? name : folder + u'/' + name;
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
