// The stand-in's FTP dialogue, checked reply by reply over a plain socket.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "rawftpclient.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <utility>

class TestFtpProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void replies_data();
    void replies();
    void lineRules_data();
    void lineRules();
    void overlongLineClosesTheConnection();

    void storeAndRetrieveAreByteExact_data();
    void storeAndRetrieveAreByteExact();
    void asciiTypeConvertsLineEnds();
    void list_data();
    void list();
    void listShowsYearForOldEntries();
    void passiveReplies();
    void dataConnectionThatNeverComes();
    void clientClosingDataConnectionEarlyGets426();

    void commandLogKeepsOrderAndLines();
    void sessionsKeepTheirOwnFolders();
    void quitAndCloseEndSessions();
    void listensOnLoopbackOnly();
    void refusesMissingRoot();

private:
    std::unique_ptr<RawFtpClient> loggedIn();
    static QString pwdOf(RawFtpClient &client);

    InstrumentTree m_tree;
    InstrumentServer m_server;
};

void TestFtpProtocol::initTestCase()
{
    QVERIFY(m_tree.isValid());
    m_server.setRootPath(m_tree.root());
    QVERIFY2(m_server.listen(0), qPrintable(m_server.errorString()));
    QVERIFY(m_server.serverPort() != 0);
}

void TestFtpProtocol::init()
{
    m_server.clearFaults();
    m_server.clearCommandLog();
    m_server.setDataConnectionTimeout(10000);
}

std::unique_ptr<RawFtpClient> TestFtpProtocol::loggedIn()
{
    auto client = std::make_unique<RawFtpClient>();
    if (client->connectTo(m_server.serverPort()).code != 220 || !client->login())
        return nullptr;
    return client;
}

QString TestFtpProtocol::pwdOf(RawFtpClient &client)
{
    const RawFtpClient::Reply reply = client.command("PWD");
    if (reply.code != 257)
        return QStringLiteral("<PWD %1>").arg(reply.code);
    return reply.text.section(QLatin1Char('"'), 1, 1);
}

// --- Replies, command by command ---------------------------------------------

namespace {

// Lines sent one after another, each with the code it must get; "<data>"
// stands for PASV and the data connection it offers.
void row(const char *name, bool login, const QByteArrayList &lines, const QList<int> &codes,
         const QString &text = QString(), const QString &folder = QString(), const QString &created = QString())
{
    QTest::newRow(name) << login << lines << codes << text << folder << created;
}

} // namespace

