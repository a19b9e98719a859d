// The main window against the stand-in: its controls as built, the folder
// action, connecting (login, listing walk, state display), the refusal of an
// empty local folder, Disconnect while downloads are queued, a source that
// changes after it was queued, round trips through a second instrument with
// names beyond ASCII; and how a download is staged and put in place.

#include "tests/support/eventwait.h"
#include "tests/app/instrumentfixture.h"

#include "connection/instrumentendpoint.h"
#include "ftp/ftpclient.h"
#include "sim/samplegenerator.h"
#include "transfer/folderhandle.h"
#include "transfer/stagedbatch.h"
#include "transfer/stagedfile.h"
#include "transfer/transfertracker.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <mutex>
#include <tuple>

#include <dlfcn.h>

// The calls that make a staged file durable and put it in place, recorded
// in the order they are made (on whatever thread), while a test listens.
// The engine is linked into this program, so its calls come here first.
namespace {

std::mutex diskCallsMutex;
QStringList *diskCalls = nullptr;

void recordDiskCall(const char *call)
{
    const std::lock_guard<std::mutex> lock(diskCallsMutex);
    if (diskCalls)
        diskCalls->append(QLatin1String(call));
}

template <typename Function>
Function realCall(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {
int syncfs(int fd)
{
    recordDiskCall("sync");
    static const auto call = realCall<int (*)(int)>("syncfs");
    return call(fd);
}
int fsync(int fd)
{
    recordDiskCall("sync");
    static const auto call = realCall<int (*)(int)>("fsync");
    return call(fd);
}
int fdatasync(int fd)
{
    recordDiskCall("sync");
    static const auto call = realCall<int (*)(int)>("fdatasync");
    return call(fd);
}
int rename(const char *from, const char *to)
{
    recordDiskCall("rename");
    static const auto call = realCall<int (*)(const char *, const char *)>("rename");
    return call(from, to);
}
int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    recordDiskCall("rename");
    static const auto call = realCall<int (*)(int, const char *, int, const char *)>("renameat");
    return call(fromFolder, from, toFolder, to);
}
}

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

// The instrument of the worked examples.
void buildExampleInstrument(InstrumentFixture &f)
{
    writeFile(f.instrumentPath("DATA/IPA_BD1/A.DAT"), randomBytes(3000, 1));
    writeFile(f.instrumentPath("DATA/IPA_BD1/B.DAT"), randomBytes(70000, 2));
    writeFile(f.instrumentPath("DATA/IPS_BD1/C.DAT"), randomBytes(10, 3));
    writeFile(f.instrumentPath("TEXT/X.TXT"), randomBytes(500, 4));
    writeFile(f.instrumentPath("FONTS/F.FNT"), randomBytes(800, 5));
    writeFile(f.instrumentPath("INIE91.CFG"), randomBytes(120, 6));
    writeFile(f.instrumentPath("Z.CFG"), randomBytes(0, 7));
}

// Writes `content` the way the FTP client does: opened by the writer, then
// in pieces.
std::unique_ptr<StagedFile> staged(const QString &folder, const QString &name, const QByteArray &content,
                                   int piece = 4096)
{
    QString why;
    auto file = std::make_unique<StagedFile>(FolderHandle::openBase(folder, &why), name);
    if (!file->open(QIODevice::WriteOnly))
        return nullptr;
    for (qsizetype at = 0; at < content.size(); at += piece)
        file->write(content.constData() + at, qMin<qsizetype>(piece, content.size() - at));
    file->close();
    return file;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void folderActionReachedThreeWays_data();
    void folderActionReachedThreeWays();
    void walk();
    void emptyFolderRefused_data();
    void emptyFolderRefused();
    void disconnectWhileDownloadsQueued_data();
    void disconnectWhileDownloadsQueued();
    void fileChangedSizeIsIncomplete();
    void roundTrip_data();
    void roundTrip();
    void putInPlace_data();
    void putInPlace();
};

void tst_MainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");

