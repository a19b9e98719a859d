#include "bench/tool/messageboxcloser.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

MessageBoxCloser::MessageBoxCloser()
{
    qApp->installEventFilter(this);
}

MessageBoxCloser::~MessageBoxCloser()
{
    qApp->removeEventFilter(this);
}

bool MessageBoxCloser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            m_boxes.append(box->windowTitle() + QStringLiteral(": ") + box->text());
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
        }
    }
    return QObject::eventFilter(watched, event);
}
