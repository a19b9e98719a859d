// Data Backup and Clone: the command sequences, the local files, the end
// messages, and what happens when the instrument or the transfer fails.

#include "eventwait.h"
#include "instrumentfixture.h"

#include "ftpclient.h"
#include "transfer/transferstate.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <climits>

namespace {

const QStringList walk = {
    "USER root", "PASS +00417263850",
    "CWD DATA/IPA_BD1", "LIST", "CWD  ..", "CWD DATA/IPS_BD1", "LIST", "CWD  ..",
    "CWD TEXT", "LIST", "CWD  ..", "CWD FONTS", "LIST", "CWD  ..", "LIST",
};

// The instrument of the worked examples.
void buildExampleInstrument(InstrumentFixture &f)
{
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), randomBytes(3000, 1));
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/B.DAT"), randomBytes(70000, 2));
    f.writeFile(f.instrumentPath("DATA/IPS_BD1/C.DAT"), randomBytes(10, 3));
    f.writeFile(f.instrumentPath("TEXT/X.TXT"), randomBytes(500, 4));
    f.writeFile(f.instrumentPath("FONTS/F.FNT"), randomBytes(800, 5));
    f.writeFile(f.instrumentPath("INIE91.CFG"), randomBytes(120, 6));
    f.writeFile(f.instrumentPath("Z.CFG"), randomBytes(0, 7));
}

int openFileCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

} // namespace

class tst_Downloads : public QObject
{
    Q_OBJECT

private slots:
    void dataBackupWorkedExample();
    void cloneWorkedExample();
    void backupTakesOnlyTheExactIniNames();
    void emptyRemoteList_data();
    void emptyRemoteList();
    void sizeMismatchIsIncomplete();
    void refusedDownloadKeepsEarlierCopy();
    void droppedMidFileLeavesNoPartialFile_data();
    void droppedMidFileLeavesNoPartialFile();
    void runningTwiceReplacesFiles();
    void baseWithTrailingSeparator();
    void unsafeRemoteNamesNeverWritten_data();
    void unsafeRemoteNamesNeverWritten();
    void emptyBaseRefused();
    void secondOperationRefusedWhileOneRuns();
    void disconnectWhileDownloadsQueued();
    void progressOfHugeFiles();
    void manySmallFilesFewOpenFiles();
};

void tst_Downloads::dataBackupWorkedExample()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    // A second file that is not fetched: only the exact INIE91 names are.
    QVERIFY(f.connectAndWalk());
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(f.waitForUnconnected());

    const QStringList expected = walk + QStringList{
        "CWD  ..", "CWD DATA/IPA_BD1", "RETR A.DAT",
        "CWD  ..", "CWD DATA/IPA_BD1", "RETR B.DAT",
        "CWD  ..", "CWD DATA/IPS_BD1", "RETR C.DAT",
        "CWD  ..", "RETR INIE91.CFG",
        "CWD  ..",
        "QUIT"};
    QCOMPARE(f.toolCommands(), expected);
    QCOMPARE(filesBelow(f.localDir.path()),
             QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "INIE91.CFG"}));
    for (const QString &file : filesBelow(f.localDir.path()))
        QCOMPARE(f.readFile(f.localPath(file)), f.readFile(f.instrumentPath(file)));
    QVERIFY(!QDir(f.localPath("TEXT")).exists());
    QVERIFY(!QDir(f.localPath("FONTS")).exists());

    QVERIFY(labels.texts.contains("Backup Completed"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QVERIFY(f.button("connectbotton")->isEnabled());
    QVERIFY(!f.button("BackupBotton_2")->isEnabled());
}

void tst_Downloads::cloneWorkedExample()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    QVERIFY(f.connectAndWalk());
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));
    QVERIFY(f.waitForUnconnected());

    const QStringList expected = walk + QStringList{
        "CWD  ..", "CWD DATA/IPA_BD1", "RETR A.DAT",
        "CWD  ..", "CWD DATA/IPA_BD1", "RETR B.DAT",
        "CWD  ..", "CWD DATA/IPS_BD1", "RETR C.DAT",
        "CWD  ..", "CWD TEXT", "RETR X.TXT",
        "CWD  ..", "CWD FONTS", "RETR F.FNT",
        "CWD  ..", "RETR INIE91.CFG",
        "CWD  ..", "RETR Z.CFG",
        "CWD  ..",
        "QUIT"};
    QCOMPARE(f.toolCommands(), expected);
    const QStringList files = filesBelow(f.localDir.path());
    QCOMPARE(files, filesBelow(f.instrumentDir.path()));
    for (const QString &file : files)
        QCOMPARE(f.readFile(f.localPath(file)), f.readFile(f.instrumentPath(file)));
    QVERIFY(labels.texts.contains("Backup Completed"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
}

void tst_Downloads::backupTakesOnlyTheExactIniNames()
{
    InstrumentFixture f;
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/.keep"), "k");
    QDir().mkpath(f.instrumentPath("DATA/IPS_BD1"));
    f.writeFile(f.instrumentPath("TEXT/X.TXT"), "x");
    QDir().mkpath(f.instrumentPath("FONTS"));
    for (const char *name : {"inie91.cfg", "INIE91.CFG.BAK", "INIE91.FLS", "COMMANDS.TXT", "R9DIGIT"})
        f.writeFile(f.instrumentPath(name), name);
    QVERIFY(f.connectAndWalk());
    const int walkLength = f.toolCommands().size();
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(f.waitForUnconnected());

    // One folder change per root file, fetched or not.
    const QStringList afterWalk = f.toolCommands().mid(walkLength);
    QCOMPARE(afterWalk.count("CWD  .."), 6);
    QCOMPARE(afterWalk.filter("RETR"), QStringList({"RETR .keep", "RETR INIE91.FLS"}));
    QCOMPARE(filesBelow(f.localDir.path()), QStringList({"DATA/IPA_BD1/.keep", "INIE91.FLS"}));
    QVERIFY(!QDir(f.localPath("TEXT")).exists());
}

void tst_Downloads::emptyRemoteList_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("backup") << "BackupBotton_2" << QStringList()
                            << QStringList({"DATA", "DATA/IPA_BD1", "DATA/IPS_BD1"});
    QTest::newRow("clone") << "BackupBotton" << QStringList({"CWD  .."})
                           << QStringList({"DATA", "DATA/IPA_BD1", "DATA/IPS_BD1", "FONTS", "TEXT"});
}

