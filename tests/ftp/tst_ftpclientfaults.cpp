// The client against a scripted server that misbehaves on purpose.
#include "clientrecorder.h"
#include "ftpclient.h"
#include "scriptedftpserver.h"
#include "testfiles.h"

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

class TestFtpClientFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandLinesGoOutVerbatim();
    void downloadEndings_data();
    void downloadEndings();
    void endlessListingIsCut_data();
    void endlessListingIsCut();
    void badRepliesFailTheCommand_data();
    void badRepliesFailTheCommand();
    void closeEndsUnconnected_data();
    void closeEndsUnconnected();
    void surplusReplyIsNotTakenForTheNextCommand();

private:
    void connectAndLogin(FtpClient &client);
    ScriptedFtpServer *m_server = nullptr;
};

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

void TestFtpClientFaults::commandLinesGoOutVerbatim()
{
    // A name is listed, requested and stored as the same bytes, one per
    // character, whatever they mean.
    const QByteArray latin1Name("\xC4RGER.TXT");
    m_server->files.insert("f", randomBytes(10, 1));
    m_server->files.insert(latin1Name, randomBytes(20, 2));
    m_server->on("LIST", [&](const QByteArray &) {
        m_server->reply("150 Here it comes");
        m_server->sendData("-rw-r--r-- 1 root root 20 Mar 12 13:06 " + latin1Name + "\r\n",
                           [&] { m_server->reply("226 \xC4 listed"); });
    });
    QByteArray upload = randomBytes(30, 3), first, second;
    QBuffer source(&upload), targetF(&first), targetG(&second);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.cd(QStringLiteral(" .."));
    client.mkdir(QStringLiteral("a b "));
    client.get(QStringLiteral("f"), &targetF);
    client.get(QString::fromLatin1(latin1Name), &targetG);
    client.put(&source, QString::fromLatin1(latin1Name));
    client.cd(QStringLiteral("DATA/IPA_BD1"));
    client.list(QStringLiteral(" x"));
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    // Blanks kept as given; TYPE I once, before the first transfer.
    const QList<QByteArray> expected { "USER root", "PASS +00417263850", "CWD  ..", "MKD a b ", "TYPE I",
                                       "SIZE f", "EPSV", "RETR f", "SIZE " + latin1Name, "EPSV", "RETR " + latin1Name,
                                       "EPSV", "STOR " + latin1Name,
                                       "CWD DATA/IPA_BD1", "EPSV", "LIST  x" };
    QCOMPARE(m_server->received, expected);
    QCOMPARE(first, randomBytes(10, 1));
    QCOMPARE(second, randomBytes(20, 2));
    QCOMPARE(m_server->files.value(latin1Name), randomBytes(30, 3));
    QCOMPARE(recorder.entryNames(), QStringList{QString::fromLatin1(latin1Name)});

    // A line break in an argument would smuggle in a command of its own; a
    // character beyond Latin-1 has no byte to go out as, and a stand-in
    // would name another file.
    for (const QString &name : {QStringLiteral("a\r\nDELE x"), QStringLiteral("\u20AC.TXT")}) {
        for (const bool folder : {true, false}) {
            recorder.clear();
            const int id = folder ? client.cd(name) : client.get(name, &targetG);
            QVERIFY(recorder.waitForDone());
            QVERIFY(recorder.finishedWithError(id));
            QVERIFY2(client.errorString().contains(QStringLiteral("Invalid character in the ")),
                     qPrintable(client.errorString()));
            QCOMPARE(m_server->received, expected);
        }
    }
}

