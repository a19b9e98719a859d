#pragma once

#include <QString>

class QTcpSocket;

// Command lines as they go out: one byte per character, as QFtp sent them,
// so that a name read from a listing goes back as the very bytes the server
// listed.

// The first character of `text` that cannot go out, 0 for none: one beyond
// Latin-1 has no byte, and a line break would smuggle in a command of its
// own.
char16_t unsendableCharacter(const QString &text);
// "Invalid character in the name (U+20AC)".
QString invalidCharacterText(const QString &what, char16_t c);

// Writes `line` and its CR LF to the connected socket at once, and traces
// it. Emits none of the socket's signals: false when the socket broke off
// meanwhile, which the caller then has to report.
bool writeCommandLine(QTcpSocket *socket, const QString &line);
