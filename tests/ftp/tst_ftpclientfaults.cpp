// The client against a scripted server that misbehaves on purpose.
#include "clientrecorder.h"
#include "ftpclient.h"
#include "scriptedftpserver.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestFtpClientFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void argumentsGoOutVerbatim();
    void lineBreaksInArgumentsAreRefused();
    void commandSequenceSendsTypeOnce();
    void passiveAddressOfTheServerIsIgnored();
    void dataEndAndFinalReplyInEitherOrder_data();
    void dataEndAndFinalReplyInEitherOrder();
    void unknownSizeStillReportsFullCount_data();
    void unknownSizeStillReportsFullCount();
    void cutTransferFailsDespite226();
    void controlDroppedMidDownload();
    void dataClosedMidUpload();
    void silentServerTimesOut_data();
    void silentServerTimesOut();
    void badRepliesFailTheCommand_data();
    void badRepliesFailTheCommand();
    void queueOrderAndFailureRule();
    void commandsWhileUnconnected();
    void connectWhileConnectedStartsAnew();
    void abortSkipsTheInterruptedReply();
    void closeRightAfterAbortDoesNotWait();
    void localFileFailures_data();
    void localFileFailures();
    void connectionRefused();
    void nestedEventLoopsInSlots_data();
    void nestedEventLoopsInSlots();
    void confirmedDownloadSurvivesTheServerLeaving();
    void surplusReplyIsNotTakenForTheNextCommand();

private:
    void connectAndLogin(FtpClient &client);
    ScriptedFtpServer *m_server = nullptr;
};

