#pragma once

#include "connection/instrumentsession.h"

#include <QMainWindow>

struct MainForm;
class FtpClient;

// The one FTP client of the process, created before main() and never deleted.
extern FtpClient *ftpClient;

// The main window. It shows what the engine (InstrumentSession) reports and
// hands it the user's clicks; the work, and the client's reports, are the
// engine's. An operation's boxes and the bar's last words are read off its
// result.
class R9_update : public QMainWindow
{
    Q_OBJECT

public:
    explicit R9_update(QWidget *parent = nullptr);
    ~R9_update() override;

    InstrumentSession *session() const { return m_session; }

private slots:
    void on_connectbotton_clicked();
    void on_deconbotton_clicked();
    void on_updateButton_clicked();
    void on_BackupBotton_clicked();
    void on_actionCartella_triggered();
    void on_BackupBotton_2_clicked();
    void on_BackupBotton_3_clicked();
    void on_FtpBar_valueChanged(int value);

private:
    void showFtpError(const QString &text);
    void showPathError(const QString &text);
    void showControls(InstrumentSession::Controls controls);
    void setOperationButtonsEnabled(bool enabled);
    void showProgress(qint64 done, qint64 total);
    void showOperationStart(Operation operation, int fileCount);
    void showTransferNumber(int number, int count);
    void showOperationProgress(qint64 done, qint64 total);
    void showSaving();
    void showResult(const OperationResult &result);
    void showPosition();
    void startOperation(Operation operation);

    MainForm *form;
    InstrumentSession *m_session;
    // The running operation's place, for the bar's text.
    int m_transferNumber = 0;
    int m_transferCount = 0;
    int m_percent = 0;
};
