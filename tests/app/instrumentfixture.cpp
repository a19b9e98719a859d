#include "tests/app/instrumentfixture.h"

#include "tests/support/eventwait.h"

#include "connection/instrumentendpoint.h"
#include "ftp/ftpclient.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

InstrumentFixture::InstrumentFixture()
{
    delete ftpClient;
    ftpClient = new FtpClient;
    // Generous for a loaded 2-core machine, yet no scenario can hang.
    ftpClient->setConnectTimeout(10000);
    ftpClient->setIdleTimeout(10000);

    server.setRootPath(instrumentDir.path());
    if (!server.listen(0))
        qFatal("stand-in did not start: %s", qPrintable(server.errorString()));
    instrumentEndpoint() = {QStringLiteral("127.0.0.1"), server.serverPort()};

    window = std::make_unique<R9_update>();
    window->show();
    QObject::connect(ftpClient, &FtpClient::done, [this] { ++m_doneCount; });
    QObject::connect(window->session(), &InstrumentSession::operationFinished,
                     [this](const OperationResult &result) { results << result; });
}

InstrumentFixture::~InstrumentFixture()
{
    window.reset();
    delete ftpClient;
    ftpClient = new FtpClient;
    server.close();
}

QPushButton *InstrumentFixture::button(const char *objectName) const
{
    return window->findChild<QPushButton *>(QString::fromLatin1(objectName));
}

QLabel *InstrumentFixture::disp() const
{
    return window->findChild<QLabel *>(QStringLiteral("disp"));
}

QLineEdit *InstrumentFixture::localpath() const
{
    return window->findChild<QLineEdit *>(QStringLiteral("localpath"));
}

QProgressBar *InstrumentFixture::bar() const
{
    return window->findChild<QProgressBar *>(QStringLiteral("FtpBar"));
}

QList<bool> InstrumentFixture::buttonStates() const
{
    QList<bool> states;
    for (const char *name : {"connectbotton", "deconbotton", "updateButton", "BackupBotton", "BackupBotton_2",
                             "BackupBotton_3"})
        states << button(name)->isEnabled();
    return states;
}

bool InstrumentFixture::connectAndWalk()
{
    if (localpath()->text().isEmpty())
        localpath()->setText(localDir.path());
    const int boxesBefore = boxes.boxes().size();
    if (!clickAndWaitForDone("connectbotton", 30000))
        return false;
    return boxes.boxes().size() == boxesBefore && button("BackupBotton")->isEnabled();
}

bool InstrumentFixture::clickAndWaitForDone(const char *objectName, int timeoutMs)
{
    const int doneBefore = m_doneCount;
    const qsizetype resultsBefore = results.size();
    QPushButton *pressed = button(objectName);
    if (!pressed || !pressed->isEnabled())
        return false;
    pressed->click();
    if (qstrcmp(objectName, "connectbotton") == 0)
        return waitUntil([&] { return m_doneCount > doneBefore; }, timeoutMs);
    return waitUntil([&] { return results.size() > resultsBefore; }, timeoutMs);
}

bool InstrumentFixture::waitForDone(int timeoutMs)
{
    return waitUntil([&] {
        return !window->session()->isOperationRunning() && !ftpClient->hasPendingCommands()
            && ftpClient->currentCommand() == FtpClient::None;
    }, timeoutMs);
}

bool InstrumentFixture::waitForUnconnected(int timeoutMs)
{
    return waitUntil([&] { return ftpClient->state() == FtpClient::Unconnected; }, timeoutMs);
}

QStringList InstrumentFixture::toolCommands() const
{
    static const QStringList chosen = {"USER", "PASS", "CWD", "LIST", "RETR", "STOR", "MKD", "QUIT"};
    QStringList lines;
    for (const InstrumentServer::LoggedCommand &command : server.commandLog()) {
        if (chosen.contains(command.verb))
            lines << command.line;
    }
    return lines;
}

QString InstrumentFixture::instrumentPath(const QString &relative) const
{
    return instrumentDir.filePath(relative);
}

QString InstrumentFixture::localPath(const QString &relative) const
{
    return localDir.filePath(relative);
}

LabelTrace::LabelTrace(const InstrumentFixture &fixture)
{
    QObject::connect(fixture.window->session(), &InstrumentSession::labelChanged, this,
                     [this](const QString &text) { texts << text; });
}

const TransferTracker &InstrumentFixture::state() const
{
    return window->session()->tracker();
}
