// The client against a scripted server that misbehaves on purpose.
#include "ftp/ftpclient.h"
#include "tests/support/eventwait.h"
#include "tests/support/scriptedftpserver.h"
#include "tests/support/testfiles.h"

#include <QBuffer>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
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

    void downloadEndings_data();
    void downloadEndings();
    void commandSequences_data();
    void commandSequences();

private:
    void connectAndLogin(FtpClient &client, const QString &host = QStringLiteral("127.0.0.1"));
    void scriptServer(const QString &script);
    ScriptedFtpServer *m_server = nullptr;
    QStringList m_listed; // the names a scripted listing holds
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

void TestFtpClientFaults::connectAndLogin(FtpClient &client, const QString &host)
{
    client.connectToHost(host, m_server->port());
    client.login(QStringLiteral("root"), QStringLiteral("+00417263850"));
}

void TestFtpClientFaults::downloadEndings_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("announced");  // the size passed to get(); -1: asked with SIZE
    QTest::addColumn<QString>("error");     // empty: the download succeeds
    QTest::addColumn<int>("state");         // the client's, once the queue has run
    QTest::addColumn<int>("kind");          // error() and replyCode() at the end
    QTest::addColumn<int>("code");

    const int big = 3 * 1024 * 1024 + 5;
    const int loggedIn = FtpClient::LoggedIn, unconnected = FtpClient::Unconnected;
    const QString heading = QStringLiteral("Downloading file f failed:\n");
    const int ok = FtpClient::NoError, tooMuch = FtpClient::DataLimitExceeded;
    QTest::newRow("226 before the data end") << "replyFirst" << big << qint64(-1) << "" << loggedIn << ok << 0;
    QTest::newRow("data end before 226") << "dataFirst" << big << qint64(-1) << "" << loggedIn << ok << 0;
    QTest::newRow("size unknown, small file") << "noSize" << 777 << qint64(-1) << "" << loggedIn << ok << 0;
    QTest::newRow("size given, no SIZE") << "dataFirst" << big << qint64(big) << "" << loggedIn << ok << 0;
    QTest::newRow("size given: empty file") << "dataFirst" << 0 << qint64(0) << "" << loggedIn << ok << 0;
    // Data beyond the announced size is never written, and the late reply
    // to the stopped RETR is not taken for the next command's.
    QTest::newRow("one byte more than given") << "dataFirst" << 777 << qint64(776)
        << heading + "The server sent more than the 776 bytes announced" << loggedIn << tooMuch << 0;
    QTest::newRow("more than SIZE said") << "sizeTooSmall" << big << qint64(-1)
        << heading + QStringLiteral("The server sent more than the %1 bytes announced").arg(big - 1000)
        << loggedIn << tooMuch << 0;
    // Data that ends short is the final reply's to judge; a success shows
    // the short count in the last progress report, for the caller.
    QTest::newRow("short, then 226") << "cut" << 1000 << qint64(-1) << "" << loggedIn << ok << 0;
    QTest::newRow("largest size given, less sent, then 226") << "dataFirst" << 777
        << std::numeric_limits<qint64>::max() << "" << loggedIn << ok << 0;
    QTest::newRow("short, then 426") << "cut426" << 1000 << qint64(-1)
        << heading + "426 Connection closed; transfer aborted" << loggedIn << int(FtpClient::ServerRefused) << 426;
    QTest::newRow("control connection dropped") << "dropControl" << 100000 << qint64(-1)
        << heading + "Connection closed" << unconnected << int(FtpClient::ConnectionLost) << 0;
    QTest::newRow("aborted, the interrupted reply follows") << "abort" << 100000 << qint64(-1)
        << heading + "Aborted" << loggedIn << int(FtpClient::Aborted) << 0;
}

void TestFtpClientFaults::downloadEndings()
{
    QFETCH(QString, script);
    QFETCH(int, size);
    QFETCH(qint64, announced);
    QFETCH(QString, error);
    QFETCH(int, state);
    QFETCH(int, kind);
    QFETCH(int, code);
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
    QCOMPARE(int(client.error()), kind);
    QCOMPARE(client.replyCode(), code);
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
    QCOMPARE(client.error(), FtpClient::ServerRefused);
    QCOMPARE(client.replyCode(), 550);
    QCOMPARE(m_server->received.last(), QByteArray("CWD AFTER"));
}

