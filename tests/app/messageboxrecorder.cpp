#include "tests/app/messageboxrecorder.h"

#include "tests/support/eventwait.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

MessageBoxRecorder::MessageBoxRecorder()
{
    qApp->installEventFilter(this);
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    qApp->removeEventFilter(this);
}

QStringList MessageBoxRecorder::texts() const
{
    QStringList texts;
    for (const Box &box : m_boxes)
        texts << box.title + QStringLiteral(": ") + box.text;
    return texts;
}

bool MessageBoxRecorder::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            m_boxes.append({box->windowTitle(), box->text()});
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
        }
    }
    return QObject::eventFilter(watched, event);
}

char *toString(const MessageBoxRecorder::Box &box)
{
    return QTest::toString(QStringLiteral("[%1] %2").arg(box.title, box.text));
}
