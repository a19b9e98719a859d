#pragma once

#include "transfer/transferrecord.h"

#include <QList>
#include <QString>

// One file of the instrument or of the PC's folder, set side by side.
struct ComparedFile
{
    enum State { Same, Differs, OnlyOnInstrument, OnlyOnPc, Unreadable, NotFetched };
    // A size of a side that has no such file; -1 is a listed size too large.
    static constexpr qint64 absent = -2;

    QString folder;       // the walk's tag: "DATA/IPA_BD1" ... "ROOT"
    QString name;
    qint64 instrumentSize = absent;
    qint64 pcSize = absent;
    State state = Same;
    QString detail;       // why it differs when the sizes agree, or why it was not compared
    QString localPath;    // empty when the PC has no such file

    // "folder/name" as on the instrument, the top folder's files by name alone.
    QString path() const;
};

QString stateText(ComparedFile::State state);

// The walk's files against a folder laid out as Clone writes it (the four
// folders below `base`, the top folder's files directly in it), by folder in
// walk order, then by name. Equal sizes count as the same here. Only reads.
QList<ComparedFile> compareFiles(const QList<RemoteEntry> &remote, const QString &base);
