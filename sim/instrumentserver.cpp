#include "sim/instrumentserver.h"

#include "sim/ftpsession.h"
#include "sim/instrumentserver_p.h"

#include <QHostAddress>
#include <QTcpSocket>

InstrumentServerPrivate::InstrumentServerPrivate(InstrumentServer *q) : m_q(q) {}

void InstrumentServerPrivate::logCommand(int session, const QString &line, const QString &verb, const QString &argument)
{
    m_log.append({ session, line, verb, argument });
    if (m_logFile) {
        m_logFile->write(QByteArray::number(session) + ' ' + line.toUtf8() + '\n');
        // Flushed at once: a test or a technician reads it while we run.
        m_logFile->flush();
    }
    emit m_q->commandReceived(session, line);
}

void InstrumentServerPrivate::acceptConnections()
{
    while (QTcpSocket *socket = m_listener.nextPendingConnection()) {
        auto *session = new FtpSession(++m_sessionsAccepted, socket, this, m_q);
        m_sessions.append(session);
        QObject::connect(session, &FtpSession::closed, m_q, [this](int id) { onSessionClosed(id); });
        session->start();
    }
}

void InstrumentServerPrivate::onSessionClosed(int session)
{
    for (int i = 0; i < m_sessions.size(); ++i) {
        if (m_sessions.at(i) && m_sessions.at(i)->id() == session) {
            m_sessions.at(i)->deleteLater();
            m_sessions.removeAt(i);
            break;
        }
    }
    emit m_q->sessionClosed(session);
}

InstrumentServer::InstrumentServer(QObject *parent) : QObject(parent), m_d(std::make_unique<InstrumentServerPrivate>(this))
{
    connect(&m_d->m_listener, &QTcpServer::newConnection, this, [this] { m_d->acceptConnections(); });
}

InstrumentServer::~InstrumentServer()
{
    // No signals from a half-destroyed server.
    blockSignals(true);
    close();
    // The sessions refer to d, which goes before QObject deletes children.
    qDeleteAll(findChildren<FtpSession *>(Qt::FindDirectChildrenOnly));
}

void InstrumentServer::setRootPath(const QString &path)
{
    m_d->m_rootPath = path;
}

QString InstrumentServer::rootPath() const
{
    return m_d->m_rootPath;
}

bool InstrumentServer::listen(quint16 port)
{
    if (!m_d->tree().rootExists()) {
        m_d->m_errorString = QStringLiteral("The served folder \"%1\" does not exist").arg(m_d->m_rootPath);
        return false;
    }
    if (m_d->m_listener.isListening())
        m_d->m_listener.close();
    // Loopback only: the stand-in must never be reachable from a network.
    if (!m_d->m_listener.listen(QHostAddress::LocalHost, port)) {
        m_d->m_errorString = m_d->m_listener.errorString();
        return false;
    }
    m_d->m_errorString.clear();
    return true;
}

quint16 InstrumentServer::serverPort() const
{
    return m_d->m_listener.serverPort();
}

bool InstrumentServer::isListening() const
{
    return m_d->m_listener.isListening();
}

void InstrumentServer::close()
{
    m_d->m_listener.close();
    const QList<QPointer<FtpSession>> open = m_d->m_sessions;
    // Each dropped session reports its end and is deleted from the event
    // loop, as this may run inside one of its own signals.
    for (const QPointer<FtpSession> &session : open) {
        if (session)
            session->drop();
    }
}

QString InstrumentServer::errorString() const
{
    return m_d->m_errorString;
}

int InstrumentServer::sessionCount() const
{
    return m_d->m_sessionsAccepted;
}

int InstrumentServer::activeSessionCount() const
{
    int open = 0;
    for (const QPointer<FtpSession> &session : m_d->m_sessions) {
        if (session && session->isOpen())
            ++open;
    }
    return open;
}

QList<InstrumentServer::LoggedCommand> InstrumentServer::commandLog() const
{
    return m_d->m_log;
}

QStringList InstrumentServer::commandLines() const
{
    QStringList lines;
    lines.reserve(m_d->m_log.size());
    for (const LoggedCommand &command : m_d->m_log)
        lines << command.line;
    return lines;
}

void InstrumentServer::clearCommandLog()
{
    m_d->m_log.clear();
}

void InstrumentServer::setCommandLogFile(const QString &path)
{
    m_d->m_logFile.reset();
    if (path.isEmpty())
        return;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_d->m_errorString = QStringLiteral("Cannot write the command log %1: %2").arg(path, file->errorString());
        return;
    }
    m_d->m_logFile = std::move(file);
}

void InstrumentServer::refuseCommand(const QString &verb, int code, const QString &argument)
{
    m_d->m_faults.refuse(verb, code, argument);
}

void InstrumentServer::dropConnectionAfter(int commandCount)
{
    m_d->m_faults.setDropAfter(commandCount);
}

void InstrumentServer::cutTransferAfter(qint64 bytes, const QString &file)
{
    m_d->m_faults.cutAfter(bytes, file);
}

void InstrumentServer::storeOnlyFirst(qint64 bytes, const QString &file)
{
    m_d->m_faults.shortStore(bytes, file);
}

void InstrumentServer::answerAfterTransfer(const QString &verb, int code, const QString &file)
{
    m_d->m_faults.answerAfter(verb, code, file);
}

void InstrumentServer::staySilentOn(const QString &verb, const QString &argument)
{
    m_d->m_faults.staySilent(verb, argument);
}

void InstrumentServer::reportWrongSize(const QString &file, qint64 reportedSize)
{
    if (!file.isEmpty())
        m_d->m_faults.reportSize(file, reportedSize);
}

void InstrumentServer::setReplyDelay(int msecs)
{
    m_d->m_faults.setReplyDelay(msecs);
}

void InstrumentServer::setRateLimit(qint64 bytesPerSecond)
{
    m_d->m_faults.setRateLimit(bytesPerSecond);
}

void InstrumentServer::setMinimal(bool minimal)
{
    m_d->m_faults.setMinimal(minimal);
}

void InstrumentServer::clearFaults()
{
    m_d->m_faults.clear();
}

void InstrumentServer::setDataConnectionTimeout(int msecs)
{
    m_d->m_dataConnectionTimeout = msecs;
}

int InstrumentServer::dataConnectionTimeout() const
{
    return m_d->m_dataConnectionTimeout;
}
