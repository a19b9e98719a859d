// r9-instrument-sim as a technician or a script runs it: its options, what
// is refused, that each fault option reaches the server, and the program
// itself.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "rawftpclient.h"
#include "simulatorcommandline.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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
    void servesUntilStopped_data();
    void servesUntilStopped();
    void keepsAFolderThatIsNotEmpty();
    void logsCommandsAndAppliesFaults();
    void endsAtOnce_data();
    void endsAtOnce();

private:
    bool start(QProcess &process, const QStringList &arguments, quint16 *port);
    bool finish(QProcess &process, int timeoutMs = 10000);

    InstrumentTree m_tree;
    QProcessEnvironment m_environment;
};

void TestSimCommandLine::initTestCase()
{
    QVERIFY(m_tree.isValid());
    QVERIFY(QFileInfo(QStringLiteral(R9_SIM_EXECUTABLE)).isExecutable());
    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY" })
        m_environment.remove(QString::fromLatin1(name));
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

bool TestSimCommandLine::start(QProcess &process, const QStringList &arguments, quint16 *port)
{
    process.setProcessEnvironment(m_environment);
    process.start(QStringLiteral(R9_SIM_EXECUTABLE), arguments);
    static const QRegularExpression banner(QStringLiteral("^r9-instrument-sim listening on 127\\.0\\.0\\.1:(\\d+)\\n"));
    QByteArray out;
    QRegularExpressionMatch match;
    const bool up = QTest::qWaitFor([&] {
        out += process.readAllStandardOutput();
        match = banner.match(QString::fromUtf8(out));
        return match.hasMatch() || process.state() == QProcess::NotRunning;
    }, 60000);
    if (!up || !match.hasMatch()) {
        qWarning() << "no banner; stdout" << out << "stderr" << process.readAllStandardError();
        return false;
    }
    *port = quint16(match.captured(1).toUInt());
    return *port != 0;
}

bool TestSimCommandLine::finish(QProcess &process, int timeoutMs)
{
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

void TestSimCommandLine::servesUntilStopped_data()
{
    QTest::addColumn<int>("signalNumber");   // 0: its standard input closes
    QTest::newRow("standard input closed") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimCommandLine::servesUntilStopped()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("instrument"));
    QProcess sim;
    quint16 port = 0;
    QVERIFY(start(sim, { "--root", root, "--generate", "--files", "3", "--settings", "2", "--port", "0",
                         "--exit-on-stdin-close" }, &port));
    QCOMPARE(QDir(root + QStringLiteral("/DATA/IPS_BD1")).entryList(QDir::Files).size(), 3);
    RawFtpClient client;
    QCOMPARE(client.connectTo(port).code, 220);
    QVERIFY(client.login());
    RawFtpClient::Reply opening, final;
    QCOMPARE(client.retrieve("RETR INIE91.CFG", &opening, &final), readFile(root + QStringLiteral("/INIE91.CFG")));
    if (signalNumber)
        ::kill(pid_t(sim.processId()), signalNumber);
    else
        sim.closeWriteChannel();
    QVERIFY(finish(sim));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(client.waitForDisconnected());
}

void TestSimCommandLine::keepsAFolderThatIsNotEmpty()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("MINE.TXT")), "keep");
    QProcess sim;
    quint16 port = 0;
    QVERIFY(start(sim, { "--root", dir.path(), "--generate", "--port", "0", "--exit-on-stdin-close" }, &port));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{ "MINE.TXT" });
    sim.closeWriteChannel();
    QVERIFY(finish(sim));
    QCOMPARE(sim.exitCode(), 0);
}

void TestSimCommandLine::logsCommandsAndAppliesFaults()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("commands.log"));
    QProcess sim;
    quint16 port = 0;
    QVERIFY(start(sim, { "--root", dir.filePath(QStringLiteral("root")), "--generate", "--port", "0", "--log", log,
                         "--exit-on-stdin-close", "--refuse", "RETR:451:INIE91.CFG", "--delay", "100" }, &port));
    QByteArray banner;
    QVERIFY(QTest::qWaitFor([&] {
        banner += sim.readAllStandardError();
        return banner.contains("fault: refuse RETR INIE91.CFG with 451")
            && banner.contains("fault: delay every reply by 100 ms");
    }, 5000));
    RawFtpClient client;
    QCOMPARE(client.connectTo(port).code, 220);
    QVERIFY(client.login());
    std::unique_ptr<QTcpSocket> data = client.openPassive();
    QVERIFY(data);
    QCOMPARE(client.command("RETR INIE91.CFG").code, 451);
    QCOMPARE(client.command("CWD  ..").code, 250);
    QCOMPARE(client.command("QUIT").code, 221);
    sim.closeWriteChannel();
    QVERIFY(finish(sim));
    QCOMPARE(sim.exitCode(), 0);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1 USER root\n1 PASS +00417263850\n1 PASV\n1 RETR INIE91.CFG\n1 CWD  ..\n1 QUIT\n"));
}

void TestSimCommandLine::endsAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");    // lines each within standard output; empty: nothing there
    QTest::addColumn<QByteArray>("err");    // within standard error
    QByteArray options;
    for (const char *option : { "--root", "--port", "--generate", "--seed", "--files", "--big-file", "--settings",
                                "--log", "--refuse", "--drop-after", "--cut-after", "--silent", "--lie-size",
                                "--delay", "--rate", "--exit-on-stdin-close" })
        options += option + QByteArray("\n");
    QTest::newRow("--help") << QStringList{ "--help" } << 0 << options << QByteArray();
    QTest::newRow("a bad argument") << QStringList{ "--root", "/tmp", "--refuse", "RETR" } << 2 << QByteArray()
                                    << QByteArray("--refuse");
}

void TestSimCommandLine::endsAtOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QProcess sim;
    sim.setProcessEnvironment(m_environment);
    sim.start(QStringLiteral(R9_SIM_EXECUTABLE), arguments);
    QVERIFY(finish(sim));
    QCOMPARE(sim.exitCode(), exitCode);
    const QByteArray printed = sim.readAllStandardOutput();
    QVERIFY2(!out.isEmpty() || printed.isEmpty(), printed.constData());
    for (const QByteArray &line : out.split('\n'))
        QVERIFY2(printed.contains(line), line.constData());
    QVERIFY(sim.readAllStandardError().contains(err));
}

QTEST_GUILESS_MAIN(TestSimCommandLine)
#include "tst_simcommandline.moc"
