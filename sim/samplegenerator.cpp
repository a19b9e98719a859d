#include "sim/samplegenerator.h"

#include "sim/splitmix64.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

const char *const languageCodes[] = { "EN", "IT", "DE", "FR", "ES", "PT", "NL", "PL", "CS", "HU", "RO", "TR", "RU", "ZH" };
const int fontShapes[][2] = { { 12, 24 }, { 8, 16 }, { 6, 8 }, { 16, 32 }, { 10, 20 }, { 24, 48 }, { 5, 7 }, { 32, 64 } };
const char *const words[] = { "ZERO", "SPAN", "WEIGHT", "TARE", "GROSS", "NET", "CALIBRATION", "ERROR",
                              "OVERLOAD", "UNDERLOAD", "PRINT", "SETUP", "SERIAL", "FILTER", "UNIT",
                              "LIMIT", "SCALE", "CHANNEL", "BRIDGE", "INPUT", "OUTPUT", "READY", "WAIT" };
constexpr qint64 chunkSize = 1 << 20;

class Writer
{
public:
    Writer(const QString &folder, QString *error) : m_folder(folder), m_error(error) {}

    bool makeFolder(const QString &relative)
    {
        if (QDir(m_folder).mkpath(relative))
            return true;
        return fail(QStringLiteral("Cannot create the folder %1").arg(QDir(m_folder).filePath(relative)));
    }

