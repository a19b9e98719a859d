// The whole tool against a hostile FTP server on 127.0.0.1: listings whose
// names try to leave the base folder, monstrous names and listings, a PASV
// reply naming another machine, replies that never end. Whatever the server
// does, nothing is written outside the base folder, a backup that left a
// name out never says "Backup Completed", and the tool ends every case.

#include "eventwait.h"
#include "hostileftpserver.h"
#include "instrumentfixture.h"

#include "app/instrumentendpoint.h"
#include "ftpclient.h"
#include "transfer/transferstate.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

constexpr int walkTimeoutMs = 60000;

// A hostile server in place of the instrument, and a base folder alone in
// its parent with one more, empty folder beside it: a name that escapes the
// base folder lands in one of the two.
class HostileSetup
{
public:
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
        QObject::connect(ftpClient, &FtpClient::done, &context, [this] { ++doneCount; });
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
            server.addFile(file.folder, file.name, file.content);
    }

    bool press(const char *button, int timeoutMs = walkTimeoutMs)
    {
        QPushButton *pressed = f.button(button);
        if (!pressed->isEnabled())
            return false;
        const int before = doneCount;
        pressed->click();
        return waitUntil([&] { return doneCount > before; }, timeoutMs);
    }

    // The local path of a plain file, as an operation writes it.
    QString localPathOf(const QString &folder, const QString &name) const
    {
        return base + QLatin1Char('/') + (folder.isEmpty() ? name : folder + QLatin1Char('/') + name);
    }

    // Writes an earlier local copy of a file, which must survive unless the
    // file arrives whole.
    void addEarlierCopy(const QString &folder, const QString &name)
    {
        const QString path = localPathOf(folder, name);
        InstrumentFixture::writeFile(path, "earlier copy");
        earlier << QDir(base).relativeFilePath(path);
    }

    // The files below the base folder must be exactly the plain files named,
    // each a byte-identical copy, and the earlier copies of the others, as
    // they were; nothing may be beside the base folder.
    QString localFilesAre(const QStringList &names) const
    {
        QStringList expected;
        for (const PlainFile &file : plain) {
            const QString path = localPathOf(file.folder, QString::fromLatin1(file.name));
            const QString relative = QDir(base).relativeFilePath(path);
            if (names.contains(QString::fromLatin1(file.name))) {
                expected << relative;
                if (InstrumentFixture::readFile(path) != file.content)
                    return QStringLiteral("%1 is not a copy of the served file").arg(relative);
            } else if (earlier.contains(relative)) {
                expected << relative;
                if (InstrumentFixture::readFile(path) != "earlier copy")
                    return QStringLiteral("the earlier copy of %1 changed").arg(relative);
            }
        }
        expected.sort();
        if (filesBelow(base) != expected)
            return QStringLiteral("files below the base folder: %1; expected %2")
                    .arg(filesBelow(base).join(u','), expected.join(u','));
        if (!filesBelow(outside).isEmpty())
            return QStringLiteral("written beside the base folder: ") + filesBelow(outside).join(u',');
        const QStringList parent = QDir(f.localDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                     | QDir::NoDotAndDotDot);
        if (parent != QStringList({QStringLiteral("base"), QStringLiteral("outside")}))
            return QStringLiteral("beside the base folder: ") + parent.join(u',');
        return QString();
    }

    struct PlainFile {
        QString folder;
        QByteArray name;
        QByteArray content;
    };

    InstrumentFixture f;
    HostileFtpServer server;
    QObject context;
    QString base;
    QString outside;
    QList<PlainFile> plain;
    QStringList earlier;
    int doneCount = 0;
};

QByteArray listingLine(qint64 size, const QByteArray &name)
{
    return "-rw-r--r--   1 root     root     " + QByteArray::number(size) + " Jan  1 12:00 " + name + "\r\n";
}