void TestFtpClientFaults::commandSequences_data()
{
    QTest::addColumn<bool>("ipv6");             // the server on ::1, else on 127.0.0.1
    QTest::addColumn<QString>("script");        // how the server misbehaves: scriptServer()
    // After connect and login: "list [ARG]"; "get NAME" (size asked) or
    // "known NAME" (size given); "put NAME" (3000 bytes) or "big NAME"
    // (8 MiB); "unwritable" (a get into a device open for reading only);
    // "cd ARG"; "mkdir ARG"; "reconnect".
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("idle");              // the client's idle limit, ms
    QTest::addColumn<QStringList>("expected");  // every line the server receives
    QTest::addColumn<int>("kind");              // error() and replyCode() at the end
    QTest::addColumn<int>("code");

    const QStringList login{"USER root", "PASS +00417263850"};
    const int ok = FtpClient::NoError, timedOut = FtpClient::TimedOut, garbled = FtpClient::ProtocolError;
    // A name is listed, requested and stored as the same bytes, one per
    // character, whatever they mean; blanks stay as given.
    const QString a = QString::fromLatin1("\xC4RGER.TXT");
    QTest::newRow("IPv4: PASV; TYPE A to list, TYPE I once to transfer, ALLO before STOR; names verbatim")
        << false << "listing" << QStringList{"cd  ..", "mkdir a b ", "get f", "known f", "get " + a, "put " + a,
                                             "cd DATA/IPA_BD1", "list  x"}
        << 5000 << login + QStringList{"CWD  ..", "MKD a b ", "TYPE I", "SIZE f", "PASV", "RETR f", "PASV", "RETR f",
                                       "SIZE " + a, "PASV", "RETR " + a, "PASV", "ALLO 3000", "STOR " + a,
                                       "CWD DATA/IPA_BD1", "TYPE A", "PASV", "LIST  x"} << ok << 0;
    QTest::newRow("IPv6: EPSV instead of PASV") << true << "" << QStringList{"list", "get f", "known f", "put u"}
        << 5000 << login + QStringList{"TYPE A", "EPSV", "LIST", "TYPE I", "SIZE f", "EPSV", "RETR f", "EPSV",
                                       "RETR f", "EPSV", "ALLO 3000", "STOR u"} << ok << 0;
    for (const char *code : {"425", "502"}) {
        QTest::addRow("IPv6: EPSV refused (%s), PASV from then on", code) << true << "EPSV " + QString::fromLatin1(code)
            << QStringList{"list", "known f"} << 5000
            << login + QStringList{"TYPE A", "EPSV", "PASV", "LIST", "TYPE I", "PASV", "RETR f"} << ok << 0;
    }
    QTest::newRow("ALLO refused (502): STOR all the same") << false << "ALLO 502" << QStringList{"put u", "put u"}
        << 5000 << login + QStringList{"TYPE I", "PASV", "ALLO 3000", "STOR u", "PASV", "ALLO 3000", "STOR u"}
        << ok << 0;
    QTest::newRow("each TYPE once per connection") << false << ""
        << QStringList{"list", "list", "list", "known f", "put u", "known f", "reconnect", "list", "known f"} << 5000
        << login + QStringList{"TYPE A", "PASV", "LIST", "PASV", "LIST", "PASV", "LIST", "TYPE I", "PASV", "RETR f",
                               "PASV", "ALLO 3000", "STOR u", "PASV", "RETR f"}
                 + login + QStringList{"TYPE A", "PASV", "LIST", "TYPE I", "PASV", "RETR f"} << ok << 0;
    // One reply too many, read together with the right one: the next command
    // must wait for its own reply instead of taking the surplus for it.
    QTest::newRow("surplus reply") << false << "surplus" << QStringList{"cd DATA", "cd  ..", "mkdir X"} << 5000
        << login + QStringList{"CWD DATA", "CWD  ..", "MKD X"} << ok << 0;
    // PASV names another loopback address: the data connection still goes
    // to the control connection's peer, where alone the data port listens.
    QTest::newRow("PASV names another address") << false << "elsewhere" << QStringList{"known f", "list"} << 5000
        << login + QStringList{"TYPE I", "PASV", "RETR f", "TYPE A", "PASV", "LIST"} << ok << 0;
    // A line break would smuggle in a command of its own; a character beyond
    // Latin-1 has no byte to go out as, and a stand-in would name another file.
    QTest::newRow("a line break in a folder name") << false << "" << QStringList{"cd a\r\nDELE x"} << 5000 << login
        << int(FtpClient::InvalidArgument) << 0;
    QTest::newRow("a file name beyond Latin-1") << false << "" << QStringList{"get \u20AC.TXT"} << 5000 << login
        << int(FtpClient::InvalidArgument) << 0;
    QTest::newRow("a download into a device open for reading") << false << "" << QStringList{"unwritable"} << 5000
        << login << int(FtpClient::LocalFileError) << 0;
    // A listing that never ends is cut by its count of lines or of bytes.
    for (const char *endless : {"endless entries", "endless line"}) {
        QTest::newRow(endless) << false << endless << QStringList{"list"} << 5000
            << login + QStringList{"TYPE A", "PASV", "LIST"} << int(FtpClient::DataLimitExceeded) << 0;
    }

    // A reply is due within the idle limit of its command, however it
    // trickles in; preliminary replies neither extend it nor go on for ever.
    QTest::newRow("greeting trickled a byte every 300 ms") << false << "trickled greeting" << QStringList{}
        << 1000 << QStringList{} << timedOut << 0;
    QTest::newRow("120 every 50 ms") << false << "120 fast" << QStringList{} << 5000 << QStringList{} << garbled << 120;
    QTest::newRow("120 every 700 ms") << false << "120 slow" << QStringList{} << 1000 << QStringList{} << timedOut << 0;
    QTest::newRow("150, then 150 every 100 ms, no data") << false << "150 repeated" << QStringList{"known f"} << 5000
        << login + QStringList{"TYPE I", "PASV", "RETR f"} << garbled << 150;
    QTest::newRow("control chatter beside a stalled transfer") << false << "chatter" << QStringList{"known f"} << 1000
        << login + QStringList{"TYPE I", "PASV", "RETR f"} << timedOut << 0;
    // Data that keeps flowing keeps a transfer alive past the idle limit.
    QTest::newRow("data flowing for 3 s, idle limit 1 s") << false << "flowing" << QStringList{"known f"} << 1000
        << login + QStringList{"TYPE I", "PASV", "RETR f"} << ok << 0;
    // Far more than the socket buffers hold: the client cannot have handed
    // the file over, whatever the server replies.
    QTest::newRow("100 bytes of 8 MiB stored, then 226") << false << "short store" << QStringList{"big u"} << 5000
        << login + QStringList{"TYPE I", "PASV", "ALLO 8388608", "STOR u"} << int(FtpClient::ConnectionLost) << 0;
}

