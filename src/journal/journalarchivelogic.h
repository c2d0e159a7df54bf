#pragma once
// The archive window's logic ("Журнал"): the runs of the journal newest first, filtered by a date
// range and a device number, the details of the selected run, and its actions: open it (a
// verification window, given by the host), export its tables to CSV, make its report (given by the
// host). No widgets: the window passes every user choice as an argument and shows what it is told.

#include "journal/journal.h"

#include <QDate>
#include <QString>

#include <functional>
#include <vector>

class IJournalArchiveView {
public:
    virtual ~IJournalArchiveView() = default;
    virtual void ShowRuns(const std::vector<TJournalRunSummary> &runs) = 0;
    virtual void ShowDetails(const QString &text) = 0;
    // Which journal is in use and whether points are being journalled.
    virtual void ShowJournalState(const QString &text, bool journalling) = 0;
    virtual void SetActionsEnabled(bool open, bool exportCsv, bool report) = 0;
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
    void JournalStateChanged();

    // An empty id: nothing selected.
    void Select(const TJournalRunId &run);
    void Open(const TJournalRunId &run);
    void Report(const TJournalRunId &run);
    // Writes the run's tables as a scenario file; true when written (the view is told either way).
    bool ExportCsv(const TJournalRunId &run, const QString &path);
    // "Поверка <device> <yyyy-MM-dd HH-mm>.csv"
    QString SuggestedFileName(const TJournalRunId &run) const;

    const std::vector<TJournalRunSummary> &Runs() const { return runs_; }
    const TJournalFilter &Filter() const { return filter_; }

    static QString DetailsText(const TJournalRun &run);
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
