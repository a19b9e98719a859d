#pragma once

#include "ftpclient.h"

#include <QList>
#include <QEventLoop>
#include <QObject>
#include <QTest>
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
        int id = 0;          // Started, Finished
        bool error = false;  // Finished, Done
        int state = 0;       // State
        qint64 done = 0;     // Progress
        qint64 total = 0;    // Progress
        UrlInfo info;        // Entry
        FtpClient::Command currentCommand = FtpClient::None;
        int currentId = 0;
    };

    explicit ClientRecorder(FtpClient *client)
        : m_client(client)
    {
        connect(client, &FtpClient::stateChanged, this, [this](int s) {
            Event e = make(State);
            e.state = s;
            add(e);
        });
        connect(client, &FtpClient::commandStarted, this, [this](int id) {
            Event e = make(Started);
            e.id = id;
            add(e);
        });
        connect(client, &FtpClient::commandFinished, this, [this](int id, bool error) {
            Event e = make(Finished);
            e.id = id;
            e.error = error;
            add(e);
        });
        connect(client, &FtpClient::done, this, [this](bool error) {
            Event e = make(Done);
            e.error = error;
            add(e);
        });
        connect(client, &FtpClient::dataTransferProgress, this, [this](qint64 done, qint64 total) {
            Event e = make(Progress);
            e.done = done;
            e.total = total;
            add(e);
        });
        connect(client, &FtpClient::listInfo, this, [this](const UrlInfo &info) {
            Event e = make(Entry);
            e.info = info;
            add(e);
        });
    }

    QList<Event> events;

    // Waits until `count` done() signals have come in all, running the
    // event loop meanwhile.
    bool waitForDone(int count = 1, int timeout = 30000)
    {
        if (doneCount() >= count)
            return true;
        QEventLoop loop;
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        const auto connection = connect(m_client, &FtpClient::done, &loop, [&] {
            if (doneCount() >= count)
                loop.quit();
        });
        loop.exec();
        disconnect(connection);
        return doneCount() >= count;
    }

    int doneCount() const { return countOf(Done); }
    int countOf(Type type) const
    {
        int n = 0;
        for (const Event &e : events)
            n += e.type == type;
        return n;
    }
    QList<Event> ofType(Type type) const
    {
        QList<Event> out;
        for (const Event &e : events) {
            if (e.type == type)
                out.append(e);
        }
        return out;
    }
    QList<int> states() const
    {
        QList<int> out;
        for (const Event &e : ofType(State))
            out.append(e.state);
        return out;
    }
    QList<int> startedIds() const
    {
        QList<int> out;
        for (const Event &e : ofType(Started))
            out.append(e.id);
        return out;
    }
    QList<int> finishedIds() const
    {
        QList<int> out;
        for (const Event &e : ofType(Finished))
            out.append(e.id);
        return out;
    }
    bool finishedWithError(int id) const
    {
        for (const Event &e : ofType(Finished)) {
            if (e.id == id)
                return e.error;
        }
        return false;
    }
    QStringList entryNames() const
    {
        QStringList out;
        for (const Event &e : ofType(Entry))
            out.append(e.info.name());
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
    static Event make(Type type)
    {
        Event e;
        e.type = type;
        return e;
    }
    void add(Event e)
    {
        e.currentCommand = m_client->currentCommand();
        e.currentId = m_client->currentId();
        events.append(e);
    }

    FtpClient *m_client;
};
