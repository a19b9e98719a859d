// Connecting to the instrument: the login, the listing walk, the state
// display, the error boxes and the choice of the local folder.

#include "filedialogresponder.h"
#include "eventwait.h"
#include "instrumentfixture.h"
#include "scriptedftpserver.h"

#include "connection/instrumentendpoint.h"
#include "ftpclient.h"
#include "transfer/instrumentlayout.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QLabel>
#include <QLoggingCategory>
#include <QLineEdit>
#include <QPushButton>
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
    writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), QByteArray(100, 'a'));
    writeFile(f.instrumentPath("DATA/IPA_BD1/SAME.DAT"), QByteArray(7, 's'));
    writeFile(f.instrumentPath("DATA/IPA_BD1/SUB/INNER.DAT"), QByteArray(3, 'i'));
    writeFile(f.instrumentPath("DATA/IPS_BD1/SAME.DAT"), QByteArray(11, 'S'));
    writeFile(f.instrumentPath("DATA/IPS_BD1/EMPTY.DAT"), QByteArray());
    writeFile(f.instrumentPath("TEXT/X.TXT"), QByteArray(5, 'x'));
    writeFile(f.instrumentPath("FONTS/F.FNT"), QByteArray(9, 'f'));
    writeFile(f.instrumentPath("INIE91.CFG"), QByteArray(13, 'c'));
    writeFile(f.instrumentPath("R9DIGIT"), QByteArray(2, 'r'));
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

const QList<bool> idleButtons = {true, false, false, false, false, false};
const QList<bool> readyButtons = {false, true, true, true, true, true};

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
    void walk();
    void emptyInstrumentEndsTheWalk();
    void connectionRefused();
    void emptyFolderRefused_data();
    void emptyFolderRefused();
    void connectPressedTwiceDuringWalk();
    void disconnectButton_data();
    void disconnectButton();
    void cancelledFolderDialog();
    void traceLines();
};

void tst_Connection::walk()
{
    InstrumentFixture f;
    buildInstrument(f);
    QStringList labels;
    QList<QList<bool>> buttonsAtStates;
    // Connected after the window, so it sees what the window has just shown.
    connect(ftpClient, &FtpClient::stateChanged, this, [&](int) {
        labels << f.disp()->text();
        buttonsAtStates << f.buttonStates();
    });
    // An operation started before the last listing is whole would work
    // from part of it: the buttons stay off while its entries arrive.
    QList<bool> buttonsBeforeRootListing;
    QList<QList<bool>> buttonsAtRootEntries;
    connect(ftpClient, &FtpClient::commandStarted, this, [&] {
        if (ftpClient->currentCommand() == FtpClient::List && f.state().listCount == 5)
            buttonsBeforeRootListing = f.buttonStates();
    });
    connect(ftpClient, &FtpClient::listInfo, this, [&] {
        if (f.state().listCount == 5)
            buttonsAtRootEntries << f.buttonStates();
    });

    // Blanks are a folder name as good as any for connecting.
    f.localpath()->setText(QStringLiteral("   "));
    f.button("connectbotton")->click();
    QCOMPARE(f.disp()->text(), QStringLiteral("Wait .."));
    QVERIFY(f.waitForDone());

    QCOMPARE(labels, QStringList({"HostLookup", "Connecting", "Connected", "LoggedIn"}));
    for (const QList<bool> &states : buttonsAtStates)
        QCOMPARE(states, idleButtons);
    QCOMPARE(buttonsBeforeRootListing, idleButtons);
    QVERIFY(!buttonsAtRootEntries.isEmpty());
    for (const QList<bool> &states : buttonsAtRootEntries)
        QCOMPARE(states, idleButtons);
    QCOMPARE(f.buttonStates(), readyButtons);
    QCOMPARE(f.toolCommands(), walkCommands);
    QCOMPARE(describe(f.state().remoteList), expectedEntries);
    QCOMPARE(f.state().listCount, 5);
    QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_Connection::emptyInstrumentEndsTheWalk()
{
    InstrumentFixture f;
    // Every folder change accepted, every listing empty.
    ScriptedFtpServer silent;
    QVERIFY(silent.listen());
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), silent.port()};
    f.localpath()->setText(f.localDir.path());
    QVERIFY(f.clickAndWaitForDone("connectbotton"));
    QVERIFY(f.boxes.boxes().isEmpty());
    QCOMPARE(f.state().listCount, 5);
    QVERIFY(f.state().remoteList.isEmpty());
    // An emptied instrument is what Data Restore and Update are for.
    QCOMPARE(f.buttonStates(), readyButtons);
    QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
}

