// The client against a scripted server that misbehaves on purpose.
#include "ftpclient.h"
#include "eventwait.h"
#include "scriptedftpserver.h"
#include "testfiles.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Records every signal of an FtpClient in order, with what currentId()
// answered inside it.
class ClientRecorder : public QObject
{
public:
    enum Type { State, Started, Finished, Done, Progress, Entry };

    struct Event
    {
        Type type = State;
        int id = 0;          // Started, Finished; State: the state
        bool error = false;  // Finished, Done
        qint64 done = 0;     // Progress
        qint64 total = 0;    // Progress
        QString name;        // Entry
        int currentId = 0;
    };

    explicit ClientRecorder(FtpClient *client)
        : m_client(client)
    {
        connect(client, &FtpClient::stateChanged, this, [this](int s) { add(State, s); });
        connect(client, &FtpClient::commandStarted, this, [this](int id) { add(Started, id); });
        connect(client, &FtpClient::commandFinished, this, [this](int id, bool error) { add(Finished, id, error); });
        connect(client, &FtpClient::done, this, [this](bool error) { add(Done, 0, error); });
        connect(client, &FtpClient::dataTransferProgress, this,
                [this](qint64 done, qint64 total) { add(Progress, 0, false, done, total); });
        connect(client, &FtpClient::listInfo, this, [this](const UrlInfo &info) { add(Entry, 0, false, 0, 0, info.name()); });
    }

    QList<Event> events;

    // Waits until `count` done() signals have come in all.
    bool waitForDone(int count = 1, int timeout = 30000)
    {
        return waitUntil([&] { return doneCount() >= count; }, timeout);
    }
    int doneCount() const { return int(ids(Done).size()); }
    // The ids of the events of one type (the states, for State).
    QList<int> ids(Type type) const
    {
        QList<int> out;
        for (const Event &e : events) {
            if (e.type == type)
                out.append(e.id);
        }
        return out;
    }
    bool finishedWithError(int id) const
    {
        return std::any_of(events.cbegin(), events.cend(),
                           [id](const Event &e) { return e.type == Finished && e.id == id && e.error; });
    }
    QStringList entryNames() const
    {
        QStringList out;
        for (const Event &e : events) {
            if (e.type == Entry)
                out.append(e.name);
        }
        return out;
    }
    // Progress reports between the start and the finish of command `id`.
    QList<QPair<qint64, qint64>> progressOf(int id) const
    {
        QList<QPair<qint64, qint64>> out;
        bool inside = false;
        for (const Event &e : events) {
            if (e.type == Started)
                inside = e.id == id;
            else if (e.type == Progress && inside)
                out.append({ e.done, e.total });
        }
        return out;
    }
    void clear() { events.clear(); }

private:
    void add(Type type, int id, bool error = false, qint64 done = 0, qint64 total = 0, const QString &name = {})
    {
        events.append({type, id, error, done, total, name, m_client->currentId()});
    }

