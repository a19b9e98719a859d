#pragma once

#include <QList>
#include <QString>

#include <optional>

// The faults injected into every client connection of a server: which
// commands to refuse or leave unanswered, which transfers to cut, which
// sizes to misreport, and the pace of replies and data.
class FaultPlan
{
public:
    void refuse(const QString &verb, int code, const QString &argument);
    void staySilent(const QString &verb, const QString &argument);
    void cutAfter(qint64 bytes, const QString &file);
    void shortStore(qint64 bytes, const QString &file);
    void answerAfter(const QString &verb, int code, const QString &file);
    void reportSize(const QString &file, qint64 size);
    void setDropAfter(int commandCount) { m_dropAfter = commandCount; }
    void setReplyDelay(int msecs) { m_replyDelay = msecs; }
    void setRateLimit(qint64 bytesPerSecond) { m_rateLimit = bytesPerSecond; }
    void setMinimal(bool minimal) { m_minimal = minimal; }
    void clear();

    // The reply code that refuses this command, if one does.
    std::optional<int> refusalFor(const QString &verb, const QString &argument) const;
    bool silences(const QString &verb, const QString &argument) const;
    // Bytes after which the transfer of `virtualPath` is cut; -1 for none.
    qint64 cutFor(const QString &virtualPath) const;
    // Bytes after which a STOR of `virtualPath` stops yet claims success; -1 for none.
    qint64 shortStoreFor(const QString &virtualPath) const;
    // The code that answers a transfer carried out in full; 0: 226 as usual.
    int answerAfterFor(const QString &verb, const QString &virtualPath) const;
    // Whether the verb is one a minimal server does not know.
    bool unknownToMinimal(const QString &verb) const;
    bool isMinimal() const { return m_minimal; }
    std::optional<qint64> reportedSizeFor(const QString &virtualPath) const;
    bool dropsAt(int commandCount) const { return m_dropAfter > 0 && commandCount == m_dropAfter; }
    int replyDelay() const { return m_replyDelay; }
    qint64 rateLimit() const { return m_rateLimit; }

    // A file rule names the bare file name or the path from the top folder.
    static bool namesFile(const QString &rule, const QString &virtualPath);

private:
    struct Refusal {
        QString verb;
        int code;
        QString argument;
    };
    struct Silence {
        QString verb;
        QString argument;
    };
    struct Cut {
        qint64 bytes;
        QString file;
    };

    static bool matchesArgument(const QString &verb, const QString &rule, const QString &argument);

    QList<Refusal> m_refusals;
    QList<Silence> m_silences;
    QList<Cut> m_cuts;
    QList<Cut> m_shortStores;
    QList<Refusal> m_answersAfter;
    QList<QPair<QString, qint64>> m_reportedSizes;
    int m_dropAfter = 0;
    int m_replyDelay = 0;
    qint64 m_rateLimit = 0;
    bool m_minimal = false;
};
