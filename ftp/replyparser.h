#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One reply of an FTP server: a three-digit code and its text.
struct FtpReply
{
    int code = 0;
    // The text after the code, one character per byte (Latin-1); the lines
    // of a multi-line reply joined by '\n'.
    QString text;

    bool isPreliminary() const { return code >= 100 && code < 200; }
    bool isPositive() const { return code >= 200 && code < 300; }
    bool isIntermediate() const { return code >= 300 && code < 400; }
    bool isNegative() const { return code >= 400 && code < 600; }
    // "550 No such file", as a user may read it.
    QString toString() const;
};

// Splits the bytes of an FTP control connection into replies (RFC 959,
// including multi-line replies "123-..." up to "123 ...").
//
// Input is bounded: a line longer than maxLineLength or a reply larger than
// maxReplySize is an error, as is a line that is not a reply. After an error
// the parser ignores all further input; the connection cannot be trusted.
class FtpReplyParser
{
public:
    static constexpr int maxLineLength = 8 * 1024;
    static constexpr int maxReplySize = 64 * 1024;

    void addData(const char *data, qint64 size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }

    bool hasReply() const { return !m_replies.isEmpty(); }
    FtpReply takeReply();

    bool hasError() const { return !m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    void clear();

private:
    void addLine(const QByteArray &line);
    void setError(const QString &error);

    QByteArray m_line;
    bool m_inMultiLine = false;
    QByteArray m_multiCode;
    QString m_multiText;
    int m_multiSize = 0;
    QList<FtpReply> m_replies;
    QString m_error;
};
