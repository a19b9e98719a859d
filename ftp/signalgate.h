#pragma once

#include "ftp/ftpclient.h"

class FtpCommandQueue;

// The one way out for the client's signals. A slot may end the running
// command (abort(), a failure of its own making), let the next one start,
// or delete the client and everything in it, this gate included. So every
// emission says whether the caller may go on: true when the client still
// exists and the command that ran before the signal, if any, still runs.
// The caller must look before it touches the command, the client or itself.
class SignalGate
{
public:
    SignalGate(FtpClient *client, const FtpCommandQueue &queue);
    SignalGate(const SignalGate &) = delete;
    SignalGate &operator=(const SignalGate &) = delete;

    [[nodiscard]] bool commandStarted(int id);
    [[nodiscard]] bool stateChanged(FtpClient::State state);
    [[nodiscard]] bool listInfo(const UrlInfo &info);
    [[nodiscard]] bool dataTransferProgress(qint64 done, qint64 total);
    // Emitted once no command runs: true when the client still exists.
    [[nodiscard]] bool commandFinished(int id, bool error);
    [[nodiscard]] bool done(bool error);

private:
    template <typename Emit>
    bool pass(Emit &&emitSignal);

    FtpClient *const m_client;
    const FtpCommandQueue &m_queue;
};
