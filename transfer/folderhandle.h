#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>

class QFile;

// One local folder a download writes into, opened once when the operation
// starts. Its files are created, renamed, synced and removed relative to
// the open folder, never by path: a folder swapped for a link, or for
// another folder, while the run goes on never receives a byte, and
// replacedLevel() tells that it was swapped. Shared by the plan, the
// staged files and the batch's worker thread; every operation is const.
//
// Where the platform opens no folder by handle, the same calls go by path.
class FolderHandle
{
public:
    ~FolderHandle();
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;

    // The base folder; a link there is the technician's own choice and is
    // followed. Null, with why and where, when it cannot be opened.
    static std::shared_ptr<const FolderHandle> openBase(const QString &path, QString *error);
    // `relative` ("DATA/IPS_BD1") below `base`, level by level, never
    // through a link: each level must be a folder of its own.
    static std::shared_ptr<const FolderHandle> openBelow(const std::shared_ptr<const FolderHandle> &base,
                                                   const QString &relative, QString *error);

    QString path() const { return m_path; }
    // Below the base folder; empty for the base itself.
    QString relative() const { return m_relative; }
    // Where `name` stands, to name it to the technician.
    QString filePath(const QString &name) const;

    // Creates the file `name`, which must not exist, and opens it in
    // `file`. `nameTaken`: something already stands under that name.
    bool createFile(const QString &name, QFile &file, QIODevice::OpenMode mode, QString *error,
                    bool *nameTaken) const;
    // Gives `file` the permissions of the regular file `name`, if there is one.
    void copyPermissions(const QString &name, QFile &file) const;
    // Replaces `to` by `from` in one step, within this folder.
    bool rename(const QString &from, const QString &to) const;
    bool remove(const QString &name) const;
    // The regular files of the folder, links left out.
    QStringList regularFiles() const;

    // Makes the content of the file `name` durable.
    bool syncFile(const QString &name) const;
    // Makes everything written on this folder's file system durable at
    // once, where the platform can (Linux); false elsewhere.
    bool syncFileSystem() const;
    // Makes the folder's entries (new names) durable.
    bool syncNames() const;
    // Tells the file systems apart: folders with equal ids share one.
    quint64 fileSystemId() const;

    // The outermost level of this folder that no longer stands at its path
    // as the folder opened (below the base, or the base's own path); empty
    // while every level is where it was.
    QString replacedLevel() const;

private:
    FolderHandle() = default;
    // The platform's part: opens the level `m_name` in the parent folder,
    // refusing a link or anything but a folder; and whether this folder
    // still stands at its place as it was opened.
    bool openInParent(QString *error);
    bool standsWhereOpened() const;

    QString m_path;
    QString m_relative;
    QString m_name;                        // the last level, as opened in its parent
    std::shared_ptr<const FolderHandle> m_parent;
    int m_fd = -1;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};
