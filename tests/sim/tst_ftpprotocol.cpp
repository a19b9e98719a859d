// The stand-in's FTP dialogue, checked reply by reply over a plain socket.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "rawftpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

class TestFtpProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void login_data();
    void login();
    void commandsBeforeLogin_data();
    void commandsBeforeLogin();
    void passWithoutUserIsRefused();
    void otherCommandsAreNotImplemented_data();
    void otherCommandsAreNotImplemented();
    void lineRules_data();
    void lineRules();
    void overlongLineClosesTheConnection();

    void changeFolder_data();
    void changeFolder();
    void changeToParent();
    void makeFolder_data();
    void makeFolder();
    void size_data();
    void size();

    void retrieveIsByteExact_data();
    void retrieveIsByteExact();
    void storeIsByteExact_data();
    void storeIsByteExact();
    void storeRefusesBadTargets_data();
    void storeRefusesBadTargets();
    void retrieveRefusesBadSources_data();
    void retrieveRefusesBadSources();
    void asciiTypeConvertsLineEnds();
    void list_data();
    void list();
    void listShowsYearForOldEntries();
    void transfersNeedPassiveMode_data();
    void transfersNeedPassiveMode();
    void passiveReplies();
    void dataConnectionThatNeverComes();
    void clientClosingDataConnectionEarlyGets426();

    void commandLogKeepsOrderAndLines();
    void sessionsKeepTheirOwnFolders();
    void quitClosesTheSession();
    void closeDropsEveryConnection();
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

// --- Login and command rules ------------------------------------------------

void TestFtpProtocol::login_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("passCode");

    QTest::newRow("the instrument's account") << QByteArray("root") << QByteArray("+00417263850") << 230;
    QTest::newRow("wrong password") << QByteArray("root") << QByteArray("00417263850") << 530;
    QTest::newRow("user name in another case") << QByteArray("ROOT") << QByteArray("+00417263850") << 530;
    QTest::newRow("another user") << QByteArray("guest") << QByteArray("+00417263850") << 530;
    QTest::newRow("anonymous") << QByteArray("anonymous") << QByteArray("me@example.org") << 530;
    QTest::newRow("password with a trailing blank") << QByteArray("root") << QByteArray("+00417263850 ") << 530;
}

void TestFtpProtocol::login()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, passCode);

    RawFtpClient client;
    QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
    QCOMPARE(client.command("USER " + user).code, 331);
    QCOMPARE(client.command("PASS " + password).code, passCode);
    // Only a logged-in session may look at the folders.
    QCOMPARE(client.command("PWD").code, passCode == 230 ? 257 : 530);
}

void TestFtpProtocol::commandsBeforeLogin_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("code");

    QTest::newRow("SYST") << QByteArray("SYST") << 215;
    QTest::newRow("FEAT") << QByteArray("FEAT") << 211;
    QTest::newRow("NOOP") << QByteArray("NOOP") << 200;
    for (const char *line : { "PWD", "CWD DATA", "CWD  ..", "CDUP", "LIST", "RETR INIE91.CFG", "STOR X.DAT",
                              "MKD NEW", "SIZE INIE91.CFG", "PASV", "EPSV", "TYPE I", "DELE A.DAT", "XYZ" })
        QTest::newRow(line) << QByteArray(line) << 530;
}

void TestFtpProtocol::commandsBeforeLogin()
{
    QFETCH(QByteArray, line);
    QFETCH(int, code);

    RawFtpClient client;
    QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
    QCOMPARE(client.command(line).code, code);
    QVERIFY(!QFileInfo::exists(m_tree.path(QStringLiteral("NEW"))));
}

void TestFtpProtocol::passWithoutUserIsRefused()
{
    RawFtpClient client;
    QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
    QCOMPARE(client.command("PASS +00417263850").code, 503);
    QCOMPARE(client.command("PWD").code, 530);
    QVERIFY(client.login());
}

