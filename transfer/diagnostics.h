#pragma once

#include <QLoggingCategory>

// The engine's own diagnostics, apart from the required trace lines
// (requiredtrace.h). Enable with QT_LOGGING_RULES="r9.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcTransfer)
Q_DECLARE_LOGGING_CATEGORY(lcOperations)
