#include "transfer/diagnostics.h"

Q_LOGGING_CATEGORY(lcTransfer, "r9.transfer")
Q_LOGGING_CATEGORY(lcOperations, "r9.operations")
