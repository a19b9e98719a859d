#pragma once

#include <QString>
#include <QStringList>

// Writes a realistic R9 instrument file set into a folder: the two data
// folders, TEXT and FONTS, and the top folder's files. Content is
// deterministic for a given seed.
struct SampleSet {
    quint32 seed = 9;
    int filesPerDataFolder = 12;     // in each of DATA/IPA_BD1 and DATA/IPS_BD1
    int textFiles = 4;
    int fontFiles = 3;
    qint64 minFileSize = 200;
    qint64 maxFileSize = 64 * 1024;
    int settingsFiles = 5;           // how many of the settings file names to write (0..14)
    qint64 bigFileSize = 0;          // > 0: add DATA/IPA_BD1/BIGDATA.BIN of this size (sparse-free, streamed)
};

class SampleGenerator
{
public:
    // Returns false and sets *error when a file or folder cannot be written.
    static bool generate(const QString &folder, const SampleSet &sample, QString *error = nullptr);
    // The names of the settings files, as the instrument spells them.
    static QStringList settingsFileNames();
};
