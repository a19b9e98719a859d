#include "transfer/windowsnames.h"

namespace {

// NTFS and exFAT take 255 UTF-16 units in one name.
constexpr qsizetype longestName = 255;

// Windows also takes the superscript digits for devices, and treats the
// console's own two names alike.
bool isDeviceName(QStringView stem)
{
    static const char16_t *const exact[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t *device : exact) {
        if (stem.compare(QStringView(device), Qt::CaseInsensitive) == 0)
            return true;
    }
    if (stem.size() != 4)
        return false;
    const QStringView prefix = stem.left(3);
    if (prefix.compare(u"COM", Qt::CaseInsensitive) != 0 && prefix.compare(u"LPT", Qt::CaseInsensitive) != 0)
        return false;
    const char16_t digit = stem.at(3).unicode();
    return (digit >= u'1' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' || digit == u'\u00b3';
}

} // namespace

bool windowsCanHold(const QString &name)
{
    if (name.isEmpty() || name.size() > longestName)
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"<>:\"/\\|?*").contains(c))
            return false;
    }
    if (name.endsWith(u'.') || name.endsWith(u' '))
        return false;
    // "CON.TXT" and "CON .TXT" open the device as well.
    QStringView stem = QStringView(name).left(name.indexOf(u'.') < 0 ? name.size() : name.indexOf(u'.'));
    while (stem.endsWith(u' '))
        stem.chop(1);
    return !isDeviceName(stem);
}

QString extendedLengthPath(const QString &path)
{
    QString native = path;
    native.replace(u'/', u'\\');
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native;
    if (native.startsWith(QLatin1String("\\\\")))
        return QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
    return QStringLiteral("\\\\?\\") + native;
}
