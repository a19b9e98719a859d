#pragma once

#include <QObject>
#include <QString>

// Answers the folder dialog the window opens: chooses `folder`, or cancels
// when it is empty. Counts the dialogs it has answered.
class FileDialogResponder : public QObject
{
public:
    explicit FileDialogResponder(const QString &folder = QString());
    ~FileDialogResponder() override;

    int dialogsAnswered() const { return m_answered; }
    bool lastHadParent() const { return m_lastHadParent; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_folder;
    int m_answered = 0;
    bool m_lastHadParent = false;
};
