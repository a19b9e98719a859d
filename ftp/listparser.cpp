#include "ftp/listparser.h"

#include <QTime>

namespace {

struct Token
{
    qsizetype start = 0;
    qsizetype end = 0;
    QStringView text;
};

constexpr int maxTokens = 16;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool allDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

// The first maxTokens blank-separated words; a name with blanks is taken
// from the line by position, not from these.
QList<Token> tokenize(QStringView line)
{
    QList<Token> tokens;
    qsizetype pos = 0;
    while (pos < line.size() && tokens.size() < maxTokens) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos == line.size())
            break;
        const qsizetype start = pos;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        tokens.append(Token{ start, pos, line.mid(start, pos - start) });
    }
    return tokens;
}

// A size is digits only; one too large for 64 bits still names a size, so
// the entry is kept with size -1 rather than dropped or cut down.
bool toSize(QStringView text, qint64 *size)
{
    if (!allDigits(text))
        return false;
    bool ok = false;
    *size = text.toLongLong(&ok);
    if (!ok)
        *size = -1;
    return true;
}

int monthNumber(QStringView text)
{
    static const char *const months[] = { "jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec" };
    if (text.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (text.compare(QLatin1String(months[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

int dayNumber(QStringView text)
{
    if (!allDigits(text) || text.size() > 2)
        return 0;
    const int day = text.toInt();
    return day >= 1 && day <= 31 ? day : 0;
}

// "13:06" or "2023".
bool isTimeOrYear(QStringView text)
{
    if (text.size() == 4)
        return allDigits(text);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    return (colon == 1 || colon == 2) && text.size() == colon + 3 && allDigits(text.left(colon))
        && allDigits(text.mid(colon + 1));
}

QDateTime unixDate(int month, int day, QStringView timeOrYear, QDate today)
{
    if (timeOrYear.size() == 4) {
        const QDate date(timeOrYear.toInt(), month, day);
        return date.isValid() ? QDateTime(date, QTime(0, 0)) : QDateTime();
    }
    const qsizetype colon = timeOrYear.indexOf(QLatin1Char(':'));
    const QTime time(timeOrYear.left(colon).toInt(), timeOrYear.mid(colon + 1).toInt());
    QDate date(today.year(), month, day);
    if (!date.isValid() || date > today.addDays(1))
        date = QDate(today.year() - 1, month, day);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

bool isPermissionString(QStringView text)
{
    if (text.size() < 10 || text.size() > 11)
        return false;
    if (!QStringView(u"-dlcbpsD").contains(text[0]))
        return false;
    for (int i = 1; i < 10; ++i) {
        if (!QStringView(u"-rwxsStTlL").contains(text[i]))
            return false;
    }
    return text.size() == 10 || QStringView(u"+.@").contains(text[10]);
}

int permissionBits(QStringView text)
{
    int bits = 0;
    const auto has = [&](int i, const char16_t *chars) { return QStringView(chars).contains(text[i]); };
    if (has(1, u"r")) bits |= UrlInfo::ReadOwner;
    if (has(2, u"w")) bits |= UrlInfo::WriteOwner;
    if (has(3, u"xs")) bits |= UrlInfo::ExeOwner;
    if (has(4, u"r")) bits |= UrlInfo::ReadGroup;
    if (has(5, u"w")) bits |= UrlInfo::WriteGroup;
    if (has(6, u"xs")) bits |= UrlInfo::ExeGroup;
    if (has(7, u"r")) bits |= UrlInfo::ReadOther;
    if (has(8, u"w")) bits |= UrlInfo::WriteOther;
    if (has(9, u"xt")) bits |= UrlInfo::ExeOther;
    return bits;
}

// "-rw-r--r--  1 owner group  1234 Jul 12 13:06 name"
UrlInfo parseUnixLine(QStringView line, const QList<Token> &tokens, QDate today)
{
    if (tokens.size() < 5 || !isPermissionString(tokens[0].text))
        return UrlInfo();
    const QChar type = tokens[0].text[0];
    const bool device = type == QLatin1Char('c') || type == QLatin1Char('b');

    for (int i = 2; i + 2 < tokens.size(); ++i) {
        const int month = monthNumber(tokens[i].text);
        const int day = dayNumber(tokens[i + 1].text);
        if (!month || !day || !isTimeOrYear(tokens[i + 2].text))
            continue;

        // The size before the date; a device shows "major, minor" instead.
        qint64 size = 0;
        int fieldsEnd = i - 1; // index of the first token after owner and group
        QStringView sizeText = tokens[i - 1].text;
        if (device) {
            if (sizeText.contains(QLatin1Char(','))) {
                // "1,3" in one token
            } else if (i >= 3 && tokens[i - 2].text.endsWith(QLatin1Char(','))) {
                fieldsEnd = i - 2;
            } else if (!allDigits(sizeText)) {
                continue;
            }
        } else if (!toSize(sizeText, &size)) {
            continue;
        }

        const qsizetype nameStart = tokens[i + 2].end + 1;
        if (nameStart >= line.size())
            return UrlInfo();
        QString name = line.mid(nameStart).toString();

        UrlInfo info;
        if (type == QLatin1Char('-')) {
            info.setFile();
        } else if (type == QLatin1Char('d')) {
            info.setDir();
        } else if (type == QLatin1Char('l')) {
            info.setSymLink();
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow > 0) {
                info.setSymLinkTarget(name.mid(arrow + 4));
                name.truncate(arrow);
            }
        }
        info.setName(name);
        info.setSize(size);
        info.setPermissions(permissionBits(tokens[0].text));

        int field = 1;
        if (field < fieldsEnd && allDigits(tokens[field].text) && fieldsEnd - field > 1)
            ++field; // link count
        if (field < fieldsEnd)
            info.setOwner(tokens[field++].text.toString());
        if (field < fieldsEnd)
            info.setGroup(tokens[field].text.toString());
        info.setLastModified(unixDate(month, day, tokens[i + 2].text, today));
        return info;
    }
    return UrlInfo();
}

// "12-07-26" or "12-07-2026" (month first).
QDate dosDate(QStringView text)
{
    if (text.size() != 8 && text.size() != 10)
        return QDate();
    const QChar separator = text[2];
    if ((separator != QLatin1Char('-') && separator != QLatin1Char('/')) || text[5] != separator)
        return QDate();
    const QStringView month = text.mid(0, 2), day = text.mid(3, 2), year = text.mid(6);
    if (!allDigits(month) || !allDigits(day) || !allDigits(year))
        return QDate();
    int y = year.toInt();
    if (year.size() == 2)
        y += y < 70 ? 2000 : 1900;
    return QDate(y, month.toInt(), day.toInt());
}

// "01:06PM", "01:06AM" or "13:06".
bool dosTime(QStringView text, QTime *time)
{
    bool pm = false, am = false;
    if (text.endsWith(QLatin1String("PM"), Qt::CaseInsensitive))
        pm = true;
    else if (text.endsWith(QLatin1String("AM"), Qt::CaseInsensitive))
        am = true;
    if (pm || am)
        text.chop(2);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if ((colon != 1 && colon != 2) || text.size() != colon + 3 || !allDigits(text.left(colon))
        || !allDigits(text.mid(colon + 1)))
        return false;
    int hour = text.left(colon).toInt();
    const int minute = text.mid(colon + 1).toInt();
    if (pm || am) {
        if (hour < 1 || hour > 12)
            return false;
        hour = (hour % 12) + (pm ? 12 : 0);
    }
    *time = QTime(hour, minute);
    return time->isValid();
}

// "12-07-26  01:06PM       <DIR>          name" or "... 1234 name"
UrlInfo parseDosLine(QStringView line, const QList<Token> &tokens)
{
    if (tokens.size() < 4)
        return UrlInfo();
    const QDate date = dosDate(tokens[0].text);
    QTime time;
    if (!date.isValid() || !dosTime(tokens[1].text, &time))
        return UrlInfo();

    UrlInfo info;
    if (tokens[2].text.compare(QLatin1String("<DIR>"), Qt::CaseInsensitive) == 0) {
        info.setDir();
    } else {
        qint64 size = 0;
        if (!toSize(tokens[2].text, &size))
            return UrlInfo();
        info.setFile();
        info.setSize(size);
    }
    info.setName(line.mid(tokens[3].start).toString());
    info.setLastModified(QDateTime(date, time));
    return info;
}

} // namespace

UrlInfo parseListLine(QStringView line, QDate today)
{
    while (!line.isEmpty() && (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n'))))
        line.chop(1);
    const QList<Token> tokens = tokenize(line);
    if (tokens.isEmpty())
        return UrlInfo();
    if (isDigit(tokens[0].text[0]))
        return parseDosLine(line, tokens);
    return parseUnixLine(line, tokens, today);
}

UrlInfo parseListLine(QStringView line)
{
    return parseListLine(line, QDate::currentDate());
}
