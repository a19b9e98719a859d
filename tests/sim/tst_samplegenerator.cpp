// The sample instrument: the layout a technician's instrument has, and
// content fixed by the seed.

#include "samplegenerator.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

const QStringList rootEntries = { "COMMANDS.TXT", "DATA", "FONTS", "INIE91.CFG", "INIE91.FLS", "R9DIGIT", "TEXT" };

} // namespace

class TestSampleGenerator : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void seedFixesTheBytes();
    void refusesBadSpecs_data();
    void refusesBadSpecs();
    void reportsUnwritableFolder();
};

void TestSampleGenerator::layout_data()
{
    QTest::addColumn<int>("dataFiles");
    QTest::addColumn<int>("settings");
    QTest::addColumn<int>("textFiles");
    QTest::addColumn<int>("fontFiles");

    QTest::newRow("defaults") << SampleSet().filesPerDataFolder << SampleSet().settingsFiles << SampleSet().textFiles
                              << SampleSet().fontFiles;
    QTest::newRow("no settings, no data") << 0 << 0 << 1 << 1;
    QTest::newRow("all settings") << 3 << 14 << 4 << 3;
    QTest::newRow("many small files") << 1500 << 2 << 20 << 12;
}

void TestSampleGenerator::layout()
{
    QFETCH(int, dataFiles);
    QFETCH(int, settings);
    QFETCH(int, textFiles);
    QFETCH(int, fontFiles);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleSet sample;
    sample.filesPerDataFolder = dataFiles;
    sample.settingsFiles = settings;
    sample.textFiles = textFiles;
    sample.fontFiles = fontFiles;
    sample.minFileSize = 300;
    sample.maxFileSize = 2000;
    QString error;
    QVERIFY2(SampleGenerator::generate(dir.path(), sample, &error), qPrintable(error));

    QStringList expectedTop = rootEntries + SampleGenerator::settingsFileNames().mid(0, settings);
    expectedTop.sort();
    QCOMPARE(entries(dir.path()), expectedTop);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("R9DIGIT"))).isFile());
    for (const QString &name : SampleGenerator::settingsFileNames().mid(0, settings))
        QVERIFY(QFileInfo(dir.filePath(name)).isFile());
    QCOMPARE(entries(dir.filePath(QStringLiteral("DATA"))), QStringList({ "IPA_BD1", "IPS_BD1" }));

    static const QRegularExpression dataName(QStringLiteral("^M\\d{7}\\.DAT$"));
    for (const char *folder : { "DATA/IPA_BD1", "DATA/IPS_BD1" }) {
        const QFileInfoList files = QDir(dir.filePath(QString::fromLatin1(folder))).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QCOMPARE(files.size(), dataFiles);
        for (const QFileInfo &file : files) {
            QVERIFY2(file.isFile() && dataName.match(file.fileName()).hasMatch(), qPrintable(file.fileName()));
            QVERIFY2(file.size() >= sample.minFileSize && file.size() <= sample.maxFileSize, qPrintable(file.fileName()));
            // With the bytes a text-mode transfer would damage.
            const QByteArray content = readFile(file.filePath());
            QVERIFY(content.contains("\r\n") && content.contains('\0') && content.contains("\n\n"));
        }
    }
    const QStringList texts = entries(dir.filePath(QStringLiteral("TEXT")));
    QCOMPARE(texts.size(), textFiles);
    QVERIFY(texts.contains(QStringLiteral("LANG_EN.TXT")));
    for (const QString &name : texts)
        QVERIFY2(QRegularExpression(QStringLiteral("^LANG_[A-Z0-9]{2}\\.TXT$")).match(name).hasMatch(), qPrintable(name));
    const QStringList fonts = entries(dir.filePath(QStringLiteral("FONTS")));
    QCOMPARE(fonts.size(), fontFiles);
    QVERIFY(fonts.contains(QStringLiteral("F12X24.FNT")));
    for (const QString &name : fonts)
        QVERIFY2(QRegularExpression(QStringLiteral("^F\\d{1,2}X\\d{1,2}\\.FNT$")).match(name).hasMatch(), qPrintable(name));

    // INIE91.FLS names the data files.
    QFile list(dir.filePath(QStringLiteral("INIE91.FLS")));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll().count("\r\n"), 2 * dataFiles);
    // CONSYS.INI is readable text.
    const QByteArray consys = readFile(dir.filePath(QStringLiteral("CONSYS.INI")));
    QCOMPARE(consys.startsWith("[CONSYS]\r\n"), settings >= 7);
    for (char c : consys)
        QVERIFY2(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F), consys.constData());
}

void TestSampleGenerator::seedFixesTheBytes()
{
    QTemporaryDir first, second, other;
    SampleSet sample;
    sample.seed = 1234;
    sample.settingsFiles = 14;
    sample.bigFileSize = 3 * 1024 * 1024 + 5;
    QVERIFY(SampleGenerator::generate(first.path(), sample));
    QVERIFY(SampleGenerator::generate(second.path(), sample));
    sample.seed = 1235;
    QVERIFY(SampleGenerator::generate(other.path(), sample));
    const FileTree a = readTree(first.path());
    const FileTree b = readTree(other.path());
    QVERIFY(a.size() > 30);
    QVERIFY(a == readTree(second.path()));
    QCOMPARE(a.size(), b.size());
    QVERIFY(a.value(QStringLiteral("R9DIGIT")) != b.value(QStringLiteral("R9DIGIT")));
    QVERIFY(a.value(QStringLiteral("INIE91.CFG")) != b.value(QStringLiteral("INIE91.CFG")));
    // The big file is written in pieces, to its size, in one data folder.
    QCOMPARE(a.value(QStringLiteral("DATA/IPA_BD1/BIGDATA.BIN")).size(), sample.bigFileSize);
    QVERIFY(!a.contains(QStringLiteral("DATA/IPS_BD1/BIGDATA.BIN")));
}

void TestSampleGenerator::refusesBadSpecs_data()
{
    QTest::addColumn<int>("settings");
    QTest::addColumn<int>("files");
    QTest::addColumn<qint64>("minSize");
    QTest::addColumn<qint64>("maxSize");
    QTest::newRow("15 settings files") << 15 << 1 << qint64(1) << qint64(2);
    QTest::newRow("negative settings") << -1 << 1 << qint64(1) << qint64(2);
    QTest::newRow("negative files") << 1 << -3 << qint64(1) << qint64(2);
    QTest::newRow("empty size range") << 1 << 1 << qint64(10) << qint64(9);
}

void TestSampleGenerator::refusesBadSpecs()
{
    QFETCH(int, settings);
    QFETCH(int, files);
    QFETCH(qint64, minSize);
    QFETCH(qint64, maxSize);
    QTemporaryDir dir;
    SampleSet sample;
    sample.settingsFiles = settings;
    sample.filesPerDataFolder = files;
    sample.minFileSize = minSize;
    sample.maxFileSize = maxSize;
    QString error;
    QVERIFY(!SampleGenerator::generate(dir.path(), sample, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestSampleGenerator::reportsUnwritableFolder()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(!SampleGenerator::generate(dir.filePath(QStringLiteral("file/sample")), SampleSet(), &error));
    QVERIFY2(error.contains(QLatin1String("file/sample")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestSampleGenerator)
#include "tst_samplegenerator.moc"
