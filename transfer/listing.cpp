#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "nametables.h"
#include "transferstate.h"

#include <QDebug>
#include <QLabel>

void R9_update::doListInfo(const UrlInfo &info)
{
    qDebug() << "dolist" << info.name() << listCount;
    form->disp->setText(QStringLiteral("Wait ...."));
    // The folder comes from the position of the listing in the walk. An
    // entry of a listing outside the walk has no folder and is not kept.
    const bool inWalk = listCount >= 1 && listCount <= int(listingFolderTags.size());
    if (info.isFile() && inWalk)
        remoteList.append({info.name(), info.size(), listingFolderTags[listCount - 1]});
    form->disp->setText(QStringLiteral("Wait ..."));
}

// The operations work from the whole listing: their buttons come on only
// once the walk's last listing has arrived complete, and not at all when a
// listing failed. An empty top folder ends the walk as well as a full one.
void R9_update::finishListing(bool error)
{
    if (error || listCount != int(listingFolderTags.size()) || transferState.operationRunning)
        return;
    suppressButtonUpdate = false;
    setMyLable(FtpClient::LoggedIn);
}

void R9_update::countListing()
{
    qDebug() << listCount++;
}
