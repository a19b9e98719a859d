#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A small, fully known instrument folder for tests, with a sibling folder
// "outside" that no client may ever reach, and symlinks that try to.
//
//   root/DATA/IPA_BD1/A.DAT B.DAT     root/DATA/IPS_BD1/C.DAT
//   root/TEXT/X.TXT                   root/FONTS/F.FNT
//   root/INIE91.CFG INIE91.FLS COMMANDS.TXT R9DIGIT EMPTY.BIN .hidden
//   root/DATA/ESCAPE -> outside (folder)   root/LEAK.TXT -> outside/secret.txt
//   root/INSIDE -> root/DATA/IPA_BD1
class InstrumentTree
{
public:
    InstrumentTree();

    bool isValid() const { return m_valid; }
    QString root() const;
    QString outside() const;
    QString path(const QString &relative) const;       // inside root
    QByteArray content(const QString &relative) const;
    bool write(const QString &relative, const QByteArray &content) const;

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
