// The whole tool against a hostile FTP server on 127.0.0.1: listings whose
// names try to leave the base folder, monstrous names and listings, a PASV
// reply naming another machine, replies that never end. Whatever the server
// does, nothing is written outside the base folder, a backup that left a
// name out never says "Backup Completed", and the tool ends every case.

#include "eventwait.h"
#include "instrumentfixture.h"
#include "scriptedftpserver.h"
#include "testfiles.h"

#include "connection/instrumentendpoint.h"
#include "ftpclient.h"
#include "transfer/localnames.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <optional>

namespace {

// What an endless answer sends before it gives up by itself.
constexpr qint64 endlessCap = 16 * 1024 * 1024;

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

        route("USER", [this](const QByteArray &) { cwd.clear(); server.reply("331 Password please"); });
        route("PASS", [this](const QByteArray &) { server.reply("230 Logged in"); });
        route("CWD", [this](const QByteArray &argument) {
            const QString folder = QString::fromUtf8(argument);
            if (argument == " ..")
                cwd.clear();
            else if (!cwd.isEmpty() || folder.isEmpty() || !folders.contains(folder))
                return server.reply("550 No such folder");
            else
                cwd = folder;
            server.reply("250 Folder changed");
        });
        route("RETR", [this](const QByteArray &argument) {
            const auto file = std::find_if(files[cwd].cbegin(), files[cwd].cend(),
                                           [&](const PlainFile &f) { return f.name == argument; });
            if (file == files[cwd].cend())
                server.reply("550 No such file");
            else
                send(served.value(argument, file->content));
        });
        route("LIST", [this](const QByteArray &) {
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

    // The reply to the command line `line` never ends: a multi-line reply
    // whose last line never comes, or one line without CR LF.
    void setEndlessReply(const QByteArray &line, bool multiLine)
    {
        endlessLine = line;
        endlessMultiLine = multiLine;
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
    QObject context;
    QString base;
    QString outside;
    QString cwd;
    QMap<QString, QList<PlainFile>> files;      // by folder; the empty name is the top folder
    QHash<QString, QByteArray> extraLines;      // raw bytes added to a folder's listing
    QHash<QByteArray, QByteArray> served;       // what RETR sends instead of a file's content
    QList<PlainFile> plain;
    QStringList earlier;
    QByteArray endlessLine;
    bool endlessMultiLine = true;
    qint64 endlessSent = 0;
    bool endlessStoppedByClient = false;       // the client closed the connection first

private:
    void route(const QByteArray &verb, ScriptedFtpServer::Handler handler)
    {
        server.on(verb, [this, verb, handler](const QByteArray &argument) {
            if (endlessLine.isEmpty() || verb + ' ' + argument != endlessLine)
                return handler(argument);
            QTcpSocket *control = server.control();
            control->write(endlessMultiLine ? "250-This reply goes on\r\n" : "250 ");
            QObject::connect(control, &QTcpSocket::bytesWritten, &context, [this] { pumpEndlessReply(); });
            QObject::connect(control, &QTcpSocket::disconnected, &context,
                             [this] { endlessStoppedByClient = endlessSent < endlessCap; });
            pumpEndlessReply();
        });
    }

    void send(const QByteArray &payload)
    {
        server.reply("150 Here it comes");
        server.sendData(payload, [this] { server.reply("226 Transfer complete"); });
    }

    void pumpEndlessReply()
    {
        QTcpSocket *control = server.control();
        while (control && control->state() == QAbstractSocket::ConnectedState
               && control->bytesToWrite() < 1024 * 1024 && endlessSent < endlessCap) {
            QByteArray chunk;
            while (endlessMultiLine && chunk.size() < 64 * 1024)
                chunk += " and on and on\r\n";
            if (!endlessMultiLine)
                chunk = QByteArray(64 * 1024, 'x');
            control->write(chunk);
            endlessSent += chunk.size();
        }
    }
};

// A small file system mounted over `folder` for as long as the object
// lives: exFAT (which takes "A.DAT" and "a.dat" for one name), or a tmpfs
// of 64 KiB that fills up at once. Needs root (and for exFAT a loop device
// and FUSE); isMounted() tells whether it worked.
class MountedDisk
{
public:
    enum Kind { IgnoresCase, Tiny };
    MountedDisk(const QString &folder, Kind kind) : m_folder(folder)
    {
        if (kind == Tiny) {
            m_mounted = bool(run("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}));
            return;
        }
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
    void longNamesAndLines();
    void hugeListing();
    void passiveAddressIsIgnored();
    void lyingTransfers_data();
    void lyingTransfers();
    void endlessReplies_data();
    void endlessReplies();
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
    QTest::newRow("drive letter without separator") << QByteArray("C:x");
    QTest::newRow("control characters") << QByteArray("EVIL\x01\x1b[2J\x7f.DAT");
    QTest::newRow("dot") << QByteArray(".");
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
    for (const RemoteEntry &entry : h.f.state().remoteList)
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

    // The connection stays open after an incomplete backup; Data Backup
    // runs on it and skips the same name.
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    h.f.boxes.clear();
    const int retrievedBefore = h.retrieved().size();
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton_2"));
    QCOMPARE(h.f.boxes.texts(), QStringList{QStringLiteral("FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPA_BD1/") + shown});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.retrieved().mid(retrievedBefore), QList<QByteArray>({"A1.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"}));
    QCOMPARE(h.localFilesAre(allPlain), QString());
}

void tst_HostileServer::longNamesAndLines()
{
    HostileSetup h;
    h.addPlainFiles();
    // Longer than any entry of a real file system: the client drops the
    // line, as it does any line it cannot read, and the tool never sees it.
    const QByteArray hugeName = QByteArray(10000, 'L') + ".DAT";
    h.files[QStringLiteral("DATA/IPA_BD1")] << HostileSetup::PlainFile{{}, hugeName, "too long a name"};
    // A line of 100 KiB that is no entry at all.
    h.extraLines[QStringLiteral("DATA/IPS_BD1")] = QByteArray(100 * 1024, 'j') + "\r\n";
    // Listed whole, but longer than any file name the PC takes.
    h.files[QStringLiteral("TEXT")] << HostileSetup::PlainFile{{}, QByteArray(1000, 'N') + ".TXT", "long name"};

    QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
    QCOMPARE(h.f.boxes.texts(), QStringList());
    QVERIFY(h.f.button("BackupBotton_2")->isEnabled());

    // Clone fetches the name the PC cannot take, cannot put it in place,
    // and so ends incomplete; everything else arrived whole.
    LabelTrace labels(h.f);
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton"));
    QCOMPARE(h.f.boxes.texts(), QStringList{QStringLiteral("FTP Error: Backup Incomplete")});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    QCOMPARE(h.localFilesAre(allPlain), QString());

    // Data Backup: the overlong line was never an entry, so nothing asks
    // for it, and the files that were listed arrive whole.
    h.f.boxes.clear();
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton_2"));
    QVERIFY(!h.retrieved().contains(hugeName));
    QCOMPARE(h.localFilesAre(allPlain), QString());
    QCOMPARE(h.f.boxes.texts(), QStringList());
    QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
}

void tst_HostileServer::hugeListing()
{
    HostileSetup h;
    h.addPlainFiles();
    constexpr int entries = 100000;
    QByteArray lines;
    lines.reserve(entries * 60);
    for (int i = 0; i < entries; ++i)
        lines += listingLine(i % 977, "T" + QByteArray::number(i).rightJustified(6, '0') + ".TXT");
    h.extraLines[QStringLiteral("TEXT")] = lines;

    QVERIFY(h.f.clickAndWaitForDone("connectbotton", 300000));
    QCOMPARE(h.f.boxes.texts(), QStringList());
    QVERIFY(h.f.button("BackupBotton_2")->isEnabled());
    int inText = 0;
    for (const RemoteEntry &entry : h.f.state().remoteList)
        inText += entry.folder == QLatin1String("TEXT") ? 1 : 0;
    QCOMPARE(inText, entries + 1);

    // Data Backup leaves TEXT alone: it ends, complete, with the data files.
    LabelTrace labels(h.f);
    QVERIFY(h.f.clickAndWaitForDone("BackupBotton_2", 300000));
    QCOMPARE(h.f.boxes.texts(), QStringList());
    QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.localFilesAre({"A1.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"}), QString());
}

void tst_HostileServer::passiveAddressIsIgnored()
{
    HostileSetup h;
    h.addPlainFiles();
    // EPSV is refused and PASV names another address (a loopback one, so
    // that a client which took it would still send nothing off this
    // machine); the data listener is on 127.0.0.1 only, so a transfer that
    // arrives came to 127.0.0.1.
    h.server.refuseExtendedPassive = true;
    h.server.passiveAddress = "127,0,0,2";
    LabelTrace labels(h.f);
    for (const char *operation : {"BackupBotton", "BackupBotton_2"}) {
        // A new connection for each, over the same kind of PASV reply.
        QVERIFY(waitUntil([] { return ftpClient->state() == FtpClient::Unconnected; }, 10000));
        labels.texts.clear();
        QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
        QVERIFY(h.f.clickAndWaitForDone(operation));
        QCOMPARE(h.f.boxes.texts(), QStringList());
        QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
        QCOMPARE(h.localFilesAre(allPlain), QString());
    }
    // Twice five listings, five downloads for Clone and four for Data
    // Backup: each over PASV, each to 127.0.0.1.
    QCOMPARE(h.server.received.count("PASV"), 19);
    QCOMPARE(h.server.dataPeers.size(), 19);
    for (const QHostAddress &peer : h.server.dataPeers)
        QVERIFY(peer.isLoopback());
}

void tst_HostileServer::lyingTransfers_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("arrived");  // the plain files that arrive whole
    QTest::addColumn<QString>("boxes");        // pattern for the boxes' texts, joined by " | "
    const QStringList allButS1 = {"A1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"};
    QTest::newRow("fewer bytes than listed, confirmed by 226")
            << QByteArray("short") << allButS1 << "FTP Error: Backup Incomplete";
    QTest::newRow("one name listed twice")
            << QByteArray("twice") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPS_BD1/S1\\.DAT \\(the same file on the PC as S1\\.DAT\\)";
    QTest::newRow("more bytes than listed: stopped there")
            << QByteArray("long") << QStringList{"A1.DAT"}
            << "FTP Error: Downloading file S1\\.DAT failed:\nThe server sent more than the 700 bytes announced"
               " \\| FTP Error: Downloading file S1\\.DAT failed:\nThe server sent more than the 700 bytes announced";
    QTest::newRow("a size beyond 64 bits")
            << QByteArray("huge") << allPlain
            << "FTP Error: Backup Incomplete\n\nLeft out:\nDATA/IPS_BD1/HUGE\\.DAT \\(listed size too large\\)";
    QTest::newRow("the disk fills up")
            << QByteArray("full") << QStringList{"A1.DAT"}
            << "FTP Error: Downloading file S1\\.DAT failed:\nWriting the local file failed: No space left on device"
               " \\| FTP Error: Downloading file S1\\.DAT failed:\nWriting the local file failed: No space left on device";
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
    if (fault == "case" || fault == "full") {
        disk.emplace(h.base, fault == "case" ? MountedDisk::IgnoresCase : MountedDisk::Tiny);
        if (!disk->isMounted())
            QSKIP("no file system can be mounted here (needs root; for exFAT a loop device and FUSE)");
    }
    h.addPlainFiles();
    if (fault == "case")
        h.files[QStringLiteral("DATA/IPS_BD1")] << HostileSetup::PlainFile{{}, "s1.dat", "another file"};
    h.addEarlierCopy(QStringLiteral("DATA/IPS_BD1"), QStringLiteral("S1.DAT"));
    if (fault == "short")
        h.served["S1.DAT"] = h.plain.at(1).content.left(100);
    else if (fault == "long")
        h.served["S1.DAT"] = h.plain.at(1).content + QByteArray(1 << 20, 'x');
    else if (fault == "huge")
        h.extraLines[QStringLiteral("DATA/IPS_BD1")] =
                "-rw-r--r--   1 root     root     99999999999999999999 Jan  1 12:00 HUGE.DAT\r\n";
    else if (fault == "full")
        h.files[QStringLiteral("DATA/IPS_BD1")].first().content = randomBytes(256 * 1024, 9);
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
}

void tst_HostileServer::endlessReplies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("multiLine");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("boxCount");
    QTest::newRow("multi-line reply without end, to CWD in the walk")
            << QByteArray("CWD TEXT") << true << QByteArray("connectbotton")
            << "Changing directory failed:\nReply larger than \\d+ bytes" << 1;
    QTest::newRow("reply line without CR LF, to PASS")
            << QByteArray("PASS +00417263850") << false << QByteArray("connectbotton")
            << "Login failed:\nReply line longer than \\d+ bytes" << 1;
    QTest::newRow("multi-line reply without end, to RETR in Clone")
            << QByteArray("RETR S1.DAT") << true << QByteArray("BackupBotton")
            << "Downloading file S1.DAT failed:\nReply larger than \\d+ bytes" << 2;
    QTest::newRow("reply line without CR LF, to RETR in Data Backup")
            << QByteArray("RETR INIE91.CFG") << false << QByteArray("BackupBotton_2")
            << "Downloading file INIE91.CFG failed:\nReply line longer than \\d+ bytes" << 2;
}

void tst_HostileServer::endlessReplies()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, multiLine);
    QFETCH(QByteArray, button);
    QFETCH(QString, error);
    QFETCH(int, boxCount);

