#include "sim/instrumentserver.h"
#include "sim/samplegenerator.h"
#include "sim/shutdownwatcher.h"
#include "sim/simulatorcommandline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

bool prepareSample(const SimulatorSettings &settings)
{
    const QDir root(settings.rootPath);
    if (root.exists() && !root.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        err() << "r9-instrument-sim: " << settings.rootPath << " is not empty; serving it as it is\n";
        err().flush();
        return true;
    }
    QString error;
    if (!SampleGenerator::generate(settings.rootPath, settings.sample, &error)) {
        err() << "r9-instrument-sim: cannot write the sample: " << error << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("r9-instrument-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(R9_SIM_VERSION));

    SimulatorCommandLine commandLine;
    if (!commandLine.parse(app.arguments())) {
        err() << "r9-instrument-sim: " << commandLine.errorText() << "\nTry --help.\n";
        return 2;
    }
    if (commandLine.helpRequested()) {
        QTextStream(stdout) << commandLine.helpText();
        return 0;
    }
    if (commandLine.versionRequested()) {
        QTextStream(stdout) << "r9-instrument-sim " << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    const SimulatorSettings &settings = commandLine.settings();
    if (settings.generate && !prepareSample(settings))
        return 1;

    ShutdownWatcher shutdown;
    if (settings.exitOnStdinClose)
        shutdown.watchStandardInput();
    QObject::connect(&shutdown, &ShutdownWatcher::shutdownRequested, &app, [](const QString &reason) {
        err() << "r9-instrument-sim: stopping (" << reason << ")\n";
        err().flush();
        QCoreApplication::quit();
    });

    InstrumentServer server;
    server.setRootPath(QFileInfo(settings.rootPath).absoluteFilePath());
    server.setDataConnectionTimeout(settings.dataConnectionTimeout);
    commandLine.applyFaults(server);
    if (!settings.logFile.isEmpty()) {
        server.setCommandLogFile(settings.logFile);
        if (!server.errorString().isEmpty()) {
            err() << "r9-instrument-sim: " << server.errorString() << '\n';
            return 1;
        }
    }
    if (settings.verbose) {
        QObject::connect(&server, &InstrumentServer::commandReceived, &app, [](int session, const QString &line) {
            err() << session << ' ' << line << '\n';
            err().flush();
        });
    }
    if (!server.listen(settings.port)) {
        err() << "r9-instrument-sim: cannot listen on 127.0.0.1:" << settings.port << ": " << server.errorString() << '\n';
        return 1;
    }

    for (const QString &fault : commandLine.faultSummary())
        err() << "r9-instrument-sim: fault: " << fault << '\n';
    err().flush();
    // Scripts and tests wait for this line to learn the port.
    QTextStream out(stdout);
    out << "r9-instrument-sim listening on 127.0.0.1:" << server.serverPort() << '\n';
    out.flush();
    std::fflush(stdout);

    const int status = app.exec();
    server.close();
    return status;
}
