#pragma once

#include <QString>

// A remote name is used on the PC only when it is a plain file name: it
// cannot climb out of, or point outside, the folder it is written into.
bool isPlainFileName(const QString &name);

// The local path of `name` in `folder` (a relative path with '/' separators,
// empty for the base folder itself) below `base`.
QString localFilePath(const QString &base, const QString &folder, const QString &name);
