// The options of r9-instrument-sim: what is refused, and that each fault
// option reaches the server.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "rawftpclient.h"
#include "simulatorcommandline.h"

#include <QTcpSocket>
#include <QTest>

class TestSimCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void refusesBadArguments_data();
    void refusesBadArguments();
    void readsSettings();
    void parsesByteSizes_data();
    void parsesByteSizes();
    void faultOptionsReachTheServer_data();
    void faultOptionsReachTheServer();
    void helpListsEveryOption();

private:
    InstrumentTree m_tree;
};

void TestSimCommandLine::initTestCase()
{
    QVERIFY(m_tree.isValid());
}

void TestSimCommandLine::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("no root") << QStringList{ "--port", "0" } << "--root";
    QTest::newRow("unknown option") << QStringList{ "--root", "/tmp", "--bogus" } << "bogus";
    QTest::newRow("stray argument") << QStringList{ "--root", "/tmp", "extra" } << "extra";
    QTest::newRow("port too large") << QStringList{ "--root", "/tmp", "--port", "70000" } << "--port";
    QTest::newRow("port not a number") << QStringList{ "--root", "/tmp", "--port", "ftp" } << "--port";
    QTest::newRow("refuse without code") << QStringList{ "--root", "/tmp", "--refuse", "RETR" } << "--refuse";
    QTest::newRow("refuse with a word for code") << QStringList{ "--root", "/tmp", "--refuse", "RETR:no" } << "--refuse";
    QTest::newRow("refuse with code 999") << QStringList{ "--root", "/tmp", "--refuse", "RETR:999" } << "--refuse";
    QTest::newRow("refuse with a bad verb") << QStringList{ "--root", "/tmp", "--refuse", "RE TR:550" } << "--refuse";
    QTest::newRow("drop after 0") << QStringList{ "--root", "/tmp", "--drop-after", "0" } << "--drop-after";
    QTest::newRow("cut after a word") << QStringList{ "--root", "/tmp", "--cut-after", "lots" } << "--cut-after";
    QTest::newRow("cut after a negative") << QStringList{ "--root", "/tmp", "--cut-after", "-5" } << "--cut-after";
    QTest::newRow("silent without verb") << QStringList{ "--root", "/tmp", "--silent", ":x" } << "--silent";
    QTest::newRow("lie-size without size") << QStringList{ "--root", "/tmp", "--lie-size", "A.DAT" } << "--lie-size";
    QTest::newRow("lie-size without file") << QStringList{ "--root", "/tmp", "--lie-size", ":12" } << "--lie-size";
    QTest::newRow("negative delay") << QStringList{ "--root", "/tmp", "--delay", "-1" } << "--delay";
    QTest::newRow("rate in words") << QStringList{ "--root", "/tmp", "--rate", "fast" } << "--rate";
    QTest::newRow("15 settings files") << QStringList{ "--root", "/tmp", "--settings", "15" } << "--settings";
    QTest::newRow("big file with a bad unit") << QStringList{ "--root", "/tmp", "--big-file", "3T" } << "--big-file";
    QTest::newRow("negative seed") << QStringList{ "--root", "/tmp", "--seed", "-2" } << "--seed";
}

void TestSimCommandLine::refusesBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    SimulatorCommandLine commandLine;
    QVERIFY(!commandLine.parse(QStringList{ "r9-instrument-sim" } + arguments));
    QVERIFY2(commandLine.errorText().contains(mentions), qPrintable(commandLine.errorText()));
}

void TestSimCommandLine::readsSettings()
{
    SimulatorCommandLine commandLine;
    QVERIFY2(commandLine.parse({ "r9-instrument-sim", "--root", "/srv/r9", "--port", "0", "--generate", "--seed", "77",
                                 "--files", "2000", "--big-file", "3G", "--settings", "14", "--log", "/tmp/c.log",
                                 "--exit-on-stdin-close", "--data-timeout", "250" }),
             qPrintable(commandLine.errorText()));
    const SimulatorSettings &settings = commandLine.settings();
    QCOMPARE(settings.rootPath, QStringLiteral("/srv/r9"));
    QCOMPARE(settings.port, quint16(0));
    QVERIFY(settings.generate);
    QCOMPARE(settings.sample.seed, 77u);
    QCOMPARE(settings.sample.filesPerDataFolder, 2000);
    QCOMPARE(settings.sample.bigFileSize, 3LL << 30);
    QCOMPARE(settings.sample.settingsFiles, 14);
    QCOMPARE(settings.logFile, QStringLiteral("/tmp/c.log"));
    QVERIFY(settings.exitOnStdinClose);
    QCOMPARE(settings.dataConnectionTimeout, 250);
    QVERIFY(commandLine.faultSummary().isEmpty());

    QVERIFY(commandLine.parse({ "r9-instrument-sim", "--root", "/srv/r9" }));
    QCOMPARE(commandLine.settings().port, quint16(2121));
    QVERIFY(!commandLine.settings().generate);
}

