#pragma once

#include <QLoggingCategory>

// The engine's own account of a connection and its operations, apart from
// the required trace lines. Enable with QT_LOGGING_RULES="r9.*.debug=true"
// (the command line's --verbose does).
Q_DECLARE_LOGGING_CATEGORY(lcConnection)
