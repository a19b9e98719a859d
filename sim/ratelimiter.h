#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Paces one data transfer: never more than bytesPerSecond × elapsed time
// bytes, counted from start(). A rate of 0 means no limit.
class RateLimiter
{
public:
    explicit RateLimiter(qint64 bytesPerSecond = 0);

    bool isLimited() const { return m_rate > 0; }
    void start();
    // How many more bytes may move now, after `moved` bytes.
    qint64 allowance(qint64 moved) const;
    // Milliseconds until `wanted` more bytes may move after `moved`.
    int msecsUntil(qint64 moved, qint64 wanted) const;
    // The step worth waiting for, so that a slow rate is not served byte by byte.
    qint64 preferredStep(qint64 chunk) const;

private:
    qint64 m_rate;
    QElapsedTimer m_clock;
};
