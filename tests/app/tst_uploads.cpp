// Data Restore and Update: the two local folder checks over the folder
// contents that matter, the folder checks at the click, the command
// sequences, the files on the instrument and the end messages, and round
// trips through a second instrument.

#include "instrumentfixture.h"

#include "connection/instrumentendpoint.h"
#include "ftpclient.h"
#include "samplegenerator.h"
#include "transfer/instrumentlayout.h"
#include "operations/operationplan.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// An instrument with its folders and one file in each, so that the listing
// walk reports files.
void buildInstrument(InstrumentFixture &f)
{
    writeFile(f.instrumentPath("DATA/IPA_BD1/OLD.DAT"), "old data");
    writeFile(f.instrumentPath("DATA/IPS_BD1/OLD.DAT"), "old data too");
    writeFile(f.instrumentPath("TEXT/OLD.TXT"), "old text");
    writeFile(f.instrumentPath("FONTS/OLD.FNT"), "old font");
    writeFile(f.instrumentPath("INIE91.CFG"), "old cfg");
}

void buildDataSet(InstrumentFixture &f)
{
    writeFile(f.localPath("DATA/IPA_BD1/b.dat"), randomBytes(2000, 11));
    writeFile(f.localPath("DATA/IPA_BD1/A.DAT"), randomBytes(50000, 12));
    writeFile(f.localPath("DATA/IPA_BD1/c.DAT"), randomBytes(0, 13));
    writeFile(f.localPath("DATA/IPA_BD1/.hidden"), "never sent");
    writeFile(f.localPath("DATA/IPA_BD1/SUB/DEEP.DAT"), "never sent");
    writeFile(f.localPath("DATA/IPS_BD1/S1.DAT"), randomBytes(777, 14));
    writeFile(f.localPath("INIE91.CFG"), randomBytes(90, 15));
    writeFile(f.localPath("INIE91.FLS"), randomBytes(91, 16));
}

void buildUpdateSet(InstrumentFixture &f)
{
    buildDataSet(f);
    writeFile(f.localPath("TEXT/LANG_EN.TXT"), randomBytes(300, 21));
    writeFile(f.localPath("TEXT/lang_de.txt"), randomBytes(301, 22));
    QDir().mkpath(f.localPath("FONTS"));
    writeFile(f.localPath("commands.txt"), randomBytes(40, 23));
    writeFile(f.localPath("R9DIGIT"), randomBytes(41, 24));
    writeFile(f.localPath("STARTPAGE"), randomBytes(42, 25));
    writeFile(f.localPath("consys.ini"), randomBytes(43, 26));
}


const QStringList dataSet = {"DATA/", "INIE91.CFG", "INIE91.FLS"};
const QStringList updateSet = {"DATA/", "TEXT/", "FONTS/", "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT"};

// A regular file outside every folder a test offers as a set.
QString outsideFile()
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("outside.dat"));
    if (!QFileInfo::exists(path))
        writeFile(path, "not part of the set");
    return path;
}

// Puts one entry below `base` in place of whatever stood there: "name/" a
// folder, "name->target" a link (target relative to the link's folder, or
// OUTSIDE), "name|" a FIFO, "-name" nothing, anything else a file holding
// its own name.
void makeEntry(const QString &base, const QString &what)
{
    const bool remove = what.startsWith(u'-');
    const qsizetype arrow = what.indexOf(QLatin1String("->"));
    QString path = base + u'/' + (remove ? what.mid(1) : arrow < 0 ? what : what.left(arrow));
    const bool folder = path.endsWith(u'/');
    const bool fifo = path.endsWith(u'|');
    if (folder || fifo)
        path.chop(1);
    const QFileInfo old(path);
    if (old.isDir() && !old.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
    bool made = QDir().mkpath(folder ? path : QFileInfo(path).path());
    if (arrow >= 0) {
        const QString target = what.mid(arrow + 2);
        const QString to = target == QLatin1String("OUTSIDE") ? outsideFile() : target;
        made = made && ::symlink(QFile::encodeName(to).constData(), QFile::encodeName(path).constData()) == 0;
    } else if (fifo) {
        made = made && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    } else if (!remove && !folder) {
        writeFile(path, what.toUtf8());
    }
    if (!made)
        qFatal("cannot make %s", qPrintable(what));
}

QStringList lowerCased(const QStringList &names)
{
    QStringList lower;
    for (const QString &name : names)
        lower << name.toLower();
    return lower;
}

QStringList settings(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << settingsFileNames[i];
    return names;
}

} // namespace

