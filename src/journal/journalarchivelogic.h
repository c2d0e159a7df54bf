#pragma once
// The archive window's logic ("Журнал"): the runs of the journal newest first, filtered by a date
// range and a device number, the details of the selected run, and its actions: open it (a
// verification window, given by the host), export its tables to CSV, make its report (given by the
// host), record a change to an ended verification (an amendment beside the run, never an edit of it).
// No widgets: the window passes every user choice as an argument and shows what it is told.

#include "journal/journal.h"

#include <QDate>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class IJournalArchiveView {
public:
    virtual ~IJournalArchiveView() = default;
    virtual void ShowRuns(const std::vector<TJournalRunSummary> &runs) = 0;
    virtual void ShowDetails(const QString &text) = 0;
    // Which journal is in use and whether points are being journalled.
    virtual void ShowJournalState(const QString &text, bool journalling) = 0;
    virtual void SetActionsEnabled(bool open, bool exportCsv, bool report, bool amend) = 0;
    // Makes `run` the current row again (after the list was read anew); nothing when it is not listed.
    virtual void SelectRun(const TJournalRunId &run) = 0;
    virtual void ShowError(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;
};

class TJournalArchiveLogic {
public:
    using TRunHandler = std::function<void(const TJournalRunId &)>;

    // Neither is owned; both outlive the logic.
    TJournalArchiveLogic(TJournal *journal, IJournalArchiveView *view);

    // "Открыть": the host shows the run in a verification window (read-only until copied).
    void SetOpenHandler(TRunHandler handler) { openHandler_ = std::move(handler); }
    // "Отчёт": the host makes the run's report from the shipped or a chosen template.
    void SetReportHandler(TRunHandler handler) { reportHandler_ = std::move(handler); }

    // Shows the journal's state and every run.
    void Start();
    // A date range (both days included) when `byDate`, and a part of the device number.
    void ApplyFilter(bool byDate, const QDate &from, const QDate &to, const QString &deviceNumber);
    void Refresh();
    // Only verification runs not yet in an upload file to the Federal information fund.
    void SetNotExportedOnly(bool on);
    void JournalStateChanged();

    // An empty id: nothing selected.
    void Select(const TJournalRunId &run);
    void Open(const TJournalRunId &run);
    void Report(const TJournalRunId &run);
    // Writes the run's tables as a scenario file; true when written (the view is told either way).
    bool ExportCsv(const TJournalRunId &run, const QString &path);
    // "Поверка <device> <yyyy-MM-dd HH-mm>.csv"
    QString SuggestedFileName(const TJournalRunId &run) const;

    // What "Изменить запись…" offers for an ended verification run: every field that may be amended
    // with its current value, and the verifier as the proposed author. Nullopt (the view told why) for
    // a run that is open, not a verification, or cannot be read.
    struct TAmendmentForm {
        TJournalRunId run;
        TJournalKeyValues fields; // field → its value as amended so far
        QString who;
    };
    std::optional<TAmendmentForm> AmendmentForm(const TJournalRunId &run);
    // Records a change of `field` to `newValue` (the old value is the run's current one), then reads
    // the list again with the run selected. Refused (the view told why, false) without a reason or an
    // author, for a field not offered, a verdict other than "пригоден"/"непригоден", a condition that
    // is not a number, a value equal to the current one, and whatever the journal refuses. True also
    // when the journal keeps the change in memory until it can write it (the view is told so).
    bool Amend(const TJournalRunId &run, const QString &field, const QString &newValue, const QString &reason,
        const QString &who);

    // The fields of a run that may be amended, in the dialog's order: "Report/<Key>" for each key of
    // its report data, "conditions/temperature", "conditions/humidity", "conditions/pressure",
    // "owner", "modification", "manufactureYear", "verdict"; each with its current value.
    static TJournalKeyValues AmendableFields(const TJournalRun &run);
    // A field's value as the run's amendments leave it: the last amendment of that field wins,
    // otherwise the value recorded at the run (conditions with a decimal comma, empty when not
    // entered; the verdict "пригоден"/"непригоден", empty without one).
    static QString CurrentValue(const TJournalRun &run, const QString &field);

    const std::vector<TJournalRunSummary> &Runs() const { return runs_; }
    const TJournalFilter &Filter() const { return filter_; }

    // `endBuffered`: the run's end waits in a bench's buffer (the run is not unfinished).
    static QString DetailsText(const TJournalRun &run, bool endBuffered = false);
    static QString DetailsText(const TJournalTuningRun &run);

private:
    const TJournalRunSummary *Find(const TJournalRunId &run) const;

    TJournal *journal_;
    IJournalArchiveView *view_;
    TRunHandler openHandler_;
    TRunHandler reportHandler_;
    TJournalFilter filter_;
    std::vector<TJournalRunSummary> runs_;
};
