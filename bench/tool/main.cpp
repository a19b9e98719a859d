// Runs one operation of the real R9_update window, headless, against the
// instrument stand-in on 127.0.0.1, and prints one JSON line: the time from
// the click to the operation's result (its files then on disk), the files
// and bytes moved, and the process's memory and open files before and during
// the operation.

#include "bench/tool/benchoptions.h"
#include "bench/tool/messageboxcloser.h"
#include "bench/tool/resourcemeter.h"
#include "bench/tool/windowdriver.h"

#include "connection/instrumentendpoint.h"
#include "app/r9_update.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

namespace {

// Lines in the stand-in's command log so far: the operation's own commands
// are those logged after this line.
qint64 commandLogLines(const QString &path)
{
    QFile log(path);
    if (path.isEmpty() || !log.open(QIODevice::ReadOnly))
        return -1;
    // In pieces: the log grows with every run, and a copy of all of it would
    // show in the peak memory measured next.
    static char piece[64 * 1024];
    qint64 lines = 0;
    for (qint64 n; (n = log.read(piece, sizeof piece)) > 0;)
        lines += std::count(piece, piece + n, '\n');
    return lines;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    BenchOptions options;
    QString error;
    if (!options.parse(app.arguments(), &error)) {
        std::fprintf(stderr, "r9-bench-tool: %s\n%s", qPrintable(error), qPrintable(BenchOptions::usage()));
        return 2;
    }
    // Loopback only, whatever the build's compiled-in instrument address.
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), options.port};

    MessageBoxCloser boxes;
    R9_update window;
    if (!options.hidden)
        window.show();
    WindowDriver driver(&window);
    const int timeoutMs = options.timeoutSeconds * 1000;

    QJsonObject result{{QStringLiteral("operation"), options.operation}};
    double connectSeconds = 0;
    const bool connected = driver.connectToInstrument(options.localFolder, timeoutMs, &connectSeconds);
    result[QStringLiteral("connect_seconds")] = connectSeconds;
    bool ok = connected;
    if (connected) {
        result[QStringLiteral("rss_before_kib")] = ResourceMeter::residentKiB();
        result[QStringLiteral("hwm_before_kib")] = ResourceMeter::peakResidentKiB();
        result[QStringLiteral("open_files_before")] = ResourceMeter::openFiles();
        result[QStringLiteral("log_line_at_click")] = commandLogLines(options.commandLogPath);
        const double cpuBefore = ResourceMeter::cpuSeconds();

        const WindowDriver::Measurement m =
            driver.runOperation(options.buttonName, options.completedText, timeoutMs);
        result[QStringLiteral("cpu_seconds")] = ResourceMeter::cpuSeconds() - cpuBefore;
        result[QStringLiteral("hwm_kib")] = ResourceMeter::peakResidentKiB();
        result[QStringLiteral("peak_open_files")] = m.peakOpenFiles;
        result[QStringLiteral("seconds")] = m.seconds;
        result[QStringLiteral("files")] = m.files;
        result[QStringLiteral("bytes")] = m.bytes;
        result[QStringLiteral("finished")] = m.finished;
        result[QStringLiteral("client_error")] = m.clientError;
        result[QStringLiteral("completed")] = m.completed;
        ok = m.finished && !m.clientError && m.completed && boxes.boxes().isEmpty();
    }
    result[QStringLiteral("connected")] = connected;
    result[QStringLiteral("boxes")] = QJsonArray::fromStringList(boxes.boxes());
    result[QStringLiteral("ok")] = ok;

    std::fprintf(stdout, "%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return ok ? 0 : 1;
}
