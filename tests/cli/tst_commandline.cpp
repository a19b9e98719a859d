// The command line: its arguments, that each command sends what the window's
// button sends and leaves the same files on both sides, compare, and the
// program itself run with no display, against the stand-in's program and
// pyftpdlib, stopped by a signal.

#include "tests/support/eventwait.h"
#include "tests/app/instrumentfixture.h"

#include "app/commandline.h"
#include "ftp/ftpclient.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const FileTree exampleInstrument = {
    {"DATA/IPA_BD1/A.DAT", randomBytes(3000, 1)}, {"DATA/IPA_BD1/B.DAT", randomBytes(70000, 2)},
    {"DATA/IPS_BD1/C.DAT", randomBytes(10, 3)},   {"TEXT/X.TXT", randomBytes(500, 4)},
    {"FONTS/F.FNT", randomBytes(800, 5)},         {"INIE91.CFG", randomBytes(120, 6)},
    {"Z.CFG", QByteArray()},
};
const FileTree dataSet = {
    {"DATA/IPA_BD1/A.DAT", randomBytes(5000, 11)}, {"DATA/IPA_BD1/b.dat", randomBytes(0, 12)},
    {"DATA/IPS_BD1/S1.DAT", randomBytes(777, 13)}, {"INIE91.CFG", randomBytes(90, 14)},
    {"INIE91.FLS", randomBytes(91, 15)},
};

FileTree operator+(FileTree tree, const FileTree &more)
{
    tree.insert(more);
    return tree;
}

const FileTree updateSet = dataSet + FileTree{
    {"TEXT/LANG_EN.TXT", randomBytes(300, 21)}, {"FONTS/F.FNT", randomBytes(40, 22)},
    {"COMMANDS.TXT", randomBytes(41, 23)},      {"R9DIGIT", randomBytes(42, 24)},
    {"STARTPAGE", randomBytes(43, 25)},
};
const FileTree latin1Instrument = exampleInstrument + FileTree{{QStringLiteral("TEXT/Zo\u00eb.TXT"), "beyond ASCII"}};
// A file that arrives in several reads.
const FileTree compareExtra = {{"FONTS/BIG.FNT", randomBytes(1500000, 31)}};

void writeTree(const QString &root, const FileTree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        writeFile(root + u'/' + it.key(), it.value());
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The command line in this process, against a server on 127.0.0.1:port.
Run runCommandLine(const QStringList &arguments, quint16 port, int terminalWidth = 0)
{
    const ParsedArguments parsed = parseArguments(QStringList{"r9-update"} + arguments, {"127.0.0.1", port});
    if (!parsed.request)
        return {parsed.status, parsed.output, parsed.error};
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Run run;
    {
        CommandLine commandLine(*parsed.request, &out, &err, terminalWidth);
        QObject::connect(&commandLine, &CommandLine::finished, [&run](int status) { run.status = status; });
        commandLine.start();
        if (!waitUntil([&run] { return run.status >= 0; }, 60000))
            qWarning("the command line did not end");
    }
    return {run.status, QString::fromUtf8(out.data()), QString::fromUtf8(err.data())};
}

QStringList temporariesBelow(const QString &root)
{
    return filesBelow(root).filter(QRegularExpression(QStringLiteral("(^|/)\\.r9-part-")));
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void arguments_data();
    void arguments();
    void sameAsTheButton_data();
    void sameAsTheButton();
    void compare_data();
    void compare();
    void executable_data();
    void executable();
    void stoppedBySignal_data();
    void stoppedBySignal();

private:
    QProcessEnvironment m_environment;
};

void tst_CommandLine::initTestCase()
{
    QVERIFY(QFileInfo(QStringLiteral(R9_UPDATE_EXECUTABLE)).isExecutable());
    // As over SSH: no display, and nothing that names a Qt platform.
    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_LOGGING_RULES", "ftp_proxy", "FTP_PROXY"})
        m_environment.remove(QString::fromLatin1(name));
}

// --- Arguments ----------------------------------------------------------------------------

void tst_CommandLine::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("compiledHost");
    QTest::addColumn<bool>("commandLine");   // not the window
    QTest::addColumn<int>("status");         // -1: runs
    QTest::addColumn<QString>("says");       // within what is printed, or the folder asked for

    const QString loopback = QStringLiteral("127.0.0.1");
    const QString field = QStringLiteral("192.168.100.9");
    QTest::newRow("no argument: the window") << QStringList() << loopback << false << -1 << QString();
    QTest::newRow("list") << QStringList{"list"} << loopback << true << -1 << QString();
    QTest::newRow("a relative folder is made absolute") << QStringList{"clone", "sub/../pc"} << loopback << true << -1
                                                        << QDir::current().filePath(QStringLiteral("pc"));
    QTest::newRow("--port on a loopback build") << QStringList{"--port", "2999", "backup", "/tmp/x"} << loopback << true
                                                << -1 << QStringLiteral("/tmp/x");
    QTest::newRow("--help") << QStringList{"--help"} << field << true << 0 << QStringLiteral("Exit status:");
    QTest::newRow("--version") << QStringList{"--version"} << field << true << 0 << QStringLiteral("r9-update 2.0.0\n");
    QTest::newRow("a misspelt command") << QStringList{"bakcup", "/tmp"} << loopback << true << 64
                                        << QStringLiteral("Unknown command: bakcup");
    QTest::newRow("an empty folder name") << QStringList{"update", ""} << loopback << true << 64
                                          << QStringLiteral("Select a Valid Folder");
    // A field build can never be pointed at another address or port.
    QTest::newRow("--port on a field build") << QStringList{"list", "--port", "2121"} << field << true << 64
                                             << QStringLiteral("Unknown option 'port'");
}

