#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/transferstate.h"


void R9_update::on_BackupBotton_clicked()
{
    QString base;
    if (!beginOperation(&base))
        return;
    resetForDownloads();
    if (!prepareDownloadFolders(base, {QStringLiteral("DATA"), QStringLiteral("FONTS"), QStringLiteral("TEXT"),
                                       QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1")})) {
        endOperation();
        return;
    }

    const QString upToTop = QStringLiteral(" ..");
    const QStringList folders = {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1"),
                                 QStringLiteral("TEXT"), QStringLiteral("FONTS")};
    const QList<RemoteEntry> entries = remoteList;
    for (const RemoteEntry &entry : entries) {
        if (folders.contains(entry.folder)) {
            ftpClient->cd(upToTop);
            ftpClient->cd(entry.folder);
            queueDownload(base, entry.folder, entry.name, entry.size);
        } else if (entry.folder == QLatin1String("ROOT")) {
            ftpClient->cd(upToTop);
            queueDownload(base, QString(), entry.name, entry.size);
        }
    }
    // Leave the connection in the top folder.
    ftpClient->cd(upToTop);
    endQueueing(QStringLiteral("Backup Incomplete"));
}
