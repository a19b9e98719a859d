#include "app/mainform.h"
#include "app/r9_update.h"
#include "transfer/nametables.h"

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

} // namespace

// A data set: exactly three entries besides "." and "..", each named, in
// upper case, like a root entry of the instrument.
bool R9_update::checkRestoreFolder()
{
    const QDir dir(form->localpath->text());
    int rootCount = 0;
    for (const QFileInfo &entry : dir.entryInfoList()) {
        if (isIn(rootEntryNames, entry.fileName()))
            ++rootCount;
    }
    return rootCount == 3 && dir.count() == 5;
}

// An update set: all seven root entries, in any letter case, and settings
// files besides them, nothing else.
bool R9_update::checkUpdateFolder()
{
    const QDir dir(form->localpath->text());
    int rootCount = 0;
    int settingsCount = 0;
    int nameCount = 0;
    QString lastName;
    for (const QFileInfo &entry : dir.entryInfoList()) {
        const QString name = entry.fileName().toUpper();
        if (isIn(rootEntryNames, name))
            ++rootCount;
        if (isIn(settingsFileNames, name))
            ++settingsCount;
        if (name != lastName)
            ++nameCount;
        lastName = name;
    }
    return rootCount == 7 && nameCount - settingsCount == 9 && dir.count() <= 21;
}
