#include "tests/faults/scenariotable.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString up = QStringLiteral("CWD  ..");

enum OperationBit : unsigned {
    Walk = 1u << int(Action::ConnectWalk),
    Backup = 1u << int(Action::DataBackup),
    Clone = 1u << int(Action::Clone),
    Restore = 1u << int(Action::DataRestore),
    Update = 1u << int(Action::Update),
    Downloads = Backup | Clone,
    Uploads = Restore | Update,
    Operations = Downloads | Uploads,
    All = Walk | Operations,
};

struct FaultEntry
{
    Fault fault;
    unsigned operations;
};

// `number` is the reply code of a refusal, the occurrence of the verb a drop
// waits for, and the amount of the other faults.
Fault fault(FaultKind kind, const QString &title, const QString &verb = QString(), qint64 number = 0,
            Role role = Role::None, const QString &argument = QString(), bool emptyInstrument = false)
{
    Fault f;
    f.kind = kind;
    f.title = title;
    f.verb = verb;
    f.role = role;
    f.argument = argument;
    f.emptyInstrument = emptyInstrument;
    if (kind == FaultKind::Refuse || kind == FaultKind::AnswerAfter)
        f.code = int(number);
    else if (kind == FaultKind::DropAt)
        f.occurrence = int(number);
    else
        f.amount = number;
    return f;
}