namespace {

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace

void TestFtpClientFaults::init()
{
    m_server = new ScriptedFtpServer(this);
    QVERIFY(m_server->listen());
}

void TestFtpClientFaults::cleanup()
{
    delete m_server;
    m_server = nullptr;
}

void TestFtpClientFaults::connectAndLogin(FtpClient &client)
{
    client.connectToHost(QStringLiteral("127.0.0.1"), m_server->port());
    client.login(QStringLiteral("root"), QStringLiteral("+00417263850"));
}

void TestFtpClientFaults::argumentsGoOutVerbatim()
{
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.cd(QStringLiteral(" .."));
    client.mkdir(QStringLiteral("a b "));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.list(QStringLiteral(" x"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    const QList<QByteArray> expected { "USER root", "PASS +00417263850", "CWD  ..", "MKD a b ",
                                       "CWD DATA/IPA_BD1", "EPSV", "LIST  x" };
    QCOMPARE(m_server->received, expected);
}

void TestFtpClientFaults::lineBreaksInArgumentsAreRefused()
{
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int cd = client.cd(QStringLiteral("a\r\nDELE x"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(cd));
    for (const QByteArray &line : m_server->received)
        QVERIFY2(!line.contains("DELE"), line.constData());
}

void TestFtpClientFaults::commandSequenceSendsTypeOnce()
{
    m_server->files.insert("f", pattern(10));
    m_server->files.insert("g", pattern(20));
    QByteArray upload = pattern(30), first, second;
    QBuffer source(&upload), targetF(&first), targetG(&second);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.get(QStringLiteral("f"), &targetF);
    client.get(QStringLiteral("g"), &targetG);
    client.put(&source, QStringLiteral("h"));
    client.list();
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    const QList<QByteArray> expected { "USER root", "PASS +00417263850", "TYPE I", "SIZE f", "EPSV", "RETR f",
                                       "SIZE g", "EPSV", "RETR g", "EPSV", "STOR h", "EPSV", "LIST" };
    QCOMPARE(m_server->received, expected);
    QCOMPARE(first, pattern(10));
    QCOMPARE(second, pattern(20));
    QCOMPARE(m_server->files.value("h"), pattern(30));
}

void TestFtpClientFaults::passiveAddressOfTheServerIsIgnored()
{
    // The reply names 10.1.2.3; the data listener is on 127.0.0.1 only, so
    // the transfer works only if the client stays with the control peer.
    m_server->refuseExtendedPassive = true;
    m_server->passiveAddress = "10,1,2,3";
    m_server->files.insert("f", pattern(5000));
    QByteArray first, second;
    QBuffer targetF(&first), targetG(&second);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.get(QStringLiteral("f"), &targetF);
    client.get(QStringLiteral("f"), &targetG);
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(first, pattern(5000));
    QCOMPARE(second, pattern(5000));
    QCOMPARE(m_server->dataConnectionCount, 2);
    // EPSV refused once: PASV from then on.
    QCOMPARE(m_server->received.count("EPSV"), 1);
    QCOMPARE(m_server->received.count("PASV"), 2);
}

void TestFtpClientFaults::dataEndAndFinalReplyInEitherOrder_data()
{
    QTest::addColumn<bool>("replyFirst");
    QTest::newRow("226 before the data end") << true;
    QTest::newRow("data end before 226") << false;
}

void TestFtpClientFaults::dataEndAndFinalReplyInEitherOrder()
{
    QFETCH(bool, replyFirst);
    const QByteArray content = pattern(3 * 1024 * 1024 + 5);
    m_server->files.insert("f", content);
    bool replySent = false;
    bool dataClosed = false;
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            data->write(content.left(1000));
            if (replyFirst) {
                m_server->reply("226 Done");
                replySent = true;
                QTimer::singleShot(100, data, [&, data] {
                    data->write(content.mid(1000));
                    data->disconnectFromHost();
                    dataClosed = true;
                });
            } else {
                data->write(content.mid(1000));
                connect(data, &QTcpSocket::disconnected, m_server, [&] {
                    dataClosed = true;
                    QTimer::singleShot(100, m_server, [&] {
                        m_server->reply("226 Done");
                        replySent = true;
                    });
                });
                data->disconnectFromHost();
            }
        });
    });

    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    bool bothSeenAtFinish = false;
    connect(&client, &FtpClient::commandFinished, this, [&] {
        if (client.currentCommand() == FtpClient::Get)
            bothSeenAtFinish = replySent && dataClosed;
    });
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QVERIFY(bothSeenAtFinish);
    QCOMPARE(downloaded.size(), content.size());
    QVERIFY(downloaded == content);
    const auto progress = recorder.progressOf(get);
    QCOMPARE(progress.last(), qMakePair(qint64(content.size()), qint64(content.size())));
    // Cheap: far fewer reports than chunks of data.
    QVERIFY2(progress.size() <= 20, QByteArray::number(progress.size()).constData());
}

void TestFtpClientFaults::unknownSizeStillReportsFullCount_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty file") << 0;
    QTest::newRow("small file") << 777;
}

void TestFtpClientFaults::unknownSizeStillReportsFullCount()
{
    QFETCH(int, size);
    m_server->files.insert("f", pattern(size));
    m_server->on("SIZE", [&](const QByteArray &) { m_server->reply("502 SIZE not implemented"); });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(downloaded, pattern(size));
    const auto progress = recorder.progressOf(get);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last(), qMakePair(qint64(size), qint64(size)));
}

void TestFtpClientFaults::cutTransferFailsDespite226()
{
    m_server->files.insert("f", pattern(1000));
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->sendData(pattern(400), [&] { m_server->reply("226 Transfer complete"); });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    const int dropped = client.cd(QStringLiteral("NEXT"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(get));
    QVERIFY(!recorder.startedIds().contains(dropped));
    QCOMPARE(client.errorString(), QStringLiteral("Downloading file f failed:\nConnection closed after 400 of 1000 bytes"));
    for (const auto &report : recorder.progressOf(get))
        QVERIFY(report.first != 1000);

    // The late 226 belongs to the failed download, not to the next command.
    recorder.clear();
    m_server->on("CWD", [&](const QByteArray &) { m_server->reply("550 No such folder"); });
    const int cd = client.cd(QStringLiteral("AFTER"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(cd));
    QVERIFY2(client.errorString().contains("550"), qPrintable(client.errorString()));
}

void TestFtpClientFaults::controlDroppedMidDownload()
{
    m_server->files.insert("f", pattern(100000));
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            data->write(pattern(1000));
            m_server->closeControl();
        });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(get));
    QCOMPARE(recorder.states().last(), int(FtpClient::Unconnected));
    QCOMPARE(client.state(), FtpClient::Unconnected);
    QCOMPARE(client.errorString(), QStringLiteral("Downloading file f failed:\nConnection closed"));
}

