// Connecting to the instrument: the login, the listing walk, the state
// display, the error boxes and the choice of the local folder.

#include "filedialogresponder.h"
#include "eventwait.h"
#include "instrumentfixture.h"

#include "app/instrumentendpoint.h"
#include "ftpclient.h"
#include "transfer/nametables.h"
#include "transfer/transferstate.h"

#include <QDir>
#include <QLabel>
#include <QLoggingCategory>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

const QStringList walkCommands = {
    "USER root", "PASS +00417263850",
    "CWD DATA/IPA_BD1", "LIST", "CWD  ..",
    "CWD DATA/IPS_BD1", "LIST", "CWD  ..",
    "CWD TEXT", "LIST", "CWD  ..",
    "CWD FONTS", "LIST", "CWD  ..",
    "LIST",
};

void buildInstrument(InstrumentFixture &f)
{
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), QByteArray(100, 'a'));
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/SAME.DAT"), QByteArray(7, 's'));
    f.writeFile(f.instrumentPath("DATA/IPA_BD1/SUB/INNER.DAT"), QByteArray(3, 'i'));
    f.writeFile(f.instrumentPath("DATA/IPS_BD1/SAME.DAT"), QByteArray(11, 'S'));
    f.writeFile(f.instrumentPath("DATA/IPS_BD1/EMPTY.DAT"), QByteArray());
    f.writeFile(f.instrumentPath("TEXT/X.TXT"), QByteArray(5, 'x'));
    f.writeFile(f.instrumentPath("FONTS/F.FNT"), QByteArray(9, 'f'));
    f.writeFile(f.instrumentPath("INIE91.CFG"), QByteArray(13, 'c'));
    f.writeFile(f.instrumentPath("R9DIGIT"), QByteArray(2, 'r'));
}

QStringList describe(const QList<RemoteEntry> &entries)
{
    QStringList lines;
    for (const RemoteEntry &entry : entries)
        lines << QStringLiteral("%1|%2|%3").arg(entry.folder, entry.name).arg(entry.size);
    lines.sort();
    return lines;
}

const QStringList expectedEntries = [] {
    QStringList lines = {"DATA/IPA_BD1|A.DAT|100", "DATA/IPA_BD1|SAME.DAT|7",
                         "DATA/IPS_BD1|SAME.DAT|11", "DATA/IPS_BD1|EMPTY.DAT|0",
                         "TEXT|X.TXT|5", "FONTS|F.FNT|9", "ROOT|INIE91.CFG|13", "ROOT|R9DIGIT|2"};
    lines.sort();
    return lines;
}();

QList<bool> buttonStates(const InstrumentFixture &f)
{
    QList<bool> states;
    for (const char *name : allButtons)
        states << f.button(name)->isEnabled();
    return states;
}

const QList<bool> idleButtons = {true, false, false, false, false, false};
const QList<bool> readyButtons = {false, true, true, true, true, true};

// A server that accepts the login and every folder change, and lists
// nothing at all: an instrument whose root listing is empty.
class SilentListingServer : public QTcpServer
{
public:
    SilentListingServer() { listen(QHostAddress::LocalHost, 0); }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto *control = new QTcpSocket(this);
        control->setSocketDescriptor(handle);
        control->write("220 ready\r\n");
        connect(control, &QTcpSocket::readyRead, control, [this, control] {
            while (control->canReadLine()) {
                const QByteArray line = control->readLine().trimmed();
                const QByteArray verb = line.split(' ').first().toUpper();
                if (verb == "USER")
                    control->write("331 password\r\n");
                else if (verb == "PASS")
                    control->write("230 in\r\n");
                else if (verb == "CWD")
                    control->write("250 ok\r\n");
                else if (verb == "PASV")
                    openPassive(control);
                else if (verb == "LIST")
                    list(control);
                else if (verb == "QUIT")
                    control->write("221 bye\r\n");
                else
                    control->write("502 no\r\n");
            }
        });
    }

private:
    void openPassive(QTcpSocket *control)
    {
        delete m_data;
        m_data = new QTcpServer(this);
        m_data->listen(QHostAddress::LocalHost, 0);
        const quint16 port = m_data->serverPort();
        control->write(QStringLiteral("227 Entering Passive Mode (127,0,0,1,%1,%2)\r\n")
                           .arg(port / 256).arg(port % 256).toLatin1());
    }
    void list(QTcpSocket *control)
    {
        control->write("150 here it comes\r\n");
        QTcpServer *data = m_data;
        const auto send = [control, data] {
            QTcpSocket *socket = data->nextPendingConnection();
            socket->disconnectFromHost();
            control->write("226 done\r\n");
        };
        if (data && data->hasPendingConnections())
            send();
        else if (data)
            connect(data, &QTcpServer::newConnection, control, send, Qt::SingleShotConnection);
    }
    QTcpServer *m_data = nullptr;
};

