// What each operation asks of the FTP client, worked out as a value, with no
// server: the folder changes, transfers and folder creations in queue order,
// what is left out and why, and which local folders are refused.

#include "operations/operationplan.h"
#include "tests/support/testfiles.h"
#include "transfer/freespace.h"
#include "transfer/instrumentlayout.h"
#include "transfer/windowsnames.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// A regular file outside every folder a test offers as a set.
QString outsideFile()
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("outside.dat"));
    if (!QFileInfo::exists(path))
        writeFile(path, "outside");
    return path;
}
#endif

// Puts one entry below `base` in place of whatever stood there: "name/" a
// folder, "name->target" a link (target relative to the link's folder, or
// OUTSIDE), "name|" a FIFO, "-name" nothing, anything else a file holding
// its own name and CR LF.
void makeEntry(const QString &base, const QString &what)
{
    // "name!": a file that cannot be read.
    if (what.endsWith(u'!')) {
        makeEntry(base, what.chopped(1));
        QFile::setPermissions(base + u'/' + what.chopped(1), QFileDevice::Permissions());
        return;
    }
    const bool remove = what.startsWith(u'-');
    const qsizetype arrow = what.indexOf(QLatin1String("->"));
    QString path = base + u'/' + (remove ? what.mid(1) : arrow < 0 ? what : what.left(arrow));
    const bool folder = path.endsWith(u'/');
    const bool fifo = path.endsWith(u'|');
    if (folder || fifo)
        path.chop(1);
    const QFileInfo old(path);
    if (old.isDir() && !old.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
    bool made = QDir().mkpath(folder ? path : QFileInfo(path).path());
    if (arrow >= 0) {
#ifdef Q_OS_UNIX
        const QString target = what.mid(arrow + 2);
        QString to = target == QLatin1String("OUTSIDE") ? outsideFile() : target;
        // A sibling of the base folder whose name starts with the base's:
        // "inside" is a matter of whole path components.
        if (target == QLatin1String("SIBLING")) {
            to = base + QStringLiteral("-old/OLD.DAT");
            writeFile(to, "the sibling's");
        }
        made = made && ::symlink(QFile::encodeName(to).constData(), QFile::encodeName(path).constData()) == 0;
#else
        made = false;
#endif
    } else if (fifo) {
#ifdef Q_OS_UNIX
        made = made && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
#else
        made = false;
#endif
    } else if (!remove && !folder) {
        writeFile(path, QFileInfo(path).fileName().toUtf8() + "\r\n");
    }
    if (!made)
        qFatal("cannot make %s", qPrintable(what));
}

// Links take rights on Windows that a test does not have, and FIFOs do
// not exist there: rows with either run where they can be made.
bool makeableHere(const QStringList &entries)
{
#ifdef Q_OS_UNIX
    Q_UNUSED(entries);
    return true;
#else
    return std::none_of(entries.cbegin(), entries.cend(),
                        [](const QString &entry) { return entry.contains(QLatin1String("->")) || entry.endsWith(u'|'); });
#endif
}

#ifdef Q_OS_LINUX
// While it lives, file permissions hold for this thread even when it runs
// as root: the capabilities that override them are put aside, and back.
class PermissionsHonoured
{
public:
    PermissionsHonoured()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_lowered = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~PermissionsHonoured()
    {
        if (m_lowered)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionsHonoured(const PermissionsHonoured &) = delete;
    PermissionsHonoured &operator=(const PermissionsHonoured &) = delete;

private:
    __user_cap_header_struct m_header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_lowered = false;
};
#else
struct PermissionsHonoured
{
};
#endif

QStringList lowerCased(const QStringList &names)
{
    QStringList lower;
    for (const QString &name : names)
        lower << name.toLower();
    return lower;
}

QStringList settings(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << settingsFileNames[i];
    return names;
}

// "TAG|NAME|SIZE" per entry, in walk order.
QList<RemoteEntry> listing(const QStringList &lines)
{
    QList<RemoteEntry> entries;
    for (const QString &line : lines) {
        const QStringList f = line.split(u'|');
        entries.append({f.at(1), f.at(2).toLongLong(), f.at(0)});
    }
    return entries;
}

// One line per call, as it reads on the wire, with the local side below
// the base folder.
QStringList describe(const OperationPlan &plan, const QString &base)
{
    const QString prefix = base + u'/';
    QStringList lines;
    for (const ClientCall &call : plan.calls) {
        QString local = call.localPath;
        if (local.startsWith(prefix))
            local = local.mid(prefix.size());
        switch (call.kind) {
        case ClientCall::Cd: lines << QStringLiteral("CWD ") + call.argument; break;
        case ClientCall::Mkdir: lines << QStringLiteral("MKD ") + call.argument; break;
        case ClientCall::Get: lines << QStringLiteral("RETR %1 > %2 %3").arg(call.argument, local).arg(call.size); break;
        case ClientCall::Put: lines << QStringLiteral("STOR %1 < %2 %3").arg(call.argument, local).arg(call.size); break;
        case ClientCall::Check: lines << QStringLiteral("RETR %1 = %2 %3").arg(call.argument, local).arg(call.size); break;
        case ClientCall::List: lines << QStringLiteral("LIST (%1)").arg(call.argument); break;
        }
    }
    if (plan.refused)
        lines << QStringLiteral("refused: ") + plan.refusalText.section(u'\n', 1);
    for (const QString &left : plan.leftOut)
        lines << QStringLiteral("left out: ") + left;
    return lines;
}

const QString up = QStringLiteral("CWD  ..");
const QStringList restoreSet = {"DATA/", "INIE91.CFG", "INIE91.FLS"};
const QStringList wholeSet = {"DATA/", "TEXT/", "FONTS/", "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT"};

} // namespace

class tst_OperationPlans : public QObject
{
    Q_OBJECT

private slots:
    void downloads_data();
    void downloads();
    void uploads_data();
    void uploads();
    void folderChecks_data();
    void folderChecks();
    void windowsNames_data();
    void windowsNames();
    void freeSpace();
};

void tst_OperationPlans::downloads_data()
{
    QTest::addColumn<bool>("clone");
    QTest::addColumn<QStringList>("remote");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<bool>("windows");  // the names Windows can hold only
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("Data Backup, the worked example")
        << false << QStringList{"DATA/IPA_BD1|A.DAT|3", "DATA/IPA_BD1|B.DAT|4", "DATA/IPS_BD1|C.DAT|5",
                                "TEXT|X.TXT|6", "ROOT|INIE91.CFG|7", "ROOT|Z.CFG|8"}
        << false << false
        << QStringList{up, "CWD DATA/IPA_BD1", "RETR A.DAT > DATA/IPA_BD1/A.DAT 3",
                       up, "CWD DATA/IPA_BD1", "RETR B.DAT > DATA/IPA_BD1/B.DAT 4",
                       up, "CWD DATA/IPS_BD1", "RETR C.DAT > DATA/IPS_BD1/C.DAT 5",
                       up, "RETR INIE91.CFG > INIE91.CFG 7", up};
    QTest::newRow("Data Backup: only the exact INIE91 names")
        << false << QStringList{"ROOT|inie91.cfg|1", "ROOT|INIE91.CFG.BAK|2", "ROOT|INIE91.FLS|3", "FONTS|F.FNT|4"}
        << false << false << QStringList{up, up, up, "RETR INIE91.FLS > INIE91.FLS 3"};
    QTest::newRow("Clone, the worked example")
        << true << QStringList{"DATA/IPA_BD1|A.DAT|3", "DATA/IPS_BD1|C.DAT|5", "TEXT|X.TXT|6", "FONTS|F.FNT|9",
                               "ROOT|INIE91.CFG|7", "ROOT|Z.CFG|0"}
        << false << false
        << QStringList{up, "CWD DATA/IPA_BD1", "RETR A.DAT > DATA/IPA_BD1/A.DAT 3",
                       up, "CWD DATA/IPS_BD1", "RETR C.DAT > DATA/IPS_BD1/C.DAT 5",
                       up, "CWD TEXT", "RETR X.TXT > TEXT/X.TXT 6",
                       up, "CWD FONTS", "RETR F.FNT > FONTS/F.FNT 9",
                       up, "RETR INIE91.CFG > INIE91.CFG 7", up, "RETR Z.CFG > Z.CFG 0", up};
    QTest::newRow("Clone: unsafe names, the tool's own names, sizes too large and a name listed twice are left out")
        << true << QStringList{"TEXT|../EVIL|1", "TEXT|A\x01.TXT|1", "ROOT|..|1", "TEXT|HUGE.TXT|-1",
                               "TEXT|T.TXT|2", "TEXT|T.TXT|2", "ROOT|\u00c4RGER.TXT|3", "ROOT|.R9-update.lock|4"}
        << false << false
        << QStringList{up, "CWD TEXT", up, "CWD TEXT", up, up, "CWD TEXT", up, "CWD TEXT", "RETR T.TXT > TEXT/T.TXT 2",
                       up, "CWD TEXT", up, "RETR \u00c4RGER.TXT > \u00c4RGER.TXT 3", up, up,
                       "left out: TEXT/../EVIL (not a plain file name)", "left out: TEXT/A?.TXT (not a plain file name)",
                       "left out: .. (not a plain file name)", "left out: TEXT/HUGE.TXT (listed size too large)",
                       "left out: TEXT/T.TXT (the same file on the PC as T.TXT)",
                       "left out: .R9-update.lock (a name the tool keeps for its own files)"};
    QTest::newRow("Clone onto a disk that ignores letter case")
        << true << QStringList{"ROOT|A.DAT|1", "ROOT|a.dat|2", "TEXT|a.dat|3"} << true << false
        << QStringList{up, "RETR A.DAT > A.DAT 1", up, up, "CWD TEXT", "RETR a.dat > TEXT/a.dat 3", up,
                       "left out: a.dat (the same file on the PC as A.DAT)"};
    QTest::newRow("Clone onto Windows: devices, a trailing dot, a quote left out; names like them fetched")
        << true << QStringList{"TEXT|CON|1", "TEXT|Aux.Txt|2", "TEXT|COM10.TXT|3", "ROOT|TRAIL.|4", "ROOT|A\"B|5",
                               "ROOT|CONSOLE|6"}
        << true << true
        << QStringList{up, "CWD TEXT", up, "CWD TEXT", up, "CWD TEXT", "RETR COM10.TXT > TEXT/COM10.TXT 3", up, up, up,
                       "RETR CONSOLE > CONSOLE 6", up, "left out: TEXT/CON (a name Windows cannot hold)",
                       "left out: TEXT/Aux.Txt (a name Windows cannot hold)",
                       "left out: TRAIL. (a name Windows cannot hold)", "left out: A\"B (a name Windows cannot hold)"};
}

void tst_OperationPlans::downloads()
{
    QFETCH(bool, clone);
    QFETCH(QStringList, remote);
    QFETCH(bool, ignoreCase);
    QFETCH(bool, windows);
    QFETCH(QStringList, expected);
    const QString base = QStringLiteral("/pc/base");
    const NameRule names = windows ? NameRule::Windows : NameRule::Posix;
    const OperationPlan plan = clone ? planClone(base, listing(remote), ignoreCase, names)
                                     : planDataBackup(base, listing(remote), ignoreCase, names);
    QCOMPARE(describe(plan, base), expected);
}

void tst_OperationPlans::uploads_data()
{
    QTest::addColumn<bool>("update");
    QTest::addColumn<bool>("instrumentEmpty");
    QTest::addColumn<QStringList>("local");  // as makeEntry takes them
    QTest::addColumn<QStringList>("expected");

    const QStringList dataSet = {"DATA/IPA_BD1/b.dat", "DATA/IPA_BD1/A.DAT", "DATA/IPA_BD1/.hidden",
                                 "DATA/IPA_BD1/SUB/DEEP.DAT", "DATA/IPS_BD1/", "INIE91.CFG", "INIE91.FLS"};
    const QStringList dataCalls = {"CWD DATA/IPA_BD1", "STOR A.DAT < DATA/IPA_BD1/A.DAT 7",
                                   "STOR b.dat < DATA/IPA_BD1/b.dat 7", up, "CWD DATA/IPS_BD1", up};
    QTest::newRow("Data Restore onto an emptied instrument")
        << false << true << dataSet
        << QStringList{"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1"} + dataCalls
               + QStringList{"STOR INIE91.CFG < INIE91.CFG 12", "STOR INIE91.FLS < INIE91.FLS 12", up}
               + QStringList{"CWD DATA/IPA_BD1", "LIST (DATA/IPA_BD1)", up, "LIST (ROOT)"};
    QTest::newRow("Data Restore: a fourth root entry refuses the set")
        << false << false << dataSet + QStringList{"R9DIGIT"} << QStringList{"refused: R9DIGIT: no part of a data set"};
    const QStringList updateSet = dataSet + QStringList{"TEXT/T.TXT", "FONTS/", "commands.txt", "R9DIGIT/",
                                                        "STARTPAGE"};
    QTest::newRow("Update: five stages, R9DIGIT a folder, no folders made")
        << true << false << updateSet
        << dataCalls + QStringList{"CWD TEXT", "STOR T.TXT < TEXT/T.TXT 7", up, "CWD FONTS", up,
                                   "STOR commands.txt < commands.txt 14", "STOR INIE91.CFG < INIE91.CFG 12",
                                   "STOR INIE91.FLS < INIE91.FLS 12", "STOR STARTPAGE < STARTPAGE 11", up,
                                   "CWD DATA/IPA_BD1", "LIST (DATA/IPA_BD1)", up, "CWD TEXT", "LIST (TEXT)", up,
                                   "LIST (ROOT)"};
    // Links go with the content they lead to; this tool's download
    // temporaries never go; what cannot be sent safely is left out, and named.
    QTest::newRow("Update onto an emptied instrument: links, temporaries and special files")
        << true << true
        << updateSet + QStringList{"INIE91.CFG->DATA/IPA_BD1/b.dat", ".r9-part-abc12345",
                                   "DATA/IPA_BD1/.r9-part-0a1b2c3d", "DATA/IPS_BD1/OUT.DAT->OUTSIDE",
                                   "DATA/IPS_BD1/GONE.DAT->NOWHERE", "TEXT/P.TXT|", "FONTS/.pipe|",
                                   "FONTS/Q.FNT->.pipe", "DATA/IPS_BD1/OLD.DAT->SIBLING"}
        << QStringList{"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1", "MKD TEXT", "MKD FONTS"} + dataCalls
               + QStringList{"CWD TEXT", "STOR T.TXT < TEXT/T.TXT 7", up, "CWD FONTS", up,
                             "STOR commands.txt < commands.txt 14", "STOR INIE91.CFG < DATA/IPA_BD1/b.dat 7",
                             "STOR INIE91.FLS < INIE91.FLS 12", "STOR STARTPAGE < STARTPAGE 11", up,
                             "CWD DATA/IPA_BD1", "LIST (DATA/IPA_BD1)", up, "CWD TEXT", "LIST (TEXT)", up,
                             "LIST (ROOT)",
                             "left out: DATA/IPS_BD1/GONE.DAT (a link that leads nowhere)",
                             "left out: DATA/IPS_BD1/OLD.DAT (a link leading outside the chosen folder)",
                             "left out: DATA/IPS_BD1/OUT.DAT (a link leading outside the chosen folder)",
                             "left out: TEXT/P.TXT (not a regular file)",
                             "left out: FONTS/Q.FNT (a link to no regular file)"};
#ifdef Q_OS_LINUX
    // Refused before anything is sent, not halfway through the set.
    QTest::newRow("Update: a file that cannot be read refuses the set")
        << true << false << updateSet + QStringList{"TEXT/SECRET.TXT!"}
        << QStringList{"refused: TEXT/SECRET.TXT: Permission denied"};
#endif
    QTest::newRow("Update: a name beyond Latin-1 refuses the set")
        << true << false << updateSet + QStringList{"TEXT/\u20ac.TXT"}
        << QStringList{"refused: TEXT/\u20ac.TXT: a name beyond Latin-1, which the instrument cannot take"};
    QTest::newRow("Update: a set folder missing refuses the set")
        << true << false << QStringList(updateSet).replaceInStrings("FONTS/", "FONTS.TXT")
        << QStringList{"refused: a complete file set holds DATA, TEXT, FONTS, COMMANDS.TXT, INIE91.CFG, INIE91.FLS and "
                       "R9DIGIT; missing: FONTS"};
}

void tst_OperationPlans::uploads()
{
    QFETCH(bool, update);
    QFETCH(bool, instrumentEmpty);
    QFETCH(QStringList, local);
    QFETCH(QStringList, expected);
    if (!makeableHere(local))
        QSKIP("no links or FIFOs made on this system");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("set")));
    const QString base = QDir(dir.filePath(QStringLiteral("set"))).canonicalPath();
    for (const QString &entry : local)
        makeEntry(base, entry);
    // Root reads every file: the test reads as a technician does.
    const PermissionsHonoured honoured;
    const OperationPlan plan = update ? planUpdate(base, instrumentEmpty) : planDataRestore(base, instrumentEmpty);
    QCOMPARE(describe(plan, base), expected);
}