class tst_Uploads : public QObject
{
    Q_OBJECT

private slots:
    void folderChecks_data();
    void folderChecks();
    void missingFolderFailsBothChecks();
    void operation_data();
    void operation();
    void refusedFolderQueuesNothing_data();
    void refusedFolderQueuesNothing();
    void fileChangedSizeIsIncomplete();
    void roundTrip_data();
    void roundTrip();
};

void tst_Uploads::folderChecks_data()
{
    QTest::addColumn<QStringList>("entries"); // as makeEntry takes them
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("update");

    QTest::newRow("data set") << dataSet << true << false;
    QTest::newRow("data set, DATA in lower case") << QStringList({"data/", "INIE91.CFG", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set, DATA in mixed case") << QStringList({"Data/", "INIE91.CFG", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set and one more file") << dataSet + QStringList{"NOTES.TXT"} << false << false;
    QTest::newRow("data set and a hidden file") << dataSet + QStringList{".hidden"} << true << false;
    QTest::newRow("any three root names") << QStringList({"TEXT/", "FONTS/", "R9DIGIT"}) << true << false;
    QTest::newRow("DATA as a file") << QStringList({"DATA", "INIE91.CFG", "INIE91.FLS"}) << true << false;
    // A file the set needs must be one that can be sent: a regular file, or
    // a link to one inside the base folder.
    QTest::newRow("data set, INIE91.CFG a link to a file of the set")
        << QStringList({"DATA/IPA_BD1/A.DAT", "INIE91.CFG->DATA/IPA_BD1/A.DAT", "INIE91.FLS"}) << true << false;
    QTest::newRow("data set, INIE91.CFG a link leading outside")
        << QStringList({"DATA/", "INIE91.CFG->OUTSIDE", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set, INIE91.FLS a folder") << QStringList({"DATA/", "INIE91.CFG", "INIE91.FLS/"})
                                                   << false << false;
    QTest::newRow("data set, INIE91.FLS a link to a FIFO")
        << QStringList({"DATA/", "INIE91.CFG", ".pipe|", "INIE91.FLS->.pipe"}) << false << false;
    QTest::newRow("two of the data set") << QStringList({"DATA/", "INIE91.CFG"}) << false << false;
    QTest::newRow("update set") << updateSet << false << true;
    QTest::newRow("update set in lower case") << lowerCased(updateSet) << false << true;
    QTest::newRow("update set and 12 settings files") << updateSet + settings(12) << false << true;
    QTest::newRow("update set and 13 settings files") << updateSet + settings(13) << false << false;
    QTest::newRow("update set and 14 settings files") << updateSet + settings(14) << false << false;
    QTest::newRow("update set and settings in lower case") << updateSet + lowerCased(settings(5)) << false << true;
    QTest::newRow("update set and a file of another name") << updateSet + QStringList{"README"} << false << false;
    QStringList withoutDigit = updateSet;
    withoutDigit.removeAll("R9DIGIT");
    QTest::newRow("update set without R9DIGIT") << withoutDigit << false << false;
    QStringList digitFolder = withoutDigit;
    digitFolder << "R9DIGIT/";
    QTest::newRow("R9DIGIT as a folder") << digitFolder << false << true;
    QTest::newRow("update set, commands.txt a folder") << updateSet + QStringList{"-COMMANDS.TXT", "commands.txt/"}
                                                       << false << false;
    QTest::newRow("update set, INIE91.CFG a link leading outside") << updateSet + QStringList{"INIE91.CFG->OUTSIDE"}
                                                                   << false << false;
    QTest::newRow("update set, INIE91.CFG a link to INIE91.FLS") << updateSet + QStringList{"INIE91.CFG->INIE91.FLS"}
                                                                 << false << true;
    QTest::newRow("update set and a download temporary") << updateSet + QStringList{".r9-part-abc12345"}
                                                         << false << true;
    QTest::newRow("update set, INIE91.CFG a link to a download temporary")
        << updateSet + QStringList{".r9-part-abc12345", "INIE91.CFG->.r9-part-abc12345"} << false << false;
    QTest::newRow("update set with DATA twice in two cases") << updateSet + QStringList{"data/"} << false << false;
    QTest::newRow("worked example") << QStringList({"commands.txt", "CONSYS.INI", "DATA/", "FONTS/", "INIE91.CFG",
                                                    "INIE91.FLS", "R9DIGIT", "STARTPAGE", "TEXT/"})
                                    << false << true;
    QTest::newRow("empty folder") << QStringList() << false << false;
}

void tst_Uploads::folderChecks()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, restore);
    QFETCH(bool, update);

    QTemporaryDir base;
    for (const QString &entry : entries)
        makeEntry(base.path(), entry);
    QCOMPARE(checkRestoreFolder(base.path()), restore);
    QCOMPARE(checkUpdateFolder(base.path()), update);
}

void tst_Uploads::missingFolderFailsBothChecks()
{
    QTemporaryDir base;
    QVERIFY(!checkRestoreFolder(base.filePath("no/such/folder")));
    QVERIFY(!checkUpdateFolder(base.filePath("no/such/folder")));
}

void tst_Uploads::operation_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<bool>("emptied");      // the instrument formatted since the walk
    QTest::addColumn<QStringList>("entries"); // changes to the set, as makeEntry takes them
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("leftOut");   // named in the incomplete box; none: "Update Completed"
    // Sorted without regard to case; hidden files and sub-folders stay behind.
    const QStringList data = {"CWD DATA/IPA_BD1", "STOR A.DAT", "STOR b.dat", "STOR c.DAT",
                              "CWD  ..", "CWD DATA/IPS_BD1", "STOR S1.DAT", "CWD  .."};
    const QStringList restore = data + QStringList{"STOR INIE91.CFG", "STOR INIE91.FLS", "CWD  .."};
    const QStringList update = data + QStringList{"CWD TEXT", "STOR lang_de.txt", "STOR LANG_EN.TXT", "CWD  ..",
                                                  "CWD FONTS", "CWD  ..", "STOR commands.txt", "STOR consys.ini",
                                                  "STOR INIE91.CFG", "STOR INIE91.FLS", "STOR R9DIGIT",
                                                  "STOR STARTPAGE", "CWD  ..", "QUIT"};
    QTest::newRow("Data Restore") << QByteArray("BackupBotton_3") << false << QStringList()
                                  << restore + QStringList{"QUIT"} << QString();
    QTest::newRow("Update") << QByteArray("updateButton") << false << QStringList() << update << QString();
    // The walk found no file, so the folders are made first.
    QTest::newRow("Update into an emptied instrument") << QByteArray("updateButton") << true << QStringList()
        << QStringList{"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1", "MKD TEXT", "MKD FONTS"} + update
        << QString();

    // Links inside the set go with the content of the file they lead to.
    QStringList linked = update;
    linked.insert(linked.indexOf("CWD FONTS") + 1, QStringLiteral("STOR Zo\u00eb \u00d8rsted.FNT"));
    QTest::newRow("Update, links to files of the set, one named beyond ASCII") << QByteArray("updateButton") << false
        << QStringList{"INIE91.CFG->DATA/IPA_BD1/b.dat", QStringLiteral("FONTS/Zo\u00eb \u00d8rsted.FNT->../STARTPAGE")}
        << linked << QString();
    QStringList withoutDigit = update;
    withoutDigit.removeAll("STOR R9DIGIT");
    QTest::newRow("Update, R9DIGIT a folder") << QByteArray("updateButton") << false
                                              << QStringList{"R9DIGIT/", "R9DIGIT/X.BIN"} << withoutDigit << QString();
    // Left behind by a download that broke off; never part of a set.
    QTest::newRow("Update, download temporaries in its folders") << QByteArray("updateButton") << false
        << QStringList{".r9-part-abc12345", "DATA/IPA_BD1/.r9-part-0a1b2c3d", "TEXT/.r9-part-zz99yy88"} << update
        << QString();
    // What is not sent for safety leaves the operation incomplete.
    QTest::newRow("Data Restore, a link leading outside") << QByteArray("BackupBotton_3") << false
        << QStringList{"DATA/IPS_BD1/OUT.DAT->OUTSIDE"} << restore
        << QStringLiteral("DATA/IPS_BD1/OUT.DAT (a link leading outside the chosen folder)");
    QTest::newRow("Data Restore, a FIFO among the data files") << QByteArray("BackupBotton_3") << false
        << QStringList{"DATA/IPA_BD1/B.DAT|"} << restore << QStringLiteral("DATA/IPA_BD1/B.DAT (not a regular file)");
    QTest::newRow("Data Restore, a link that leads nowhere") << QByteArray("BackupBotton_3") << false
        << QStringList{"DATA/IPS_BD1/GONE.DAT->NOWHERE"} << restore
        << QStringLiteral("DATA/IPS_BD1/GONE.DAT (a link that leads nowhere)");
    QTest::newRow("Data Restore, nothing to send but a link to a FIFO") << QByteArray("BackupBotton_3") << false
        << QStringList{"-DATA", "-INIE91.CFG", "-INIE91.FLS", "DATA/IPA_BD1/", "DATA/IPS_BD1/.pipe|",
                       "DATA/IPS_BD1/P.DAT->.pipe", "TEXT/", "FONTS/"}
        << QStringList{"CWD DATA/IPA_BD1", "CWD  ..", "CWD DATA/IPS_BD1", "CWD  ..", "CWD  .."}
        << QStringLiteral("DATA/IPS_BD1/P.DAT (a link to no regular file)");
}

