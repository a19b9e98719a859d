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

    void asciiTypeConvertsLineEnds();

    void listensOnLoopbackOnly();

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

// --- Transfers ----------------------------------------------------------------

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

// --- Sessions and the command log ----------------------------------------------

void TestFtpProtocol::listensOnLoopbackOnly()
{
    // 127.0.0.2 is loopback too, but not the address the stand-in binds.
    QTcpSocket other;
    other.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), m_server.serverPort());
    QVERIFY(QTest::qWaitFor([&] { return other.state() == QAbstractSocket::UnconnectedState
                                      || other.state() == QAbstractSocket::ConnectedState; }, 5000));
    QCOMPARE(other.state(), QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TestFtpProtocol)
#include "tst_ftpprotocol.moc"
