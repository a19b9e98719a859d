#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/nametables.h"
#include "transfer/transferstate.h"

#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

void R9_update::setMyLable(int state)
{
    qDebug() << "io sono lo stato: " << state;
    if (state >= 0 && state < int(stateNames.size()))
        form->disp->setText(stateNames[state]);

    if (suppressButtonUpdate && state != FtpClient::Unconnected)
        return;

    if (state == FtpClient::LoggedIn) {
        form->updateButton->setEnabled(true);
        form->BackupBotton_3->setEnabled(true);
        form->connectbotton->setEnabled(false);
        form->deconbotton->setEnabled(true);
        form->BackupBotton->setEnabled(true);
        form->BackupBotton_2->setEnabled(true);
    } else if (state == FtpClient::Unconnected) {
        form->connectbotton->setEnabled(true);
        form->updateButton->setEnabled(false);
        form->deconbotton->setEnabled(false);
        form->BackupBotton->setEnabled(false);
        form->BackupBotton_2->setEnabled(false);
        form->BackupBotton_3->setEnabled(false);
    }
    suppressButtonUpdate = true;
}

void R9_update::chkstat(bool error)
{
    // The queue has run empty: whatever operation was running is over.
    endOperation();
    if (error)
        showFtpError(ftpClient->errorString());
}

void R9_update::on_FtpBar_valueChanged(int value)
{
    Q_UNUSED(value);
}

void R9_update::showFtpError(const QString &text)
{
    if (transferState.stoppedByUser)
        return;
    QMessageBox::critical(this, tr("FTP Error"), text);
}