void TestFtpProtocol::replies_data()
{
    QTest::addColumn<bool>("login");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QString>("text");      // of the last reply, when not null
    QTest::addColumn<QString>("folder");    // PWD afterwards, when not null
    QTest::addColumn<QString>("created");   // a folder that must be there afterwards

    // Login: only the instrument's account, exactly.
    const QByteArray pass = "PASS +00417263850";
    row("the instrument's account", false, {"USER root", pass, "PWD"}, {331, 230, 257});
    row("wrong password", false, {"USER root", "PASS 00417263850", "PWD"}, {331, 530, 530});
    row("user name in another case", false, {"USER ROOT", pass, "PWD"}, {331, 530, 530});
    row("another user", false, {"USER guest", pass, "PWD"}, {331, 530, 530});
    row("anonymous", false, {"USER anonymous", "PASS me@example.org", "PWD"}, {331, 530, 530});
    row("password with a trailing blank", false, {"USER root", pass + ' ', "PWD"}, {331, 530, 530});
    row("PASS without USER", false, {pass, "PWD"}, {503, 530});
    row("SYST before login", false, {"SYST"}, {215});
    row("FEAT before login", false, {"FEAT"}, {211});
    for (const char *line : {"PWD", "CWD DATA", "CWD  ..", "CDUP", "LIST", "RETR INIE91.CFG", "STOR X.DAT",
                             "MKD NEW", "SIZE INIE91.CFG", "PASV", "EPSV", "TYPE I", "DELE A.DAT", "XYZ"})
        row(qPrintable(QStringLiteral("%1 before login").arg(QLatin1String(line))), false, {line}, {530});
    for (const char *line : {"DELE INIE91.CFG", "RMD TEXT", "RNFR INIE91.CFG", "RNTO Y", "PORT 127,0,0,1,200,10",
                             "EPRT |1|127.0.0.1|51210|", "NLST", "MLSD", "MDTM INIE91.CFG", "REST 100", "ABOR",
                             "APPE X", "SITE CHMOD 777 X", "OPTS UTF8 ON", "XPWD"})
        row(line, true, {line}, {502});

    // Folder changes; " .." (blank, two dots) is the instrument's way back
    // to the top folder.
    row("two levels at once", true, {"CWD DATA/IPA_BD1"}, {250}, {}, "/DATA/IPA_BD1");
    row("' ..' from two levels down leads to the top", true, {"CWD DATA/IPA_BD1", "CWD  .."}, {250, 250}, {}, "/");
    row("' ..' from one level down", true, {"CWD TEXT", "CWD  .."}, {250, 250}, {}, "/");
    row("' ..' at the top stays there", true, {"CWD  .."}, {250}, {}, "/");
    row("'..' is the ordinary parent", true, {"CWD DATA/IPA_BD1", "CWD .."}, {250, 250}, {}, "/DATA");
    row("the listing walk", true, {"CWD DATA/IPA_BD1", "CWD  ..", "CWD DATA/IPS_BD1", "CWD  ..", "CWD TEXT",
                                   "CWD  ..", "CWD FONTS", "CWD  .."}, {250, 250, 250, 250, 250, 250, 250, 250}, {}, "/");
    row("'..' instead of ' ..' leaves the client in DATA", true, {"CWD DATA/IPA_BD1", "CWD ..", "CWD DATA/IPS_BD1"},
        {250, 250, 550}, {}, "/DATA");
    row("sibling through '..'", true, {"CWD DATA/IPA_BD1", "CWD ../IPS_BD1"}, {250, 250}, {}, "/DATA/IPS_BD1");
    row("absolute path", true, {"CWD TEXT", "CWD /DATA/IPS_BD1"}, {250, 250}, {}, "/DATA/IPS_BD1");
    row("'..' above the top", true, {"CWD .."}, {550}, {}, "/");
    row("'../..' from one level down", true, {"CWD DATA", "CWD ../.."}, {250, 550}, {}, "/DATA");
    row("/etc", true, {"CWD /etc"}, {550}, {}, "/");
    row("/..", true, {"CWD /.."}, {550}, {}, "/");
    row("DATA/../../outside", true, {"CWD DATA/../../outside"}, {550}, {}, "/");
    row("symlink to a folder outside", true, {"CWD DATA/ESCAPE"}, {550}, {}, "/");
    row("symlink to a folder inside", true, {"CWD INSIDE"}, {250}, {}, "/INSIDE");
    row("missing folder", true, {"CWD NOPE"}, {550}, {}, "/");
    row("a file is no folder", true, {"CWD INIE91.CFG"}, {550}, {}, "/");
    row("names are case-sensitive", true, {"CWD data/ipa_bd1"}, {550}, {}, "/");
    row("a leading blank is part of the name", true, {"CWD  TEXT"}, {550}, {}, "/");
    row("a backslash is no separator", true, {"CWD DATA\\IPA_BD1"}, {550}, {}, "/");
    row("two blanks and two dots is no step up", true, {"CWD TEXT", "CWD   .."}, {250, 550}, {}, "/TEXT");
    row("a failed change keeps the folder", true, {"CWD DATA/IPA_BD1", "CWD NOPE"}, {250, 550}, {}, "/DATA/IPA_BD1");
    row("CDUP", true, {"CDUP", "CWD DATA/IPA_BD1", "CDUP"}, {550, 250, 250}, {}, "/DATA");

    // MKD reads its path from the top folder, wherever the session is, and
    // does not move the session.
    row("MKD at the top", true, {"MKD NEW1"}, {257}, "\"/NEW1\" created", "/", "NEW1");
    row("MKD two levels", true, {"MKD TEXT/NEW2"}, {257}, "\"/TEXT/NEW2\" created", "/", "TEXT/NEW2");
    row("MKD from a data folder", true, {"CWD DATA/IPA_BD1", "MKD FONTS/NEW3"}, {250, 257},
        "\"/FONTS/NEW3\" created", "/DATA/IPA_BD1", "FONTS/NEW3");
    row("MKD of an existing folder", true, {"MKD DATA"}, {550}, "File exists", "/");
    row("MKD of an existing folder from a sub-folder", true, {"CWD TEXT", "MKD DATA/IPA_BD1"}, {250, 550},
        "File exists", "/TEXT");
    row("MKD of an existing file", true, {"MKD INIE91.CFG"}, {550}, "File exists");
    const QString mkdFailed = QStringLiteral("Create directory operation failed.");
    row("MKD with a missing parent", true, {"MKD NOPE/SUB"}, {550}, mkdFailed);
    row("MKD above the top", true, {"MKD ../OUT"}, {550}, mkdFailed);
    row("MKD through a symlink outside", true, {"MKD DATA/ESCAPE/OUT"}, {550}, mkdFailed);
    const QString notAllowed = QStringLiteral("Requested action not taken. File name not allowed.");
    row("MKD with a backslash", true, {"MKD DATA\\IPA_BD2"}, {553}, notAllowed);
    row("MKD with a leading blank", true, {"MKD  NEW4"}, {553}, notAllowed);

    // SIZE: of a plain file below the top only.
    row("SIZE of a bare name", true, {"CWD DATA/IPA_BD1", "SIZE A.DAT"}, {250, 213}, "5000");
    row("SIZE of a path", true, {"SIZE DATA/IPA_BD1/B.DAT"}, {213}, "777");
    row("SIZE of an empty file", true, {"SIZE EMPTY.BIN"}, {213}, "0");
    const QString noSize = QStringLiteral("Could not get file size.");
    row("SIZE of another folder's file", true, {"SIZE A.DAT"}, {550}, noSize);
    row("SIZE of a folder", true, {"SIZE DATA"}, {550}, noSize);
    row("SIZE of a symlink outside", true, {"SIZE LEAK.TXT"}, {550}, noSize);
    row("SIZE escaping with ..", true, {"CWD TEXT", "SIZE ../../outside/secret.txt"}, {250, 550}, noSize);
    row("SIZE of /etc/passwd", true, {"SIZE /etc/passwd"}, {550}, noSize);

    // Transfers: passive mode first, and only inside the top folder.
    for (const char *line : {"RETR INIE91.CFG", "STOR NEWFILE.DAT", "LIST"})
        row(qPrintable(QStringLiteral("%1 without PASV").arg(QLatin1String(line))), true, {line}, {425},
            "Use PASV or EPSV first.");
    const QByteArray stor = "STOR ";
    const std::pair<const char *, int> stores[] = {{"DATA\\IPA_BD1\\X.DAT", 553}, {" X.DAT", 553}, {"DATA", 550},
                                                   {"NOPE/X.DAT", 550}, {"../X.DAT", 550}, {"DATA/ESCAPE/X.DAT", 550},
                                                   {"LEAK.TXT", 550}, {"/../X.DAT", 550}};
    for (const auto &[argument, code] : stores)
        row(qPrintable("STOR " + QByteArray(argument)), true, {"TYPE I", "<data>", stor + argument}, {200, 227, code});
    const std::pair<const char *, const char *> retrieves[] = {
        {"NOPE.DAT", "Failed to open file."}, {"DATA", "Not a plain file."}, {"LEAK.TXT", "Failed to open file."},
        {"../outside/secret.txt", "Failed to open file."}, {"DATA/ESCAPE/secret.txt", "Failed to open file."},
        {"DATA\\IPA_BD1\\A.DAT", "Failed to open file."}};
    for (const auto &[argument, text] : retrieves)
        row(qPrintable("RETR " + QByteArray(argument)), true, {"<data>", "RETR " + QByteArray(argument)}, {227, 550},
            QString::fromLatin1(text));
}

