#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Every file below a folder, by path relative to it ('/' separators), with
// its content: what a scenario compares before and after the tool ran.
using FileTree = QMap<QString, QByteArray>;

FileTree readTree(const QString &root);

// The names in a folder, hidden ones included, sorted.
QStringList namesIn(const QString &folder);

// Writes `content` to `path`, making the folders above it.
void writeFile(const QString &path, const QByteArray &content);

// Bytes that differ from file to file and between `salt`s, with line ends
// and NUL bytes that must pass untouched.
QByteArray contentFor(const QString &path, int size, const QString &salt);