void tst_Uploads::operation()
{
    QFETCH(QByteArray, button);
    QFETCH(bool, emptied);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, commands);
    QFETCH(QString, leftOut);
    const bool complete = leftOut.isEmpty();
    InstrumentFixture f;
    if (emptied) {
        for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
            QDir().mkpath(f.instrumentPath(folder));
    } else {
        buildInstrument(f);
    }
    if (button == "updateButton")
        buildUpdateSet(f);
    else
        buildDataSet(f);
    for (const QString &entry : entries)
        makeEntry(f.localDir.path(), entry);
    const FileTree local = readTree(f.localDir.path());
    QVERIFY(f.connectAndWalk());
    for (const char *folder : {"DATA", "TEXT", "FONTS"})
        QVERIFY(!emptied || QDir(f.instrumentPath(folder)).removeRecursively());
    const FileTree instrumentBefore = readTree(f.instrumentDir.path());
    const int walkLength = f.toolCommands().size();
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone(button.constData()));
    QVERIFY(!complete || f.waitForUnconnected());

    QCOMPARE(f.toolCommands().mid(walkLength), commands);
    // Each file stored is its local file byte for byte, read through any
    // link; nothing else on the instrument changed.
    FileTree expected = instrumentBefore;
    QString folder;
    for (const QString &command : commands) {
        if (command.startsWith(QLatin1String("CWD ")))
            folder = command == QLatin1String("CWD  ..") ? QString() : command.mid(4) + u'/';
        else if (command.startsWith(QLatin1String("STOR ")))
            expected.insert(folder + command.mid(5), readFile(f.localPath(folder + command.mid(5))));
    }
    QCOMPARE(readTree(f.instrumentDir.path()), expected);
    QCOMPARE(readTree(f.localDir.path()), local);
    QCOMPARE(labels.texts.contains("Update Completed"), complete);
    const int stored = int(commands.filter(QRegularExpression("^STOR ")).size());
    QCOMPARE(f.bar()->text(), complete ? QStringLiteral("Update Completed · %1 files").arg(stored)
                                       : QStringLiteral("File Update Incomplete · 1 of %1 missing")
                                             .arg(stored ? QStringLiteral("%1 files").arg(stored + 1) : "1 file"));
    if (!complete) {
        QCOMPARE(f.boxes.boxes(), QList<MessageBoxRecorder::Box>(
                                          {{"FTP Error", "File Update Incomplete\n\nLeft out:\n" + leftOut}}));
        QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
        return;
    }
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(f.state().remoteList.isEmpty());
    QVERIFY(f.state().transferList.isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
}