// The faults, each with the operations it applies to.
const QList<FaultEntry> &faultList()
{
    static const QList<FaultEntry> list = [] {
        using K = FaultKind;
        QList<FaultEntry> l;
        const auto add = [&l](unsigned operations, const Fault &f) { l.append({f, operations}); };
        add(All, fault(K::None, "no fault"));

        // Commands refused, with the codes an FTP server gives for them.
        add(Walk, fault(K::Refuse, "USER refused (530)", "USER", 530));
        add(Walk, fault(K::Refuse, "USER refused (421, server closes)", "USER", 421));
        add(Walk, fault(K::Refuse, "PASS refused (530)", "PASS", 530));
        add(All, fault(K::Refuse, "every CWD refused (550)", "CWD", 550));
        add(All, fault(K::Refuse, "CWD DATA/IPS_BD1 refused (550)", "CWD", 550, Role::None, "DATA/IPS_BD1"));
        add(All, fault(K::Refuse, "CWD back to the top folder refused (550)", "CWD", 550, Role::None, " .."));
        add(Walk | Clone | Update, fault(K::Refuse, "CWD TEXT refused (550)", "CWD", 550, Role::None, "TEXT"));
        add(Walk, fault(K::Refuse, "LIST refused (450)", "LIST", 450));
        add(All, fault(K::Refuse, "PASV refused (425)", "PASV", 425));
        add(Uploads, fault(K::Refuse, "ALLO refused (502), STOR sent all the same", "ALLO", 502));
        add(All, fault(K::Refuse, "TYPE refused (504)", "TYPE", 504));
        add(Downloads, fault(K::Refuse, "RETR of the first file refused (550)", "RETR", 550, Role::First));
        add(Downloads, fault(K::Refuse, "RETR of a middle file refused (421, server closes)", "RETR", 421, Role::Middle));
        add(Downloads, fault(K::Refuse, "RETR of the last file refused (450)", "RETR", 450, Role::Last));
        add(Uploads, fault(K::Refuse, "STOR of the first file refused (553)", "STOR", 553, Role::First));
        add(Uploads, fault(K::Refuse, "STOR of a middle file refused (421, server closes)", "STOR", 421, Role::Middle));
        add(Uploads, fault(K::Refuse, "STOR of the last file refused (452)", "STOR", 452, Role::Last));
        add(Uploads, fault(K::Refuse, "MKD DATA/IPS_BD1 refused on an emptied instrument (550)", "MKD", 550,
                           Role::None, "DATA/IPS_BD1", true));
        // The walk found no file, but the folders are there: their MKDs
        // are answered "550 File exists", and the upload goes on.
        Fault keptFolders = fault(K::None, "an emptied instrument whose folders remain (MKD: 550 File exists)", {}, 0,
                                  Role::None, QString(), true);
        keptFolders.foldersKept = true;
        add(Uploads, keptFolders);
        add(Operations, fault(K::Refuse, "QUIT refused (500)", "QUIT", 500));

        // The control connection dropped on receipt of a command.
        add(Walk, fault(K::DropAt, "connection dropped at USER", "USER", 1));
        add(Walk, fault(K::DropAt, "connection dropped at PASS", "PASS", 1));
        add(Walk, fault(K::DropAt, "connection dropped at the third LIST", "LIST", 3));
        add(Walk, fault(K::DropAt, "connection dropped at the last LIST", "LIST", 5));
        add(Operations, fault(K::DropAt, "connection dropped at the first CWD", "CWD", 1));
        add(Operations, fault(K::DropAt, "connection dropped at the first %1", "XFER", 1, Role::First));
        add(Uploads, fault(K::DropAt, "connection dropped at STOR of the last file", "STOR", 1, Role::Last));
        add(Uploads, fault(K::DropAt, "connection dropped at the first MKD on an emptied instrument", "MKD", 1,
                           Role::None, QString(), true));
        add(Operations, fault(K::DropAt, "connection dropped at QUIT", "QUIT", 1));
        add(Uploads, fault(K::DropAt, "connection dropped at the listing that confirms the stores", "LIST", 1));
        add(Operations, fault(K::DropMidTransfer, "instrument gone while a middle file moves", {}, 0, Role::Middle));

        // Data connections cut.
        add(Operations, fault(K::Cut, "data connection of the first file cut at 0 bytes", {}, 0, Role::First));
        add(Operations, fault(K::Cut, "data connection of a middle file cut after 1000 bytes", {}, 1000, Role::Middle));
        // Every byte moved, and still the server says it failed: the file
        // is not counted, whatever its bytes did.
        add(Operations, fault(K::AnswerAfter, "%1 of a middle file carried out whole, then answered 451", "XFER", 451,
                              Role::Middle));

        // The instrument stops answering.
        const QList<QPair<const char *, unsigned>> silent = {
            {"USER", Walk}, {"PASS", Walk}, {"LIST", Walk}, {"CWD", All}, {"PASV", All}, {"TYPE", All},
            {"RETR", Downloads}, {"STOR", Uploads}, {"MKD", Uploads}, {"QUIT", Operations}};
        for (const auto &[verb, operations] : silent) {
            const bool empty = qstrcmp(verb, "MKD") == 0;
            add(operations, fault(K::Silent, QStringLiteral("no answer to %1%2 (idle timeout %3 ms)")
                                      .arg(QLatin1String(verb), empty ? " on an emptied instrument" : "")
                                      .arg(silentIdleTimeoutMs),
                                  verb, 0, Role::None, QString(), empty));
        }

        // The listing lies about sizes.
        add(All, fault(K::WrongSize, "listed size of a middle file one byte short", {}, -1, Role::Middle));
        add(Downloads, fault(K::WrongSize, "listed size of the last file 1000 bytes too big", {}, 1000, Role::Last));

        add(All, fault(K::SlowLink, "slow link (30 ms reply delay, 64 KiB/s)"));

        // Faults of the PC.
        for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "DATA", "TEXT"}) {
            Fault f = fault(K::FolderIsFile, QStringLiteral("target folder unwritable (a file where %1 should be)")
                                                 .arg(QLatin1String(folder)));
            f.localFolder = QLatin1String(folder);
            add(Downloads, f);
        }
        for (const char *folder : {"DATA", "DATA/IPS_BD1"}) {
            Fault f = fault(K::FolderIsFile, QStringLiteral("%1 a link to a folder outside the base folder")
                                                 .arg(QLatin1String(folder)));
            f.localFolder = QLatin1String(folder);
            f.linkInstead = true;
            add(Downloads, f);
        }
        add(Downloads, fault(K::DiskFull, "target disk full (RLIMIT_FSIZE 10000 bytes, SIGXFSZ ignored)", {}, 10000));
        add(Uploads, fault(K::SourceVanishes, "source vanishes (first file deleted after queueing)", {}, 0, Role::First));
        add(Uploads, fault(K::SourceVanishes, "source vanishes (last file deleted after queueing)", {}, 0, Role::Last));
        add(Uploads, fault(K::SourceUnreadable, "source unreadable (middle file replaced by a folder after queueing)",
                           {}, 0, Role::Middle));
        add(Uploads, fault(K::SourceUnreadable, "source unreadable (last file replaced by a folder after queueing)",
                           {}, 0, Role::Last));
        add(Uploads, fault(K::SourceIsFifo, "source blocks (middle file replaced by a FIFO after queueing)",
                           {}, 0, Role::Middle));
        add(Uploads, fault(K::SourceLinkedOut,
                           "source leads outside (last file replaced by a link to another file after queueing)",
                           {}, 0, Role::Last));
        add(Uploads, fault(K::SourceFolderLinkedOut,
                           "source leads outside (first file's folder replaced by a link to another folder after "
                           "queueing)", {}, 0, Role::First));
        add(Uploads, fault(K::InstrumentDiskFull,
                           "instrument disk full (in-process stand-in, RLIMIT_FSIZE 10000 bytes)", {}, 10000));
        return l;
    }();
    return list;
}

