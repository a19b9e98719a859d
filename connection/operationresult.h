#pragma once

#include "ftp/ftpclient.h"
#include "operations/comparison.h"
#include "operations/operation.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// Why a command stopped an operation, as a value: the client's kind of
// failure, the server's reply code when a reply caused it, the file the
// command was for, and the client's own words for the box.
struct Failure
{
    FtpClient::Error kind = FtpClient::NoError;
    int replyCode = 0;
    QString file;   // "folder/name" on the instrument; empty for a command that moves no file
    bool transfer = false; // the command was a download or an upload
    QString text;
};

// How one operation ended, decided once by the run that carried it out.
struct OperationResult
{
    enum Kind {
        Completed,  // every file in place (downloads), stored (uploads) or compared
        Incomplete, // it ran to its end, but files are missing; `notDone` names them
        Failed,     // a command failed and the rest was dropped; `failure` says which
        Refused,    // the local folder was refused before anything was sent
        Stopped,    // Disconnect or a signal stopped it
    };
    Operation operation = Operation::DataBackup;
    Kind kind = Completed;
    // The tool's own words: "Backup Completed", the incomplete box's text,
    // the refusal's, or the failed command's.
    QString text;
    Failure failure;
    bool refusedFolder = false; // Refused: a folder of the PC is at fault, not the set
    int count = 0;              // files of the operation, those left out included
    int missing = 0;            // of them, not done
    // Each file not done, "folder/name" as on the instrument; a left-out
    // one with its reason.
    QStringList notDone;
    // Compare: each file of both sides.
    QList<ComparedFile> compared;
    // What the technician should know besides the result, in one line.
    QString note;

    bool completed() const { return kind == Completed; }
};

// The end in one line, for a front end that keeps it in view:
// "Backup Completed · 40 files", "Backup Incomplete · 2 of 40 files missing".
QString summaryOf(const OperationResult &result);
// "Backup Incomplete" or "File Update Incomplete".
QString incompleteTextOf(Operation operation);

Q_DECLARE_METATYPE(OperationResult)
