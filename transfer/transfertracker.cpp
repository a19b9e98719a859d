#include "transfer/transfertracker.h"

#include "ftp/urlinfo.h"
#include "transfer/instrumentlayout.h"
#include "transfer/requiredtrace.h"

// --- The listing walk ------------------------------------------------------------

void TransferTracker::beginWalk()
{
    m_remoteList.clear();
    m_listCount = 0;
    m_walkEntries = 0;
    m_walkNameBytes = 0;
}

void TransferTracker::listingStarted()
{
    RequiredTrace::listingStarted(m_listCount++);
}

bool TransferTracker::listEntry(const UrlInfo &info)
{
    RequiredTrace::listingEntry(info.name(), m_listCount);
    ++m_walkEntries;
    m_walkNameBytes += info.name().size();
    // The folder comes from the position of the listing in the walk. An
    // entry of a listing outside the walk has no folder and is not kept.
    const bool inWalk = m_listCount >= 1 && m_listCount <= int(listingFolderTags.size());
    if (info.isFile() && inWalk && walkWithinBounds())
        m_remoteList.append({info.name(), info.size(), listingFolderTags[m_listCount - 1]});
    return isLastListing();
}

bool TransferTracker::isLastListing() const
{
    return m_listCount == int(listingFolderTags.size());
}

bool TransferTracker::walkWithinBounds() const
{
    return m_walkEntries <= maxWalkEntries && m_walkNameBytes <= maxWalkNameBytes;
}

// --- A running operation ---------------------------------------------------------

void TransferTracker::beginOperation(bool downloads)
{
    m_transferList.clear();
    m_transferIndex = 0;
    m_lastTransferStarted = false;
    if (downloads)
        m_getFinishIndex = 0;
}

void TransferTracker::appendRecord(const TransferRecord &record, QFileDevice *file)
{
    m_currentFile = file;
    m_transferList.append(record);
}

// The label shows the file of the command that is starting; the index then
// points at the following record, except at the last one, where it stays.
QString TransferTracker::transferStarting(int commandId)
{
    RequiredTrace::transferStarting(m_transferIndex);
    QString name;
    // After a disconnect the list may be empty while queued transfers still
    // run: there is then no record to show.
    if (m_transferIndex >= 0 && m_transferIndex < m_transferList.size()) {
        name = m_transferList.at(m_transferIndex).name;
        RequiredTrace::transferName(name);
    }
    if (m_transferIndex == m_transferList.size() - 1)
        m_lastTransferStarted = true;
    if (commandId != m_lastCommandId) {
        m_lastCommandId = commandId;
        if (m_transferIndex < m_transferList.size() - 1)
            ++m_transferIndex;
    }
    RequiredTrace::transferStarted(m_transferIndex);
    return name;
}

void TransferTracker::transferProgress(qint64 done)
{
    const int position = m_lastTransferStarted ? m_transferIndex : m_transferIndex - 1;
    if (position < 0 || position >= m_transferList.size())
        return;
    TransferRecord &record = m_transferList[position];
    RequiredTrace::progress(record.expectedSize, done);
    if (done == record.expectedSize)
        record.done = true;
}

void TransferTracker::downloadFinished()
{
    if (m_getFinishIndex >= 0 && m_getFinishIndex < m_transferList.size())
        RequiredTrace::downloadFinished(m_transferList.at(m_getFinishIndex).name);
    ++m_getFinishIndex;
}

void TransferTracker::setDone(int position, bool done)
{
    if (position >= 0 && position < m_transferList.size())
        m_transferList[position].done = done;
}

void TransferTracker::clear()
{
    m_remoteList.clear();
    m_transferList.clear();
}
