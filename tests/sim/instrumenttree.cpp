#include "instrumenttree.h"
#include "testfiles.h"

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
    m_valid = write(QStringLiteral("DATA/IPA_BD1/A.DAT"), randomBytes(5000, 1))
           && write(QStringLiteral("DATA/IPA_BD1/B.DAT"), randomBytes(777, 2))
           && write(QStringLiteral("DATA/IPS_BD1/C.DAT"), randomBytes(3000, 3))
           && write(QStringLiteral("TEXT/X.TXT"), "first\nsecond\r\nthird\n")
           && write(QStringLiteral("FONTS/F.FNT"), randomBytes(2048, 4))
           && write(QStringLiteral("INIE91.CFG"), "[SYSTEM]\r\nSERIAL=R9000001\r\n")
           && write(QStringLiteral("INIE91.FLS"), "A.DAT\r\nB.DAT\r\n")
           && write(QStringLiteral("COMMANDS.TXT"), "ZERO\r\nTARE\r\n")
           && write(QStringLiteral("R9DIGIT"), randomBytes(1024, 5))
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
