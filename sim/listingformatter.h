#pragma once

#include <QByteArray>
#include <QDateTime>

class QFileInfo;

// One line of a LIST reply in the Unix "ls -l" form:
// "-rw-r--r--   1 root     root         1234 Dec  7 01:06 NAME"
// with the year instead of the time for entries older than six months.
class ListingFormatter
{
public:
    explicit ListingFormatter(const QDateTime &now = QDateTime::currentDateTime());

    QByteArray line(const QFileInfo &entry, qint64 reportedSize) const;
    QByteArray dateField(const QDateTime &modified) const;

private:
    QDateTime m_now;
};
