#include "app/progressreport.h"

#include <QLocale>
#include <QTextStream>

namespace {

// Ten pictures a second are enough to read; more only cost the transfer.
constexpr int drawInterval = 100;

} // namespace

ProgressReport::ProgressReport(QTextStream &stream, int terminalWidth) : m_stream(stream), m_width(terminalWidth)
{
}

void ProgressReport::status(const QString &text)
{
    if (!m_running)
        draw(text);
}

void ProgressReport::begin(const QString &title, int count)
{
    m_running = true;
    m_title = title;
    m_count = count;
    m_number = 0;
    m_done = 0;
    m_total = 0;
    m_clock.start();
}

void ProgressReport::fileStarted(int number, const QString &name)
{
    m_number = number;
    m_name = name;
    m_fileDone = 0;
    m_fileTotal = -1;
    overall(m_done, m_total);
}

void ProgressReport::fileProgress(qint64 done, qint64 total)
{
    if (m_number == 0)
        return;
    m_fileDone = done;
    m_fileTotal = total;
}

void ProgressReport::overall(qint64 done, qint64 total)
{
    m_done = done;
    m_total = total;
    if (!m_width || m_number == 0)
        return;
    const int percent = total > 0 ? int(100.0 * double(done) / double(total)) : 0;
    const QString head = QStringLiteral("%1  file %2 of %3  ").arg(m_title).arg(m_number).arg(m_count);
    const QString tail = QStringLiteral("  %1 %%2").arg(percent).arg(rate());
    // The name gives way when the line would wrap, which breaks drawing in place.
    const int room = qMax(8, m_width - 1 - int(head.size() + tail.size()));
    const QString name = m_name.size() > room ? m_name.left(room - 3) + QStringLiteral("...") : m_name;
    draw(head + name + tail);
}

// The last byte has arrived; the files are being put on disk, which on a
// slow disk takes a while that must not look like a hang.
void ProgressReport::saving()
{
    m_number = 0;
    const QString line = QStringLiteral("%1  Saving to disk \u2026").arg(m_title);
    if (m_width) {
        m_lastDraw.invalidate();
        draw(line);
    } else {
        m_stream << line << '\n';
        m_stream.flush();
    }
}

void ProgressReport::end()
{
    m_number = 0;
    m_running = false;
    if (m_width && m_drawnLength > 0) {
        m_stream << '\r' << QString(m_drawnLength, u' ') << '\r';
        m_stream.flush();
        m_drawnLength = 0;
    }
}

// Elsewhere than on a terminal, each file that ended gets its line.
void ProgressReport::fileEnded(bool ended)
{
    const int number = m_number;
    if (!ended || m_width || number == 0)
        return;
    QString line = QStringLiteral("%1  file %2 of %3  %4").arg(m_title).arg(number).arg(m_count).arg(m_name);
    if (m_fileTotal >= 0 && m_fileDone == m_fileTotal)
        line += QStringLiteral("  %1 bytes").arg(m_fileDone);
    else if (m_fileTotal >= 0)
        line += QStringLiteral("  %1 of %2 bytes").arg(m_fileDone).arg(m_fileTotal);
    m_stream << line << '\n';
    m_stream.flush();
}

void ProgressReport::draw(const QString &line)
{
    if (!m_width || (m_lastDraw.isValid() && m_lastDraw.elapsed() < drawInterval))
        return;
    m_lastDraw.start();
    const QString shown = line.left(m_width - 1);
    m_stream << '\r' << shown << QString(qMax(0, m_drawnLength - int(shown.size())), u' ');
    m_stream.flush();
    m_drawnLength = int(shown.size());
}

QString ProgressReport::rate() const
{
    const qint64 elapsed = m_clock.elapsed();
    if (elapsed < 500)
        return QString();
    const qint64 perSecond = m_done * 1000 / elapsed;
    return QStringLiteral("  ") + QLocale::c().formattedDataSize(perSecond, 1, QLocale::DataSizeSIFormat)
         + QStringLiteral("/s");
}
