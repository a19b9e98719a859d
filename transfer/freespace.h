#pragma once

#include <QString>

// The bytes this user may still write on the file system that holds
// `folder`, or -1 when it cannot be told (no such folder).
qint64 freeBytes(const QString &folder);
