#pragma once

#include <QtGlobal>

// What this process holds and uses: resident memory and open file
// descriptors from /proc/self, CPU time from getrusage(). Open files are sampled by the caller at the moments
// that matter, since the kernel keeps no high-water mark for them.
class ResourceMeter
{
public:
    static qint64 residentKiB();     // VmRSS now
    static qint64 peakResidentKiB(); // VmHWM: the most since the process started
    static int openFiles();
    static double cpuSeconds();      // user and system time used so far

    void sampleOpenFiles();
    void restartOpenFilesPeak();
    int peakOpenFiles() const { return m_peakOpenFiles; }

private:
    int m_peakOpenFiles = 0;
};
