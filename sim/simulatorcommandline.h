#pragma once

#include "sim/samplegenerator.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class InstrumentServer;

struct SimulatorSettings {
    QString rootPath;
    quint16 port = 2121;
    bool generate = false;
    SampleSet sample;
    QString logFile;
    int dataConnectionTimeout = 10000;
    bool exitOnStdinClose = false;
    bool verbose = false;
};

// The options of r9-instrument-sim: the served folder, the sample to
// generate and the faults to inject.
class SimulatorCommandLine
{
public:
    SimulatorCommandLine();

    // False when the arguments (program name first) are wrong; errorText() says why.
    bool parse(const QStringList &arguments);
    QString errorText() const { return m_error; }
    bool helpRequested() const;
    bool versionRequested() const;
    QString helpText() const;

    const SimulatorSettings &settings() const { return m_settings; }
    // One line per fault, for the start-up banner.
    QStringList faultSummary() const { return m_summary; }
    void applyFaults(InstrumentServer &server) const;

    // "1234", "64K", "3M", "2G" (binary multiples); -1 when malformed.
    static qint64 parseBytes(const QString &text);

private:
    bool fail(const QString &text);
    bool parseFaults();
    // Faults on transfers, of FILE's alone when it is given: each value of
    // `option` is BYTES[:FILE]; `add` takes the bytes, the file and " of
    // FILE" (empty without one) for the banner.
    bool parseSizedFaults(const QCommandLineOption &option,
                          const std::function<void(qint64, const QString &, const QString &)> &add);
    bool parseSample();

    QCommandLineParser m_parser;
    SimulatorSettings m_settings;
    std::vector<std::function<void(InstrumentServer &)>> m_faults;
    QStringList m_summary;
    QString m_error;
};
