#pragma once

#include <QObject>
#include <QStringList>

// Answers every message box of the window with OK as soon as it shows, and
// keeps "title: text" of each, so that a run never stalls on a modal box
// and a failed run says why.
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser();
    ~MessageBoxCloser() override;

    QStringList boxes() const { return m_boxes; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStringList m_boxes;
};
