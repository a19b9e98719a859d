#include "sim/simulatorcommandline.h"

#include "sim/instrumentserver.h"

#include <QRegularExpression>

namespace {

const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Serve <dir> as the instrument's top folder."),
                                    QStringLiteral("dir"));
const QCommandLineOption portOption(QStringLiteral("port"),
                                    QStringLiteral("Listen on 127.0.0.1:<n>; 0 picks a free port. Default 2121."),
                                    QStringLiteral("n"), QStringLiteral("2121"));
const QCommandLineOption generateOption(QStringLiteral("generate"),
                                        QStringLiteral("Write a sample instrument into the served folder first, "
                                                       "if it is empty or missing."));
const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the sample's content. Default 9."),
                                    QStringLiteral("n"), QStringLiteral("9"));
const QCommandLineOption filesOption(QStringLiteral("files"),
                                     QStringLiteral("Data files in each of DATA/IPA_BD1 and DATA/IPS_BD1. Default 12."),
                                     QStringLiteral("n"), QStringLiteral("12"));
const QCommandLineOption bigFileOption(QStringLiteral("big-file"),
                                       QStringLiteral("Add DATA/IPA_BD1/BIGDATA.BIN of this size (e.g. 3G)."),
                                       QStringLiteral("bytes"), QStringLiteral("0"));
const QCommandLineOption settingsOption(QStringLiteral("settings"),
                                        QStringLiteral("Settings files in the top folder, 0 to 14. Default 5."),
                                        QStringLiteral("n"), QStringLiteral("5"));
const QCommandLineOption logOption(QStringLiteral("log"),
                                   QStringLiteral("Append every command received to <file> as \"<session> <line>\"."),
                                   QStringLiteral("file"));
const QCommandLineOption refuseOption(QStringLiteral("refuse"),
                                      QStringLiteral("Fault: answer VERB with CODE instead of doing it; only for "
                                                     "FILE when given. Repeatable. E.g. RETR:550:M0000123.DAT"),
                                      QStringLiteral("VERB:CODE[:FILE]"));
const QCommandLineOption dropAfterOption(QStringLiteral("drop-after"),
                                         QStringLiteral("Fault: close the control connection, without a reply, on "
                                                        "the Nth command of each connection (USER is the first)."),
                                         QStringLiteral("N"));
const QCommandLineOption cutAfterOption(QStringLiteral("cut-after"),
                                        QStringLiteral("Fault: close the data connection of a RETR or STOR after "
                                                       "BYTES (only for FILE when given), then reply 426. Repeatable."),
                                        QStringLiteral("BYTES[:FILE]"));
const QCommandLineOption shortStoreOption(QStringLiteral("short-store"),
                                          QStringLiteral("Fault: read only the first BYTES of a STOR (only for FILE "
                                                         "when given), close the data connection and reply 226 all "
                                                         "the same. Repeatable."),
                                          QStringLiteral("BYTES[:FILE]"));
const QCommandLineOption minimalOption(QStringLiteral("minimal"),
                                       QStringLiteral("Answer EPSV, ALLO and SIZE with 502, as a minimal embedded "
                                                      "server that does not know them."));
const QCommandLineOption silentOption(QStringLiteral("silent"),
                                      QStringLiteral("Fault: never answer VERB (only with argument ARG when given); "
                                                     "the connection then hangs. Repeatable. E.g. \"CWD: ..\""),
                                      QStringLiteral("VERB[:ARG]"));
const QCommandLineOption lieSizeOption(QStringLiteral("lie-size"),
                                       QStringLiteral("Fault: show SIZE for FILE in LIST; SIZE and RETR stay true. "
                                                      "Repeatable."),
                                       QStringLiteral("FILE:SIZE"));
const QCommandLineOption delayOption(QStringLiteral("delay"),
                                     QStringLiteral("Fault: hold back every reply by MS milliseconds (LAN latency)."),
                                     QStringLiteral("MS"), QStringLiteral("0"));
const QCommandLineOption rateOption(QStringLiteral("rate"),
                                    QStringLiteral("Fault: limit each data transfer to this many bytes per second "
                                                   "(e.g. 64K); 0 is unlimited."),
                                    QStringLiteral("BYTES_PER_S"), QStringLiteral("0"));
const QCommandLineOption dataTimeoutOption(QStringLiteral("data-timeout"),
                                           QStringLiteral("Wait this long for a client's data connection before "
                                                          "replying 425. Default 10000."),
                                           QStringLiteral("MS"), QStringLiteral("10000"));
const QCommandLineOption stdinOption(QStringLiteral("exit-on-stdin-close"),
                                     QStringLiteral("Quit when standard input closes (for scripts and tests)."));
const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                       QStringLiteral("Print every command received on standard error."));

