#pragma once

#include <QFile>

// An upload's local file. It is opened without waiting, and only a regular
// file is read: a FIFO or device put in the place of a checked file would
// otherwise hold the window in open() until some writer came. A link in the
// last step of the path is not followed either, since a file swapped for a
// link after it was checked could lead anywhere.
class UploadSource : public QFile
{
public:
    explicit UploadSource(const QString &path, QObject *parent = nullptr);

    bool open(OpenMode mode) override;
};
