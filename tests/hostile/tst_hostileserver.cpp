// The whole tool against a hostile FTP server on 127.0.0.1: listings whose
// names try to leave the base folder, or that name one file twice, a size
// beyond 64 bits or a name the PC cannot take; and the PC's side changing
// under a clone. Whatever happens, nothing is written outside the base
// folder, and a backup that left a name out never says "Backup Completed".

#include "tests/support/eventwait.h"
#include "tests/app/instrumentfixture.h"
#include "tests/support/scriptedftpserver.h"
#include "tests/support/testfiles.h"

#include "connection/instrumentendpoint.h"
#include "ftp/ftpclient.h"
#include "transfer/localnames.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <optional>

namespace {

QByteArray listingLine(qint64 size, const QByteArray &name)
{
    return "-rw-r--r--   1 root     root     " + QByteArray::number(size) + " Jan  1 12:00 " + name + "\r\n";
}

// The instrument's five folders served from memory, with any bytes as
// names, and a base folder alone in its parent with one more, empty folder
// beside it: a name that escapes the base folder lands in one of the two.
class HostileSetup
{
public:
    struct PlainFile {
        QString folder;
        QByteArray name;
        QByteArray content;
    };

    HostileSetup()
    {
        if (!server.listen())
            qFatal("hostile server did not start");
        instrumentEndpoint() = {QStringLiteral("127.0.0.1"), server.port()};
        base = f.localDir.filePath(QStringLiteral("base"));
        outside = f.localDir.filePath(QStringLiteral("outside"));
        QDir().mkpath(base);
        QDir().mkpath(outside);
        f.localpath()->setText(base);

        server.on("USER", [this](const QByteArray &) { cwd.clear(); server.reply("331 Password please"); });
        server.on("PASS", [this](const QByteArray &) { server.reply("230 Logged in"); });
        server.on("CWD", [this](const QByteArray &argument) {
            const QString folder = QString::fromUtf8(argument);
            if (argument == " ..")
                cwd.clear();
            else if (!cwd.isEmpty() || folder.isEmpty() || !folders.contains(folder))
                return server.reply("550 No such folder");
            else
                cwd = folder;
            server.reply("250 Folder changed");
        });
        server.on("RETR", [this](const QByteArray &argument) {
            const auto file = std::find_if(files[cwd].cbegin(), files[cwd].cend(),
                                           [&](const PlainFile &f) { return f.name == argument; });
            if (file == files[cwd].cend())
                server.reply("550 No such file");
            else if (atRetr && atRetr(argument))
                heldRetr = [this, content = file->content] { send(content); };
            else
                send(file->content);
        });
        server.on("LIST", [this](const QByteArray &) {
            // The top folder shows the instrument's folders, as the instrument does.
            QByteArray listing;
            if (cwd.isEmpty()) {
                for (const char *name : {"DATA", "FONTS", "TEXT"})
                    listing += "drwxr-xr-x   2 root     root     4096 Jan  1 12:00 " + QByteArray(name) + "\r\n";
            }
            for (const PlainFile &file : files.value(cwd))
                listing += listingLine(file.content.size(), file.name);
            send(listing + extraLines.value(cwd));
        });
    }

    // The instrument's files with plain names, one in each folder but FONTS,
    // two in the top folder.
    void addPlainFiles()
    {
        plain = {{"DATA/IPA_BD1", "A1.DAT", randomBytes(3000, 1)},
                 {"DATA/IPS_BD1", "S1.DAT", randomBytes(700, 2)},
                 {"TEXT", "T1.TXT", randomBytes(500, 3)},
                 {"", "INIE91.CFG", randomBytes(120, 4)},
                 {"", "INIE91.FLS", randomBytes(130, 5)}};
        for (const PlainFile &file : plain)
            files[file.folder] << file;
    }

    QList<QByteArray> retrieved() const
    {
        QList<QByteArray> names;
        for (const QByteArray &line : server.received) {
            if (line.startsWith("RETR "))
                names << line.mid(5);
        }
        return names;
    }

    static QString relativePath(const QString &folder, const QString &name)
    {
        return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
    }

    // An earlier local copy, which must survive unless the file arrives whole.
    void addEarlierCopy(const QString &folder, const QString &name)
    {
        earlier << relativePath(folder, name);
        writeFile(base + QLatin1Char('/') + earlier.last(), "earlier copy");
    }

