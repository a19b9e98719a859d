#include "transferstate.h"

#include <QFileDevice>

TransferState transferState;

QList<TransferRecord> &transferList = transferState.transferList;
QList<RemoteEntry> &remoteList = transferState.remoteList;
int &transferIndex = transferState.transferIndex;
QFileDevice *&currentFile = transferState.currentFile;
int &listCount = transferState.listCount;
int &getFinishIndex = transferState.getFinishIndex;
int &lastCommandId = transferState.lastCommandId;
bool &lastTransferStarted = transferState.lastTransferStarted;
bool &suppressButtonUpdate = transferState.suppressButtonUpdate;

void TransferState::reset()
{
    // Member-wise, so that the references above stay bound to this object.
    transferList.clear();
    remoteList.clear();
    transferIndex = 0;
    currentFile = nullptr;
    listCount = 0;
    getFinishIndex = 0;
    lastCommandId = 0;
    lastTransferStarted = false;
    suppressButtonUpdate = true;
    operationRunning = false;
    skippedEntries.clear();
    localTargets.clear();
    localNamesIgnoreCase = false;
    stoppedByUser = false;
    transferFiles.clear();
    stagedDownloads.discard();
}
