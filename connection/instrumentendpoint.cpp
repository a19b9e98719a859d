#include "connection/instrumentendpoint.h"

#ifndef R9_INSTRUMENT_HOST
#define R9_INSTRUMENT_HOST "127.0.0.1"
#endif
#ifndef R9_INSTRUMENT_PORT
#define R9_INSTRUMENT_PORT 21
#endif

InstrumentEndpoint &instrumentEndpoint()
{
    static InstrumentEndpoint endpoint{QStringLiteral(R9_INSTRUMENT_HOST), R9_INSTRUMENT_PORT};
    return endpoint;
}
