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
// пределе ±0,2 %)". A row measured more than once stands with its last measurement (its place in the
// order is that of the last one). The input named is the point's current, its voltage ("… V") for the
// "U" configuration; the error has two decimals and a true minus; the limit is the run's own
// (TJournalRunHeader::limits: analogError on analog tabs, freqError for F, error otherwise) and is left
// out when the run kept none (0). A run not ended as Finished gives the reason "поверка не завершена",
// one without points "нет измеренных точек" (both come before the points' reasons).
TVerdict Verdict(const TJournalRun &run);

// The last day a verification made on `date` holds. Take the same day number `months` months later:
// when that month has it, the term ends the day before (15.03.2024 + 12 → 14.03.2025, 01.01.2024 + 12
// → 31.12.2024); when that month lacks it, the term ends on that month's last day (31.01.2025 + 1 →
// 28.02.2025, 30.01.2024 + 1 → 29.02.2024, 29.02.2024 + 12 → 28.02.2025). Invalid for an invalid
// date and for months ≤ 0 or > 1200.
QDate ValidUntil(const QDate &date, int months);

// The kind of quantity a parameter (1..33, TParameters' index) is: voltages (phase, line, averages,
// U0) Voltage, currents Current, P/Q/S and the energies Power, F Frequency; nullopt for the power
// factors (no installation states a limit for them) and indices outside 1..33. The analog tabs'
// kind, AnalogCurrent, is the caller's to choose.
std::optional<TQuantityKind> KindOfParameter(int param);
// "напряжение", "ток", "мощность", "частота", "угол", "аналоговый ток".
QString KindCaption(TQuantityKind kind);

// The ratio of the permissible error to the reference's error limit for that kind (e.g. 0,2 / 0,05 =
// 4), over the installation-kind standards only (with several, the largest limit answers); nullopt
// when no installation states a limit for the kind or either is not positive.
std::optional<double> AccuracyRatio(const std::vector<TStandard> &standards, TQuantityKind kind, double permissible);

// Conditions outside the method's normal ones (bounds included as normal), one sentence each:
// "температура 27,0 °C вне 15–25 °C", "относительная влажность 85 % вне 30–80 %", "атмосферное
// давление 110,0 кПа вне 84–106 кПа"; empty when all entered values are within (values not entered,
// and the supply's, are not judged; a value that is not a number is outside).
QStringList ConditionsOutside(const TRunConditions &conditions, const TNormalConditions &normal);

// Standards whose own verification is overdue or ends before `runDate` (valid through validUntil
// inclusive), or found out of tolerance on or before it; one sentence per fault naming the standard:
// "Эталон «…» № …: поверка действительна до dd.MM.yyyy", "… : вне допуска с dd.MM.yyyy", and "…:
// срок действия поверки не указан" for one without a date. An invalid `runDate` stands for today.
QStringList StandardsNotValid(const std::vector<TStandard> &standards, const QDate &runDate);

// The values of the laboratory's protocol placeholders for a run: TypeNumber, Modification, Owner,
// ManufactureYear, VerificationKind, Procedure, Temperature, Humidity, Pressure, Standards (one line
// per standard: name, serial, Fund number, "действителен до dd.MM.yyyy"), Verdict, ValidUntil (empty
// when unfit or no interval), Amendments ("Изменения после поверки: …", empty when none). Every key
// is given, in that order, empty when there is nothing to tell (VerificationKind too, for a run
// without a laboratory record). Temperature "21,5 °C", Humidity "55 %", Pressure "101,3 кПа";
// Standards "name, зав. № serial, рег. № fundNumber, действителен до dd.MM.yyyy" with empty parts
// left out; Verdict "пригоден", or "непригоден" + "\n" + the reasons joined by "; "; an amendment
// "dd.MM.yyyy hh:mm, who: field «old» → «new» (reason)", entries joined by "; ".
TJournalKeyValues ReportFields(const TLabRunRecord &record, const std::optional<TVerdict> &verdict,
    const QDate &verificationDate, const std::vector<TAmendment> &amendments);

// The run as its amendments leave it: each amendment, in order, replaces its field's value in a copy —
// "Report/<Key>" a report header field, "conditions/<temperature|humidity|pressure|supplyVoltage|
// supplyFrequency>" a condition (a number with either decimal separator; empty: not entered), "owner",
// "modification", "manufactureYear", and "verdict" ("пригоден"/"непригоден": the verdict overridden
// by the amendment's author, at its time, for its reason). Other fields change nothing here.
TJournalRun Amended(const TJournalRun &run);

} // namespace LabRules
