#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

// One entry of a remote folder listing, as the FTP client parsed it from a
// LIST reply line. Stands in for Qt 4's QUrlInfo: a plain value type.
class UrlInfo
{
public:
    enum PermissionSpec {
        ReadOwner = 00400, WriteOwner = 00200, ExeOwner = 00100,
        ReadGroup = 00040, WriteGroup = 00020, ExeGroup = 00010,
        ReadOther = 00004, WriteOther = 00002, ExeOther = 00001
    };

    UrlInfo() = default;

    bool isValid() const { return !m_name.isEmpty(); }

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }

    // Size in bytes as the server reported it (64-bit: files over 4 GiB).
    // -1: the listed size does not fit in 64 bits; the entry cannot be
    // fetched as a whole and should be refused.
    qint64 size() const { return m_size; }
    void setSize(qint64 size) { m_size = size; }

    bool isFile() const { return m_kind == File; }
    bool isDir() const { return m_kind == Dir; }
    bool isSymLink() const { return m_kind == SymLink; }
    void setFile() { m_kind = File; }
    void setDir() { m_kind = Dir; }
    void setSymLink() { m_kind = SymLink; }

    // For a link, the target named after "->"; empty otherwise.
    QString symLinkTarget() const { return m_linkTarget; }
    void setSymLinkTarget(const QString &target) { m_linkTarget = target; }

    // Unix permission bits (PermissionSpec); 0 when the listing gave none.
    int permissions() const { return m_permissions; }
    void setPermissions(int permissions) { m_permissions = permissions; }

    QString owner() const { return m_owner; }
    void setOwner(const QString &owner) { m_owner = owner; }
    QString group() const { return m_group; }
    void setGroup(const QString &group) { m_group = group; }

    QDateTime lastModified() const { return m_lastModified; }
    void setLastModified(const QDateTime &when) { m_lastModified = when; }

    bool operator==(const UrlInfo &other) const
    {
        return m_name == other.m_name && m_size == other.m_size && m_kind == other.m_kind
            && m_linkTarget == other.m_linkTarget && m_permissions == other.m_permissions
            && m_owner == other.m_owner && m_group == other.m_group
            && m_lastModified == other.m_lastModified;
    }
    bool operator!=(const UrlInfo &other) const { return !(*this == other); }

private:
    enum Kind { Unknown, File, Dir, SymLink };

    QString m_name;
    qint64 m_size = 0;
    Kind m_kind = Unknown;
    QString m_linkTarget;
    int m_permissions = 0;
    QString m_owner;
    QString m_group;
    QDateTime m_lastModified;
};

Q_DECLARE_METATYPE(UrlInfo)
