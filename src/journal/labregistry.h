#pragma once
// The laboratory's registers of instrument types and reference standards, wherever they are kept:
// the results journal implements it over its database (shared by the benches of a server journal);
// TMemoryLabRegistry keeps them in memory (tests, and a program whose journal cannot be written).
//
// Entries are never deleted: retiring one (retired = true) stops offering it, and runs that used it
// keep pointing to it.

#include "journal/journalrecords.h"
#include "journal/labrecords.h"

#include <QString>

#include <optional>
#include <vector>

class ILabRegistry {
public:
    virtual ~ILabRegistry() = default;

    // Sorted by name; nullopt when the read failed (LastError says why).
    virtual std::optional<std::vector<TInstrumentType>> Types(bool withRetired) = 0;
    // Adds (an empty id is given a new UUID, written back) or replaces the entry with the same id.
    virtual bool SaveType(TInstrumentType &type) = 0;

    virtual std::optional<std::vector<TStandard>> Standards(bool withRetired) = 0;
    virtual bool SaveStandard(TStandard &standard) = 0;

    // The verification runs whose recorded standards include this one, newest first.
    virtual std::optional<std::vector<TJournalRunSummary>> RunsUsingStandard(const QString &standardId) = 0;

    virtual QString LastError() const = 0;

    // Conveniences over the above: the entry with this id, retired ones included.
    std::optional<TInstrumentType> Type(const QString &id);
    std::optional<TStandard> Standard(const QString &id);
};

class TMemoryLabRegistry : public ILabRegistry {
public:
    std::optional<std::vector<TInstrumentType>> Types(bool withRetired) override;
    bool SaveType(TInstrumentType &type) override;
    std::optional<std::vector<TStandard>> Standards(bool withRetired) override;
    bool SaveStandard(TStandard &standard) override;
    std::optional<std::vector<TJournalRunSummary>> RunsUsingStandard(const QString &standardId) override;
    QString LastError() const override { return {}; }

    // Runs to answer RunsUsingStandard with: each with the ids of the standards it used.
    void AddRun(const TJournalRunSummary &run, const QStringList &standardIds);

private:
    std::vector<TInstrumentType> types_;
    std::vector<TStandard> standards_;
    std::vector<std::pair<TJournalRunSummary, QStringList>> runs_;
};
