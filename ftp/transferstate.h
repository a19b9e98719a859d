#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// What one listing or transfer has seen so far, and which of its progress
// counts are worth a signal.
struct TransferState
{
    // The total reported in dataTransferProgress(); 0 while unknown.
    qint64 total = 0;
    // The most a download may receive: its announced size; -1: no limit.
    qint64 downloadLimit = -1;
    // The bytes an upload announces with ALLO; -1: unknown, no ALLO.
    qint64 uploadSize = -1;
    int listingLines = 0;
    bool finalReplySeen = false;
    bool dataEnded = false;

    // Whether `bytes` is worth a signal: the first count, then one every
    // 30 ms at most (a progress bar moves smoothly at that rate, and no
    // faster is worth its cost), and the final count unless it was just
    // reported. `reportedTotal` receives the total to report with it.
    bool progressDue(qint64 bytes, bool final, qint64 *reportedTotal);

private:
    qint64 m_reportedBytes = -1;
    qint64 m_reportedTotal = -1;
    QElapsedTimer m_clock;
};
