#include "transfer/localnames.h"

#include "transfer/baselock.h"
#include "transfer/stagedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

bool isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool isOwnFileName(const QString &name)
{
    // QLockFile takes a stale lock over through a second lock beside it.
    return StagedFile::isTemporaryName(name) || name == BaseFolderLock::fileName
        || name == BaseFolderLock::fileName + QLatin1String(".rmlock");
}

QString pathRefusal(const QString &why, const QString &path)
{
    return why + QStringLiteral(":\n") + QDir::toNativeSeparators(path);
}

QString printableName(QString name)
{
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = u'?';
    }
    return name;
}

QString localFilePath(const QString &base, const QString &folder, const QString &name)
{
    QString path = base;
    // A base that already ends with a separator gets no second one.
    if (!path.endsWith(u'/') && !path.endsWith(QDir::separator()))
        path += u'/';
    if (!folder.isEmpty())
        path += folder + u'/';
    return path + name;
}

bool folderIgnoresCase(const QString &folder)
{
    // Named like a download's temporary file, so that a probe left behind
    // by a crash is cleaned up, and never sent, like one of those.
    QString name = QStringLiteral(".r9-part-");
    for (int i = 0; i < 8; ++i)
        name += QLatin1Char(char('a' + QRandomGenerator::global()->bounded(26)));
    QFile probe(QDir(folder).filePath(name));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
        return true;
#else
        return false;
#endif
    }
    probe.close();
    const bool ignoresCase = QFileInfo::exists(QDir(folder).filePath(name.toUpper()));
    probe.remove();
    return ignoresCase;
}
