#pragma once
// The rules a verification laboratory applies to its records: the conclusion of a run and its
// reasons, the date a verification holds until, the ratio of the reference's accuracy to the one
// verified, whether the conditions were normal and the standards valid, and the texts of the
// protocol's laboratory placeholders. Plain functions over the journal's records; the verification
// window, the archive and kestctl all go through them.

#include "journal/journalrecords.h"
#include "journal/labrecords.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace LabRules {

// "пригоден" when no point's error is beyond its limit, otherwise "непригоден" with one reason per
// failed error, in run order: "превышение допускаемой основной погрешности: Ia при 5 A (−0,40 % при
// пределе ±0,2 %)". `limits` are the run's own (TJournalRunHeader::limits).
TVerdict Verdict(const TJournalRun &run);

// The last day a verification made on `date` holds: `date` + `months` − 1 day, where a day that the
// target month lacks (31 January + 1 month) makes the term end on that month's last day. Invalid for
// months ≤ 0 or an invalid date.
QDate ValidUntil(const QDate &date, int months);

// The kind of quantity a parameter (1..33, TParameters' index) is; nullopt for those without one.
std::optional<TQuantityKind> KindOfParameter(int param);

// The ratio of the permissible error to the reference's error limit for that kind (e.g. 0,2 / 0,05 =
// 4); nullopt when the installation states no limit for the kind or either is not positive.
std::optional<double> AccuracyRatio(const std::vector<TStandard> &standards, TQuantityKind kind, double permissible);

// Conditions outside the method's normal ones, one sentence each ("температура 27,0 °C вне 15–25 °C");
// empty when all entered values are within (values not entered are not judged).
QStringList ConditionsOutside(const TRunConditions &conditions, const TNormalConditions &normal);

// Standards whose own verification is overdue or ends before `runDate` (valid through validUntil
// inclusive), or found out of tolerance on or before it; one sentence each naming the standard.
QStringList StandardsNotValid(const std::vector<TStandard> &standards, const QDate &runDate);

// The values of the laboratory's protocol placeholders for a run: TypeNumber, Modification, Owner,
// ManufactureYear, VerificationKind, Procedure, Temperature, Humidity, Pressure, Standards (one line
// per standard: name, serial, Fund number, "действителен до dd.MM.yyyy"), Verdict, ValidUntil (empty
// when unfit or no interval), Amendments ("Изменения после поверки: …", empty when none).
TJournalKeyValues ReportFields(const TLabRunRecord &record, const std::optional<TVerdict> &verdict,
    const QDate &verificationDate, const std::vector<TAmendment> &amendments);

} // namespace LabRules
