#pragma once

#include <QDebug>
#include <QString>

// The debug lines the tool has always written, word for word: service
// scripts read them, so their words and spacing stay as they are. They go
// through the default category on purpose; every other diagnostic of the
// tool goes through the categories of diagnostics.h.
namespace RequiredTrace {

inline void stateChanged(int state) { qDebug() << "io sono lo stato: " << state; }
inline void folderDialogOpened() { qDebug() << "ciao"; }
inline void listingEntry(const QString &name, int listCount) { qDebug() << "dolist" << name << listCount; }
inline void listingStarted(int listCountBefore) { qDebug() << listCountBefore; }
inline void transferStarting(int transferIndex) { qDebug() << transferIndex << " Prima"; }
inline void transferName(const QString &name) { qDebug() << name; }
inline void transferStarted(int transferIndex) { qDebug() << transferIndex << " Dopo"; }
// The expected size goes out as the floating-point number it always was.
inline void progress(qint64 expectedSize, qint64 done) { qDebug() << "lista " << double(expectedSize) << "Done " << done; }
inline void downloadFinished(const QString &name) { qDebug() << name; }

} // namespace RequiredTrace