PlanUnderTest planFor(Action operation, bool emptyInstrument)
{
    PlanUnderTest p;
    p.operation = operation;
    const QStringList everyFile = {"A1.DAT", "A2.DAT", "S1.DAT", "T1.TXT", "F1.FNT",
                                   "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT", "STARTPAGE"};
    const QStringList dataFiles = {"A1.DAT", "A2.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"};
    switch (operation) {
    case Action::ConnectWalk:
        p.title = QStringLiteral("connect walk");
        p.button = "connectbotton";
        p.commands = QStringList{"USER root", "PASS +00417263850", "CWD DATA/IPA_BD1", "LIST", up, "CWD DATA/IPS_BD1",
                                 "LIST", up, "CWD TEXT", "LIST", up, "CWD FONTS", "LIST", up, "LIST"};
        break;
    case Action::DataBackup:
    case Action::Clone: {
        p.completedText = QStringLiteral("Backup Completed");
        p.incompleteText = QStringLiteral("Backup Incomplete");
        p.commands = QStringList{up, "CWD DATA/IPA_BD1", "RETR A1.DAT", up, "CWD DATA/IPA_BD1", "RETR A2.DAT",
                                 up, "CWD DATA/IPS_BD1", "RETR S1.DAT"};
        if (operation == Action::DataBackup) {
            p.title = QStringLiteral("Data Backup");
            p.button = "BackupBotton_2";
            p.transfers = dataFiles;
            // One step back to the top folder for every file of the top folder.
            p.commands += QStringList{up, up, "RETR INIE91.CFG", up, "RETR INIE91.FLS", up, up};
        } else {
            p.title = QStringLiteral("Clone");
            p.button = "BackupBotton";
            p.transfers = everyFile;
            p.commands += QStringList{up, "CWD TEXT", "RETR T1.TXT", up, "CWD FONTS", "RETR F1.FNT",
                                      up, "RETR COMMANDS.TXT", up, "RETR INIE91.CFG", up, "RETR INIE91.FLS",
                                      up, "RETR R9DIGIT", up, "RETR STARTPAGE", up};
        }
        break;
    }
    case Action::DataRestore:
    case Action::Update: {
        p.uploads = true;
        p.completedText = QStringLiteral("Update Completed");
        p.incompleteText = QStringLiteral("File Update Incomplete");
        p.commands = QStringList{"CWD DATA/IPA_BD1", "STOR A1.DAT", "STOR A2.DAT", up, "CWD DATA/IPS_BD1",
                                 "STOR S1.DAT", up};
        QStringList folders = {"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1"};
        // Then the instrument lists each folder written, to tell what it kept.
        QStringList confirmation = {"CWD DATA/IPA_BD1", "LIST", up, "CWD DATA/IPS_BD1", "LIST", up};
        if (operation == Action::DataRestore) {
            p.title = QStringLiteral("Data Restore");
            p.button = "BackupBotton_3";
            p.transfers = dataFiles;
            p.commands += QStringList{"STOR INIE91.CFG", "STOR INIE91.FLS", up};
        } else {
            p.title = QStringLiteral("Update");
            p.button = "updateButton";
            p.transfers = everyFile;
            p.commands += QStringList{"CWD TEXT", "STOR T1.TXT", up, "CWD FONTS", "STOR F1.FNT", up,
                                      "STOR COMMANDS.TXT", "STOR INIE91.CFG", "STOR INIE91.FLS", "STOR R9DIGIT",
                                      "STOR STARTPAGE", up};
            folders << "MKD TEXT" << "MKD FONTS";
            confirmation += QStringList{"CWD TEXT", "LIST", up, "CWD FONTS", "LIST", up};
        }
        p.commands += confirmation + QStringList{"LIST"};
        if (emptyInstrument)
            p.commands = folders + p.commands;
        break;
    }
    }
    return p;
}