    HostileSetup h;
    h.addPlainFiles();
    h.addEarlierCopy(QStringLiteral("DATA/IPS_BD1"), QStringLiteral("S1.DAT"));
    h.addEarlierCopy(QString(), QStringLiteral("INIE91.CFG"));
    h.setEndlessReply(line, multiLine);
    if (button != "connectbotton") {
        QVERIFY(h.f.clickAndWaitForDone("connectbotton"));
        QCOMPARE(h.f.boxes.texts(), QStringList());
    }
    LabelTrace labels(h.f);
    QVERIFY2(h.f.clickAndWaitForDone(button.constData()), "the tool did not end the case");
    QVERIFY(waitUntil([] { return ftpClient->state() == FtpClient::Unconnected; }, 10000));

    // The client gave up on the reply long before the server would have.
    QVERIFY(waitUntil([&] { return h.endlessStoppedByClient; }, 10000));
    QVERIFY(h.endlessSent < endlessCap);
    const QList<MessageBoxRecorder::Box> boxes = h.f.boxes.boxes();
    QCOMPARE(boxes.size(), boxCount);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(error));
    for (const MessageBoxRecorder::Box &box : boxes) {
        QCOMPARE(box.title, QStringLiteral("FTP Error"));
        QVERIFY2(pattern.match(box.text).hasMatch(), qPrintable(box.text));
    }
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QVERIFY(h.f.button("connectbotton")->isEnabled());
    QVERIFY(!h.f.button("BackupBotton")->isEnabled());

    // What arrived before the endless reply is whole; the earlier copies
    // of the rest are as they were.
    QStringList arrived;
    for (const QByteArray &name : h.retrieved()) {
        if (name != line.mid(5))
            arrived << QString::fromLatin1(name);
    }
    QCOMPARE(h.localFilesAre(arrived), QString());
}

QTEST_MAIN(tst_HostileServer)
#include "tst_hostileserver.moc"
