#include "transfer/contentcheck.h"

#include <QFileInfo>

#include <algorithm>

ContentCheck::ContentCheck(const QString &localPath, QObject *parent) : QIODevice(parent), m_local(localPath)
{
}

// The PC's file is open only while its counterpart arrives. One that cannot
// be read is no difference: it is reported as unreadable, and the download
// still runs to its end so that the queue goes on.
bool ContentCheck::open(OpenMode mode)
{
    m_received = 0;
    m_firstDifference = -1;
    m_localError.clear();
    if (!QFileInfo(m_local.fileName()).isFile())
        m_localError = QStringLiteral("not a regular file");
    else if (!m_local.open(QIODevice::ReadOnly))
        m_localError = m_local.errorString();
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void ContentCheck::close()
{
    // A PC file longer than what arrived differs where the data ended.
    if (m_firstDifference < 0 && m_localError.isEmpty() && m_local.isOpen() && !m_local.atEnd())
        m_firstDifference = m_received;
    m_local.close();
    QIODevice::close();
}

qint64 ContentCheck::writeData(const char *data, qint64 length)
{
    if (m_firstDifference < 0 && m_localError.isEmpty()) {
        m_buffer.resize(qsizetype(length));
        // A read may return less than asked before the end of the file.
        qint64 got = 0;
        while (got < length) {
            const qint64 n = m_local.read(m_buffer.data() + got, length - got);
            if (n < 0) {
                m_localError = m_local.errorString();
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (m_localError.isEmpty()) {
            const auto mismatch = std::mismatch(data, data + got, m_buffer.constData());
            const qint64 same = mismatch.first - data;
            if (same < length)
                m_firstDifference = m_received + same;
        }
    }
    m_received += length;
    return length;
}