    bool write(const QString &relative, const QByteArray &content, const QDateTime &modified)
    {
        QFile file(QDir(m_folder).filePath(relative));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
        if (file.write(content) != content.size())
            return fail(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
        return finish(file, modified);
    }

    // Streams `size` pseudo-random bytes, so that a file of several GiB
    // never sits in memory.
    bool writeStream(const QString &relative, qint64 size, quint64 seed, const QDateTime &modified)
    {
        QFile file(QDir(m_folder).filePath(relative));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
        SplitMix64 rng(seed);
        QByteArray chunk(int(std::min(size, chunkSize)), Qt::Uninitialized);
        for (qint64 left = size; left > 0;) {
            const qint64 n = std::min(left, chunkSize);
            rng.fill(chunk.data(), n);
            if (file.write(chunk.constData(), n) != n)
                return fail(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
            left -= n;
        }
        return finish(file, modified);
    }

private:
    bool finish(QFile &file, const QDateTime &modified)
    {
        file.flush();
        // Old and recent dates both occur on a real instrument, and they
        // take different forms in a listing.
        file.setFileTime(modified, QFileDevice::FileModificationTime);
        file.close();
        return true;
    }

    bool fail(const QString &text)
    {
        if (m_error)
            *m_error = text;
        return false;
    }

    QString m_folder;
    QString *m_error;
};

quint64 streamSeed(quint32 seed, const QString &relative)
{
    return SplitMix64::hash(relative.toUtf8()) ^ (quint64(seed) * 0x9E3779B97F4A7C15ULL);
}

QByteArray randomBytes(SplitMix64 &rng, qint64 size)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    rng.fill(bytes.data(), size);
    return bytes;
}

QByteArray sentence(SplitMix64 &rng, int wordCount)
{
    QByteArray line;
    for (int i = 0; i < wordCount; ++i) {
        if (i)
            line += ' ';
        line += words[rng.between(0, int(std::size(words)) - 1)];
    }
    return line;
}

// Binary measurement records behind a readable header; the line ends and
// zero bytes up front make every data file a test of byte-exact transfer.
QByteArray dataFile(quint32 seed, const QString &relative, const QString &name, qint64 size)
{
    SplitMix64 rng(streamSeed(seed, relative));
    QByteArray content = "R9DATA " + name.toLatin1() + "\r\n";
    content += QByteArray("\r\n\0\r\0\n\n\r", 8);
    content += randomBytes(rng, std::max<qint64>(0, size - content.size()));
    content.truncate(int(size));
    return content;
}

QByteArray textFile(quint32 seed, const QString &relative, const QString &language, qint64 size)
{
    SplitMix64 rng(streamSeed(seed, relative));
    QByteArray content = "; R9 messages, language " + language.toLatin1() + "\r\n";
    for (int id = 1; content.size() < size; ++id)
        content += QByteArray::number(id).rightJustified(4, '0') + '=' + sentence(rng, int(rng.between(1, 6))) + "\r\n";
    return content;
}

QByteArray fontFile(quint32 seed, const QString &relative, int width, int height)
{
    SplitMix64 rng(streamSeed(seed, relative));
    QByteArray content = "R9FONT";
    content += char(width);
    content += char(height);
    content += char(0x20);   // first glyph
    content += char(0xFF);   // last glyph
    content += randomBytes(rng, qint64(224) * ((width + 7) / 8) * height);
    return content;
}

QByteArray commandsFile(quint32 seed)
{
    SplitMix64 rng(streamSeed(seed, QStringLiteral("COMMANDS.TXT")));
    QByteArray content = "; R9 serial command set\r\n";
    const char *const commands[] = { "ZERO", "TARE", "PRINT", "READ", "SETP", "GETP", "CAL", "RESET", "VER", "STAT" };
    for (const char *command : commands)
        content += QByteArray(command) + " ; " + sentence(rng, int(rng.between(2, 7))) + "\r\n";
    return content;
}

QByteArray configFile(quint32 seed)
{
    SplitMix64 rng(streamSeed(seed, QStringLiteral("INIE91.CFG")));
    QByteArray content = "[SYSTEM]\r\n";
    content += "SERIAL=R9" + QByteArray::number(rng.between(100000, 999999)) + "\r\n";
    content += "FIRMWARE=2." + QByteArray::number(rng.between(0, 9)) + '.' + QByteArray::number(rng.between(0, 99)) + "\r\n";
    content += "[CHANNELS]\r\n";
    for (int channel = 1; channel <= 4; ++channel)
        content += "CH" + QByteArray::number(channel) + "=" + QByteArray::number(rng.between(0, 65535)) + ','
                 + QByteArray::number(rng.between(1, 50)) + "\r\n";
    return content;
}

QByteArray fileListFile(const QStringList &dataNames)
{
    QByteArray content;
    for (const QString &name : dataNames)
        content += name.toLatin1() + "\r\n";
    return content;
}

QByteArray consysFile(quint32 seed)
{
    SplitMix64 rng(streamSeed(seed, QStringLiteral("CONSYS.INI")));
    QByteArray content = "[CONSYS]\r\n";
    content += "BAUDRATE=" + QByteArray(rng.next() % 2 ? "9600" : "19200") + "\r\n";
    content += "ADDRESS=" + QByteArray::number(rng.between(1, 32)) + "\r\n";
    content += "PARITY=NONE\r\nSTOPBITS=1\r\n";
    content += "[DISPLAY]\r\nCONTRAST=" + QByteArray::number(rng.between(10, 90)) + "\r\n";
    return content;
}

} // namespace

QStringList SampleGenerator::settingsFileNames()
{
    return { QStringLiteral("STARTPAGE"), QStringLiteral("ZEROADJ"), QStringLiteral("SERIALPROT"),
             QStringLiteral("SETNAMESERIAL"), QStringLiteral("MEASUNIT"), QStringLiteral("CURRLANG"),
             QStringLiteral("CONSYS.INI"), QStringLiteral("IOMODULE"), QStringLiteral("R9DMXRT"),
             QStringLiteral("MAXSCALE"), QStringLiteral("PPBRGLIM"), QStringLiteral("INPUTFILTER"),
             QStringLiteral("OEMPWD"), QStringLiteral("SERPWD") };
}

