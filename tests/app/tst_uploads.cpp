// Data Restore and Update: the folder checks at the click, the command
// sequences, the files on the instrument and the end messages, and round
// trips through a second instrument.

#include "instrumentfixture.h"

#include "app/instrumentendpoint.h"
#include "ftpclient.h"
#include "samplegenerator.h"
#include "transfer/transferstate.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An instrument with its folders and one file in each, so that the listing
// walk reports files.
void buildInstrument(InstrumentFixture &f)
{
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/OLD.DAT"), "old data");
    f.writeFile(f.instrumentPath("DATA/IPS_BD1/OLD.DAT"), "old data too");
    f.writeFile(f.instrumentPath("TEXT/OLD.TXT"), "old text");
    f.writeFile(f.instrumentPath("FONTS/OLD.FNT"), "old font");
    f.writeFile(f.instrumentPath("INIE91.CFG"), "old cfg");
}

void buildDataSet(InstrumentFixture &f)
{
    f.writeFile(f.localPath("DATA/IPA_BD1/b.dat"), randomBytes(2000, 11));
    f.writeFile(f.localPath("DATA/IPA_BD1/A.DAT"), randomBytes(50000, 12));
    f.writeFile(f.localPath("DATA/IPA_BD1/c.DAT"), randomBytes(0, 13));
    f.writeFile(f.localPath("DATA/IPA_BD1/.hidden"), "never sent");
    f.writeFile(f.localPath("DATA/IPA_BD1/SUB/DEEP.DAT"), "never sent");
    f.writeFile(f.localPath("DATA/IPS_BD1/S1.DAT"), randomBytes(777, 14));
    f.writeFile(f.localPath("INIE91.CFG"), randomBytes(90, 15));
    f.writeFile(f.localPath("INIE91.FLS"), randomBytes(91, 16));
}

void buildUpdateSet(InstrumentFixture &f)
{
    buildDataSet(f);
    f.writeFile(f.localPath("TEXT/LANG_EN.TXT"), randomBytes(300, 21));
    f.writeFile(f.localPath("TEXT/lang_de.txt"), randomBytes(301, 22));
    QDir().mkpath(f.localPath("FONTS"));
    f.writeFile(f.localPath("commands.txt"), randomBytes(40, 23));
    f.writeFile(f.localPath("R9DIGIT"), randomBytes(41, 24));
    f.writeFile(f.localPath("STARTPAGE"), randomBytes(42, 25));
    f.writeFile(f.localPath("consys.ini"), randomBytes(43, 26));
}

} // namespace

class tst_Uploads : public QObject
{
    Q_OBJECT

private slots:
    void dataRestore();
    void update();
    void refusedFolderQueuesNothing_data();
    void refusedFolderQueuesNothing();
    void createsFoldersOnAnEmptyInstrument();
    void existingFolderRefusedByMkdir();
    void refusedStore();
    void uploadCutShort();
    void fileChangedSizeIsIncomplete();
    void emptyBaseRefused();
    void cloneThenUpdateRoundTrip();
    void backupThenRestoreRoundTrip();
};

