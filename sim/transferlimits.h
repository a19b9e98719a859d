#pragma once

#include <QtGlobal>

// What faults and settings impose on one data transfer.
struct TransferLimits {
    qint64 cutAfterBytes = -1;   // close the data connection after this many bytes; -1: never
    qint64 shortStoreBytes = -1; // STOR: keep this many bytes, close, and claim success; -1: never
    qint64 bytesPerSecond = 0;   // 0: unlimited
    bool asciiLineEnds = false;  // TYPE A: the wire carries CR LF line ends
};

enum class TransferOutcome {
    Completed,
    Cut,          // stopped on purpose by a fault
    PeerClosed,   // the client closed or reset the data connection
    LocalError    // the file could not be read or written
};
