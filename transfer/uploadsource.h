#pragma once

#include <QFile>

class QFileInfo;

// An upload's local file. It is opened without waiting, and only a regular
// file is read: a FIFO or device put in the place of a checked file would
// otherwise hold the window in open() until some writer came. The file was
// checked at the click; what stands at its path when the transfer starts
// must still lie inside the set's folder (`setRoot`, canonical; empty: not
// checked), and a link in the last step of the path is not followed.
class UploadSource : public QFile
{
public:
    explicit UploadSource(const QString &path, const QString &setRoot = QString(), QObject *parent = nullptr);

    bool open(OpenMode mode) override;
    // Why the last open() failed, without the file's name.
    QString failureReason() const { return m_failureReason; }

private:
    bool fail(const QString &reason);

    QString m_root;
    QString m_failureReason;
};

// What an entry of a local set folder is to an upload.
struct UploadCandidate
{
    enum Kind {
        File,      // sent: a regular file, or a link to one inside the base folder
        Folder,    // never sent: a folder, or a link to one
        Unsafe,    // not sent: leads outside the base folder, or to no regular file
        Temporary, // a file of this tool's own (a download's leftover, a lock), never part of a set
    };
    Kind kind = Unsafe;
    QString path;   // the file to read: the entry, or the file its link leads to
    qint64 size = 0;
    QString reason; // why an unsafe entry is not sent
};

// `setRoot` is the canonical path of the base folder.
UploadCandidate uploadCandidate(const QFileInfo &entry, const QString &setRoot);
