#pragma once

#include <QMetaType>

// What the tool does with the instrument once it is connected: the four
// buttons, and the command line's read-only comparison.
enum class Operation { DataBackup, Clone, DataRestore, Update, Compare };

inline bool isDownload(Operation operation)
{
    return operation == Operation::DataBackup || operation == Operation::Clone;
}

inline bool isUpload(Operation operation)
{
    return operation == Operation::DataRestore || operation == Operation::Update;
}

Q_DECLARE_METATYPE(Operation)