void TestFtpProtocol::replies()
{
    QFETCH(bool, login);
    QFETCH(QByteArrayList, lines);
    QFETCH(QList<int>, codes);
    QFETCH(QString, text);
    QFETCH(QString, folder);
    QFETCH(QString, created);

    std::unique_ptr<RawFtpClient> client = login ? loggedIn() : std::make_unique<RawFtpClient>();
    QVERIFY(client);
    if (!login)
        QCOMPARE(client->connectTo(m_server.serverPort()).code, 220);
    std::unique_ptr<QTcpSocket> data;
    RawFtpClient::Reply reply;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i) == "<data>")
            data = client->openPassive(&reply);
        else
            reply = client->command(lines.at(i));
        QVERIFY2(reply.code == codes.at(i),
                 qPrintable(QStringLiteral("%1 gave %2 %3").arg(QString::fromUtf8(lines.at(i))).arg(reply.code)
                                .arg(reply.text)));
    }
    if (!text.isNull())
        QCOMPARE(reply.text, text);
    if (!folder.isNull())
        QCOMPARE(pwdOf(*client), folder);
    if (!created.isEmpty())
        QVERIFY(QFileInfo(m_tree.path(created)).isDir());

    // Whatever was refused changed nothing, inside or outside the top folder.
    QCOMPARE(client->command("NOOP").code, 200);
    QCOMPARE(QDir(m_tree.outside()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"secret.txt"});
    QCOMPARE(QFileInfo(m_tree.outside() + QStringLiteral("/secret.txt")).size(), 0);
    const QString beside = QFileInfo(m_tree.root()).absolutePath();
    QCOMPARE(namesIn(beside), (QStringList{"outside", "root"}));
    for (const char *absent : {"NEW", "X.DAT", "NEWFILE.DAT", "DATA\\IPA_BD2", " NEW4"})
        QVERIFY2(!QFileInfo::exists(m_tree.path(QString::fromLatin1(absent))), absent);
    QVERIFY(QFileInfo::exists(m_tree.path(QStringLiteral("INIE91.CFG"))));
    QVERIFY(QFileInfo(m_tree.path(QStringLiteral("TEXT"))).isDir());
}

