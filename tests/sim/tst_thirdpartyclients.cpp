// Off-the-shelf FTP clients (curl, lftp) against the stand-in: what they
// parse and transfer must match the served folder byte for byte.

#include "instrumentserver.h"
#include "instrumenttree.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
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
    void lftpParsesTheListing();

private:
    ToolRun run(const QString &program, const QStringList &arguments, int timeoutMs = 40000);
    ToolRun curl(const QStringList &arguments);
    ToolRun lftp(const QString &script);
    QString url(const QString &path, const QString &password = QStringLiteral("%2B00417263850")) const;
    void checkListing(const QString &folder, const QString &listing, const QRegularExpression &line);

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

ToolRun TestThirdPartyClients::lftp(const QString &script)
{
#ifndef R9_LFTP
    Q_UNUSED(script);
    QTest::qSkip("lftp is not installed", __FILE__, __LINE__);
    return {};
#else
    const QString settings = QStringLiteral(
        "set net:max-retries 1; set net:timeout 10; set net:reconnect-interval-base 1; set cmd:fail-exit yes; "
        "set ftp:ssl-allow no; set ftp:passive-mode yes; set xfer:clobber yes; "
        "open -u root,+00417263850 -p %1 ftp://127.0.0.1; ").arg(m_server.serverPort());
    return run(QStringLiteral(R9_LFTP), { QStringLiteral("-c"), settings + script });
#endif
}

void TestThirdPartyClients::checkListing(const QString &folder, const QString &listing, const QRegularExpression &line)
{
    QMap<QString, qint64> listed;
    for (const QString &row : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(row.trimmed());
        QVERIFY2(match.hasMatch(), qPrintable(row));
        listed.insert(match.captured(QStringLiteral("name")).section(QLatin1Char('/'), -1),
                      match.captured(QStringLiteral("size")).toLongLong());
    }
    const QFileInfoList expected = QDir(m_tree.path(folder)).entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY(!expected.isEmpty());
    for (const QFileInfo &file : expected) {
        if (file.isSymLink())
            continue;
        QVERIFY2(listed.contains(file.fileName()), qPrintable(file.fileName()));
        QCOMPARE(listed.value(file.fileName()), file.size());
    }
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

void TestThirdPartyClients::lftpParsesTheListing()
{
    // "cls -l" prints what lftp understood of each LIST line, not the line.
    const ToolRun listing = lftp(QStringLiteral("cls -l DATA/IPA_BD1/ DATA/IPS_BD1/"));
    QVERIFY2(listing.exitCode == 0, qPrintable(describe(listing)));
    static const QRegularExpression line(QStringLiteral(
        "^-rw-r--r-- +\\d+ root +root +(?<size>\\d+) \\w{3} [ \\d]\\d +[\\d:]{4,5} (?<name>DATA/IPA_BD1/.+)$"));
    const QString out = QString::fromUtf8(listing.out);
    QString first, second;
    for (const QString &row : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        (row.contains(QLatin1String("IPA_BD1/")) ? first : second) += row + QLatin1Char('\n');
    checkListing(QStringLiteral("DATA/IPA_BD1"), first, line);
    static const QRegularExpression otherLine(QStringLiteral(
        "^-rw-r--r-- +\\d+ root +root +(?<size>\\d+) \\w{3} [ \\d]\\d +[\\d:]{4,5} (?<name>DATA/IPS_BD1/.+)$"));
    checkListing(QStringLiteral("DATA/IPS_BD1"), second, otherLine);
}

QTEST_GUILESS_MAIN(TestThirdPartyClients)
#include "tst_thirdpartyclients.moc"
