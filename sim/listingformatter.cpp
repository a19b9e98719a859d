#include "sim/listingformatter.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Always English, whatever the locale: clients parse these names.
const char *const monthNames[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
constexpr qint64 sixMonthsSecs = 15778476;  // 365.2425 / 2 days, as ls counts them

} // namespace

ListingFormatter::ListingFormatter(const QDateTime &now) : m_now(now) {}

QByteArray ListingFormatter::dateField(const QDateTime &modified) const
{
    // A dangling symlink has no date of its own to show.
    const QDateTime local = modified.isValid() ? modified.toLocalTime() : QDateTime::fromSecsSinceEpoch(0);
    const qint64 age = local.secsTo(m_now);
    const bool recent = age < sixMonthsSecs && age > -3600;
    QByteArray field = monthNames[local.date().month() - 1];
    field += ' ' + QByteArray::number(local.date().day()).rightJustified(2, ' ') + ' ';
    if (recent)
        field += local.toString(QStringLiteral("HH:mm")).toLatin1();
    else
        field += QByteArray::number(local.date().year()).rightJustified(5, ' ');
    return field;
}

QByteArray ListingFormatter::line(const QFileInfo &entry, qint64 reportedSize) const
{
    QByteArray kind;
    QByteArray suffix;
    int links = 1;
    if (entry.isSymLink()) {
        kind = "lrwxrwxrwx";
        suffix = " -> " + QFile::encodeName(entry.symLinkTarget());
    } else if (entry.isDir()) {
        kind = "drwxr-xr-x";
        links = 2;
    } else {
        kind = "-rw-r--r--";
    }
    QByteArray text = kind;
    text += ' ' + QByteArray::number(links).rightJustified(3, ' ');
    text += " root     root     ";
    text += QByteArray::number(reportedSize).rightJustified(8, ' ');
    text += ' ' + dateField(entry.lastModified()) + ' ';
    text += entry.fileName().toLatin1() + suffix + "\r\n";
    return text;
}
