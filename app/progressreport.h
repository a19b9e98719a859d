#pragma once

#include <QElapsedTimer>
#include <QString>

class QTextStream;

// The progress of a command-line run, on standard error. On a terminal it
// is one line that is drawn again in place (operation, file k of n, name,
// percent of all bytes, rate); elsewhere, as in a log, one line for each
// file once it has ended.
class ProgressReport
{
public:
    // `terminalWidth`: the columns of the terminal; 0 when it is none.
    ProgressReport(QTextStream &stream, int terminalWidth);

    // The tool's state words while no operation runs (terminal only).
    void status(const QString &text);
    void begin(const QString &title, int count);
    void fileStarted(int number, const QString &name);
    // The file's command has finished; `ended`: without an error.
    void fileEnded(bool ended);
    // The file in transfer.
    void fileProgress(qint64 done, qint64 total);
    // All files of the operation.
    void overall(qint64 done, qint64 total);
    void saving();
    // The operation is over: the line drawn in place is cleared.
    void end();

private:
    void draw(const QString &line);
    QString rate() const;

    QTextStream &m_stream;
    int m_width;
    bool m_running = false;
    QString m_title;
    int m_count = 0;
    int m_number = 0;
    QString m_name;
    qint64 m_fileDone = 0;
    qint64 m_fileTotal = -1;  // -1: not reported
    qint64 m_done = 0;
    qint64 m_total = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastDraw;
    int m_drawnLength = 0;
};
