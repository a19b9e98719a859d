#include "app/mainform.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>

namespace {

QIcon iconFromResource(const QString &path)
{
    QIcon icon;
    icon.addFile(path, QSize(), QIcon::Normal, QIcon::Off);
    return icon;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry, bool enabled)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setEnabled(enabled);
    button->setGeometry(geometry);
    return button;
}

} // namespace

void MainForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("R9_update"));
    window->resize(417, 296);

    QSizePolicy sizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sizePolicy.setHorizontalStretch(1);
    sizePolicy.setVerticalStretch(0);
    sizePolicy.setHeightForWidth(window->sizePolicy().hasHeightForWidth());
    window->setSizePolicy(sizePolicy);

    window->setWindowIcon(iconFromResource(QStringLiteral(":/new/prefix1/ftp.png")));
    window->setIconSize(QSize(32, 32));

    actionCartella = new QAction(window);
    actionCartella->setObjectName(QStringLiteral("actionCartella"));
    actionCartella->setIcon(iconFromResource(QStringLiteral(":/new/prefix1/folder_explorer.png")));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));

    disp = new QLabel(centralWidget);
    disp->setObjectName(QStringLiteral("disp"));
    disp->setGeometry(QRect(0, 160, 401, 21));
    // The label shows every file's name as it starts. A label whose size may
    // change asks its parent to lay out again at each new text, and that
    // would cost an event per file; the window has no layout to redo.
    disp->setFixedSize(disp->size());
    disp->setFrameShape(QFrame::StyledPanel);
    disp->setFrameShadow(QFrame::Sunken);

    connectbotton = makeButton(centralWidget, "connectbotton", QRect(10, 10, 81, 41), true);
    deconbotton = makeButton(centralWidget, "deconbotton", QRect(310, 10, 81, 41), false);

    localpath = new QLineEdit(centralWidget);
    localpath->setObjectName(QStringLiteral("localpath"));
    localpath->setGeometry(QRect(100, 30, 201, 20));

    label = new QLabel(centralWidget);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(170, 10, 91, 16));

    updateButton = makeButton(centralWidget, "updateButton", QRect(10, 70, 91, 41), false);
    // Fixed text, deliberately not part of the translatable set.
    updateButton->setText(QStringLiteral("Update/Restore"));

    FtpBar = new QProgressBar(centralWidget);
    FtpBar->setObjectName(QStringLiteral("FtpBar"));
    FtpBar->setGeometry(QRect(10, 130, 401, 23));
    FtpBar->setValue(24);

    BackupBotton = makeButton(centralWidget, "BackupBotton", QRect(110, 70, 91, 41), false);
    BackupBotton_2 = makeButton(centralWidget, "BackupBotton_2", QRect(210, 70, 101, 41), false);
    BackupBotton_3 = makeButton(centralWidget, "BackupBotton_3", QRect(320, 70, 91, 41), false);

    label_2 = new QLabel(centralWidget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setGeometry(QRect(230, 190, 151, 16));

    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 417, 25));
    menu_File = new QMenu(menuBar);
    menu_File->setObjectName(QStringLiteral("menu_File"));
    window->setMenuBar(menuBar);

    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    menuBar->addAction(menu_File->menuAction());
    menu_File->addAction(actionCartella);
    menu_File->addSeparator();
    mainToolBar->addAction(actionCartella);
    mainToolBar->addSeparator();

    retranslateUi(window);

    QMetaObject::connectSlotsByName(window);
}

void MainForm::retranslateUi(QMainWindow *window)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("R9_update", text, nullptr);
    };
    window->setWindowTitle(tr("R9_update"));
    actionCartella->setText(tr("Select Folder"));
    actionCartella->setShortcut(QKeySequence(tr("Ctrl+O")));
    disp->setText(QString());
    connectbotton->setText(tr("Connect"));
    deconbotton->setText(tr("Disconnect"));
    localpath->setText(QString());
    label->setText(tr("Local Start Dir"));
    BackupBotton->setText(tr("Clone R9(on PC)"));
    BackupBotton_2->setText(tr("Data Backup(PC)"));
    BackupBotton_3->setText(tr("Data Restore"));
    label_2->setText(tr("TQ7H524006    V 2.0 B"));
    menu_File->setTitle(tr("&File"));
}