bool SampleGenerator::generate(const QString &folder, const SampleSet &sample, QString *error)
{
    auto refuse = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (sample.filesPerDataFolder < 0 || sample.textFiles < 0 || sample.fontFiles < 0 || sample.bigFileSize < 0)
        return refuse(QStringLiteral("File counts and sizes must not be negative"));
    if (sample.minFileSize < 0 || sample.maxFileSize < sample.minFileSize)
        return refuse(QStringLiteral("The file size range is empty"));
    if (sample.settingsFiles < 0 || sample.settingsFiles > settingsFileNames().size())
        return refuse(QStringLiteral("There are %1 settings files, not %2").arg(settingsFileNames().size()).arg(sample.settingsFiles));

    Writer writer(folder, error);
    for (const char *sub : { "DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS" }) {
        if (!writer.makeFolder(QString::fromLatin1(sub)))
            return false;
    }

    SplitMix64 layout(sample.seed);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime installed(QDate(2023, 1, 1).addDays(layout.between(0, 300)), QTime(8, 0).addSecs(layout.between(0, 36000)));
    auto recentOrOld = [&layout, &now]() { return now.addSecs(-layout.between(3600, 400LL * 24 * 3600)); };

    QStringList dataNames;
    for (const char *sub : { "IPA_BD1", "IPS_BD1" }) {
        const QString dataFolder = QStringLiteral("DATA/") + QLatin1String(sub);
        qint64 number = layout.between(1, 5000);
        for (int i = 0; i < sample.filesPerDataFolder; ++i) {
            number += layout.between(1, 9);
            const QString name = QStringLiteral("M%1.DAT").arg(number, 7, 10, QLatin1Char('0'));
            const QString relative = dataFolder + QLatin1Char('/') + name;
            const qint64 size = layout.between(sample.minFileSize, sample.maxFileSize);
            if (!writer.write(relative, dataFile(sample.seed, relative, name, size), recentOrOld()))
                return false;
            dataNames << name;
        }
    }
    if (sample.bigFileSize > 0) {
        const QString relative = QStringLiteral("DATA/IPA_BD1/BIGDATA.BIN");
        if (!writer.writeStream(relative, sample.bigFileSize, streamSeed(sample.seed, relative), now.addSecs(-600)))
            return false;
    }

    for (int i = 0; i < sample.textFiles; ++i) {
        const QString language = i < int(std::size(languageCodes)) ? QString::fromLatin1(languageCodes[i])
                                                                   : QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        const QString relative = QStringLiteral("TEXT/LANG_%1.TXT").arg(language);
        if (!writer.write(relative, textFile(sample.seed, relative, language, layout.between(1024, 8192)), installed))
            return false;
    }
    for (int i = 0; i < sample.fontFiles; ++i) {
        const int shape = i % int(std::size(fontShapes));
        const int width = fontShapes[shape][0] + 2 * (i / int(std::size(fontShapes)));
        const int height = fontShapes[shape][1];
        const QString relative = QStringLiteral("FONTS/F%1X%2.FNT").arg(width).arg(height);
        if (!writer.write(relative, fontFile(sample.seed, relative, width, height), installed))
            return false;
    }

    SplitMix64 digit(streamSeed(sample.seed, QStringLiteral("R9DIGIT")));
    if (!writer.write(QStringLiteral("COMMANDS.TXT"), commandsFile(sample.seed), installed)
        || !writer.write(QStringLiteral("INIE91.CFG"), configFile(sample.seed), recentOrOld())
        || !writer.write(QStringLiteral("INIE91.FLS"), fileListFile(dataNames), recentOrOld())
        || !writer.write(QStringLiteral("R9DIGIT"), QByteArray("R9DIGIT\0", 8) + randomBytes(digit, digit.between(4096, 32768)), installed))
        return false;

    const QStringList settings = settingsFileNames().mid(0, sample.settingsFiles);
    for (const QString &name : settings) {
        SplitMix64 rng(streamSeed(sample.seed, name));
        const QByteArray content = name == QLatin1String("CONSYS.INI") ? consysFile(sample.seed)
                                                                        : randomBytes(rng, rng.between(2, 256));
        if (!writer.write(name, content, recentOrOld()))
            return false;
    }
    return true;
}