void TestFtpProtocol::otherCommandsAreNotImplemented_data()
{
    QTest::addColumn<QByteArray>("line");
    for (const char *line : { "DELE INIE91.CFG", "RMD TEXT", "RNFR INIE91.CFG", "RNTO Y", "PORT 127,0,0,1,200,10",
                              "EPRT |1|127.0.0.1|51210|", "NLST", "MLSD", "MDTM INIE91.CFG", "REST 100", "ABOR",
                              "APPE X", "SITE CHMOD 777 X", "OPTS UTF8 ON", "XPWD" })
        QTest::newRow(line) << QByteArray(line);
}

void TestFtpProtocol::otherCommandsAreNotImplemented()
{
    QFETCH(QByteArray, line);
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command(line).code, 502);
    QCOMPARE(client->command("NOOP").code, 200);
    QVERIFY(QFileInfo::exists(m_tree.path(QStringLiteral("INIE91.CFG"))));
    QVERIFY(QFileInfo::exists(m_tree.path(QStringLiteral("TEXT"))));
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
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x01 \x80\r\n") << 502 << QString::fromUtf8("\xff\xfe\x01 \x80");
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

// --- Folders ----------------------------------------------------------------

void TestFtpProtocol::changeFolder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QString>("finalFolder");

    QTest::newRow("two levels at once") << QStringList{ "DATA/IPA_BD1" } << QList<int>{ 250 } << "/DATA/IPA_BD1";
    QTest::newRow("' ..' from two levels down leads to the top")
        << QStringList{ "DATA/IPA_BD1", " .." } << QList<int>{ 250, 250 } << "/";
    QTest::newRow("' ..' from one level down") << QStringList{ "TEXT", " .." } << QList<int>{ 250, 250 } << "/";
    QTest::newRow("' ..' at the top stays there") << QStringList{ " .." } << QList<int>{ 250 } << "/";
    QTest::newRow("'..' is the ordinary parent")
        << QStringList{ "DATA/IPA_BD1", ".." } << QList<int>{ 250, 250 } << "/DATA";
    QTest::newRow("the listing walk")
        << QStringList{ "DATA/IPA_BD1", " ..", "DATA/IPS_BD1", " ..", "TEXT", " ..", "FONTS", " .." }
        << QList<int>{ 250, 250, 250, 250, 250, 250, 250, 250 } << "/";
    QTest::newRow("'..' instead of ' ..' leaves the client in DATA")
        << QStringList{ "DATA/IPA_BD1", "..", "DATA/IPS_BD1" } << QList<int>{ 250, 250, 550 } << "/DATA";
    QTest::newRow("sibling through '..'") << QStringList{ "DATA/IPA_BD1", "../IPS_BD1" } << QList<int>{ 250, 250 }
                                          << "/DATA/IPS_BD1";
    QTest::newRow("absolute path from the top") << QStringList{ "TEXT", "/DATA/IPS_BD1" } << QList<int>{ 250, 250 }
                                                << "/DATA/IPS_BD1";
    QTest::newRow("'..' above the top") << QStringList{ ".." } << QList<int>{ 550 } << "/";
    QTest::newRow("'../..' from one level down") << QStringList{ "DATA", "../.." } << QList<int>{ 250, 550 } << "/DATA";
    QTest::newRow("/etc") << QStringList{ "/etc" } << QList<int>{ 550 } << "/";
    QTest::newRow("/..") << QStringList{ "/.." } << QList<int>{ 550 } << "/";
    QTest::newRow("DATA/../../x") << QStringList{ "DATA/../../x" } << QList<int>{ 550 } << "/";
    QTest::newRow("DATA/../../outside") << QStringList{ "DATA/../../outside" } << QList<int>{ 550 } << "/";
    QTest::newRow("symlink to a folder outside") << QStringList{ "DATA/ESCAPE" } << QList<int>{ 550 } << "/";
    QTest::newRow("symlink to a folder inside") << QStringList{ "INSIDE" } << QList<int>{ 250 } << "/INSIDE";
    QTest::newRow("missing folder") << QStringList{ "NOPE" } << QList<int>{ 550 } << "/";
    QTest::newRow("a file is no folder") << QStringList{ "INIE91.CFG" } << QList<int>{ 550 } << "/";
    QTest::newRow("names are case-sensitive") << QStringList{ "data/ipa_bd1" } << QList<int>{ 550 } << "/";
    QTest::newRow("a leading blank is part of the name") << QStringList{ " TEXT" } << QList<int>{ 550 } << "/";
    QTest::newRow("a backslash is no separator") << QStringList{ "DATA\\IPA_BD1" } << QList<int>{ 550 } << "/";
    QTest::newRow("two blanks and two dots is no step up")
        << QStringList{ "TEXT", "  .." } << QList<int>{ 250, 550 } << "/TEXT";
    QTest::newRow("a failed change keeps the folder")
        << QStringList{ "DATA/IPA_BD1", "NOPE" } << QList<int>{ 250, 550 } << "/DATA/IPA_BD1";
}

