#pragma once

#include <QFile>
#include <QIODevice>

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
    // Why the PC's file could not be read; empty when it could.
    QString localError() const { return m_localError; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    QFile m_local;
    qint64 m_received = 0;
    qint64 m_firstDifference = -1;
    QString m_localError;
    QByteArray m_buffer;
};
