#include "transfertracker.h"

#include "diagnostics.h"
#include "ftpclient.h"
#include "instrumentlayout.h"
#include "requiredtrace.h"
#include "stagedfile.h"
#include "uploadsource.h"

TransferTracker::TransferTracker(FtpClient *client, QObject *parent)
    : QObject(parent), m_client(client)
{
}

TransferTracker::~TransferTracker()
{
    // Files that arrived whole are not lost because the engine goes.
    settle();
}

// --- Queueing ----------------------------------------------------------------

// The local file is opened by the client when the command starts, and
// released when the command ends, so a long operation keeps only one file
// open.
void TransferTracker::queuePut(const QString &localPath, const QString &remoteName, qint64 size,
                               const QString &setRoot)
{
    auto source = std::make_unique<UploadSource>(localPath, setRoot);
    currentFile = source.get();
    const int id = m_client->put(source.get(), remoteName, FtpClient::Binary);
    m_transferFiles[id] = std::move(source);
    transferList.append({false, remoteName, size, nullptr, id});
}

// A download replaces its target only when it has arrived whole and is on
// disk: a failed transfer never costs the technician an earlier copy. The
// listed size goes to the client, which then stops a server that sends more.
void TransferTracker::queueGet(const QString &localPath, const QString &remoteName, qint64 size)
{
    auto target = std::make_unique<StagedFile>(localPath);
    currentFile = target.get();
    const int id = m_client->get(remoteName, target.get(), FtpClient::Binary, size);
    m_transferFiles[id] = std::move(target);
    transferList.append({false, remoteName, size, currentFile, id});
}

void TransferTracker::resetForOperation(bool downloads)
{
    transferList.clear();
    transferIndex = 0;
    lastTransferStarted = false;
    if (downloads)
        getFinishIndex = 0;
    skippedEntries.clear();
}

void TransferTracker::settle()
{
    // Dropped commands never report back; their local files go here.
    m_transferFiles.clear();
    // Whatever arrived whole before the operation broke off is kept.
    markNotDone(m_stagedDownloads.commit());
}

void TransferTracker::resetForWalk()
{
    remoteList.clear();
    listCount = 0;
}

// --- The client's reports ------------------------------------------------------

void TransferTracker::commandStarted()
{
    if (m_client->currentCommand() == FtpClient::Put)
        startTransfer();
    if (m_client->currentCommand() == FtpClient::Get)
        startTransfer();
    if (m_client->currentCommand() == FtpClient::List)
        countListing();
}

void TransferTracker::startTransfer()
{
    RequiredTrace::transferStarting(transferIndex);
    // After a disconnect the list may be empty while queued transfers still
    // run: there is then no record to show.
    if (transferIndex >= 0 && transferIndex < transferList.size()) {
        const QString &name = transferList.at(transferIndex).name;
        RequiredTrace::transferName(name);
        emit labelChanged(name);
        emit transferStarted(transferIndex + 1, int(transferList.size()), name);
    }
    if (transferIndex == transferList.size() - 1)
        lastTransferStarted = true;

    const int id = m_client->currentId();
    if (id != lastCommandId) {
        lastCommandId = id;
        if (transferIndex < transferList.size() - 1)
            ++transferIndex;
    }
    RequiredTrace::transferStarted(transferIndex);
}

void TransferTracker::countListing()
{
    RequiredTrace::listingStarted(listCount++);
}

void TransferTracker::listEntry(const UrlInfo &info)
{
    RequiredTrace::listingEntry(info.name(), listCount);
    emit labelChanged(QStringLiteral("Wait ...."));
    // The folder comes from the position of the listing in the walk. An
    // entry of a listing outside the walk has no folder and is not kept.
    const bool inWalk = listCount >= 1 && listCount <= int(listingFolderTags.size());
    if (info.isFile() && inWalk)
        remoteList.append({info.name(), info.size(), listingFolderTags[listCount - 1]});
    emit labelChanged(QStringLiteral("Wait ..."));
}

void TransferTracker::progress(qint64 done, qint64 total)
{
    emit progressChanged(done, total);

    const int position = lastTransferStarted ? transferIndex : transferIndex - 1;
    if (position < 0 || position >= transferList.size())
        return;
    TransferRecord &record = transferList[position];
    RequiredTrace::progress(record.expectedSize, done);
    if (done == record.expectedSize)
        record.done = true;
}

void TransferTracker::commandFinished(int commandId, bool error)
{
    if (m_client->currentCommand() == FtpClient::Put)
        finishUpload(commandId, error);
    if (m_client->currentCommand() == FtpClient::Get)
        finishDownload(commandId, error);
    if (m_client->currentCommand() == FtpClient::List)
        finishListing(error);
}