void TestFtpProtocol::lineRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("logged");

    QTest::newRow("verbs in any case") << QByteArray("noop\r\n") << 200 << QStringLiteral("noop");
    QTest::newRow("bare LF is not a line end") << QByteArray("NOOP\n") << 500 << QStringLiteral("NOOP");
    QTest::newRow("empty line") << QByteArray("\r\n") << 500 << QString();
    QTest::newRow("TYPE with an unknown code") << QByteArray("TYPE E\r\n") << 504 << QStringLiteral("TYPE E");
    QTest::newRow("CWD without argument") << QByteArray("CWD\r\n") << 501 << QStringLiteral("CWD");
    QTest::newRow("RETR without argument") << QByteArray("RETR\r\n") << 501 << QStringLiteral("RETR");
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x01 \x80\r\n") << 502 << QString::fromLatin1("\xff\xfe\x01 \x80");
}

void TestFtpProtocol::lineRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QFETCH(QString, logged);

    auto client = loggedIn();
    QVERIFY(client);
    m_server.clearCommandLog();
    client->sendRaw(bytes);
    QCOMPARE(client->nextReply().code, code);
    QCOMPARE(m_server.commandLines(), QStringList{ logged });
    QCOMPARE(client->command("NOOP").code, 200);
}

void TestFtpProtocol::overlongLineClosesTheConnection()
{
    auto client = loggedIn();
    QVERIFY(client);
    client->sendRaw(QByteArray(5000, 'A'));
    QCOMPARE(client->nextReply().code, 500);
    QVERIFY(client->waitForDisconnected());
}

// --- Transfers ----------------------------------------------------------------