void TestFtpClientFaults::scriptServer(const QString &script)
{
    ScriptedFtpServer *server = m_server;
    if (script.startsWith(QLatin1String("EPSV ")) || script.startsWith(QLatin1String("ALLO "))) {
        const QByteArray code = script.mid(5).toLatin1();
        server->on(script.left(4).toLatin1(), [server, code](const QByteArray &) { server->reply(code + " Not now"); });
    } else if (script == QLatin1String("listing")) {
        server->files.insert("\xC4RGER.TXT", randomBytes(20, 2));
        server->listing = "-rw-r--r-- 1 root root 20 Mar 12 13:06 \xC4RGER.TXT\r\n";
        m_listed = QStringList{QString::fromLatin1("\xC4RGER.TXT")};
    } else if (script.startsWith(QLatin1String("endless "))) {
        QByteArray block(256 * 1024, 'x');
        if (script == QLatin1String("endless entries")) {
            for (block.clear(); block.size() < 256 * 1024;)
                block += "-rw-r--r-- 1 root root 1 Mar 12 13:06 F\r\n";
        }
        server->on("LIST", [server, block](const QByteArray &) {
            server->reply("150 Here it comes");
            server->withDataConnection([server, block](QTcpSocket *data) {
                // Ends only when the client closes the data connection (or at 256 MiB).
                auto sent = std::make_shared<qint64>(0);
                const auto more = [data, block, sent] {
                    for (; data->bytesToWrite() < 1024 * 1024 && *sent < 256 * 1024 * 1024; *sent += block.size())
                        data->write(block);
                };
                connect(data, &QTcpSocket::bytesWritten, data, more);
                connect(data, &QTcpSocket::disconnected, server, [server] { server->reply("426 Listing aborted"); });
                more();
            });
        });
    } else if (script == QLatin1String("surplus")) {
        server->on("CWD", [server](const QByteArray &) { server->writeRaw("250 Changed\r\n550 Surplus\r\n"); });
    } else if (script == QLatin1String("elsewhere")) {
        server->passiveAddress = "127,0,0,2";
    } else if (script == QLatin1String("trickled greeting")) {
        auto sent = std::make_shared<int>(0);
        server->greet = [server, sent] {
            server->every(300, 11, [server, sent] { server->writeRaw(QByteArray("220 Ready\r\n").mid((*sent)++, 1)); });
        };
    } else if (script.startsWith(QLatin1String("120 "))) {
        const int pace = script == QLatin1String("120 fast") ? 50 : 700;
        server->greet = [server, pace] { server->every(pace, 20, [server] { server->reply("120 Ready soon"); }); };
    } else if (script == QLatin1String("150 repeated") || script == QLatin1String("chatter")) {
        const bool chatter = script == QLatin1String("chatter");
        server->on("RETR", [server, chatter](const QByteArray &) {
            server->reply("150 Sending");
            if (!chatter)
                return server->every(100, 150, [server] { server->reply("150 Still sending"); });
            // Some data, then none; on the control connection a reply that
            // never ends.
            server->withDataConnection([server](QTcpSocket *data) { data->write(server->files.value("f").left(1000)); });
            server->writeRaw("226-Still busy\r\n");
            server->every(200, 75, [server] { server->writeRaw(" busy\r\n"); });
        });
    } else if (script == QLatin1String("flowing")) {
        // 32 chunks of 16 KiB, one every 100 ms.
        server->files.insert("f", randomBytes(32 * 16384, 9));
        server->on("RETR", [server](const QByteArray &) {
            server->reply("150 Sending");
            server->withDataConnection([server](QTcpSocket *socket) {
                const QPointer<QTcpSocket> data(socket);
                connect(socket, &QTcpSocket::disconnected, server, [server] { server->reply("226 Done"); });
                auto sent = std::make_shared<int>(0);
                server->every(100, 32, [server, data, sent] {
                    if (!data)
                        return;
                    data->write(server->files.value("f").mid(16384 * (*sent)++, 16384));
                    if (*sent == 32)
                        data->disconnectFromHost();
                });
            });
        });
    } else if (script == QLatin1String("short store")) {
        server->on("STOR", [server](const QByteArray &name) {
            server->reply("150 Ready");
            server->withDataConnection([server, name](QTcpSocket *data) {
                // Reads 100 bytes and no more; the rest stays unread when it closes.
                data->setReadBufferSize(100);
                connect(data, &QTcpSocket::readyRead, server, [server, name, data] {
                    if (data->bytesAvailable() < 100 || data->state() != QAbstractSocket::ConnectedState)
                        return;
                    server->files[name] = data->read(100);
                    data->disconnectFromHost();
                    server->reply("226 Stored");
                });
            });
        });
    }
}

