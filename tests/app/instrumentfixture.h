#pragma once

#include "tests/app/messageboxrecorder.h"
#include "tests/support/testfiles.h"

#include "app/r9_update.h"
#include "sim/instrumentserver.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// One scenario of the real window against a stand-in instrument on
// 127.0.0.1: fresh shared state, a fresh FTP client, an instrument folder and
// a local folder of its own.
class InstrumentFixture
{
public:
    InstrumentFixture();
    ~InstrumentFixture();

    InstrumentServer server;
    QTemporaryDir instrumentDir;
    QTemporaryDir localDir;
    MessageBoxRecorder boxes;
    std::unique_ptr<R9_update> window;

    QPushButton *button(const char *objectName) const;
    QLabel *disp() const;
    QLineEdit *localpath() const;
    QProgressBar *bar() const;
    // Enabled or not, the six buttons in form order: Connect, Disconnect,
    // Update, Clone, Data Backup, Data Restore.
    QList<bool> buttonStates() const;
    // The engine's transfer state.
    const TransferTracker &state() const;
    // The results of the operations run so far, in order.
    QList<OperationResult> results;

    // Connect pressed with the local folder set; true when the walk has run
    // to its end without an error.
    bool connectAndWalk();
    // Presses a button and waits for its end: the walk's, or the
    // operation's result.
    bool clickAndWaitForDone(const char *objectName, int timeoutMs = 60000);
    // Waits for the end of what runs: the operation's result, else the
    // client's queue run empty.
    bool waitForDone(int timeoutMs = 60000);
    bool waitForUnconnected(int timeoutMs = 20000);

    // The stand-in's log reduced to the commands the tool chooses (folder
    // changes, listings, transfers, folder creations, login and quit),
    // without the plumbing each transfer needs (TYPE, PASV, SIZE...).
    QStringList toolCommands() const;

    QString instrumentPath(const QString &relative) const;
    QString localPath(const QString &relative) const;

private:
    int m_doneCount = 0;
    bool m_walking = false;
};

// Records every text the label is given: the end messages show only until
// the closing connection's states replace them.
class LabelTrace : public QObject
{
public:
    explicit LabelTrace(const InstrumentFixture &fixture);
    QStringList texts;
};
