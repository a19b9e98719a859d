#include "ftp/transferstate.h"

bool TransferState::progressDue(qint64 bytes, bool final, qint64 *reportedTotal)
{
    constexpr qint64 interval = 30;
    // A transfer of unknown size ends with its bytes as the total.
    const qint64 shown = final && total == 0 ? bytes : total;
    if (final ? bytes == m_reportedBytes && shown == m_reportedTotal
              : m_reportedBytes >= 0 && m_clock.elapsed() < interval)
        return false;
    m_reportedBytes = bytes;
    m_reportedTotal = shown;
    m_clock.start();
    *reportedTotal = shown;
    return true;
}
