#pragma once
// The laboratory's records beside the tables of errors: the instrument types it verifies, the
// reference standards it verifies them with, and what a verification run records of both, of the
// conditions and of its conclusion. Plain copyable values, kept in the results journal (so that
// benches sharing a server journal share them) and filled alike by the windows and by kestctl.
//
// A run keeps copies of the type and of the standards as they were at its start: a register changed
// later never changes what an ended verification says.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// The kinds of quantity a reference installation states its error limits for.
enum class TQuantityKind { Voltage = 0, Current = 1, Power = 2, Frequency = 3, Angle = 4, AnalogCurrent = 5 };

// The codes are those of the Federal information fund's upload format (1 primary, 2 periodic).
enum class TVerificationKind { Primary = 1, Periodic = 2 };

struct TInstrumentType {
    QString id; // UUID text, given when first saved
    QString name; // "Преобразователь измерительный QX4"
    QString typeNumber; // number in the state register of measuring instruments (ГРСИ), "74910-19"
    QStringList modifications;
    QString procedure; // the verification method (МП) designation
    int intervalMonths = 0; // verification interval
    double permissibleError = 0.0; // basic permissible error, %; 0: the settings' limit
    TVerificationKind defaultKind = TVerificationKind::Periodic;
    QString pointsSet; // the preferred "Заполнить точки" set, by its caption; empty: none
    bool retired = false; // no longer offered; never deleted
    bool operator==(const TInstrumentType &other) const = default;
};

enum class TStandardKind { Installation = 0, Auxiliary = 1 };

struct TStandard {
    QString id; // UUID text, given when first saved
    QString name; // "Установка поверочная KEST-01"
    QString type; // the type's name
    QString typeNumber; // the type's ГРСИ number
    QString serial;
    // The standard's registration number in the Fund, or the record number of the instrument's
    // verification where an instrument is used as a standard.
    QString fundNumber;
    QString certificate; // number of the standard's own verification (certificate or record)
    QDate validUntil; // last day its own verification holds
    TStandardKind kind = TStandardKind::Installation;
    QString role; // for auxiliary ones: "термогигрометр", "барометр" …
    std::map<TQuantityKind, double> errorLimits; // the installation's error limits, %
    bool retired = false;
    QDate outOfToleranceSince; // valid: found out of tolerance from that day on
    bool operator==(const TStandard &other) const = default;
};

// Normal conditions of a verification method; the defaults are the settings' defaults.
struct TNormalConditions {
    double temperatureMin = 15, temperatureMax = 25; // °C
    double humidityMin = 30, humidityMax = 80; // %
    double pressureMin = 84, pressureMax = 106; // kPa
};

// Entered once at the start of a run; an unset value was not entered.
struct TRunConditions {
    std::optional<double> temperature; // °C
    std::optional<double> humidity; // relative, %
    std::optional<double> pressure; // kPa
    std::optional<double> supplyVoltage; // V
    std::optional<double> supplyFrequency; // Hz
    bool IsEmpty() const { return !temperature && !humidity && !pressure && !supplyVoltage && !supplyFrequency; }
    bool operator==(const TRunConditions &other) const = default;
};

// The conclusion of a verification run.
struct TVerdict {
    bool fit = false; // "пригоден"; false: "непригоден"
    QStringList reasons; // why unfit, one per failed point or cause
    // Set when the verifier replaced the computed conclusion (also recorded as an amendment).
    bool overridden = false;
    QString overriddenBy;
    QDateTime overriddenAt;
    QString overrideReason;
    QString Text() const; // "пригоден" / "непригоден"
    bool operator==(const TVerdict &other) const = default;
};

// What a verification run records of the laboratory's side, at its start (the verdict at its end).
struct TLabRunRecord {
    std::optional<TInstrumentType> type; // a copy as it was at the start
    QString modification;
    QString owner;
    QString manufactureYear;
    TVerificationKind kind = TVerificationKind::Periodic;
    bool usedAsStandard = false; // the instrument verified is itself used as a standard
    QString standardRegNumber; // its registration number as a standard in the Fund, when it has one
    TRunConditions conditions;
    std::vector<TStandard> standards; // copies as they were at the start
    // The lowest ratio of the reference's error limit to the permissible error over the run's
    // quantities (0: not known), and the quantities below the laboratory's minimum.
    double lowestAccuracyRatio = 0.0;
    QStringList lowRatioNotes;
    bool IsEmpty() const
    {
        return !type && modification.isEmpty() && owner.isEmpty() && manufactureYear.isEmpty() && conditions.IsEmpty()
            && standards.empty() && !usedAsStandard;
    }
};

// A change made to an ended run: never in place, always recorded beside it.
struct TAmendment {
    int seq = 0; // order within the run, given when recorded
    QDateTime time; // stamped when recorded when not valid
    QString who;
    QString field; // "Report/<Key>" for a header field, "conditions/temperature" …, "verdict"
    QString oldValue;
    QString newValue;
    QString reason;
    bool operator==(const TAmendment &other) const = default;
};

// Whether a run's stored record still matches the digest chain (see the journal's ledger).
enum class TRecordIntegrity {
    Unchecked = 0, // not sealed yet (open, or written before records were sealed)
    Intact = 1,
    Changed = 2, // its stored record, or the chain through it, was changed outside the program
};

QString VerificationKindText(TVerificationKind kind); // "первичная" / "периодическая"
QString QuantityKindKey(TQuantityKind kind); // "voltage", "current", "power", "frequency", "angle", "analog"
std::optional<TQuantityKind> QuantityKindFromKey(const QString &key);
