#include "ftp/replyparser.h"

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "xyz", "xyz text" or "xyz-text", with x from 1 to 5.
bool startsWithCode(const QByteArray &line)
{
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && isDigit(line[1])
        && isDigit(line[2]) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

QString printable(const QByteArray &line)
{
    QByteArray shown = line.left(80);
    for (char &c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return QString::fromLatin1(shown);
}

} // namespace

QString FtpReply::toString() const
{
    return text.isEmpty() ? QString::number(code) : QString::number(code) + QLatin1Char(' ') + text;
}

void FtpReplyParser::addData(const char *data, qint64 size)
{
    const char *end = data + size;
    while (data < end && !hasError()) {
        const char *newline = static_cast<const char *>(memchr(data, '\n', end - data));
        const char *stop = newline ? newline : end;
        const qint64 room = qint64(maxLineLength) + 1 - m_line.size(); // +1 for a CR before LF
        if (stop - data > room) {
            setError(QStringLiteral("Reply line longer than %1 bytes").arg(maxLineLength));
            return;
        }
        m_line.append(data, stop - data);
        if (!newline)
            return;
        data = newline + 1;
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        if (m_line.size() > maxLineLength) {
            setError(QStringLiteral("Reply line longer than %1 bytes").arg(maxLineLength));
            return;
        }
        const QByteArray line = m_line;
        m_line.clear();
        addLine(line);
    }
}

void FtpReplyParser::addLine(const QByteArray &line)
{
    if (m_inMultiLine) {
        m_multiSize += line.size() + 1;
        if (m_multiSize > maxReplySize) {
            setError(QStringLiteral("Reply larger than %1 bytes").arg(maxReplySize));
            return;
        }
        const bool last = line.startsWith(m_multiCode) && (line.size() == 3 || line[3] == ' ');
        m_multiText += QLatin1Char('\n') + QString::fromLatin1(last ? line.mid(4) : line);
        if (last) {
            m_replies.append(FtpReply{ m_multiCode.toInt(), m_multiText });
            m_inMultiLine = false;
            m_multiText.clear();
        }
        return;
    }
    if (!startsWithCode(line)) {
        setError(QStringLiteral("Invalid reply from the server: \"%1\"").arg(printable(line)));
        return;
    }
    // One character per byte, as command lines are sent: a name quoted in a
    // reply reads as the same name in a listing.
    const QString text = QString::fromLatin1(line.mid(4));
    if (line.size() > 3 && line[3] == '-') {
        m_inMultiLine = true;
        m_multiCode = line.left(3);
        m_multiText = text;
        m_multiSize = line.size() + 1;
        return;
    }
    m_replies.append(FtpReply{ line.left(3).toInt(), text });
}

FtpReply FtpReplyParser::takeReply()
{
    return m_replies.isEmpty() ? FtpReply() : m_replies.takeFirst();
}

void FtpReplyParser::setError(const QString &error)
{
    m_error = error;
    m_line.clear();
    m_multiText.clear();
}

void FtpReplyParser::clear()
{
    *this = FtpReplyParser();
}
