#include "scenariotable.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

const QString up = QStringLiteral("CWD  ..");

enum OperationBit : unsigned {
    Walk = 1u << int(Operation::ConnectWalk),
    Backup = 1u << int(Operation::DataBackup),
    Clone = 1u << int(Operation::Clone),
    Restore = 1u << int(Operation::DataRestore),
    Update = 1u << int(Operation::Update),
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

Fault refuse(const QString &title, const QString &verb, int code, const QString &argument = QString(),
             Role role = Role::None)
{
    Fault f;
    f.kind = FaultKind::Refuse;
    f.title = title;
    f.verb = verb;
    f.code = code;
    f.argument = argument;
    f.role = role;
    return f;
}

Fault silent(const QString &verb, bool emptyInstrument = false)
{
    Fault f;
    f.kind = FaultKind::Silent;
    f.title = QStringLiteral("no answer to %1%2 (idle timeout %3 ms)")
                      .arg(verb, emptyInstrument ? QStringLiteral(" on an emptied instrument") : QString())
                      .arg(silentIdleTimeoutMs);
    f.verb = verb;
    f.emptyInstrument = emptyInstrument;
    return f;
}

Fault dropAt(const QString &title, const QString &verb, int occurrence = 1, Role role = Role::None)
{
    Fault f;
    f.kind = FaultKind::DropAt;
    f.title = title;
    f.verb = verb;
    f.occurrence = occurrence;
    f.role = role;
    return f;
}

Fault simpleFault(FaultKind kind, const QString &title, Role role = Role::None, qint64 amount = 0)
{
    Fault f;
    f.kind = kind;
    f.title = title;
    f.role = role;
    f.amount = amount;
    return f;
}

Fault folderIsFile(const QString &folder)
{
    Fault f = simpleFault(FaultKind::FolderIsFile,
                    QStringLiteral("target folder unwritable (a file where %1 should be)").arg(folder));
    f.localFolder = folder;
    return f;
}

// The faults, each with the operations it applies to.
const QList<FaultEntry> &faultList()
{
    static const QList<FaultEntry> list = [] {
        QList<FaultEntry> l;
        l.append({simpleFault(FaultKind::None, QStringLiteral("no fault")), All});

        // Commands refused, with the codes an FTP server gives for them.
        l.append({refuse(QStringLiteral("USER refused (530)"), QStringLiteral("USER"), 530), Walk});
        l.append({refuse(QStringLiteral("USER refused (421, server closes)"), QStringLiteral("USER"), 421), Walk});
        l.append({refuse(QStringLiteral("PASS refused (530)"), QStringLiteral("PASS"), 530), Walk});
        l.append({refuse(QStringLiteral("every CWD refused (550)"), QStringLiteral("CWD"), 550), All});
        l.append({refuse(QStringLiteral("CWD DATA/IPS_BD1 refused (550)"), QStringLiteral("CWD"), 550,
                         QStringLiteral("DATA/IPS_BD1")), All});
        l.append({refuse(QStringLiteral("CWD back to the top folder refused (550)"), QStringLiteral("CWD"), 550,
                         QStringLiteral(" ..")), All});
        l.append({refuse(QStringLiteral("CWD TEXT refused (550)"), QStringLiteral("CWD"), 550,
                         QStringLiteral("TEXT")), Walk | Clone | Update});
        l.append({refuse(QStringLiteral("LIST refused (450)"), QStringLiteral("LIST"), 450), Walk});
        l.append({refuse(QStringLiteral("EPSV refused (500), PASV taken instead"), QStringLiteral("EPSV"), 500), All});
        l.append({refuse(QStringLiteral("EPSV (502) and PASV (425) refused"), QStringLiteral("PASV"), 425), All});
        l.append({refuse(QStringLiteral("TYPE I refused (504)"), QStringLiteral("TYPE"), 504), Operations});
        l.append({refuse(QStringLiteral("SIZE refused (550), size unknown"), QStringLiteral("SIZE"), 550), Downloads});
        l.append({refuse(QStringLiteral("RETR of the first file refused (550)"), QStringLiteral("RETR"), 550,
                         QString(), Role::First), Downloads});
        l.append({refuse(QStringLiteral("RETR of a middle file refused (421, server closes)"), QStringLiteral("RETR"),
                         421, QString(), Role::Middle), Downloads});
        l.append({refuse(QStringLiteral("RETR of the last file refused (450)"), QStringLiteral("RETR"), 450,
                         QString(), Role::Last), Downloads});
        l.append({refuse(QStringLiteral("STOR of the first file refused (553)"), QStringLiteral("STOR"), 553,
                         QString(), Role::First), Uploads});
        l.append({refuse(QStringLiteral("STOR of a middle file refused (421, server closes)"), QStringLiteral("STOR"),
                         421, QString(), Role::Middle), Uploads});
        l.append({refuse(QStringLiteral("STOR of the last file refused (452)"), QStringLiteral("STOR"), 452,
                         QString(), Role::Last), Uploads});
        Fault mkd = refuse(QStringLiteral("MKD DATA/IPS_BD1 refused on an emptied instrument (550)"),
                           QStringLiteral("MKD"), 550, QStringLiteral("DATA/IPS_BD1"));
        mkd.emptyInstrument = true;
        l.append({mkd, Uploads});
        l.append({refuse(QStringLiteral("QUIT refused (500)"), QStringLiteral("QUIT"), 500), Operations});

        // The control connection dropped on receipt of a command.
        l.append({dropAt(QStringLiteral("connection dropped at USER"), QStringLiteral("USER")), Walk});
        l.append({dropAt(QStringLiteral("connection dropped at PASS"), QStringLiteral("PASS")), Walk});
        l.append({dropAt(QStringLiteral("connection dropped at the third LIST"), QStringLiteral("LIST"), 3), Walk});
        l.append({dropAt(QStringLiteral("connection dropped at the last LIST"), QStringLiteral("LIST"), 5), Walk});
        l.append({dropAt(QStringLiteral("connection dropped at the first CWD"), QStringLiteral("CWD")), Operations});
        l.append({dropAt(QStringLiteral("connection dropped at the first %1"), QStringLiteral("XFER"), 1, Role::First),
                  Operations});
        l.append({dropAt(QStringLiteral("connection dropped at SIZE of a middle file"), QStringLiteral("SIZE"), 1,
                         Role::Middle), Downloads});
        l.append({dropAt(QStringLiteral("connection dropped at STOR of the last file"), QStringLiteral("STOR"), 1,
                         Role::Last), Uploads});
        Fault dropMkd = dropAt(QStringLiteral("connection dropped at the first MKD on an emptied instrument"),
                               QStringLiteral("MKD"));
        dropMkd.emptyInstrument = true;
        l.append({dropMkd, Uploads});
        l.append({dropAt(QStringLiteral("connection dropped at QUIT"), QStringLiteral("QUIT")), Operations});
        l.append({simpleFault(FaultKind::DropMidTransfer, QStringLiteral("instrument gone while a middle file moves"),
                        Role::Middle), Operations});

        // Data connections cut.
        l.append({simpleFault(FaultKind::Cut, QStringLiteral("data connection of the first file cut at 0 bytes"),
                        Role::First, 0), Operations});
        l.append({simpleFault(FaultKind::Cut, QStringLiteral("data connection of a middle file cut after 1000 bytes"),
                        Role::Middle, 1000), Operations});

        // The instrument stops answering.
        for (const char *verb : {"USER", "PASS", "LIST"})
            l.append({silent(QString::fromLatin1(verb)), Walk});
        l.append({silent(QStringLiteral("CWD")), All});
        l.append({silent(QStringLiteral("EPSV")), All});
        l.append({silent(QStringLiteral("TYPE")), Operations});
        l.append({silent(QStringLiteral("SIZE")), Downloads});
        l.append({silent(QStringLiteral("RETR")), Downloads});
        l.append({silent(QStringLiteral("STOR")), Uploads});
        l.append({silent(QStringLiteral("MKD"), true), Uploads});
        l.append({silent(QStringLiteral("QUIT")), Operations});

        // The listing lies about sizes.
        l.append({simpleFault(FaultKind::WrongSize, QStringLiteral("listed size of a middle file one byte short"),
                        Role::Middle, -1), All});
        l.append({simpleFault(FaultKind::WrongSize, QStringLiteral("listed size of the last file 1000 bytes too big"),
                        Role::Last, 1000), Downloads});

        l.append({simpleFault(FaultKind::SlowLink, QStringLiteral("slow link (30 ms reply delay, 64 KiB/s)")), All});

        // Faults of the PC.
        for (const char *folder : {"DATA/IPA_BD1", "DATA/IPS_BD1", "DATA", "TEXT"})
            l.append({folderIsFile(QString::fromLatin1(folder)), Downloads});
        l.append({simpleFault(FaultKind::DiskFull,
                        QStringLiteral("target disk full (RLIMIT_FSIZE 10000 bytes, SIGXFSZ ignored)"),
                        Role::None, 10000), Downloads});
        l.append({simpleFault(FaultKind::SourceVanishes,
                        QStringLiteral("source vanishes (first file deleted after queueing)"), Role::First), Uploads});
        l.append({simpleFault(FaultKind::SourceVanishes,
                        QStringLiteral("source vanishes (last file deleted after queueing)"), Role::Last), Uploads});
        l.append({simpleFault(FaultKind::SourceUnreadable,
                        QStringLiteral("source unreadable (middle file replaced by a folder after queueing)"),
                        Role::Middle), Uploads});
        l.append({simpleFault(FaultKind::SourceUnreadable,
                        QStringLiteral("source unreadable (last file replaced by a folder after queueing)"),
                        Role::Last), Uploads});
        l.append({simpleFault(FaultKind::InstrumentDiskFull,
                        QStringLiteral("instrument disk full (in-process stand-in, RLIMIT_FSIZE 10000 bytes)"),
                        Role::None, 10000), Uploads});
        return l;
    }();
    return list;
}

OperationPlan walkPlan()
{
    OperationPlan p;
    p.operation = Operation::ConnectWalk;
    p.title = QStringLiteral("connect walk");
    p.button = "connectbotton";
    p.commands = QStringList{
        "USER root", "PASS +00417263850",
        "CWD DATA/IPA_BD1", "LIST", up, "CWD DATA/IPS_BD1", "LIST", up,
        "CWD TEXT", "LIST", up, "CWD FONTS", "LIST", up, "LIST"};
    return p;
}

OperationPlan downloadPlan(Operation operation)
{
    OperationPlan p;
    p.operation = operation;
    p.completedText = QStringLiteral("Backup Completed");
    p.incompleteText = QStringLiteral("Backup Incomplete");
    const QStringList data = {
        up, "CWD DATA/IPA_BD1", "RETR A1.DAT",
        up, "CWD DATA/IPA_BD1", "RETR A2.DAT",
        up, "CWD DATA/IPS_BD1", "RETR S1.DAT"};
    if (operation == Operation::DataBackup) {
        p.title = QStringLiteral("Data Backup");
        p.button = "BackupBotton_2";
        p.transfers = QStringList{"A1.DAT", "A2.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"};
        // One step back to the top folder for every file of the top folder.
        p.commands = data + QStringList{up, up, "RETR INIE91.CFG", up, "RETR INIE91.FLS", up, up};
    } else {
        p.title = QStringLiteral("Clone");
        p.button = "BackupBotton";
        p.transfers = QStringList{"A1.DAT", "A2.DAT", "S1.DAT", "T1.TXT", "F1.FNT",
                                  "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT", "STARTPAGE"};
        p.commands = data + QStringList{
            up, "CWD TEXT", "RETR T1.TXT", up, "CWD FONTS", "RETR F1.FNT",
            up, "RETR COMMANDS.TXT", up, "RETR INIE91.CFG", up, "RETR INIE91.FLS",
            up, "RETR R9DIGIT", up, "RETR STARTPAGE", up};
    }
    return p;
}

OperationPlan uploadPlan(Operation operation, bool emptyInstrument)
{
    OperationPlan p;
    p.operation = operation;
    p.uploads = true;
    p.completedText = QStringLiteral("Update Completed");
    p.incompleteText = QStringLiteral("File Update Incomplete");
    const QStringList data = {
        "CWD DATA/IPA_BD1", "STOR A1.DAT", "STOR A2.DAT", up, "CWD DATA/IPS_BD1", "STOR S1.DAT"};
    QStringList folders = {"MKD DATA", "MKD DATA/IPA_BD1", "MKD DATA/IPS_BD1"};
    if (operation == Operation::DataRestore) {
        p.title = QStringLiteral("Data Restore");
        p.button = "BackupBotton_3";
        p.transfers = QStringList{"A1.DAT", "A2.DAT", "S1.DAT", "INIE91.CFG", "INIE91.FLS"};
        p.commands = data + QStringList{up, "STOR INIE91.CFG", "STOR INIE91.FLS", up};
    } else {
        p.title = QStringLiteral("Update");
        p.button = "updateButton";
        p.transfers = QStringList{"A1.DAT", "A2.DAT", "S1.DAT", "T1.TXT", "F1.FNT",
                                  "COMMANDS.TXT", "INIE91.CFG", "INIE91.FLS", "R9DIGIT", "STARTPAGE"};
        p.commands = data + QStringList{
            up, "CWD TEXT", "STOR T1.TXT", up, "CWD FONTS", "STOR F1.FNT",
            up, "STOR COMMANDS.TXT", "STOR INIE91.CFG", "STOR INIE91.FLS", "STOR R9DIGIT", "STOR STARTPAGE", up};
        folders << "MKD TEXT" << "MKD FONTS";
    }
    if (emptyInstrument)
        p.commands = folders + p.commands;
    return p;
}

OperationPlan planFor(Operation operation, bool emptyInstrument)
{
    switch (operation) {
    case Operation::ConnectWalk: return walkPlan();
    case Operation::DataBackup:
    case Operation::Clone: return downloadPlan(operation);
    case Operation::DataRestore:
    case Operation::Update: return uploadPlan(operation, emptyInstrument);
    }
    return OperationPlan();
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

bool isTransferLine(const QString &line)
{
    const QString verb = verbOf(line);
    return verb == QLatin1String("RETR") || verb == QLatin1String("STOR") || verb == QLatin1String("LIST");
}

// Verbs that go out as a command line of their own; the others are
// plumbing of the transfer that follows them.
bool isToolVerb(const QString &verb)
{
    static const QStringList verbs = {"USER", "PASS", "CWD", "LIST", "RETR", "STOR", "MKD", "QUIT"};
    return verbs.contains(verb);
}

QString headingFor(const QString &line)
{
    const QString verb = verbOf(line);
    if (verb == QLatin1String("USER") || verb == QLatin1String("PASS"))
        return QStringLiteral("Login failed:\n");
    if (verb == QLatin1String("CWD"))
        return QStringLiteral("Changing directory failed:\n");
    if (verb == QLatin1String("MKD"))
        return QStringLiteral("Creating directory failed:\n");
    if (verb == QLatin1String("LIST"))
        return QStringLiteral("Listing directory failed:\n");
    if (verb == QLatin1String("RETR"))
        return QStringLiteral("Downloading file %1 failed:\n").arg(argumentOf(line));
    return QStringLiteral("Uploading file %1 failed:\n").arg(argumentOf(line));
}

class ExpectationBuilder
{
public:
    ExpectationBuilder(const OperationPlan &plan, const Fault &fault) : p(plan), f(fault) {}

    Expectation build();

private:
    void completed();
    void incomplete();
    void failAt(int position, bool sent, const QString &detail, FtpClient::State state);
    int lineWithVerb(const QString &verb, const QString &argument, int occurrence = 1) const;
    int transferLineOf(const QString &name) const;
    int firstTransferLine() const;
    int plumbingPosition() const;
    int position() const;

    const OperationPlan &p;
    const Fault &f;
    Expectation e;
};

void ExpectationBuilder::completed()
{
    e.end = Expectation::End::Completed;
    e.commands = p.commands;
    if (!p.isWalk())
        e.commands << QStringLiteral("QUIT");
    e.delivered = p.transfers.size();
    e.finalState = p.isWalk() ? FtpClient::LoggedIn : FtpClient::Unconnected;
}

void ExpectationBuilder::incomplete()
{
    e.end = Expectation::End::Incomplete;
    e.commands = p.commands;
    e.delivered = p.transfers.size();
    e.boxCount = 1;
    e.boxPattern = QRegularExpression::escape(p.incompleteText);
    e.finalState = FtpClient::LoggedIn;
}

void ExpectationBuilder::failAt(int position, bool sent, const QString &detail, FtpClient::State state)
{
    Q_ASSERT(position >= 0);
    const QString line = p.commands.at(position);
    e.end = Expectation::End::Failed;
    e.commands = p.commands.mid(0, position + (sent ? 1 : 0));
    e.delivered = 0;
    for (int i = 0; i < position; ++i) {
        if (isTransferLine(p.commands.at(i)) && verbOf(p.commands.at(i)) != QLatin1String("LIST"))
            ++e.delivered;
    }
    const QString verb = verbOf(line);
    const bool transfer = verb == QLatin1String("RETR") || verb == QLatin1String("STOR");
    e.failedFile = transfer ? argumentOf(line) : QString();
    // A failed transfer is reported for the command and again for the batch.
    e.boxCount = transfer ? 2 : 1;
    e.boxPattern = QRegularExpression::escape(headingFor(line)) + detail;
    e.finalState = state;
}

int ExpectationBuilder::lineWithVerb(const QString &verb, const QString &argument, int occurrence) const
{
    int seen = 0;
    for (int i = 0; i < p.commands.size(); ++i) {
        const QString &line = p.commands.at(i);
        if (verbOf(line) == verb && (argument.isEmpty() || argumentOf(line) == argument) && ++seen == occurrence)
            return i;
    }
    return -1;
}

int ExpectationBuilder::transferLineOf(const QString &name) const
{
    return lineWithVerb(p.uploads ? QStringLiteral("STOR") : QStringLiteral("RETR"), name);
}

int ExpectationBuilder::firstTransferLine() const
{
    for (int i = 0; i < p.commands.size(); ++i) {
        if (isTransferLine(p.commands.at(i)))
            return i;
    }
    return -1;
}

// TYPE, SIZE, EPSV and PASV belong to the transfer that follows them, which
// then never goes out.
int ExpectationBuilder::plumbingPosition() const
{
    if (!f.argument.isEmpty())
        return transferLineOf(f.argument);
    return firstTransferLine();
}

int ExpectationBuilder::position() const
{
    if (isToolVerb(f.verb)) {
        if (f.kind == FaultKind::DropAt)
            return lineWithVerb(f.verb, f.argument, f.occurrence);
        return lineWithVerb(f.verb, f.argument);
    }
    return plumbingPosition();
}

Expectation ExpectationBuilder::build()
{
    const QString name = f.argument;
    const auto hasFile = [&] { return !name.isEmpty() && p.transfers.contains(name); };
    switch (f.kind) {
    case FaultKind::None:
    case FaultKind::SlowLink:
        completed();
        break;
    case FaultKind::WrongSize:
        if (!p.uploads && hasFile())
            incomplete();
        else
            completed();
        break;
    case FaultKind::Refuse: {
        if (f.verb == QLatin1String("QUIT") || f.verb == QLatin1String("SIZE")) {
            completed(); // the connection ends anyway; a transfer goes on without the size
            break;
        }
        if (f.verb == QLatin1String("EPSV") && f.code >= 500) {
            completed();
            e.fallbackVerb = QStringLiteral("PASV");
            break;
        }
        FtpClient::State state = FtpClient::LoggedIn;
        if (f.code == 421)
            state = FtpClient::Unconnected;
        else if (f.verb == QLatin1String("USER") || f.verb == QLatin1String("PASS"))
            state = FtpClient::Connected;
        failAt(position(), isToolVerb(f.verb), QString::number(f.code) + QStringLiteral(" .*"), state);
        break;
    }
    case FaultKind::Silent:
        if (f.verb == QLatin1String("QUIT")) {
            completed();
            break;
        }
        failAt(position(), isToolVerb(f.verb),
               QStringLiteral("The server did not answer within %1 ms").arg(silentIdleTimeoutMs),
               FtpClient::Unconnected);
        break;
    case FaultKind::DropAt:
        if (f.verb == QLatin1String("QUIT")) {
            completed();
            break;
        }
        failAt(position(), isToolVerb(f.verb), QStringLiteral("Connection closed"), FtpClient::Unconnected);
        break;
    case FaultKind::DropMidTransfer:
        failAt(transferLineOf(name), true,
               p.uploads ? QStringLiteral("Connection closed")
                         : QStringLiteral("Connection closed( after \\d+ of \\d+ bytes)?"),
               FtpClient::Unconnected);
        e.partialRemoteFile = p.uploads;
        break;
    case FaultKind::Cut:
        failAt(transferLineOf(name), true,
               p.uploads ? QStringLiteral("(426 .*|Connection closed after \\d+ bytes were sent)")
                         : QStringLiteral("(426 .*|Connection closed after \\d+ of \\d+ bytes)"),
               FtpClient::LoggedIn);
        e.partialRemoteFile = p.uploads;
        break;
    case FaultKind::FolderIsFile: {
        int position = -1;
        for (const QString &file : p.transfers) {
            if (instrumentFile(file).path.startsWith(f.localFolder + QLatin1Char('/'))) {
                position = transferLineOf(file);
                break;
            }
        }
        if (position < 0)
            completed();
        else
            failAt(position, false, QStringLiteral("Cannot open the local file for writing: .*"), FtpClient::LoggedIn);
        break;
    }
    case FaultKind::DiskFull:
    case FaultKind::InstrumentDiskFull: {
        int position = -1;
        for (const QString &file : p.transfers) {
            if (instrumentFile(file).size > f.amount) {
                position = transferLineOf(file);
                break;
            }
        }
        Q_ASSERT(position >= 0);
        if (f.kind == FaultKind::DiskFull) {
            failAt(position, true, QStringLiteral("Writing the local file failed: .*"), FtpClient::LoggedIn);
        } else {
            failAt(position, true, QStringLiteral("(451 .*|Connection closed after \\d+ bytes were sent)"),
                   FtpClient::LoggedIn);
            e.partialRemoteFile = true;
        }
        break;
    }
    case FaultKind::SourceVanishes:
    case FaultKind::SourceUnreadable:
        failAt(transferLineOf(name), false, QStringLiteral("Cannot open the local file for reading: .*"),
               FtpClient::LoggedIn);
        break;
    }
    return e;
}

// Fills in what the operation makes of the fault: the verb of its transfers
// and the file a role points at.
Fault resolve(const Fault &generic, const OperationPlan &plan)
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
    int seen = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (verbOf(lines.at(i)) == f.verb && (f.argument.isEmpty() || argumentOf(lines.at(i)) == f.argument)
            && ++seen == f.occurrence) {
            s.dropLine = lines.at(i);
            s.dropOccurrence = int(std::count(lines.begin(), lines.begin() + i + 1, s.dropLine));
            return;
        }
    }
    qFatal("%s: no command to drop the connection at", qPrintable(s.title));
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
        for (Operation operation : {Operation::ConnectWalk, Operation::DataBackup, Operation::Clone,
                                    Operation::DataRestore, Operation::Update}) {
            for (const FaultEntry &entry : faultList()) {
                if (!(entry.operations & (1u << int(operation))))
                    continue;
                Scenario s;
                s.plan = planFor(operation, entry.fault.emptyInstrument);
                s.fault = resolve(entry.fault, s.plan);
                s.title = s.plan.title + QStringLiteral(": ") + s.fault.title;
                s.expected = ExpectationBuilder(s.plan, s.fault).build();
                if (s.fault.kind == FaultKind::DropAt)
                    locateDrop(s);
                s.isolated = s.fault.kind == FaultKind::Refuse && s.fault.code == 421;
                list.append(s);
            }
        }
        return list;
    }();
    return scenarios;
}