void tst_Uploads::dataRestore()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildDataSet(f);
    QVERIFY(f.connectAndWalk());
    const int walkLength = f.toolCommands().size();
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("BackupBotton_3"));
    QVERIFY(f.waitForUnconnected());

    QCOMPARE(f.toolCommands().mid(walkLength), QStringList({
        "CWD DATA/IPA_BD1", "STOR A.DAT", "STOR b.dat", "STOR c.DAT",
        "CWD  ..", "CWD DATA/IPS_BD1", "STOR S1.DAT",
        "CWD  ..", "STOR INIE91.CFG", "STOR INIE91.FLS",
        "CWD  ..", "QUIT"}));
    for (const char *file : {"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/b.dat", "DATA/IPA_BD1/c.DAT",
                             "DATA/IPS_BD1/S1.DAT", "INIE91.CFG", "INIE91.FLS"})
        QCOMPARE(f.readFile(f.instrumentPath(file)), f.readFile(f.localPath(file)));
    QVERIFY(!QFile::exists(f.instrumentPath("DATA/IPA_BD1/.hidden")));
    QVERIFY(!QFile::exists(f.instrumentPath("DATA/IPA_BD1/DEEP.DAT")));
    QVERIFY(labels.texts.contains("Update Completed"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
}

void tst_Uploads::update()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildUpdateSet(f);
    QVERIFY(f.connectAndWalk());
    const int walkLength = f.toolCommands().size();
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("updateButton"));
    QVERIFY(f.waitForUnconnected());

    QCOMPARE(f.toolCommands().mid(walkLength), QStringList({
        "CWD DATA/IPA_BD1", "STOR A.DAT", "STOR b.dat", "STOR c.DAT",
        "CWD  ..", "CWD DATA/IPS_BD1", "STOR S1.DAT",
        "CWD  ..", "CWD TEXT", "STOR lang_de.txt", "STOR LANG_EN.TXT",
        "CWD  ..", "CWD FONTS",
        "CWD  ..", "STOR commands.txt", "STOR consys.ini", "STOR INIE91.CFG", "STOR INIE91.FLS",
        "STOR R9DIGIT", "STOR STARTPAGE",
        "CWD  ..", "QUIT"}));
    for (const QString &file : filesBelow(f.localDir.path())) {
        if (file.contains(".hidden") || file.contains("SUB/"))
            continue;
        QCOMPARE(f.readFile(f.instrumentPath(file)), f.readFile(f.localPath(file)));
    }
    QVERIFY(labels.texts.contains("Update Completed"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
}

void tst_Uploads::refusedFolderQueuesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("damage");
    QTest::newRow("restore: DATA/IPA_BD1 missing") << "BackupBotton_3" << "DATA/IPA_BD1";
    QTest::newRow("restore: DATA/IPS_BD1 missing") << "BackupBotton_3" << "DATA/IPS_BD1";
    QTest::newRow("restore: an extra file") << "BackupBotton_3" << "+EXTRA.TXT";
    QTest::newRow("update: TEXT missing") << "updateButton" << "TEXT";
    QTest::newRow("update: FONTS missing") << "updateButton" << "FONTS";
    QTest::newRow("update: DATA named in lower case") << "updateButton" << "data";
    QTest::newRow("update: thirteen settings files") << "updateButton" << "13";
    QTest::newRow("update: a data set only") << "updateButton" << "dataset";
}

void tst_Uploads::refusedFolderQueuesNothing()
{
    QFETCH(QString, button);
    QFETCH(QString, damage);
    InstrumentFixture f;
    buildInstrument(f);
    if (button == QLatin1String("BackupBotton_3") || damage == QLatin1String("dataset"))
        buildDataSet(f);
    else
        buildUpdateSet(f);

    if (damage.startsWith('+'))
        f.writeFile(f.localPath(damage.mid(1)), "x");
    else if (damage == QLatin1String("data"))
        QVERIFY(QDir(f.localDir.path()).rename("DATA", "data"));
    else if (damage == QLatin1String("13")) {
        for (const char *name : {"ZEROADJ", "SERIALPROT", "SETNAMESERIAL", "MEASUNIT", "CURRLANG",
                                 "IOMODULE", "R9DMXRT", "MAXSCALE", "PPBRGLIM", "INPUTFILTER", "OEMPWD"})
            f.writeFile(f.localPath(name), name);
    } else if (damage != QLatin1String("dataset"))
        QVERIFY(QDir(f.localPath(damage)).removeRecursively());

    QVERIFY(f.connectAndWalk());
    const QStringList before = f.server.commandLines();
    const QByteArray name = button.toLatin1();
    f.button(name.constData())->click();

    QCOMPARE(f.disp()->text(), QStringLiteral("Incorrect file in Selected Directory"));
    QVERIFY(transferList.isEmpty());
    QVERIFY(!ftpClient->hasPendingCommands());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.server.commandLines(), before);
    QVERIFY(f.button(name.constData())->isEnabled());
}

