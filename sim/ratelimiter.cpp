#include "sim/ratelimiter.h"

#include <algorithm>
#include <cmath>
#include <limits>

RateLimiter::RateLimiter(qint64 bytesPerSecond) : m_rate(std::max<qint64>(0, bytesPerSecond)) {}

void RateLimiter::start()
{
    m_clock.start();
}

qint64 RateLimiter::allowance(qint64 moved) const
{
    if (!isLimited())
        return std::numeric_limits<qint64>::max();
    const double earned = double(m_rate) * double(m_clock.nsecsElapsed()) / 1e9;
    return std::max<qint64>(0, qint64(earned) - moved);
}

int RateLimiter::msecsUntil(qint64 moved, qint64 wanted) const
{
    if (!isLimited())
        return 0;
    const double dueMsecs = std::ceil(double(moved + wanted) * 1000.0 / double(m_rate));
    const double waitMsecs = dueMsecs - double(m_clock.elapsed());
    return int(std::clamp(waitMsecs, 1.0, 1000.0));
}

qint64 RateLimiter::preferredStep(qint64 chunk) const
{
    if (!isLimited())
        return chunk;
    return std::clamp<qint64>(m_rate / 20, 1, chunk);
}
