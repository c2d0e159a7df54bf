#pragma once
// What the results journal keeps: verification runs (a header with everything that was in force at the
// start, one record per measured point, the end) and tuning runs (a header, the log lines, the first
// and the last readback, the end). Plain copyable values; nothing here knows a window or a table
// class, so the verification window, the tuning window and kestctl fill them alike.
//
// A point keeps both what was measured (input, the installation's 33 values, the transducer's values,
// the analog currents, the errors) and the row of the table exactly as it was shown (every cell's text
// and mark), so that a run comes back cell for cell and a continued run finds its readings again.

#include "journal/labrecords.h"
#include "protocol/inputdata.h"
#include "protocol/parameters.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>
#include <bitset>
#include <optional>
#include <vector>

// A run's identity: a UUID text, the same in the local file, in its buffer and on a server, so that
// runs of several benches never collide.
using TJournalRunId = QString;

// Free-form named texts kept in order (the report header data, device details, tuning settings).
using TJournalKeyValues = QList<QPair<QString, QString>>;
QString JournalValueOf(const TJournalKeyValues &values, const QString &key);

enum class TJournalRunKind { Verification = 0, Tuning = 1 };

// How a run ended; Open while it has not (still running, or cut short by a crash).
enum class TJournalOutcome { Open = 0, Finished = 1, Stopped = 2, Failed = 3 };

// The 33 quantities of one reading set, by index 1..33 (slot index − 1), with their "data correct" flags.
struct TJournalValues {
    std::array<double, TParameters::kCount> values{};
    std::bitset<TParameters::kCount> valid; // all clear: nothing read

    double Value(int index) const { return index >= 1 && index <= TParameters::kCount ? values[index - 1] : 0.0; }
    bool IsValid(int index) const { return index >= 1 && index <= TParameters::kCount && valid[index - 1]; }
    static TJournalValues From(const TParameters &parameters);
    // Writes values and flags into `parameters` (names and units stay).
    void ApplyTo(TParameters &parameters) const;
    bool operator==(const TJournalValues &other) const = default;
};

// The error of one shown parameter.
struct TJournalError {
    int param = 0; // 1..33
    double error = 0.0; // percent
    bool overLimit = false; // beyond the permissible error (the cell was red)
    bool operator==(const TJournalError &other) const = default;
};

struct TJournalDevice {
    QString type; // what the identity read or the configuration says ("QX4", device type code …)
    QString factoryNumber;
    QString modification;
    TTransfCoefs coefficients; // KU = U1/U2, KI = I1/I2 in force
    TJournalKeyValues details; // anything else read from the device (scheme, analog outputs …)
};

struct TJournalLimits {
    double error = 0.0; // basic permissible error, percent
    double freqError = 0.0;
    double analogError = 0.0;
    double aruError = 0.0;
};

struct TJournalSetup {
    QString currentRange; // "5A"
    QString voltageRange; // "380 V"
    QString scheme; // "4-x провод."
    TJournalKeyValues options; // load, ARU, "Диапазон", output signal, measuring time …
};

// One tab's table as the run found it at its start: its columns and all its rows (the points, also
// those not yet measured, so that a restored run can go on from where it stopped).
struct TJournalTable {
    int tab = 0; // 0-based tab position
    QString title;
    bool rsInterface = true; // RS tab (false: analog)
    int inputColumnCount = 0;
    QStringList columnNames; // one per column, as the table names them ("Ток" … "Ua")
    QStringList headers; // header row texts ("Ток, A" …)
    QList<int> columnWidths;
    std::vector<QStringList> rows; // data rows 1.., each the texts of all its cells
};

// A point of the run's order.
struct TJournalPointRef {
    int tab = 0;
    int row = 0; // 1-based table row
    bool operator==(const TJournalPointRef &other) const = default;
};

struct TJournalRunHeader {
    TJournalRunId id; // given by BeginRun
    QDateTime started; // BeginRun sets it when not valid
    QString configuration; // "I" … "QX4E"
    QString programVersion; // BeginRun sets this build's when empty
    QString bench; // BeginRun sets the host name when empty
    QString runMode; // "tab", "all" or "row" (which start button)
    TJournalDevice device;
    TJournalLimits limits;
    TJournalSetup setup;
    std::vector<TJournalTable> tables;
    std::vector<TJournalPointRef> planned; // the run's points in the order they are measured
    TJournalKeyValues reportData; // the report header data at the start ("ProtocolNum" … "KI2")
    TLabRunRecord lab; // type, owner, conditions and standards of the verification

    // Factory number, else the report's device number, else its factory number field.
    QString DeviceNumber() const;
    // The report header's "Verifier".
    QString Verifier() const;
};

