#pragma once

// Internal to r9sim: what the client sessions share through their server.

#include "sim/faultplan.h"
#include "sim/instrumentserver.h"
#include "sim/servedtree.h"

#include <QFile>
#include <QPointer>
#include <QTcpServer>

#include <memory>

class FtpSession;

class InstrumentServerPrivate
{
public:
    explicit InstrumentServerPrivate(InstrumentServer *q);

    ServedTree tree() const { return ServedTree(m_rootPath); }
    void logCommand(int session, const QString &line, const QString &verb, const QString &argument);
    void acceptConnections();
    void onSessionClosed(int session);

    InstrumentServer *m_q;
    QTcpServer m_listener;
    QString m_rootPath;
    QString m_errorString;
    FaultPlan m_faults;
    int m_dataConnectionTimeout = 10000;
    int m_sessionsAccepted = 0;
    QList<QPointer<FtpSession>> m_sessions;
    QList<InstrumentServer::LoggedCommand> m_log;
    std::unique_ptr<QFile> m_logFile;
};
