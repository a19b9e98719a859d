#include "operations/operationslogging.h"

Q_LOGGING_CATEGORY(lcOperations, "r9.operations", QtInfoMsg)