    QTest::newRow("disp") << "disp" << "QLabel" << QRect(0, 160, 401, 21) << true << "";
    QTest::newRow("connectbotton") << "connectbotton" << "QPushButton" << QRect(10, 10, 81, 41) << true << "Connect";
    QTest::newRow("deconbotton") << "deconbotton" << "QPushButton" << QRect(310, 10, 81, 41) << false << "Disconnect";
    QTest::newRow("localpath") << "localpath" << "QLineEdit" << QRect(100, 30, 201, 20) << true << "";
    QTest::newRow("label") << "label" << "QLabel" << QRect(170, 10, 91, 16) << true << "Local Start Dir";
    QTest::newRow("updateButton") << "updateButton" << "QPushButton" << QRect(10, 70, 91, 41) << false << "Update/Restore";
    QTest::newRow("FtpBar") << "FtpBar" << "QProgressBar" << QRect(10, 130, 401, 23) << true << "";
    QTest::newRow("BackupBotton") << "BackupBotton" << "QPushButton" << QRect(110, 70, 91, 41) << false << "Clone R9(on PC)";
    QTest::newRow("BackupBotton_2") << "BackupBotton_2" << "QPushButton" << QRect(210, 70, 101, 41) << false << "Data Backup(PC)";
    QTest::newRow("BackupBotton_3") << "BackupBotton_3" << "QPushButton" << QRect(320, 70, 91, 41) << false << "Data Restore";
    QTest::newRow("label_2") << "label_2" << "QLabel" << QRect(230, 190, 151, 16) << true << "TQ7H524006    V 2.0 B";
}

void tst_MainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);

    InstrumentFixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("R9_update"));
    auto *widget = f.window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className.toLatin1());
    QCOMPARE(widget->parentWidget(), f.window->centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->isEnabled(), enabled);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), text);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(edit->text(), text);
}

void tst_MainWindow::folderActionReachedThreeWays_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("menu entry") << "menu";
    QTest::newRow("toolbar button") << "toolbar";
    QTest::newRow("Ctrl+O") << "shortcut";
}

void tst_MainWindow::folderActionReachedThreeWays()
{
    QFETCH(QString, way);
    InstrumentFixture f;
    R9_update *window = f.window.get();
    const auto child = [window](const char *name) { return window->findChild<QObject *>(QLatin1String(name)); };
    // Answers the folder dialog, a modal window of its own, with `chosen`:
    // the folder it shows, with nothing typed or selected. (selectFile()
    // would type the name into a field that may hold the focus by then, and
    // the dialog would then answer with the parent.)
    QTemporaryDir chosen;
    int answered = 0;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            ++answered;
            dialog->setDirectory(chosen.path());
            if (auto *typed = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                typed->clear();
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    answer.start(10);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));

    if (way == QLatin1String("menu")) {
        qobject_cast<QMenu *>(child("menu_File"))->actions().at(0)->trigger();
    } else if (way == QLatin1String("toolbar")) {
        auto *toolBar = qobject_cast<QToolBar *>(child("mainToolBar"));
        auto *button = qobject_cast<QToolButton *>(toolBar->widgetForAction(qobject_cast<QAction *>(child("actionCartella"))));
        QVERIFY(button);
        button->click();
    } else {
        QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.localpath()->text(), chosen.path(), 10000);
    QCOMPARE(answered, 1);
}

void tst_MainWindow::walk()
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
    QStringList labelsAtRootEntries;
    connect(ftpClient, &FtpClient::commandStarted, this, [&] {
        if (ftpClient->currentCommand() == FtpClient::List && f.state().listCount() == 5)
            buttonsBeforeRootListing = f.buttonStates();
    });
    connect(ftpClient, &FtpClient::listInfo, this, [&] {
        if (f.state().listCount() == 5) {
            buttonsAtRootEntries << f.buttonStates();
            labelsAtRootEntries << f.disp()->text();
        }
    });
    // Service scripts read the trace: each entry of the top folder's listing
    // shows the logged-in state again, label and trace line alike.
    static int stateLines = 0;
    static QLoggingCategory::CategoryFilter previousFilter = nullptr;
    stateLines = 0;
    previousFilter = QLoggingCategory::installFilter([](QLoggingCategory *category) {
        if (previousFilter)
            previousFilter(category);
        if (qstrcmp(category->categoryName(), "default") == 0)
            category->setEnabled(QtDebugMsg, true);
    });
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        if (text == QLatin1String("io sono lo stato:  4"))
            ++stateLines;
    });
    const auto restore = qScopeGuard([previous] {
        qInstallMessageHandler(previous);
        QLoggingCategory::installFilter(previousFilter);
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
    // DATA, FONTS, TEXT, INIE91.CFG, R9DIGIT; and the login.
    QCOMPARE(buttonsAtRootEntries.size(), 5);
    for (const QList<bool> &states : buttonsAtRootEntries)
        QCOMPARE(states, idleButtons);
    QCOMPARE(labelsAtRootEntries, QStringList(5, QStringLiteral("LoggedIn")));
    QCOMPARE(stateLines, 1 + 5);
    QCOMPARE(f.buttonStates(), readyButtons);
    QCOMPARE(f.toolCommands(), walkCommands);
    QCOMPARE(describe(f.state().remoteList()), expectedEntries);
    QCOMPARE(f.state().listCount(), 5);
    QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
    QVERIFY(f.boxes.boxes().isEmpty());
}

void tst_MainWindow::emptyFolderRefused_data()
{
    QTest::addColumn<QByteArray>("button");
    for (const char *button : {"connectbotton", "BackupBotton", "BackupBotton_2", "BackupBotton_3", "updateButton"})
        QTest::newRow(button) << QByteArray(button);
}

void tst_MainWindow::emptyFolderRefused()
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
    QVERIFY(f.state().transferList().isEmpty());
    QVERIFY(!ftpClient->hasPendingCommands());
    QCOMPARE(f.server.commandLog().size(), commands);
    QCOMPARE(f.server.sessionCount(), button == "connectbotton" ? 0 : 1);
    QCOMPARE(f.buttonStates(), buttons);
}

