#pragma once

#include <QString>

// Where the instrument's FTP service is. Field builds use the address and
// port compiled in; tests point it at their own stand-in before connecting.
struct InstrumentEndpoint
{
    QString host;
    quint16 port = 21;
};

InstrumentEndpoint &instrumentEndpoint();