bool isVerb(const QString &text)
{
    static const QRegularExpression verb(QStringLiteral("^[A-Za-z]{3,4}$"));
    return verb.match(text).hasMatch();
}

bool toInt(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

} // namespace

SimulatorCommandLine::SimulatorCommandLine()
{
    m_parser.setApplicationDescription(QStringLiteral(
        "Stands in for an R9 instrument's FTP service: serves a folder as the instrument's top folder on "
        "127.0.0.1, with the account \"root\" / \"+00417263850\". Faults can be injected to see how a client "
        "copes. Stop it with Ctrl+C."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addOptions({ rootOption, portOption, generateOption, seedOption, filesOption, bigFileOption,
                          settingsOption, logOption, refuseOption, dropAfterOption, cutAfterOption, shortStoreOption,
                          minimalOption, silentOption, lieSizeOption, delayOption, rateOption, dataTimeoutOption,
                          stdinOption, verboseOption });
}

bool SimulatorCommandLine::fail(const QString &text)
{
    m_error = text;
    return false;
}

bool SimulatorCommandLine::helpRequested() const
{
    return m_parser.isSet(QStringLiteral("help"));
}

bool SimulatorCommandLine::versionRequested() const
{
    return m_parser.isSet(QStringLiteral("version"));
}

QString SimulatorCommandLine::helpText() const
{
    return m_parser.helpText();
}

qint64 SimulatorCommandLine::parseBytes(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,15})([KMG]?)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return -1;
    qint64 value = match.captured(1).toLongLong();
    const QString unit = match.captured(2).toUpper();
    const int shift = unit == QLatin1String("K") ? 10 : unit == QLatin1String("M") ? 20 : unit == QLatin1String("G") ? 30 : 0;
    if (value > (qint64(1) << (62 - shift)))
        return -1;
    return value << shift;
}

bool SimulatorCommandLine::parse(const QStringList &arguments)
{
    m_faults.clear();
    m_summary.clear();
    m_error.clear();
    m_settings = SimulatorSettings();
    if (!m_parser.parse(arguments))
        return fail(m_parser.errorText());
    if (helpRequested() || versionRequested())
        return true;
    if (!m_parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument \"%1\"").arg(m_parser.positionalArguments().constFirst()));

    m_settings.rootPath = m_parser.value(rootOption);
    if (m_settings.rootPath.isEmpty())
        return fail(QStringLiteral("--root <dir> is required: the folder to serve"));
    int port = 0;
    if (!toInt(m_parser.value(portOption), 0, 65535, &port))
        return fail(QStringLiteral("--port wants a number from 0 to 65535"));
    m_settings.port = quint16(port);
    if (!toInt(m_parser.value(dataTimeoutOption), 1, 3600 * 1000, &m_settings.dataConnectionTimeout))
        return fail(QStringLiteral("--data-timeout wants milliseconds, at least 1"));
    m_settings.logFile = m_parser.value(logOption);
    m_settings.exitOnStdinClose = m_parser.isSet(stdinOption);
    m_settings.verbose = m_parser.isSet(verboseOption);
    return parseSample() && parseFaults();
}

bool SimulatorCommandLine::parseSample()
{
    m_settings.generate = m_parser.isSet(generateOption);
    SampleSet &sample = m_settings.sample;
    bool ok = false;
    const uint seed = m_parser.value(seedOption).toUInt(&ok);
    if (!ok)
        return fail(QStringLiteral("--seed wants a number from 0 to 4294967295"));
    sample.seed = seed;
    if (!toInt(m_parser.value(filesOption), 0, 1000000, &sample.filesPerDataFolder))
        return fail(QStringLiteral("--files wants a number from 0 to 1000000"));
    if (!toInt(m_parser.value(settingsOption), 0, SampleGenerator::settingsFileNames().size(), &sample.settingsFiles))
        return fail(QStringLiteral("--settings wants a number from 0 to %1").arg(SampleGenerator::settingsFileNames().size()));
    sample.bigFileSize = parseBytes(m_parser.value(bigFileOption));
    if (sample.bigFileSize < 0)
        return fail(QStringLiteral("--big-file wants a size such as 4096, 64K, 3M or 2G"));
    return true;
}

bool SimulatorCommandLine::parseSizedFaults(const QCommandLineOption &option,
                                            const std::function<void(qint64, const QString &, const QString &)> &add)
{
    for (const QString &value : m_parser.values(option)) {
        const qint64 bytes = parseBytes(value.section(QLatin1Char(':'), 0, 0));
        const QString file = value.section(QLatin1Char(':'), 1);
        if (bytes < 0)
            return fail(QStringLiteral("--%1 wants BYTES[:FILE], not \"%2\"").arg(option.names().constFirst(), value));
        add(bytes, file, file.isEmpty() ? QString() : QStringLiteral(" of ") + file);
    }
    return true;
}

