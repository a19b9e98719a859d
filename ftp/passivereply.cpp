#include "ftp/passivereply.h"

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

void skipBlanks(QStringView text, qsizetype *pos)
{
    while (*pos < text.size() && text[*pos] == QLatin1Char(' '))
        ++*pos;
}

// A decimal number at *pos, at most maxDigits long, advancing *pos past it.
bool readNumber(QStringView text, qsizetype *pos, int maxDigits, int *value)
{
    qsizetype p = *pos;
    int v = 0;
    while (p < text.size() && isDigit(text[p]) && p - *pos < maxDigits)
        v = v * 10 + (text[p++].unicode() - '0');
    if (p == *pos || (p < text.size() && isDigit(text[p])))
        return false;
    *pos = p;
    *value = v;
    return true;
}

bool readSixNumbers(QStringView text, qsizetype pos, int numbers[6])
{
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            skipBlanks(text, &pos);
            if (pos >= text.size() || text[pos] != QLatin1Char(','))
                return false;
            ++pos;
            skipBlanks(text, &pos);
        }
        if (!readNumber(text, &pos, 3, &numbers[i]) || numbers[i] > 255)
            return false;
    }
    return true;
}

} // namespace

bool parsePassiveReply(QStringView text, quint16 *port)
{
    for (qsizetype pos = 0; pos < text.size(); ++pos) {
        if (!isDigit(text[pos]) || (pos > 0 && isDigit(text[pos - 1])))
            continue;
        int numbers[6];
        if (!readSixNumbers(text, pos, numbers))
            continue;
        const int value = numbers[4] * 256 + numbers[5];
        if (value == 0)
            return false;
        *port = quint16(value);
        return true;
    }
    return false;
}

bool parseExtendedPassiveReply(QStringView text, quint16 *port)
{
    for (qsizetype open = text.indexOf(QLatin1Char('(')); open >= 0;
         open = text.indexOf(QLatin1Char('('), open + 1)) {
        qsizetype pos = open + 1;
        if (pos + 3 >= text.size())
            return false;
        const QChar delimiter = text[pos];
        if (delimiter.unicode() < 33 || delimiter.unicode() > 126 || isDigit(delimiter))
            continue;
        if (text[pos + 1] != delimiter || text[pos + 2] != delimiter)
            continue;
        pos += 3;
        int value = 0;
        if (!readNumber(text, &pos, 5, &value) || value < 1 || value > 65535)
            continue;
        if (pos + 1 >= text.size() || text[pos] != delimiter || text[pos + 1] != QLatin1Char(')'))
            continue;
        *port = quint16(value);
        return true;
    }
    return false;
}
