// An off-the-shelf FTP client (curl) against the stand-in: what it
// transfers must match byte for byte.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct ToolRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QString describe(const ToolRun &run)
{
    return QStringLiteral("finished %1, exit %2, stderr: %3")
        .arg(run.finished).arg(run.exitCode).arg(QString::fromUtf8(run.err.left(2000)));
}

} // namespace

class TestThirdPartyClients : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void curlTransfersAreByteExact_data();
    void curlTransfersAreByteExact();
    void curlCreatesFolders();

private:
    ToolRun run(const QString &program, const QStringList &arguments, int timeoutMs = 40000);
    ToolRun curl(const QStringList &arguments);
    QString url(const QString &path, const QString &password = QStringLiteral("%2B00417263850")) const;

    InstrumentTree m_tree;
    InstrumentServer m_server;
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
};

void TestThirdPartyClients::initTestCase()
{
    QVERIFY(m_tree.isValid());
    QVERIFY(m_home.isValid());
    m_server.setRootPath(m_tree.root());
    QVERIFY2(m_server.listen(0), qPrintable(m_server.errorString()));
    // No user configuration and no proxy: the clients talk to 127.0.0.1 only.
    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY", "http_proxy", "https_proxy",
                              "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY" })
        m_environment.remove(QString::fromLatin1(name));
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
    m_environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
}

void TestThirdPartyClients::init()
{
    m_server.clearFaults();
    m_server.clearCommandLog();
}

ToolRun TestThirdPartyClients::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ToolRun result;
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.setWorkingDirectory(m_home.path());
    process.start(program, arguments);
    // The server runs in this thread: keep the event loop turning.
    result.finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!result.finished) {
        process.kill();
        [[maybe_unused]] const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString TestThirdPartyClients::url(const QString &path, const QString &password) const
{
    // One multi-arg call: the escaped password itself contains "%2".
    return QStringLiteral("ftp://root:%1@127.0.0.1:%2/%3").arg(password, QString::number(m_server.serverPort()), path);
}

ToolRun TestThirdPartyClients::curl(const QStringList &arguments)
{
#ifndef R9_CURL
    QTest::qSkip("curl is not installed", __FILE__, __LINE__);
    return {};
#else
    return run(QStringLiteral(R9_CURL), QStringList{ "-q", "--silent", "--show-error", "--noproxy", "*",
                                                     "--max-time", "20", "--connect-timeout", "5" } + arguments);
#endif
}

void TestThirdPartyClients::curlTransfersAreByteExact_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("download, binary with CR LF NUL") << false << "DATA/IPA_BD1/CURL1.DAT" << randomBytes(123457, 71);
    QTest::newRow("download, empty") << false << "TEXT/CURL2.TXT" << QByteArray();
    QTest::newRow("download, several MiB") << false << "FONTS/CURL3.FNT" << randomBytes(7 * 1024 * 1024 + 1, 72);
    QTest::newRow("upload, binary with CR LF NUL") << true << "DATA/IPS_BD1/UP1.DAT" << randomBytes(99999, 81);
    QTest::newRow("upload, empty, top folder") << true << "UP2.BIN" << QByteArray();
    QTest::newRow("upload, several MiB") << true << "FONTS/UP3.FNT" << randomBytes(6 * 1024 * 1024 + 5, 82);
}

void TestThirdPartyClients::curlTransfersAreByteExact()
{
    QFETCH(bool, upload);
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    const QString local = m_home.filePath(QStringLiteral("transfer.bin"));
    writeFile(upload ? local : m_tree.path(path), content);
    QFile::remove(upload ? m_tree.path(path) : local);
    const ToolRun transfer = curl({ upload ? QStringLiteral("-T") : QStringLiteral("-o"), local, url(path) });
    QVERIFY2(transfer.exitCode == 0, qPrintable(describe(transfer)));
    const QByteArray arrived = readFile(upload ? m_tree.path(path) : local);
    QCOMPARE(arrived.size(), content.size());
    QVERIFY(arrived == content);
    if (upload)
        QVERIFY(m_server.commandLines().contains(QStringLiteral("STOR ") + path.section(QLatin1Char('/'), -1)));
}

void TestThirdPartyClients::curlCreatesFolders()
{
    const QString source = m_home.filePath(QStringLiteral("small.bin"));
    writeFile(source, "R9");
    const ToolRun upload = curl({ QStringLiteral("--ftp-create-dirs"), QStringLiteral("-T"), source,
                                  url(QStringLiteral("NEWTOP/SMALL.BIN")) });
    QVERIFY2(upload.exitCode == 0, qPrintable(describe(upload)));
    QCOMPARE(m_tree.content(QStringLiteral("NEWTOP/SMALL.BIN")), QByteArray("R9"));

    // curl makes the second level from inside the first; the instrument
    // reads every MKD from its top folder, so the folder appears there and
    // curl's next CWD fails (CURLE_REMOTE_ACCESS_DENIED).
    const ToolRun nested = curl({ QStringLiteral("--ftp-create-dirs"), QStringLiteral("-T"), source,
                                  url(QStringLiteral("NEWTOP/NEWSUB/SMALL.BIN")) });
    QCOMPARE(nested.exitCode, 9);
    QVERIFY(m_server.commandLines().contains(QStringLiteral("MKD NEWSUB")));
    QVERIFY(QFileInfo(m_tree.path(QStringLiteral("NEWSUB"))).isDir());
    QVERIFY(!QFileInfo::exists(m_tree.path(QStringLiteral("NEWTOP/NEWSUB"))));
}

QTEST_GUILESS_MAIN(TestThirdPartyClients)
#include "tst_thirdpartyclients.moc"
