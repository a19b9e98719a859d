// Data Backup and Clone: the command sequences, the local files, the end
// messages, what happens when the operation is cut short, and how each
// download is staged and put in place.

#include "eventwait.h"
#include "instrumentfixture.h"

#include "ftpclient.h"
#include "transfer/stagedbatch.h"
#include "transfer/stagedfile.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

// Writes `content` the way the FTP client does: opened by the writer, then
// in pieces.
std::unique_ptr<StagedFile> staged(const QString &target, const QByteArray &content, int piece = 4096)
{
    auto file = std::make_unique<StagedFile>(target);
    if (!file->open(QIODevice::WriteOnly))
        return nullptr;
    for (qsizetype at = 0; at < content.size(); at += piece)
        file->write(content.constData() + at, qMin<qsizetype>(piece, content.size() - at));
    file->close();
    return file;
}

} // namespace

class tst_Downloads : public QObject
{
    Q_OBJECT

private slots:
    void operation_data();
    void operation();
    void emptyRemoteList_data();
    void emptyRemoteList();
    void disconnectWhileDownloadsQueued();
    void progressOfHugeFiles();
    void manySmallFilesFewOpenFiles();

    void putInPlace_data();
    void putInPlace();
    void failedReplacementKeepsTheRest();
    void linkIsReplacedNotFollowed();
    void backgroundSync_data();
    void backgroundSync();
};

void tst_Downloads::operation_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("baseSuffix");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("bar"); // its text after each download: the bytes of all, the file's number

    const QStringList data = {"CWD  ..", "CWD DATA/IPA_BD1", "RETR A.DAT", "CWD  ..", "CWD DATA/IPA_BD1",
                              "RETR B.DAT", "CWD  ..", "CWD DATA/IPS_BD1", "RETR C.DAT"};
    const QStringList backup = data + QStringList{"CWD  ..", "RETR INIE91.CFG", "CWD  ..", "QUIT"};
    const QStringList backupFiles = {"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "INIE91.CFG"};
    const QStringList backupBar = {"4 %  ·  file 1 of 4", "99 %  ·  file 2 of 4", "99 %  ·  file 3 of 4",
                                   "Backup Completed · 4 files"};
    QTest::newRow("Data Backup") << QByteArray("BackupBotton_2") << QString() << backup << backupFiles << backupBar;
    QTest::newRow("Data Backup, base with a trailing separator")
        << QByteArray("BackupBotton_2") << QStringLiteral("/") << backup << backupFiles << backupBar;
    QTest::newRow("Clone") << QByteArray("BackupBotton") << QString()
        << data + QStringList{"CWD  ..", "CWD TEXT", "RETR X.TXT", "CWD  ..", "CWD FONTS", "RETR F.FNT",
                              "CWD  ..", "RETR INIE91.CFG", "CWD  ..", "RETR Z.CFG", "CWD  ..", "QUIT"}
        << QStringList{"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT", "DATA/IPS_BD1/C.DAT", "FONTS/F.FNT",
                       "INIE91.CFG", "TEXT/X.TXT", "Z.CFG"}
        << QStringList{"4 %  ·  file 1 of 7", "98 %  ·  file 2 of 7", "98 %  ·  file 3 of 7", "98 %  ·  file 4 of 7",
                       "99 %  ·  file 5 of 7", "100 %  ·  file 6 of 7", "Backup Completed · 7 files"};
}

