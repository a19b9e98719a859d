#pragma once

#include "ftpclient.h"

#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QTimer>

// Records every signal of an FtpClient in order, with what currentCommand()
// and currentId() answered inside it.
class ClientRecorder : public QObject
{
public:
    enum Type { State, Started, Finished, Done, Progress, Entry };

    struct Event
    {
        Type type = State;
        int id = 0;          // Started, Finished; State: the state
        bool error = false;  // Finished, Done
        qint64 done = 0;     // Progress
        qint64 total = 0;    // Progress
        UrlInfo info;        // Entry
        FtpClient::Command currentCommand = FtpClient::None;
        int currentId = 0;
    };

    explicit ClientRecorder(FtpClient *client)
        : m_client(client)
    {
        connect(client, &FtpClient::stateChanged, this, [this](int s) { add(State, s); });
        connect(client, &FtpClient::commandStarted, this, [this](int id) { add(Started, id); });
        connect(client, &FtpClient::commandFinished, this, [this](int id, bool error) { add(Finished, id, error); });
        connect(client, &FtpClient::done, this, [this](bool error) { add(Done, 0, error); });
        connect(client, &FtpClient::dataTransferProgress, this,
                [this](qint64 done, qint64 total) { add(Progress, 0, false, done, total); });
        connect(client, &FtpClient::listInfo, this, [this](const UrlInfo &info) { add(Entry, 0, false, 0, 0, info); });
    }

    QList<Event> events;

    // Waits until `count` done() signals have come in all.
    bool waitForDone(int count = 1, int timeout = 30000)
    {
        QEventLoop loop;
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        connect(m_client, &FtpClient::done, &loop, [&] {
            if (doneCount() >= count)
                loop.quit();
        });
        if (doneCount() < count)
            loop.exec();
        return doneCount() >= count;
    }

    int doneCount() const { return int(ids(Done).size()); }
    // The ids of the events of one type (the states, for State).
    QList<int> ids(Type type) const
    {
        QList<int> out;
        for (const Event &e : events) {
            if (e.type == type)
                out.append(e.id);
        }
        return out;
    }
    QList<int> states() const { return ids(State); }
    QList<int> startedIds() const { return ids(Started); }
    QList<int> finishedIds() const { return ids(Finished); }
    bool finishedWithError(int id) const
    {
        for (const Event &e : events) {
            if (e.type == Finished && e.id == id)
                return e.error;
        }
        return false;
    }
    QStringList entryNames() const
    {
        QStringList out;
        for (const Event &e : events) {
            if (e.type == Entry)
                out.append(e.info.name());
        }
        return out;
    }
    // Progress reports between the start and the finish of command `id`.
    QList<QPair<qint64, qint64>> progressOf(int id) const
    {
        QList<QPair<qint64, qint64>> out;
        bool inside = false;
        for (const Event &e : events) {
            if (e.type == Started)
                inside = e.id == id;
            else if (e.type == Progress && inside)
                out.append({ e.done, e.total });
        }
        return out;
    }
    void clear() { events.clear(); }

private:
    void add(Type type, int id, bool error = false, qint64 done = 0, qint64 total = 0, const UrlInfo &info = {})
    {
        Event e;
        e.type = type;
        e.id = id;
        e.error = error;
        e.done = done;
        e.total = total;
        e.info = info;
        e.currentCommand = m_client->currentCommand();
        e.currentId = m_client->currentId();
        events.append(e);
    }

    FtpClient *m_client;
};
