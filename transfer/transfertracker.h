#pragma once

#include "transfer/transferrecord.h"

#include <QList>
#include <QString>

class QFileDevice;
class UrlInfo;

// The transfer state of one connection to the instrument, under the names it
// has always had, and the debug trace lines that follow it. The listing walk
// fills the remote list; a running operation (OperationRun) keeps the
// transfer records and counters up to date through the calls below, which
// are the only writers of each field.
class TransferTracker
{
public:
    const QList<TransferRecord> &transferList() const { return m_transferList; }
    const QList<RemoteEntry> &remoteList() const { return m_remoteList; }
    int transferIndex() const { return m_transferIndex; }
    // The newest queued file; kept as the tool always has, though nothing
    // reads it since each transfer owns its file.
    QFileDevice *currentFile() const { return m_currentFile; }
    int listCount() const { return m_listCount; }
    int getFinishIndex() const { return m_getFinishIndex; }
    int lastCommandId() const { return m_lastCommandId; }
    bool lastTransferStarted() const { return m_lastTransferStarted; }

    // --- The listing walk ---
    void beginWalk();
    // A listing starts: the walk's listings are counted as they start.
    void listingStarted();
    // An entry of a listing; a regular file of one of the walk's listings
    // is kept, tagged with the folder of that listing. True when the entry
    // belongs to the walk's last listing, the top folder's.
    bool listEntry(const UrlInfo &info);
    // The walk's last listing has started.
    bool isLastListing() const;
    // The walk's listings, held to these bounds as a whole, whatever each
    // listing holds: a server that lists without end cannot fill the PC.
    bool walkWithinBounds() const;
    static constexpr int maxWalkEntries = 200000;
    static constexpr qint64 maxWalkNameBytes = qint64(32) << 20;

    // --- A running operation ---
    void beginOperation(bool downloads);
    void appendRecord(const TransferRecord &record, QFileDevice *file);
    // A transfer starts: returns the name it shows.
    QString transferStarting(int commandId);
    void transferProgress(qint64 done);
    // A download has finished without error.
    void downloadFinished();
    // The run's verdict on a record: its file is in place, or stored.
    void setDone(int position, bool done);

    // Both lists emptied: after a complete operation, and on Disconnect.
    void clear();

private:
    QList<TransferRecord> m_transferList;
    QList<RemoteEntry> m_remoteList;
    int m_transferIndex = 0;
    QFileDevice *m_currentFile = nullptr;
    int m_listCount = 0;
    int m_getFinishIndex = 0;
    int m_lastCommandId = 0;
    bool m_lastTransferStarted = false;
    int m_walkEntries = 0;
    qint64 m_walkNameBytes = 0;
};
