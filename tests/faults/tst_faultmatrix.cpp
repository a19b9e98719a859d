// The fault matrix: every operation of the real window against the stand-in
// on 127.0.0.1, once for every fault the stand-in can inject and every fault
// of the PC. Each scenario must end in its own clear message, within bounded
// time, with every local and instrument file either as it was or an exact
// copy of its source, and nothing written outside the base folder.

#include "tests/support/eventwait.h"
#include "tests/app/instrumentfixture.h"
#include "tests/faults/scenariotable.h"
#include "tests/support/testfiles.h"

#include "ftp/ftpclient.h"
#include "transfer/transfertracker.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

constexpr int operationTimeoutMs = 60000;

// A full disk, emulated for the whole process: writes past `bytes` in any
// file fail with EFBIG (RLIMIT_FSIZE, with SIGXFSZ ignored so that the write
// fails instead of the process dying). Root is bound by it too.
struct FileSizeLimit
{
    explicit FileSizeLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous;
        limit.rlim_cur = rlim_t(bytes);
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    rlimit previous {};
    void (*previousHandler)(int) = nullptr;
    bool active = false;
};

QByteArray contentFor(const QString &path, int size, const QString &salt)
{
    return randomBytes(size, quint32(qHash(path + QLatin1Char('|') + salt)));
}

void buildInstrument(InstrumentFixture &f, const Scenario &s)
{
    if (s.fault.emptyInstrument) {
        for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "TEXT", "FONTS"})
            QDir().mkpath(f.instrumentPath(QString::fromLatin1(folder)));
        return;
    }
    for (const InstrumentFile &file : instrumentFiles())
        writeFile(f.instrumentPath(file.path), contentFor(file.path, file.size, QStringLiteral("instrument")));
}

void buildLocal(const InstrumentFixture &f, const QString &base, const Scenario &s)
{
    if (s.plan.uploads) {
        // The set the operation sends: new versions of the instrument's files.
        for (const QString &name : s.plan.transfers) {
            const InstrumentFile &file = instrumentFile(name);
            writeFile(base + QLatin1Char('/') + file.path, contentFor(file.path, file.size, QStringLiteral("local")));
        }
        return;
    }
    // Earlier copies of some files, and one the instrument does not have.
    for (const char *path : {"DATA/IPA_BD1/A2.DAT", "TEXT/T1.TXT", "INIE91.FLS", "STARTPAGE"})
        writeFile(base + QLatin1Char('/') + QLatin1String(path), QByteArray("earlier copy of ") + path);
    writeFile(base + QStringLiteral("/DATA/IPS_BD1/NOTES.TXT"), "the technician's own notes");
    if (s.fault.kind == FaultKind::FolderIsFile) {
        const QString folder = base + QLatin1Char('/') + s.fault.localFolder;
        QDir(folder).removeRecursively();
        if (s.fault.linkInstead) {
            // Elsewhere in the instrument's tree: a file written through the
            // link shows there as a changed source.
            const QString elsewhere = f.instrumentPath(QStringLiteral("ELSEWHERE"));
            QDir().mkpath(elsewhere);
            QFile::link(elsewhere, folder);
        } else {
            writeFile(folder, "a file where a folder should be");
        }
    }
}

// Differences between two trees, empty when they are equal.
QString differences(const FileTree &actual, const FileTree &expected)
{
    QStringList lines;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            lines << QStringLiteral("missing: %1").arg(it.key());
        else if (actual.value(it.key()) != it.value())
            lines << QStringLiteral("differs: %1 (%2 bytes, expected %3)")
                         .arg(it.key()).arg(actual.value(it.key()).size()).arg(it.value().size());
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            lines << QStringLiteral("unexpected: %1 (%2 bytes)").arg(it.key()).arg(it.value().size());
    }
    return lines.join(QStringLiteral("; "));
}

// The whole of what goes out for `commands` on one connection, as QFtp sent
// it: a listing in ASCII type, a transfer in binary type, each type sent
// only when the connection's differs; every data connection passive over
// IPv4; the size of every upload announced first.
QStringList wireOf(const QStringList &commands)
{
    QStringList wire;
    QString type;
    const auto ensureType = [&](const QString &wanted) {
        if (type != wanted)
            wire << QStringLiteral("TYPE ") + wanted;
        type = wanted;
    };
    for (const QString &line : commands) {
        if (line.startsWith(QLatin1String("LIST"))) {
            ensureType(QStringLiteral("A"));
            wire << QStringLiteral("PASV");
        } else if (line.startsWith(QLatin1String("RETR "))) {
            ensureType(QStringLiteral("I"));
            wire << QStringLiteral("PASV");
        } else if (line.startsWith(QLatin1String("STOR "))) {
            ensureType(QStringLiteral("I"));
            wire << QStringLiteral("PASV")
                 << QStringLiteral("ALLO %1").arg(instrumentFile(line.mid(5)).size);
        }
        wire << line;
    }
    return wire;
}

} // namespace