    // Below the base folder exactly the plain files named, each an exact
    // copy, and the earlier copies of the others as they were; nothing
    // beside the base folder. Empty when so.
    QString localFilesAre(const QStringList &names) const
    {
        FileTree expected;
        for (const PlainFile &file : plain) {
            const QString relative = relativePath(file.folder, QString::fromLatin1(file.name));
            if (names.contains(QString::fromLatin1(file.name)))
                expected.insert(relative, file.content);
            else if (earlier.contains(relative))
                expected.insert(relative, "earlier copy");
        }
        if (readTree(base) != expected)
            return QStringLiteral("below the base folder: %1; expected %2")
                    .arg(filesBelow(base).join(u','), expected.keys().join(u','));
        if (!filesBelow(outside).isEmpty() || namesIn(f.localDir.path()) != QStringList{"base", "outside"})
            return QStringLiteral("written beside the base folder");
        return QString();
    }

    const QStringList folders = {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"};
    InstrumentFixture f;
    ScriptedFtpServer server;
    QString base;
    QString outside;
    QString cwd;
    QMap<QString, QList<PlainFile>> files;      // by folder; the empty name is the top folder
    QHash<QString, QByteArray> extraLines;      // raw bytes added to a folder's listing
    // Called as each RETR arrives; true holds its answer back in heldRetr.
    std::function<bool(const QByteArray &name)> atRetr;
    std::function<void()> heldRetr;
    QList<PlainFile> plain;
    QStringList earlier;

private:
    void send(const QByteArray &payload)
    {
        server.reply("150 Here it comes");
        server.sendData(payload, [this] { server.reply("226 Transfer complete"); });
    }
};

// An exFAT file system (which takes "A.DAT" and "a.dat" for one name)
// mounted over `folder` for as long as the object lives. Needs root, a loop
// device and FUSE; isMounted() tells whether it worked.
class MountedDisk
{
public:
    explicit MountedDisk(const QString &folder) : m_folder(folder)
    {
        const QString image = m_dir.filePath(QStringLiteral("disk.img"));
        QFile file(image);
        if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly) || !file.resize(8 << 20))
            return;
        file.close();
        m_device = run("losetup", {"-f", "--show", image}).value_or(QString()).trimmed();
        m_mounted = !m_device.isEmpty() && run("mkfs.exfat", {m_device}) && run("mount.exfat-fuse", {m_device, folder});
    }
    ~MountedDisk()
    {
        if (m_mounted)
            run("umount", {m_folder});
        if (!m_device.isEmpty())
            run("losetup", {"-d", m_device});
    }
    bool isMounted() const { return m_mounted; }

private:
    // The program's output, if it succeeded.
    static std::optional<QString> run(const char *program, const QStringList &arguments)
    {
        QProcess process;
        process.start(QString::fromLatin1(program), arguments);
        if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return std::nullopt;
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_device;
    bool m_mounted = false;
};

const QStringList allPlain = {"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"};

} // namespace

class tst_HostileServer : public QObject
{
    Q_OBJECT

private slots:
    void unsafeNamesAreNeverFetched_data();
    void unsafeNamesAreNeverFetched();
    void lyingTransfers_data();
    void lyingTransfers();
    void boundedWalk_data();
    void boundedWalk();
    void localFolderChanges_data();
    void localFolderChanges();
};

void tst_HostileServer::unsafeNamesAreNeverFetched_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("climbing with ../") << QByteArray("../../../EVIL1.DAT");
    QTest::newRow("climbing with ..\\") << QByteArray("..\\..\\..\\EVIL2.DAT");
    // A test-owned absolute path: were it ever used, it would land beside
    // the base folder and be seen there, instead of overwriting a system file.
    QTest::newRow("absolute path") << QByteArray("<outside>/EVIL3.DAT");
    QTest::newRow("drive letter with backslash") << QByteArray("C:\\x");
    QTest::newRow("control characters") << QByteArray("EVIL\x01\x1b[2J\x7f.DAT");
    QTest::newRow("dot dot") << QByteArray("..");
}

