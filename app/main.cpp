#include "app/commandline.h"
#include "app/r9_update.h"
#include "app/windowplacement.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

int main(int argc, char *argv[])
{
    // Decided before any QApplication exists: the command line runs where
    // there is no display at all.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << argumentFromSystem(argv[i]);
    if (wantsCommandLine(arguments)) {
        QCoreApplication app(argc, argv);
        return runCommandLine(app, arguments);
    }

#ifdef Q_OS_WIN
    // Started from Explorer, the console Windows made for the program is
    // its own alone: let it go rather than leave it open behind the window.
    DWORD consoleProcesses[2];
    if (::GetConsoleProcessList(consoleProcesses, 2) == 1)
        ::FreeConsole();
#endif
    QApplication app(argc, argv);
    // The controls have fixed pixel sizes: keep their texts inside them
    // where the desktop's default font is larger than the one they were
    // laid out for.
    QFont font = QApplication::font();
    if (font.pointSizeF() > 8)
        font.setPointSizeF(8);
    QApplication::setFont(font);
    R9_update window;
    const QScreen *screen = QGuiApplication::primaryScreen();
    placeMainWindow(&window, screen ? screen->availableGeometry() : window.geometry());
    window.show();
    return app.exec();
}
