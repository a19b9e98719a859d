#pragma once

#include "ftp/ftpclient.h"

#include <QList>
#include <QString>
#include <QStringList>

// The fault matrix as data: every operation of the tool crossed with every
// fault the stand-in or the PC can show, each with the outcome the tool must
// reach. A new fault is one more entry in the fault list of the .cpp.

enum class Action { ConnectWalk, DataBackup, Clone, DataRestore, Update };

// One file of the instrument of every scenario. Its path is also its path
// below the local base folder.
struct InstrumentFile
{
    QString path;
    int size = 0;
    QString name() const { return path.section(QLatin1Char('/'), -1); }
};

const QList<InstrumentFile> &instrumentFiles();
const InstrumentFile &instrumentFile(const QString &name);

struct PlanUnderTest
{
    Action operation = Action::ConnectWalk;
    QString title;
    const char *button = nullptr;
    bool uploads = false;
    QStringList transfers;  // file names in the order they move
    QStringList commands;   // the lines the stand-in receives, transfer plumbing left out
    QString completedText;
    QString incompleteText;
    bool isWalk() const { return operation == Action::ConnectWalk; }
};

enum class FaultKind {
    None,
    Refuse,             // the stand-in answers a command with an error code
    Silent,             // the stand-in never answers a command
    DropAt,             // the stand-in closes the control connection on receipt of a command
    DropMidTransfer,    // the stand-in goes away while a file moves
    Cut,                // the data connection closes after some bytes
    AnswerAfter,        // a transfer carried out in full, then answered with an error code
    WrongSize,          // the listing shows another size than the file has
    SlowLink,           // reply delay and rate limit
    FolderIsFile,       // target folder unwritable: a file stands where it should be
    DiskFull,           // writes past a size fail (RLIMIT_FSIZE)
    SourceVanishes,     // an upload source is deleted after it was queued
    SourceUnreadable,   // an upload source is replaced by a folder after it was queued
    SourceIsFifo,       // an upload source is replaced by a FIFO after it was queued
    SourceLinkedOut,    // an upload source is replaced by a link to a file outside the set after it was queued
    SourceFolderLinkedOut, // the folder of an upload source is replaced by a link to another folder after queueing
    InstrumentDiskFull, // the in-process stand-in cannot write past a size (RLIMIT_FSIZE)
};

// Which transfer of an operation a file-bound fault hits.
enum class Role { None, First, Middle, Last };

struct Fault
{
    FaultKind kind = FaultKind::None;
    QString title;            // "%1" stands for RETR or STOR
    QString verb;             // Refuse, Silent, DropAt; "XFER" stands for RETR or STOR
    QString argument;         // exact argument of the command, when it matters
    Role role = Role::None;   // with it, the argument is that transfer's file name
    int code = 0;             // Refuse: the reply code
    int occurrence = 1;       // DropAt: which command of that verb
    qint64 amount = 0;        // Cut: bytes; WrongSize: offset to the size; DiskFull: limit
    QString localFolder;      // FolderIsFile: below the base folder
    bool linkInstead = false; // FolderIsFile: a link to a folder elsewhere instead of a file
    bool emptyInstrument = false; // the walk finds folders but no files
    bool foldersKept = false;     // ... and they are still there when the operation runs
};

struct Expectation
{
    // Refused: the operation refuses the local folder before it queues anything.
    enum class End { Completed, Incomplete, Failed, Refused };
    End end = End::Completed;
    QStringList commands;     // what the stand-in receives after the walk (or in it)
    int delivered = 0;        // transfers that arrive, from the first on
    int missing = -1;         // files the result names as not done; -1: all but those delivered
    QString failedFile;       // the transfer the fault stops, if any
    int boxCount = 0;         // "FTP Error" boxes, all with the same text
    QString boxPattern;       // regular expression for the whole text of each box
    QString boxTitle = QStringLiteral("FTP Error");
    FtpClient::State finalState = FtpClient::Unconnected;
    QString fallbackVerb;     // a verb the client must have sent, all the same
    bool partialRemoteFile = false; // the instrument keeps part of a broken upload
};

struct Scenario
{
    QString title;
    PlanUnderTest plan;
    Fault fault;              // resolved: no "XFER", no role left open
    Expectation expected;
    QString dropLine;         // DropAt: the command line whose receipt ends the connection
    int dropOccurrence = 0;   // ... counted among equal lines
};

constexpr int silentIdleTimeoutMs = 1500;

const QList<Scenario> &faultScenarios();