void tst_HostileServer::unsafeNamesAreNeverFetched()
{
    QFETCH(QByteArray, name);
    HostileSetup h;
    name.replace("<outside>", h.outside.toUtf8());
    h.addPlainFiles();
    // In a data folder, which both operations fetch entirely, and in the
    // top folder, which Clone fetches entirely.
    h.files[QStringLiteral("DATA/IPA_BD1")] << HostileSetup::PlainFile{{}, name, "hostile"};
    h.files[QString()] << HostileSetup::PlainFile{{}, name, "hostile"};
    QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
    QCOMPARE(h.f.boxes.texts(), QStringList());
    QVERIFY(h.f.button("BackupBotton")->isEnabled());
    int listed = 0;
    for (const RemoteEntry &entry : h.f.state().remoteList())
        listed += entry.name == QString::fromUtf8(name) ? 1 : 0;
    QCOMPARE(listed, 2);

    // The box names what was left out, harmlessly.
    const QString shown = printableName(QString::fromUtf8(name)) + QStringLiteral(" (not a plain file name)");
    LabelTrace labels(h.f);
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton"));
    QCOMPARE(h.f.boxes.texts(), QStringList{QStringLiteral("FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPA_BD1/")
                                            + shown + u'\n' + shown});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.retrieved(), QList<QByteArray>({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"}));
    QCOMPARE(h.localFilesAre(allPlain), QString());

    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
}

void tst_HostileServer::lyingTransfers_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("arrived");  // the plain files that arrive whole
    QTest::addColumn<QString>("boxes");        // pattern for the boxes' texts, joined by " | "
    QTest::newRow("one name listed twice")
            << QByteArray("twice") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPS_BD1/S1\\.DAT \\(the same file on the PC as S1\\.DAT\\)";
    QTest::newRow("a size beyond 64 bits")
            << QByteArray("huge") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPS_BD1/HUGE\\.DAT \\(listed size too large\\)";
    QTest::newRow("a name longer than the PC takes")
            << QByteArray("longname") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nTEXT/N{35}\\.\\.\\. \\(a name longer than the PC takes\\)";
    QTest::newRow("names that differ in letter case only, on a disk that ignores case")
            << QByteArray("case") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPS_BD1/s1\\.dat \\(the same file on the PC as S1\\.DAT\\)";
}

// Clone against a server whose listing or data do not hold what they
// promise: only whole files are put in place, the earlier copy of any
// other stays, and the end is never "Backup Completed".
void tst_HostileServer::lyingTransfers()
{
    QFETCH(QByteArray, fault);
    QFETCH(QStringList, arrived);
    QFETCH(QString, boxes);

    HostileSetup h;
    std::optional<MountedDisk> disk;
    if (fault == "case") {
        disk.emplace(h.base);
        if (!disk->isMounted())
            QSKIP("no file system can be mounted here (needs root; for exFAT a loop device and FUSE)");
    }
    h.addPlainFiles();
    if (fault == "case")
        h.files[QStringLiteral("DATA/IPS_BD1")] << HostileSetup::PlainFile{{}, "s1.dat", "another file"};
    h.addEarlierCopy(QStringLiteral("DATA/IPS_BD1"), QStringLiteral("S1.DAT"));
    if (fault == "huge")
        h.extraLines[QStringLiteral("DATA/IPS_BD1")] =
                "-rw-r--r--   1 root     root     99999999999999999999 Jan  1 12:00 HUGE.DAT\r\n";
    else if (fault == "longname")
        h.files[QStringLiteral("TEXT")] << HostileSetup::PlainFile{{}, QByteArray(1000, 'N') + ".TXT", "long name"};
    else if (fault == "twice")
        h.extraLines[QStringLiteral("DATA/IPS_BD1")] = listingLine(700, "S1.DAT");

    QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
    LabelTrace labels(h.f);
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton"));
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(boxes));
    QVERIFY2(pattern.match(h.f.boxes.texts().join(QStringLiteral(" | "))).hasMatch(),
             qPrintable(h.f.boxes.texts().join(QStringLiteral(" | "))));
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.localFilesAre(arrived), QString());
    // The one entry left out before anything was queued counts, by name.
    QCOMPARE(h.f.bar()->text(), QStringLiteral("Backup Incomplete · 1 of 6 files missing"));
    QCOMPARE(h.f.results.last().notDone.size(), 1);
    QVERIFY(h.f.boxes.texts().last().endsWith(h.f.results.last().notDone.first()));
}

void tst_HostileServer::boundedWalk_data()
{
    QTest::addColumn<int>("entries");    // in each of the five listings
    QTest::addColumn<int>("nameLength");
    // Each listing well within the client's own bounds; the five together not.
    QTest::newRow("more entries in all than the walk keeps") << 45000 << 12;
    QTest::newRow("longer names in all than the walk keeps") << 1100 << 7000;
}

// Five listings that each pass for a folder, but together would fill the
// PC's memory: the walk stops, says why, and offers no operation.
void tst_HostileServer::boundedWalk()
{
    QFETCH(int, entries);
    QFETCH(int, nameLength);
    HostileSetup h;
    for (const QString folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS", ""}) {
        QByteArray &lines = h.extraLines[folder];
        for (int i = 0; i < entries; ++i)
            lines += listingLine(1, QByteArray::number(i).rightJustified(nameLength, 'N'));
    }
    QVERIFY(h.f.clickAndWaitForDone("connectbotton", 120000));
    QCOMPARE(h.f.boxes.texts(), QStringList{QStringLiteral("FTP Error: Listing directory failed:\nThe instrument's "
                                                           "listings hold more than 200000 entries or 32 MiB of names "
                                                           "in all")});
    QVERIFY(h.f.state().remoteList().size() <= TransferTracker::maxWalkEntries);
    QVERIFY(h.f.button("connectbotton")->isEnabled());
    QVERIFY(!h.f.button("BackupBotton")->isEnabled());
}

