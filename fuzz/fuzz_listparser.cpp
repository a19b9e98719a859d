// Fuzzes the LIST line parser: any line yields an entry or nothing, never a
// crash, and an entry always has a name and a size that is not negative,
// or -1 for a size too large for 64 bits.
#include "ftp/listparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const UrlInfo info = parseListLine(line, QDate(2026, 3, 15));
    if (info.isValid()) {
        if (info.name().isEmpty() || info.size() < -1 || info.name().size() > line.size())
            abort();
    }
    return 0;
}
