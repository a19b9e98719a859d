#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Lets a window repaint at most once per interval. During a clone of
// thousands of small files the label and the progress bar change several
// hundred times a second; painting each change would cost more than the
// transfers themselves, and no one can read that fast. The widgets' state
// changes at once; only their painting is gathered, and a change is never
// shown later than one interval after it happened.
class RepaintThrottle : public QObject
{
public:
    RepaintThrottle(QWidget *window, int intervalMsecs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    int m_interval;
    QElapsedTimer m_sinceLastPaint;
    QTimer m_deferred;
};
