#pragma once

#include "stagedbatch.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QString>

#include <map>
#include <memory>

class QFileDevice;

// One queued upload or download, in the order the FTP client runs them.
struct TransferRecord
{
    bool done = false;           // every expected byte has moved
    QString name;                // remote file name, shown while it transfers
    qint64 expectedSize = 0;     // bytes the operation announced
    QFileDevice *file = nullptr; // download target; null for uploads; not owned
    int commandId = 0;           // the FTP client's id of the get or put
};

// One regular file reported by the listing walk.
struct RemoteEntry
{
    QString name;
    qint64 size = 0;             // -1: the listed size does not fit in 64 bits
    QString folder;              // listing tag: "DATA/IPA_BD1" ... "ROOT"
};

// Everything the handlers share while they talk to the instrument, in one
// place so that a test can put it back to its start values.
struct TransferState
{
    QList<TransferRecord> transferList;
    QList<RemoteEntry> remoteList;
    int transferIndex = 0;
    QFileDevice *currentFile = nullptr;
    int listCount = 0;
    int getFinishIndex = 0;
    int lastCommandId = 0;
    bool lastTransferStarted = false;
    bool suppressButtonUpdate = true;

    // An operation's commands are queued and have not all run yet.
    bool operationRunning = false;
    // Entries the running operation did not queue, each with the reason,
    // for the incomplete report.
    QStringList skippedEntries;
    // The local files the running download operation writes, as the base
    // folder's file system compares names, each with its remote name: two
    // remote files must never land on one local file.
    QHash<QString, QString> localTargets;
    bool localNamesIgnoreCase = false;
    // Disconnect is ending the running command: that is no failure to report.
    bool stoppedByUser = false;
    // The local file of every queued transfer, by command id. A file lives
    // until its command has finished or the client has dropped it, whatever
    // happens to transferList meanwhile.
    std::map<int, std::unique_ptr<QFileDevice>> transferFiles;
    // Downloads that have arrived whole, waiting to be put in place together.
    StagedBatch stagedDownloads;

    void reset();
};

extern TransferState transferState;

// The handlers use the state under these names.
extern QList<TransferRecord> &transferList;
extern QList<RemoteEntry> &remoteList;
extern int &transferIndex;
extern QFileDevice *&currentFile;
extern int &listCount;
extern int &getFinishIndex;
extern int &lastCommandId;
extern bool &lastTransferStarted;
extern bool &suppressButtonUpdate;