QStringList capturedDebugLines;
void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        capturedDebugLines << message;
}

} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void fullConnect();
    void labelFollowsStatesAndButtonsWaitForTheRootListing();
    void emptyRootListingLeavesButtons();
    void failures_data();
    void failures();
    void connectionRefused();
    void emptyFolderFieldRefused();
    void blankFolderFieldPasses();
    void connectPressedTwiceDuringWalk();
    void disconnectDuringWalk();
    void disconnectWhenNothingConnected();
    void disconnectAfterWalk();
    void folderDialog_data();
    void folderDialog();
    void traceLines();
};

void tst_Connection::fullConnect()
{
    InstrumentFixture f;
    buildInstrument(f);
    QVERIFY(f.connectAndWalk());

    QCOMPARE(f.toolCommands(), walkCommands);
    QCOMPARE(describe(remoteList), expectedEntries);
    QCOMPARE(listCount, 5);
    QCOMPARE(buttonStates(f), readyButtons);
    QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_Connection::labelFollowsStatesAndButtonsWaitForTheRootListing()
{
    InstrumentFixture f;
    buildInstrument(f);
    QStringList labels;
    QList<QList<bool>> buttonsAtStates;
    // Connected after the window, so it sees what the window has just shown.
    connect(ftpClient, &FtpClient::stateChanged, this, [&](int) {
        labels << f.disp()->text();
        buttonsAtStates << buttonStates(f);
    });
    QList<bool> buttonsBeforeRootListing;
    connect(ftpClient, &FtpClient::commandStarted, this, [&] {
        if (ftpClient->currentCommand() == FtpClient::List && listCount == 5)
            buttonsBeforeRootListing = buttonStates(f);
    });

    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    QCOMPARE(f.disp()->text(), QStringLiteral("Wait .."));
    QVERIFY(f.waitForDone());

    QCOMPARE(labels, QStringList({"HostLookup", "Connecting", "Connected", "LoggedIn"}));
    for (const QList<bool> &states : buttonsAtStates)
        QCOMPARE(states, idleButtons);
    QCOMPARE(buttonsBeforeRootListing, idleButtons);
    QCOMPARE(buttonStates(f), readyButtons);
}

void tst_Connection::emptyRootListingLeavesButtons()
{
    InstrumentFixture f;
    SilentListingServer silent;
    QVERIFY(silent.isListening());
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), silent.serverPort()};
    f.localpath()->setText(f.localDir.path());
    QVERIFY(f.clickAndWaitForDone("connectbotton"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(listCount, 5);
    QVERIFY(remoteList.isEmpty());
    QCOMPARE(buttonStates(f), idleButtons);
    // The last text shown: the state after the login.
    QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
}

void tst_Connection::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("expectedInText");
    QTest::addColumn<bool>("endsUnconnected");
    QTest::newRow("login refused") << "login" << "Login failed" << false;
    QTest::newRow("folder missing") << "folder" << "Changing directory failed" << false;
    QTest::newRow("connection dropped mid-walk") << "drop" << "" << true;
    QTest::newRow("listing refused") << "list" << "Listing directory failed" << false;
}

void tst_Connection::failures()
{
    QFETCH(QString, fault);
    QFETCH(QString, expectedInText);
    QFETCH(bool, endsUnconnected);

    InstrumentFixture f;
    buildInstrument(f);
    if (fault == QLatin1String("login"))
        f.server.refuseCommand("PASS", 530);
    else if (fault == QLatin1String("folder"))
        QVERIFY(QDir(f.instrumentPath("TEXT")).removeRecursively());
    else if (fault == QLatin1String("drop"))
        f.server.dropConnectionAfter(7);
    else if (fault == QLatin1String("list"))
        f.server.refuseCommand("LIST", 450);

    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    QVERIFY(f.boxes.waitForCount(1));
    QVERIFY(f.waitForDone());
    if (endsUnconnected)
        QVERIFY(f.waitForUnconnected());

    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, ftpClient->errorString());
    QVERIFY2(f.boxes.boxes().at(0).text.contains(expectedInText), qPrintable(ftpClient->errorString()));
    QCOMPARE(buttonStates(f), idleButtons);
    QVERIFY(listCount < 5);
}

