#pragma once

#include <QStringView>
#include <QtGlobal>

// The data port a server names in its reply to PASV (227) or EPSV (229).
// Only the port is taken: data connections always go to the control
// connection's peer, so a server cannot point the client elsewhere.

// Finds six comma-separated numbers anywhere in the text, "h1,h2,h3,h4,p1,p2",
// each 0..255. Returns false when there are none or the port is 0.
bool parsePassiveReply(QStringView text, quint16 *port);

// Finds "(<d><d><d>port<d>)" with any printable delimiter <d> (RFC 2428).
bool parseExtendedPassiveReply(QStringView text, quint16 *port);
