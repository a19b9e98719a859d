// The window's repaint throttle: many changes, few paints, the last change
// always shown.

#include "eventwait.h"

#include "app/repaintthrottle.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace {

class PaintCounter : public QWidget
{
public:
    int paints = 0;
    int valuePainted = -1;
    int value = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        valuePainted = value;
    }
};

} // namespace

class tst_RepaintThrottle : public QObject
{
    Q_OBJECT

private slots:
    void gathersPaintsAndShowsTheLastChange();
};

void tst_RepaintThrottle::gathersPaintsAndShowsTheLastChange()
{
    PaintCounter window;
    window.resize(100, 50);
    constexpr int interval = 40;
    new RepaintThrottle(&window, interval);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(waitUntil([&] { return window.paints > 0; }, 5000));
    window.paints = 0;

    // 300 changes, one per event-loop turn, as fast as they come.
    constexpr int changes = 300;
    QElapsedTimer clock;
    clock.start();
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, &window, [&] {
        if (window.value == changes) {
            ticker.stop();
            return;
        }
        ++window.value;
        window.update();
    });
    ticker.start();
    QVERIFY(waitUntil([&] { return !ticker.isActive(); }, 20000));
    QVERIFY(waitUntil([&] { return window.valuePainted == changes; }, 5000));
    const qint64 elapsed = clock.elapsed();

    QVERIFY2(window.paints <= elapsed / interval + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(window.paints).arg(elapsed)));
    QVERIFY(window.paints < changes / 4);
}

QTEST_MAIN(tst_RepaintThrottle)
#include "tst_repaintthrottle.moc"
