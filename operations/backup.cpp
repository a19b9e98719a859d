#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/transferstate.h"


void R9_update::on_BackupBotton_2_clicked()
{
    QString base;
    if (!beginOperation(&base))
        return;
    resetForDownloads();
    if (!prepareDownloadFolders(base, {QStringLiteral("DATA"), QStringLiteral("DATA/IPA_BD1"),
                                       QStringLiteral("DATA/IPS_BD1")})) {
        endOperation();
        return;
    }

    const QString upToTop = QStringLiteral(" ..");
    const QList<RemoteEntry> entries = remoteList;
    for (const RemoteEntry &entry : entries) {
        if (entry.folder == QLatin1String("DATA/IPA_BD1") || entry.folder == QLatin1String("DATA/IPS_BD1")) {
            ftpClient->cd(upToTop);
            ftpClient->cd(entry.folder);
            queueDownload(base, entry.folder, entry.name, entry.size);
        } else if (entry.folder == QLatin1String("ROOT")) {
            ftpClient->cd(upToTop);
            if (entry.name == QLatin1String("INIE91.CFG") || entry.name == QLatin1String("INIE91.FLS"))
                queueDownload(base, QString(), entry.name, entry.size);
        }
    }
    endQueueing(QStringLiteral("Backup Incomplete"));
}