void tst_CommandLine::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, compiledHost);
    QFETCH(bool, commandLine);
    QFETCH(int, status);
    QFETCH(QString, says);

    const QStringList all = QStringList{"r9-update"} + arguments;
    QCOMPARE(wantsCommandLine(all), commandLine);
    if (!commandLine)
        return;
    const ParsedArguments parsed = parseArguments(all, {compiledHost, 21});
    if (status < 0) {
        QVERIFY2(parsed.request, qPrintable(parsed.error));
        QCOMPARE(parsed.request->folder, says);
        QCOMPARE(parsed.request->endpoint.port, quint16(arguments.contains("--port") ? 2999 : 21));
        return;
    }
    QVERIFY(!parsed.request);
    QCOMPARE(parsed.status, status);
    const QString printed = status == 0 ? parsed.output : parsed.error;
    QVERIFY2(printed.contains(says), qPrintable(printed));
    // --port is offered only where it is taken.
    QVERIFY(!parsed.output.contains(QLatin1String("--port")));
}

// --- Each command against the stand-in, beside the window's button ------------------------

void tst_CommandLine::sameAsTheButton_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<FileTree>("instrument");
    QTest::addColumn<FileTree>("local");
    QTest::addColumn<QStringList>("fault");   // refuse VERB CODE FILE, lie FILE SIZE, or rate BYTES_PER_S
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");         // {DIR}: the local folder
    QTest::addColumn<int>("fileLines");       // of the files that ended, on standard error
    QTest::addColumn<int>("terminalWidth");

    QTest::newRow("backup") << "backup" << QByteArray("BackupBotton_2") << exampleInstrument << FileTree()
                            << QStringList() << 0
                            << "Backup Completed · 4 files · Data Restore will refuse this folder: INIE91.FLS is not on "
                               "the instrument\n" << 4 << 0;
    QTest::newRow("clone, a name beyond ASCII, over earlier copies")
        << "clone" << QByteArray("BackupBotton") << latin1Instrument << FileTree{{"TEXT/X.TXT", "earlier"}}
        << QStringList() << 0 << "Backup Completed · 8 files\n" << 8 << 0;
    QTest::newRow("clone, progress on a terminal 40 columns wide")
        << "clone" << QByteArray("BackupBotton") << latin1Instrument << FileTree() << QStringList{"rate", "400000"} << 0
        << "Backup Completed · 8 files\n" << 0 << 40;
    QTest::newRow("restore") << "restore" << QByteArray("BackupBotton_3") << exampleInstrument << dataSet
                             << QStringList() << 0 << "Update Completed · 5 files\n" << 5 << 0;
    QTest::newRow("update") << "update" << QByteArray("updateButton") << exampleInstrument << updateSet
                            << QStringList() << 0 << "Update Completed · 10 files\n" << 10 << 0;
    QTest::newRow("backup, a file listed longer than it is")
        << "backup" << QByteArray("BackupBotton_2") << exampleInstrument << FileTree()
        << QStringList{"lie", "B.DAT", "90000"} << 1 << "Backup Incomplete · 1 of 4 files missing\n  DATA/IPA_BD1/B.DAT\n"
        << 4 << 0;
    QTest::newRow("clone, a download refused")
        << "clone" << QByteArray("BackupBotton") << exampleInstrument << FileTree()
        << QStringList{"refuse", "RETR", "550", "C.DAT"} << 2
        << "FTP Error: Downloading file C.DAT failed:\n550 Requested action not taken. File unavailable.\n"
           "Backup Incomplete · 5 of 7 files missing\n" << 2 << 0;
    // Nothing in FTP confirms a store: the instrument's listing afterwards does.
    QTest::newRow("update to an instrument that keeps 100 bytes of each file, and says 226")
        << "update" << QByteArray("updateButton") << exampleInstrument << updateSet << QStringList{"short", "100"} << 1
        << "File Update Incomplete · 3 of 10 files missing\n"
           "  DATA/IPA_BD1/A.DAT (the instrument kept 100 of 5,000 bytes)\n"
           "  DATA/IPS_BD1/S1.DAT (the instrument kept 100 of 777 bytes)\n"
           "  TEXT/LANG_EN.TXT (the instrument kept 100 of 300 bytes)\n" << 10 << 0;
    QTest::newRow("update, a data set only") << "update" << QByteArray("updateButton") << exampleInstrument << dataSet
                                             << QStringList() << 2
                                             << "Incorrect file in Selected Directory\na complete file set holds DATA, "
                                                "TEXT, FONTS, COMMANDS.TXT, INIE91.CFG, INIE91.FLS and R9DIGIT; missing: "
                                                "TEXT, FONTS, COMMANDS.TXT, R9DIGIT\n" << 0 << 0;
    QTest::newRow("backup, a file where DATA goes") << "backup" << QByteArray("BackupBotton_2") << exampleInstrument
        << FileTree{{"DATA", "a file"}} << QStringList() << 2
        << "PATH ERROR: Not a folder of its own (a link, or not a folder):\n{DIR}/DATA\n" << 0 << 0;
}