class tst_FaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();

private:
    void armServer(InstrumentFixture &f, const Scenario &s, QObject *context);
};

void tst_FaultMatrix::scenario_data()
{
    QTest::addColumn<int>("index");
    const QList<Scenario> &scenarios = faultScenarios();
    for (int i = 0; i < scenarios.size(); ++i)
        QTest::newRow(qPrintable(scenarios.at(i).title)) << i;
}

void tst_FaultMatrix::armServer(InstrumentFixture &f, const Scenario &s, QObject *context)
{
    const Fault &fault = s.fault;
    InstrumentServer &server = f.server;
    switch (fault.kind) {
    default: // a fault of the PC, or none
        break;
    case FaultKind::Refuse:
        server.refuseCommand(fault.verb, fault.code, fault.argument);
        break;
    case FaultKind::Silent:
        ftpClient->setIdleTimeout(silentIdleTimeoutMs);
        server.staySilentOn(fault.verb, fault.argument);
        break;
    case FaultKind::DropAt: {
        auto seen = std::make_shared<int>(0);
        const auto dropAtLine = [&server, &s, seen](int session, const QString &line) {
            if (line != s.dropLine || ++*seen != s.dropOccurrence)
                return;
            int count = 0;
            for (const InstrumentServer::LoggedCommand &command : server.commandLog())
                count += command.session == session ? 1 : 0;
            // Takes effect for the command being received now.
            server.dropConnectionAfter(count);
        };
        connect(&server, &InstrumentServer::commandReceived, context, dropAtLine);
        break;
    }
    case FaultKind::DropMidTransfer: {
        server.setRateLimit(32 * 1024);
        auto dropped = std::make_shared<bool>(false);
        const bool uploads = s.plan.uploads;
        connect(ftpClient, &FtpClient::dataTransferProgress, context,
                [&f, &fault, dropped, uploads](qint64 done, qint64 total) {
            if (*dropped || f.disp()->text() != fault.argument || done <= 0 || (!uploads && done >= total))
                return;
            *dropped = true;
            QTimer::singleShot(0, &f.server, [&f] { f.server.close(); });
        });
        break;
    }
    case FaultKind::Cut:
        server.cutTransferAfter(fault.amount, fault.argument);
        break;
    case FaultKind::AnswerAfter:
        server.answerAfterTransfer(fault.verb, fault.code, fault.argument);
        break;
    case FaultKind::WrongSize:
        server.reportWrongSize(fault.argument, instrumentFile(fault.argument).size + fault.amount);
        break;
    case FaultKind::SlowLink:
        server.setReplyDelay(30);
        server.setRateLimit(64 * 1024);
        break;
    }
}

