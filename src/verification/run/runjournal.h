#pragma once
// A verification run as the results journal keeps it. The recorder watches a run like any observer
// and writes its header, each point the moment its row is filled, and its end; nothing it does can
// stop or slow the run beyond the journal's own commit (a journal that cannot write tells the user
// itself and keeps what it could not write).
//
// The run's header is written when the run first has something to record (the transducer's
// identity, a point, or its end), so that an identity read at the start of an RS run is part of it;
// the start time is the run's own.
//
// The same records let a window show a journalled run again: its tables, and its report tabs and
// header data as they were when it ran.

#include "journal/journal.h"
#include "verification/report/reportdata.h"
#include "verification/report/reportproducer.h"
#include "verification/run/runobserver.h"

#include <optional>

class TAvtopoverkaLogic;

class TRunJournalRecorder : public IRunObserver {
public:
    // Neither is owned; `journal` may be null (nothing is recorded).
    TRunJournalRecorder(TJournal *journal, TAvtopoverkaLogic &logic);

    // The next run that starts from a later point than the first goes on with this journalled run
    // (its points continue its numbering) instead of beginning a new one.
    void ContinueWith(const TJournalRunId &run) { continueWith_ = run; }
    // The run being recorded; empty outside a run.
    const TJournalRunId &Current() const { return current_; }
    // The last run recorded (kept after its end).
    const TJournalRunId &Last() const { return last_; }

    void RunStarted(const TRunStart &start) override;
    void DeviceIdentified(const TDeviceInfo &info) override;
    void PointMeasured(const TMeasuredPoint &point) override;
    void RunEnded(const TRunEnd &end) override;

    // What a run start and a filled row become in the journal.
    static TJournalRunHeader HeaderOf(const TRunStart &start, TAvtopoverkaLogic &logic);
    // The errors are those of the quantities the row shows (`grid`'s output columns); all that were
    // compared when no grid is given.
    static TJournalPoint PointOf(const TMeasuredPoint &point, const TSuperAvtopoverkaGrid *grid = nullptr);
    static std::vector<TJournalError> ErrorsOf(
        const TSuperAvtopoverkaGrid::TRowResults &results, const TSuperAvtopoverkaGrid *grid = nullptr);

private:
    void BeginIfPending();

    TJournal *journal_;
    TAvtopoverkaLogic &logic_;
    std::optional<TJournalRunHeader> pending_;
    TJournalRunId current_;
    TJournalRunId last_;
    TJournalRunId continueWith_;
    bool continuing_ = false;
};

namespace KestRunJournal {

QString ScopeName(TRunScope scope); // "tab", "all", "row"
std::optional<TRunScope> ScopeOf(const QString &name);

// The report header data as key/values and back ("ProtocolNum" … "KI2").
TJournalKeyValues KeyValuesOf(const TReportData &data);
TReportData ReportDataOf(const TJournalKeyValues &values);

// A journalled run's tables as the report takes them: every table of the run with its cells and
// marks as they were last journalled, and the permissible error of the run's time (`settings`' for a
// run that did not keep it).
QList<TReportTab> ReportTabsOf(const TJournalRun &run, const TJournalLimits &settings = TJournalLimits());
// The laboratory's placeholders of a journalled run (its records as amended, its amendments).
TJournalKeyValues LabFieldsOf(const TJournalRun &run);
// The run's report: its tables, and the header data of its time unless the request gives others.
QString ProduceReport(TConfigController *store, const TJournalRun &run, TReportRequest request, IReportView *view);
// The run's protocol as PDF at exactly `pdfPath` (the settings' Word template, else the shipped one),
// for attaching it elsewhere: nothing opened, nothing shown. False with `error` saying why (what to
// install when PDF cannot be written at all).
bool ProducePdfProtocol(TConfigController *store, const TJournalRun &run, const QString &pdfPath, QString *error);

} // namespace KestRunJournal