void TestFtpProtocol::storeAndRetrieveAreByteExact_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("binary with CR LF NUL") << QByteArray("DATA/IPA_BD1") << "STOR1.DAT" << randomBytes(90001, 21);
    QTest::newRow("empty") << QByteArray("TEXT") << "STOR2.TXT" << QByteArray();
    QTest::newRow("several MiB") << QByteArray("FONTS") << "STOR3.FNT" << randomBytes(6 * 1024 * 1024 + 3, 22);
    QTest::newRow("top folder after ' ..'") << QByteArray("DATA/IPS_BD1\n ..") << "STOR4.CFG"
                                            << QByteArray("KEY=1\r\nLF\nNUL\0", 14);
    QTest::newRow("replaces a longer file") << QByteArray() << "COMMANDS.TXT" << QByteArray("SHORT");
    QTest::newRow("empties a file") << QByteArray("FONTS") << "F.FNT" << QByteArray();
    QTest::newRow("one byte LF") << QByteArray("DATA/IPS_BD1") << "STOR5.BIN" << QByteArray("\n");
}

void TestFtpProtocol::storeAndRetrieveAreByteExact()
{
    QFETCH(QByteArray, folder);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);

    auto client = loggedIn();
    QVERIFY(client);
    QString where;
    for (const QByteArray &step : folder.split('\n')) {
        if (step.isEmpty())
            continue;
        QCOMPARE(client->command("CWD " + step).code, 250);
        where = step == " .." ? QString() : QString::fromUtf8(step);
    }
    QCOMPARE(client->command("TYPE I").code, 200);
    RawFtpClient::Reply opening, final;
    client->store("STOR " + file.toUtf8(), content, &opening, &final);
    QCOMPARE(opening.code, 150);
    QCOMPARE(final.code, 226);
    const QString relative = where.isEmpty() ? file : where + QLatin1Char('/') + file;
    const QByteArray stored = m_tree.content(relative);
    QCOMPARE(stored.size(), content.size());
    QVERIFY(stored == content);

    // And back again, through the size the instrument reports.
    QCOMPARE(client->command("SIZE " + file.toUtf8()).text, QString::number(content.size()));
    QVERIFY(client->retrieve("RETR " + file.toUtf8(), &opening, &final) == content);
    QCOMPARE(final.code, 226);
}

void TestFtpProtocol::asciiTypeConvertsLineEnds()
{
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CWD TEXT").code, 250);
    RawFtpClient::Reply opening, final;
    // No TYPE given: ASCII, as RFC 959 has it, so a client that forgets
    // TYPE I gets more bytes than the file holds.
    QCOMPARE(client->retrieve("RETR X.TXT", &opening, &final), QByteArray("first\r\nsecond\r\nthird\r\n"));
    QCOMPARE(final.code, 226);
    QCOMPARE(client->command("TYPE A").code, 200);
    client->store("STOR ASCII.TXT", "one\r\ntwo\nthree\rfour\r\n", &opening, &final);
    QCOMPARE(final.code, 226);
    QCOMPARE(m_tree.content(QStringLiteral("TEXT/ASCII.TXT")), QByteArray("one\ntwo\nthree\rfour\n"));
    QCOMPARE(client->command("TYPE I").code, 200);
    QCOMPARE(client->retrieve("RETR X.TXT", &opening, &final), m_tree.content(QStringLiteral("TEXT/X.TXT")));
}

void TestFtpProtocol::list_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("listed");    // the folder whose entries are expected, or a file

    QTest::newRow("current folder") << QByteArray() << QByteArray("LIST") << "";
    QTest::newRow("options are ignored") << QByteArray() << QByteArray("LIST -a") << "";
    QTest::newRow("options and a path") << QByteArray() << QByteArray("LIST -la DATA/IPA_BD1") << "DATA/IPA_BD1";
    QTest::newRow("two-level folder") << QByteArray("DATA/IPA_BD1") << QByteArray("LIST") << "DATA/IPA_BD1";
    QTest::newRow("path from a sub-folder") << QByteArray("TEXT") << QByteArray("LIST ../FONTS") << "FONTS";
    QTest::newRow("one file") << QByteArray("DATA/IPA_BD1") << QByteArray("LIST A.DAT") << "DATA/IPA_BD1/A.DAT";
}

