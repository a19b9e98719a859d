#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the close of
// the console), and optionally the end of standard input, into one signal
// delivered from the event loop.
class ShutdownWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ShutdownWatcher(QObject *parent = nullptr);
    ~ShutdownWatcher() override;

    bool isValid() const { return m_valid; }
    void watchStandardInput();

signals:
    void shutdownRequested(const QString &reason);

private:
    void onSignal();
    void onStandardInput();

    QSocketNotifier *m_signalNotifier = nullptr;
    QSocketNotifier *m_stdinNotifier = nullptr;
    bool m_valid = false;
};
