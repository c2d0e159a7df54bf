#include "journal/labregistry.h"

#include <QUuid>

#include <algorithm>

namespace {

template<class T> std::vector<T> Sorted(const std::vector<T> &all, bool withRetired)
{
    std::vector<T> result;
    for (const T &entry : all)
        if (withRetired || !entry.retired)
            result.push_back(entry);
    std::stable_sort(result.begin(), result.end(),
        [](const T &a, const T &b) { return QString::localeAwareCompare(a.name, b.name) < 0; });
    return result;
}

template<class T> void Save(std::vector<T> &all, T &entry)
{
    if (entry.id.isEmpty())
        entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const auto found = std::find_if(all.begin(), all.end(), [&](const T &e) { return e.id == entry.id; });
    if (found != all.end())
        *found = entry;
    else
        all.push_back(entry);
}

} // namespace

std::optional<TInstrumentType> ILabRegistry::Type(const QString &id)
{
    if (const auto all = Types(true))
        for (const TInstrumentType &t : *all)
            if (t.id == id)
                return t;
    return std::nullopt;
}

std::optional<TStandard> ILabRegistry::Standard(const QString &id)
{
    if (const auto all = Standards(true))
        for (const TStandard &s : *all)
            if (s.id == id)
                return s;
    return std::nullopt;
}

std::optional<std::vector<TInstrumentType>> TMemoryLabRegistry::Types(bool withRetired)
{
    return Sorted(types_, withRetired);
}

bool TMemoryLabRegistry::SaveType(TInstrumentType &type)
{
    Save(types_, type);
    return true;
}

std::optional<std::vector<TStandard>> TMemoryLabRegistry::Standards(bool withRetired)
{
    return Sorted(standards_, withRetired);
}

bool TMemoryLabRegistry::SaveStandard(TStandard &standard)
{
    Save(standards_, standard);
    return true;
}

std::optional<std::vector<TJournalRunSummary>> TMemoryLabRegistry::RunsUsingStandard(const QString &standardId)
{
    std::vector<TJournalRunSummary> result;
    for (const auto &[run, ids] : runs_)
        if (ids.contains(standardId))
            result.push_back(run);
    std::stable_sort(result.begin(), result.end(),
        [](const TJournalRunSummary &a, const TJournalRunSummary &b) { return a.started > b.started; });
    return result;
}

void TMemoryLabRegistry::AddRun(const TJournalRunSummary &run, const QStringList &standardIds)
{
    runs_.emplace_back(run, standardIds);
}