void TestFtpClientFaults::dataClosedMidUpload()
{
    m_server->on("STOR", [&](const QByteArray &) {
        m_server->reply("150 Ready");
        m_server->withDataConnection([&](QTcpSocket *data) {
            connect(data, &QTcpSocket::readyRead, m_server, [&, data] {
                if (data->state() != QAbstractSocket::ConnectedState)
                    return;
                data->readAll();
                data->abort();
                m_server->reply("426 Connection closed; transfer aborted");
            });
        });
    });
    QByteArray upload = pattern(8 * 1024 * 1024);
    QBuffer source(&upload);
    FtpClient client;
    client.setIdleTimeout(5000);
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int put = client.put(&source, QStringLiteral("h"));
    const int dropped = client.cd(QStringLiteral("X"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(put));
    QVERIFY(!recorder.startedIds().contains(dropped));
    QVERIFY2(client.errorString().startsWith("Uploading file h failed:\n"), qPrintable(client.errorString()));
    for (const auto &report : recorder.progressOf(put))
        QVERIFY(report.first < upload.size());

    // The connection stays in step for the next command.
    recorder.clear();
    const int cd = client.cd(QStringLiteral("NEXT"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.finishedWithError(cd), qPrintable(client.errorString()));
}

void TestFtpClientFaults::silentServerTimesOut_data()
{
    QTest::addColumn<QByteArray>("silentVerb");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<bool>("expectFailure");
    QTest::newRow("no greeting") << QByteArray("")
                                 << "Connecting to host failed:\nThe server did not answer within 300 ms" << true;
    QTest::newRow("no answer to CWD") << QByteArray("CWD")
                                      << "Changing directory failed:\nThe server did not answer within 300 ms" << true;
    QTest::newRow("stalled transfer") << QByteArray("RETR")
                                      << "Downloading file f failed:\nThe server did not answer within 300 ms" << true;
    QTest::newRow("no data connection") << QByteArray("EPSV")
                                        << "Downloading file f failed:\nThe server did not answer within 300 ms" << true;
    QTest::newRow("no answer to QUIT") << QByteArray("QUIT") << "" << false;
}

void TestFtpClientFaults::silentServerTimesOut()
{
    QFETCH(QByteArray, silentVerb);
    QFETCH(QString, expectedError);
    QFETCH(bool, expectFailure);
    m_server->files.insert("f", pattern(100));
    QTcpServer deaf; // accepts data connections, never serves them
    if (silentVerb.isEmpty()) {
        m_server->greeting.clear();
    } else if (silentVerb == "RETR") {
        m_server->on("RETR", [&](const QByteArray &) {
            m_server->reply("150 Sending");
            m_server->withDataConnection([](QTcpSocket *data) { data->write("only this"); });
        });
    } else if (silentVerb == "EPSV") {
        QVERIFY(deaf.listen(QHostAddress::LocalHost, 0));
        m_server->on("EPSV", [&](const QByteArray &) {
            m_server->reply("229 ok (|||" + QByteArray::number(deaf.serverPort()) + "|)");
        });
        m_server->on("RETR", [](const QByteArray &) {});
    } else {
        m_server->on(silentVerb, [](const QByteArray &) {});
    }

    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    client.setConnectTimeout(300);
    client.setIdleTimeout(300);
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    if (silentVerb == "CWD")
        client.cd(QStringLiteral("DATA"));
    else if (silentVerb == "QUIT")
        client.close();
    else
        client.get(QStringLiteral("f"), &target);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(recorder.waitForDone(1, 10000));
    QCOMPARE(recorder.events.last().error, expectFailure);
    if (expectFailure)
        QCOMPARE(client.errorString(), expectedError);
    QCOMPARE(client.state(), FtpClient::Unconnected);
    QCOMPARE(recorder.states().last(), int(FtpClient::Unconnected));
}

void TestFtpClientFaults::badRepliesFailTheCommand_data()
{
    QTest::addColumn<QByteArray>("verb");   // answered with `reply`; empty: the greeting
    QTest::addColumn<QByteArray>("reply");  // sent as is
    QTest::addColumn<QString>("heading");

    QTest::newRow("garbage greeting") << QByteArray() << QByteArray("hello there\r\n") << "Connecting to host failed:\n";
    QTest::newRow("refusing greeting") << QByteArray() << QByteArray("421 Too many users\r\n")
                                       << "Connecting to host failed:\n421 Too";
    QTest::newRow("garbage to CWD") << QByteArray("CWD") << QByteArray("<html>\r\n") << "Changing directory failed:\n";
    QTest::newRow("1xx to CWD") << QByteArray("CWD") << QByteArray("150 what\r\n") << "Changing directory failed:\n";
    QTest::newRow("3xx to CWD") << QByteArray("CWD") << QByteArray("350 what\r\n") << "Changing directory failed:\n";
    QTest::newRow("code 600") << QByteArray("CWD") << QByteArray("600 what\r\n") << "Changing directory failed:\n";
    QTest::newRow("endless line") << QByteArray("CWD") << QByteArray(200 * 1024, 'x') << "Changing directory failed:\n";
    QTest::newRow("long line") << QByteArray("CWD") << "250 " + QByteArray(20000, 'y') + "\r\n"
                               << "Changing directory failed:\n";
    QByteArray endless = "250-start\r\n";
    while (endless.size() < 200 * 1024)
        endless += "more text\r\n";
    QTest::newRow("endless multi-line reply") << QByteArray("CWD") << endless << "Changing directory failed:\n";
    QTest::newRow("PASV without numbers") << QByteArray("EPSV") << QByteArray("229 no port here\r\n")
                                          << "Listing directory failed:\n";
}

void TestFtpClientFaults::badRepliesFailTheCommand()
{
    QFETCH(QByteArray, verb);
    QFETCH(QByteArray, reply);
    QFETCH(QString, heading);
    if (verb.isEmpty())
        m_server->greeting = reply.chopped(2);
    else
        m_server->on(verb, [&](const QByteArray &) { m_server->writeRaw(reply); });

    FtpClient client;
    client.setIdleTimeout(5000);
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.cd(QStringLiteral("DATA"));
    client.list();
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.events.last().error);
    QVERIFY2(client.errorString().startsWith(heading), qPrintable(client.errorString()));
    QVERIFY(client.errorString().size() > heading.size());
    QVERIFY(client.errorString().size() < 1000);
    QCOMPARE(client.state(), FtpClient::Unconnected);
}

void TestFtpClientFaults::queueOrderAndFailureRule()
{
    m_server->listing = { "total 3", "-rw-r--r-- 1 root root 12 Mar 12 13:06 A.BIN",
                          "not a listing line", "drwxr-xr-x 2 root root 0 Mar 12 13:06 SUB" };
    m_server->on("CWD", [&](const QByteArray &argument) {
        m_server->reply(argument == "BAD" ? "550 BAD: no such folder" : "250 OK");
    });
    QByteArray sink;
    QBuffer target(&sink);
    FtpClient client;
    ClientRecorder recorder(&client);
    const QList<int> ids { client.connectToHost(QStringLiteral("127.0.0.1"), m_server->port()),
                           client.login(QStringLiteral("root"), QStringLiteral("pw")),
                           client.cd(QStringLiteral("GOOD")),
                           client.list(),
                           client.cd(QStringLiteral("BAD")) };
    const int mkdir = client.mkdir(QStringLiteral("M"));
    const int get = client.get(QStringLiteral("A.BIN"), &target);
    QCOMPARE(mkdir, ids.last() + 1);
    QVERIFY(recorder.events.isEmpty()); // nothing runs inside the calls

    QVERIFY(recorder.waitForDone());
    QCOMPARE(recorder.startedIds(), ids);
    QCOMPARE(recorder.finishedIds(), ids);
    for (int id : ids)
        QCOMPARE(recorder.finishedWithError(id), id == ids.last());
    QCOMPARE(recorder.doneCount(), 1);
    QCOMPARE(recorder.events.last().type, ClientRecorder::Done);
    QVERIFY(recorder.events.last().error);
    QVERIFY(!recorder.startedIds().contains(mkdir) && !recorder.startedIds().contains(get));
    QCOMPARE(client.errorString(), QStringLiteral("Changing directory failed:\n550 BAD: no such folder"));
    QCOMPARE(recorder.entryNames(), (QStringList{ "A.BIN", "SUB" }));
    QVERIFY(!m_server->receivedVerbs().contains("MKD"));

    const QList<FtpClient::Command> commands { FtpClient::ConnectToHost, FtpClient::Login, FtpClient::Cd,
                                               FtpClient::List, FtpClient::Cd };
    int running = -1;
    for (const ClientRecorder::Event &e : recorder.events) {
        if (e.type == ClientRecorder::Started) {
            QCOMPARE(running, -1);
            running = int(ids.indexOf(e.id));
        }
        if (e.type == ClientRecorder::Done) {
            QCOMPARE(running, -1);
            QCOMPARE(e.currentCommand, FtpClient::None);
            QCOMPARE(e.currentId, 0);
            continue;
        }
        if (e.type == ClientRecorder::State && running < 0)
            continue;
        QVERIFY(running >= 0);
        QCOMPARE(e.currentId, ids[running]);
        QCOMPARE(e.currentCommand, commands[running]);
        if (e.type == ClientRecorder::Finished)
            running = -1;
    }
}

void TestFtpClientFaults::commandsWhileUnconnected()
{
    FtpClient client;
    ClientRecorder recorder(&client);
    const int close = client.close();
    QVERIFY(recorder.waitForDone());
    QVERIFY(!recorder.events.last().error);
    QVERIFY(!recorder.finishedWithError(close));

    recorder.clear();
    const int cd = client.cd(QStringLiteral("DATA"));
    const int list = client.list();
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(cd));
    QVERIFY(!recorder.startedIds().contains(list));
    QCOMPARE(client.error(), FtpClient::NotConnected);
    QCOMPARE(client.errorString(), QStringLiteral("Changing directory failed:\nNot connected"));
    QVERIFY(recorder.states().isEmpty());
    QCOMPARE(m_server->connectionCount, 0);
}

