#include "ftp/signalgate.h"

#include "ftp/commandqueue.h"

SignalGate::SignalGate(FtpClient *client, const FtpCommandQueue &queue)
    : m_client(client)
    , m_queue(queue)
{
}

template <typename Emit>
bool SignalGate::pass(Emit &&emitSignal)
{
    // Copies on the stack: a slot that deletes the client takes the gate
    // with it.
    const QPointer<FtpClient> client(m_client);
    const FtpCommandQueue &queue = m_queue;
    const quint64 token = queue.runToken();
    const bool running = queue.runningCommand() != nullptr;
    emitSignal(client.data());
    return client && queue.runToken() == token && (!running || queue.runningCommand());
}

bool SignalGate::commandStarted(int id)
{
    return pass([&](FtpClient *client) { emit client->commandStarted(id); });
}

bool SignalGate::stateChanged(FtpClient::State state)
{
    return pass([&](FtpClient *client) { emit client->stateChanged(state); });
}

bool SignalGate::listInfo(const UrlInfo &info)
{
    return pass([&](FtpClient *client) { emit client->listInfo(info); });
}

bool SignalGate::dataTransferProgress(qint64 done, qint64 total)
{
    return pass([&](FtpClient *client) { emit client->dataTransferProgress(done, total); });
}

bool SignalGate::commandFinished(int id, bool error)
{
    return pass([&](FtpClient *client) { emit client->commandFinished(id, error); });
}

bool SignalGate::done(bool error)
{
    return pass([&](FtpClient *client) { emit client->done(error); });
}
