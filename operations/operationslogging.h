#pragma once

#include <QLoggingCategory>

// The operations layer's own account: what a plan leaves out or refuses, and
// why. Warnings show by default; enable the rest with QT_LOGGING_RULES="r9.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcOperations)
