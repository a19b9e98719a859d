// Each injected fault does what it says, and only that.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "rawftpclient.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <memory>

class TestFaultInjection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void refusedCommand_data();
    void refusedCommand();
    void dropAfterNthCommand();
    void replyDelayIsApplied();
    void rateLimit_data();
    void rateLimit();
    void clearFaultsRestoresTheService();
    void hugeFileStreamsWithoutLoadingIt();

private:
    std::unique_ptr<RawFtpClient> loggedIn();

    InstrumentTree m_tree;
    InstrumentServer m_server;
};

void TestFaultInjection::initTestCase()
{
    QVERIFY(m_tree.isValid());
    m_server.setRootPath(m_tree.root());
    QVERIFY2(m_server.listen(0), qPrintable(m_server.errorString()));
}

void TestFaultInjection::init()
{
    m_server.clearFaults();
    m_server.clearCommandLog();
}

std::unique_ptr<RawFtpClient> TestFaultInjection::loggedIn()
{
    auto client = std::make_unique<RawFtpClient>();
    if (client->connectTo(m_server.serverPort()).code != 220 || !client->login())
        return nullptr;
    return client;
}

void TestFaultInjection::refusedCommand_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("refusedLine");
    QTest::addColumn<QByteArray>("servedLine");   // same verb, served as usual
    QTest::addColumn<int>("servedCode");

    QTest::newRow("CWD of one folder") << "CWD" << 550 << "DATA/IPS_BD1" << QByteArray("CWD DATA/IPS_BD1")
                                       << QByteArray("CWD DATA/IPA_BD1") << 250;
    QTest::newRow("CWD ' ..'") << "CWD" << 450 << " .." << QByteArray("CWD  ..") << QByteArray("CWD ..") << 550;
    QTest::newRow("SIZE of one file") << "SIZE" << 451 << "A.DAT" << QByteArray("SIZE DATA/IPA_BD1/A.DAT")
                                      << QByteArray("SIZE DATA/IPA_BD1/B.DAT") << 213;
    QTest::newRow("MKD, any") << "MKD" << 552 << "" << QByteArray("MKD NEWFOLDER") << QByteArray() << 0;
    QTest::newRow("PWD with an odd code") << "pwd" << 500 << "" << QByteArray("PWD") << QByteArray() << 0;
    QTest::newRow("TYPE") << "TYPE" << 504 << "I" << QByteArray("TYPE I") << QByteArray("TYPE A") << 200;
}

void TestFaultInjection::refusedCommand()
{
    QFETCH(QString, verb);
    QFETCH(int, code);
    QFETCH(QString, argument);
    QFETCH(QByteArray, refusedLine);
    QFETCH(QByteArray, servedLine);
    QFETCH(int, servedCode);

    m_server.refuseCommand(verb, code, argument);
    auto client = loggedIn();
    QVERIFY(client);
    const RawFtpClient::Reply refused = client->command(refusedLine);
    QCOMPARE(refused.code, code);
    QVERIFY2(refused.text.size() > 5, qPrintable(refused.text));   // a readable reason
    if (!servedLine.isEmpty())
        QCOMPARE(client->command(servedLine).code, servedCode);
    QVERIFY(!QFileInfo::exists(m_tree.path(QStringLiteral("NEWFOLDER"))));
    QCOMPARE(client->command("NOOP").code, 200);
}

void TestFaultInjection::dropAfterNthCommand()
{
    m_server.dropConnectionAfter(3);
    // Sessions of earlier cases may still be closing.
    const int earlier = m_server.sessionCount();
    QSignalSpy closed(&m_server, &InstrumentServer::sessionClosed);
    for (int round = 0; round < 2; ++round) {
        RawFtpClient client;
        QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
        QCOMPARE(client.command("USER root").code, 331);
        QCOMPARE(client.command("PASS +00417263850").code, 230);
        client.sendLine("CWD TEXT");
        QVERIFY(client.waitForDisconnected());
        QCOMPARE(client.socket().bytesAvailable(), 0);
    }
    QCOMPARE(m_server.commandLines(), QStringList({ "USER root", "PASS +00417263850", "CWD TEXT",
                                                    "USER root", "PASS +00417263850", "CWD TEXT" }));
    const auto closedHere = [&] {
        return std::count_if(closed.cbegin(), closed.cend(),
                             [&](const QList<QVariant> &signal) { return signal.at(0).toInt() > earlier; });
    };
    QTRY_COMPARE_WITH_TIMEOUT(closedHere(), 2, 5000);
}