void TestFtpClientFaults::downloadEndings_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("announced");  // the size passed to get(); -1: asked with SIZE
    QTest::addColumn<QString>("error");     // empty: the download succeeds
    QTest::addColumn<int>("state");         // the client's, once the queue has run
    QTest::addColumn<QByteArray>("nestedOn");  // a signal whose slot runs a nested event loop

    const int big = 3 * 1024 * 1024 + 5;
    const int loggedIn = FtpClient::LoggedIn, unconnected = FtpClient::Unconnected;
    const QString heading = QStringLiteral("Downloading file f failed:\n");
    QTest::newRow("226 before the data end") << "replyFirst" << big << qint64(-1) << "" << loggedIn << QByteArray();
    QTest::newRow("data end before 226") << "dataFirst" << big << qint64(-1) << "" << loggedIn << QByteArray();
    QTest::newRow("size unknown, empty file") << "noSize" << 0 << qint64(-1) << "" << loggedIn << QByteArray();
    QTest::newRow("size unknown, small file") << "noSize" << 777 << qint64(-1) << "" << loggedIn << QByteArray();
    QTest::newRow("size given, no SIZE") << "dataFirst" << big << qint64(big) << "" << loggedIn << QByteArray();
    QTest::newRow("size given: empty file") << "dataFirst" << 0 << qint64(0) << "" << loggedIn << QByteArray();
    // Data beyond the announced size is never written, and the late reply
    // to the stopped RETR is not taken for the next command's.
    QTest::newRow("one byte more than given") << "dataFirst" << 777 << qint64(776)
        << heading + "The server sent more than the 776 bytes announced" << loggedIn << QByteArray();
    QTest::newRow("far more than given") << "dataFirst" << big << qint64(1000000)
        << heading + "The server sent more than the 1000000 bytes announced" << loggedIn << QByteArray();
    QTest::newRow("more than SIZE said") << "sizeTooSmall" << big << qint64(-1)
        << heading + QStringLiteral("The server sent more than the %1 bytes announced").arg(big - 1000)
        << loggedIn << QByteArray();
    // 226 has come, then the server leaves while the last data is on its
    // way: the download is complete all the same, the next command is not.
    QTest::newRow("226, then the server leaves") << "replyThenGone" << 2 * 1024 * 1024 << qint64(-1) << ""
                                                 << unconnected << QByteArray();
    // Data that ends short is the final reply's to judge; a success shows
    // the short count in the last progress report, for the caller.
    QTest::newRow("short, then 226") << "cut" << 1000 << qint64(-1) << "" << loggedIn << QByteArray();
    QTest::newRow("short of the size given, then 226") << "cut" << 1000 << qint64(1000) << "" << loggedIn << QByteArray();
    QTest::newRow("largest size given, less sent, then 226") << "dataFirst" << 777
        << std::numeric_limits<qint64>::max() << "" << loggedIn << QByteArray();
    QTest::newRow("short, then 426") << "cut426" << 1000 << qint64(-1)
        << heading + "426 Connection closed; transfer aborted" << loggedIn << QByteArray();
    QTest::newRow("short, then the server leaves") << "cutGone" << 1000 << qint64(1000)
        << heading + "Connection closed" << unconnected << QByteArray();
    QTest::newRow("control connection dropped") << "dropControl" << 100000 << qint64(-1)
        << heading + "Connection closed" << unconnected << QByteArray();
    QTest::newRow("aborted, the interrupted reply follows") << "abort" << 100000 << qint64(-1)
        << heading + "Aborted" << loggedIn << QByteArray();
    // A slot may run a nested event loop (a modal message box) while the
    // server drops the connection: the download still fails once, cleanly
    // (and the address sanitizer watches the sockets dropped meanwhile).
    for (const char *signal : {"dataTransferProgress", "stateChanged", "commandFinished"})
        QTest::newRow(qPrintable(QStringLiteral("control connection dropped, nested loop in %1").arg(signal)))
            << "dropControlLater" << 400000 << qint64(-1) << heading + "Connection closed" << unconnected
            << QByteArray(signal);
}