void TestFtpProtocol::changeFolder()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, codes);
    QFETCH(QString, finalFolder);

    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(pwdOf(*client), QStringLiteral("/"));
    for (int i = 0; i < arguments.size(); ++i) {
        const RawFtpClient::Reply reply = client->command("CWD " + arguments.at(i).toUtf8());
        QVERIFY2(reply.code == codes.at(i),
                 qPrintable(QStringLiteral("CWD '%1' gave %2 %3").arg(arguments.at(i)).arg(reply.code).arg(reply.text)));
    }
    QCOMPARE(pwdOf(*client), finalFolder);
}

void TestFtpProtocol::changeToParent()
{
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CDUP").code, 550);
    QCOMPARE(client->command("CWD DATA/IPA_BD1").code, 250);
    QCOMPARE(client->command("CDUP").code, 250);
    QCOMPARE(pwdOf(*client), QStringLiteral("/DATA"));
}

void TestFtpProtocol::makeFolder_data()
{
    QTest::addColumn<QByteArray>("folderBefore");
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("replyText");
    QTest::addColumn<QString>("created");   // relative to the top; empty: nothing

    QTest::newRow("at the top") << QByteArray() << QByteArray("NEW1") << 257 << "\"/NEW1\" created" << "NEW1";
    QTest::newRow("two levels, from the top") << QByteArray() << QByteArray("TEXT/NEW2") << 257
                                              << "\"/TEXT/NEW2\" created" << "TEXT/NEW2";
    QTest::newRow("relative to the top from a data folder")
        << QByteArray("DATA/IPA_BD1") << QByteArray("FONTS/NEW3") << 257 << "\"/FONTS/NEW3\" created" << "FONTS/NEW3";
    QTest::newRow("existing folder") << QByteArray() << QByteArray("DATA") << 550 << "File exists" << "";
    QTest::newRow("existing two-level folder from a sub-folder")
        << QByteArray("TEXT") << QByteArray("DATA/IPA_BD1") << 550 << "File exists" << "";
    QTest::newRow("existing file") << QByteArray() << QByteArray("INIE91.CFG") << 550 << "File exists" << "";
    QTest::newRow("missing parent") << QByteArray() << QByteArray("NOPE/SUB") << 550
                                    << "Create directory operation failed." << "";
    QTest::newRow("above the top") << QByteArray() << QByteArray("../OUT") << 550
                                   << "Create directory operation failed." << "";
    QTest::newRow("through a symlink outside") << QByteArray() << QByteArray("DATA/ESCAPE/OUT") << 550
                                               << "Create directory operation failed." << "";
    QTest::newRow("backslash in the name") << QByteArray() << QByteArray("DATA\\IPA_BD2") << 553
                                           << "Requested action not taken. File name not allowed." << "";
    QTest::newRow("leading blank") << QByteArray() << QByteArray(" NEW4") << 553
                                   << "Requested action not taken. File name not allowed." << "";
}