void TestSimCommandLine::parsesByteSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("plain") << "1234" << qint64(1234);
    QTest::newRow("K") << "64K" << qint64(65536);
    QTest::newRow("m") << "3m" << qint64(3 * 1024 * 1024);
    QTest::newRow("G") << "5G" << 5LL * 1024 * 1024 * 1024;
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("negative") << "-1" << qint64(-1);
    QTest::newRow("fraction") << "1.5M" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
    QTest::newRow("overflow") << "999999999999999G" << qint64(-1);
}

void TestSimCommandLine::parsesByteSizes()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytes);
    QCOMPARE(SimulatorCommandLine::parseBytes(text), bytes);
}

void TestSimCommandLine::faultOptionsReachTheServer_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<QByteArray>>("lines");   // sent after login, one by one
    QTest::addColumn<QList<int>>("codes");          // 0: no reply, connection dropped or hung

    QTest::newRow("--refuse for one file") << QStringList{ "--refuse", "SIZE:451:A.DAT" }
        << QList<QByteArray>{ "SIZE DATA/IPA_BD1/B.DAT", "SIZE DATA/IPA_BD1/A.DAT" } << QList<int>{ 213, 451 };
    QTest::newRow("two --refuse") << QStringList{ "--refuse", "MKD:550", "--refuse", "cwd:450:TEXT" }
        << QList<QByteArray>{ "MKD X", "CWD TEXT", "CWD FONTS" } << QList<int>{ 550, 450, 250 };
    QTest::newRow("--drop-after") << QStringList{ "--drop-after", "4" }
        << QList<QByteArray>{ "NOOP", "NOOP" } << QList<int>{ 200, 0 };
    QTest::newRow("--silent with an argument") << QStringList{ "--silent", "CWD: .." }
        << QList<QByteArray>{ "CWD TEXT", "CWD  .." } << QList<int>{ 250, 0 };
    QTest::newRow("--silent for a verb") << QStringList{ "--silent", "pwd" }
        << QList<QByteArray>{ "NOOP", "PWD" } << QList<int>{ 200, 0 };
}

void TestSimCommandLine::faultOptionsReachTheServer()
{
    QFETCH(QStringList, options);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QList<int>, codes);

    SimulatorCommandLine commandLine;
    QVERIFY2(commandLine.parse(QStringList{ "r9-instrument-sim", "--root", m_tree.root() } + options),
             qPrintable(commandLine.errorText()));
    QVERIFY(!commandLine.faultSummary().isEmpty());
    InstrumentServer server;
    server.setRootPath(m_tree.root());
    commandLine.applyFaults(server);
    QVERIFY(server.listen(0));

    RawFtpClient client;
    QCOMPARE(client.connectTo(server.serverPort()).code, 220);
    QVERIFY(client.login());
    for (int i = 0; i < lines.size(); ++i) {
        if (codes.at(i) == 0) {
            client.sendLine(lines.at(i));
            QVERIFY(client.staysQuiet(300));
        } else {
            QCOMPARE(client.command(lines.at(i)).code, codes.at(i));
        }
    }
}

void TestSimCommandLine::helpListsEveryOption()
{
    SimulatorCommandLine commandLine;
    QVERIFY(commandLine.parse({ "r9-instrument-sim", "--help" }));
    QVERIFY(commandLine.helpRequested());
    const QString help = commandLine.helpText();
    for (const char *option : { "--root", "--port", "--generate", "--seed", "--files", "--big-file", "--settings",
                                "--log", "--refuse", "--drop-after", "--cut-after", "--silent", "--lie-size",
                                "--delay", "--rate", "--exit-on-stdin-close" })
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(TestSimCommandLine)
#include "tst_simcommandline.moc"
