#pragma once

#include <QString>

// The served folder seen as the instrument's file system. Paths inside it
// are "virtual": "" is the top folder, "DATA/IPA_BD1" a folder below it.
// Nothing resolved here ever lies outside the served folder, symlinks
// included.
class ServedTree
{
public:
    struct Location {
        bool valid = false;      // false: the path climbs above the top or leaves the served folder
        QString virtualPath;     // "" for the top folder
        QString diskPath;
        bool exists = false;
        bool isFolder = false;
        bool isFile = false;
    };

    explicit ServedTree(const QString &rootPath = QString());

    QString rootPath() const { return m_rootPath; }
    bool rootExists() const;

    // Resolves `path` from the folder `base`: a leading "/" starts from the
    // top folder, ".." climbs one level, "." and empty steps are skipped.
    Location resolve(const QString &base, const QString &path) const;
    Location locate(const QString &virtualPath) const;

    static QString fileName(const QString &virtualPath);
    static QString displayPath(const QString &virtualPath);   // "/" or "/DATA/IPA_BD1"

private:
    bool isConfined(const QString &diskPath) const;

    QString m_rootPath;
};