void tst_CommandLine::sameAsTheButton()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, button);
    QFETCH(FileTree, instrument);
    QFETCH(FileTree, local);
    QFETCH(QStringList, fault);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(int, fileLines);
    QFETCH(int, terminalWidth);

    const auto prepare = [&](InstrumentFixture &f) {
        writeTree(f.instrumentDir.path(), instrument);
        writeTree(f.localDir.path(), local);
        if (fault.value(0) == QLatin1String("refuse"))
            f.server.refuseCommand(fault.at(1), fault.at(2).toInt(), fault.at(3));
        else if (fault.value(0) == QLatin1String("lie"))
            f.server.reportWrongSize(fault.at(1), fault.at(2).toLongLong());
        else if (fault.value(0) == QLatin1String("rate"))
            f.server.setRateLimit(fault.at(1).toLongLong());
        else if (fault.value(0) == QLatin1String("short"))
            f.server.storeOnlyFirst(fault.at(1).toLongLong());
    };

    // The window, as a technician uses it: Connect, the button, and
    // Disconnect if the connection is still open after it.
    QStringList buttonCommands;
    FileTree buttonInstrument;
    FileTree buttonLocal;
    QString barText;
    {
        InstrumentFixture f;
        prepare(f);
        f.localpath()->setText(f.localDir.path());
        QVERIFY(f.clickAndWaitForDone("connectbotton", 30000));
        if (f.button(button.constData())->isEnabled()) {
            f.button(button.constData())->click();
            QVERIFY(f.waitForDone());
        }
        if (ftpClient->state() != FtpClient::Unconnected)
            QVERIFY(QMetaObject::invokeMethod(f.window.get(), "on_deconbotton_clicked"));
        QVERIFY(f.waitForUnconnected());
        buttonCommands = f.toolCommands();
        buttonInstrument = readTree(f.instrumentDir.path());
        buttonLocal = readTree(f.localDir.path());
        barText = f.bar()->text();
    }

    InstrumentFixture f;
    prepare(f);
    const Run run = runCommandLine({command, f.localDir.path()}, f.server.serverPort(), terminalWidth);
    QCOMPARE(run.status, status);
    QCOMPARE(run.out, QString(out).replace(QLatin1String("{DIR}"), f.localDir.path()));
    QCOMPARE(f.toolCommands(), buttonCommands);
    // The window's bar keeps the result in the same words.
    const QStringList summary = run.out.split(u'\n').filter(QStringLiteral(" · "));
    if (!summary.isEmpty())
        QCOMPARE(barText, summary.first());
    QCOMPARE(readTree(f.instrumentDir.path()), buttonInstrument);
    QCOMPARE(readTree(f.localDir.path()), buttonLocal);
    QVERIFY(temporariesBelow(f.localDir.path()).isEmpty());

    if (terminalWidth == 0) {
        QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
        // Downloads that arrived are then put on disk, which is told.
        const bool saves = fileLines > 0 && (command == QLatin1String("backup") || command == QLatin1String("clone"));
        QCOMPARE(lines.removeAll(command + QStringLiteral("  Saving to disk \u2026")), qsizetype(saves ? 1 : 0));
        QCOMPARE(lines.size(), fileLines);
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines.at(i).startsWith(QStringLiteral("%1  file %2 of ").arg(command).arg(i + 1)),
                     qPrintable(lines.at(i)));
    } else {
        // One line drawn over and over, never wider than the terminal.
        QVERIFY(!run.err.contains(u'\n'));
        QVERIFY2(run.err.contains(QStringLiteral("%1  file ").arg(command)), qPrintable(run.err));
        for (const QString &drawn : run.err.split(u'\r'))
            QVERIFY2(drawn.size() < terminalWidth, qPrintable(drawn));
    }
}

