#include "app/stopsignals.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QMetaObject>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include <qt_windows.h>

// The console's events arrive on a thread the system starts for them. They
// are handed to the event loop; the close of the console window is held
// until the run has ended, since the system ends the process as soon as
// the handler returns.
namespace {

std::mutex stopMutex;
std::condition_variable stopEnded;
StopSignals *receiver = nullptr;
bool runEnded = false;

// The system ends the process some 5 s after the close in any case.
constexpr auto closeGrace = std::chrono::milliseconds(4000);

int signalOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: return SIGTERM;
    default: return 0;
    }
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int number = signalOf(event);
    std::unique_lock<std::mutex> lock(stopMutex);
    if (number == 0 || !receiver)
        return FALSE;
    StopSignals *target = receiver;
    QMetaObject::invokeMethod(target, [target, number] { emit target->received(number); }, Qt::QueuedConnection);
    if (number == SIGTERM)
        stopEnded.wait_for(lock, closeGrace, [] { return runEnded; });
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        receiver = this;
        runEnded = false;
    }
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// Gone once the run has ended: a console close waiting for it may let the
// system end the process now.
StopSignals::~StopSignals()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    std::lock_guard<std::mutex> lock(stopMutex);
    receiver = nullptr;
    runEnded = true;
    stopEnded.notify_all();
}

void StopSignals::onReadable() {}

#endif
