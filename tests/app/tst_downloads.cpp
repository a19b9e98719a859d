// Data Backup and Clone: the command sequences, the local files, the end
// messages, and what happens when the instrument or the transfer fails.

#include "eventwait.h"
#include "instrumentfixture.h"

#include "ftpclient.h"
#include "transfer/transferstate.h"

#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>


namespace {

const QStringList walk = {
    "USER root", "PASS +00417263850",
    "CWD DATA/IPA_BD1", "LIST", "CWD  ..", "CWD DATA/IPS_BD1", "LIST", "CWD  ..",
    "CWD TEXT", "LIST", "CWD  ..", "CWD FONTS", "LIST", "CWD  ..", "LIST",
};

// The instrument of the worked examples.
void buildExampleInstrument(InstrumentFixture &f)
{
    writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), randomBytes(3000, 1));
    writeFile(f.instrumentPath("DATA/IPA_BD1/B.DAT"), randomBytes(70000, 2));
    writeFile(f.instrumentPath("DATA/IPS_BD1/C.DAT"), randomBytes(10, 3));
    writeFile(f.instrumentPath("TEXT/X.TXT"), randomBytes(500, 4));
    writeFile(f.instrumentPath("FONTS/F.FNT"), randomBytes(800, 5));
    writeFile(f.instrumentPath("INIE91.CFG"), randomBytes(120, 6));
    writeFile(f.instrumentPath("Z.CFG"), randomBytes(0, 7));
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
    void operation_data();
    void operation();
    void backupTakesOnlyTheExactIniNames();
    void emptyRemoteList_data();
    void emptyRemoteList();
    void disconnectWhileDownloadsQueued();
    void progressOfHugeFiles();
    void manySmallFilesFewOpenFiles();
};

void tst_Downloads::operation_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("baseSuffix");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("files");

    const QStringList data = {"CWD  ..", "CWD DATA/IPA_BD1", "RETR A.DAT", "CWD  ..", "CWD DATA/IPA_BD1",
                              "RETR B.DAT", "CWD  ..", "CWD DATA/IPS_BD1", "RETR C.DAT"};
    const QStringList backup = data + QStringList{"CWD  ..", "RETR INIE91.CFG", "CWD  ..", "QUIT"};
    const QStringList backupFiles = {"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "INIE91.CFG"};
    QTest::newRow("Data Backup") << QByteArray("BackupBotton_2") << QString() << backup << backupFiles;
    QTest::newRow("Data Backup, base with a trailing separator")
        << QByteArray("BackupBotton_2") << QStringLiteral("/") << backup << backupFiles;
    QTest::newRow("Clone") << QByteArray("BackupBotton") << QString()
        << data + QStringList{"CWD  ..", "CWD TEXT", "RETR X.TXT", "CWD  ..", "CWD FONTS", "RETR F.FNT",
                              "CWD  ..", "RETR INIE91.CFG", "CWD  ..", "RETR Z.CFG", "CWD  ..", "QUIT"}
        << QStringList{"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "FONTS/F.FNT",
                       "INIE91.CFG", "TEXT/X.TXT", "Z.CFG"};
}

void tst_Downloads::operation()
{
    QFETCH(QByteArray, button);
    QFETCH(QString, baseSuffix);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, files);

    InstrumentFixture f;
    buildExampleInstrument(f);
    f.localpath()->setText(f.localDir.path() + baseSuffix);
    QVERIFY(f.connectAndWalk());
    LabelTrace labels(f);
    f.button(button.constData())->click();
    // One operation at a time: the others are off, and their handlers,
    // even reached directly, start nothing.
    QCOMPARE(f.buttonStates(), (QList<bool>{false, true, false, false, false, false}));
    const int queued = transferList.size();
    for (const char *handler : {"on_BackupBotton_clicked", "on_BackupBotton_2_clicked", "on_BackupBotton_3_clicked"})
        QVERIFY(QMetaObject::invokeMethod(f.window.get(), handler));
    QCOMPARE(transferList.size(), queued);
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());

    QCOMPARE(f.toolCommands(), walk + commands);
    QCOMPARE(filesBelow(f.localDir.path()), files);
    for (const QString &file : files)
        QCOMPARE(readFile(f.localPath(file)), readFile(f.instrumentPath(file)));
    QCOMPARE(QDir(f.localPath("TEXT")).exists(), button == "BackupBotton");
    QVERIFY(labels.texts.contains("Backup Completed"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(f.buttonStates(), (QList<bool>{true, false, false, false, false, false}));

    // Again, over the first copies: a shorter file replaces a longer one.
    writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), "shorter now");
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone(button.constData()));
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/A.DAT")), QByteArray("shorter now"));
}

void tst_Downloads::backupTakesOnlyTheExactIniNames()
{
    InstrumentFixture f;
    writeFile(f.instrumentPath("DATA/IPA_BD1/.keep"), "k");
    QDir().mkpath(f.instrumentPath("DATA/IPS_BD1"));
    writeFile(f.instrumentPath("TEXT/X.TXT"), "x");
    QDir().mkpath(f.instrumentPath("FONTS"));
    for (const char *name : {"inie91.cfg", "INIE91.CFG.BAK", "INIE91.FLS", "COMMANDS.TXT", "R9DIGIT"})
        writeFile(f.instrumentPath(name), name);
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
    writeFile(f.instrumentPath("DATA/IPA_BD1/SUBDIR/INNER.DAT"), "not a file of the listing");
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
        QCOMPARE(readFile(f.localPath(file)), readFile(f.instrumentPath(file)));
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
            writeFile(f.instrumentPath(QStringLiteral("%1/F%2.DAT").arg(folder).arg(i, 5, 10, QLatin1Char('0'))),
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
    QCOMPARE(readFile(f.localPath(last)), QByteArray::number(perFolder - 1));
}

QTEST_MAIN(tst_Downloads)
#include "tst_downloads.moc"