    FtpClient *m_client;
};

} // namespace

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
    void surplusReplyIsNotTakenForTheNextCommand();
    void passiveAddressIsIgnored();

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
    // The queue's signals: each command's reports lie between its start and
    // its finish, with currentId() naming it; done() last.
    QCOMPARE(recorder.ids(ClientRecorder::Started), recorder.ids(ClientRecorder::Finished));
    QCOMPARE(recorder.doneCount(), 1);
    QCOMPARE(recorder.events.last().type, ClientRecorder::Done);
    int running = 0;
    for (const ClientRecorder::Event &e : recorder.events) {
        if (e.type == ClientRecorder::Started || e.type == ClientRecorder::Finished)
            QCOMPARE(e.currentId, e.id);
        if (e.type == ClientRecorder::Started)
            QCOMPARE(std::exchange(running, e.id), 0);
        else if (e.type == ClientRecorder::Finished)
            QCOMPARE(std::exchange(running, 0), e.id);
        else if (e.type != ClientRecorder::State)
            QCOMPARE(e.currentId, running);
    }

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

    const int big = 3 * 1024 * 1024 + 5;
    const int loggedIn = FtpClient::LoggedIn, unconnected = FtpClient::Unconnected;
    const QString heading = QStringLiteral("Downloading file f failed:\n");
    QTest::newRow("226 before the data end") << "replyFirst" << big << qint64(-1) << "" << loggedIn;
    QTest::newRow("data end before 226") << "dataFirst" << big << qint64(-1) << "" << loggedIn;
    QTest::newRow("size unknown, small file") << "noSize" << 777 << qint64(-1) << "" << loggedIn;
    QTest::newRow("size given, no SIZE") << "dataFirst" << big << qint64(big) << "" << loggedIn;
    QTest::newRow("size given: empty file") << "dataFirst" << 0 << qint64(0) << "" << loggedIn;
    // Data beyond the announced size is never written, and the late reply
    // to the stopped RETR is not taken for the next command's.
    QTest::newRow("one byte more than given") << "dataFirst" << 777 << qint64(776)
        << heading + "The server sent more than the 776 bytes announced" << loggedIn;
    QTest::newRow("more than SIZE said") << "sizeTooSmall" << big << qint64(-1)
        << heading + QStringLiteral("The server sent more than the %1 bytes announced").arg(big - 1000)
        << loggedIn;
    // Data that ends short is the final reply's to judge; a success shows
    // the short count in the last progress report, for the caller.
    QTest::newRow("short, then 226") << "cut" << 1000 << qint64(-1) << "" << loggedIn;
    QTest::newRow("largest size given, less sent, then 226") << "dataFirst" << 777
        << std::numeric_limits<qint64>::max() << "" << loggedIn;
    QTest::newRow("short, then 426") << "cut426" << 1000 << qint64(-1)
        << heading + "426 Connection closed; transfer aborted" << loggedIn;
    QTest::newRow("control connection dropped") << "dropControl" << 100000 << qint64(-1)
        << heading + "Connection closed" << unconnected;
    QTest::newRow("aborted, the interrupted reply follows") << "abort" << 100000 << qint64(-1)
        << heading + "Aborted" << loggedIn;
}

void TestFtpClientFaults::downloadEndings()
{
    QFETCH(QString, script);
    QFETCH(int, size);
    QFETCH(qint64, announced);
    QFETCH(QString, error);
    QFETCH(int, state);
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
            } else if (script == QLatin1String("abort")) {
                connect(data, &QTcpSocket::disconnected, m_server, [=] { finalReply("426 Transfer aborted"); });
            } else if (script == QLatin1String("replyFirst")) {
                finalReply("226 Done");
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
    QVERIFY(recorder.waitForDone());
    QCOMPARE(int(client.state()), state);
    QCOMPARE(recorder.ids(ClientRecorder::State).last(), state);
    const auto progress = recorder.progressOf(get);
    QCOMPARE(m_server->received.contains("SIZE f"), announced < 0);
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
        QVERIFY(!recorder.ids(ClientRecorder::Started).contains(next));
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

void TestFtpClientFaults::passiveAddressIsIgnored()
{
    // EPSV refused, and PASV names another address (a loopback one, so that
    // a client which took it would still send nothing off this machine).
    // The data listener is on 127.0.0.1 only: what arrives came there.
    m_server->refuseExtendedPassive = true;
    m_server->passiveAddress = "127,0,0,2";
    m_server->files.insert("f", randomBytes(5000, 7));
    QByteArray downloaded;
    QBuffer target(&downloaded);
    FtpClient client;
    ClientRecorder recorder(&client);
    connectAndLogin(client);
    client.get(QStringLiteral("f"), &target, FtpClient::Binary, 5000);
    client.list();
    QVERIFY(recorder.waitForDone());
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(downloaded, randomBytes(5000, 7));
    QCOMPARE(m_server->received.count("PASV"), 2);
    QCOMPARE(m_server->dataPeers, QList<QHostAddress>(2, QHostAddress(QHostAddress::LocalHost)));
}

QTEST_GUILESS_MAIN(TestFtpClientFaults)
#include "tst_ftpclientfaults.moc"