void tst_Connection::connectionRefused()
{
    InstrumentFixture f;
    f.server.close();
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), closedPort};
    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    QVERIFY(f.boxes.waitForCount(1));
    QVERIFY(f.waitForDone());
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, ftpClient->errorString());
    QVERIFY(!ftpClient->errorString().isEmpty());
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(buttonStates(f), idleButtons);
}

void tst_Connection::emptyFolderFieldRefused()
{
    InstrumentFixture f;
    buildInstrument(f);
    f.button("connectbotton")->click();
    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("PATH ERROR"));
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("Select a Valid Folder"));
    QVERIFY(!ftpClient->hasPendingCommands());
    QCOMPARE(f.server.sessionCount(), 0);
    QCOMPARE(buttonStates(f), idleButtons);
}

void tst_Connection::blankFolderFieldPasses()
{
    InstrumentFixture f;
    buildInstrument(f);
    f.localpath()->setText(QStringLiteral("   "));
    QVERIFY(f.clickAndWaitForDone("connectbotton"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.toolCommands(), walkCommands);
}

void tst_Connection::connectPressedTwiceDuringWalk()
{
    InstrumentFixture f;
    buildInstrument(f);
    f.server.setReplyDelay(5);
    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    // Press again while the second listing runs.
    QVERIFY(waitUntil([&] { return listCount == 2; }, 20000));
    QVERIFY(f.button("connectbotton")->isEnabled());
    f.button("connectbotton")->click();
    QCOMPARE(f.disp()->text(), QStringLiteral("Wait .."));
    QVERIFY(waitUntil([&] { return f.button("BackupBotton")->isEnabled(); }, 30000));
    QVERIFY(f.waitForDone());

    QVERIFY(f.boxes.boxes().isEmpty());
    // Every entry tagged with its own folder, once.
    QCOMPARE(describe(remoteList), expectedEntries);
    QCOMPARE(buttonStates(f), readyButtons);
    QCOMPARE(f.toolCommands().mid(f.toolCommands().lastIndexOf("USER root")), walkCommands);
}

void tst_Connection::disconnectDuringWalk()
{
    InstrumentFixture f;
    buildInstrument(f);
    f.server.setReplyDelay(5);
    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    QVERIFY(waitUntil([&] { return remoteList.size() >= 1 && listCount >= 2; }, 20000));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_deconbotton_clicked"));
    QVERIFY(remoteList.isEmpty());
    QVERIFY(transferList.isEmpty());
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());
    QCOMPARE(f.toolCommands().last(), QStringLiteral("QUIT"));
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(buttonStates(f), idleButtons);
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_Connection::disconnectWhenNothingConnected()
{
    InstrumentFixture f;
    remoteList.append({"A.DAT", 1, "ROOT"});
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_deconbotton_clicked"));
    QVERIFY(remoteList.isEmpty());
    QVERIFY(f.waitForDone());
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.server.sessionCount(), 0);
    QCOMPARE(buttonStates(f), idleButtons);
}

void tst_Connection::disconnectAfterWalk()
{
    InstrumentFixture f;
    buildInstrument(f);
    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone("deconbotton"));
    QVERIFY(f.waitForUnconnected());
    QVERIFY(remoteList.isEmpty());
    QCOMPARE(f.toolCommands().last(), QStringLiteral("QUIT"));
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(buttonStates(f), idleButtons);
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_Connection::folderDialog_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("folder chosen") << false;
    QTest::newRow("cancelled after an earlier choice") << true;
}

void tst_Connection::folderDialog()
{
    QFETCH(bool, cancel);
    InstrumentFixture f;
    FileDialogResponder responder(cancel ? QString() : f.localDir.path());
    f.localpath()->setText(QStringLiteral("/earlier/choice"));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_actionCartella_triggered"));
    QCOMPARE(responder.dialogsAnswered(), 1);
    QVERIFY(!responder.lastHadParent());
    QCOMPARE(f.localpath()->text(), cancel ? QString() : f.localDir.path());

    if (cancel) {
        f.button("connectbotton")->click();
        QCOMPARE(f.boxes.boxes().size(), 1);
        QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("PATH ERROR"));
    }
}

void tst_Connection::traceLines()
{
    InstrumentFixture f;
    buildInstrument(f);
    capturedDebugLines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    const bool walked = f.connectAndWalk();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(walked);
    QVERIFY(capturedDebugLines.contains(QStringLiteral("io sono lo stato:  4")));
    QVERIFY(capturedDebugLines.contains(QStringLiteral("dolist \"INIE91.CFG\" 5")));
    // The listing counter prints the value before its increment.
    QVERIFY(capturedDebugLines.contains(QStringLiteral("4")));
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
