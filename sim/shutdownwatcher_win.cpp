#include "sim/shutdownwatcher.h"

#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <windows.h>

// Windows has no SIGINT or SIGTERM to catch: Ctrl+C, Ctrl+Break and the
// close of the console arrive on a thread the system starts for them, and
// the end of standard input is waited for on a thread of its own. Both hand
// over to the event loop.
namespace {

std::mutex watcherMutex;
std::condition_variable watcherGone;
ShutdownWatcher *watcher = nullptr;

// The system ends the process some 5 s after a close in any case.
constexpr auto closeGrace = std::chrono::milliseconds(4000);

void request(const QString &reason)
{
    ShutdownWatcher *target = watcher;
    QMetaObject::invokeMethod(target, [target, reason] { emit target->shutdownRequested(reason); },
                              Qt::QueuedConnection);
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    std::unique_lock<std::mutex> lock(watcherMutex);
    if (!watcher)
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
        request(QStringLiteral("Ctrl+C"));
        return TRUE;
    case CTRL_BREAK_EVENT:
        request(QStringLiteral("Ctrl+Break"));
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Returning lets the system end the process: first let the server
        // close its files.
        request(QStringLiteral("console closed"));
        watcherGone.wait_for(lock, closeGrace, [] { return watcher == nullptr; });
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

ShutdownWatcher::ShutdownWatcher(QObject *parent) : QObject(parent)
{
    std::lock_guard<std::mutex> lock(watcherMutex);
    watcher = this;
    m_valid = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

ShutdownWatcher::~ShutdownWatcher()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    std::lock_guard<std::mutex> lock(watcherMutex);
    watcher = nullptr;
    watcherGone.notify_all();
}

// A blocking read, on a thread left to end with the process: nothing can
// wake a read of a pipe or a console from outside.
void ShutdownWatcher::watchStandardInput()
{
    std::thread([] {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        char buffer[4096];
        DWORD got = 0;
        while (input != nullptr && input != INVALID_HANDLE_VALUE
               && ::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        }
        std::lock_guard<std::mutex> lock(watcherMutex);
        if (watcher)
            request(QStringLiteral("standard input closed"));
    }).detach();
}

void ShutdownWatcher::onSignal() {}
void ShutdownWatcher::onStandardInput() {}
