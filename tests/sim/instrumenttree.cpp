#include "instrumenttree.h"

#include <QDir>
#include <QFile>

InstrumentTree::InstrumentTree()
{
    if (!m_dir.isValid())
        return;
    QDir base(m_dir.path());
    for (const char *folder : { "root/DATA/IPA_BD1", "root/DATA/IPS_BD1", "root/TEXT", "root/FONTS", "outside" }) {
        if (!base.mkpath(QString::fromLatin1(folder)))
            return;
    }
    m_valid = write(QStringLiteral("DATA/IPA_BD1/A.DAT"), binary(5000, 1))
           && write(QStringLiteral("DATA/IPA_BD1/B.DAT"), binary(777, 2))
           && write(QStringLiteral("DATA/IPS_BD1/C.DAT"), binary(3000, 3))
           && write(QStringLiteral("TEXT/X.TXT"), "first\nsecond\r\nthird\n")
           && write(QStringLiteral("FONTS/F.FNT"), binary(2048, 4))
           && write(QStringLiteral("INIE91.CFG"), "[SYSTEM]\r\nSERIAL=R9000001\r\n")
           && write(QStringLiteral("INIE91.FLS"), "A.DAT\r\nB.DAT\r\n")
           && write(QStringLiteral("COMMANDS.TXT"), "ZERO\r\nTARE\r\n")
           && write(QStringLiteral("R9DIGIT"), binary(1024, 5))
           && write(QStringLiteral("EMPTY.BIN"), QByteArray())
           && write(QStringLiteral(".hidden"), "h")
           && QFile(outside() + QStringLiteral("/secret.txt")).open(QIODevice::WriteOnly)
           && QFile::link(outside(), path(QStringLiteral("DATA/ESCAPE")))
           && QFile::link(outside() + QStringLiteral("/secret.txt"), path(QStringLiteral("LEAK.TXT")))
           && QFile::link(path(QStringLiteral("DATA/IPA_BD1")), path(QStringLiteral("INSIDE")));
}

QString InstrumentTree::root() const
{
    return m_dir.path() + QStringLiteral("/root");
}

QString InstrumentTree::outside() const
{
    return m_dir.path() + QStringLiteral("/outside");
}

QString InstrumentTree::path(const QString &relative) const
{
    return root() + QLatin1Char('/') + relative;
}

QByteArray InstrumentTree::content(const QString &relative) const
{
    QFile file(path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

bool InstrumentTree::write(const QString &relative, const QByteArray &content) const
{
    QFile file(path(relative));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray InstrumentTree::binary(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    const QByteArray awkward("\r\n\0\r\n\n\r\0", 8);
    for (int i = 0; i < awkward.size() && i < size; ++i)
        bytes[i] = awkward.at(i);
    return bytes;
}