// --- compare --------------------------------------------------------------------------------

void tst_CommandLine::compare_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<FileTree>("pcChanges");       // written over the clone; an empty content removes
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("rows");         // folder|name|instrument|PC|result, each a line of the table
    QTest::addColumn<QString>("summary");

    const QStringList none;
    const QStringList content = {"--content"};
    QByteArray oneByte = latin1Instrument.value("DATA/IPA_BD1/B.DAT");
    oneByte[40000] = char(oneByte.at(40000) ^ 1);
    QByteArray firstByte = latin1Instrument.value("TEXT/X.TXT");
    firstByte[0] = char(firstByte.at(0) ^ 1);
    // Past the first read of the data connection, which is 512 KiB.
    QByteArray lateByte = compareExtra.value("FONTS/BIG.FNT");
    lateByte[1000000] = char(lateByte.at(1000000) ^ 0x80);

    QTest::newRow("identical, byte for byte, a leftover temporary on the PC")
        << content << FileTree{{"DATA/IPA_BD1/.r9-part-abcdefgh", "partial"}} << 0
        << QStringList{QStringLiteral("TEXT|Zo\u00eb.TXT|12|12|same")} << "Identical: 9 files, byte for byte";
    QTest::newRow("a size changed") << none << FileTree{{"TEXT/X.TXT", "longer or shorter"}} << 1
                                    << QStringList{"TEXT|X.TXT|500|17|differs", "FONTS|F.FNT|800|800|same"}
                                    << "Different: 1 differs, 0 only on instrument, 0 only on PC; 8 same";
    QTest::newRow("a byte changed, byte for byte") << content << FileTree{{"DATA/IPA_BD1/B.DAT", oneByte}} << 1
        << QStringList{"DATA/IPA_BD1|B.DAT|70000|70000|differs (content from byte 40000)",
                       "DATA/IPA_BD1|A.DAT|3000|3000|same"}
        << "Different: 1 differs, 0 only on instrument, 0 only on PC; 8 same";
    QTest::newRow("the very first byte changed") << content << FileTree{{"TEXT/X.TXT", firstByte}} << 1
        << QStringList{"TEXT|X.TXT|500|500|differs (content from byte 0)"}
        << "Different: 1 differs, 0 only on instrument, 0 only on PC; 8 same";
    QTest::newRow("a byte changed past the first read") << content << FileTree{{"FONTS/BIG.FNT", lateByte}} << 1
        << QStringList{"FONTS|BIG.FNT|1500000|1500000|differs (content from byte 1000000)"}
        << "Different: 1 differs, 0 only on instrument, 0 only on PC; 8 same";
    QTest::newRow("missing on either side")
        << content << FileTree{{"INIE91.CFG", QByteArray()}, {"FONTS/NEW.FNT", "new"}, {"INIE91.FLS", "new"}} << 1
        << QStringList{"ROOT|INIE91.CFG|120|-|only on instrument", "FONTS|NEW.FNT|-|3|only on PC",
                       "ROOT|INIE91.FLS|-|3|only on PC"}
        << "Different: 0 differs, 1 only on instrument, 2 only on PC; 8 same";
}

