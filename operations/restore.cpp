#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/localnames.h"
#include "transfer/transferstate.h"

#include <QLabel>

void R9_update::on_BackupBotton_3_clicked()
{
    QString base;
    if (!beginOperation(&base))
        return;
    resetForUploads();
    if (!checkRestoreFolder()
            || !hasSetFolders(base, {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1")})) {
        form->disp->setText(QStringLiteral("Incorrect file in Selected Directory"));
        endOperation();
        return;
    }

    if (remoteList.isEmpty()) {
        ftpClient->mkdir(QStringLiteral("DATA"));
        ftpClient->mkdir(QStringLiteral("DATA/IPA_BD1"));
        ftpClient->mkdir(QStringLiteral("DATA/IPS_BD1"));
    }
    const QString upToTop = QStringLiteral(" ..");
    ftpClient->cd(QStringLiteral("DATA/IPA_BD1"));
    queueUploadsOf(base, localFilePath(base, QStringLiteral("DATA"), QStringLiteral("IPA_BD1")));
    ftpClient->cd(upToTop);
    ftpClient->cd(QStringLiteral("DATA/IPS_BD1"));
    queueUploadsOf(base, localFilePath(base, QStringLiteral("DATA"), QStringLiteral("IPS_BD1")));
    ftpClient->cd(upToTop);
    queueUploadsOf(base, base);
    ftpClient->cd(upToTop);
    endQueueing(QStringLiteral("File Update Incomplete"));
}