void tst_Downloads::emptyRemoteList()
{
    QFETCH(QString, button);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, folders);

    InstrumentFixture f;
    for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
        QDir().mkpath(f.instrumentPath(folder));
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/SUBDIR/INNER.DAT"), "not a file of the listing");
    QVERIFY(f.connectAndWalk());
    QVERIFY(remoteList.isEmpty());
    const int walkLength = f.toolCommands().size();
    const QByteArray name = button.toLatin1();
    f.button(name.constData())->click();
    QVERIFY(f.waitForDone());

    QCOMPARE(f.toolCommands().mid(walkLength), commands);
    QStringList made;
    QDirIterator it(f.localDir.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        made << QDir(f.localDir.path()).relativeFilePath(it.next());
    made.sort();
    QCOMPARE(made, folders);
    // No end is reported, and the tool is ready for the next operation.
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    QTRY_VERIFY(f.button(name.constData())->isEnabled());
}

void tst_Downloads::sizeMismatchIsIncomplete()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    f.server.reportWrongSize("B.DAT", 69999);
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));

    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("Backup Incomplete"));
    QCOMPARE(transferList.size(), 4);
    QVERIFY(!transferList.at(1).done);
    QVERIFY(transferList.at(0).done && transferList.at(2).done && transferList.at(3).done);
    QVERIFY(!remoteList.isEmpty());
    // The connection stays open and the tool can go on.
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    QVERIFY(f.toolCommands().last() != QLatin1String("QUIT"));
    QTRY_VERIFY(f.button("BackupBotton_2")->isEnabled());
}

void tst_Downloads::refusedDownloadKeepsEarlierCopy()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    f.writeFile(f.localPath("DATA/IPA_BD1/B.DAT"), "the technician's earlier copy");
    f.server.refuseCommand("RETR", 550, "B.DAT");
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(f.boxes.waitForCount(2));

    const QList<MessageBoxRecorder::Box> boxes = f.boxes.boxes();
    QCOMPARE(boxes.size(), 2);
    for (const MessageBoxRecorder::Box &box : boxes) {
        QCOMPARE(box.title, QStringLiteral("FTP Error"));
        QCOMPARE(box.text, ftpClient->errorString());
        QVERIFY(box.text.contains(QLatin1String("B.DAT")));
        QVERIFY(box.text.contains(QLatin1String("550")));
    }
    QCOMPARE(f.readFile(f.localPath("DATA/IPA_BD1/B.DAT")), QByteArray("the technician's earlier copy"));
    QCOMPARE(f.readFile(f.localPath("DATA/IPA_BD1/A.DAT")), f.readFile(f.instrumentPath("DATA/IPA_BD1/A.DAT")));
    // Nothing behind the failed command ran.
    QVERIFY(!f.toolCommands().contains("RETR C.DAT"));
    QCOMPARE(filesBelow(f.localDir.path()), QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT"}));
    QCOMPARE(transferList.size(), 4);
    QTRY_VERIFY(f.button("BackupBotton_2")->isEnabled());
}

