#include "localnames.h"

#include <QDir>

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
