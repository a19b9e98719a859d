#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "stagedfile.h"
#include "transferstate.h"

#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include <climits>

void R9_update::CmdStartSlot()
{
    if (ftpClient->currentCommand() == FtpClient::Put)
        startTransfer();
    if (ftpClient->currentCommand() == FtpClient::Get)
        startTransfer();
    if (ftpClient->currentCommand() == FtpClient::List)
        countListing();
}

void R9_update::startTransfer()
{
    qDebug() << transferIndex << " Prima";
    // After a disconnect the list may be empty while queued transfers still
    // run: there is then no record to show.
    if (transferIndex >= 0 && transferIndex < transferList.size()) {
        const QString &name = transferList.at(transferIndex).name;
        qDebug() << name;
        form->disp->setText(name);
    }
    if (transferIndex == transferList.size() - 1)
        lastTransferStarted = true;

    const int id = ftpClient->currentId();
    if (id != lastCommandId) {
        lastCommandId = id;
        if (transferIndex < transferList.size() - 1)
            ++transferIndex;
    }
    qDebug() << transferIndex << " Dopo";
}

void R9_update::ftpProgress(qint64 done, qint64 total)
{
    showProgress(done, total);

    const int position = lastTransferStarted ? transferIndex : transferIndex - 1;
    if (position < 0 || position >= transferList.size())
        return;
    TransferRecord &record = transferList[position];
    qDebug() << "lista " << double(record.expectedSize) << "Done " << done;
    if (done == record.expectedSize)
        record.done = true;
}

void R9_update::showProgress(qint64 done, qint64 total)
{
    // The bar counts in int: scale files over 2 GiB down so that it still
    // shows the right proportion.
    int shift = 0;
    while ((total >> shift) > INT_MAX || (done >> shift) > INT_MAX)
        ++shift;
    form->FtpBar->setMaximum(int(total >> shift));
    form->FtpBar->setValue(int(done >> shift));
}

void R9_update::CmdFinishSlot(int commandId, bool error)
{
    if (ftpClient->currentCommand() == FtpClient::Put)
        finishUpload(commandId, error);
    if (ftpClient->currentCommand() == FtpClient::Get)
        finishDownload(commandId, error);
    if (ftpClient->currentCommand() == FtpClient::List)
        finishListing(error);
}

void R9_update::finishUpload(int commandId, bool error)
{
    // Closes and releases this upload's own source file.
    transferState.transferFiles.erase(commandId);
    if (error) {
        showFtpError(ftpClient->errorString());
        return;
    }
    if (lastTransferStarted)
        testCompleteness(QStringLiteral("Update Completed"), QStringLiteral("File Update Incomplete"));
}

void R9_update::finishDownload(int commandId, bool error)
{
    TransferRecord *record = recordOf(commandId);
    if (record)
        record->file = nullptr; // released below, whatever the outcome

    if (error) {
        // Dropping the temporary file leaves any earlier local copy as it was.
        transferState.transferFiles.erase(commandId);
        showFtpError(ftpClient->errorString());
        return;
    }
    if (!stageDownload(commandId, record ? record->expectedSize : -1) && record)
        record->done = false;
    if (getFinishIndex >= 0 && getFinishIndex < transferList.size())
        qDebug() << transferList.at(getFinishIndex).name;
    ++getFinishIndex;
    if (lastTransferStarted) {
        putStagedDownloadsInPlace();
        testCompleteness(QStringLiteral("Backup Completed"), QStringLiteral("Backup Incomplete"));
    } else if (transferState.stagedDownloads.isFull()) {
        // The transfers go on while the disk catches up.
        markNotDone(transferState.stagedDownloads.commitInBackground());
    }
}

TransferRecord *R9_update::recordOf(int commandId)
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
bool R9_update::stageDownload(int commandId, qint64 expectedSize)
{
    const auto found = transferState.transferFiles.find(commandId);
    if (found == transferState.transferFiles.end())
        return false;
    auto *target = qobject_cast<StagedFile *>(found->second.get());
    bool staged = false;
    if (target && target->isOpen()) {
        const qint64 size = target->pos();
        target->close();
        if (target->error() != QFileDevice::NoError)
            qWarning() << "could not write" << target->targetPath() << ":" << target->errorString();
        else if (size != expectedSize)
            qWarning() << "not kept:" << target->targetPath() << "arrived with" << size << "of" << expectedSize << "bytes";
        else
            staged = true;
        if (staged)
            transferState.stagedDownloads.add({target->release(), target->targetPath(), size, commandId});
    }
    transferState.transferFiles.erase(found); // removes the temporary file unless staged
    return staged;
}

// A file that cannot be put in place is not done, so the operation ends
// as incomplete.
void R9_update::putStagedDownloadsInPlace()
{
    markNotDone(transferState.stagedDownloads.commit());
}

void R9_update::markNotDone(const QList<int> &commandIds)
{
    for (const int commandId : commandIds) {
        if (TransferRecord *record = recordOf(commandId))
            record->done = false;
    }
}

void R9_update::testCompleteness(const QString &completedText, const QString &incompleteText)
{
    int doneCount = 0;
    while (doneCount < transferList.size() && transferList.at(doneCount).done)
        ++doneCount;

    if (doneCount == transferList.size() && transferState.skippedEntries.isEmpty()) {
        form->disp->setText(completedText);
        ftpClient->close();
        remoteList.clear();
        transferList.clear();
    } else {
        QMessageBox::critical(this, tr("FTP Error"), incompleteReport(incompleteText));
    }
}

// The files left out before anything was queued are named: the technician
// has to fetch or fix them by hand.
QString R9_update::incompleteReport(const QString &incompleteText) const
{
    const QStringList &skipped = transferState.skippedEntries;
    if (skipped.isEmpty())
        return incompleteText;
    constexpr int shown = 10;
    QString report = incompleteText + QStringLiteral("\n\nLeft out:\n") + skipped.mid(0, shown).join(u'\n');
    if (skipped.size() > shown)
        report += QStringLiteral("\n... and %1 more").arg(skipped.size() - shown);
    return report;
}
