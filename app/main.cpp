#include "r9_update.h"
#include "windowplacement.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    R9_update window;
    const QScreen *screen = QGuiApplication::primaryScreen();
    placeMainWindow(&window, screen ? screen->availableGeometry() : window.geometry());
    window.show();
    return app.exec();
}