void TestFtpProtocol::makeFolder()
{
    QFETCH(QByteArray, folderBefore);
    QFETCH(QByteArray, argument);
    QFETCH(int, code);
    QFETCH(QString, replyText);
    QFETCH(QString, created);

    auto client = loggedIn();
    QVERIFY(client);
    if (!folderBefore.isEmpty())
        QCOMPARE(client->command("CWD " + folderBefore).code, 250);
    const RawFtpClient::Reply reply = client->command("MKD " + argument);
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.text, replyText);
    if (!created.isEmpty()) {
        QVERIFY(QFileInfo(m_tree.path(created)).isDir());
        QVERIFY(!QFileInfo::exists(m_tree.path(QString::fromUtf8(folderBefore) + QLatin1Char('/') + created))
                || folderBefore.isEmpty());
    }
    QVERIFY(!QFileInfo::exists(m_tree.outside() + QStringLiteral("/OUT")));
    QVERIFY(!QFileInfo::exists(QFileInfo(m_tree.root()).absolutePath() + QStringLiteral("/OUT")));
    // MKD does not move the session.
    QCOMPARE(pwdOf(*client), QLatin1Char('/') + QString::fromUtf8(folderBefore));
}

void TestFtpProtocol::size_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("bare name in the current folder") << QByteArray("DATA/IPA_BD1") << QByteArray("A.DAT") << 213 << "5000";
    QTest::newRow("path from the current folder") << QByteArray() << QByteArray("DATA/IPA_BD1/B.DAT") << 213 << "777";
    QTest::newRow("empty file") << QByteArray() << QByteArray("EMPTY.BIN") << 213 << "0";
    QTest::newRow("file of another folder by bare name") << QByteArray() << QByteArray("A.DAT") << 550
                                                         << "Could not get file size.";
    QTest::newRow("folder") << QByteArray() << QByteArray("DATA") << 550 << "Could not get file size.";
    QTest::newRow("symlink to a file outside") << QByteArray() << QByteArray("LEAK.TXT") << 550
                                               << "Could not get file size.";
    QTest::newRow("escape with ..") << QByteArray("TEXT") << QByteArray("../../outside/secret.txt") << 550
                                    << "Could not get file size.";
    QTest::newRow("/etc/passwd") << QByteArray() << QByteArray("/etc/passwd") << 550 << "Could not get file size.";
}

void TestFtpProtocol::size()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, argument);
    QFETCH(int, code);
    QFETCH(QString, text);

    auto client = loggedIn();
    QVERIFY(client);
    if (!folder.isEmpty())
        QCOMPARE(client->command("CWD " + folder).code, 250);
    const RawFtpClient::Reply reply = client->command("SIZE " + argument);
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.text, text);
}

// --- Transfers ----------------------------------------------------------------

void TestFtpProtocol::retrieveIsByteExact_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("binary with CR LF NUL") << "RETR1.BIN" << InstrumentTree::binary(70001, 11);
    QTest::newRow("empty") << "RETR2.BIN" << QByteArray();
    QTest::newRow("one byte LF") << "RETR3.BIN" << QByteArray("\n");
    QTest::newRow("several MiB") << "RETR4.BIN" << InstrumentTree::binary(5 * 1024 * 1024 + 17, 12);
}

void TestFtpProtocol::retrieveIsByteExact()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QVERIFY(m_tree.write(QStringLiteral("DATA/IPS_BD1/") + file, content));

    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CWD DATA/IPS_BD1").code, 250);
    QCOMPARE(client->command("TYPE I").code, 200);
    RawFtpClient::Reply opening, final;
    const QByteArray received = client->retrieve("RETR " + file.toUtf8(), &opening, &final);
    QCOMPARE(opening.code, 150);
    QCOMPARE(final.code, 226);
    QCOMPARE(received.size(), content.size());
    QVERIFY(received == content);
}

void TestFtpProtocol::storeIsByteExact_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("binary with CR LF NUL") << QByteArray("DATA/IPA_BD1") << "STOR1.DAT" << InstrumentTree::binary(90001, 21);
    QTest::newRow("empty") << QByteArray("TEXT") << "STOR2.TXT" << QByteArray();
    QTest::newRow("several MiB") << QByteArray("FONTS") << "STOR3.FNT" << InstrumentTree::binary(6 * 1024 * 1024 + 3, 22);
    QTest::newRow("top folder after ' ..'") << QByteArray("DATA/IPS_BD1\n ..") << "STOR4.CFG"
                                            << QByteArray("KEY=1\r\nLF\nNUL\0", 14);
    QTest::newRow("replaces a longer file") << QByteArray() << "COMMANDS.TXT" << QByteArray("SHORT");
}