void TestFtpClientFaults::downloadEndings()
{
    QFETCH(QString, script);
    QFETCH(int, size);
    QFETCH(qint64, announced);
    QFETCH(QString, error);
    QFETCH(int, state);
    QFETCH(QByteArray, nestedOn);
    const QByteArray content = randomBytes(size, 5);
    m_server->files.insert("f", content);
    if (script == QLatin1String("noSize"))
        m_server->on("SIZE", [&](const QByteArray &) { m_server->reply("502 SIZE not implemented"); });
    if (script == QLatin1String("sizeTooSmall"))
        m_server->on("SIZE", [&](const QByteArray &) { m_server->reply("213 " + QByteArray::number(size - 1000)); });
    m_server->on("CWD", [&](const QByteArray &argument) {
        m_server->reply(argument == "NEXT" ? "250 OK" : "550 " + argument + " refused");
    });
    bool replySent = false;
    bool dataClosed = false;
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            const auto finalReply = [&](const QByteArray &line) {
                m_server->reply(line);
                replySent = true;
            };
            const auto endData = [&, data](int from) {
                data->write(content.mid(from));
                data->disconnectFromHost();
                dataClosed = true;
            };
            if (script.startsWith(QLatin1String("cut"))) {
                connect(data, &QTcpSocket::disconnected, m_server, [=] {
                    if (script == QLatin1String("cutGone"))
                        m_server->closeControl();
                    else
                        finalReply(script == QLatin1String("cut") ? "226 Transfer complete"
                                                                  : "426 Connection closed; transfer aborted");
                });
                data->write(content.left(400));
                data->disconnectFromHost();
                dataClosed = true;
                return;
            }
            data->write(content.left(1000));
            if (script == QLatin1String("dropControl")) {
                m_server->closeControl();
            } else if (script == QLatin1String("dropControlLater")) {
                data->write(content.mid(1000, 99000));
                QTimer::singleShot(10, m_server, [this] { m_server->closeControl(); });
            } else if (script == QLatin1String("abort")) {
                connect(data, &QTcpSocket::disconnected, m_server, [=] { finalReply("426 Transfer aborted"); });
            } else if (script == QLatin1String("replyFirst") || script == QLatin1String("replyThenGone")) {
                finalReply("226 Done");
                if (script == QLatin1String("replyThenGone"))
                    m_server->closeControl();
                QTimer::singleShot(100, data, [=] { endData(1000); });
            } else {
                endData(1000);
                QTimer::singleShot(100, m_server, [=] { finalReply("226 Done"); });
            }
        });
    });

    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    bool completeAtFinish = false;
    connect(&client, &FtpClient::commandFinished, this, [&] {
        if (client.currentCommand() == FtpClient::Get)
            completeAtFinish = replySent && dataClosed;
    });
    if (script == QLatin1String("abort"))
        connect(&client, &FtpClient::dataTransferProgress, &client, &FtpClient::abort);
    connectAndLogin(client);
    const int get = client.get(QStringLiteral("f"), &target, FtpClient::Binary, announced);
    const int next = client.cd(QStringLiteral("NEXT"));
    int nested = 0;
    const auto runNestedLoop = [&] {
        ++nested;
        QEventLoop loop;
        QTimer::singleShot(40, &loop, &QEventLoop::quit);
        loop.exec();
    };
    connect(&client, &FtpClient::commandStarted, this, [&](int id) {
        if (id != get || nestedOn.isEmpty())
            return;
        if (nestedOn == "commandFinished")
            connect(&client, &FtpClient::commandFinished, this, runNestedLoop);
        else if (nestedOn == "stateChanged")
            connect(&client, &FtpClient::stateChanged, this, runNestedLoop);
        else
            connect(&client, &FtpClient::dataTransferProgress, this, runNestedLoop);
    });
    QVERIFY(recorder.waitForDone());
    QCOMPARE(nested > 0, !nestedOn.isEmpty());
    QCOMPARE(int(client.state()), state);
    QCOMPARE(recorder.states().last(), state);
    const auto progress = recorder.progressOf(get);
    QCOMPARE(m_server->receivedVerbs().contains("SIZE"), announced < 0);
    const qint64 arrived = script.startsWith(QLatin1String("cut")) ? 400 : size;
    const qint64 limit = announced >= 0 ? announced : script == QLatin1String("sizeTooSmall") ? size - 1000 : size;
    QVERIFY(content.startsWith(downloaded));
    QVERIFY(downloaded.size() <= limit);
    if (error.isEmpty()) {
        QVERIFY2(!recorder.finishedWithError(get), qPrintable(client.errorString()));
        QVERIFY(completeAtFinish);
        QCOMPARE(downloaded.size(), arrived);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), qMakePair(arrived, script == QLatin1String("noSize") ? arrived : limit));
        // Cheap: far fewer reports than chunks of data.
        QVERIFY2(progress.size() <= 20, QByteArray::number(progress.size()).constData());
        QCOMPARE(recorder.finishedWithError(next), state == FtpClient::Unconnected);
        if (state == FtpClient::Unconnected)
            QCOMPARE(client.errorString(), QStringLiteral("Changing directory failed:\nNot connected"));
    } else {
        QVERIFY(recorder.finishedWithError(get));
        QVERIFY(!recorder.startedIds().contains(next));
        QCOMPARE(client.errorString(), error);
        for (const auto &report : progress)
            QVERIFY(report.first < size);
    }
    if (state != FtpClient::LoggedIn)
        return;

    // A reply still due for the download must not be taken for the next one.
    recorder.clear();
    const int after = client.cd(QStringLiteral("AFTER"));
    QVERIFY(recorder.waitForDone());
    QVERIFY(recorder.finishedWithError(after));
    QCOMPARE(client.errorString(), QStringLiteral("Changing directory failed:\n550 AFTER refused"));
    QCOMPARE(m_server->received.last(), QByteArray("CWD AFTER"));
}

void TestFtpClientFaults::endlessListingIsCut_data()
{
    QTest::addColumn<QByteArray>("block");  // sent over and over
    QTest::addColumn<QString>("error");
    QByteArray entries;
    while (entries.size() < 256 * 1024)
        entries += "-rw-r--r-- 1 root root 1 Mar 12 13:06 F\r\n";
    QTest::newRow("endless entries") << entries << "Listing directory failed:\nThe listing is longer than 200000 entries";
    QTest::newRow("endless line") << QByteArray(256 * 1024, 'x') << "Listing directory failed:\nThe listing is larger than 64 MiB";
}

