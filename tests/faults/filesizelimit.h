#pragma once

#include <QtGlobal>

// A full disk, emulated for the whole process: writes past `bytes` in any
// file fail with EFBIG (RLIMIT_FSIZE, with SIGXFSZ ignored so that the write
// fails instead of the process dying). Root is bound by it too. The earlier
// limit and signal disposition come back when the object goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();

    bool isActive() const { return m_active; }

    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    bool m_active = false;
    unsigned long long m_previousSoft = 0;
    void (*m_previousHandler)(int) = nullptr;
};