void tst_Connection::connectionRefused()
{
    InstrumentFixture f;
    f.server.close();
    // Bound but not listening: refused, and no other server can take the port meanwhile.
    QTcpSocket closed;
    QVERIFY(closed.bind(QHostAddress::LocalHost, 0));
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), closed.localPort()};
    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    QVERIFY(f.boxes.waitForCount(1));
    QVERIFY(f.waitForDone());
    QCOMPARE(f.boxes.texts(),
             QStringList{"FTP Error: Connecting to host failed:\nConnection refused to host 127.0.0.1"});
    QCOMPARE(ftpClient->error(), FtpClient::ConnectionRefused);
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QCOMPARE(f.buttonStates(), idleButtons);
}

void tst_Connection::emptyFolderRefused_data()
{
    QTest::addColumn<QByteArray>("button");
    for (const char *button : {"connectbotton", "BackupBotton", "BackupBotton_2", "BackupBotton_3", "updateButton"})
        QTest::newRow(button) << QByteArray(button);
}

void tst_Connection::emptyFolderRefused()
{
    QFETCH(QByteArray, button);
    InstrumentFixture f;
    buildInstrument(f);
    if (button != "connectbotton") {
        QVERIFY(f.connectAndWalk());
        f.localpath()->clear();
    }
    const int commands = f.server.commandLog().size();
    const QList<bool> buttons = f.buttonStates();
    f.button(button.constData())->click();
    QCOMPARE(f.boxes.boxes(), (QList<MessageBoxRecorder::Box>{{"PATH ERROR", "Select a Valid Folder"}}));
    QVERIFY(f.state().transferList.isEmpty());
    QVERIFY(!ftpClient->hasPendingCommands());
    QCOMPARE(f.server.commandLog().size(), commands);
    QCOMPARE(f.server.sessionCount(), button == "connectbotton" ? 0 : 1);
    QCOMPARE(f.buttonStates(), buttons);
}

void tst_Connection::connectPressedTwiceDuringWalk()
{
    InstrumentFixture f;
    buildInstrument(f);
    f.server.setReplyDelay(5);
    f.localpath()->setText(f.localDir.path());
    f.button("connectbotton")->click();
    // Press again while the second listing runs.
    QVERIFY(waitUntil([&] { return f.state().listCount == 2; }, 20000));
    QVERIFY(f.button("connectbotton")->isEnabled());
    f.button("connectbotton")->click();
    QCOMPARE(f.disp()->text(), QStringLiteral("Wait .."));
    QVERIFY(waitUntil([&] { return f.button("BackupBotton")->isEnabled(); }, 30000));
    QVERIFY(f.waitForDone());

    QVERIFY(f.boxes.boxes().isEmpty());
    // Every entry tagged with its own folder, once.
    QCOMPARE(describe(f.state().remoteList), expectedEntries);
    QCOMPARE(f.buttonStates(), readyButtons);
    QCOMPARE(f.toolCommands().mid(f.toolCommands().lastIndexOf("USER root")), walkCommands);
}

void tst_Connection::disconnectButton_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("nothing connected") << "never";
    QTest::newRow("during the walk") << "walk";
    QTest::newRow("after the walk") << "after";
}

void tst_Connection::disconnectButton()
{
    QFETCH(QString, when);
    InstrumentFixture f;
    buildInstrument(f);
    f.server.setReplyDelay(5);
    f.localpath()->setText(f.localDir.path());
    if (when == QLatin1String("never")) {
        f.state().remoteList.append({"A.DAT", 1, "ROOT"});
    } else if (when == QLatin1String("walk")) {
        f.button("connectbotton")->click();
        QVERIFY(waitUntil([&] { return f.state().remoteList.size() >= 1 && f.state().listCount >= 2; }, 20000));
    } else {
        QVERIFY(f.connectAndWalk());
    }
    // The button is off while nothing is connected: reach its handler directly.
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_deconbotton_clicked"));
    QVERIFY(f.state().remoteList.isEmpty());
    QVERIFY(f.state().transferList.isEmpty());
    QVERIFY(f.waitForDone());
    QVERIFY(f.waitForUnconnected());
    QCOMPARE(f.server.sessionCount(), when == QLatin1String("never") ? 0 : 1);
    if (when != QLatin1String("never")) {
        QCOMPARE(f.toolCommands().last(), QStringLiteral("QUIT"));
        QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    }
    QCOMPARE(f.buttonStates(), idleButtons);
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_Connection::cancelledFolderDialog()
{
    // The dialog is a window of its own; cancelling it forgets an earlier choice.
    InstrumentFixture f;
    FileDialogResponder responder;
    f.localpath()->setText(QStringLiteral("/earlier/choice"));
    QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_actionCartella_triggered"));
    QCOMPARE(responder.dialogsAnswered(), 1);
    QVERIFY(!responder.lastHadParent());
    QCOMPARE(f.localpath()->text(), QString());
    f.button("connectbotton")->click();
    QCOMPARE(f.boxes.boxes(), (QList<MessageBoxRecorder::Box>{{"PATH ERROR", "Select a Valid Folder"}}));
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
