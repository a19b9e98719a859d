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

// As the window's buttons name it.
inline const char *operationName(Operation operation)
{
    switch (operation) {
    case Operation::DataBackup: return "Data Backup(PC)";
    case Operation::Clone: return "Clone R9(on PC)";
    case Operation::DataRestore: return "Data Restore";
    case Operation::Update: return "Update/Restore";
    case Operation::Compare: return "Compare";
    }
    return "";
}

Q_DECLARE_METATYPE(Operation)