void tst_Downloads::droppedMidFileLeavesNoPartialFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("data connection cut") << "cut";
    QTest::newRow("control connection dropped") << "drop";
}

void tst_Downloads::droppedMidFileLeavesNoPartialFile()
{
    QFETCH(QString, fault);
    InstrumentFixture f;
    buildExampleInstrument(f);
    f.writeFile(f.localPath("DATA/IPA_BD1/B.DAT"), "earlier");
    QVERIFY(f.connectAndWalk());
    if (fault == QLatin1String("cut")) {
        f.server.cutTransferAfter(4096, "B.DAT");
    } else {
        // Slow the transfer down and take the instrument away once B.DAT
        // has started to arrive.
        f.server.setRateLimit(64 * 1024);
        connect(ftpClient, &FtpClient::dataTransferProgress, this, [&](qint64 done, qint64) {
            if (done > 0 && done < 70000 && f.disp()->text() == QLatin1String("B.DAT"))
                QTimer::singleShot(0, &f.server, [&] { f.server.close(); });
        });
    }
    f.button("BackupBotton_2")->click();
    QVERIFY(f.boxes.waitForCount(2));
    QVERIFY(f.waitForDone());

    QCOMPARE(f.readFile(f.localPath("DATA/IPA_BD1/B.DAT")), QByteArray("earlier"));
    QCOMPARE(filesBelow(f.localDir.path()), QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT"}));
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
}

void tst_Downloads::runningTwiceReplacesFiles()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));
    QVERIFY(f.waitForUnconnected());

    f.writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), "shorter now");
    f.writeFile(f.instrumentPath("TEXT/X.TXT"), randomBytes(9000, 44));
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));
    QVERIFY(f.waitForUnconnected());

    QVERIFY(f.boxes.boxes().isEmpty());
    for (const QString &file : filesBelow(f.instrumentDir.path()))
        QCOMPARE(f.readFile(f.localPath(file)), f.readFile(f.instrumentPath(file)));
}

void tst_Downloads::baseWithTrailingSeparator()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    f.localpath()->setText(f.localDir.path() + QLatin1Char('/'));
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(f.waitForUnconnected());
    QCOMPARE(filesBelow(f.localDir.path()),
             QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "INIE91.CFG"}));
}

void tst_Downloads::unsafeRemoteNamesNeverWritten_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("backslash climb") << "..\\EVIL.DAT";
    QTest::newRow("drive letter") << "C:EVIL.DAT";
    QTest::newRow("control character") << "BAD\x01.DAT";
}

void tst_Downloads::unsafeRemoteNamesNeverWritten()
{
    QFETCH(QString, name);
    InstrumentFixture f;
    buildExampleInstrument(f);
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/" + name), "hostile");
    QVERIFY(f.connectAndWalk());
    bool listed = false;
    for (const RemoteEntry &entry : remoteList)
        listed = listed || entry.name == name;
    if (!listed)
        QSKIP("the client does not report this name at all");
    LabelTrace labels(f);
    QVERIFY(f.clickAndWaitForDone("BackupBotton"));

    QVERIFY(!f.toolCommands().contains("RETR " + name));
    QVERIFY(!labels.texts.contains("Backup Completed"));
    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("Backup Incomplete"));
    // Everything else arrived; nothing at all outside the base folder.
    QStringList expected = filesBelow(f.instrumentDir.path());
    expected.removeAll("DATA/IPA_BD1/" + name);
    QCOMPARE(filesBelow(f.localDir.path()), expected);
    const QStringList beside = QDir(QFileInfo(f.localDir.path()).path()).entryList({"*EVIL*"});
    QVERIFY(beside.isEmpty());
}

