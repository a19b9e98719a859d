#pragma once

#include "transfer/transferrecord.h"

#include <QFile>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class FtpClient;

// One file of the instrument or of the PC's folder, set side by side.
struct ComparedFile
{
    enum State { Same, Differs, OnlyOnInstrument, OnlyOnPc };
    // A size of a side that has no such file; -1 is a listed size too large.
    static constexpr qint64 absent = -2;

    QString folder;       // the walk's tag: "DATA/IPA_BD1" ... "ROOT"
    QString name;
    qint64 instrumentSize = absent;
    qint64 pcSize = absent;
    State state = Same;
    QString detail;       // why it differs when the sizes agree
    QString localPath;    // empty when the PC has no such file
};

QString stateText(ComparedFile::State state);

// The walk's files against a folder laid out as Clone writes it (the four
// folders below `base`, the top folder's files directly in it), by folder in
// walk order, then by name. Equal sizes count as the same here. Only reads.
QList<ComparedFile> compareFiles(const QList<RemoteEntry> &remote, const QString &base);

// A download's device that stores nothing: it compares each piece as it
// arrives with the same bytes of the PC's file, so that a file of any size
// is checked in little memory and nothing is written anywhere.
class ContentCheck : public QIODevice
{
public:
    explicit ContentCheck(const QString &localPath, QObject *parent = nullptr);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }

    qint64 received() const { return m_received; }
    // The offset of the first byte that differs; -1 while none does.
    qint64 firstDifference() const { return m_firstDifference; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    QFile m_local;
    qint64 m_received = 0;
    qint64 m_firstDifference = -1;
    QByteArray m_buffer;
};

// Fetches the instrument's copy of each file whose sizes agree and marks it
// as differing when a byte does. Only folder changes and downloads are sent.
class ContentComparison : public QObject
{
    Q_OBJECT

public:
    ContentComparison(FtpClient *client, QList<ComparedFile> *files, QObject *parent = nullptr);
    ~ContentComparison() override;

    // Queues the fetches, folder by folder from the top folder, and returns
    // how many there are.
    int queue();
    // A fetch the server ended early without an error; empty when none did.
    QString failure() const { return m_failure; }

signals:
    void fileStarted(int number, int count, const QString &name);
    // Bytes of all fetches.
    void progressChanged(qint64 done, qint64 total);

private:
    struct Fetch
    {
        int file;                    // index into *m_files
        int number;                  // 1 for the first fetch
        qint64 bytesBefore;          // of the fetches before this one
        std::unique_ptr<ContentCheck> check;
    };

    void onStarted(int commandId);
    void onProgress(qint64 done);
    void onFinished(int commandId, bool error);

    FtpClient *m_client;
    QList<ComparedFile> *m_files;
    std::map<int, Fetch> m_fetches;
    const Fetch *m_current = nullptr;
    int m_count = 0;
    qint64 m_bytesTotal = 0;
    QString m_failure;
};
