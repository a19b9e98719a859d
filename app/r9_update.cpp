#include "r9_update.h"

#include "ftpclient.h"
#include "instrumentendpoint.h"
#include "mainform.h"
#include "repaintthrottle.h"

#include <QProgressBar>

#ifndef R9_INSTRUMENT_HOST
#define R9_INSTRUMENT_HOST "127.0.0.1"
#endif
#ifndef R9_INSTRUMENT_PORT
#define R9_INSTRUMENT_PORT 21
#endif

FtpClient *ftpClient = new FtpClient;

// The icons live in a static library, whose resource registration the
// linker would otherwise drop.
static int registerResources()
{
    Q_INIT_RESOURCE(r9update);
    return 0;
}
static const int resourcesRegistered = registerResources();

InstrumentEndpoint &instrumentEndpoint()
{
    static InstrumentEndpoint endpoint{QStringLiteral(R9_INSTRUMENT_HOST), R9_INSTRUMENT_PORT};
    return endpoint;
}

R9_update::R9_update(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainForm)
{
    form->setupUi(this);

    connect(ftpClient, &FtpClient::stateChanged, this, &R9_update::setMyLable);
    connect(ftpClient, &FtpClient::done, this, &R9_update::chkstat);
    connect(ftpClient, &FtpClient::commandFinished, this, &R9_update::CmdFinishSlot);
    connect(ftpClient, &FtpClient::commandStarted, this, &R9_update::CmdStartSlot);
    connect(ftpClient, &FtpClient::dataTransferProgress, this, &R9_update::ftpProgress);
    connect(ftpClient, &FtpClient::listInfo, this, &R9_update::doListInfo);

    form->FtpBar->setMaximum(1);
    form->FtpBar->setValue(0);

    // Ten pictures a second follow a transfer well enough; each costs the
    // transfers a millisecond or more.
    new RepaintThrottle(this, 100);
}

R9_update::~R9_update()
{
    // Files that arrived whole are not lost because the window closes.
    putStagedDownloadsInPlace();
    delete form;
}