void TestFtpProtocol::storeIsByteExact()
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

void TestFtpProtocol::storeRefusesBadTargets_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<int>("code");

    QTest::newRow("backslash path") << QByteArray("DATA\\IPA_BD1\\X.DAT") << 553;
    QTest::newRow("leading blank") << QByteArray(" X.DAT") << 553;
    QTest::newRow("a folder") << QByteArray("DATA") << 550;
    QTest::newRow("missing folder") << QByteArray("NOPE/X.DAT") << 550;
    QTest::newRow("above the top") << QByteArray("../X.DAT") << 550;
    QTest::newRow("through a symlink outside") << QByteArray("DATA/ESCAPE/X.DAT") << 550;
    QTest::newRow("onto a symlink to a file outside") << QByteArray("LEAK.TXT") << 550;
    QTest::newRow("absolute outside") << QByteArray("/../X.DAT") << 550;
}

void TestFtpProtocol::storeRefusesBadTargets()
{
    QFETCH(QByteArray, argument);
    QFETCH(int, code);

    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("TYPE I").code, 200);
    std::unique_ptr<QTcpSocket> data = client->openPassive();
    QVERIFY(data);
    QCOMPARE(client->command("STOR " + argument).code, code);
    QCOMPARE(QDir(m_tree.outside()).entryList(QDir::Files), QStringList{ "secret.txt" });
    QCOMPARE(QFileInfo(m_tree.outside() + QStringLiteral("/secret.txt")).size(), 0);
    QVERIFY(!QFileInfo::exists(QFileInfo(m_tree.root()).absolutePath() + QStringLiteral("/X.DAT")));
    QVERIFY(!QFileInfo::exists(m_tree.path(QStringLiteral("X.DAT"))));
    QCOMPARE(client->command("NOOP").code, 200);
}

void TestFtpProtocol::retrieveRefusesBadSources_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QString>("text");

    QTest::newRow("missing") << QByteArray("NOPE.DAT") << "Failed to open file.";
    QTest::newRow("a folder") << QByteArray("DATA") << "Not a plain file.";
    QTest::newRow("symlink to a file outside") << QByteArray("LEAK.TXT") << "Failed to open file.";
    QTest::newRow("above the top") << QByteArray("../outside/secret.txt") << "Failed to open file.";
    QTest::newRow("through a symlink outside") << QByteArray("DATA/ESCAPE/secret.txt") << "Failed to open file.";
    QTest::newRow("local path with backslashes") << QByteArray("DATA\\IPA_BD1\\A.DAT") << "Failed to open file.";
}

void TestFtpProtocol::retrieveRefusesBadSources()
{
    QFETCH(QByteArray, argument);
    QFETCH(QString, text);

    auto client = loggedIn();
    QVERIFY(client);
    std::unique_ptr<QTcpSocket> data = client->openPassive();
    QVERIFY(data);
    const RawFtpClient::Reply reply = client->command("RETR " + argument);
    QCOMPARE(reply.code, 550);
    QCOMPARE(reply.text, text);
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
        if (entry.isSymLink()) {
            QCOMPARE(kind, QLatin1Char('l'));
        } else if (entry.isDir()) {
            QCOMPARE(kind, QLatin1Char('d'));
        } else {
            QCOMPARE(kind, QLatin1Char('-'));
            QCOMPARE(size, entry.size());
        }
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

void TestFtpProtocol::transfersNeedPassiveMode_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("RETR") << QByteArray("RETR INIE91.CFG");
    QTest::newRow("STOR") << QByteArray("STOR NEWFILE.DAT");
    QTest::newRow("LIST") << QByteArray("LIST");
}