void tst_Downloads::operation()
{
    QFETCH(QByteArray, button);
    QFETCH(QString, baseSuffix);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, files);
    QFETCH(QStringList, bar);

    InstrumentFixture f;
    buildExampleInstrument(f);
    f.localpath()->setText(f.localDir.path() + baseSuffix);
    QVERIFY(f.connectAndWalk());
    LabelTrace labels(f);
    f.button(button.constData())->click();
    // One operation at a time: the others are off, and their handlers,
    // even reached directly, start nothing.
    QCOMPARE(f.buttonStates(), (QList<bool>{false, true, false, false, false, false}));
    const int queued = f.state().transferList.size();
    for (const char *handler : {"on_BackupBotton_clicked", "on_BackupBotton_2_clicked", "on_BackupBotton_3_clicked"})
        QVERIFY(QMetaObject::invokeMethod(f.window.get(), handler));
    QCOMPARE(f.state().transferList.size(), queued);
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());

    QCOMPARE(f.toolCommands(), walk + commands);
    QCOMPARE(filesBelow(f.localDir.path()), files);
    for (const QString &file : files)
        QCOMPARE(readFile(f.localPath(file)), readFile(f.instrumentPath(file)));
    QCOMPARE(QDir(f.localPath("TEXT")).exists(), button == "BackupBotton");
    QVERIFY(labels.texts.contains("Backup Completed"));
    // The result stays on the bar after the close, and the bar still shows
    // it full although the last file may have been empty.
    QCOMPARE(labels.barTexts, bar);
    QCOMPARE(f.bar()->text(), bar.last());
    QVERIFY(f.boxes.boxes().isEmpty());
    QVERIFY(f.state().remoteList.isEmpty());
    QVERIFY(f.state().transferList.isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(f.buttonStates(), (QList<bool>{true, false, false, false, false, false}));

    // Again, over the first copies: a shorter file replaces a longer one.
    writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), "shorter now");
    QVERIFY(f.connectAndWalk());
    QCOMPARE(f.bar()->format(), QStringLiteral("%p%"));
    QVERIFY(f.clickAndWaitForDone(button.constData()));
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/A.DAT")), QByteArray("shorter now"));
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
    QVERIFY(f.state().remoteList.isEmpty());
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
    writeFile(f.localPath("DATA/IPA_BD1/B.DAT"), "earlier copy");
    // Files from a run that was killed mid-download.
    writeFile(f.localPath("DATA/IPA_BD1/.r9-part-k1lled00"), "partial");
    writeFile(f.localPath(".r9-part-k1lled01"), "partial");
    QVERIFY(f.connectAndWalk());
    // B.DAT would take over a minute: Disconnect must not wait for it.
    f.server.setRateLimit(1024);
    f.button("BackupBotton")->click();
    QVERIFY(waitUntil([&] { return f.disp()->text() == QLatin1String("B.DAT") && f.bar()->value() > 0; }, 20000));
    f.button("deconbotton")->click();
    QVERIFY(f.state().transferList.isEmpty());
    QVERIFY(f.state().remoteList.isEmpty());
    QVERIFY(f.waitForUnconnected(5000));
    QVERIFY(f.boxes.boxes().isEmpty());
    // The client drops the connection right after its QUIT: the stand-in
    // may log it a moment later.
    QVERIFY(waitUntil([&] { return f.toolCommands().last() == QLatin1String("QUIT"); }, 5000));
    // What did arrive arrived whole; the rest is as it was, with no
    // temporary file left, old or new.
    QCOMPARE(filesBelow(f.localDir.path()), QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT"}));
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/A.DAT")), readFile(f.instrumentPath("DATA/IPA_BD1/A.DAT")));
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/B.DAT")), QByteArray("earlier copy"));
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QVERIFY(f.button("connectbotton")->isEnabled());
    // Stopped, not ended: the bar keeps where it stood, no result.
    QVERIFY2(f.bar()->text().endsWith(QStringLiteral("·  file 2 of 7")), qPrintable(f.bar()->text()));
}

void tst_Downloads::progressOfHugeFiles()
{
    InstrumentFixture f;
    const qint64 size = 5LL * 1024 * 1024 * 1024 + 3;
    f.state().transferList.append({false, "HUGE.DAT", size, nullptr, 1});
    f.state().lastTransferStarted = true;
    f.window->ftpProgress(size / 2, size);
    QVERIFY(f.bar()->value() >= 0);
    QVERIFY(f.bar()->maximum() > 0);
    QVERIFY(qAbs(double(f.bar()->value()) / f.bar()->maximum() - 0.5) < 0.001);
    QVERIFY(!f.state().transferList.at(0).done);
    f.window->ftpProgress(size - 1, size);
    QVERIFY(!f.state().transferList.at(0).done);
    f.window->ftpProgress(size, size);
    QCOMPARE(f.bar()->value(), f.bar()->maximum());
    QVERIFY(f.state().transferList.at(0).done);
}