void tst_Uploads::createsFoldersOnAnEmptyInstrument()
{
    InstrumentFixture f;
    for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
        QDir().mkpath(f.instrumentPath(folder));
    buildUpdateSet(f);
    QVERIFY(f.connectAndWalk());
    QVERIFY(remoteList.isEmpty());
    // The instrument has been formatted since the walk.
    for (const char *folder : {"DATA", "TEXT", "FONTS"})
        QVERIFY(QDir(f.instrumentPath(folder)).removeRecursively());
    const int walkLength = f.toolCommands().size();
    QVERIFY(f.clickAndWaitForDone("updateButton"));
    QVERIFY(f.waitForUnconnected());

    const QStringList sent = f.toolCommands().mid(walkLength);
    QCOMPARE(sent.mid(0, 6), QStringList({"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1",
                                          "MKD TEXT", "MKD FONTS", "CWD DATA/IPA_BD1"}));
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.readFile(f.instrumentPath("TEXT/LANG_EN.TXT")), f.readFile(f.localPath("TEXT/LANG_EN.TXT")));
    QCOMPARE(f.readFile(f.instrumentPath("DATA/IPS_BD1/S1.DAT")), f.readFile(f.localPath("DATA/IPS_BD1/S1.DAT")));
}

void tst_Uploads::existingFolderRefusedByMkdir()
{
    // Folders there, but no file anywhere: the walk reports nothing, so the
    // tool asks for the folders, and the instrument refuses the first.
    InstrumentFixture f;
    for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
        QDir().mkpath(f.instrumentPath(folder));
    buildDataSet(f);
    QVERIFY(f.connectAndWalk());
    QVERIFY(remoteList.isEmpty());
    const int walkLength = f.toolCommands().size();
    QVERIFY(f.clickAndWaitForDone("BackupBotton_3"));

    QCOMPARE(f.toolCommands().mid(walkLength), QStringList({"MKD DATA"}));
    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QVERIFY(f.boxes.boxes().at(0).text.contains(QLatin1String("550")));
    QVERIFY(filesBelow(f.instrumentDir.path()).isEmpty());
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    QTRY_VERIFY(f.button("BackupBotton_3")->isEnabled());
}

void tst_Uploads::refusedStore()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildDataSet(f);
    f.server.refuseCommand("STOR", 553, "S1.DAT");
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_3"));
    QVERIFY(f.boxes.waitForCount(2));

    QCOMPARE(f.boxes.boxes().size(), 2);
    for (const MessageBoxRecorder::Box &box : f.boxes.boxes()) {
        QCOMPARE(box.title, QStringLiteral("FTP Error"));
        QVERIFY(box.text.contains(QLatin1String("S1.DAT")));
        QVERIFY(box.text.contains(QLatin1String("553")));
    }
    QVERIFY(!f.toolCommands().contains("STOR INIE91.CFG"));
    // The files sent before the failure stay on the instrument.
    QCOMPARE(f.readFile(f.instrumentPath("DATA/IPA_BD1/A.DAT")), f.readFile(f.localPath("DATA/IPA_BD1/A.DAT")));
    QCOMPARE(transferList.size(), 6);
}

void tst_Uploads::uploadCutShort()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildDataSet(f);
    f.server.cutTransferAfter(1000, "A.DAT");
    QVERIFY(f.connectAndWalk());
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("BackupBotton_3"));
    QVERIFY(f.boxes.waitForCount(2));

    // A cut transfer is a failed transfer, never a completed update.
    QVERIFY(!labels.texts.contains("Update Completed"));
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QVERIFY(f.boxes.boxes().at(0).text.contains(QLatin1String("A.DAT")));
    QVERIFY(!f.toolCommands().contains("STOR b.dat"));
    // The local source is never touched.
    QCOMPARE(QFileInfo(f.localPath("DATA/IPA_BD1/A.DAT")).size(), 50000);
}

