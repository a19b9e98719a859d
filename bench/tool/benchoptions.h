#pragma once

#include <QString>
#include <QStringList>

// The driver's command line: which operation to run against the stand-in on
// 127.0.0.1:<port>, with which local folder.
struct BenchOptions
{
    quint16 port = 0;
    QString localFolder;
    QString operation;       // "clone", "backup", "restore" or "update"
    QString buttonName;      // the window's button of that operation
    QString completedText;   // what the label shows when it has succeeded
    QString commandLogPath;  // the stand-in's --log file, to mark where the operation starts
    int timeoutSeconds = 1800;
    bool hidden = false;     // diagnostic: the window never shows, so nothing is painted

    // False with a readable text in `error` when the arguments make no run.
    bool parse(const QStringList &arguments, QString *error);
    static QString usage();
};