void TestFtpProtocol::list()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, line);
    QFETCH(QString, listed);

    auto client = loggedIn();
    QVERIFY(client);
    if (!folder.isEmpty())
        QCOMPARE(client->command("CWD " + folder).code, 250);
    RawFtpClient::Reply opening, final;
    const QByteArray listing = client->retrieve(line, &opening, &final);
    QCOMPARE(opening.code, 150);
    QCOMPARE(final.code, 226);
    QVERIFY(listing.endsWith("\r\n"));

    static const QRegularExpression form(QStringLiteral(
        "^([-dl])(rw[-x]r-[-x]r-[-x]|rwxrwxrwx) +\\d+ root +root +(\\d+) "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\\d (\\d\\d:\\d\\d| \\d{4}) (.+)$"));
    QMap<QString, QPair<QChar, qint64>> seen;
    for (const QByteArray &row : listing.split('\n')) {
        if (row.isEmpty())
            continue;
        QVERIFY2(row.endsWith('\r'), row.constData());
        const QRegularExpressionMatch match = form.match(QString::fromUtf8(row.chopped(1)));
        QVERIFY2(match.hasMatch(), row.constData());
        seen.insert(match.captured(6).section(QStringLiteral(" -> "), 0, 0),
                    { match.captured(1).at(0), match.captured(3).toLongLong() });
    }

    const QFileInfo target(m_tree.path(listed));
    QFileInfoList expected;
    if (target.isDir())
        expected = QDir(target.filePath()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    else
        expected << target;
    QCOMPARE(seen.size(), expected.size());
    for (const QFileInfo &entry : expected) {
        QVERIFY2(seen.contains(entry.fileName()), qPrintable(entry.fileName()));
        const auto &[kind, size] = seen.value(entry.fileName());
        QCOMPARE(kind, QLatin1Char(entry.isSymLink() ? 'l' : entry.isDir() ? 'd' : '-'));
        if (kind == QLatin1Char('-'))
            QCOMPARE(size, entry.size());
    }
}

void TestFtpProtocol::listShowsYearForOldEntries()
{
    QVERIFY(m_tree.write(QStringLiteral("FONTS/OLD.FNT"), "old"));
    QVERIFY(m_tree.write(QStringLiteral("FONTS/NEW.FNT"), "new"));
    {
        QFile old(m_tree.path(QStringLiteral("FONTS/OLD.FNT")));
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime(QDate(2019, 3, 4), QTime(5, 6)), QFileDevice::FileModificationTime));
    }
    auto client = loggedIn();
    QVERIFY(client);
    RawFtpClient::Reply opening, final;
    const QString listing = QString::fromUtf8(client->retrieve("LIST FONTS", &opening, &final));
    QVERIFY2(listing.contains(QRegularExpression(QStringLiteral(" 3 root +root +3 Mar  4  2019 OLD.FNT\r\n"))) ||
             listing.contains(QRegularExpression(QStringLiteral("-rw-r--r-- +1 root +root +3 Mar  4  2019 OLD.FNT\r\n"))),
             qPrintable(listing));
    const QDateTime now = QFileInfo(m_tree.path(QStringLiteral("FONTS/NEW.FNT"))).lastModified();
    QVERIFY2(listing.contains(now.toString(QStringLiteral("HH:mm")) + QStringLiteral(" NEW.FNT\r\n")), qPrintable(listing));
}