void tst_Downloads::emptyBaseRefused()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    QVERIFY(f.connectAndWalk());
    const int commands = f.server.commandLog().size();
    f.localpath()->clear();
    for (const char *name : {"BackupBotton", "BackupBotton_2"}) {
        f.boxes.clear();
        f.button(name)->click();
        QCOMPARE(f.boxes.boxes().size(), 1);
        QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("PATH ERROR"));
        QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("Select a Valid Folder"));
    }
    QVERIFY(transferList.isEmpty());
    QVERIFY(!ftpClient->hasPendingCommands());
    QCOMPARE(f.server.commandLog().size(), commands);
}

void tst_Downloads::secondOperationRefusedWhileOneRuns()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    QVERIFY(f.connectAndWalk());
    f.server.setRateLimit(100 * 1024);
    f.button("BackupBotton")->click();
    const int queued = transferList.size();
    QCOMPARE(queued, 7);
    for (const char *name : {"updateButton", "BackupBotton", "BackupBotton_2", "BackupBotton_3"})
        QVERIFY2(!f.button(name)->isEnabled(), name);
    QVERIFY(f.button("deconbotton")->isEnabled());

    // Even reached directly, the handlers refuse to start a second one.
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_BackupBotton_2_clicked"));
    QCOMPARE(transferList.size(), queued);
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.toolCommands().filter("RETR").size(), 7);
}

void tst_Downloads::disconnectWhileDownloadsQueued()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    QVERIFY(f.connectAndWalk());
    f.server.setRateLimit(100 * 1024);
    f.button("BackupBotton")->click();
    QVERIFY(waitUntil([&] { return f.disp()->text() == QLatin1String("B.DAT"); }, 20000));
    f.button("deconbotton")->click();
    QVERIFY(transferList.isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.toolCommands().last(), QStringLiteral("QUIT"));
    // What did arrive arrived whole.
    for (const QString &file : filesBelow(f.localDir.path()))
        QCOMPARE(f.readFile(f.localPath(file)), f.readFile(f.instrumentPath(file)));
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QVERIFY(f.button("connectbotton")->isEnabled());
}

void tst_Downloads::progressOfHugeFiles()
{
    InstrumentFixture f;
    const qint64 size = 5LL * 1024 * 1024 * 1024 + 3;
    transferList.append({false, "HUGE.DAT", double(size), nullptr, 1});
    lastTransferStarted = true;
    f.window->ftpProgress(size / 2, size);
    QVERIFY(f.bar()->value() >= 0);
    QVERIFY(f.bar()->maximum() > 0);
    QVERIFY(qAbs(double(f.bar()->value()) / f.bar()->maximum() - 0.5) < 0.001);
    QVERIFY(!transferList.at(0).done);
    f.window->ftpProgress(size - 1, size);
    QVERIFY(!transferList.at(0).done);
    f.window->ftpProgress(size, size);
    QCOMPARE(f.bar()->value(), f.bar()->maximum());
    QVERIFY(transferList.at(0).done);
}

void tst_Downloads::manySmallFilesFewOpenFiles()
{
    InstrumentFixture f;
    const int perFolder = 2500;
    for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"}) {
        QDir().mkpath(f.instrumentPath(folder));
        for (int i = 0; i < perFolder; ++i)
            f.writeFile(f.instrumentPath(QStringLiteral("%1/F%2.DAT").arg(folder).arg(i, 5, 10, QLatin1Char('0'))),
                        QByteArray::number(i));
    }
    QVERIFY(f.connectAndWalk());
    QCOMPARE(remoteList.size(), 4 * perFolder);

    const int baseline = openFileCount();
    int peak = baseline;
    connect(ftpClient, &FtpClient::commandStarted, this, [&] {
        if (ftpClient->currentCommand() == FtpClient::Get && (transferIndex % 97) == 0)
            peak = qMax(peak, openFileCount());
    });
    QVERIFY(f.clickAndWaitForDone("BackupBotton", 600000));
    QVERIFY(f.waitForUnconnected());

    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY2(peak - baseline <= 8, qPrintable(QStringLiteral("open files grew by %1").arg(peak - baseline)));
    QCOMPARE(filesBelow(f.localDir.path()).size(), 4 * perFolder);
    const QString last = QStringLiteral("FONTS/F%1.DAT").arg(perFolder - 1, 5, 10, QLatin1Char('0'));
    QCOMPARE(f.readFile(f.localPath(last)), QByteArray::number(perFolder - 1));
}

QTEST_MAIN(tst_Downloads)
#include "tst_downloads.moc"
