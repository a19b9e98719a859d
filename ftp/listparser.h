#pragma once

#include "ftp/urlinfo.h"

#include <QDate>
#include <QStringView>

// Parses one line of a LIST reply into an entry. Understands the Unix
// "ls -l" form (time or year, names with blanks, links "a -> b", device
// files, 64-bit sizes) and the DOS "dir" form ("12-07-26  01:06PM  <DIR>
// name"). Returns an invalid UrlInfo (no name) for any other line, such as
// "total 12". An entry whose listed size does not fit in 64 bits is
// returned with size() == -1.
//
// `today` resolves the year of Unix dates given with a time of day: such a
// date lies within the last year, never more than a day ahead.
UrlInfo parseListLine(QStringView line, QDate today);
UrlInfo parseListLine(QStringView line);