void TestFtpProtocol::passiveReplies()
{
    auto client = loggedIn();
    QVERIFY(client);
    RawFtpClient::Reply pasv;
    std::unique_ptr<QTcpSocket> data = client->openPassive(&pasv);
    QVERIFY(data);
    QVERIFY2(QRegularExpression(QStringLiteral("^Entering Passive Mode \\(127,0,0,1,\\d{1,3},\\d{1,3}\\)\\.$"))
                 .match(pasv.text).hasMatch(), qPrintable(pasv.text));

    const RawFtpClient::Reply epsv = client->command("EPSV");
    QCOMPARE(epsv.code, 229);
    const QRegularExpressionMatch port =
        QRegularExpression(QStringLiteral("^Entering Extended Passive Mode \\(\\|\\|\\|(\\d+)\\|\\)$")).match(epsv.text);
    QVERIFY2(port.hasMatch(), qPrintable(epsv.text));
    QTcpSocket extended;
    extended.connectToHost(QHostAddress::LocalHost, quint16(port.captured(1).toInt()));
    QVERIFY(QTest::qWaitFor([&] { return extended.state() == QAbstractSocket::ConnectedState; }, 5000));
    QCOMPARE(client->command("CWD TEXT").code, 250);
    QCOMPARE(client->command("TYPE I").code, 200);
    QCOMPARE(client->command("RETR X.TXT").code, 150);
    QCOMPARE(RawFtpClient::readToEnd(&extended), m_tree.content(QStringLiteral("TEXT/X.TXT")));
    QCOMPARE(client->nextReply().code, 226);
    QCOMPARE(client->command("EPSV 2").code, 522);
}

void TestFtpProtocol::dataConnectionThatNeverComes()
{
    m_server.setDataConnectionTimeout(300);
    auto client = loggedIn();
    QVERIFY(client);
    const RawFtpClient::Reply pasv = client->command("PASV");
    QCOMPARE(pasv.code, 227);
    client->sendLine("RETR INIE91.CFG");
    const RawFtpClient::Reply reply = client->nextReply(10000);
    QCOMPARE(reply.code, 425);
    QCOMPARE(client->command("NOOP").code, 200);
}

void TestFtpProtocol::clientClosingDataConnectionEarlyGets426()
{
    QVERIFY(m_tree.write(QStringLiteral("DATA/IPA_BD1/LONG.DAT"), randomBytes(16 * 1024 * 1024, 31)));
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CWD DATA/IPA_BD1").code, 250);
    QCOMPARE(client->command("TYPE I").code, 200);
    std::unique_ptr<QTcpSocket> data = client->openPassive();
    QVERIFY(data);
    QCOMPARE(client->command("RETR LONG.DAT").code, 150);
    QVERIFY(QTest::qWaitFor([&] { return data->bytesAvailable() > 0; }, 5000));
    data->abort();
    QCOMPARE(client->nextReply(20000).code, 426);
    QCOMPARE(client->command("NOOP").code, 200);
}

// --- Sessions and the command log ----------------------------------------------

void TestFtpProtocol::commandLogKeepsOrderAndLines()
{
    // Every test of the tool reads what it sent from this log.
    QSignalSpy received(&m_server, &InstrumentServer::commandReceived);
    RawFtpClient client;
    QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
    const QList<QByteArray> walk = { "USER root", "PASS +00417263850", "CWD DATA/IPA_BD1", "CWD  ..", "cwd TEXT", "NOOP" };
    QStringList expected;
    for (const QByteArray &line : walk) {
        QVERIFY(client.command(line).code > 0);
        expected << QString::fromUtf8(line);
    }
    QCOMPARE(m_server.commandLines(), expected);
    QCOMPARE(received.count(), walk.size());
    QCOMPARE(received.at(3).at(1).toString(), QStringLiteral("CWD  .."));
    const QList<InstrumentServer::LoggedCommand> log = m_server.commandLog();
    QCOMPARE(log.at(3).verb, QStringLiteral("CWD"));
    QCOMPARE(log.at(3).argument, QStringLiteral(" .."));
    QCOMPARE(log.at(4).verb, QStringLiteral("CWD"));
    QCOMPARE(log.at(4).argument, QStringLiteral("TEXT"));
    QCOMPARE(log.at(5).argument, QString());

    RawFtpClient second;
    QCOMPARE(second.connectTo(m_server.serverPort()).code, 220);
    QCOMPARE(second.command("SYST").code, 215);
    QCOMPARE(m_server.commandLog().constLast().session, log.at(0).session + 1);
    m_server.clearCommandLog();
    QVERIFY(m_server.commandLines().isEmpty());
}