bool SimulatorCommandLine::parseFaults()
{
    for (const QString &value : m_parser.values(refuseOption)) {
        const QString verb = value.section(QLatin1Char(':'), 0, 0);
        const QString codeText = value.section(QLatin1Char(':'), 1, 1);
        const QString file = value.section(QLatin1Char(':'), 2);
        int code = 0;
        if (!isVerb(verb) || !toInt(codeText, 100, 599, &code))
            return fail(QStringLiteral("--refuse wants VERB:CODE[:FILE] with a reply code from 100 to 599, not \"%1\"").arg(value));
        m_faults.push_back([verb, code, file](InstrumentServer &server) { server.refuseCommand(verb, code, file); });
        m_summary << (file.isEmpty() ? QStringLiteral("refuse %1 with %2").arg(verb.toUpper()).arg(code)
                                     : QStringLiteral("refuse %1 %2 with %3").arg(verb.toUpper(), file).arg(code));
    }
    if (m_parser.isSet(dropAfterOption)) {
        int count = 0;
        if (!toInt(m_parser.value(dropAfterOption), 1, 1000000000, &count))
            return fail(QStringLiteral("--drop-after wants a command count, at least 1"));
        m_faults.push_back([count](InstrumentServer &server) { server.dropConnectionAfter(count); });
        m_summary << QStringLiteral("drop each connection on its command %1").arg(count);
    }
    const auto cut = [this](qint64 bytes, const QString &file, const QString &ofFile) {
        m_faults.push_back([bytes, file](InstrumentServer &server) { server.cutTransferAfter(bytes, file); });
        m_summary << QStringLiteral("cut transfers%1 after %2 bytes").arg(ofFile).arg(bytes);
    };
    const auto shortStore = [this](qint64 bytes, const QString &file, const QString &ofFile) {
        m_faults.push_back([bytes, file](InstrumentServer &server) { server.storeOnlyFirst(bytes, file); });
        m_summary << QStringLiteral("store only the first %1 bytes of each upload%2, then reply 226")
                         .arg(bytes)
                         .arg(ofFile);
    };
    if (!parseSizedFaults(cutAfterOption, cut) || !parseSizedFaults(shortStoreOption, shortStore))
        return false;
    if (m_parser.isSet(minimalOption)) {
        m_faults.push_back([](InstrumentServer &server) { server.setMinimal(true); });
        m_summary << QStringLiteral("answer EPSV, ALLO and SIZE with 502");
    }
    for (const QString &value : m_parser.values(silentOption)) {
        const int colon = value.indexOf(QLatin1Char(':'));
        const QString verb = colon < 0 ? value : value.left(colon);
        const QString argument = colon < 0 ? QString() : value.mid(colon + 1);
        if (!isVerb(verb))
            return fail(QStringLiteral("--silent wants VERB[:ARG], not \"%1\"").arg(value));
        m_faults.push_back([verb, argument](InstrumentServer &server) { server.staySilentOn(verb, argument); });
        m_summary << (argument.isEmpty() ? QStringLiteral("never answer %1").arg(verb.toUpper())
                                         : QStringLiteral("never answer %1 \"%2\"").arg(verb.toUpper(), argument));
    }
    for (const QString &value : m_parser.values(lieSizeOption)) {
        const int colon = value.lastIndexOf(QLatin1Char(':'));
        const QString file = colon < 0 ? QString() : value.left(colon);
        const qint64 size = colon < 0 ? -1 : parseBytes(value.mid(colon + 1));
        if (file.isEmpty() || size < 0)
            return fail(QStringLiteral("--lie-size wants FILE:SIZE, not \"%1\"").arg(value));
        m_faults.push_back([file, size](InstrumentServer &server) { server.reportWrongSize(file, size); });
        m_summary << QStringLiteral("list %1 with size %2").arg(file).arg(size);
    }
    int delay = 0;
    if (!toInt(m_parser.value(delayOption), 0, 600000, &delay))
        return fail(QStringLiteral("--delay wants milliseconds from 0 to 600000"));
    if (delay > 0) {
        m_faults.push_back([delay](InstrumentServer &server) { server.setReplyDelay(delay); });
        m_summary << QStringLiteral("delay every reply by %1 ms").arg(delay);
    }
    const qint64 rate = parseBytes(m_parser.value(rateOption));
    if (rate < 0)
        return fail(QStringLiteral("--rate wants bytes per second, such as 65536 or 64K"));
    if (rate > 0) {
        m_faults.push_back([rate](InstrumentServer &server) { server.setRateLimit(rate); });
        m_summary << QStringLiteral("limit transfers to %1 bytes/s").arg(rate);
    }
    return true;
}

void SimulatorCommandLine::applyFaults(InstrumentServer &server) const
{
    for (const auto &apply : m_faults)
        apply(server);
}
