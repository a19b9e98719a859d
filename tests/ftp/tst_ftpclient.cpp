// The client against a third-party FTP server: Debian's pyftpdlib, with
// EPSV and with PASV only.
#include "clientrecorder.h"
#include "ftpclient.h"
#include "pyftpdlibserver.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestFtpClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void roundTripIsByteExact_data();
    void roundTripIsByteExact();
    void failureDropsTheRest_data();
    void failureDropsTheRest();

private:
    void connectAndLogin(FtpClient &client);
    // Checks that each command's signals lie between its start and finish,
    // that currentId()/currentCommand() named it there, and that done()
    // comes last.
    void verifySignalOrder(const ClientRecorder &recorder, const QList<int> &ids,
                           const QList<FtpClient::Command> &commands);

    std::unique_ptr<PyftpdlibServer> m_server;
    std::unique_ptr<QTemporaryDir> m_root;
};

void TestFtpClient::initTestCase_data()
{
    QTest::addColumn<bool>("passiveOnly");
    QTest::newRow("pyftpdlib") << false;
    QTest::newRow("pyftpdlib, PASV only") << true;
}

void TestFtpClient::init()
{
    QFETCH_GLOBAL(bool, passiveOnly);
    QString why;
    QVERIFY2(PyftpdlibServer::isAvailable(&why), qPrintable(why));
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_server = std::make_unique<PyftpdlibServer>();
    m_server->setExtendedPassiveRefused(passiveOnly);
    QVERIFY2(m_server->start(m_root->path()), qPrintable(m_server->errorString()));
}

void TestFtpClient::cleanup()
{
    m_server.reset();
    m_root.reset();
}

void TestFtpClient::connectAndLogin(FtpClient &client)
{
    client.connectToHost(QStringLiteral("127.0.0.1"), m_server->port());
    client.login(m_server->userName(), m_server->password());
}

void TestFtpClient::verifySignalOrder(const ClientRecorder &recorder, const QList<int> &ids,
                                      const QList<FtpClient::Command> &commands)
{
    QCOMPARE(recorder.startedIds(), ids);
    QCOMPARE(recorder.finishedIds(), ids);
    QCOMPARE(recorder.doneCount(), 1);
    QCOMPARE(recorder.events.last().type, ClientRecorder::Done);
    QCOMPARE(recorder.events.last().currentCommand, FtpClient::None);
    int running = -1;
    for (const ClientRecorder::Event &e : recorder.events) {
        switch (e.type) {
        case ClientRecorder::Started:
            QCOMPARE(running, -1);
            running = int(ids.indexOf(e.id));
            QCOMPARE(e.currentId, e.id);
            QCOMPARE(e.currentCommand, commands.at(running));
            break;
        case ClientRecorder::Finished:
            QCOMPARE(int(ids.indexOf(e.id)), running);
            QCOMPARE(e.currentId, e.id);
            QCOMPARE(e.currentCommand, commands.at(running));
            running = -1;
            break;
        case ClientRecorder::Progress:
        case ClientRecorder::Entry:
            QVERIFY2(running >= 0, "data reported outside a command");
            QCOMPARE(e.currentId, ids.at(running));
            QCOMPARE(e.currentCommand, commands.at(running));
            break;
        case ClientRecorder::Done:
            QCOMPARE(running, -1);
            break;
        case ClientRecorder::State:
            break;
        }
    }
}

void TestFtpClient::roundTripIsByteExact_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("one byte") << qint64(1);
    QTest::newRow("CR LF") << qint64(2);
    QTest::newRow("64 KiB + 7") << qint64(64 * 1024 + 7);
    QTest::newRow("3 MiB + 1") << qint64(3 * 1024 * 1024 + 1);
}

void TestFtpClient::roundTripIsByteExact()
{
    QFETCH(qint64, size);
    // Files are handed over closed, as the tool does; the client opens them
    // when their command starts, and leaves them open for the caller.
    QTemporaryDir local;
    const QByteArray original = size == 2 ? QByteArray("\r\n") : randomBytes(size, quint32(size));
    writeFile(local.filePath("up.bin"), original);
    QFile source(local.filePath("up.bin"));
    QFile target(local.filePath("down.bin"));

    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int put = client.put(&source, QStringLiteral("ROUND.BIN"));
    const int get = client.get(QStringLiteral("ROUND.BIN"), &target);
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(source.openMode(), QIODevice::ReadOnly);
    QCOMPARE(target.openMode(), QIODevice::WriteOnly);
    target.close();

    QVERIFY(readFile(m_root->path() + "/ROUND.BIN") == original);
    QVERIFY(readFile(target.fileName()) == original);
    for (int id : { put, get }) {
        const auto progress = recorder.progressOf(id);
        QVERIFY2(!progress.isEmpty(), "a transfer reported no progress");
        QCOMPARE(progress.last(), qMakePair(size, size));
        for (int i = 1; i < progress.size(); ++i)
            QVERIFY(progress[i].first >= progress[i - 1].first);
    }
}

void TestFtpClient::failureDropsTheRest_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<int>("state");
    QTest::newRow("folder change") << "cd" << "Changing directory failed:\n5" << int(FtpClient::LoggedIn);
    QTest::newRow("download of a missing file") << "get" << "Downloading file NOPE.BIN failed:\n5"
                                                << int(FtpClient::LoggedIn);
    QTest::newRow("login") << "login" << "Login failed:\n5" << int(FtpClient::Connected);
}

void TestFtpClient::failureDropsTheRest()
{
    QFETCH(QString, failing);
    QFETCH(QString, heading);
    QFETCH(int, state);
    QByteArray sink;
    QBuffer target(&sink), other(&sink);
    FtpClient client;
    ClientRecorder recorder(&client);
    client.connectToHost(QStringLiteral("127.0.0.1"), m_server->port());
    int failed = client.login(m_server->userName(), failing == "login" ? QStringLiteral("wrong") : m_server->password());
    if (failing == "cd")
        failed = client.cd(QStringLiteral("MISSING"));
    else if (failing == "get")
        failed = client.get(QStringLiteral("NOPE.BIN"), &target);
    const QList<int> dropped { client.list(), client.get(QStringLiteral("X"), &other),
                               client.mkdir(QStringLiteral("NOT_MADE")) };
    QVERIFY(recorder.waitForDone(1, 60000));

    QVERIFY(recorder.events.last().error);
    QVERIFY(recorder.finishedWithError(failed));
    QCOMPARE(recorder.finishedIds().last(), failed);
    for (int id : dropped)
        QVERIFY(!recorder.startedIds().contains(id));
    QCOMPARE(recorder.doneCount(), 1);
    QVERIFY2(client.errorString().startsWith(heading), qPrintable(client.errorString()));
    QCOMPARE(client.error(), FtpClient::UnknownError);
    QVERIFY(!other.isOpen());
    QVERIFY(!QFileInfo::exists(m_root->path() + "/NOT_MADE"));
    QVERIFY(!client.hasPendingCommands());
    QCOMPARE(int(client.state()), state);
    if (state != FtpClient::LoggedIn)
        return;

    // The connection is still there for the next batch.
    recorder.clear();
    client.mkdir(QStringLiteral("DATA"));
    client.mkdir(QStringLiteral("DATA/IPA_BD1"));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QVERIFY(QFileInfo(m_root->path() + "/DATA/IPA_BD1").isDir());
}

QTEST_GUILESS_MAIN(TestFtpClient)
#include "tst_ftpclient.moc"
