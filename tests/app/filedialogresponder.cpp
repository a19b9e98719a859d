#include "filedialogresponder.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QTimer>

FileDialogResponder::FileDialogResponder(const QString &folder)
    : m_folder(folder)
{
    qApp->installEventFilter(this);
}

FileDialogResponder::~FileDialogResponder()
{
    qApp->removeEventFilter(this);
}

bool FileDialogResponder::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *dialog = qobject_cast<QFileDialog *>(watched)) {
            ++m_answered;
            m_lastHadParent = dialog->parentWidget() != nullptr;
            const QString folder = m_folder;
            QTimer::singleShot(0, dialog, [dialog, folder] {
                if (folder.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->setDirectory(folder);
                    dialog->selectFile(folder);
                    static_cast<QDialog *>(dialog)->accept();
                }
            });
        }
    }
    return QObject::eventFilter(watched, event);
}
