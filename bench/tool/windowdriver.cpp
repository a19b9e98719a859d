#include "bench/tool/windowdriver.h"

#include "app/r9_update.h"
#include "ftp/ftpclient.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <limits>

WindowDriver::WindowDriver(R9_update *window)
    : m_window(window)
{
    // Connected after the window's own slots, so each of these sees the
    // window's state once it has handled the same signal.
    connect(ftpClient, &FtpClient::commandStarted, this, &WindowDriver::onCommandStarted);
    connect(ftpClient, &FtpClient::dataTransferProgress, this,
            [this](qint64 done, qint64) { onProgress(done); });
    connect(ftpClient, &FtpClient::commandFinished, this,
            [this](int, bool error) { onCommandFinished(error); });
}

QPushButton *WindowDriver::button(const QString &objectName) const
{
    return m_window->findChild<QPushButton *>(objectName);
}

bool WindowDriver::connectToInstrument(const QString &localFolder, int timeoutMs, double *seconds)
{
    auto *localpath = m_window->findChild<QLineEdit *>(QStringLiteral("localpath"));
    QPushButton *connectButton = button(QStringLiteral("connectbotton"));
    if (!localpath || !connectButton)
        return false;
    localpath->setText(localFolder);
    bool error = false;
    if (!clickAndWaitForDone(connectButton, timeoutMs, seconds, &error) || error)
        return false;
    QPushButton *ready = button(QStringLiteral("BackupBotton"));
    return ready && ready->isEnabled();
}

WindowDriver::Measurement WindowDriver::runOperation(const QString &buttonName, const QString &completedText,
                                                     int timeoutMs)
{
    m_measurement = Measurement();
    m_completedText = completedText;
    QPushButton *pressed = button(buttonName);
    if (!pressed || !pressed->isEnabled())
        return m_measurement;
    m_meter.restartOpenFilesPeak();
    m_measuring = true;
    double seconds = 0;
    bool error = false;
    m_measurement.finished = clickAndWaitForDone(pressed, timeoutMs, &seconds, &error);
    m_measuring = false;
    m_measurement.completed = m_completed;
    m_measurement.seconds = seconds;
    m_measurement.clientError = error;
    m_measurement.peakOpenFiles = m_meter.peakOpenFiles();
    return m_measurement;
}

// Connect ends with the walk (the client's queue run empty); an operation
// with its result, once its files are on disk.
bool WindowDriver::clickAndWaitForDone(QPushButton *pressed, int timeoutMs, double *seconds, bool *error)
{
    QEventLoop loop;
    QElapsedTimer clock;
    bool endSeen = false;
    const bool walk = pressed->objectName() == QLatin1String("connectbotton");
    m_completed = false;
    const auto ended = [&](bool failed) {
        *seconds = clock.nsecsElapsed() / 1e9;
        *error = failed;
        endSeen = true;
        loop.quit();
    };
    const QMetaObject::Connection onEnd = walk
        ? connect(ftpClient, &FtpClient::done, &loop, ended)
        : connect(m_window->session(), &InstrumentSession::operationFinished, &loop,
                  [&](const OperationResult &result) {
                      m_completed = result.kind == OperationResult::Completed && result.text == m_completedText;
                      ended(result.kind == OperationResult::Failed);
                  });
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);

    clock.start();
    pressed->click();
    if (!endSeen)
        loop.exec();
    disconnect(onEnd);
    return endSeen;
}

void WindowDriver::onCommandStarted()
{
    const FtpClient::Command command = ftpClient->currentCommand();
    m_inTransfer = command == FtpClient::Get || command == FtpClient::Put;
    if (!m_measuring || !m_inTransfer)
        return;
    ++m_measurement.files;
    m_transferBytes = 0;
    // The local file and the data connection are open once bytes move.
    // Looking costs five system calls, as much as a small file's transfer
    // takes in all: one look in 16 transfers still shows a leak, which grows
    // with every transfer, and every large file is looked at once.
    m_sampleAtBytes = m_measurement.files % 16 == 1 ? 0 : qint64(1) << 20;
}

void WindowDriver::onProgress(qint64 done)
{
    if (!m_measuring)
        return;
    m_transferBytes = done;
    if (done >= m_sampleAtBytes) {
        m_sampleAtBytes = std::numeric_limits<qint64>::max();
        m_meter.sampleOpenFiles();
    }
}

void WindowDriver::onCommandFinished(bool error)
{
    if (!m_measuring || !m_inTransfer)
        return;
    m_inTransfer = false;
    if (!error)
        m_measurement.bytes += m_transferBytes;
}
