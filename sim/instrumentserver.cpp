#include "instrumentserver.h"

#include "ftpsession.h"
#include "instrumentserver_p.h"

#include <QHostAddress>
#include <QTcpSocket>

InstrumentServerPrivate::InstrumentServerPrivate(InstrumentServer *q) : q(q) {}

void InstrumentServerPrivate::logCommand(int session, const QString &line, const QString &verb, const QString &argument)
{
    log.append({ session, line, verb, argument });
    if (logFile) {
        logFile->write(QByteArray::number(session) + ' ' + line.toUtf8() + '\n');
        // Flushed at once: a test or a technician reads it while we run.
        logFile->flush();
    }
    emit q->commandReceived(session, line);
}

void InstrumentServerPrivate::acceptConnections()
{
    while (QTcpSocket *socket = listener.nextPendingConnection()) {
        auto *session = new FtpSession(++sessionsAccepted, socket, this, q);
        sessions.append(session);
        QObject::connect(session, &FtpSession::closed, q, [this](int id) { onSessionClosed(id); });
        session->start();
    }
}

void InstrumentServerPrivate::onSessionClosed(int session)
{
    for (int i = 0; i < sessions.size(); ++i) {
        if (sessions.at(i) && sessions.at(i)->id() == session) {
            sessions.at(i)->deleteLater();
            sessions.removeAt(i);
            break;
        }
    }
    emit q->sessionClosed(session);
}

InstrumentServer::InstrumentServer(QObject *parent) : QObject(parent), d(std::make_unique<InstrumentServerPrivate>(this))
{
    connect(&d->listener, &QTcpServer::newConnection, this, [this] { d->acceptConnections(); });
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
    d->rootPath = path;
}

QString InstrumentServer::rootPath() const
{
    return d->rootPath;
}

bool InstrumentServer::listen(quint16 port)
{
    if (!d->tree().rootExists()) {
        d->errorString = QStringLiteral("The served folder \"%1\" does not exist").arg(d->rootPath);
        return false;
    }
    if (d->listener.isListening())
        d->listener.close();
    // Loopback only: the stand-in must never be reachable from a network.
    if (!d->listener.listen(QHostAddress::LocalHost, port)) {
        d->errorString = d->listener.errorString();
        return false;
    }
    d->errorString.clear();
    return true;
}

quint16 InstrumentServer::serverPort() const
{
    return d->listener.serverPort();
}

bool InstrumentServer::isListening() const
{
    return d->listener.isListening();
}

void InstrumentServer::close()
{
    d->listener.close();
    const QList<QPointer<FtpSession>> open = d->sessions;
    // Each dropped session reports its end and is deleted from the event
    // loop, as this may run inside one of its own signals.
    for (const QPointer<FtpSession> &session : open) {
        if (session)
            session->drop();
    }
}

QString InstrumentServer::errorString() const
{
    return d->errorString;
}

int InstrumentServer::sessionCount() const
{
    return d->sessionsAccepted;
}

int InstrumentServer::activeSessionCount() const
{
    int open = 0;
    for (const QPointer<FtpSession> &session : d->sessions) {
        if (session && session->isOpen())
            ++open;
    }
    return open;
}

QList<InstrumentServer::LoggedCommand> InstrumentServer::commandLog() const
{
    return d->log;
}

QStringList InstrumentServer::commandLines() const
{
    QStringList lines;
    lines.reserve(d->log.size());
    for (const LoggedCommand &command : d->log)
        lines << command.line;
    return lines;
}

void InstrumentServer::clearCommandLog()
{
    d->log.clear();
}

void InstrumentServer::setCommandLogFile(const QString &path)
{
    d->logFile.reset();
    if (path.isEmpty())
        return;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        d->errorString = QStringLiteral("Cannot write the command log %1: %2").arg(path, file->errorString());
        return;
    }
    d->logFile = std::move(file);
}

void InstrumentServer::refuseCommand(const QString &verb, int code, const QString &argument)
{
    d->faults.refuse(verb, code, argument);
}

void InstrumentServer::dropConnectionAfter(int commandCount)
{
    d->faults.setDropAfter(commandCount);
}

void InstrumentServer::cutTransferAfter(qint64 bytes, const QString &file)
{
    d->faults.cutAfter(bytes, file);
}

void InstrumentServer::staySilentOn(const QString &verb, const QString &argument)
{
    d->faults.staySilent(verb, argument);
}

void InstrumentServer::reportWrongSize(const QString &file, qint64 reportedSize)
{
    if (!file.isEmpty())
        d->faults.reportSize(file, reportedSize);
}

void InstrumentServer::setReplyDelay(int msecs)
{
    d->faults.setReplyDelay(msecs);
}

void InstrumentServer::setRateLimit(qint64 bytesPerSecond)
{
    d->faults.setRateLimit(bytesPerSecond);
}

void InstrumentServer::clearFaults()
{
    d->faults.clear();
}

void InstrumentServer::setDataConnectionTimeout(int msecs)
{
    d->dataConnectionTimeout = msecs;
}

int InstrumentServer::dataConnectionTimeout() const
{
    return d->dataConnectionTimeout;
}
