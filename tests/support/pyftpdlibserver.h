#pragma once

#include <QProcess>
#include <QString>

// Runs Debian's pyftpdlib FTP server (python3-pyftpdlib, through
// /usr/bin/python3) on a free port of 127.0.0.1, serving a folder, for the
// lifetime of this object. The server also ends by itself when the test
// process dies, and after 15 minutes in any case.
class PyftpdlibServer
{
public:
    PyftpdlibServer();
    ~PyftpdlibServer();

    // True when /usr/bin/python3 can import pyftpdlib; otherwise *why says
    // what is missing.
    static bool isAvailable(QString *why = nullptr);
    static QString scriptPath();

    // Refuses EPSV (500), as older servers do.
    void setExtendedPassiveRefused(bool refused) { m_noEpsv = refused; }
    // Takes "CWD  .." (a blank, two dots) back to the top folder, as the
    // instrument does, so that the tool's own folder changes work.
    void setTopFolderChange(bool on) { m_topFolderCd = on; }

    // Starts the server and waits (at most timeoutMsecs) until it listens.
    bool start(const QString &rootPath, int timeoutMsecs = 15000);
    // Closes the server's standard input and waits for it to end; kills it
    // if it has not ended after 5 s.
    void stop();

    quint16 port() const { return m_port; }
    QString userName() const { return m_userName; }
    QString password() const { return m_password; }
    QString errorString() const { return m_error; }

private:
    QProcess m_process;
    QString m_userName = QStringLiteral("root");
    QString m_password = QStringLiteral("+00417263850");
    QString m_error;
    quint16 m_port = 0;
    bool m_noEpsv = false;
    bool m_topFolderCd = false;
};