void TestFtpClientFaults::connectWhileConnectedStartsAnew()
{
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    connectAndLogin(client);
    client.cd(QStringLiteral("X"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(m_server->connectionCount, 2);
    const QList<int> once { FtpClient::HostLookup, FtpClient::Connecting, FtpClient::Connected, FtpClient::LoggedIn };
    QCOMPARE(recorder.states(), once + once);
}

void TestFtpClientFaults::abortSkipsTheInterruptedReply()
{
    m_server->files.insert("f", pattern(100000));
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            data->write(pattern(1000));
            connect(data, &QTcpSocket::disconnected, m_server, [&] { m_server->reply("426 Transfer aborted"); });
        });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    const int dropped = client.list();
    connect(&client, &FtpClient::dataTransferProgress, &client, &FtpClient::abort);
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(get));
    QVERIFY(!recorder.startedIds().contains(dropped));
    QCOMPARE(client.errorString(), QStringLiteral("Downloading file f failed:\nAborted"));
    QCOMPARE(client.state(), FtpClient::LoggedIn);

    recorder.clear();
    const int cd = client.cd(QStringLiteral("NEXT"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.finishedWithError(cd), qPrintable(client.errorString()));
    QCOMPARE(m_server->received.last(), QByteArray("CWD NEXT"));
}

