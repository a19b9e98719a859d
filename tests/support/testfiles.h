#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Writes `content` to `path`, making the folders above it; a test that
// cannot set up its files stops at once.
void writeFile(const QString &path, const QByteArray &content);
// The whole file, or "<missing>".
QByteArray readFile(const QString &path);

// Bytes fixed by the seed that begin with CR, LF, NUL and their mixtures, so
// that a transfer which touches line ends or NUL bytes shows.
QByteArray randomBytes(qint64 size, quint32 seed);

// Every file below `root`, hidden ones included, relative to it, sorted.
QStringList filesBelow(const QString &root);
// The names in a folder, hidden ones included, sorted.
QStringList namesIn(const QString &folder);

// Every file below a folder with its content; special files (FIFOs,
// sockets, devices) are left out.
using FileTree = QMap<QString, QByteArray>;
FileTree readTree(const QString &root);
