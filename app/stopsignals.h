#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP, delivered from the event loop: the handler only
// writes a byte to a pipe, since nothing else it could do is safe there.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signalNumber);

private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
};
