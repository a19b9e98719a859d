#pragma once

#include <QLoggingCategory>

// The transfer layer's own account (files that could not be written, kept or
// put in place), apart from the required trace lines (requiredtrace.h).
// Warnings show by default; enable the rest with QT_LOGGING_RULES="r9.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcTransfer)
