#include "connection/operationresult.h"

QString incompleteTextOf(Operation operation)
{
    return isDownload(operation) ? QStringLiteral("Backup Incomplete") : QStringLiteral("File Update Incomplete");
}

QString summaryOf(const OperationResult &result)
{
    const QString files = result.count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(result.count);
    const QString missing = QStringLiteral(" · %1 of %2 missing").arg(result.missing).arg(files);
    switch (result.kind) {
    case OperationResult::Completed:
        return result.text + QStringLiteral(" · ") + files
             + (result.note.isEmpty() ? QString() : QStringLiteral(" · ") + result.note);
    case OperationResult::Incomplete:
    case OperationResult::Failed:
        return incompleteTextOf(result.operation) + missing;
    case OperationResult::Stopped:
        return QStringLiteral("Interrupted") + missing;
    case OperationResult::Refused:
        break;
    }
    return result.text.section(u'\n', 0, 0);
}
