#pragma once

#include "urlinfo.h"

#include <QMainWindow>

struct MainForm;
class FtpClient;
struct TransferRecord;

// The one FTP client of the process, created before main() and never deleted.
extern FtpClient *ftpClient;

class R9_update : public QMainWindow
{
    Q_OBJECT

public:
    explicit R9_update(QWidget *parent = nullptr);
    ~R9_update() override;

    void connectToDevice();
    void queuePut(const QString &localPath, const QString &remoteName, qint64 size,
                  const QString &setRoot = QString());
    void queueGet(const QString &localPath, const QString &remoteName, qint64 size);
    bool checkRestoreFolder();
    bool checkUpdateFolder();

public slots:
    void setMyLable(int state);
    void chkstat(bool error);
    void CmdFinishSlot(int commandId, bool error);
    void CmdStartSlot();
    void ftpProgress(qint64 done, qint64 total);
    void doListInfo(const UrlInfo &info);

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
    // connection
    void showFtpError(const QString &text);
    void showPathError();
    // transfer tracking
    void startTransfer();
    void countListing();
    void finishListing(bool error);
    void finishUpload(int commandId, bool error);
    void finishDownload(int commandId, bool error);
    bool stageDownload(int commandId, qint64 expectedSize);
    TransferRecord *recordOf(int commandId);
    void markNotDone(const QList<int> &commandIds);
    void putStagedDownloadsInPlace();
    void testCompleteness(const QString &completedText, const QString &incompleteText);
    QString incompleteReport(const QString &incompleteText) const;
    void showProgress(qint64 done, qint64 total);
    // operations
    bool beginOperation(QString *base);
    void endQueueing(const QString &incompleteText);
    void endOperation();
    void setOperationButtonsEnabled(bool enabled);
    void resetForDownloads();
    void resetForUploads();
    void makeLocalFolders(const QString &base, const QStringList &folders);
    bool prepareDownloadFolders(const QString &base, const QStringList &folders);
    void queueDownload(const QString &base, const QString &localFolder, const QString &name, qint64 size);
    void queueUploadsOf(const QString &base, const QString &folder);
    bool hasSetFolders(const QString &base, const QStringList &folders) const;
    QString firstUnfitFolder(const QString &base, const QStringList &folders) const;

    MainForm *form;
};
