// The tool's own FTP client (ftp/) against the stand-in, with the command
// sequences the tool sends: the listing walk, a data backup, an update
// into an empty instrument, and the failures the tool must see.

#include "ftpclient.h"
#include "instrumentserver.h"
#include "instrumenttree.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Listed {
    QString name;
    qint64 size;
    bool isFile;
};

QStringList linesOf(const QStringList &log, const QStringList &verbs)
{
    QStringList kept;
    for (const QString &line : log) {
        if (verbs.contains(line.section(QLatin1Char(' '), 0, 0).toUpper()))
            kept << line;
    }
    return kept;
}

} // namespace

class TestProjectClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void listingWalk();
    void dataBackupSequence();
    void updateIntoAnEmptyInstrument();
    void refusedTransferFailsTheQueue();
    void existingFolderIsReportedAsFailure();
    void cutDownloadIsReported();
    void wrongListedSizeDoesNotChangeTheDownload();

private:
    void connectAndLogin(FtpClient &client, quint16 port);
    bool runQueue(FtpClient &client, bool *failed, int timeoutMs = 30000);

    InstrumentTree m_tree;
    InstrumentServer m_server;
};

void TestProjectClient::initTestCase()
{
    QVERIFY(m_tree.isValid());
    m_server.setRootPath(m_tree.root());
    QVERIFY2(m_server.listen(0), qPrintable(m_server.errorString()));
}

void TestProjectClient::init()
{
    m_server.clearFaults();
    m_server.clearCommandLog();
}

void TestProjectClient::connectAndLogin(FtpClient &client, quint16 port)
{
    client.setConnectTimeout(5000);
    client.setIdleTimeout(10000);
    client.connectToHost(QStringLiteral("127.0.0.1"), port);
    client.login(QString::fromLatin1(InstrumentServer::userName), QString::fromLatin1(InstrumentServer::password));
}

bool TestProjectClient::runQueue(FtpClient &client, bool *failed, int timeoutMs)
{
    QSignalSpy done(&client, &FtpClient::done);
    if (!done.wait(timeoutMs))
        return false;
    *failed = done.constFirst().at(0).toBool();
    return true;
}

void TestProjectClient::listingWalk()
{
    FtpClient client;
    QList<QPair<int, Listed>> entries;   // listing number, entry
    int listings = 0;
    connect(&client, &FtpClient::commandStarted, this, [&](int) {
        if (client.currentCommand() == FtpClient::List)
            ++listings;
    });
    connect(&client, &FtpClient::listInfo, this, [&](const UrlInfo &info) {
        entries.append({ listings, { info.name(), info.size(), info.isFile() } });
    });
    connectAndLogin(client, m_server.serverPort());
    const QStringList folders = { "DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS" };
    for (const QString &folder : folders) {
        client.cd(folder);
        client.list();
        client.cd(QStringLiteral(" .."));
    }
    client.list();
    bool failed = true;
    QVERIFY(runQueue(client, &failed));
    QVERIFY2(!failed, qPrintable(client.errorString()));

    QCOMPARE(linesOf(m_server.commandLines(), { "USER", "PASS", "CWD", "LIST" }),
             QStringList({ "USER root", "PASS +00417263850", "CWD DATA/IPA_BD1", "LIST", "CWD  ..",
                           "CWD DATA/IPS_BD1", "LIST", "CWD  ..", "CWD TEXT", "LIST", "CWD  ..", "CWD FONTS", "LIST",
                           "CWD  ..", "LIST" }));

    const QStringList listedFolders = folders + QStringList{ QString() };
    for (int i = 0; i < listedFolders.size(); ++i) {
        const QString folder = listedFolders.at(i);
        QMap<QString, Listed> seen;
        for (const auto &entry : entries) {
            if (entry.first == i + 1)
                seen.insert(entry.second.name, entry.second);
        }
        const QFileInfoList files = QDir(folder.isEmpty() ? m_tree.root() : m_tree.path(folder))
                                        .entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden);
        QVERIFY(!files.isEmpty());
        for (const QFileInfo &file : files) {
            QVERIFY2(seen.contains(file.fileName()), qPrintable(folder + QLatin1Char('/') + file.fileName()));
            QVERIFY(seen.value(file.fileName()).isFile);
            QCOMPARE(seen.value(file.fileName()).size, file.size());
        }
        if (folder.isEmpty()) {
            QVERIFY(seen.contains(QStringLiteral("DATA")));
            QVERIFY(!seen.value(QStringLiteral("DATA")).isFile);
        }
    }
}

