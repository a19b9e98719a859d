#include "app/r9_update.h"

#include "app/mainform.h"
#include "app/repaintthrottle.h"
#include "ftp/ftpclient.h"
#include "transfer/requiredtrace.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <climits>

FtpClient *ftpClient = new FtpClient;

// The icons live in a static library, whose resource registration the
// linker would otherwise drop.
static int registerResources()
{
    Q_INIT_RESOURCE(r9update);
    return 0;
}
static const int resourcesRegistered = registerResources();

R9_update::R9_update(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainForm)
    , m_session(new InstrumentSession(ftpClient, this))
{
    form->setupUi(this);

    connect(m_session, &InstrumentSession::labelChanged, form->disp, &QLabel::setText);
    connect(m_session, &InstrumentSession::progressChanged, this, &R9_update::showProgress);
    connect(m_session, &InstrumentSession::walkFailed, this, [this](const Failure &failure) { showFtpError(failure.text); });
    connect(m_session, &InstrumentSession::controlsChanged, this, &R9_update::showControls);
    connect(m_session, &InstrumentSession::operationsEnabledChanged, this, &R9_update::setOperationButtonsEnabled);
    connect(m_session, &InstrumentSession::operationStarted, this, &R9_update::showOperationStart);
    connect(m_session, &InstrumentSession::transferStarted, this, &R9_update::showTransferNumber);
    connect(m_session, &InstrumentSession::operationProgressChanged, this, &R9_update::showOperationProgress);
    connect(m_session, &InstrumentSession::saving, this, &R9_update::showSaving);
    connect(m_session, &InstrumentSession::operationFinished, this, &R9_update::showResult);

    form->FtpBar->setMaximum(1);
    form->FtpBar->setValue(0);

    // Ten pictures a second follow a transfer well enough; each costs the
    // transfers a millisecond or more.
    new RepaintThrottle(this, 100);
}

R9_update::~R9_update()
{
    delete form;
}

// --- The user's clicks -------------------------------------------------------------

void R9_update::on_connectbotton_clicked()
{
    if (form->localpath->text().isEmpty()) {
        showPathError(QStringLiteral("Select a Valid Folder"));
        return;
    }
    // The last operation's result has stayed in view until now.
    form->FtpBar->setFormat(QStringLiteral("%p%"));
    m_session->connectToDevice(instrumentEndpoint());
}

void R9_update::on_deconbotton_clicked()
{
    m_session->disconnectFromDevice();
}

void R9_update::on_BackupBotton_2_clicked()
{
    startOperation(Operation::DataBackup);
}

void R9_update::on_BackupBotton_clicked()
{
    startOperation(Operation::Clone);
}

void R9_update::on_BackupBotton_3_clicked()
{
    startOperation(Operation::DataRestore);
}

void R9_update::on_updateButton_clicked()
{
    startOperation(Operation::Update);
}

void R9_update::on_actionCartella_triggered()
{
    RequiredTrace::folderDialogOpened();
    const QString folder = QFileDialog::getExistingDirectory(nullptr, QString(), QString(),
                                                             QFileDialog::ShowDirsOnly);
    form->localpath->setText(folder);
}

void R9_update::on_FtpBar_valueChanged(int value)
{
    Q_UNUSED(value);
}

// --- What the engine reports ---------------------------------------------------------

void R9_update::startOperation(Operation operation)
{
    if (form->localpath->text().isEmpty()) {
        showPathError(QStringLiteral("Select a Valid Folder"));
        return;
    }
    m_session->startOperation(operation, form->localpath->text());
}

void R9_update::showFtpError(const QString &text)
{
    QMessageBox::critical(this, tr("FTP Error"), text);
}

void R9_update::showPathError(const QString &text)
{
    QMessageBox::critical(this, QStringLiteral("PATH ERROR"), text);
}

void R9_update::showControls(InstrumentSession::Controls controls)
{
    if (controls == InstrumentSession::Controls::Ready) {
        form->updateButton->setEnabled(true);
        form->BackupBotton_3->setEnabled(true);
        form->connectbotton->setEnabled(false);
        form->deconbotton->setEnabled(true);
        form->BackupBotton->setEnabled(true);
        form->BackupBotton_2->setEnabled(true);
    } else {
        form->connectbotton->setEnabled(true);
        form->updateButton->setEnabled(false);
        form->deconbotton->setEnabled(false);
        form->BackupBotton->setEnabled(false);
        form->BackupBotton_2->setEnabled(false);
        form->BackupBotton_3->setEnabled(false);
    }
}

void R9_update::setOperationButtonsEnabled(bool enabled)
{
    form->updateButton->setEnabled(enabled);
    form->BackupBotton->setEnabled(enabled);
    form->BackupBotton_2->setEnabled(enabled);
    form->BackupBotton_3->setEnabled(enabled);
}

void R9_update::showProgress(qint64 done, qint64 total)
{
    // The bar counts in int: scale files over 2 GiB down so that it still
    // shows the right proportion.
    int shift = 0;
    while ((total >> shift) > INT_MAX || (done >> shift) > INT_MAX)
        ++shift;
    form->FtpBar->setMaximum(int(total >> shift));
    form->FtpBar->setValue(int(done >> shift));
}

// The bar's text tells where the operation stands as a whole, while its
// value follows the file in transfer; at the end it keeps the result, which
// the label loses to the closing connection's states.
void R9_update::showOperationStart(Operation operation, int fileCount)
{
    Q_UNUSED(operation);
    m_transferNumber = 0;
    m_transferCount = fileCount;
    m_percent = 0;
    if (fileCount > 0)
        showPosition();
    else
        form->FtpBar->setFormat(QStringLiteral("%p%"));
}

void R9_update::showTransferNumber(int number, int count)
{
    m_transferNumber = number;
    m_transferCount = count;
    showPosition();
}

void R9_update::showOperationProgress(qint64 done, qint64 total)
{
    m_percent = total > 0 ? int(100.0 * double(done) / double(total)) : 0;
    showPosition();
}

void R9_update::showPosition()
{
    form->FtpBar->setFormat(QStringLiteral("%1 %  ·  file %2 of %3").arg(m_percent).arg(m_transferNumber).arg(m_transferCount));
}

void R9_update::showSaving()
{
    form->FtpBar->setFormat(QStringLiteral("Saving to disk \u2026"));
}

// A failed transfer is reported for its command and again for the batch
// the client dropped behind it, as the tool always has.
void R9_update::showResult(const OperationResult &result)
{
    switch (result.kind) {
    case OperationResult::Refused:
        // Nothing ran: the label has the refusal, the bar why.
        form->FtpBar->setFormat(result.refusedFolder ? QStringLiteral("%p%") : result.text.section(u'\n', 1));
        if (result.refusedFolder)
            showPathError(result.text);
        return;
    case OperationResult::Failed:
        if (result.failure.transfer)
            showFtpError(result.text);
        showFtpError(result.text);
        break;
    case OperationResult::Incomplete:
        showFtpError(result.text);
        break;
    case OperationResult::Completed:
    case OperationResult::Stopped:
        break;
    }
    if (result.count == 0) {
        form->FtpBar->setFormat(QStringLiteral("%p%"));
        return;
    }
    // A bar with an empty range (an empty last file) shows no text at all.
    if (form->FtpBar->maximum() == form->FtpBar->minimum()) {
        form->FtpBar->setMaximum(1);
        form->FtpBar->setValue(1);
    }
    form->FtpBar->setFormat(summaryOf(result));
}
