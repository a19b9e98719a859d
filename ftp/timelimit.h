#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <functional>

// The time limit of what the control connection waits for: the connection,
// the greeting, a reply, or a transfer's next data. Started anew when a
// command goes out; restarted only by what its owner counts as progress (a
// transfer's data), never by bytes that merely arrive, so that a server
// trickling a reply, or chattering beside a stalled transfer, cannot keep a
// command open.
class TimeLimit
{
public:
    TimeLimit(QObject *context, std::function<void()> expired);

    // `msecs` from now.
    void start(int msecs);
    // The same limit again from now; cheap enough for every chunk of data.
    void restart();
    void stop();
    // The limit in force, as a user reads it: "30 s", "1500 ms".
    QString text() const;

private:
    void check();

    QTimer m_timer;
    QElapsedTimer m_since;
    int m_msecs = 0;
    std::function<void()> m_expired;
};