void tst_MainWindow::disconnectWhileDownloadsQueued_data()
{
    QTest::addColumn<bool>("lastByteArrived");
    QTest::addColumn<QByteArray>("button");
    QTest::newRow("in the middle of a file") << false << QByteArray("BackupBotton");
    // The operation then ends as it would have: its files are put in place
    // and its true result is told.
    QTest::newRow("right after the last byte arrived") << true << QByteArray("BackupBotton");
    // Not so an upload: what the instrument kept was not listed yet.
    QTest::newRow("right after the last byte was stored") << true << QByteArray("BackupBotton_3");
}

void tst_MainWindow::disconnectWhileDownloadsQueued()
{
    QFETCH(bool, lastByteArrived);
    QFETCH(QByteArray, button);
    InstrumentFixture f;
    buildExampleInstrument(f);
    const bool upload = button == "BackupBotton_3";
    if (upload) {
        for (const char *path : {"DATA/IPA_BD1/A.DAT", "DATA/IPS_BD1/S1.DAT", "INIE91.CFG", "INIE91.FLS"})
            writeFile(f.localPath(QLatin1String(path)), randomBytes(2000, 11));
    }
    writeFile(f.localPath("DATA/IPA_BD1/B.DAT"), "earlier copy");
    // Files from a run that was killed mid-download.
    writeFile(f.localPath("DATA/IPA_BD1/.r9-part-k1lled00"), "partial");
    writeFile(f.localPath(".r9-part-k1lled01"), "partial");
    QVERIFY(f.connectAndWalk());
    if (lastByteArrived) {
        const int last = upload ? 5 : 7;
        connect(f.window->session(), &InstrumentSession::transferFinished, this, [&](int number) {
            if (number == last)
                f.button("deconbotton")->click();
        });
        QVERIFY(f.clickAndWaitForDone(button.constData()));
        QVERIFY(f.waitForUnconnected(5000));
        if (upload) {
            QCOMPARE(f.results.first().kind, OperationResult::Stopped);
            QCOMPARE(f.bar()->text(), QStringLiteral("Interrupted · 5 of 5 files missing"));
        } else {
            QCOMPARE(f.results.first().kind, OperationResult::Completed);
            QCOMPARE(readTree(f.localDir.path()), readTree(f.instrumentDir.path()));
            QCOMPARE(f.bar()->text(), QStringLiteral("Backup Completed · 7 files"));
        }
        return;
    }
    // B.DAT would take over a minute: Disconnect must not wait for it.
    f.server.setRateLimit(1024);
    f.button("BackupBotton")->click();
    QVERIFY(waitUntil([&] { return f.disp()->text() == QLatin1String("B.DAT") && f.bar()->value() > 0; }, 20000));
    f.button("deconbotton")->click();
    QVERIFY(f.state().transferList().isEmpty());
    QVERIFY(f.state().remoteList().isEmpty());
    QVERIFY(f.waitForUnconnected(5000));
    QVERIFY(waitUntil([&] { return !f.results.isEmpty(); }, 10000));
    QCOMPARE(f.results.first().kind, OperationResult::Stopped);
    QVERIFY(f.boxes.boxes().isEmpty());
    // The client drops the connection right after its QUIT: the stand-in
    // may log it a moment later.
    QVERIFY(waitUntil([&] { return f.toolCommands().last() == QLatin1String("QUIT"); }, 5000));
    // What did arrive arrived whole; the rest is as it was, with no
    // temporary file left, old or new.
    QCOMPARE(filesBelow(f.localDir.path()), QStringList({"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/B.DAT"}));
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/A.DAT")), readFile(f.instrumentPath("DATA/IPA_BD1/A.DAT")));
    QCOMPARE(readFile(f.localPath("DATA/IPA_BD1/B.DAT")), QByteArray("earlier copy"));
    QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));
    QVERIFY(f.button("connectbotton")->isEnabled());
    // The bar tells that the operation was stopped, and what is missing.
    QCOMPARE(f.bar()->text(), QStringLiteral("Interrupted · 6 of 7 files missing"));
}