void TestProjectClient::dataBackupSequence()
{
    FtpClient client;
    connectAndLogin(client, m_server.serverPort());
    QBuffer a, b, config;
    qint64 lastDone = -1, lastTotal = -1;
    connect(&client, &FtpClient::dataTransferProgress, this, [&](qint64 done, qint64 total) {
        lastDone = done;
        lastTotal = total;
    });
    client.cd(QStringLiteral(" .."));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.get(QStringLiteral("A.DAT"), &a);
    client.cd(QStringLiteral(" .."));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.get(QStringLiteral("B.DAT"), &b);
    client.cd(QStringLiteral(" .."));
    client.get(QStringLiteral("INIE91.CFG"), &config);
    bool failed = true;
    QVERIFY(runQueue(client, &failed));
    QVERIFY2(!failed, qPrintable(client.errorString()));
    QCOMPARE(a.data(), m_tree.content(QStringLiteral("DATA/IPA_BD1/A.DAT")));
    QCOMPARE(b.data(), m_tree.content(QStringLiteral("DATA/IPA_BD1/B.DAT")));
    QCOMPARE(config.data(), m_tree.content(QStringLiteral("INIE91.CFG")));
    QCOMPARE(lastDone, config.data().size());
    QVERIFY(m_server.commandLines().contains(QStringLiteral("TYPE I")));
    QCOMPARE(linesOf(m_server.commandLines(), { "RETR" }), QStringList({ "RETR A.DAT", "RETR B.DAT", "RETR INIE91.CFG" }));
    Q_UNUSED(lastTotal);
}