void tst_Uploads::refusedFolderQueuesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("damage"); // changes to the set, as makeEntry takes them
    const QString restore = QStringLiteral("BackupBotton_3");
    const QString update = QStringLiteral("updateButton");
    QTest::newRow("restore: DATA/IPA_BD1 missing") << restore << QStringList{"-DATA/IPA_BD1"};
    QTest::newRow("restore: DATA/IPS_BD1 missing") << restore << QStringList{"-DATA/IPS_BD1"};
    QTest::newRow("restore: an extra file") << restore << QStringList{"EXTRA.TXT"};
    QTest::newRow("restore: INIE91.CFG a link leading outside") << restore << QStringList{"INIE91.CFG->OUTSIDE"};
    QTest::newRow("update: TEXT missing") << update << QStringList{"-TEXT"};
    QTest::newRow("update: FONTS missing") << update << QStringList{"-FONTS"};
    QTest::newRow("update: DATA named in lower case") << update << QStringList{"-DATA", "data/IPA_BD1/A.DAT"};
    QTest::newRow("update: thirteen settings files") << update
        << QStringList{"ZEROADJ", "SERIALPROT", "SETNAMESERIAL", "MEASUNIT", "CURRLANG", "IOMODULE", "R9DMXRT",
                       "MAXSCALE", "PPBRGLIM", "INPUTFILTER", "OEMPWD"};
    QTest::newRow("update: a data set only") << update
        << QStringList{"-TEXT", "-FONTS", "-commands.txt", "-R9DIGIT", "-STARTPAGE", "-consys.ini"};
    QTest::newRow("update: commands.txt a folder") << update << QStringList{"commands.txt/"};
    QTest::newRow("update: INIE91.FLS a link to a FIFO") << update << QStringList{".pipe|", "INIE91.FLS->.pipe"};
}

