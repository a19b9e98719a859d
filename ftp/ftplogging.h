#pragma once

#include <QLoggingCategory>

// The client's protocol trace: every command line sent, the password
// masked, and every reply received. Off unless asked for, as in
// QT_LOGGING_RULES="r9.ftp.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcFtp)