QStringList boxTexts(const InstrumentFixture &f)
{
    QStringList texts;
    for (const MessageBoxRecorder::Box &box : f.boxes.boxes())
        texts << box.title + QStringLiteral(": ") + box.text;
    return texts;
}

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
    h.server.addFile(QStringLiteral("DATA/IPA_BD1"), name, "hostile");
    h.server.addFile(QString(), name, "hostile");
    QVERIFY(h.press("connectbotton"));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(h.f.button("BackupBotton")->isEnabled());
    int listed = 0;
    for (const RemoteEntry &entry : remoteList)
        listed += entry.name == QString::fromUtf8(name) ? 1 : 0;
    QCOMPARE(listed, 2);

    LabelTrace labels(h.f);
    QVERIFY(h.press("BackupBotton"));
    QCOMPARE(boxTexts(h.f), QStringList{QStringLiteral("FTP Error: Backup Incomplete")});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.server.retrieved(), QList<QByteArray>({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"}));
    QString problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // The connection stays open after an incomplete backup; Data Backup
    // runs on it and skips the same name.
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    h.f.boxes.clear();
    const int retrievedBefore = h.server.retrieved().size();
    QVERIFY(h.press("BackupBotton_2"));
    QCOMPARE(boxTexts(h.f), QStringList{QStringLiteral("FTP Error: Backup Incomplete")});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(h.server.retrieved().mid(retrievedBefore), QList<QByteArray>({"A1.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"}));
    problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_HostileServer::longNamesAndLines()
{
    HostileSetup h;
    h.addPlainFiles();
    // Longer than any entry of a real file system: the client drops the
    // line, as it does any line it cannot read, and the tool never sees it.
    const QByteArray hugeName = QByteArray(10000, 'L') + ".DAT";
    h.server.addFile(QStringLiteral("DATA/IPA_BD1"), hugeName, "too long a name");
    // A line of 100 KiB that is no entry at all.
    h.server.addListingLines(QStringLiteral("DATA/IPS_BD1"), QByteArray(100 * 1024, 'j') + "\r\n");
    // Listed whole, but longer than any file name the PC takes.
    const QByteArray longName = QByteArray(1000, 'N') + ".TXT";
    h.server.addFile(QStringLiteral("TEXT"), longName, "long name");

    QVERIFY(h.press("connectbotton"));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(h.f.button("BackupBotton_2")->isEnabled());

    // Clone fetches the name the PC cannot take, cannot put it in place,
    // and so ends incomplete; everything else arrived whole.
    LabelTrace labels(h.f);
    QVERIFY(h.press("BackupBotton"));
    QCOMPARE(boxTexts(h.f), QStringList{QStringLiteral("FTP Error: Backup Incomplete")});
    QVERIFY(!labels.texts.contains(QStringLiteral("Backup Completed")));
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
    QString problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // Data Backup: the overlong line was never an entry, so nothing asks
    // for it, and the files that were listed arrive whole.
    h.f.boxes.clear();
    QVERIFY(h.press("BackupBotton_2"));
    problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY(!h.server.retrieved().contains(hugeName));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
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
    h.server.addListingLines(QStringLiteral("TEXT"), lines);

    QVERIFY(h.press("connectbotton", 300000));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(h.f.button("BackupBotton_2")->isEnabled());
    int inText = 0;
    for (const RemoteEntry &entry : remoteList)
        inText += entry.folder == QLatin1String("TEXT") ? 1 : 0;
    QCOMPARE(inText, entries + 1);

    // Data Backup leaves TEXT alone: it ends, complete, with the data files.
    LabelTrace labels(h.f);
    QVERIFY(h.press("BackupBotton_2", 300000));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
    const QString problem = h.localFilesAre({"A1.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_HostileServer::passiveAddressIsIgnored()
{
    HostileSetup h;
    h.addPlainFiles();
    // The data listener is on 127.0.0.1 only: a transfer that arrives came
    // to 127.0.0.1, whatever the reply said.
    h.server.setPassiveAddress("10,9,9,9");
    QVERIFY(h.press("connectbotton"));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    LabelTrace labels(h.f);
    QVERIFY(h.press("BackupBotton"));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
    QString problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // A new connection for Data Backup, over the same kind of PASV reply.
    QVERIFY(waitUntil([] { return ftpClient->state() == FtpClient::Unconnected; }, 10000));
    QVERIFY(h.press("connectbotton"));
    labels.texts.clear();
    QVERIFY(h.press("BackupBotton_2"));
    QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    QVERIFY(labels.texts.contains(QStringLiteral("Backup Completed")));
    problem = h.localFilesAre({"A1.DAT", "S1.DAT", "T1.TXT", "INIE91.CFG", "INIE91.FLS"});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // Twice five listings, five downloads for Clone and four for Data
    // Backup: each over PASV, each to 127.0.0.1.
    int passive = 0;
    for (const QByteArray &line : h.server.commandLines())
        passive += line == "PASV" ? 1 : 0;
    QCOMPARE(passive, 19);
    QCOMPARE(h.server.dataPeers().size(), 19);
    for (const QHostAddress &peer : h.server.dataPeers())
        QVERIFY(peer.isLoopback());
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
    QTest::newRow("reply line without CR LF, to SIZE in Data Backup")
            << QByteArray("SIZE INIE91.CFG") << false << QByteArray("BackupBotton_2")
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
    h.server.setEndlessReply(line, multiLine ? HostileFtpServer::Endless::MultiLineReply
                                             : HostileFtpServer::Endless::LineWithoutEnd);
    if (button != "connectbotton") {
        QVERIFY(h.press("connectbotton"));
        QVERIFY2(h.f.boxes.boxes().isEmpty(), qPrintable(boxTexts(h.f).join(u'|')));
    }
    LabelTrace labels(h.f);
    QVERIFY2(h.press(button.constData()), "the tool did not end the case");
    QVERIFY(waitUntil([] { return ftpClient->state() == FtpClient::Unconnected; }, 10000));

    // The client gave up on the reply long before the server would have.
    QVERIFY(waitUntil([&] { return h.server.endlessStoppedByClient(); }, 10000));
    QVERIFY(h.server.endlessBytesSent() < HostileFtpServer::endlessCap);
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
    for (const QByteArray &name : h.server.retrieved()) {
        if (name != line.mid(5))
            arrived << QString::fromLatin1(name);
    }
    const QString problem = h.localFilesAre(arrived);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_MAIN(tst_HostileServer)
#include "tst_hostileserver.moc"
