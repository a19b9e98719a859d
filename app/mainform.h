#pragma once

class QAction;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QToolBar;
class QWidget;

// The fixed layout of the main window. Every pointer is non-owning: the
// window's parent tree owns the objects.
struct MainForm
{
    QAction *actionCartella = nullptr;
    QWidget *centralWidget = nullptr;
    QLabel *disp = nullptr;
    QPushButton *connectbotton = nullptr;
    QPushButton *deconbotton = nullptr;
    QLineEdit *localpath = nullptr;
    QLabel *label = nullptr;
    QPushButton *updateButton = nullptr;
    QProgressBar *FtpBar = nullptr;
    QPushButton *BackupBotton = nullptr;
    QPushButton *BackupBotton_2 = nullptr;
    QPushButton *BackupBotton_3 = nullptr;
    QLabel *label_2 = nullptr;
    QMenuBar *menuBar = nullptr;
    QMenu *menu_File = nullptr;
    QToolBar *mainToolBar = nullptr;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};
