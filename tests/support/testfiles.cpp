#include "tests/support/testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstring>
#include <vector>

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray randomBytes(qint64 size, quint32 seed)
{
    if (size <= 0)
        return QByteArray();
    std::vector<quint32> words(size_t(size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes(size, Qt::Uninitialized);
    std::memcpy(bytes.data(), words.data(), size_t(size));
    const QByteArray awkward("\r\n\0\r\n\n\r\0", 8);
    std::memcpy(bytes.data(), awkward.constData(), size_t(qMin<qint64>(size, awkward.size())));
    return bytes;
}

QStringList filesBelow(const QString &root)
{
    return readTree(root).keys();
}

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

FileTree readTree(const QString &root)
{
    FileTree tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        // Reading a FIFO would wait for a writer that never comes; special
        // files hold no content of their own.
        const QFileInfo info = it.fileInfo();
        if (info.exists() && !info.isFile())
            continue;
        tree.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return tree;
}