struct TJournalPoint {
    int seq = 0; // order within the run, given by AddPoint
    int tab = 0;
    int row = 0; // 1-based table row
    QDateTime time; // AddPoint sets it when not valid
    TInputData input;
    TJournalValues installation; // the installation's 33 values as read (before scaling)
    std::optional<TJournalValues> device; // the transducer's values (RS), none when not read
    std::optional<std::array<double, 3>> analog; // mA measured on analog inputs 1..3 (analog tabs)
    std::vector<TJournalError> errors;
    QStringList cells; // every cell of the row as shown, input cells first
    std::vector<bool> marks; // the error mark of each cell, same positions as `cells`

    bool HasOverLimit() const;
};

struct TJournalRunEnd {
    TJournalRunEnd(
        TJournalOutcome outcome_ = TJournalOutcome::Finished, QString error_ = QString(), QDateTime time_ = QDateTime())
        : outcome(outcome_), error(std::move(error_)), time(std::move(time_))
    {
    }
    // A run found open after the program ended in the middle of it, and not taken up again.
    static TJournalRunEnd Interrupted()
    {
        return TJournalRunEnd(
            TJournalOutcome::Failed, QStringLiteral("прервана: программа завершилась до конца работы"));
    }
    TJournalOutcome outcome = TJournalOutcome::Finished; // Finished, Stopped or Failed
    QString error; // what failed
    QDateTime time; // EndRun sets it when not valid
    std::optional<TVerdict> verdict; // the conclusion computed at the end (a verification that finished)
};

// A table as it stood at the end of what was journalled: the rows of the start with the measured
// ones replaced by their journalled cells and marks (the last measurement of a row wins).
struct TJournalShownRow {
    QStringList cells;
    std::vector<bool> marks;
    bool measured = false;
};
struct TJournalShownTable {
    const TJournalTable *layout = nullptr; // into the run's header
    std::vector<TJournalShownRow> rows; // data rows 1..
};

struct TJournalRun {
    TJournalRunHeader header;
    std::vector<TJournalPoint> points; // in seq order
    std::optional<TJournalRunEnd> end;
    std::vector<TAmendment> amendments; // changes after the end, in order
    TRecordIntegrity integrity = TRecordIntegrity::Unchecked;

    std::vector<TJournalShownTable> ShownTables() const;
    // Position in header.planned of the first point after the last journalled one (planned.size()
    // when the plan is done): where a continued run goes on.
    int ResumePosition() const;
};

struct TJournalTuningHeader {
    TJournalRunId id;
    QDateTime started;
    QString configuration = QStringLiteral("QX4");
    QString programVersion;
    QString bench;
    QString verifier;
    TJournalDevice device;
    TJournalKeyValues settings; // nominal U and I, scheme, addresses, speeds, analog stage …
};

struct TJournalLogLine {
    QDateTime time;
    QString text;
};

// One readback of the transducer against the installation.
struct TJournalReadback {
    QDateTime time;
    TJournalValues device;
    TJournalValues installation;
    std::vector<TJournalError> errors;
    TJournalKeyValues details; // coefficients or anything else read with it
};

struct TJournalTuningRun {
    TJournalTuningHeader header;
    std::vector<TJournalLogLine> lines;
    std::optional<TJournalReadback> asFound; // the first readback
    std::optional<TJournalReadback> asLeft; // the last one
    std::optional<TJournalRunEnd> end;
};

// One line of the archive.
struct TJournalRunSummary {
    TJournalRunId id;
    TJournalRunKind kind = TJournalRunKind::Verification;
    QDateTime started;
    QDateTime ended; // invalid while open
    QString configuration;
    QString deviceNumber;
    QString verifier;
    QString bench;
    TJournalOutcome outcome = TJournalOutcome::Open;
    QString error;
    int points = 0;
    int failedPoints = 0; // points with an error beyond its limit
    QString verdict; // "пригоден", "непригоден" (the amended one when amended), empty: none
    int amendments = 0;
    TRecordIntegrity integrity = TRecordIntegrity::Unchecked;
    // Used a standard found out of tolerance on or before the run's day (the reverse trace's flag).
    bool suspectStandard = false;
    // Its end waits in a bench's buffer for the server (not an unfinished run).
    bool endBuffered = false;
    bool usedAsStandard = false; // the instrument is used as a standard: 20 working days for the Fund
    // Where it stands with the Federal information fund: "выгружено: FILE; dd.MM.yyyy", "принято, № записи …",
    // "отказ: …"; empty: not exported.
    QString arshinStatus;

    // "Пройдена", "Не пройдена: точек с превышением 3", "Остановлена", "Ошибка: …", "Не завершена",
    // for tuning "Настроен", "Остановлена", …
    QString ResultText() const;
};

struct TJournalFilter {
    QDateTime from; // invalid: no lower bound
    QDateTime to; // invalid: no upper bound (exclusive)
    QString deviceNumber; // empty: any; otherwise a part of the number (case-insensitive)
    std::optional<TJournalRunKind> kind;
    bool notExported = false; // only verification runs not yet in an upload file to the Fund
    int limit = 0; // 0: all
};
