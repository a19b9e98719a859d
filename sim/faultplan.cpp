#include "sim/faultplan.h"

void FaultPlan::refuse(const QString &verb, int code, const QString &argument)
{
    m_refusals.append({ verb.toUpper(), code, argument });
}

void FaultPlan::staySilent(const QString &verb, const QString &argument)
{
    m_silences.append({ verb.toUpper(), argument });
}

void FaultPlan::cutAfter(qint64 bytes, const QString &file)
{
    m_cuts.append({ bytes, file });
}

void FaultPlan::shortStore(qint64 bytes, const QString &file)
{
    m_shortStores.append({ bytes, file });
}

void FaultPlan::answerAfter(const QString &verb, int code, const QString &file)
{
    m_answersAfter.append({ verb.toUpper(), code, file });
}

int FaultPlan::answerAfterFor(const QString &verb, const QString &virtualPath) const
{
    for (const Refusal &answer : m_answersAfter) {
        if (answer.verb == verb && namesFile(answer.argument, virtualPath))
            return answer.code;
    }
    return 0;
}

void FaultPlan::reportSize(const QString &file, qint64 size)
{
    m_reportedSizes.append({ file, size });
}

void FaultPlan::clear()
{
    *this = FaultPlan();
}

bool FaultPlan::namesFile(const QString &rule, const QString &virtualPath)
{
    if (rule.isEmpty())
        return true;
    QString path = virtualPath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return rule == path || rule == path.section(QLatin1Char('/'), -1);
}

bool FaultPlan::matchesArgument(const QString &verb, const QString &rule, const QString &argument)
{
    if (rule.isEmpty() || rule == argument)
        return true;
    // Transfers may name a file through a path; the rule names the file.
    const bool namesAFile = verb == QLatin1String("RETR") || verb == QLatin1String("STOR") || verb == QLatin1String("SIZE");
    return namesAFile && namesFile(rule, argument);
}

std::optional<int> FaultPlan::refusalFor(const QString &verb, const QString &argument) const
{
    for (const Refusal &refusal : m_refusals) {
        if (refusal.verb == verb && matchesArgument(verb, refusal.argument, argument))
            return refusal.code;
    }
    return std::nullopt;
}

bool FaultPlan::silences(const QString &verb, const QString &argument) const
{
    for (const Silence &silence : m_silences) {
        if (silence.verb == verb && matchesArgument(verb, silence.argument, argument))
            return true;
    }
    return false;
}

qint64 FaultPlan::cutFor(const QString &virtualPath) const
{
    for (const Cut &cut : m_cuts) {
        if (namesFile(cut.file, virtualPath))
            return cut.bytes;
    }
    return -1;
}

qint64 FaultPlan::shortStoreFor(const QString &virtualPath) const
{
    for (const Cut &cut : m_shortStores) {
        if (namesFile(cut.file, virtualPath))
            return cut.bytes;
    }
    return -1;
}

bool FaultPlan::unknownToMinimal(const QString &verb) const
{
    return m_minimal && (verb == QLatin1String("EPSV") || verb == QLatin1String("ALLO") || verb == QLatin1String("SIZE"));
}

std::optional<qint64> FaultPlan::reportedSizeFor(const QString &virtualPath) const
{
    for (const auto &entry : m_reportedSizes) {
        if (namesFile(entry.first, virtualPath))
            return entry.second;
    }
    return std::nullopt;
}
