#pragma once

// Internal to r9sim: what the client sessions share through their server.

#include "faultplan.h"
#include "instrumentserver.h"
#include "servedtree.h"

#include <QFile>
#include <QPointer>
#include <QTcpServer>

#include <memory>

class FtpSession;

class InstrumentServerPrivate
{
public:
    explicit InstrumentServerPrivate(InstrumentServer *q);

    ServedTree tree() const { return ServedTree(rootPath); }
    void logCommand(int session, const QString &line, const QString &verb, const QString &argument);
    void acceptConnections();
    void onSessionClosed(int session);

    InstrumentServer *q;
    QTcpServer listener;
    QString rootPath;
    QString errorString;
    FaultPlan faults;
    int dataConnectionTimeout = 10000;
    int sessionsAccepted = 0;
    QList<QPointer<FtpSession>> sessions;
    QList<InstrumentServer::LoggedCommand> log;
    std::unique_ptr<QFile> logFile;
};
