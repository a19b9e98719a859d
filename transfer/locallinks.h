#pragma once

class QFileInfo;

// Whether `entry` leads elsewhere: a symbolic link, and on Windows also a
// junction or any other reparse point, which Qt does not all report as
// links. A Windows shortcut (.lnk) is a file like any other.
bool isLink(const QFileInfo &entry);
