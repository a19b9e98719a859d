// The main window as built and how its controls are reached.

#include "filedialogresponder.h"
#include "eventwait.h"

#include "app/r9_update.h"
#include "ftpclient.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QToolBar>
#include <QToolButton>

#include <memory>


class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowAsBuilt();
    void folderActionReachedThreeWays_data();
    void folderActionReachedThreeWays();

private:
    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    std::unique_ptr<R9_update> window;
};

void tst_MainWindow::init()
{
    window = std::make_unique<R9_update>();
}

void tst_MainWindow::cleanup()
{
    window.reset();
    delete ftpClient;
    ftpClient = new FtpClient;
}

void tst_MainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");

    QTest::newRow("disp") << "disp" << "QLabel" << QRect(0, 160, 401, 21) << true << "";
    QTest::newRow("connectbotton") << "connectbotton" << "QPushButton" << QRect(10, 10, 81, 41) << true << "Connect";
    QTest::newRow("deconbotton") << "deconbotton" << "QPushButton" << QRect(310, 10, 81, 41) << false << "Disconnect";
    QTest::newRow("localpath") << "localpath" << "QLineEdit" << QRect(100, 30, 201, 20) << true << "";
    QTest::newRow("label") << "label" << "QLabel" << QRect(170, 10, 91, 16) << true << "Local Start Dir";
    QTest::newRow("updateButton") << "updateButton" << "QPushButton" << QRect(10, 70, 91, 41) << false << "Update/Restore";
    QTest::newRow("FtpBar") << "FtpBar" << "QProgressBar" << QRect(10, 130, 401, 23) << true << "";
    QTest::newRow("BackupBotton") << "BackupBotton" << "QPushButton" << QRect(110, 70, 91, 41) << false << "Clone R9(on PC)";
    QTest::newRow("BackupBotton_2") << "BackupBotton_2" << "QPushButton" << QRect(210, 70, 101, 41) << false << "Data Backup(PC)";
    QTest::newRow("BackupBotton_3") << "BackupBotton_3" << "QPushButton" << QRect(320, 70, 91, 41) << false << "Data Restore";
    QTest::newRow("label_2") << "label_2" << "QLabel" << QRect(230, 190, 151, 16) << true << "TQ7H524006    V 2.0 B";
}

void tst_MainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);

    auto *widget = window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className.toLatin1());
    QCOMPARE(widget->parentWidget(), window->centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->isEnabled(), enabled);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), text);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(edit->text(), text);
}

void tst_MainWindow::windowAsBuilt()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("R9_update"));
    QCOMPARE(window->size(), QSize(417, 296));
    QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QVERIFY(!window->findChild<QStatusBar *>());
    auto *menuBar = window->menuBar();
    auto *menu = child<QMenu>("menu_File");
    QVERIFY(menu);
    QCOMPARE(menu->title(), QStringLiteral("&File"));
    auto *toolBar = child<QToolBar>("mainToolBar");
    QVERIFY(toolBar);
    QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);

    // One action, in the menu and on the tool bar, each followed by a separator.
    auto *action = child<QAction>("actionCartella");
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("Select Folder"));
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QVERIFY(!action->icon().isNull());
    for (const QList<QAction *> &actions : {menu->actions(), toolBar->actions()}) {
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions.at(0), action);
        QVERIFY(actions.at(1)->isSeparator());
    }
    QCOMPARE(menuBar->actions(), QList<QAction *>{menu->menuAction()});

    auto *bar = child<QProgressBar>("FtpBar");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1);
    QCOMPARE(bar->value(), 0);
}

void tst_MainWindow::folderActionReachedThreeWays_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("menu entry") << "menu";
    QTest::newRow("toolbar button") << "toolbar";
    QTest::newRow("Ctrl+O") << "shortcut";
}

void tst_MainWindow::folderActionReachedThreeWays()
{
    QFETCH(QString, way);
    QTemporaryDir chosen;
    FileDialogResponder responder(chosen.path());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    if (way == QLatin1String("menu")) {
        child<QMenu>("menu_File")->actions().at(0)->trigger();
    } else if (way == QLatin1String("toolbar")) {
        auto *toolBar = child<QToolBar>("mainToolBar");
        auto *button = qobject_cast<QToolButton *>(toolBar->widgetForAction(child<QAction>("actionCartella")));
        QVERIFY(button);
        button->click();
    } else {
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    }
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>("localpath")->text(), chosen.path(), 10000);
    QCOMPARE(responder.dialogsAnswered(), 1);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