void tst_HostileServer::localFolderChanges_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("arrived");  // the plain files that arrive whole
    QTest::addColumn<QString>("boxes");        // pattern for the boxes' texts, joined by " | "
    const QStringList every = allPlain + QStringList{"S2.DAT"};
    QTest::newRow("a file listed with 10^15 bytes: refused before anything is sent or written")
            << QByteArray("space") << QStringList()
            << "PATH ERROR: Not enough space on the PC: needs 1\\.0 PB, [0-9.]+ (bytes|[kMGT]B) free";
    // Both files of the folder, written where they began: into the folder
    // that was moved away, never into what stands in its place.
    QTest::newRow("DATA/IPS_BD1 replaced by a link to another folder at its first RETR")
            << QByteArray("swap") << every
            << "FTP Error: Backup Incomplete\n\nNot done:\n"
               "DATA/IPS_BD1/S1\\.DAT \\(DATA/IPS_BD1 was replaced during the run\\)\n"
               "DATA/IPS_BD1/S2\\.DAT \\(DATA/IPS_BD1 was replaced during the run\\)";
    QTest::newRow("a second run, the program itself, into the folder while the first fetches")
            << QByteArray("second") << every << QString();
}

// What stands in the base folder changes while a clone runs.
void tst_HostileServer::localFolderChanges()
{
    QFETCH(QByteArray, fault);
    QFETCH(QStringList, arrived);
    QFETCH(QString, boxes);

    HostileSetup h;
    h.addPlainFiles();
    h.plain << HostileSetup::PlainFile{"DATA/IPS_BD1", "S2.DAT", randomBytes(900, 6)};
    h.files[QStringLiteral("DATA/IPS_BD1")] << h.plain.last();
    h.addEarlierCopy(QStringLiteral("DATA/IPS_BD1"), QStringLiteral("S1.DAT"));
    if (fault == "space")
        h.extraLines[QStringLiteral("DATA/IPS_BD1")] = listingLine(1000000000000000, "HUGE.DAT");
    const QString swapped = h.base + QStringLiteral("/DATA/IPS_BD1");
    const QString moved = h.f.localDir.filePath(QStringLiteral("moved"));
    bool swappedNow = false;
    h.atRetr = [&](const QByteArray &name) {
        if (fault == "swap" && name == "S1.DAT")
            swappedNow = QDir().rename(swapped, moved) && QFile::link(h.outside, swapped);
        return fault == "second" && name == "A1.DAT";
    };
    const auto entriesBelow = [&h] {
        QStringList entries;
        for (QDirIterator it(h.base, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories); it.hasNext();)
            entries << it.next();
        entries.sort();
        return entries;
    };

    QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
    const QStringList before = entriesBelow();
    LabelTrace labels(h.f);
    h.f.button("BackupBotton")->click();
    if (fault == "second") {
        // The program itself, from an instrument of its own, while the
        // first run has A1.DAT's temporary file open.
        ftpClient->setIdleTimeout(60000);
        QVERIFY(waitUntil([&] { return bool(h.heldRetr); }, 20000));
        for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
            QVERIFY(QDir().mkpath(h.f.instrumentPath(QLatin1String(folder))));
        writeFile(h.f.instrumentPath(QStringLiteral("DATA/IPA_BD1/A1.DAT")), "the other instrument's");
        QProcess second;
        second.start(QStringLiteral(R9_UPDATE_EXECUTABLE),
                     {"clone", h.base, "--port", QString::number(h.f.server.serverPort())});
        QVERIFY(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(QString::fromUtf8(second.readAllStandardOutput()),
                 "PATH ERROR: another r9-update is writing into this folder\n" + h.base + "/.r9-update.lock\n");
        QCOMPARE(second.exitCode(), 2);
        std::exchange(h.heldRetr, {})();
    }
    QVERIFY(waitUntil([&] { return !h.f.results.isEmpty(); }, 60000));
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(boxes));
    QVERIFY2(pattern.match(h.f.boxes.texts().join(QStringLiteral(" | "))).hasMatch(),
             qPrintable(h.f.boxes.texts().join(QStringLiteral(" | "))));
    QCOMPARE(labels.texts.contains(QStringLiteral("Backup Completed")), boxes.isEmpty());
    if (fault == "space") {
        QCOMPARE(h.retrieved(), QList<QByteArray>());
        QCOMPARE(entriesBelow(), before);
    }
    if (fault == "swap")
        QVERIFY(swappedNow && QFile::remove(swapped) && QDir().rename(moved, swapped));
    QCOMPARE(h.localFilesAre(arrived), QString());
}

QTEST_MAIN(tst_HostileServer)
#include "tst_hostileserver.moc"
