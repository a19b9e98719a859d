#pragma once

#include <QString>
#include <QStringList>

#include <array>

// The instrument's fixed layout, written once: its folders, the tags of
// their listings in walk order, the way back to its top folder, the names
// a local set is checked against, and the state names shown to the user.

// By FtpClient::State.
extern const std::array<QString, 6> stateNames;
// The instrument's root entries: 7 names, 7 empty slots.
extern const std::array<QString, 14> rootEntryNames;
extern const std::array<QString, 14> settingsFileNames;
// The tag of each listing of the walk, in walk order. The walk lists each
// folder below the top folder by its path, then the top folder itself.
extern const std::array<QString, 5> listingFolderTags;

namespace InstrumentLayout {

// The argument of the folder change back to the top folder: a blank, then
// two dots, never "..".
inline const QString upToTop = QStringLiteral(" ..");
// The tag of the top folder's listing: a word, not a path.
inline const QString topFolderTag = QStringLiteral("ROOT");
// The folders below the top folder, in walk order; each is the argument of
// its folder change and its path below a local base folder.
inline const QStringList walkFolders = {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1"),
                                        QStringLiteral("TEXT"), QStringLiteral("FONTS")};
inline const QStringList dataFolders = {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1")};

// A data set: the data folders and two root files.
inline const QStringList dataSetFiles = {QStringLiteral("INIE91.CFG"), QStringLiteral("INIE91.FLS")};
// The root entries an update set needs as files ("R9DIGIT" may be a folder).
inline const QStringList updateSetFiles = {QStringLiteral("COMMANDS.TXT"), QStringLiteral("INIE91.CFG"),
                                           QStringLiteral("INIE91.FLS")};

// The local folders each download operation makes, in this order.
inline const QStringList backupLocalFolders = {QStringLiteral("DATA"), QStringLiteral("DATA/IPA_BD1"),
                                               QStringLiteral("DATA/IPS_BD1")};
inline const QStringList cloneLocalFolders = {QStringLiteral("DATA"), QStringLiteral("FONTS"), QStringLiteral("TEXT"),
                                              QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1")};
// The folders each upload makes on an instrument whose walk found no file.
inline const QStringList restoreRemoteFolders = backupLocalFolders;
inline const QStringList updateRemoteFolders = {QStringLiteral("DATA"), QStringLiteral("DATA/IPA_BD1"),
                                                QStringLiteral("DATA/IPS_BD1"), QStringLiteral("TEXT"),
                                                QStringLiteral("FONTS")};

} // namespace InstrumentLayout