void tst_OperationPlans::folderChecks_data()
{
    QTest::addColumn<QStringList>("entries"); // as makeEntry takes them
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("update");

    QTest::newRow("data set") << restoreSet << true << false;
    QTest::newRow("data set, DATA in lower case") << QStringList({"data/", "INIE91.CFG", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set and one more file") << restoreSet + QStringList{"NOTES.TXT"} << false << false;
    QTest::newRow("data set and a hidden file") << restoreSet + QStringList{".hidden"} << true << false;
    QTest::newRow("DATA as a file") << QStringList({"DATA", "INIE91.CFG", "INIE91.FLS"}) << true << false;
    // A file the set needs must be one that can be sent: a regular file, or
    // a link to one inside the base folder.
    QTest::newRow("data set, INIE91.CFG a link to a file of the set")
        << QStringList({"DATA/IPA_BD1/A.DAT", "INIE91.CFG->DATA/IPA_BD1/A.DAT", "INIE91.FLS"}) << true << false;
    QTest::newRow("data set, INIE91.CFG a link leading outside")
        << QStringList({"DATA/", "INIE91.CFG->OUTSIDE", "INIE91.FLS"}) << false << false;
    QTest::newRow("data set, INIE91.FLS a folder") << QStringList({"DATA/", "INIE91.CFG", "INIE91.FLS/"})
                                                   << false << false;
    QTest::newRow("data set, INIE91.FLS a link to a FIFO")
        << QStringList({"DATA/", "INIE91.CFG", ".pipe|", "INIE91.FLS->.pipe"}) << false << false;
    QTest::newRow("update set") << wholeSet << false << true;
    QTest::newRow("update set in lower case") << lowerCased(wholeSet) << false << true;
    QTest::newRow("update set and 12 settings files") << wholeSet + settings(12) << false << true;
    QTest::newRow("update set and 13 settings files") << wholeSet + settings(13) << false << false;
    QTest::newRow("update set and a file of another name") << wholeSet + QStringList{"README"} << false << false;
    QStringList withoutDigit = wholeSet;
    withoutDigit.removeAll("R9DIGIT");
    QTest::newRow("update set without R9DIGIT") << withoutDigit << false << false;
    QStringList digitFolder = withoutDigit;
    digitFolder << "R9DIGIT/";
    QTest::newRow("R9DIGIT as a folder") << digitFolder << false << true;
    QTest::newRow("update set, commands.txt a folder") << wholeSet + QStringList{"-COMMANDS.TXT", "commands.txt/"}
                                                       << false << false;
    QTest::newRow("update set, INIE91.CFG a link leading outside") << wholeSet + QStringList{"INIE91.CFG->OUTSIDE"}
                                                                   << false << false;
    QTest::newRow("update set, INIE91.CFG a link to INIE91.FLS") << wholeSet + QStringList{"INIE91.CFG->INIE91.FLS"}
                                                                 << false << true;
    // Where a leading dot hides nothing (Windows), they count by name alone.
    QTest::newRow("update set, a download temporary and a run's lock")
        << wholeSet + QStringList{".r9-part-abc12345", ".r9-update.lock"} << false << true;
    QTest::newRow("update set, INIE91.CFG a link to a download temporary")
        << wholeSet + QStringList{".r9-part-abc12345", "INIE91.CFG->.r9-part-abc12345"} << false << false;
    QTest::newRow("worked example") << QStringList({"commands.txt", "CONSYS.INI", "DATA/", "FONTS/", "INIE91.CFG",
                                                    "INIE91.FLS", "R9DIGIT", "STARTPAGE", "TEXT/"})
                                    << false << true;
    QTest::newRow("empty folder") << QStringList() << false << false;
}

void tst_OperationPlans::folderChecks()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, restore);
    QFETCH(bool, update);
    if (!makeableHere(entries))
        QSKIP("no links or FIFOs made on this system");

    QTemporaryDir base;
    for (const QString &entry : entries)
        makeEntry(base.path(), entry);
    QCOMPARE(checkRestoreFolder(base.path()), restore);
    QCOMPARE(checkUpdateFolder(base.path()), update);
}