void TestFtpProtocol::sessionsKeepTheirOwnFolders()
{
    auto first = loggedIn();
    auto second = loggedIn();
    QVERIFY(first && second);
    QCOMPARE(m_server.activeSessionCount(), 2);
    QCOMPARE(first->command("CWD DATA/IPA_BD1").code, 250);
    QCOMPARE(second->command("CWD TEXT").code, 250);
    QCOMPARE(pwdOf(*first), QStringLiteral("/DATA/IPA_BD1"));
    QCOMPARE(pwdOf(*second), QStringLiteral("/TEXT"));

    // Both transfers run at the same time.
    QVERIFY(m_tree.write(QStringLiteral("DATA/IPA_BD1/BOTH1.DAT"), randomBytes(3 * 1024 * 1024, 41)));
    QVERIFY(m_tree.write(QStringLiteral("TEXT/BOTH2.TXT"), randomBytes(2 * 1024 * 1024, 42)));
    QCOMPARE(first->command("TYPE I").code, 200);
    QCOMPARE(second->command("TYPE I").code, 200);
    std::unique_ptr<QTcpSocket> data1 = first->openPassive();
    std::unique_ptr<QTcpSocket> data2 = second->openPassive();
    QVERIFY(data1 && data2);
    first->sendLine("RETR BOTH1.DAT");
    second->sendLine("RETR BOTH2.TXT");
    QCOMPARE(first->nextReply().code, 150);
    QCOMPARE(second->nextReply().code, 150);
    QByteArray got1, got2;
    QVERIFY(QTest::qWaitFor([&] {
        got1 += data1->readAll();
        got2 += data2->readAll();
        return data1->state() == QAbstractSocket::UnconnectedState && data2->state() == QAbstractSocket::UnconnectedState
            && data1->bytesAvailable() == 0 && data2->bytesAvailable() == 0;
    }, 30000));
    QVERIFY(got1 == m_tree.content(QStringLiteral("DATA/IPA_BD1/BOTH1.DAT")));
    QVERIFY(got2 == m_tree.content(QStringLiteral("TEXT/BOTH2.TXT")));
    QCOMPARE(first->nextReply().code, 226);
    QCOMPARE(second->nextReply().code, 226);
    QCOMPARE(first->command("CWD  ..").code, 250);
    QCOMPARE(pwdOf(*second), QStringLiteral("/TEXT"));
}

void TestFtpProtocol::quitAndCloseEndSessions()
{
    InstrumentServer server;
    server.setRootPath(m_tree.root());
    QVERIFY(server.listen(0));
    QSignalSpy closed(&server, &InstrumentServer::sessionClosed);
    RawFtpClient a, b, c;
    for (RawFtpClient *client : {&a, &b, &c})
        QCOMPARE(client->connectTo(server.serverPort()).code, 220);
    QCOMPARE(server.activeSessionCount(), 3);
    QCOMPARE(a.command("QUIT").code, 221);
    QVERIFY(a.waitForDisconnected());
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
    QCOMPARE(closed.constLast().at(0).toInt(), 1);
    server.close();
    QVERIFY(!server.isListening());
    QCOMPARE(server.activeSessionCount(), 0);
    QVERIFY(b.waitForDisconnected());
    QVERIFY(c.waitForDisconnected());
    QCOMPARE(server.sessionCount(), 3);
}

void TestFtpProtocol::listensOnLoopbackOnly()
{
    // 127.0.0.2 is loopback too, but not the address the stand-in binds.
    QTcpSocket other;
    other.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), m_server.serverPort());
    QVERIFY(QTest::qWaitFor([&] { return other.state() == QAbstractSocket::UnconnectedState
                                      || other.state() == QAbstractSocket::ConnectedState; }, 5000));
    QCOMPARE(other.state(), QAbstractSocket::UnconnectedState);
}

void TestFtpProtocol::refusesMissingRoot()
{
    InstrumentServer server;
    server.setRootPath(m_tree.path(QStringLiteral("NO_SUCH_FOLDER")));
    QVERIFY(!server.listen(0));
    QVERIFY(!server.errorString().isEmpty());
    QVERIFY(!server.isListening());
}

QTEST_GUILESS_MAIN(TestFtpProtocol)
#include "tst_ftpprotocol.moc"
