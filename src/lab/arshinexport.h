#pragma once
// The upload file of verification results for the Federal information fund («Аршин», module
// «Поверка»): one `result` per ended verification run, written from the journal's records and the
// laboratory's settings, checked against the format's schema before it replaces anything, and the
// deadlines by which a verification must be sent. The program prepares and checks the file; signing
// it and uploading it in the laboratory's cabinet stay the laboratory's.
//
// Settings (section "Arshin"):
//   Schema    path of the schema to check files against (the official one from the cabinet);
//             empty: the schema shipped with the program
//   Holidays  non-working weekdays, dd.MM.yyyy separated by commas, semicolons or spaces; empty: the
//             Russian public non-working days of 2026 and 2027

#include "config/typedsettings.h"
#include "journal/journalrecords.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <utility>
#include <vector>

class TLabConfig;

// The laboratory's data for its uploads.
struct TArshinLab {
    QString signCipher; // the mark code, 1–3 capital Cyrillic letters
    bool signPass = false; // mark in the passport
    bool signMi = false; // mark on the instrument
};
// From the "Lab" settings: SignCipher trimmed; SignPass and SignMi are true for "1", "true", "да",
// "yes" (any case), false otherwise.
TArshinLab ArshinLabOf(const TLabConfig &config);

// What a run gives to its `result`, as written (texts trimmed, conditions with their units).
struct TArshinEntry {
    TJournalRunId runId;
    QString typeNumber;
    QString serial;
    QString manufactureYear; // empty: not known, left out
    QString modification; // "-" when none
    // An instrument used as a standard with its registration number as one: miInfo/etaMI/regNumber
    // instead of singleMI (the Fund knows its type and serial by that number).
    QString standardRegNumber;
    bool usedAsStandard = false;
    QString signCipher;
    QString owner;
    QDate verificationDate;
    QDate validUntil; // invalid: left out (unfit, or no interval)
    int kind = 2; // 1 primary, 2 periodic
    bool fit = false;
    bool signPass = false, signMi = false;
    QString stickerNum; // fit: the sticker's number (the run's last amendment "stickerNum"), else left out
    QString reasons; // unfit: the reasons joined by "; "
    QString procedure; // docTitle
    QString verifier; // metrologist; empty: left out
    QStringList fundNumbers; // means/mieta/number
    std::vector<std::pair<QString, QString>> instruments; // means/mis/mi: type number, serial
    QString temperature, pressure, humidity; // "21,5 °C", "101,3 кПа", "55 %"
    QString additionalInfo; // empty: left out
};

// The run's conclusion as it stands: the one of its end, unless an amendment of the field "verdict"
// to "пригоден" or "непригоден" replaced it (the last such wins; a replacing "непригоден" gives the
// amendment's reason, or the end's reasons when the amendment gave none). nullopt: none.
std::optional<TVerdict> ArshinVerdict(const TJournalRun &run);

// The run's entry (whatever it lacks stays empty; see ArshinMissing).
TArshinEntry ArshinEntryOf(const TJournalRun &run, const TArshinLab &lab);

// What keeps the run out of the file, one sentence each, empty when it can be written: not ended as
// finished, no conclusion, no type or type number, no serial, no owner, no method, a condition not
// entered, no standard with a Fund number, a standard with neither a Fund number nor a type number
// and serial, a bad mark code, a sticker number not of 11 digits, unfit without reasons, and every value
// longer than its element allows
// ("… длиннее N знаков": never cut).
QStringList ArshinMissing(const TJournalRun &run, const TArshinLab &lab);

struct TArshinOptions {
    std::map<TJournalRunId, QString> protocols; // run id → protocol file to embed (.pdf, .doc, .zip, .djvu)
    // Run id → the number of the sticker put on the instrument, over the run's own (11 digits; a run given
    // another text is left out with the reason); written for fit runs only.
    std::map<TJournalRunId, QString> stickers;
    // Run id → additional_info (1–1024 characters; a longer one keeps its run out).
    std::map<TJournalRunId, QString> additionalInfo;
    QString schemaPath; // empty: the shipped schema
};

// A run left out of a file and why.
struct TArshinSkipped {
    TJournalRunId runId;
    QStringList missing;
};

// Writes the runs that have all the file needs (the others go to `skipped`, when given) into `path`:
// written into a temporary file beside it, flushed to the disk, checked against the schema and only
// then renamed over `path`. False with `error` set, and `path` untouched, when no run can be written,
// a protocol cannot be read or is too long a name, the schema cannot be read, the file does not
// pass the schema (the error names the line and element), or the disk refuses.
bool WriteArshinFile(const QString &path, const std::vector<TJournalRun> &runs, const TArshinLab &lab,
    const TArshinOptions &options, QString *error, std::vector<TArshinSkipped> *skipped = nullptr);

// The schema shipped with the program (a resource path), and the one a file is checked against.
QString ArshinShippedSchemaPath();
QString ArshinSchemaPath(const QString &configured);

// Checks a written file against a schema; false with the first errors ("строка N: …") in `error`.
bool ValidateArshinFile(const QString &path, const QString &schemaPath, QString *error);

// The last day to send a verification made on `verification`: 40 working days after it, 20 for an
// instrument used as a standard; Saturdays, Sundays and `holidays` are not working days. Invalid for
// an invalid date.
QDate ArshinDeadline(const QDate &verification, bool usedAsStandard, const QSet<QDate> &holidays);

// Working days from `today` (not counted) to `deadline` (counted): 0 on the deadline itself or when
// only non-working days remain; when past it, minus the working days since (at least −1).
int WorkingDaysLeft(const QDate &today, const QDate &deadline, const QSet<QDate> &holidays);
// Shown red: overdue or within 5 working days.
inline bool ArshinDeadlineNear(int workingDaysLeft)
{
    return workingDaysLeft <= 5;
}

// The holidays of the settings' text; an empty text gives the default list. Entries that are not
// dates go to `invalid`, when given.
QSet<QDate> ArshinHolidays(const QString &text, QStringList *invalid = nullptr);
QSet<QDate> ArshinDefaultHolidays();

class TArshinConfig : public TTypedSettings {
public:
    explicit TArshinConfig(TConfigController *config) : TTypedSettings(config) { }
    QString ReadSchema() const;
    void WriteSchema(const QString &path);
    QString ReadHolidaysText() const;
    void WriteHolidaysText(const QString &text);
    QSet<QDate> ReadHolidays() const { return ArshinHolidays(ReadHolidaysText()); }
};