// A name Windows would refuse, take for a device, or keep as another name.
void tst_OperationPlans::windowsNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fits");

    const QStringList devices = {"CON", "prn", "Aux", "NUL", "COM1", "com9", "LPT1", "LPT9", "COM\u00b9", "CONIN$"};
    for (const QString &device : devices) {
        QTest::addRow("%s", qPrintable(device)) << device << false;
        QTest::addRow("%s.TXT", qPrintable(device)) << device + QStringLiteral(".TXT") << false;
    }
    QTest::newRow("a device, a blank and two extensions") << QStringLiteral("NUL .TAR.GZ") << false;
    for (const char *like : {"COM0", "COM10", "LPT", "CONSOLE", "XNUL.TXT", "AUX_1.DAT"})
        QTest::addRow("%s", like) << QString::fromLatin1(like) << true;
    QTest::newRow("a trailing dot") << QStringLiteral("INIE91.") << false;
    QTest::newRow("a trailing blank") << QStringLiteral("INIE91.CFG ") << false;
    QTest::newRow("a leading dot and blank") << QStringLiteral(". INIE91") << true;
    for (const QChar c : QStringView(u"<>:\"/\\|?*\x01\x1f"))
        QTest::addRow("U+%04x inside", c.unicode()) << QStringLiteral("A") + c + QStringLiteral("B") << false;
    QTest::newRow("beyond ASCII") << QStringLiteral("\u00c4RGER\u00df.TXT") << true;
    QTest::newRow("255 characters") << QString(255, u'N') << true;
    QTest::newRow("256 characters") << QString(256, u'N') << false;
}

void tst_OperationPlans::windowsNames()
{
    QFETCH(QString, name);
    QFETCH(bool, fits);
    QCOMPARE(windowsCanHold(name), fits);
}

// The disk's free space for the user, in bytes: another unit, or the
// blocks kept for the administrator counted in, would be off by gigabytes.
void tst_OperationPlans::freeSpace()
{
    QTemporaryDir dir;
    const qint64 free = freeBytes(dir.path());
    const qint64 expected = QStorageInfo(dir.path()).bytesAvailable();
    QVERIFY2(free > 0 && qAbs(free - expected) < (qint64(1) << 30),
             qPrintable(QStringLiteral("%1 free, %2 expected").arg(free).arg(expected)));
    QCOMPARE(freeBytes(dir.filePath(QStringLiteral("missing"))), qint64(-1));
}

QTEST_GUILESS_MAIN(tst_OperationPlans)
#include "tst_operationplans.moc"