void TestFtpProtocol::transfersNeedPassiveMode()
{
    QFETCH(QByteArray, line);
    auto client = loggedIn();
    QVERIFY(client);
    const RawFtpClient::Reply reply = client->command(line);
    QCOMPARE(reply.code, 425);
    QCOMPARE(reply.text, QStringLiteral("Use PASV or EPSV first."));
    QVERIFY(!QFileInfo::exists(m_tree.path(QStringLiteral("NEWFILE.DAT"))));
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
    QVERIFY(m_tree.write(QStringLiteral("DATA/IPA_BD1/LONG.DAT"), InstrumentTree::binary(16 * 1024 * 1024, 31)));
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
    InstrumentServer server;
    server.setRootPath(m_tree.root());
    QTemporaryDir logDir;
    const QString logPath = logDir.filePath(QStringLiteral("commands.log"));
    server.setCommandLogFile(logPath);
    QVERIFY(server.listen(0));
    QSignalSpy received(&server, &InstrumentServer::commandReceived);

    RawFtpClient client;
    QCOMPARE(client.connectTo(server.serverPort()).code, 220);
    const QList<QByteArray> walk = { "USER root", "PASS +00417263850", "CWD DATA/IPA_BD1", "CWD  ..",
                                     "CWD DATA/IPS_BD1", "CWD  ..", "cwd TEXT", "CWD  ..", "NOOP" };
    for (const QByteArray &line : walk)
        QVERIFY(client.command(line).code > 0);

    QStringList expected;
    for (const QByteArray &line : walk)
        expected << QString::fromUtf8(line);
    QCOMPARE(server.commandLines(), expected);
    QCOMPARE(received.count(), walk.size());
    QCOMPARE(received.at(3).at(1).toString(), QStringLiteral("CWD  .."));

    const QList<InstrumentServer::LoggedCommand> log = server.commandLog();
    QCOMPARE(log.at(3).session, 1);
    QCOMPARE(log.at(3).verb, QStringLiteral("CWD"));
    QCOMPARE(log.at(3).argument, QStringLiteral(" .."));
    QCOMPARE(log.at(6).verb, QStringLiteral("CWD"));
    QCOMPARE(log.at(6).argument, QStringLiteral("TEXT"));
    QCOMPARE(log.at(8).argument, QString());

    RawFtpClient second;
    QCOMPARE(second.connectTo(server.serverPort()).code, 220);
    QCOMPARE(second.command("SYST").code, 215);
    QCOMPARE(server.commandLog().constLast().session, 2);

    QFile file(logPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray expectedFile;
    for (const QByteArray &line : walk)
        expectedFile += "1 " + line + '\n';
    expectedFile += "2 SYST\n";
    QCOMPARE(file.readAll(), expectedFile);

    server.clearCommandLog();
    QVERIFY(server.commandLines().isEmpty());
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
    QVERIFY(m_tree.write(QStringLiteral("DATA/IPA_BD1/BOTH1.DAT"), InstrumentTree::binary(3 * 1024 * 1024, 41)));
    QVERIFY(m_tree.write(QStringLiteral("TEXT/BOTH2.TXT"), InstrumentTree::binary(2 * 1024 * 1024, 42)));
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

void TestFtpProtocol::quitClosesTheSession()
{
    QSignalSpy closed(&m_server, &InstrumentServer::sessionClosed);
    auto client = loggedIn();
    QVERIFY(client);
    const int sessions = m_server.sessionCount();
    const RawFtpClient::Reply reply = client->command("QUIT");
    QCOMPARE(reply.code, 221);
    QVERIFY(client->waitForDisconnected());
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 5000);
    QCOMPARE(closed.constLast().at(0).toInt(), sessions);
}

void TestFtpProtocol::closeDropsEveryConnection()
{
    InstrumentServer server;
    server.setRootPath(m_tree.root());
    QVERIFY(server.listen(0));
    RawFtpClient a, b;
    QCOMPARE(a.connectTo(server.serverPort()).code, 220);
    QCOMPARE(b.connectTo(server.serverPort()).code, 220);
    QCOMPARE(server.activeSessionCount(), 2);
    server.close();
    QVERIFY(!server.isListening());
    QCOMPARE(server.activeSessionCount(), 0);
    QVERIFY(a.waitForDisconnected());
    QVERIFY(b.waitForDisconnected());
    QCOMPARE(server.sessionCount(), 2);
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
