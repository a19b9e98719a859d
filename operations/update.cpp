#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/localnames.h"
#include "transfer/transferstate.h"

#include <QLabel>

void R9_update::on_updateButton_clicked()
{
    QString base;
    if (!beginOperation(&base))
        return;
    resetForUploads();
    const QStringList setFolders = {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1"),
                                    QStringLiteral("TEXT"), QStringLiteral("FONTS")};
    if (!checkUpdateFolder() || !hasSetFolders(base, setFolders)) {
        form->disp->setText(QStringLiteral("Incorrect file in Selected Directory"));
        endOperation();
        return;
    }

    if (remoteList.isEmpty()) {
        for (const QString &folder : {QStringLiteral("DATA"), QStringLiteral("DATA/IPA_BD1"),
                                      QStringLiteral("DATA/IPS_BD1"), QStringLiteral("TEXT"),
                                      QStringLiteral("FONTS")})
            ftpClient->mkdir(folder);
    }
    const QString upToTop = QStringLiteral(" ..");
    bool first = true;
    for (const QString &folder : setFolders) {
        if (!first)
            ftpClient->cd(upToTop);
        first = false;
        ftpClient->cd(folder);
        queueUploadsOf(base, localFilePath(base, folder, QString()));
    }
    ftpClient->cd(upToTop);
    queueUploadsOf(base, base);
    ftpClient->cd(upToTop);
    endQueueing(QStringLiteral("File Update Incomplete"));
}