void TestFtpClientFaults::closeRightAfterAbortDoesNotWait()
{
    // The server never answers the interrupted RETR: a close must not wait
    // for that answer.
    m_server->files.insert("f", pattern(100000));
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) { data->write(pattern(1000)); });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    client.setIdleTimeout(20000);
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.get(QStringLiteral("f"), &target);
    connect(&client, &FtpClient::dataTransferProgress, &client, &FtpClient::abort);
    QVERIFY(recorder.waitForDone());
    recorder.clear();
    const int close = client.close();
    QVERIFY(recorder.waitForDone(1, 10000));
    QVERIFY(!recorder.finishedWithError(close));
    QCOMPARE(client.state(), FtpClient::Unconnected);
    QCOMPARE(m_server->received.last(), QByteArray("QUIT"));
}

void TestFtpClientFaults::localFileFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QByteArray>("neverSent");
    QTest::newRow("get into an unwritable path") << "get-missing-folder"
                                                 << "Downloading file f failed:\nCannot open the local file for writing"
                                                 << QByteArray("RETR");
    QTest::newRow("put from a missing file") << "put-missing-file"
                                             << "Uploading file f failed:\nCannot open the local file for reading"
                                             << QByteArray("STOR");
    QTest::newRow("get without a device") << "get-null" << "Downloading file f failed:\nNo local file given"
                                          << QByteArray("RETR");
    QTest::newRow("get into a closed read-only device") << "get-readonly"
                                                        << "Downloading file f failed:\nThe local file is not open for writing"
                                                        << QByteArray("RETR");
    QTest::newRow("get onto a full disk") << "get-full" << "Downloading file f failed:\nWriting the local file failed"
                                          << QByteArray();
}

