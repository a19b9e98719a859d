#pragma once

#include "bench/tool/resourcemeter.h"

#include <QObject>
#include <QString>

class QPushButton;
class R9_update;

// Works the real window as a technician does (local folder, Connect, one
// operation button) and follows the FTP client while the operation runs:
// the files and bytes moved, the open files while transfers move bytes,
// and whether the window reported the operation complete.
class WindowDriver : public QObject
{
    Q_OBJECT

public:
    struct Measurement {
        bool finished = false;   // the operation's result came within the time limit
        bool clientError = false;
        bool completed = false;  // the result is the operation's completion
        double seconds = 0;      // from the click to the result, the files on disk
        int files = 0;
        qint64 bytes = 0;
        int peakOpenFiles = 0;
    };

    explicit WindowDriver(R9_update *window);

    // True once the listing walk has enabled the operation buttons.
    bool connectToInstrument(const QString &localFolder, int timeoutMs, double *seconds);
    Measurement runOperation(const QString &buttonName, const QString &completedText, int timeoutMs);

private:
    QPushButton *button(const QString &objectName) const;
    // Presses the button and runs the event loop until it has ended.
    bool clickAndWaitForDone(QPushButton *pressed, int timeoutMs, double *seconds, bool *error);
    void onCommandStarted();
    void onProgress(qint64 done);
    void onCommandFinished(bool error);

    R9_update *m_window;
    ResourceMeter m_meter;
    Measurement m_measurement;
    QString m_completedText;
    bool m_measuring = false;
    bool m_inTransfer = false;
    bool m_completed = false;
    qint64 m_sampleAtBytes = 0; // look at the open files once a transfer has moved this much
    qint64 m_transferBytes = 0;
};
