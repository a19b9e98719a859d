#include "pyftpdlibserver.h"

#include <QDeadlineTimer>
#include <QFileInfo>

namespace {
const QString systemPython = QStringLiteral("/usr/bin/python3");
}

PyftpdlibServer::PyftpdlibServer() = default;

PyftpdlibServer::~PyftpdlibServer()
{
    stop();
}

QString PyftpdlibServer::scriptPath()
{
    return QStringLiteral(R9_TEST_SUPPORT_DIR "/pyftpd_server.py");
}

bool PyftpdlibServer::isAvailable(QString *why)
{
    if (!QFileInfo(systemPython).isExecutable()) {
        if (why)
            *why = systemPython + QStringLiteral(" not found");
        return false;
    }
    QProcess probe;
    probe.start(systemPython, { QStringLiteral("-c"), QStringLiteral("import pyftpdlib") });
    if (!probe.waitForFinished(15000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        probe.kill();
        probe.waitForFinished(1000);
        if (why)
            *why = QStringLiteral("python3-pyftpdlib is not installed (apt-get install python3-pyftpdlib)");
        return false;
    }
    return true;
}

bool PyftpdlibServer::start(const QString &rootPath, int timeoutMsecs)
{
    stop();
    m_error.clear();
    QStringList arguments { scriptPath(), QStringLiteral("--root"), rootPath,
                            QStringLiteral("--user"), m_userName,
                            QStringLiteral("--password"), m_password,
                            QStringLiteral("--max-seconds"), QStringLiteral("900") };
    if (m_noEpsv)
        arguments << QStringLiteral("--no-epsv");
    if (m_topFolderCd)
        arguments << QStringLiteral("--top-folder-cd");
    // The server watches its standard input: it stays a pipe from us, and
    // closes when we end, however we end.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(systemPython, arguments);
    if (!m_process.waitForStarted(timeoutMsecs)) {
        m_error = QStringLiteral("Cannot start %1: %2").arg(systemPython, m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMsecs);
    QByteArray line;
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running
            || !m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process.canReadLine())
                break;
            m_error = QStringLiteral("The FTP server did not report its port: %1")
                              .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            stop();
            return false;
        }
    }
    line = m_process.readLine().trimmed();
    bool ok = false;
    if (line.startsWith("PORT "))
        m_port = quint16(line.mid(5).toUInt(&ok));
    if (!ok || m_port == 0) {
        m_error = QStringLiteral("Unexpected output of the FTP server: %1").arg(QString::fromLocal8Bit(line));
        stop();
        return false;
    }
    return true;
}

void PyftpdlibServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}
