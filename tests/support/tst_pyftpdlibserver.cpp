#include "pyftpdlibserver.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class TestPyftpdlibServer : public QObject
{
    Q_OBJECT

private slots:
    void servesTheFolderOnLoopback();
    void endsWhenItsInputCloses();
    void reportsAFolderItCannotServe();

private:
    static QByteArray exchange(QTcpSocket &socket, const QByteArray &line);
};

QByteArray TestPyftpdlibServer::exchange(QTcpSocket &socket, const QByteArray &line)
{
    if (!line.isEmpty())
        socket.write(line + "\r\n");
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(10000))
        reply += socket.readAll();
    return reply;
}

void TestPyftpdlibServer::servesTheFolderOnLoopback()
{
    QString why;
    if (!PyftpdlibServer::isAvailable(&why))
        QFAIL(qPrintable(why));
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("DATA"));
    PyftpdlibServer server;
    server.setCredentials("tester", "secret word");
    QVERIFY2(server.start(root.path()), qPrintable(server.errorString()));
    QCOMPARE(server.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(server.port() > 0);

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(10000));
    QVERIFY(exchange(socket, QByteArray()).startsWith("220"));
    QVERIFY(exchange(socket, "USER tester").startsWith("331"));
    QVERIFY(exchange(socket, "PASS secret word").startsWith("230"));
    QVERIFY(exchange(socket, "CWD DATA").startsWith("250"));
    QVERIFY(exchange(socket, "CWD NOPE").startsWith("550"));
}

void TestPyftpdlibServer::endsWhenItsInputCloses()
{
    QTemporaryDir root;
    PyftpdlibServer server;
    QVERIFY2(server.start(root.path()), qPrintable(server.errorString()));
    const quint16 port = server.port();
    QVERIFY(server.isRunning());
    QVERIFY2(server.stop(), "the server had to be killed");
    QVERIFY(!server.isRunning());

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!socket.waitForConnected(2000));
}

void TestPyftpdlibServer::reportsAFolderItCannotServe()
{
    PyftpdlibServer server;
    QVERIFY(!server.start(QStringLiteral("/nonexistent/folder/for/ftp"), 10000));
    QVERIFY(!server.errorString().isEmpty());
    QVERIFY(!server.isRunning());
}

QTEST_GUILESS_MAIN(TestPyftpdlibServer)
#include "tst_pyftpdlibserver.moc"