void tst_MainWindow::fileChangedSizeIsIncomplete()
{
    InstrumentFixture f;
    buildExampleInstrument(f);
    for (const char *path : {"DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/b.dat", "DATA/IPA_BD1/c.DAT", "DATA/IPS_BD1/S1.DAT",
                             "INIE91.CFG", "INIE91.FLS"})
        writeFile(f.localPath(QLatin1String(path)), randomBytes(2000, 11));
    QVERIFY(f.connectAndWalk());
    f.button("BackupBotton_3")->click();
    // The last file of the set shrinks after it was queued.
    writeFile(f.localPath("INIE91.FLS"), "shorter");
    QVERIFY(f.waitForDone());

    QCOMPARE(f.boxes.boxes().size(), 1);
    QCOMPARE(f.boxes.boxes().at(0).title, QStringLiteral("FTP Error"));
    QCOMPARE(f.boxes.boxes().at(0).text, QStringLiteral("File Update Incomplete"));
    QCOMPARE(f.state().transferList().size(), 6);
    QVERIFY(!f.state().transferList().last().done);
    QCOMPARE(f.bar()->text(), QStringLiteral("File Update Incomplete · 1 of 6 files missing"));
    QVERIFY(!f.state().remoteList().isEmpty());
    QCOMPARE(ftpClient->state(), FtpClient::LoggedIn);
}

void tst_MainWindow::roundTrip_data()
{
    // From one instrument to the PC, and from there to an older instrument.
    QTest::addColumn<QByteArray>("download");
    QTest::addColumn<QByteArray>("upload");
    QTest::addColumn<int>("settings");
    QTest::newRow("Clone, then Update") << QByteArray("BackupBotton") << QByteArray("updateButton") << 4;
    QTest::newRow("Data Backup, then Data Restore") << QByteArray("BackupBotton_2") << QByteArray("BackupBotton_3")
                                                    << SampleSet().settingsFiles;
}

void tst_MainWindow::roundTrip()
{
    QFETCH(QByteArray, download);
    QFETCH(QByteArray, upload);
    QFETCH(int, settings);
    InstrumentFixture f;
    InstrumentServer second;
    QTemporaryDir secondDir;
    for (const auto &[folder, seed, files] : {std::tuple{f.instrumentDir.path(), 1u, 6}, {secondDir.path(), 2u, 3}}) {
        SampleSet sample;
        sample.seed = seed;
        sample.filesPerDataFolder = files;
        sample.settingsFiles = settings;
        QString error;
        QVERIFY2(SampleGenerator::generate(folder, sample, &error), qPrintable(error));
    }
    // Names beyond ASCII travel one byte per character, and come back as
    // they were listed.
    if (download == "BackupBotton") {
        writeFile(f.instrumentPath(QStringLiteral("TEXT/\u00c4RGER.TXT")), "Latin-1 name");
        writeFile(f.instrumentPath(QStringLiteral("DATA/IPA_BD1/\u00fc\u00df.DAT")), "Latin-1 name");
    }
    second.setRootPath(secondDir.path());
    QVERIFY(second.listen(0));

    QVERIFY(f.connectAndWalk());
    QVERIFY(f.clickAndWaitForDone(download.constData()));
    QVERIFY(f.waitForUnconnected());
    QVERIFY(f.bar()->text().startsWith(QStringLiteral("Backup Completed · ")));
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), second.serverPort()};
    QVERIFY(f.connectAndWalk());
    // The last result stays in view until the next Connect.
    QVERIFY2(!f.bar()->text().contains(u'·'), qPrintable(f.bar()->text()));
    QVERIFY(f.clickAndWaitForDone(upload.constData()));
    QVERIFY(f.waitForUnconnected());
    const QStringList sent = filesBelow(f.localDir.path());
    QVERIFY(sent.size() >= 12);
    for (const QString &file : sent)
        QCOMPARE(readFile(secondDir.filePath(file)), readFile(f.instrumentPath(file)));

    QVERIFY(f.boxes.boxes().isEmpty());
}

