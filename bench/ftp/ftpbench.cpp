// Drives FtpClient for the benchmark: one download or upload, or a whole
// folder of files, against a server on 127.0.0.1. Prints one result line.
#include "ftp/ftpclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "get REMOTE LOCAL | put LOCAL REMOTE | getdir REMOTEDIR LOCALDIR | putdir LOCALDIR REMOTEDIR"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Server port on 127.0.0.1."),
                                        QStringLiteral("n"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("name"),
                                        QStringLiteral("root"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Password."),
                                            QStringLiteral("text"), QStringLiteral("+00417263850"));
    parser.addOptions({ portOption, userOption, passwordOption });
    parser.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("get, put, getdir or putdir"));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 3 || !parser.isSet(portOption)) {
        QTextStream(stderr) << parser.helpText();
        return 2;
    }
    const QString mode = args[0];

    FtpClient client;
    std::vector<std::unique_ptr<QFile>> files;
    qint64 bytes = 0;
    int transfers = 0;
    QString failure;
    // Files are closed as soon as their command ends, so that a folder of
    // thousands of files does not run out of descriptors.
    QObject::connect(&client, &FtpClient::commandFinished, &client, [&](int, bool error) {
        if (auto *file = qobject_cast<QFile *>(client.currentDevice())) {
            bytes += file->size();
            file->close();
            ++transfers;
        }
        if (error && failure.isEmpty())
            failure = client.errorString();
    });
    QObject::connect(&client, &FtpClient::done, &app, [&](bool error) {
        if (error && failure.isEmpty())
            failure = client.errorString();
        app.exit(error ? 1 : 0);
    });

    QElapsedTimer clock;
    clock.start();
    client.connectToHost(QStringLiteral("127.0.0.1"), quint16(parser.value(portOption).toUInt()));
    client.login(parser.value(userOption), parser.value(passwordOption));

    if (mode == QLatin1String("get")) {
        files.push_back(std::make_unique<QFile>(args[2]));
        client.get(args[1], files.back().get());
        client.close();
    } else if (mode == QLatin1String("put")) {
        files.push_back(std::make_unique<QFile>(args[1]));
        client.put(files.back().get(), args[2]);
        client.close();
    } else if (mode == QLatin1String("getdir")) {
        // As a mirror does: list the folder, then fetch every file in it.
        const QString localDir = args[2];
        QDir().mkpath(localDir);
        client.cd(args[1]);
        QStringList names;
        QObject::connect(&client, &FtpClient::listInfo, &client, [&](const UrlInfo &info) {
            if (info.isFile())
                names.append(info.name());
        });
        const int list = client.list();
        QObject::connect(&client, &FtpClient::commandFinished, &client, [&, list](int id, bool error) {
            if (id != list || error)
                return;
            for (const QString &name : std::as_const(names)) {
                files.push_back(std::make_unique<QFile>(localDir + QLatin1Char('/') + name));
                client.get(name, files.back().get());
            }
            client.close();
        });
    } else if (mode == QLatin1String("putdir")) {
        client.mkdir(args[2]);
        client.cd(args[2]);
        const QFileInfoList local = QDir(args[1]).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo &info : local) {
            files.push_back(std::make_unique<QFile>(info.filePath()));
            client.put(files.back().get(), info.fileName());
        }
        client.close();
    } else {
        QTextStream(stderr) << "Unknown mode " << mode << '\n';
        return 2;
    }

    const int result = app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (result != 0) {
        QTextStream(stderr) << "failed: " << failure << '\n';
        return 1;
    }
    QTextStream(stdout) << "ok bytes=" << bytes << " files=" << transfers << " seconds=" << seconds << '\n';
    return 0;
}