void TransferTracker::finishUpload(int commandId, bool error)
{
    // Closes and releases this upload's own source file.
    m_transferFiles.erase(commandId);
    if (error) {
        emit transferFailed(m_client->errorString());
        return;
    }
    if (lastTransferStarted)
        testCompleteness(QStringLiteral("Update Completed"), QStringLiteral("File Update Incomplete"));
}

void TransferTracker::finishDownload(int commandId, bool error)
{
    TransferRecord *record = recordOf(commandId);
    if (record)
        record->file = nullptr; // released below, whatever the outcome

    if (error) {
        // Dropping the temporary file leaves any earlier local copy as it was.
        m_transferFiles.erase(commandId);
        emit transferFailed(m_client->errorString());
        return;
    }
    if (!stageDownload(commandId, record ? record->expectedSize : -1) && record)
        record->done = false;
    if (getFinishIndex >= 0 && getFinishIndex < transferList.size())
        RequiredTrace::downloadFinished(transferList.at(getFinishIndex).name);
    ++getFinishIndex;
    if (lastTransferStarted) {
        markNotDone(m_stagedDownloads.commit());
        testCompleteness(QStringLiteral("Backup Completed"), QStringLiteral("Backup Incomplete"));
    } else if (m_stagedDownloads.isFull()) {
        // The transfers go on while the disk catches up.
        markNotDone(m_stagedDownloads.commitInBackground());
    }
}

// The operations work from the whole listing: the walk ends only once its
// last listing has arrived complete. An empty top folder ends it as well.
void TransferTracker::finishListing(bool error)
{
    if (listCount == int(listingFolderTags.size()))
        emit walkListed(error);
}

TransferRecord *TransferTracker::recordOf(int commandId)
{
    // Downloads finish in queue order: the record is normally the one due next.
    if (getFinishIndex >= 0 && getFinishIndex < transferList.size()
        && transferList.at(getFinishIndex).commandId == commandId)
        return &transferList[getFinishIndex];
    for (TransferRecord &candidate : transferList) {
        if (candidate.commandId == commandId)
            return &candidate;
    }
    return nullptr;
}

// Only a file of exactly the listed size is kept: a transfer that the
// server ended early (and still confirmed) must not replace an earlier copy.
bool TransferTracker::stageDownload(int commandId, qint64 expectedSize)
{
    const auto found = m_transferFiles.find(commandId);
    if (found == m_transferFiles.end())
        return false;
    auto *target = qobject_cast<StagedFile *>(found->second.get());
    bool staged = false;
    if (target && target->isOpen()) {
        const qint64 size = target->pos();
        target->close();
        if (target->error() != QFileDevice::NoError)
            qCWarning(lcTransfer) << "could not write" << target->targetPath() << ":" << target->errorString();
        else if (size != expectedSize)
            qCWarning(lcTransfer) << "not kept:" << target->targetPath() << "arrived with" << size << "of"
                                  << expectedSize << "bytes";
        else
            staged = true;
        if (staged)
            m_stagedDownloads.add({target->release(), target->targetPath(), size, commandId});
    }
    m_transferFiles.erase(found); // removes the temporary file unless staged
    return staged;
}

// A file that cannot be put in place is not done, so the operation ends
// as incomplete.
void TransferTracker::markNotDone(const QList<int> &commandIds)
{
    for (const int commandId : commandIds) {
        if (TransferRecord *record = recordOf(commandId))
            record->done = false;
    }
}

void TransferTracker::testCompleteness(const QString &completedText, const QString &incompleteText)
{
    int doneCount = 0;
    while (doneCount < transferList.size() && transferList.at(doneCount).done)
        ++doneCount;

    if (doneCount == transferList.size() && skippedEntries.isEmpty()) {
        emit labelChanged(completedText);
        m_client->close();
        remoteList.clear();
        transferList.clear();
        emit operationCompleted(completedText);
    } else {
        int missing = int(skippedEntries.size());
        for (const TransferRecord &record : std::as_const(transferList))
            missing += record.done ? 0 : 1;
        emit operationIncomplete(incompleteReport(incompleteText), missing,
                                 int(transferList.size() + skippedEntries.size()));
    }
}

// The files left out before anything was queued are named: the technician
// has to fetch or fix them by hand.
QString TransferTracker::incompleteReport(const QString &incompleteText) const
{
    if (skippedEntries.isEmpty())
        return incompleteText;
    constexpr int shown = 10;
    QString report = incompleteText + QStringLiteral("\n\nLeft out:\n") + skippedEntries.mid(0, shown).join(u'\n');
    if (skippedEntries.size() > shown)
        report += QStringLiteral("\n... and %1 more").arg(skippedEntries.size() - shown);
    return report;
}