void tst_CommandLine::compare()
{
    QFETCH(QStringList, options);
    QFETCH(FileTree, pcChanges);
    QFETCH(int, status);
    QFETCH(QStringList, rows);
    QFETCH(QString, summary);

    InstrumentFixture f;
    writeTree(f.instrumentDir.path(), latin1Instrument + compareExtra);
    writeTree(f.localDir.path(), latin1Instrument + compareExtra);
    for (auto it = pcChanges.cbegin(); it != pcChanges.cend(); ++it) {
        if (it.value().isEmpty())
            QVERIFY(QFile::remove(f.localPath(it.key())));
        else
            writeFile(f.localPath(it.key()), it.value());
    }
    const FileTree instrumentBefore = readTree(f.instrumentDir.path());
    const FileTree localBefore = readTree(f.localDir.path());

    const Run run = runCommandLine(QStringList{"compare", f.localDir.path()} + options, f.server.serverPort());
    QCOMPARE(run.status, status);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.last(), summary);
    for (const QString &row : rows) {
        QStringList cells = row.split(u'|');
        for (QString &cell : cells)
            cell = QRegularExpression::escape(cell);
        const QRegularExpression line(QStringLiteral("^") + cells.join(QStringLiteral("\\s+")) + u'$');
        QVERIFY2(!lines.filter(line).isEmpty(), qPrintable(row + u'\n' + run.out));
    }

    // Read-only on both sides: nothing sent but folder changes, listings
    // and (byte for byte) downloads, nothing changed anywhere.
    const QStringList sent = f.toolCommands();
    QVERIFY2(sent.filter(QRegularExpression(QStringLiteral("^(STOR|MKD) "))).isEmpty(), qPrintable(sent.join(u'\n')));
    QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^RETR "))).isEmpty(), options.isEmpty());
    QCOMPARE(sent.last(), QStringLiteral("QUIT"));
    QCOMPARE(readTree(f.instrumentDir.path()), instrumentBefore);
    QCOMPARE(readTree(f.localDir.path()), localBefore);
}

// --- The program, with no display --------------------------------------------------------