void TestFaultInjection::replyDelayIsApplied()
{
    const int delay = 150;
    m_server.setReplyDelay(delay);
    QElapsedTimer clock;
    clock.start();
    RawFtpClient client;
    QCOMPARE(client.connectTo(m_server.serverPort()).code, 220);
    QVERIFY(client.login());
    QCOMPARE(client.command("NOOP").code, 200);
    // Greeting, USER, PASS and NOOP each waited one delay, one after another.
    QVERIFY2(clock.elapsed() >= 4 * delay, qPrintable(QString::number(clock.elapsed())));

    clock.restart();
    RawFtpClient::Reply opening, final;
    QCOMPARE(client.command("TYPE I").code, 200);
    QCOMPARE(client.retrieve("RETR INIE91.CFG", &opening, &final), m_tree.content(QStringLiteral("INIE91.CFG")));
    QCOMPARE(final.code, 226);
    // TYPE, PASV, 150 and 226.
    QVERIFY2(clock.elapsed() >= 4 * delay, qPrintable(QString::number(clock.elapsed())));

    // Replies to lines sent together keep their order.
    client.sendRaw("NOOP\r\nPWD\r\nSYST\r\nCWD NOPE\r\n");
    for (int code : {200, 257, 215, 550})
        QCOMPARE(client.nextReply().code, code);
}

void TestFaultInjection::rateLimit_data()
{
    QTest::addColumn<bool>("store");
    QTest::newRow("RETR") << false;
    QTest::newRow("STOR") << true;
}

void TestFaultInjection::rateLimit()
{
    QFETCH(bool, store);
    const qint64 rate = 200 * 1024;
    const QByteArray content = randomBytes(400 * 1024, 61);
    QVERIFY(m_tree.write(QStringLiteral("SLOW.DAT"), store ? QByteArray() : content));
    m_server.setRateLimit(rate);
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("TYPE I").code, 200);
    QElapsedTimer clock;
    clock.start();
    RawFtpClient::Reply opening, final;
    if (store)
        client->store("STOR SLOW.DAT", content, &opening, &final, 60000);
    else
        QVERIFY(client->retrieve("RETR SLOW.DAT", &opening, &final, 60000) == content);
    QCOMPARE(final.code, 226);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1000 * content.size() / rate * 9 / 10, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 30000, qPrintable(QString::number(elapsed)));
    QVERIFY(m_tree.content(QStringLiteral("SLOW.DAT")) == content);
}

void TestFaultInjection::clearFaultsRestoresTheService()
{
    m_server.refuseCommand(QStringLiteral("CWD"), 550);
    m_server.staySilentOn(QStringLiteral("PWD"));
    m_server.cutTransferAfter(1);
    m_server.dropConnectionAfter(5);
    m_server.setReplyDelay(5000);
    m_server.clearFaults();
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CWD TEXT").code, 250);
    QCOMPARE(client->command("PWD").code, 257);
    QCOMPARE(client->command("TYPE I").code, 200);
    RawFtpClient::Reply opening, final;
    QCOMPARE(client->retrieve("RETR X.TXT", &opening, &final), m_tree.content(QStringLiteral("TEXT/X.TXT")));
    QCOMPARE(final.code, 226);
}

void TestFaultInjection::hugeFileStreamsWithoutLoadingIt()
{
    // Sparse: 5 GiB on paper, next to nothing on disk. Sizes above 4 GiB
    // must survive SIZE and LIST, and a RETR must start at once.
    const qint64 huge = 5LL * 1024 * 1024 * 1024;
    {
        QFile file(m_tree.path(QStringLiteral("DATA/IPA_BD1/HUGE.BIN")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(huge));
    }
    m_server.cutTransferAfter(3 * 1024 * 1024, QStringLiteral("HUGE.BIN"));
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->command("CWD DATA/IPA_BD1").code, 250);
    QCOMPARE(client->command("TYPE I").code, 200);
    QCOMPARE(client->command("SIZE HUGE.BIN").text, QString::number(huge));
    RawFtpClient::Reply opening, final;
    QVERIFY(client->retrieve("LIST HUGE.BIN", &opening, &final).contains(" 5368709120 "));
    const QByteArray head = client->retrieve("RETR HUGE.BIN", &opening, &final);
    QCOMPARE(head.size(), 3 * 1024 * 1024);
    QCOMPARE(head.count('\0'), head.size());
    QCOMPARE(final.code, 426);
    QFile::remove(m_tree.path(QStringLiteral("DATA/IPA_BD1/HUGE.BIN")));
}

QTEST_GUILESS_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
