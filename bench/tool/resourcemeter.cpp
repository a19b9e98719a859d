#include "bench/tool/resourcemeter.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// One field of /proc/self/status, in KiB; -1 when it cannot be read.
qint64 statusFieldKiB(const char *field)
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[4096];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    const char *found = std::strstr(text, field);
    if (!found)
        return -1;
    return std::strtoll(found + std::strlen(field), nullptr, 10);
}

} // namespace

qint64 ResourceMeter::residentKiB()
{
    return statusFieldKiB("VmRSS:");
}

qint64 ResourceMeter::peakResidentKiB()
{
    return statusFieldKiB("VmHWM:");
}

int ResourceMeter::openFiles()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the listing's own descriptor
}

double ResourceMeter::cpuSeconds()
{
    rusage usage {};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void ResourceMeter::sampleOpenFiles()
{
    m_peakOpenFiles = std::max(m_peakOpenFiles, openFiles());
}

void ResourceMeter::restartOpenFilesPeak()
{
    m_peakOpenFiles = openFiles();
}
