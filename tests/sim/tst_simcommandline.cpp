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

    void servesUntilStopped_data();
    void servesUntilStopped();

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

QTEST_GUILESS_MAIN(TestSimCommandLine)
#include "tst_simcommandline.moc"
