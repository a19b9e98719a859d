#pragma once

#include <QString>

// A remote name is used on the PC only when it is a plain file name: it
// cannot climb out of, or point outside, the folder it is written into.
bool isPlainFileName(const QString &name);

// The local path of `name` in `folder` (a relative path with '/' separators,
// empty for the base folder itself) below `base`.
QString localFilePath(const QString &base, const QString &folder, const QString &name);

// Whether the file system of `folder` takes "ABC" and "abc" for one name.
// Found by trying, since it depends on the file system, not the platform.
bool folderIgnoresCase(const QString &folder);

// Whether `name` is one of this tool's own files in a local folder: a
// download's temporary file (perhaps a killed run's leftover) or a run's
// lock. None is ever part of a set: none is sent, counted or compared.
bool isOwnFileName(const QString &name);

// A refusal of the local folder or file at `path`: why, then where, on a
// line of its own in the platform's notation.
QString pathRefusal(const QString &why, const QString &path);

// `name` fit to be shown to the technician: control characters, which a
// hostile listing may hold, are shown as '?'.
QString printableName(QString name);
