#include "app/mainform.h"
#include "app/r9_update.h"
#include "transfer/nametables.h"
#include "transfer/stagedfile.h"
#include "transfer/uploadsource.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <algorithm>

namespace {

template <std::size_t N>
bool isIn(const std::array<QString, N> &table, const QString &name)
{
    return std::find(table.begin(), table.end(), name) != table.end();
}

// The root entries each set needs as files. "R9DIGIT" may be a folder: the
// update then leaves it out.
const std::array<QString, 2> restoreFiles = {QStringLiteral("INIE91.CFG"), QStringLiteral("INIE91.FLS")};
const std::array<QString, 3> updateFiles = {QStringLiteral("COMMANDS.TXT"), QStringLiteral("INIE91.CFG"),
                                            QStringLiteral("INIE91.FLS")};

// The listing of the chosen folder. A download's leftover temporary is no
// part of a set: on Windows its leading dot does not hide it.
QFileInfoList setEntries(const QDir &dir)
{
    QFileInfoList entries = dir.entryInfoList();
    entries.removeIf([](const QFileInfo &entry) { return StagedFile::isTemporaryName(entry.fileName()); });
    return entries;
}

// A file the set needs must be one that the upload sends, or the operation
// would end without it.
bool isSendable(const QFileInfo &entry, const QDir &dir)
{
    return uploadCandidate(entry, dir.canonicalPath()).kind == UploadCandidate::File;
}

} // namespace

// A data set: exactly three entries besides "." and "..", each named, in
// upper case, like a root entry of the instrument.
bool R9_update::checkRestoreFolder()
{
    const QDir dir(form->localpath->text());
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (!isIn(rootEntryNames, name))
            continue;
        ++rootCount;
        if (isIn(restoreFiles, name) && !isSendable(entry, dir))
            return false;
    }
    return rootCount == 3 && entries.size() == 5;
}

// An update set: all seven root entries, in any letter case, and settings
// files besides them, nothing else.
bool R9_update::checkUpdateFolder()
{
    const QDir dir(form->localpath->text());
    const QFileInfoList entries = setEntries(dir);
    int rootCount = 0;
    int settingsCount = 0;
    int nameCount = 0;
    QString lastName;
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName().toUpper();
        if (isIn(rootEntryNames, name))
            ++rootCount;
        if (isIn(updateFiles, name) && !isSendable(entry, dir))
            return false;
        if (isIn(settingsFileNames, name))
            ++settingsCount;
        if (name != lastName)
            ++nameCount;
        lastName = name;
    }
    return rootCount == 7 && nameCount - settingsCount == 9 && entries.size() <= 21;
}
