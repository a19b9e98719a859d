#pragma once

#include <QString>

// Whether Windows can keep a file of this name, as the name it was given:
// not a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or
// without an extension), no trailing dot or blank (Windows drops them and
// writes another name), none of <>:"/\|?* nor a control character, and no
// longer than a name may be. `name` is one plain file name, no path.
//
// Full paths are not limited: Qt and the tool's own calls address files
// with the long-path prefix (\\?\), which takes paths past 260 characters.
bool windowsCanHold(const QString &name);

// `path` (absolute, either separator) as the Win32 calls take it past 260
// characters: "\\?\C:\..." or "\\?\UNC\server\share\...".
QString extendedLengthPath(const QString &path);