void tst_CommandLine::executable_data()
{
    QTest::addColumn<QString>("server");       // stand-in, pyftpdlib, or none listening
    QTest::addColumn<QStringList>("arguments"); // {DIR}: a folder holding `local`
    QTest::addColumn<FileTree>("local");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");         // a pattern found in standard output
    QTest::addColumn<FileTree>("instrumentAfter"); // empty: as before

    const QString standIn = QStringLiteral("stand-in");
    const QString pyftpdlib = QStringLiteral("pyftpdlib");
    const QStringList dir = {"{DIR}"};
    // The instrument switched off: its port refuses at once.
    QTest::newRow("nothing listening") << QStringLiteral("none") << QStringList{"list"} << FileTree() << 2
        << "^FTP Error: Connecting to host failed:\\nConnection refused to host 127\\.0\\.0\\.1\\n$" << FileTree();
    QTest::newRow("a folder that is a file") << standIn << QStringList{"clone", "{DIR}/INIE91.CFG"} << dataSet << 2
                                             << "PATH ERROR: Select a Valid Folder: " << FileTree();
    QTest::newRow("clone into a folder to be made") << standIn << QStringList{"clone", "{DIR}/NEW"} << FileTree()
                                                    << 0 << "^Backup Completed · 7 files\\n$" << FileTree();
    QTest::newRow("clone into a folder whose name is no UTF-8") << standIn << QStringList{"clone", "{LATIN1DIR}"}
                                                              << FileTree() << 0 << "^Backup Completed · 7 files\\n$"
                                                              << FileTree();
    QTest::newRow("stand-in: clone, with the trace") << standIn << QStringList{"clone", "--verbose"} + dir << FileTree()
                                                     << 0 << "^Backup Completed · 7 files\\n$" << FileTree();
    QTest::newRow("pyftpdlib: list") << pyftpdlib << QStringList{"list"} << FileTree() << 0
                                     << "\\nDATA/IPA_BD1 +B\\.DAT +70000\\n(.*\\n)*7 files\\n$" << FileTree();
    QTest::newRow("pyftpdlib: compare --content") << pyftpdlib << QStringList{"compare", "--content"} + dir
        << exampleInstrument << 0 << "\\nIdentical: 7 files, byte for byte\\n$" << FileTree();
    QTest::newRow("pyftpdlib: clone") << pyftpdlib << QStringList{"clone"} + dir << FileTree() << 0
                                      << "^Backup Completed · 7 files\\n$" << FileTree();
    QTest::newRow("pyftpdlib: restore") << pyftpdlib << QStringList{"restore"} + dir << dataSet << 0
                                        << "^Update Completed · 5 files\\n$" << exampleInstrument + dataSet;
    QTest::newRow("pyftpdlib: update") << pyftpdlib << QStringList{"update"} + dir << updateSet << 0
                                       << "^Update Completed · 10 files\\n$" << exampleInstrument + updateSet;
}

