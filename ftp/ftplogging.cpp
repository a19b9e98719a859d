#include "ftp/ftplogging.h"

Q_LOGGING_CATEGORY(lcFtp, "r9.ftp", QtInfoMsg)