// --- Staged files: a download stays out of sight until it is put in place,
// and putting it in place never costs an earlier copy unless the new one is
// whole; a link in its place may point anywhere, and is replaced, not followed.

void tst_MainWindow::putInPlace_data()
{
    QTest::addColumn<QString>("earlier");  // "", "file" or "link" (to a file outside)
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");

    QTest::newRow("replaces an earlier copy") << "file" << 1000 << 4096;
    QTest::newRow("empty file over an earlier copy") << "file" << 0 << 4096;
    QTest::newRow("replaces a link, writes nothing where it points") << "link" << 1000 << 4096;
    // Past the writeback step, in pieces that do not fall on it.
    QTest::newRow("20 MiB in odd pieces") << "" << (20 << 20) + 17 << 65521;
}

void tst_MainWindow::putInPlace()
{
    QFETCH(QString, earlier);
    QFETCH(int, size);
    QFETCH(int, piece);

    QTemporaryDir dir;
    QTemporaryDir outside;
    const QString target = dir.filePath(QStringLiteral("B.DAT"));
    const QString elsewhere = outside.filePath(QStringLiteral("OTHER.DAT"));
    writeFile(elsewhere, "earlier copy");
    if (earlier == QLatin1String("file")) {
        writeFile(target, "earlier copy");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    } else if (earlier == QLatin1String("link")) {
        QVERIFY(QFile::link(elsewhere, target));
    }
    const QByteArray content = randomBytes(size, 3);

    std::unique_ptr<StagedFile> file = staged(dir.path(), QStringLiteral("B.DAT"), content, piece);
    QVERIFY(file);
    QCOMPARE(file->error(), QFileDevice::NoError);
    // Until it is put in place, only a hidden temporary file is new.
    QCOMPARE(readFile(target), earlier.isEmpty() ? QByteArray("<missing>") : QByteArray("earlier copy"));
    const QStringList during = namesIn(dir.path());
    QCOMPARE(during.size(), earlier.isEmpty() ? 1 : 2);
    QVERIFY(during.first().startsWith(u'.'));

    StagedBatch batch;
    QList<int> inPlace;
    QList<int> failed;
    connect(&batch, &StagedBatch::committed, this, [&](const QList<int> &done, const QList<int> &notDone) {
        inPlace += done;
        failed += notDone;
    });
    batch.add({file->folder(), file->release(), file->targetName(), content.size(), 7});
    file.reset(); // a released file is not removed with its object
    QStringList calls;
    {
        const std::lock_guard<std::mutex> lock(diskCallsMutex);
        diskCalls = &calls;
    }
    batch.commit();
    QVERIFY(waitUntil([&] { return batch.isIdle(); }, 20000));
    {
        const std::lock_guard<std::mutex> lock(diskCallsMutex);
        diskCalls = nullptr;
    }
    QCOMPARE(inPlace, QList<int>{7});
    QCOMPARE(failed, QList<int>());
    // The data is on disk before its name points at it, and the new name
    // before the file counts as in place: a power cut at any moment leaves
    // the earlier copy or the whole new one.
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
    QCOMPARE(calls, QStringList({"sync", "rename", "sync"}));

    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("B.DAT")});
    QVERIFY(!QFileInfo(target).isSymLink());
    QVERIFY(readFile(target) == content);
    QCOMPARE(readTree(outside.path()), (FileTree{{QStringLiteral("OTHER.DAT"), "earlier copy"}}));
    if (earlier == QLatin1String("file"))
        QCOMPARE(QFile::permissions(target) & ~QFileDevice::Permissions(0x0f00), // not the "user" bits
                 QFile::ReadOwner | QFile::WriteOwner);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
