#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/localnames.h"
#include "transfer/stagedfile.h"
#include "transfer/transferstate.h"
#include "transfer/uploadsource.h"

#include <QDir>
#include <QDebug>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

// Reads the base folder for a new operation. An empty one is refused, and so
// is a second operation while one runs: it would reset the tracking of the
// first while its transfers are still queued.
bool R9_update::beginOperation(QString *base)
{
    *base = form->localpath->text();
    if (base->isEmpty()) {
        showPathError();
        return false;
    }
    if (transferState.operationRunning)
        return false;
    transferState.operationRunning = true;
    transferState.skippedEntries.clear();
    transferState.localTargets.clear();
    setOperationButtonsEnabled(false);
    return true;
}

void R9_update::endOperation()
{
    if (!transferState.operationRunning)
        return;
    transferState.operationRunning = false;
    // Dropped commands never report back; their local files go here.
    transferState.transferFiles.clear();
    // Whatever arrived whole before the operation broke off is kept.
    putStagedDownloadsInPlace();
    if (ftpClient->state() == FtpClient::LoggedIn)
        setOperationButtonsEnabled(true);
}

void R9_update::endQueueing(const QString &incompleteText)
{
    // An operation that queued nothing for the client gets no end report.
    if (!ftpClient->hasPendingCommands() && ftpClient->currentCommand() == FtpClient::None)
        endOperation();
    // Nor does one that refused every file it was given.
    if (transferList.isEmpty() && !transferState.skippedEntries.isEmpty())
        showFtpError(incompleteReport(incompleteText));
}

void R9_update::setOperationButtonsEnabled(bool enabled)
{
    form->updateButton->setEnabled(enabled);
    form->BackupBotton->setEnabled(enabled);
    form->BackupBotton_2->setEnabled(enabled);
    form->BackupBotton_3->setEnabled(enabled);
}

void R9_update::resetForDownloads()
{
    transferList.clear();
    transferIndex = 0;
    lastTransferStarted = false;
    getFinishIndex = 0;
}

void R9_update::resetForUploads()
{
    transferIndex = 0;
    lastTransferStarted = false;
    transferList.clear();
}

void R9_update::makeLocalFolders(const QString &base, const QStringList &folders)
{
    QDir dir;
    dir.setPath(base);
    for (const QString &folder : folders) {
        if (!dir.exists(folder))
            dir.mkdir(folder);
    }
}

// The folders a download operation writes must be its own: a link would
// carry the files out of the base folder. Leftovers of an earlier run that
// was killed go before the new files arrive.
bool R9_update::prepareDownloadFolders(const QString &base, const QStringList &folders)
{
    makeLocalFolders(base, folders);
    const QString unfit = firstUnfitFolder(base, folders);
    if (!unfit.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("PATH ERROR"),
                              QStringLiteral("Not a folder of its own (a link, or not a folder):\n%1")
                                      .arg(QDir::toNativeSeparators(unfit)));
        return false;
    }
    StagedFile::removeLeftovers(base);
    for (const QString &folder : folders)
        StagedFile::removeLeftovers(localFilePath(base, folder, QString()));
    transferState.localNamesIgnoreCase = folderIgnoresCase(base);
    return true;
}

void R9_update::queueDownload(const QString &base, const QString &localFolder, const QString &name,
                              qint64 size)
{
    const QString shown = printableName(localFolder.isEmpty() ? name : localFolder + u'/' + name);
    // A name that could lead outside its folder is never used on the PC.
    if (!isPlainFileName(name)) {
        qWarning() << "not fetched, unsafe file name:" << name;
        transferState.skippedEntries << shown + QStringLiteral(" (not a plain file name)");
        return;
    }
    if (size < 0) {
        transferState.skippedEntries << shown + QStringLiteral(" (listed size too large)");
        return;
    }
    const QString target = localFilePath(base, localFolder, name);
    const QString key = transferState.localNamesIgnoreCase ? target.toCaseFolded() : target;
    const auto taken = transferState.localTargets.constFind(key);
    if (taken != transferState.localTargets.cend()) {
        transferState.skippedEntries << shown + QStringLiteral(" (the same file on the PC as %1)").arg(*taken);
        return;
    }
    transferState.localTargets.insert(key, name);
    queueGet(target, name, size);
}

// One stage: the files of `folder`, a link to a file inside the base folder
// with that file's content. What is not sent for safety (a link leading
// elsewhere or nowhere, a FIFO, socket or device) leaves the operation
// incomplete; special entries are listed for that alone.
void R9_update::queueUploadsOf(const QString &base, const QString &folder)
{
    const QString setRoot = QDir(base).canonicalPath();
    QDir dir(folder);
    dir.setFilter(dir.filter() | QDir::System);
    const QFileInfoList entries = dir.entryInfoList();
    for (const QFileInfo &entry : entries) {
        const UploadCandidate source = uploadCandidate(entry, setRoot);
        if (source.kind == UploadCandidate::File) {
            queuePut(source.path, entry.fileName(), source.size, setRoot);
        } else if (source.kind == UploadCandidate::Unsafe) {
            const QString shown = printableName(QDir(base).relativeFilePath(entry.absoluteFilePath()));
            qWarning() << "not sent:" << shown << source.reason;
            transferState.skippedEntries << shown + QStringLiteral(" (") + source.reason + u')';
        }
    }
}

// Every folder of the set must be there under its exact name, as a real
// folder, not a link: a stage must never list some other folder in its place.
bool R9_update::hasSetFolders(const QString &base, const QStringList &folders) const
{
    return firstUnfitFolder(base, folders).isEmpty();
}

QString R9_update::firstUnfitFolder(const QString &base, const QStringList &folders) const
{
    for (const QString &folder : folders) {
        QString path = base;
        for (const QString &level : folder.split(u'/')) {
            path = localFilePath(path, QString(), level);
            const QFileInfo info(path);
            if (!info.isDir() || info.isSymLink())
                return path;
        }
    }
    return QString();
}
