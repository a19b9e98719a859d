#include "ftp/commandlines.h"

#include "ftp/ftplogging.h"

#include <QSignalBlocker>
#include <QTcpSocket>

#if defined(Q_OS_UNIX)
#include <sys/socket.h>
#include <sys/types.h>
#endif

char16_t unsendableCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return c.unicode();
    }
    return 0;
}

QString invalidCharacterText(const QString &what, char16_t c)
{
    return QStringLiteral("Invalid character in the %1 (U+%2)")
            .arg(what, QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

bool writeCommandLine(QTcpSocket *socket, const QString &line)
{
    // The password stays out of the trace.
    qCDebug(lcFtp).noquote() << "->" << (line.startsWith(QLatin1String("PASS ")) ? QStringLiteral("PASS ****") : line);
    // Arguments were checked by unsendableCharacter(): one byte each.
    const QByteArray bytes = line.toLatin1() + "\r\n";
    qint64 sent = 0;
#if defined(Q_OS_UNIX)
    // Straight to the system while the socket holds nothing back: a buffered
    // write switches the socket's write notifier on and off again, two
    // event-loop wake-ups per command. What the system does not take goes
    // through the socket as usual, after what was sent; an error is left to
    // the socket to find.
    if (socket->bytesToWrite() == 0) {
        const ssize_t n = ::send(int(socket->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent = n;
    }
#endif
    if (sent < bytes.size()) {
        // One write per command, sent at once. A write that fails makes the
        // socket abort and report it; not in here, where no slot may run.
        const QSignalBlocker quiet(socket);
        if (socket->write(bytes.constData() + sent, bytes.size() - sent) < 0)
            return false;
        socket->flush();
    }
    return socket->state() == QAbstractSocket::ConnectedState;
}