void TestFtpClientFaults::endlessListingIsCut()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, error);
    bool dataClosed = false;
    qint64 sent = 0;
    m_server->on("LIST", [&](const QByteArray &) {
        m_server->reply("150 Here it comes");
        m_server->withDataConnection([&](QTcpSocket *data) {
            // Ends only when the client closes the data connection (or at 256 MiB).
            const auto more = [&, data] {
                for (; data->bytesToWrite() < 1024 * 1024 && sent < 256 * 1024 * 1024; sent += block.size())
                    data->write(block);
            };
            connect(data, &QTcpSocket::bytesWritten, data, more);
            connect(data, &QTcpSocket::disconnected, m_server, [&] {
                dataClosed = true;
                m_server->reply("426 Listing aborted");
            });
            more();
        });
    });
    FtpClient client;
    QSignalSpy done(&client, &FtpClient::done);
    int entries = 0;
    connect(&client, &FtpClient::listInfo, this, [&] { ++entries; });
    connectAndLogin(client);
    client.list();
    QVERIFY(done.wait(60000));
    QCOMPARE(done.first().first().toBool(), true);
    QCOMPARE(client.errorString(), error);
    QVERIFY(entries <= FtpClient::maxListingEntries);
    QTRY_VERIFY_WITH_TIMEOUT(dataClosed, 10000);

    // The late reply to LIST is not taken for the next command's.
    client.cd(QStringLiteral("NEXT"));
    QVERIFY(done.wait(10000));
    QCOMPARE(done.last().first().toBool(), false);
    QCOMPARE(m_server->received.last(), QByteArray("CWD NEXT"));
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

void TestFtpClientFaults::closeEndsUnconnected_data()
{
    QTest::addColumn<QString>("script");
    // The server never answers the interrupted RETR. The window disconnects
    // with abort() then close(): that must not wait for the late answer.
    QTest::newRow("after an abort, QUIT answered") << "answered";
    QTest::newRow("after an abort, the server silent") << "silent";
    QTest::newRow("after an abort, the server still sending") << "sending";
    // A QUIT that cannot be sent, or meets a reset, ends the close too.
    QTest::newRow("the server resets before QUIT") << "resetBefore";
    QTest::newRow("the server resets at QUIT") << "resetAtQuit";
}

void TestFtpClientFaults::closeEndsUnconnected()
{
    QFETCH(QString, script);
    const auto reset = [this] {
        m_server->control()->flush();
        const linger hard { 1, 0 };
        setsockopt(int(m_server->control()->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        m_server->control()->abort();
    };
    qint64 sent = 0;
    m_server->on("RETR", [&](const QByteArray &) {
        m_server->reply("150 Sending");
        m_server->withDataConnection([&](QTcpSocket *data) {
            const auto more = [&, data] {
                for (; data->state() == QAbstractSocket::ConnectedState && data->bytesToWrite() < 1024 * 1024
                       && sent < 256 * 1024 * 1024; sent += 64 * 1024)
                    data->write(QByteArray(64 * 1024, 'd'));
            };
            if (script == QLatin1String("sending"))
                connect(data, &QTcpSocket::bytesWritten, data, more);
            more();
        });
    });
    if (script == QLatin1String("resetBefore"))
        m_server->on("CWD", [&](const QByteArray &) { m_server->reply("250 OK"); reset(); });
    if (script == QLatin1String("resetAtQuit"))
        m_server->on("QUIT", [&](const QByteArray &) { reset(); });
    else if (script != QLatin1String("answered"))
        m_server->on("QUIT", [](const QByteArray &) {});

    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    client.setIdleTimeout(20000);
    ClientRecorder recorder(&client);
    QElapsedTimer sinceClose;
    connect(&client, &FtpClient::commandStarted, this, [&] {
        if (client.currentCommand() == FtpClient::Close)
            sinceClose.start();
    });
    connectAndLogin(client);
    const bool aborting = !script.startsWith(QLatin1String("reset"));
    if (aborting) {
        client.get(QStringLiteral("f"), &target);
        connect(&client, &FtpClient::dataTransferProgress, &client, [&] {
            client.abort();
            client.close();
        }, Qt::SingleShotConnection);
    } else {
        client.cd(QStringLiteral("X"));
        client.close();
    }
    QVERIFY(recorder.waitForDone(aborting ? 2 : 1, 20000));
    QVERIFY2(sinceClose.elapsed() < 1000, QByteArray::number(sinceClose.elapsed()).constData());
    QVERIFY(!recorder.events.last().error);
    QCOMPARE(client.state(), FtpClient::Unconnected);
    QCOMPARE(recorder.states().last(), int(FtpClient::Unconnected));
    if (aborting)
        QTRY_VERIFY_WITH_TIMEOUT(m_server->received.contains("QUIT"), 5000);
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