void tst_Downloads::manySmallFilesFewOpenFiles()
{
    InstrumentFixture f;
    const int perFolder = 300;
    for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"}) {
        QDir().mkpath(f.instrumentPath(folder));
        for (int i = 0; i < perFolder; ++i)
            writeFile(f.instrumentPath(QStringLiteral("%1/F%2.DAT").arg(folder).arg(i, 5, 10, QLatin1Char('0'))),
                        QByteArray::number(i));
    }
    QVERIFY(f.connectAndWalk());
    QCOMPARE(f.state().remoteList.size(), 4 * perFolder);

    const int baseline = openFileCount();
    int peak = baseline;
    connect(ftpClient, &FtpClient::commandStarted, this, [&] {
        if (ftpClient->currentCommand() == FtpClient::Get && (f.state().transferIndex % 97) == 0)
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

// --- Staged files: a download stays out of sight until it is put in place,
// and putting it in place never costs an earlier copy unless the new one is
// whole.

void tst_Downloads::putInPlace_data()
{
    QTest::addColumn<bool>("earlierCopy");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");

    QTest::newRow("new file") << false << 1000 << 4096;
    QTest::newRow("replaces an earlier copy") << true << 1000 << 4096;
    QTest::newRow("empty file over an earlier copy") << true << 0 << 4096;
    // Past the writeback step, in pieces that do not fall on it.
    QTest::newRow("20 MiB in odd pieces") << true << (20 << 20) + 17 << 65521;
}

void tst_Downloads::putInPlace()
{
    QFETCH(bool, earlierCopy);
    QFETCH(int, size);
    QFETCH(int, piece);

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("B.DAT"));
    if (earlierCopy) {
        writeFile(target, "earlier copy");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    }
    const QByteArray content = randomBytes(size, 3);

    std::unique_ptr<StagedFile> file = staged(target, content, piece);
    QVERIFY(file);
    QCOMPARE(file->error(), QFileDevice::NoError);
    // Until it is put in place, only a hidden temporary file is new.
    QCOMPARE(readFile(target), earlierCopy ? QByteArray("earlier copy") : QByteArray("<missing>"));
    const QStringList during = namesIn(dir.path());
    QCOMPARE(during.size(), earlierCopy ? 2 : 1);
    QVERIFY(during.first().startsWith(u'.'));

    StagedBatch batch;
    batch.add({file->release(), file->targetPath(), content.size(), 7});
    file.reset(); // a released file is not removed with its object
    QCOMPARE(batch.commit(), QList<int>());
    QVERIFY(batch.isEmpty());

    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("B.DAT")});
    QVERIFY(readFile(target) == content);
    if (earlierCopy)
        QCOMPARE(QFile::permissions(target) & ~QFileDevice::Permissions(0x0f00), // not the "user" bits
                 QFile::ReadOwner | QFile::WriteOwner);
}