void TestFtpClientFaults::localFileFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, heading);
    QFETCH(QByteArray, neverSent);
    m_server->files.insert("f", pattern(300000));
    QTemporaryDir local;
    QFile missingFolder(local.path() + "/no/such/folder/f");
    QFile missingFile(local.path() + "/missing");
    QFile full(QStringLiteral("/dev/full"));
    QByteArray bytes;
    QBuffer readOnly(&bytes);
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    if (kind == "get-full" && !QFile::exists(full.fileName()))
        QSKIP("/dev/full is not available");

    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    int id = 0;
    if (kind == "get-missing-folder")
        id = client.get(QStringLiteral("f"), &missingFolder);
    else if (kind == "put-missing-file")
        id = client.put(&missingFile, QStringLiteral("f"));
    else if (kind == "get-null")
        id = client.get(QStringLiteral("f"), nullptr);
    else if (kind == "get-readonly")
        id = client.get(QStringLiteral("f"), &readOnly);
    else
        id = client.get(QStringLiteral("f"), &full);
    const int dropped = client.cd(QStringLiteral("X"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(id));
    QVERIFY(!recorder.startedIds().contains(dropped));
    QVERIFY2(client.errorString().startsWith(heading), qPrintable(client.errorString()));
    if (!neverSent.isEmpty())
        QVERIFY(!m_server->receivedVerbs().contains(neverSent));
    QCOMPARE(client.state(), FtpClient::LoggedIn);
}