void tst_Uploads::refusedFolderQueuesNothing()
{
    QFETCH(QString, button);
    QFETCH(QStringList, damage);
    InstrumentFixture f;
    buildInstrument(f);
    if (button == QLatin1String("BackupBotton_3"))
        buildDataSet(f);
    else
        buildUpdateSet(f);
    for (const QString &entry : damage)
        makeEntry(f.localDir.path(), entry);

    QVERIFY(f.connectAndWalk());
    const QStringList before = f.server.commandLines();
    const QByteArray name = button.toLatin1();
    f.button(name.constData())->click();

    QCOMPARE(f.disp()->text(), QStringLiteral("Incorrect file in Selected Directory"));
    QVERIFY(f.state().transferList.isEmpty());
    QVERIFY(!ftpClient->hasPendingCommands());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.server.commandLines(), before);
    QVERIFY(f.button(name.constData())->isEnabled());
}

void tst_Uploads::fileChangedSizeIsIncomplete()
{
    InstrumentFixture f;
    buildInstrument(f);
    buildDataSet(f);
    QVERIFY(f.connectAndWalk());
    f.button("BackupBotton_3")->click();
    // The last file of the set shrinks after it was queued.
    writeFile(f.localPath("INIE91.FLS"), "shorter");
    QVERIFY(f.waitForDone());

    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("File Update Incomplete"));
    QCOMPARE(f.state().transferList.size(), 6);
    QVERIFY(!f.state().transferList.last().done);
    QCOMPARE(f.bar()->text(), QStringLiteral("File Update Incomplete · 1 of 6 files missing"));
    QVERIFY(!f.state().remoteList.isEmpty());
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
}

void tst_Uploads::roundTrip_data()
{
    // From one instrument to the PC, from there to an older instrument, and
    // (Clone) back to a second PC folder.
    QTest::addColumn<QByteArray>("download");
    QTest::addColumn<QByteArray>("upload");
    QTest::addColumn<int>("settings");
    QTest::newRow("Clone, then Update") << QByteArray("BackupBotton") << QByteArray("updateButton") << 4;
    QTest::newRow("Data Backup, then Data Restore") << QByteArray("BackupBotton_2") << QByteArray("BackupBotton_3")
                                                    << SampleSet().settingsFiles;
}

void tst_Uploads::roundTrip()
{
    QFETCH(QByteArray, download);
    QFETCH(QByteArray, upload);
    QFETCH(int, settings);
    InstrumentFixture f;
    InstrumentServer second;
    QTemporaryDir secondDir;
    for (const auto &[folder, seed, files] : {std::tuple{f.instrumentDir.path(), 1u, 6}, {secondDir.path(), 2u, 3}}) {
        SampleSet sample;
        sample.seed = seed;
        sample.filesPerDataFolder = files;
        sample.settingsFiles = settings;
        QString error;
        QVERIFY2(SampleGenerator::generate(folder, sample, &error), qPrintable(error));
    }
    // Names beyond ASCII travel one byte per character, and come back as
    // they were listed.
    if (download == "BackupBotton") {
        writeFile(f.instrumentPath(QStringLiteral("TEXT/\u00c4RGER.TXT")), "Latin-1 name");
        writeFile(f.instrumentPath(QStringLiteral("DATA/IPA_BD1/\u00fc\u00df.DAT")), "Latin-1 name");
    }
    second.setRootPath(secondDir.path());
    QVERIFY(second.listen(0));

    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone(download.constData()));
    QVERIFY(f.waitForUnconnected());
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), second.serverPort()};
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone(upload.constData()));
    QVERIFY(f.waitForUnconnected());
    const QStringList sent = filesBelow(f.localDir.path());
    QVERIFY(sent.size() >= 12);
    for (const QString &file : sent)
        QCOMPARE(readFile(secondDir.filePath(file)), readFile(f.instrumentPath(file)));

    if (download == "BackupBotton") {
        QTemporaryDir secondClone;
        f.localpath()->setText(secondClone.path());
        QVERIFY(f.connectAndWalk());
        QVERIFY(f.clickAndWaitForDone("BackupBotton"));
        QVERIFY(f.waitForUnconnected());
        const FileTree first = readTree(f.instrumentDir.path());
        const FileTree cloned = readTree(secondClone.path());
        for (auto it = first.cbegin(); it != first.cend(); ++it)
            QVERIFY2(cloned.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QVERIFY(f.boxes.boxes().isEmpty());
}

QTEST_MAIN(tst_Uploads)
#include "tst_uploads.moc"