QString verbOf(const QString &line)
{
    return line.section(QLatin1Char(' '), 0, 0);
}

QString argumentOf(const QString &line)
{
    const int blank = line.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : line.mid(blank + 1);
}

// Verbs that go out as a command line of their own; the others are
// plumbing of the transfer that follows them.
bool isToolVerb(const QString &verb)
{
    static const QStringList verbs = {"USER", "PASS", "CWD", "LIST", "RETR", "STOR", "MKD", "QUIT"};
    return verbs.contains(verb);
}

// The position of the `occurrence`th line with `verb` (and `argument`, if any).
int lineOf(const QStringList &lines, const QString &verb, const QString &argument, int occurrence = 1)
{
    int seen = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (verbOf(lines.at(i)) == verb && (argument.isEmpty() || argumentOf(lines.at(i)) == argument)
            && ++seen == occurrence)
            return i;
    }
    return -1;
}

Expectation expect(const PlanUnderTest &p, const Fault &f)
{
    using End = Expectation::End;
    Expectation e;
    const QString transferVerb = p.uploads ? QStringLiteral("STOR") : QStringLiteral("RETR");
    const auto transferLineOf = [&](const QString &name) { return lineOf(p.commands, transferVerb, name); };
    const auto completed = [&] {
        e.end = End::Completed;
        e.commands = p.commands;
        if (!p.isWalk())
            e.commands << QStringLiteral("QUIT");
        e.delivered = int(p.transfers.size());
        e.finalState = p.isWalk() ? FtpClient::LoggedIn : FtpClient::Unconnected;
    };
    const auto failAt = [&](int position, bool sent, const QString &detail, FtpClient::State state) {
        Q_ASSERT(position >= 0);
        const QString line = p.commands.at(position);
        const QString verb = verbOf(line);
        e.end = End::Failed;
        e.commands = p.commands.mid(0, position + (sent ? 1 : 0));
        e.delivered = int(std::count_if(p.commands.begin(), p.commands.begin() + position,
                                        [](const QString &l) { return verbOf(l) == "RETR" || verbOf(l) == "STOR"; }));
        const bool transfer = verb == QLatin1String("RETR") || verb == QLatin1String("STOR");
        e.failedFile = transfer ? argumentOf(line) : QString();
        // A failed transfer is reported for the command and again for the batch.
        e.boxCount = transfer ? 2 : 1;
        QString heading = QStringLiteral("Uploading file %1 failed:\n").arg(argumentOf(line));
        if (verb == QLatin1String("USER") || verb == QLatin1String("PASS"))
            heading = QStringLiteral("Login failed:\n");
        else if (verb == QLatin1String("CWD"))
            heading = QStringLiteral("Changing directory failed:\n");
        else if (verb == QLatin1String("MKD"))
            heading = QStringLiteral("Creating directory failed:\n");
        else if (verb == QLatin1String("LIST"))
            heading = QStringLiteral("Listing directory failed:\n");
        else if (verb == QLatin1String("RETR"))
            heading = QStringLiteral("Downloading file %1 failed:\n").arg(argumentOf(line));
        e.boxPattern = QRegularExpression::escape(heading) + detail;
        e.finalState = state;
    };
    // TYPE, PASV and ALLO belong to the transfer that follows them,
    // which then never goes out.
    const auto position = [&] {
        if (isToolVerb(f.verb))
            return lineOf(p.commands, f.verb, f.argument, f.occurrence);
        if (!f.argument.isEmpty())
            return transferLineOf(f.argument);
        return int(std::find_if(p.commands.begin(), p.commands.end(), [](const QString &l) {
                       return verbOf(l) == "RETR" || verbOf(l) == "STOR" || verbOf(l) == "LIST";
                   }) - p.commands.begin());
    };
    // The first transfer whose file is bigger than `size` or lies in `folder`.
    const auto firstTransfer = [&](qint64 size, const QString &folder) {
        for (const QString &file : p.transfers) {
            if (folder.isEmpty() ? instrumentFile(file).size > size
                                 : instrumentFile(file).path.startsWith(folder + QLatin1Char('/')))
                return transferLineOf(file);
        }
        return -1;
    };

    switch (f.kind) {
    case FaultKind::None:
    case FaultKind::SlowLink:
        completed();
        break;
    case FaultKind::WrongSize:
        completed();
        if (!p.uploads && p.transfers.contains(f.argument)) {
            e.end = End::Incomplete;
            e.commands = p.commands;
            e.boxCount = 1;
            // More data than listed: the file changed since the listing; it
            // is stopped there, named, and the rest is fetched.
            e.boxPattern = QRegularExpression::escape(p.incompleteText)
                    + (f.amount < 0 ? QRegularExpression::escape(QStringLiteral(
                                          "\n\nNot done:\n%1 (changed on the instrument since the listing: "
                                          "Connect again to fetch it)").arg(instrumentFile(f.argument).path))
                                    : QString());
            e.finalState = FtpClient::LoggedIn;
            // A file of another size than listed never replaces the earlier copy.
            e.failedFile = f.argument;
            e.delivered = int(p.transfers.size());
            e.missing = 1;
        } else if (p.uploads && p.transfers.contains(f.argument)) {
            // The listing after the uploads is taken at its word: a file it
            // shows shorter than sent was not kept whole.
            const InstrumentFile &file = instrumentFile(f.argument);
            e.end = End::Incomplete;
            e.commands = p.commands;
            e.boxCount = 1;
            e.boxPattern = QRegularExpression::escape(
                    QStringLiteral("%1\n\nNot done:\n%2 (the instrument kept %3 of %4 bytes)")
                            .arg(p.incompleteText, file.path, QLocale(QLocale::English).toString(file.size + f.amount),
                                 QLocale(QLocale::English).toString(file.size)));
            e.finalState = FtpClient::LoggedIn;
            e.delivered = int(p.transfers.size());
            e.missing = 1;
        }
        break;
    case FaultKind::Refuse:
        if (f.verb == QLatin1String("QUIT")) {
            completed(); // the connection ends anyway
        } else if (f.verb == QLatin1String("ALLO")) {
            completed(); // only a courtesy to the server
            e.fallbackVerb = QStringLiteral("ALLO");
        } else if (f.verb == QLatin1String("MKD")) {
            // A refused folder creation stops nothing by itself (the folder
            // may exist); entering the folder that is not there does.
            failAt(lineOf(p.commands, QStringLiteral("CWD"), f.argument), true,
                   QString::number(f.code) + QStringLiteral(" .*"), FtpClient::LoggedIn);
        } else {
            FtpClient::State state = FtpClient::LoggedIn;
            if (f.code == 421)
                state = FtpClient::Unconnected;
            else if (f.verb == QLatin1String("USER") || f.verb == QLatin1String("PASS"))
                state = FtpClient::Connected;
            failAt(position(), isToolVerb(f.verb), QString::number(f.code) + QStringLiteral(" .*"), state);
        }
        break;
    case FaultKind::Silent:
    case FaultKind::DropAt:
        if (f.verb == QLatin1String("QUIT")) {
            completed();
        } else if (p.uploads && f.verb == QLatin1String("LIST")) {
            // Every file went out whole, but nothing shows what the
            // instrument kept: none of them counts as stored.
            e.end = End::Incomplete;
            e.commands = p.commands.mid(0, lineOf(p.commands, f.verb, f.argument, f.occurrence) + 1);
            e.delivered = int(p.transfers.size());
            e.missing = int(p.transfers.size());
            e.boxCount = 1;
            e.boxPattern = QRegularExpression::escape(p.incompleteText + QStringLiteral("\n\nNot done:\n"))
                    + QStringLiteral(".* \\(sent, but not confirmed by the instrument\\)")
                    + QRegularExpression::escape(
                              QStringLiteral("\n\nThe instrument's listing of what was sent failed:\n"))
                    + QStringLiteral("Connection closed");
        } else {
            failAt(position(), isToolVerb(f.verb),
                   f.kind == FaultKind::DropAt ? QStringLiteral("Connection closed")
                       : QStringLiteral("The server did not answer within %1 ms").arg(silentIdleTimeoutMs),
                   FtpClient::Unconnected);
        }
        break;
    case FaultKind::DropMidTransfer:
        failAt(transferLineOf(f.argument), true,
               p.uploads ? QStringLiteral("Connection closed")
                         : QStringLiteral("Connection closed( after \\d+ of \\d+ bytes)?"),
               FtpClient::Unconnected);
        e.partialRemoteFile = p.uploads;
        break;
    case FaultKind::AnswerAfter:
        failAt(transferLineOf(f.argument), true, QStringLiteral("451 .*"), FtpClient::LoggedIn);
        e.partialRemoteFile = p.uploads;
        break;
    case FaultKind::Cut:
        failAt(transferLineOf(f.argument), true,
               p.uploads ? QStringLiteral("(426 .*|Connection closed after \\d+ bytes were sent)")
                         : QStringLiteral("(426 .*|Connection closed after \\d+ of \\d+ bytes)"),
               FtpClient::LoggedIn);
        e.partialRemoteFile = p.uploads;
        break;
    case FaultKind::FolderIsFile:
        // A folder the operation writes must be a folder of its own.
        if (firstTransfer(0, f.localFolder) < 0 && f.localFolder != QLatin1String("DATA")) {
            completed();
        } else {
            e.end = End::Refused;
            e.boxCount = 1;
            e.boxTitle = QStringLiteral("PATH ERROR");
            e.boxPattern = QStringLiteral("Not a folder of its own \\(a link, or not a folder\\):\n.*/base/")
                    + QRegularExpression::escape(f.localFolder);
            e.finalState = FtpClient::LoggedIn;
        }
        break;
    case FaultKind::DiskFull:
        failAt(firstTransfer(f.amount, QString()), true, QStringLiteral("Writing the local file failed: File too large"),
               FtpClient::LoggedIn);
        break;
    case FaultKind::InstrumentDiskFull:
        failAt(firstTransfer(f.amount, QString()), true,
               QStringLiteral("(451 .*|Connection closed after \\d+ bytes were sent)"), FtpClient::LoggedIn);
        e.partialRemoteFile = true;
        break;
    case FaultKind::SourceVanishes:
    case FaultKind::SourceUnreadable:
    case FaultKind::SourceIsFifo:
    case FaultKind::SourceLinkedOut:
    case FaultKind::SourceFolderLinkedOut: {
        // The source is named, and so is what stands in its place.
        const QString reason = f.kind == FaultKind::SourceVanishes ? QStringLiteral("No such file or directory")
                : f.kind >= FaultKind::SourceLinkedOut ? QStringLiteral("it no longer lies inside the chosen folder")
                                                       : QStringLiteral("not a regular file");
        failAt(transferLineOf(f.argument), false,
               QStringLiteral("Cannot open the local file for reading: .*/%1: %2")
                       .arg(QRegularExpression::escape(instrumentFile(f.argument).path), reason),
               FtpClient::LoggedIn);
        break;
    }
    }
    return e;
}

