#pragma once

#include <QString>

#include <array>

// Fixed name tables, built at start-up and never changed.
extern const std::array<QString, 6> stateNames;          // by FtpClient::State
extern const std::array<QString, 14> rootEntryNames;     // 7 names, 7 empty slots
extern const std::array<QString, 14> settingsFileNames;
extern const std::array<QString, 5> listingFolderTags;   // in listing-walk order
