#include "app/instrumentendpoint.h"
#include "app/mainform.h"
#include "app/r9_update.h"
#include "ftpclient.h"
#include "transfer/transferstate.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace {
const QString instrumentUser = QStringLiteral("root");
const QString instrumentPassword = QStringLiteral("+00417263850");
// The instrument's way back to its top folder: a blank, then two dots.
const QString upToTop = QStringLiteral(" ..");
} // namespace

void R9_update::on_connectbotton_clicked()
{
    if (form->localpath->text() == QString()) {
        showPathError();
        return;
    }
    connectToDevice();
}

void R9_update::connectToDevice()
{
    form->disp->setText(QStringLiteral("Wait ...."));
    remoteList.clear();
    listCount = 0;
    // A second press during the walk starts over: the rest of the first walk
    // would otherwise be counted as listings of the second and tag its
    // entries with the wrong folders.
    ftpClient->clearPendingCommands();

    const InstrumentEndpoint &instrument = instrumentEndpoint();
    ftpClient->connectToHost(instrument.host, instrument.port);
    ftpClient->login(instrumentUser, instrumentPassword);
    for (const QString &folder : {QStringLiteral("DATA/IPA_BD1"), QStringLiteral("DATA/IPS_BD1"),
                                 QStringLiteral("TEXT"), QStringLiteral("FONTS")}) {
        ftpClient->cd(folder);
        ftpClient->list();
        ftpClient->cd(upToTop);
    }
    ftpClient->list();
    form->disp->setText(QStringLiteral("Wait .."));
}

void R9_update::on_deconbotton_clicked()
{
    // A close queued behind a running command waits for it, and a stuck
    // transfer never ends: the running command is stopped first. Its
    // partial file goes with it; earlier local copies stay as they were.
    if (ftpClient->currentCommand() != FtpClient::None || ftpClient->hasPendingCommands()) {
        transferState.stoppedByUser = true;
        ftpClient->abort();
        transferState.stoppedByUser = false;
        endOperation();
    }
    ftpClient->close();
    remoteList.clear();
    transferList.clear();
}

void R9_update::showPathError()
{
    QMessageBox::critical(this, QStringLiteral("PATH ERROR"), QStringLiteral("Select a Valid Folder"));
}
