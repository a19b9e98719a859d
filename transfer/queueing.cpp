#include "app/r9_update.h"
#include "ftpclient.h"
#include "stagedfile.h"
#include "transferstate.h"
#include "uploadsource.h"

#include <QFile>

// The local file is opened by the client when the command starts, and
// released when the command ends, so a long operation keeps only one file
// open. An upload source is only ever read, and only when it is a regular
// file that still lies inside `setRoot` (when given).
void R9_update::queuePut(const QString &localPath, const QString &remoteName, qint64 size, const QString &setRoot)
{
    auto source = std::make_unique<UploadSource>(localPath, setRoot);
    currentFile = source.get();
    const int id = ftpClient->put(source.get(), remoteName, FtpClient::Binary);
    transferState.transferFiles[id] = std::move(source);
    transferList.append({false, remoteName, size, nullptr, id});
}

// A download goes to a temporary file beside its target and replaces the
// target only when it has arrived whole and is on disk: a failed transfer
// never costs the technician an earlier copy.
void R9_update::queueGet(const QString &localPath, const QString &remoteName, qint64 size)
{
    auto target = std::make_unique<StagedFile>(localPath);
    currentFile = target.get();
    const int id = ftpClient->get(remoteName, target.get(), FtpClient::Binary, size);
    transferState.transferFiles[id] = std::move(target);
    transferList.append({false, remoteName, size, currentFile, id});
}