// Fills in what the operation makes of the fault: the verb of its transfers
// and the file a role points at.
Fault resolve(const Fault &generic, const PlanUnderTest &plan)
{
    Fault f = generic;
    const QString transferVerb = plan.uploads ? QStringLiteral("STOR") : QStringLiteral("RETR");
    if (f.verb == QLatin1String("XFER"))
        f.verb = transferVerb;
    f.title = f.title.contains(QLatin1String("%1")) ? f.title.arg(transferVerb) : f.title;
    // The walk moves no file; a listing fault there names one of the instrument's.
    const QStringList transfers = plan.transfers.isEmpty()
            ? QStringList{QStringLiteral("A1.DAT"), QStringLiteral("A2.DAT"), QStringLiteral("STARTPAGE")}
            : plan.transfers;
    switch (f.role) {
    case Role::None: break;
    case Role::First: f.argument = transfers.first(); break;
    case Role::Middle: f.argument = transfers.at(1); break;
    case Role::Last: f.argument = transfers.last(); break;
    }
    return f;
}

// The exact command line on whose receipt the stand-in drops the connection,
// and how many equal lines come before it.
void locateDrop(Scenario &s)
{
    const Fault &f = s.fault;
    s.dropOccurrence = 1;
    if (!isToolVerb(f.verb) || f.verb == QLatin1String("QUIT")) {
        s.dropLine = f.argument.isEmpty() ? f.verb : f.verb + QLatin1Char(' ') + f.argument;
        return;
    }
    const QStringList &lines = s.plan.commands;
    const int i = lineOf(lines, f.verb, f.argument, f.occurrence);
    if (i < 0)
        qFatal("%s: no command to drop the connection at", qPrintable(s.title));
    s.dropLine = lines.at(i);
    s.dropOccurrence = int(std::count(lines.begin(), lines.begin() + i + 1, s.dropLine));
}

} // namespace

