#include "connection/connectionlogging.h"

Q_LOGGING_CATEGORY(lcConnection, "r9.connection", QtInfoMsg)
