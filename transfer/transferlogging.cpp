#include "transfer/transferlogging.h"

Q_LOGGING_CATEGORY(lcTransfer, "r9.transfer", QtInfoMsg)
