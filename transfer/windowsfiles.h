#pragma once

#include <QString>

// What the staged downloads and the folder checks need of Windows itself,
// every path absolute and addressed past 260 characters.
namespace WindowsFiles {

// Writes the file's data through to the disk (FlushFileBuffers).
bool flush(const QString &path);

// Puts `from` in place of `to` in one step and returns once the new name is
// on disk (MoveFileExW, replacing, written through).
bool replace(const QString &from, const QString &to);

// The hidden attribute: a leading dot hides nothing on Windows.
void setHidden(const QString &path, bool hidden);

// A symbolic link, a junction or any other reparse point: the entry leads
// elsewhere, whatever Qt makes of it.
bool isReparsePoint(const QString &path);

// The bytes this user may still write on the disk of `folder`; -1 unknown.
qint64 freeBytes(const QString &folder);

} // namespace WindowsFiles
