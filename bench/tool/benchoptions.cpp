#include "bench/tool/benchoptions.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

struct OperationButton {
    const char *operation;
    const char *buttonName;
    const char *completedText;
};

const OperationButton operationButtons[] = {
    {"clone", "BackupBotton", "Backup Completed"},
    {"backup", "BackupBotton_2", "Backup Completed"},
    {"restore", "BackupBotton_3", "Update Completed"},
    {"update", "updateButton", "Update Completed"},
};

} // namespace

bool BenchOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption localOption(QStringLiteral("local"), QString(), QStringLiteral("folder"));
    const QCommandLineOption operationOption(QStringLiteral("operation"), QString(), QStringLiteral("name"));
    const QCommandLineOption logOption(QStringLiteral("command-log"), QString(), QStringLiteral("file"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"), QString(), QStringLiteral("seconds"));
    const QCommandLineOption hiddenOption(QStringLiteral("hidden"));
    parser.addOptions({portOption, localOption, operationOption, logOption, timeoutOption, hiddenOption});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }

    bool ok = false;
    const uint portNumber = parser.value(portOption).toUInt(&ok);
    if (!ok || portNumber == 0 || portNumber > 65535) {
        *error = QStringLiteral("--port wants the stand-in's port on 127.0.0.1");
        return false;
    }
    port = quint16(portNumber);

    localFolder = parser.value(localOption);
    if (localFolder.isEmpty() || !QFileInfo(localFolder).isDir()) {
        *error = QStringLiteral("--local wants an existing folder");
        return false;
    }
    localFolder = QFileInfo(localFolder).absoluteFilePath();

    operation = parser.value(operationOption);
    for (const OperationButton &known : operationButtons) {
        if (operation == QLatin1String(known.operation)) {
            buttonName = QLatin1String(known.buttonName);
            completedText = QLatin1String(known.completedText);
        }
    }
    if (buttonName.isEmpty()) {
        *error = QStringLiteral("--operation wants clone, backup, restore or update");
        return false;
    }

    commandLogPath = parser.value(logOption);
    hidden = parser.isSet(hiddenOption);
    if (parser.isSet(timeoutOption)) {
        timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
        if (!ok || timeoutSeconds <= 0) {
            *error = QStringLiteral("--timeout wants a number of seconds");
            return false;
        }
    }
    return true;
}

QString BenchOptions::usage()
{
    return QStringLiteral(
        "usage: r9-bench-tool --port N --local FOLDER --operation clone|backup|restore|update\n"
        "                     [--command-log FILE] [--timeout SECONDS] [--hidden]\n"
        "Runs one operation of the real window against the instrument stand-in on\n"
        "127.0.0.1:N and prints one JSON line of measurements. --hidden never shows\n"
        "the window (a diagnostic: the same work without painting).\n");
}