const QList<InstrumentFile> &instrumentFiles()
{
    static const QList<InstrumentFile> files = {
        {"DATA/IPA_BD1/A1.DAT", 3000}, {"DATA/IPA_BD1/A2.DAT", 20000}, {"DATA/IPS_BD1/S1.DAT", 700},
        {"TEXT/T1.TXT", 500}, {"FONTS/F1.FNT", 900},
        {"COMMANDS.TXT", 40}, {"INIE91.CFG", 120}, {"INIE91.FLS", 130}, {"R9DIGIT", 50}, {"STARTPAGE", 30},
    };
    return files;
}

const InstrumentFile &instrumentFile(const QString &name)
{
    for (const InstrumentFile &file : instrumentFiles()) {
        if (file.name() == name)
            return file;
    }
    qFatal("no instrument file %s", qPrintable(name));
}

const QList<Scenario> &faultScenarios()
{
    static const QList<Scenario> scenarios = [] {
        QList<Scenario> list;
        for (Action operation : {Action::ConnectWalk, Action::DataBackup, Action::Clone,
                                    Action::DataRestore, Action::Update}) {
            for (const FaultEntry &entry : faultList()) {
                if (!(entry.operations & (1u << int(operation))))
                    continue;
                Scenario s;
                s.plan = planFor(operation, entry.fault.emptyInstrument);
                s.fault = resolve(entry.fault, s.plan);
                s.title = s.plan.title + QStringLiteral(": ") + s.fault.title;
                s.expected = expect(s.plan, s.fault);
                if (s.fault.kind == FaultKind::DropAt)
                    locateDrop(s);
                list.append(s);
            }
        }
        return list;
    }();
    return scenarios;
}
