#include "app/repaintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintThrottle::RepaintThrottle(QWidget *window, int intervalMsecs)
    : QObject(window)
    , m_window(window)
    , m_interval(intervalMsecs)
{
    m_deferred.setSingleShot(true);
    connect(&m_deferred, &QTimer::timeout, this, [this] {
        // The held-back request: the window paints everything marked since.
        QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest));
    });
    window->installEventFilter(this);
}

bool RepaintThrottle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_sinceLastPaint.isValid() && m_sinceLastPaint.elapsed() < m_interval) {
        if (!m_deferred.isActive())
            m_deferred.start(int(m_interval - m_sinceLastPaint.elapsed()));
        return true;
    }
    m_deferred.stop();
    m_sinceLastPaint.restart();
    return false;
}
