#include "app/windowplacement.h"

#include <QRect>
#include <QWidget>

void placeMainWindow(QWidget *window, const QRect &available)
{
    QRect frame = window->geometry();
    frame.moveCenter(available.center());
    window->setGeometry(frame);
    window->setWindowFlags(Qt::WindowTitleHint);
}