void TestFtpClientFaults::commandSequences()
{
    QFETCH(bool, ipv6);
    QFETCH(QString, script);
    QFETCH(QStringList, calls);
    QFETCH(int, idle);
    QFETCH(QStringList, expected);
    QFETCH(int, kind);
    QFETCH(int, code);
    if (ipv6) {
        delete m_server;
        m_server = new ScriptedFtpServer(this);
        QVERIFY(m_server->listen(QHostAddress::LocalHostIPv6));
    }
    m_server->files.insert("f", randomBytes(5000, 7));
    m_listed.clear();
    scriptServer(script);

    FtpClient client;
    client.setIdleTimeout(idle);
    ClientRecorder recorder(&client);
    const QString host = ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
    QObject devices;
    QList<QPair<QByteArray, QBuffer *>> downloads, uploads;
    connectAndLogin(client, host);
    for (const QString &call : calls) {
        const QString verb = call.section(QLatin1Char(' '), 0, 0);
        const QString argument = call.section(QLatin1Char(' '), 1);
        auto *device = new QBuffer(&devices);
        if (verb == QLatin1String("list")) {
            client.list(argument);
        } else if (verb == QLatin1String("get") || verb == QLatin1String("known")) {
            downloads.append({m_server->files.value(argument.toLatin1()), device}); // as it is now
            const qint64 size = verb == QLatin1String("known") ? m_server->files.value(argument.toLatin1()).size() : -1;
            client.get(argument, device, FtpClient::Binary, size);
        } else if (verb == QLatin1String("put") || verb == QLatin1String("big")) {
            device->setData(randomBytes(verb == QLatin1String("big") ? 8 * 1024 * 1024 : 3000, 8));
            uploads.append({argument.toLatin1(), device});
            client.put(device, argument);
        } else if (verb == QLatin1String("unwritable")) {
            QVERIFY(device->open(QIODevice::ReadOnly));
            client.get(QStringLiteral("f"), device);
        } else if (verb == QLatin1String("reconnect")) {
            connectAndLogin(client, host);
        } else {
            verb == QLatin1String("cd") ? client.cd(argument) : client.mkdir(argument);
        }
    }
    // Well before a misbehaving server stops on its own (10 s and more).
    QVERIFY(recorder.waitForDone(1, qMax(10000, 4 * idle)));
    QCOMPARE(int(client.error()), kind);
    QCOMPARE(client.replyCode(), code);
    QStringList received;
    for (const QByteArray &line : std::as_const(m_server->received))
        received << QString::fromLatin1(line);
    QCOMPARE(received, expected);

    // The queue's signals: each command's reports lie between its start and
    // its finish, with currentId() naming it; done() last, once.
    QCOMPARE(recorder.ids(ClientRecorder::Started), recorder.ids(ClientRecorder::Finished));
    QCOMPARE(recorder.doneCount(), 1);
    QCOMPARE(recorder.events.last().type, ClientRecorder::Done);
    int running = 0;
    for (const ClientRecorder::Event &e : std::as_const(recorder.events)) {
        if (e.type == ClientRecorder::Started || e.type == ClientRecorder::Finished)
            QCOMPARE(e.currentId, e.id);
        if (e.type == ClientRecorder::Started)
            QCOMPARE(std::exchange(running, e.id), 0);
        else if (e.type == ClientRecorder::Finished)
            QCOMPARE(std::exchange(running, 0), e.id);
        else if (e.type != ClientRecorder::State)
            QCOMPARE(e.currentId, running);
    }
    QVERIFY(recorder.entryNames().size() <= FtpClient::maxListingEntries);
    if (kind == FtpClient::NoError) {
        QCOMPARE(recorder.entryNames(), m_listed);
        for (const auto &[content, download] : std::as_const(downloads))
            QCOMPARE(download->data(), content);
        for (const auto &[name, upload] : std::as_const(uploads))
            QCOMPARE(m_server->files.value(name), upload->data());
    }
    if (client.state() != FtpClient::LoggedIn)
        return;
    // A reply still due for a command that failed is not taken for the next
    // command's.
    client.cd(QStringLiteral("NEXT"));
    QVERIFY(recorder.waitForDone(2, 10000));
    QVERIFY2(!recorder.events.last().error, qPrintable(client.errorString()));
    QCOMPARE(m_server->received.last(), QByteArray("CWD NEXT"));
}

QTEST_GUILESS_MAIN(TestFtpClientFaults)
#include "tst_ftpclientfaults.moc"
