#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Records every message box the window shows, title and text, and closes it
// with OK, so that a scenario can assert exactly which boxes appeared.
class MessageBoxRecorder : public QObject
{
public:
    struct Box {
        QString title;
        QString text;
        bool operator==(const Box &other) const { return title == other.title && text == other.text; }
    };

    MessageBoxRecorder();
    ~MessageBoxRecorder() override;

    QList<Box> boxes() const { return m_boxes; }
    // "title: text" of every box, for comparisons that print what was shown.
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<Box> m_boxes;
};

char *toString(const MessageBoxRecorder::Box &box);