void TestFtpClientFaults::connectionRefused()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    FtpClient client;
    ClientRecorder recorder(&client);
    const int connect = client.connectToHost(QStringLiteral("127.0.0.1"), port);
    const int login = client.login();
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(connect));
    QVERIFY(!recorder.startedIds().contains(login));
    QCOMPARE(client.error(), FtpClient::ConnectionRefused);
    QCOMPARE(client.errorString(), QStringLiteral("Connecting to host failed:\nConnection refused to host 127.0.0.1"));
    QCOMPARE(recorder.states(), (QList<int>{ FtpClient::HostLookup, FtpClient::Connecting, FtpClient::Unconnected }));
}

void TestFtpClientFaults::nestedEventLoopsInSlots_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("dataTransferProgress") << QByteArray("dataTransferProgress");
    QTest::newRow("stateChanged") << QByteArray("stateChanged");
    QTest::newRow("commandFinished") << QByteArray("commandFinished");
}

void TestFtpClientFaults::nestedEventLoopsInSlots()
{
    // A slot may run a nested event loop (a modal message box) while the
    // server drops the connection in the middle of a download: the download
    // still fails once, cleanly, whichever signal the slot is on (and the
    // address sanitizer watches the sockets dropped meanwhile).
    QFETCH(QByteArray, signal);
    m_server->files.insert("f", pattern(400000));
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            data->write(pattern(100000));
            QTimer::singleShot(10, m_server, [&] { m_server->closeControl(); });
        });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    int nested = 0;
    const auto runNestedLoop = [&] {
        ++nested;
        QEventLoop loop;
        QTimer::singleShot(40, &loop, &QEventLoop::quit);
        loop.exec();
    };
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    connect(&client, &FtpClient::commandStarted, this, [&](int id) {
        if (id != get)
            return;
        if (signal == "commandFinished")
            connect(&client, &FtpClient::commandFinished, this, runNestedLoop);
        else if (signal == "stateChanged")
            connect(&client, &FtpClient::stateChanged, this, runNestedLoop);
        else
            connect(&client, &FtpClient::dataTransferProgress, this, runNestedLoop);
    });
    QVERIFY(recorder.waitForDone());
    QVERIFY(nested > 0);
    QVERIFY(recorder.finishedWithError(get));
    QCOMPARE(client.errorString(), QStringLiteral("Downloading file f failed:\nConnection closed"));
    QCOMPARE(client.state(), FtpClient::Unconnected);
}

void TestFtpClientFaults::confirmedDownloadSurvivesTheServerLeaving()
{
    // 226 has come, then the server closes the control connection while the
    // last data is still on its way: the download is complete all the same.
    const QByteArray content = pattern(2 * 1024 * 1024);
    m_server->files.insert("f", content);
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            data->write(content.left(1000));
            m_server->reply("226 Done");
            m_server->closeControl();
            QTimer::singleShot(50, data, [&, data] {
                data->write(content.mid(1000));
                data->disconnectFromHost();
            });
        });
    });
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target);
    const int cd = client.cd(QStringLiteral("X"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.finishedWithError(get), qPrintable(client.errorString()));
    QVERIFY(downloaded == content);
    QCOMPARE(recorder.progressOf(get).last(), qMakePair(qint64(content.size()), qint64(content.size())));
    QVERIFY(recorder.finishedWithError(cd));
    QCOMPARE(client.errorString(), QStringLiteral("Changing directory failed:\nNot connected"));
}

void TestFtpClientFaults::surplusReplyIsNotTakenForTheNextCommand()
{
    // One reply too many, read together with the right one: the next command
    // must wait for its own reply instead of taking the surplus for it.
    m_server->on("CWD", [&](const QByteArray &) { m_server->writeRaw("250 Changed\r\n550 Surplus\r\n"); });
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.cd(QStringLiteral("DATA"));
    client.cd(QStringLiteral(" .."));
    client.mkdir(QStringLiteral("X"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    const QList<QByteArray> expected { "USER root", "PASS +00417263850", "CWD DATA", "CWD  ..", "MKD X" };
    QCOMPARE(m_server->received, expected);
}

QTEST_GUILESS_MAIN(TestFtpClientFaults)
#include "tst_ftpclientfaults.moc"