void tst_Uploads::fileChangedSizeIsIncomplete()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildDataSet(f);
    QVERIFY(f.connectAndWalk());
    f.button("BackupBotton_3")->click();
    // The last file of the set shrinks after it was queued.
    f.writeFile(f.localPath("INIE91.FLS"), "shorter");
    QVERIFY(f.waitForDone());

    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("File Update Incomplete"));
    QCOMPARE(transferList.size(), 6);
    QVERIFY(!transferList.last().done);
    QVERIFY(!remoteList.isEmpty());
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
}

void tst_Uploads::emptyBaseRefused()
{
    InstrumentFixture f;
    buildInstrument(f);
    QVERIFY(f.connectAndWalk());
    const QStringList before = f.server.commandLines();
    f.localpath()->clear();
    for (const char *name : {"BackupBotton_3", "updateButton"}) {
        f.boxes.clear();
        f.button(name)->click();
        QCOMPARE(f.boxes.boxes().size(), 1);
        QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("PATH ERROR"));
        QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("Select a Valid Folder"));
    }
    QCOMPARE(f.server.commandLines(), before);
}

void tst_Uploads::cloneThenUpdateRoundTrip()
{
    InstrumentFixture f;
    SampleSet first;
    first.seed = 1;
    first.filesPerDataFolder = 6;
    first.settingsFiles = 4;
    QString error;
    QVERIFY2(SampleGenerator::generate(f.instrumentDir.path(), first, &error), qPrintable(error));

    InstrumentServer second;
    QTemporaryDir secondDir;
    SampleSet older;
    older.seed = 2;
    older.filesPerDataFolder = 3;
    older.settingsFiles = 2;
    QVERIFY2(SampleGenerator::generate(secondDir.path(), older, &error), qPrintable(error));
    second.setRootPath(secondDir.path());
    QVERIFY(second.listen(0));

    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));
    QVERIFY(f.waitForUnconnected());

    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), second.serverPort()};
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("updateButton"));
    QVERIFY(f.waitForUnconnected());

    QTemporaryDir secondClone;
    f.localpath()->setText(secondClone.path());
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));
    QVERIFY(f.waitForUnconnected());

    QVERIFY(f.boxes.boxes().isEmpty());
    const QStringList firstFiles = filesBelow(f.instrumentDir.path());
    QVERIFY(firstFiles.size() > 15);
    for (const QString &file : firstFiles)
        QCOMPARE(InstrumentFixture::readFile(secondClone.filePath(file)), f.readFile(f.instrumentPath(file)));
}

void tst_Uploads::backupThenRestoreRoundTrip()
{
    InstrumentFixture f;
    SampleSet first;
    first.seed = 5;
    first.filesPerDataFolder = 5;
    QString error;
    QVERIFY2(SampleGenerator::generate(f.instrumentDir.path(), first, &error), qPrintable(error));

    InstrumentServer second;
    QTemporaryDir secondDir;
    SampleSet older;
    older.seed = 6;
    older.filesPerDataFolder = 2;
    QVERIFY2(SampleGenerator::generate(secondDir.path(), older, &error), qPrintable(error));
    second.setRootPath(secondDir.path());
    QVERIFY(second.listen(0));

    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(f.waitForUnconnected());

    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), second.serverPort()};
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_3"));
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.boxes.boxes().isEmpty());

    for (const QString &file : filesBelow(f.localDir.path()))
        QCOMPARE(InstrumentFixture::readFile(secondDir.filePath(file)), f.readFile(f.instrumentPath(file)));
    QVERIFY(filesBelow(f.localDir.path()).size() >= 12);
}

QTEST_MAIN(tst_Uploads)
#include "tst_uploads.moc"