void TestProjectClient::updateIntoAnEmptyInstrument()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    InstrumentServer server;
    server.setRootPath(empty.path());
    QVERIFY(server.listen(0));

    const QByteArray data1 = InstrumentTree::binary(40000, 91);
    const QByteArray data2 = InstrumentTree::binary(0, 92);
    const QByteArray text = "0001=ZERO\r\n";
    const QByteArray font = InstrumentTree::binary(4096, 93);
    const QByteArray digit = InstrumentTree::binary(3 * 1024 * 1024, 94);
    QBuffer b1, b2, b3, b4, b5;
    b1.setData(data1);
    b2.setData(data2);
    b3.setData(text);
    b4.setData(font);
    b5.setData(digit);

    FtpClient client;
    connectAndLogin(client, server.serverPort());
    for (const char *folder : { "DATA", "DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS" })
        client.mkdir(QString::fromLatin1(folder));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.put(&b1, QStringLiteral("M0000001.DAT"));
    client.cd(QStringLiteral(" .."));
    client.cd(QStringLiteral("DATA/IPS_BD1"));
    client.put(&b2, QStringLiteral("M0000002.DAT"));
    client.cd(QStringLiteral(" .."));
    client.cd(QStringLiteral("TEXT"));
    client.put(&b3, QStringLiteral("LANG_EN.TXT"));
    client.cd(QStringLiteral(" .."));
    client.cd(QStringLiteral("FONTS"));
    client.put(&b4, QStringLiteral("F8X16.FNT"));
    client.cd(QStringLiteral(" .."));
    client.put(&b5, QStringLiteral("R9DIGIT"));
    client.cd(QStringLiteral(" .."));
    bool failed = true;
    QVERIFY(runQueue(client, &failed, 60000));
    QVERIFY2(!failed, qPrintable(client.errorString()));

    auto stored = [&](const QString &relative) {
        QFile file(empty.filePath(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    };
    QCOMPARE(stored(QStringLiteral("DATA/IPA_BD1/M0000001.DAT")), data1);
    QCOMPARE(stored(QStringLiteral("DATA/IPS_BD1/M0000002.DAT")), data2);
    QCOMPARE(stored(QStringLiteral("TEXT/LANG_EN.TXT")), text);
    QCOMPARE(stored(QStringLiteral("FONTS/F8X16.FNT")), font);
    QVERIFY(stored(QStringLiteral("R9DIGIT")) == digit);
    QCOMPARE(QDir(empty.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({ "DATA", "FONTS", "R9DIGIT", "TEXT" }));
}

void TestProjectClient::refusedTransferFailsTheQueue()
{
    m_server.refuseCommand(QStringLiteral("RETR"), 550, QStringLiteral("B.DAT"));
    FtpClient client;
    QList<QPair<int, bool>> finished;
    connect(&client, &FtpClient::commandFinished, this, [&](int id, bool error) { finished.append({ id, error }); });
    connectAndLogin(client, m_server.serverPort());
    QBuffer a, b, c;
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.get(QStringLiteral("A.DAT"), &a);
    const int refusedId = client.get(QStringLiteral("B.DAT"), &b);
    client.cd(QStringLiteral(" .."));
    client.get(QStringLiteral("INIE91.CFG"), &c);
    bool failed = false;
    QVERIFY(runQueue(client, &failed));
    QVERIFY(failed);
    QCOMPARE(finished.constLast(), qMakePair(refusedId, true));
    QVERIFY2(client.errorString().contains(QLatin1String("File unavailable")), qPrintable(client.errorString()));
    QCOMPARE(a.data(), m_tree.content(QStringLiteral("DATA/IPA_BD1/A.DAT")));
    // Nothing queued behind the failure reached the instrument.
    QVERIFY(!m_server.commandLines().contains(QStringLiteral("CWD  ..")));
    QVERIFY(!m_server.commandLines().contains(QStringLiteral("RETR INIE91.CFG")));
}

void TestProjectClient::existingFolderIsReportedAsFailure()
{
    FtpClient client;
    connectAndLogin(client, m_server.serverPort());
    client.mkdir(QStringLiteral("DATA"));
    bool failed = false;
    QVERIFY(runQueue(client, &failed));
    QVERIFY(failed);
    QVERIFY2(client.errorString().contains(QLatin1String("File exists")), qPrintable(client.errorString()));
}

void TestProjectClient::cutDownloadIsReported()
{
    m_server.cutTransferAfter(100, QStringLiteral("A.DAT"));
    FtpClient client;
    connectAndLogin(client, m_server.serverPort());
    QBuffer a;
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.get(QStringLiteral("A.DAT"), &a);
    bool failed = false;
    QVERIFY(runQueue(client, &failed));
    QVERIFY(failed);
    QVERIFY(a.data().size() <= 100);
}

void TestProjectClient::wrongListedSizeDoesNotChangeTheDownload()
{
    m_server.reportWrongSize(QStringLiteral("C.DAT"), 9999);
    FtpClient client;
    qint64 listedSize = -1;
    connect(&client, &FtpClient::listInfo, this, [&](const UrlInfo &info) {
        if (info.name() == QLatin1String("C.DAT"))
            listedSize = info.size();
    });
    connectAndLogin(client, m_server.serverPort());
    QBuffer c;
    client.cd(QStringLiteral("DATA/IPS_BD1"));
    client.list();
    client.get(QStringLiteral("C.DAT"), &c);
    bool failed = true;
    QVERIFY(runQueue(client, &failed));
    QVERIFY2(!failed, qPrintable(client.errorString()));
    QCOMPARE(listedSize, 9999);
    QCOMPARE(c.data(), m_tree.content(QStringLiteral("DATA/IPS_BD1/C.DAT")));
}

QTEST_GUILESS_MAIN(TestProjectClient)
#include "tst_projectclient.moc"
