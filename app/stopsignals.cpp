#include "app/stopsignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A dropped SSH session hangs up: that is a stop like Ctrl+C, not a
    // death that would leave the files that arrived in their temporaries.
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onReadable);
    setHandler(forwardSignal);
    // An output that was closed (`| head`) only silences the output: the
    // write fails, and the run goes on to put its files in place.
    ::signal(SIGPIPE, SIG_IGN);
}

// The handler and its pipe stay to the end of the process: a signal while
// the program ends (a second Ctrl+C) must not kill it with the files half
// put in place, and a closed descriptor could be another file's by then.
StopSignals::~StopSignals() = default;

void StopSignals::onReadable()
{
    char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1)
        emit received(int(byte));
}

#elif !defined(Q_OS_WIN) // Windows: stopsignals_win.cpp
// Elsewhere Ctrl+C ends the program as the system does.
StopSignals::StopSignals(QObject *parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::onReadable() {}
#endif
