#include "transfer/instrumentlayout.h"

const std::array<QString, 6> stateNames = {
    QStringLiteral("Unconnected"), QStringLiteral("HostLookup"), QStringLiteral("Connecting"),
    QStringLiteral("Connected"), QStringLiteral("LoggedIn"), QStringLiteral("Closing"),
};

const std::array<QString, 14> rootEntryNames = {
    QStringLiteral("DATA"), QStringLiteral("TEXT"), QStringLiteral("FONTS"),
    QStringLiteral("COMMANDS.TXT"), QStringLiteral("INIE91.CFG"), QStringLiteral("INIE91.FLS"),
    QStringLiteral("R9DIGIT"),
    QString(), QString(), QString(), QString(), QString(), QString(), QString(),
};

const std::array<QString, 14> settingsFileNames = {
    QStringLiteral("STARTPAGE"), QStringLiteral("ZEROADJ"), QStringLiteral("SERIALPROT"),
    QStringLiteral("SETNAMESERIAL"), QStringLiteral("MEASUNIT"), QStringLiteral("CURRLANG"),
    QStringLiteral("CONSYS.INI"), QStringLiteral("IOMODULE"), QStringLiteral("R9DMXRT"),
    QStringLiteral("MAXSCALE"), QStringLiteral("PPBRGLIM"), QStringLiteral("INPUTFILTER"),
    QStringLiteral("OEMPWD"), QStringLiteral("SERPWD"),
};

const std::array<QString, 5> listingFolderTags = {
    InstrumentLayout::walkFolders.at(0), InstrumentLayout::walkFolders.at(1), InstrumentLayout::walkFolders.at(2),
    InstrumentLayout::walkFolders.at(3), InstrumentLayout::topFolderTag,
};