void tst_Downloads::failedReplacementKeepsTheRest()
{
    QTemporaryDir dir;
    // A folder stands where the second file should go: it cannot be replaced.
    const QString blocked = dir.filePath(QStringLiteral("S.DAT"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
    const QStringList targets{dir.filePath(QStringLiteral("A.DAT")), blocked, dir.filePath(QStringLiteral("T.TXT"))};

    StagedBatch batch;
    for (int i = 0; i < targets.size(); ++i) {
        std::unique_ptr<StagedFile> file = staged(targets.at(i), QByteArray("content ") + QByteArray::number(i));
        QVERIFY(file);
        batch.add({file->release(), targets.at(i), 9, 100 + i});
    }
    QCOMPARE(batch.commit(), QList<int>{101});

    QCOMPARE(namesIn(dir.path()), QStringList({QStringLiteral("A.DAT"), QStringLiteral("S.DAT"), QStringLiteral("T.TXT")}));
    QCOMPARE(readFile(targets.at(0)), QByteArray("content 0"));
    QCOMPARE(namesIn(blocked), QStringList{QStringLiteral("inside")});
    QCOMPARE(readFile(targets.at(2)), QByteArray("content 2"));
}

// A link in the base folder may point anywhere; the download replaces the
// link and writes nothing where it points.
void tst_Downloads::linkIsReplacedNotFollowed()
{
    QTemporaryDir outside;
    QTemporaryDir base;
    const QString elsewhere = outside.filePath(QStringLiteral("OTHER.DAT"));
    writeFile(elsewhere, "not ours");
    const QString target = base.filePath(QStringLiteral("B.DAT"));
    QVERIFY(QFile::link(elsewhere, target));

    std::unique_ptr<StagedFile> file = staged(target, "fetched");
    QVERIFY(file);
    StagedBatch batch;
    batch.add({file->release(), target, 7, 1});
    QCOMPARE(batch.commit(), QList<int>());

    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readFile(target), QByteArray("fetched"));
    QCOMPARE(readFile(elsewhere), QByteArray("not ours"));
    QCOMPARE(namesIn(outside.path()), QStringList{QStringLiteral("OTHER.DAT")});
}

void tst_Downloads::backgroundSync_data()
{
    QTest::addColumn<bool>("operationGoesOn");
    QTest::newRow("put in place by the next calls") << true;
    QTest::newRow("dropped with the operation") << false;
}

// While a worker syncs one batch, the transfers fill the next; the synced
// files are put in place by the next call, in the window's thread.
void tst_Downloads::backgroundSync()
{
    QFETCH(bool, operationGoesOn);
    QTemporaryDir dir;
    // A folder stands where one file should go: it cannot be replaced.
    const QString blocked = dir.filePath(QStringLiteral("S.DAT"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
    const QString earlier = dir.filePath(QStringLiteral("A.DAT"));
    writeFile(earlier, "earlier A");

    StagedBatch batch;
    const auto stage = [&](const char *name, int id) {
        const QString target = dir.filePath(QLatin1String(name));
        std::unique_ptr<StagedFile> file = staged(target, QByteArray(name) + " new");
        QVERIFY(file);
        batch.add({file->release(), target, 9, id});
    };
    stage("A.DAT", 1);
    stage("S.DAT", 2);
    QCOMPARE(batch.commitInBackground(), QList<int>());
    // No name points at the new data before its sync has been seen through.
    QCOMPARE(readFile(earlier), QByteArray("earlier A"));
    stage("B.DAT", 3);
    QCOMPARE(batch.count(), 3);

    if (!operationGoesOn) {
        batch.discard();
        QVERIFY(batch.isEmpty());
        QCOMPARE(namesIn(dir.path()), QStringList({QStringLiteral("A.DAT"), QStringLiteral("S.DAT")}));
        QCOMPARE(readFile(earlier), QByteArray("earlier A"));
        return;
    }
    // The first batch goes in place, its failure reported; the second syncs.
    QCOMPARE(batch.commitInBackground(), QList<int>{2});
    QCOMPARE(readFile(earlier), QByteArray("A.DAT new"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("B.DAT"))), QByteArray("<missing>"));
    QCOMPARE(batch.commit(), QList<int>());
    QVERIFY(batch.isEmpty());
    QCOMPARE(namesIn(dir.path()),
             QStringList({QStringLiteral("A.DAT"), QStringLiteral("B.DAT"), QStringLiteral("S.DAT")}));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("B.DAT"))), QByteArray("B.DAT new"));
    QCOMPARE(namesIn(blocked), QStringList{QStringLiteral("inside")});
}

QTEST_MAIN(tst_Downloads)
#include "tst_downloads.moc"