void tst_CommandLine::executable()
{
    QFETCH(QString, server);
    QFETCH(QStringList, arguments);
    QFETCH(FileTree, local);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(FileTree, instrumentAfter);

    // Names beyond ASCII are left to the in-process cases: pyftpdlib
    // carries names as UTF-8, the instrument as Latin-1.
    const FileTree instrument = exampleInstrument;
    QTemporaryDir instrumentDir;
    QTemporaryDir localDir;
    writeTree(instrumentDir.path(), instrument);
    writeTree(localDir.path(), local);
    // Either server runs as a program of its own, which ends when its
    // standard input (a pipe from this test) closes.
    QProcess serverProcess;
    const auto stopServer = qScopeGuard([&] { serverProcess.closeWriteChannel(); serverProcess.waitForFinished(10000); });
    QTcpSocket bound; // a port of its own that nothing listens on
    quint16 port = 0;
    if (server == QLatin1String("none")) {
        QVERIFY(bound.bind(QHostAddress::LocalHost, 0));
        port = bound.localPort();
    } else {
        const bool standIn = server == QLatin1String("stand-in");
        serverProcess.start(standIn ? QStringLiteral(R9_SIM_EXECUTABLE) : QStringLiteral("/usr/bin/python3"),
                            standIn ? QStringList{"--root", instrumentDir.path(), "--port", "0", "--exit-on-stdin-close"}
                                    : QStringList{PYFTPD_SERVER, instrumentDir.path()});
        static const QRegularExpression portLine(QStringLiteral("(PORT |listening on 127\\.0\\.0\\.1:)(\\d+)\n"));
        QByteArray said;
        QVERIFY2(waitUntil([&] {
            said += serverProcess.readAllStandardOutput();
            port = quint16(portLine.match(QString::fromUtf8(said)).captured(2).toUInt());
            return port || serverProcess.state() == QProcess::NotRunning;
        }, 30000) && port, serverProcess.readAllStandardError().constData());
    }
    arguments << QStringLiteral("--port") << QString::number(port);
    // A folder whose name is no UTF-8 ("caf\xe9", as Latin-1 wrote it):
    // given as those bytes, and looked at through a handle of this test's.
    const QByteArray latin1Folder = QFile::encodeName(localDir.path()) + "/caf\xe9";
    std::optional<int> latin1Handle;
    if (arguments.contains(QStringLiteral("{LATIN1DIR}"))) {
        QCOMPARE(::mkdir(latin1Folder.constData(), 0700), 0);
        latin1Handle = ::open(latin1Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(*latin1Handle >= 0);
    }
    const auto closeHandle = qScopeGuard([&] { if (latin1Handle) ::close(*latin1Handle); });
    arguments.replaceInStrings(QStringLiteral("{DIR}"), localDir.path());
    const QStringList named = arguments.filter(QRegularExpression(u'^' + QRegularExpression::escape(localDir.path())));
    const QString target = latin1Handle ? QStringLiteral("/proc/self/fd/%1").arg(*latin1Handle)
                                        : named.value(0, localDir.path());
    const bool madeHere = !QFileInfo::exists(target);

    QProcess process;
    QProcessEnvironment environment = m_environment;
    environment.insert(QStringLiteral("R9_DIR"), localDir.path());
    process.setProcessEnvironment(environment);
    if (latin1Handle) {
        // QProcess would encode the name as UTF-8: the shell passes the bytes.
        process.start(QStringLiteral("/bin/bash"),
                      QStringList{"-c", "exec \"$0\" \"${@/\\{LATIN1DIR\\}/$(printf '%s/caf\\351' \"$R9_DIR\")}\"",
                                  R9_UPDATE_EXECUTABLE} + arguments);
    } else {
        process.start(QStringLiteral(R9_UPDATE_EXECUTABLE), arguments);
    }
    QVERIFY(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == status, qPrintable(out + err));
    QVERIFY2(out.contains(QRegularExpression(says)), qPrintable(out + err));
    // The trace lines only with --verbose, the state as its number.
    QCOMPARE(err.contains(QLatin1String("io sono lo stato:  4\n")), arguments.contains("--verbose"));

    QCOMPARE(readTree(instrumentDir.path()), instrumentAfter.isEmpty() ? instrument : instrumentAfter);
    const QString command = arguments.value(0);
    if (command == QLatin1String("clone"))
        QCOMPARE(status == 0 ? readTree(target) : readTree(localDir.path()), status == 0 ? instrument : local);
    QCOMPARE(err.contains(QLatin1String("r9-update: made the folder ")), madeHere && status == 0);
    if (command == QLatin1String("backup")) {
        FileTree data;
        for (auto it = instrument.cbegin(); it != instrument.cend(); ++it) {
            if (it.key().startsWith(QLatin1String("DATA/")) || it.key() == QLatin1String("INIE91.CFG"))
                data.insert(it.key(), it.value());
        }
        QCOMPARE(readTree(localDir.path()), data);
    }
}

// --- Stopped mid-transfer --------------------------------------------------------------------

void tst_CommandLine::stoppedBySignal_data()
{
    QTest::addColumn<int>("signalNumber");
    // When the signal comes: "transfer" while B.DAT moves, "walk" while a
    // silent instrument holds the walk's first listing, "result" once the
    // outcome is printed and the close waits for a silent QUIT, "twice"
    // then and at once again; "none": no signal, the output closed at once;
    // "quit": no signal, the close waits for a silent QUIT.
    QTest::addColumn<QString>("moment");
    QTest::addColumn<int>("status");
    QTest::newRow("Ctrl+C mid-transfer") << int(SIGINT) << "transfer" << 130;
    QTest::newRow("SIGTERM mid-transfer") << int(SIGTERM) << "transfer" << 143;
    QTest::newRow("a dropped SSH session (SIGHUP) mid-transfer") << int(SIGHUP) << "transfer" << 129;
    QTest::newRow("Ctrl+C on a silent instrument") << int(SIGINT) << "walk" << 130;
    // Nothing during the close changes the outcome; a stop only cuts it short.
    QTest::newRow("Ctrl+C while the close of a complete clone waits") << int(SIGINT) << "result" << 0;
    QTest::newRow("Ctrl+C twice while the close of a complete clone waits") << int(SIGINT) << "twice" << 0;
    // As `clone DIR 2>&1 | head -2`: nothing reads the output any more.
    QTest::newRow("output closed mid-transfer, no signal") << 0 << "none" << 0;
    // The outcome does not wait for a QUIT that is never answered, nor
    // the run for longer than the close's 5 s.
    QTest::newRow("a complete clone whose QUIT is never answered, no signal") << 0 << "quit" << 0;
    // Nothing of the program runs: its lock and its temporary files stay.
    QTest::newRow("killed (SIGKILL) mid-transfer, then a run into the same folder") << int(SIGKILL) << "transfer" << -1;
}

void tst_CommandLine::stoppedBySignal()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, moment);
    QFETCH(int, status);
    const bool walk = moment == QLatin1String("walk");
    const bool whole = moment == QLatin1String("none") || moment == QLatin1String("result")
            || moment == QLatin1String("twice") || moment == QLatin1String("quit");
    InstrumentFixture f;
    writeTree(f.instrumentDir.path(), exampleInstrument);
    writeFile(f.localPath("DATA/IPA_BD1/B.DAT"), "earlier copy");
    // B.DAT takes some 17 s.
    if (!whole)
        f.server.setRateLimit(4096);
    if (walk)
        f.server.staySilentOn(QStringLiteral("LIST"));
    if (moment == QLatin1String("result") || moment == QLatin1String("twice") || moment == QLatin1String("quit"))
        f.server.staySilentOn(QStringLiteral("QUIT"));

    QProcess process;
    process.setProcessEnvironment(m_environment);
    const QStringList arguments = {"clone", f.localDir.path(), "--port", QString::number(f.server.serverPort())};
    if (moment == QLatin1String("none")) {
        process.start(QStringLiteral("/bin/bash"),
                      QStringList{"-c", "\"$@\" 2>&1 | head -2 >/dev/null; exit ${PIPESTATUS[0]}", "bash",
                                  R9_UPDATE_EXECUTABLE} + arguments);
    } else {
        process.start(QStringLiteral(R9_UPDATE_EXECUTABLE), arguments);
    }
    // Walk: the walk waits for its listing. Mid-transfer: A.DAT has arrived
    // and waits to be put in place with the next ones, and B.DAT is on its
    // way. Result: the outcome is out, the QUIT unanswered.
    QByteArray out;
    QVERIFY(signalNumber == 0 || waitUntil([&] {
        out += process.readAllStandardOutput();
        if (walk)
            return f.toolCommands().contains("LIST");
        if (whole)
            return out.contains("Backup Completed") && f.toolCommands().contains("QUIT");
        return f.toolCommands().contains("RETR B.DAT") && temporariesBelow(f.localDir.path()).size() == 2;
    }, 30000));
    if (signalNumber != 0)
        ::kill(pid_t(process.processId()), signalNumber);
    if (moment == QLatin1String("twice"))
        ::kill(pid_t(process.processId()), signalNumber);
    // Far sooner than the client's 30 s wait for an answer, and than the
    // close's own 5 s (unless that is what it waits for).
    QVERIFY(waitUntil([&] { return process.state() == QProcess::NotRunning; },
                      moment == QLatin1String("quit") ? 20000 : 4000));
    if (signalNumber == SIGKILL) {
        // The lock of a process that is gone holds nothing up: the next run
        // takes the folder over and clears the leftovers away.
        QVERIFY(QFileInfo::exists(f.localPath(".r9-update.lock")));
        QCOMPARE(temporariesBelow(f.localDir.path()).size(), 2);
        f.server.setRateLimit(0);
        QCOMPARE(runCommandLine({"clone", f.localDir.path()}, f.server.serverPort()).out,
                 QStringLiteral("Backup Completed · 7 files\n"));
        QCOMPARE(readTree(f.localDir.path()), exampleInstrument);
        return;
    }

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    out += process.readAllStandardOutput();
    if (!whole) {
        QVERIFY(process.readAllStandardError().contains("Interrupted"));
        QVERIFY(out.isEmpty());
    }
    // What arrived whole is in place, the earlier copy is untouched, and no
    // temporary file is left; the instrument heard a QUIT.
    if (whole) {
        QCOMPARE(readTree(f.localDir.path()), exampleInstrument);
    } else {
        const QStringList kept = walk ? QStringList{"DATA/IPA_BD1/B.DAT"}
                                      : QStringList{"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT"};
        QCOMPARE(filesBelow(f.localDir.path()), kept);
        QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/B.DAT")), QByteArray("earlier copy"));
        if (!walk)
            QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/A.DAT")), exampleInstrument.value("DATA/IPA_BD1/A.DAT"));
    }
    QVERIFY(waitUntil([&] { return f.toolCommands().last() == QLatin1String("QUIT"); }, 5000));
}

QTEST_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