void tst_FaultMatrix::scenario()
{
    QFETCH(int, index);
    const Scenario &s = faultScenarios().at(index);
    const PlanUnderTest &plan = s.plan;
    const Fault &fault = s.fault;
    const Expectation &expected = s.expected;

    InstrumentFixture f;
    QObject context;
    // The base folder sits alone in its parent, so that a write beside it shows.
    const QString base = f.localDir.filePath(QStringLiteral("base"));
    QVERIFY(QDir().mkpath(base));
    buildInstrument(f, s);
    buildLocal(f, base, s);
    // A base folder typed with a trailing separator names the same folder.
    f.localpath()->setText(fault.kind == FaultKind::None ? base + u'/' : base);

    // The listing's sizes are told in the walk.
    if (plan.isWalk() || fault.kind == FaultKind::WrongSize)
        armServer(f, s, &context);
    int walkLength = 0;
    qsizetype wireLength = 0;
    if (!plan.isWalk()) {
        QVERIFY(f.connectAndWalk());
        walkLength = f.toolCommands().size();
        wireLength = f.server.commandLines().size();
        if (fault.emptyInstrument && !fault.foldersKept) {
            // Formatted since the walk: the operation has to make the folders.
            for (const char *folder : {"DATA", "TEXT", "FONTS"})
                QVERIFY(QDir(f.instrumentPath(QString::fromLatin1(folder))).removeRecursively());
        }
        if (fault.kind != FaultKind::WrongSize)
            armServer(f, s, &context);
    }

    const FileTree instrumentBefore = readTree(f.instrumentDir.path());
    const FileTree localBefore = readTree(base);
    int doneCount = 0;
    connect(ftpClient, &FtpClient::done, &context, [&doneCount] { ++doneCount; });
    LabelTrace labels(f);

    QPushButton *button = f.button(plan.button);
    QVERIFY(button->isEnabled());
    QString faultedSource;
    {
        std::optional<FileSizeLimit> limit;
        if (fault.kind == FaultKind::DiskFull || fault.kind == FaultKind::InstrumentDiskFull) {
            limit.emplace(fault.amount);
            QVERIFY(limit->active);
        }
        button->click();
        // The operation has queued its commands; none has run yet. One
        // operation at a time: the others' handlers, even reached directly,
        // queue nothing.
        if (!plan.isWalk() && fault.kind == FaultKind::None) {
            QCOMPARE(f.buttonStates(), (QList<bool>{false, true, false, false, false, false}));
            const int queued = f.state().transferList().size();
            for (const char *handler : {"on_BackupBotton_clicked", "on_BackupBotton_2_clicked",
                                        "on_BackupBotton_3_clicked", "on_updateButton_clicked"})
                QVERIFY(QMetaObject::invokeMethod(f.window.get(), handler));
            QCOMPARE(f.state().transferList().size(), queued);
        }
        std::optional<QTemporaryDir> elsewhere;
        QString source;
        if (fault.kind >= FaultKind::SourceVanishes && fault.kind <= FaultKind::SourceFolderLinkedOut) {
            faultedSource = instrumentFile(fault.argument).path;
            source = base + QLatin1Char('/') + faultedSource;
            if (fault.kind == FaultKind::SourceFolderLinkedOut) {
                // The folder now leads elsewhere, to a file of the same name and size.
                elsewhere.emplace();
                QVERIFY(QDir().rename(QFileInfo(source).path(), elsewhere->filePath(QStringLiteral("set"))));
                writeFile(elsewhere->filePath(QStringLiteral("other/") + fault.argument),
                          contentFor(faultedSource, instrumentFile(fault.argument).size, QStringLiteral("elsewhere")));
                QVERIFY(QFile::link(elsewhere->filePath(QStringLiteral("other")), QFileInfo(source).path()));
            } else {
                QVERIFY(QFile::remove(source));
            }
            if (fault.kind == FaultKind::SourceUnreadable)
                QVERIFY(QDir().mkdir(source));
            else if (fault.kind == FaultKind::SourceIsFifo)
                QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
            else if (fault.kind == FaultKind::SourceLinkedOut)
                QVERIFY(QFile::link(f.instrumentPath(instrumentFile("A2.DAT").path), source));
        }
        if (expected.end == Expectation::End::Refused)
            QCOMPARE(ftpClient->hasPendingCommands(), false);
        else if (plan.isWalk())
            QVERIFY2(waitUntil([&] { return doneCount > 0; }, operationTimeoutMs), "the walk did not end");
        else
            QVERIFY2(waitUntil([&] { return !f.results.isEmpty(); }, operationTimeoutMs), "the operation did not end");
        // What stood in for the source belongs to no set; the file trees leave it out.
        if (fault.kind == FaultKind::SourceLinkedOut)
            QVERIFY(QFile::remove(source));
        if (fault.kind == FaultKind::SourceFolderLinkedOut) {
            QVERIFY(QFile::remove(QFileInfo(source).path()));
            QVERIFY(QDir().rename(elsewhere->filePath(QStringLiteral("set")), QFileInfo(source).path()));
            faultedSource.clear();
        }
    }
    QVERIFY2(waitUntil([&] {
        return ftpClient->state() == expected.finalState && !ftpClient->hasPendingCommands()
            && ftpClient->currentCommand() == FtpClient::None;
    }, 15000), qPrintable(QStringLiteral("client state %1, expected %2")
                              .arg(ftpClient->state()).arg(expected.finalState)));

    // The messages.
    const QList<MessageBoxRecorder::Box> boxes = f.boxes.boxes();
    QVERIFY2(boxes.size() == expected.boxCount,
             qPrintable(QStringLiteral("%1 boxes, expected %2: %3")
                            .arg(boxes.size()).arg(expected.boxCount).arg(f.boxes.texts().join(QStringLiteral(" | ")))));
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected.boxPattern),
                                     QRegularExpression::DotMatchesEverythingOption);
    for (const MessageBoxRecorder::Box &box : boxes) {
        QCOMPARE(box.title, expected.boxTitle);
        QVERIFY2(pattern.match(box.text).hasMatch(),
                 qPrintable(QStringLiteral("\"%1\" does not match \"%2\"").arg(box.text, expected.boxPattern)));
    }
    if (boxes.size() == 2)
        QCOMPARE(boxes.at(1).text, boxes.at(0).text);
    const bool completed = expected.end == Expectation::End::Completed;
    if (!plan.isWalk())
        QCOMPARE(labels.texts.contains(plan.completedText), completed);
    // The result counts exactly the files that are not in place (or
    // stored): a file whose command failed is missing, whatever its bytes did.
    if (!plan.isWalk() && expected.end != Expectation::End::Refused) {
        const int missing = expected.missing >= 0 ? expected.missing : int(plan.transfers.size()) - expected.delivered;
        QVERIFY(!f.results.isEmpty());
        QCOMPARE(f.results.last().missing, missing);
        QCOMPARE(f.results.last().count, int(plan.transfers.size()));
    }
    // The result stays on the bar after the close.
    if (!plan.isWalk() && completed)
        QCOMPARE(f.bar()->text(), QStringLiteral("%1 · %2 files").arg(plan.completedText).arg(plan.transfers.size()));

    // What went out, and what the tool looks like afterwards.
    QCOMPARE(f.toolCommands().mid(walkLength), expected.commands);
    // Without a fault, every line of it, the transfers' own included.
    if (fault.kind == FaultKind::None && !fault.emptyInstrument)
        QCOMPARE(f.server.commandLines().mid(wireLength), wireOf(expected.commands));
    if (!expected.fallbackVerb.isEmpty()) {
        bool used = false;
        for (const InstrumentServer::LoggedCommand &command : f.server.commandLog())
            used = used || command.verb == expected.fallbackVerb;
        QVERIFY2(used, qPrintable(expected.fallbackVerb + QStringLiteral(" never sent")));
    }
    const bool ready = plan.isWalk() ? completed : ftpClient->state() == FtpClient::LoggedIn;
    QCOMPARE(f.button("connectbotton")->isEnabled(), !ready);
    for (const char *name : {"deconbotton", "updateButton", "BackupBotton", "BackupBotton_2", "BackupBotton_3"})
        QVERIFY2(f.button(name)->isEnabled() == ready, name);
    if (plan.isWalk() && completed)
        QCOMPARE(f.disp()->text(), QStringLiteral("LoggedIn"));
    if (!plan.isWalk() && completed)
        QCOMPARE(f.disp()->text(), QStringLiteral("Unconnected"));

    // The files: nothing beside the base folder, and every file either as it
    // was or an exact copy of its source.
    QCOMPARE(namesIn(f.localDir.path()), QStringList{QStringLiteral("base")});
    const FileTree instrumentAfter = readTree(f.instrumentDir.path());
    const FileTree localAfter = readTree(base);
    // Sources stay as they were (an upload's source the test took away
    // aside); targets gain exact copies of what arrived, and nothing else.
    const FileTree &sourceBefore = plan.uploads ? localBefore : instrumentBefore;
    FileTree expectedSource = sourceBefore;
    expectedSource.remove(faultedSource);
    FileTree expectedTarget = plan.uploads ? instrumentBefore : localBefore;
    for (int i = 0; i < expected.delivered; ++i) {
        const QString path = instrumentFile(plan.transfers.at(i)).path;
        expectedTarget.insert(path, sourceBefore.value(path));
    }
    const FileTree sourceAfter = plan.uploads ? localAfter : instrumentAfter;
    FileTree targetBefore = plan.uploads ? instrumentBefore : localBefore;
    FileTree targetAfter = plan.uploads ? instrumentAfter : localAfter;
    const QString sourceDiff = differences(sourceAfter, expectedSource);
    QVERIFY2(sourceDiff.isEmpty(), qPrintable(QStringLiteral("sources changed: ") + sourceDiff));

    // The file whose transfer broke holds its earlier content, or, where the
    // instrument had already stored part of it (a store is not atomic on the
    // instrument's side), the first part of the source and nothing else.
    const QString failedPath = expected.failedFile.isEmpty() ? QString() : instrumentFile(expected.failedFile).path;
    const QByteArray source = sourceBefore.value(failedPath);
    const QByteArray stored = targetAfter.value(failedPath);
    const bool failedFileIntact = targetAfter.contains(failedPath) == targetBefore.contains(failedPath)
            && stored == targetBefore.value(failedPath);
    const bool partOfSource = expected.partialRemoteFile && targetAfter.contains(failedPath)
            && stored.size() <= source.size() && source.startsWith(stored);
    QVERIFY2(failedPath.isEmpty() || failedFileIntact || partOfSource,
             qPrintable(QStringLiteral("%1: %2 bytes, neither its earlier content nor part of the source")
                            .arg(failedPath).arg(stored.size())));
    targetAfter.remove(failedPath);
    expectedTarget.remove(failedPath);
    const QString targetDiff = differences(targetAfter, expectedTarget);
    QVERIFY2(targetDiff.isEmpty(), qPrintable(targetDiff));
}

QTEST_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
