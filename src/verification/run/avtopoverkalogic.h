#pragma once
// The verification window ("Автоповерка") without its widgets: the setup panel and the point entry, the
// tabs and their tables, the table and file commands, the three ways to start a run and "Стоп", the
// transducer's address, mode and settings, the scenario and coefficient windows' results, and the
// report. The window (or the command line, or a test) calls the handlers with what the user chose and
// shows what it is told through IAvtopoverkaView; the run itself is TRunDriver's.

#include "verification/report/reportproducer.h"
#include "verification/run/avtopoverkacontext.h"
#include "verification/run/rundriver.h"
#include "verification/run/runjournal.h"
#include "verification/run/verificationtabs.h"

#include <QList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class TAvtopoverkaLogic : private IRunHost {
public:
    // The percentages of the nominal value that "Заполнить точки" puts on a tab.
    static constexpr double kFillPercents[] = {0, 25, 50, 75, 100, 120};

    TAvtopoverkaLogic(IAvtopoverkaView *view, TConfigController *store, TConfigurationCode code);
    ~TAvtopoverkaLogic() override;
    TAvtopoverkaLogic(const TAvtopoverkaLogic &) = delete;
    TAvtopoverkaLogic &operator=(const TAvtopoverkaLogic &) = delete;

    // Once the window's controls exist: entry limits and values, the first tab, the coefficients; the
    // PQ window tells the installation which parameter to relay.
    void Init();
    // The installation's port and rate for this window only (tests, the command line).
    void SetPortOverride(const QString &port, const QString &rate = QString());

    const TVerificationTypeRow &Type() const { return ctx_.type; }
    TConfigurationCode Code() const { return ctx_.code; }
    TAvtopoverkaContext &Context() { return ctx_; }
    TVerificationTabs &Tabs() { return tabs_; }
    TRunDriver &Driver() { return driver_; }
    const TAvtopoverkaSelections &Selections() const { return ctx_.selections; }
    const TEntryValues &Entries() const { return ctx_.entries; }
    double NominalI() const { return ctx_.nominalI; }
    double NominalU() const { return ctx_.nominalU; }
    int WindowX() const { return ctx_.avtopoverkaConfig->ReadAvtopoverkaWindowCoordX(); }
    int WindowY() const { return ctx_.avtopoverkaConfig->ReadAvtopoverkaWindowCoordY(); }

    // "380 V" or "400 V" selected; in the voltage transducer's window "Диапазон" above "0..400".
    bool IsHighVoltageRange() const;
    // The installation's configuration from the selections.
    TKestConfiguration BuildKestConfiguration() const;

    // ---- setup panel ----
    void CurrentRangeChosen(TCurrentRange range);
    void VoltageChosen(TVoltageRange voltage);
    void SchemeChosen(bool scheme4);
    void LoadChosen(bool max);
    void AruChosen(bool on);
    void RangeIndexChosen(int index);
    void OutputSignalChosen(int index);
    void SpeedChosen(int index);
    void AutoIncrementChosen(bool on, double step);

    // ---- entries ----
    // The action button of an entry: its value into the selected row of the active table ("Адр.":
    // sent to the transducer).
    void EntryAction(TEntry entry, double value);

    // ---- tables ----
    void RowClicked(int row);
    void AddRowClicked(const TEntryValues &values);
    void InsertRowClicked(const TEntryValues &values);
    void DeleteRowClicked();
    void ClearRowClicked();
    void ClearAllClicked();
    void ClearResultsClicked();
    // "Заполнить точки": the sets of points this configuration's transducers are verified at, for the
    // active tab's columns and the chosen output signal; the first one is 0 … 120 % of the nominal
    // current (voltage in the voltage window). Each row of a set is appended to the active tab, the
    // inputs the set does not give as entered.
    struct TPointSet {
        enum TWhat { Current, Voltage, Frequency };
        QString caption;
        TWhat what;
        std::vector<double> values; // percent of the nominal, or hertz
        std::vector<double> angles; // each value at each angle; none: the entered angle
    };
    std::vector<TPointSet> PointSets() const;
    QStringList PointSetCaptions() const;
    void FillPointsClicked(const TEntryValues &values, int set = 0);
    bool SaveTable(const QString &file);
    bool LoadTable(const QString &file);
    bool SaveScenario(const QString &file);
    bool LoadScenario(const QString &file);

    // ---- tabs ----
    void PlusClicked();
    void CloseTabClicked();
    void TabSelected(int tab);
    void CopyTabClicked();
    void PasteClicked();

    // ---- runs ----
    bool StartCurrentTab();
    bool StartAllTabs();
    bool StartSelectedRow();
    // The points a run of `scope` would take as the tables stand, in run order.
    std::vector<TRunPoint> PlanOf(TRunScope scope) const;
    // A run of `scope` from point `firstPoint` (an index into PlanOf(scope)) on; the rows of the points
    // before it keep what they show (a run continued after a restart). False when it cannot start.
    bool StartFrom(TRunScope scope, int firstPoint);
    void StopClicked();
    bool IsRunning() const { return driver_.IsRunning(); }
    void AddRunObserver(IRunObserver *observer) { driver_.AddObserver(observer); }
    void RemoveRunObserver(IRunObserver *observer) { driver_.RemoveObserver(observer); }

    // ---- the results journal ----
    // Every run of this window journalled from now on (null: none). Not owned; outlives the logic.
    void SetJournal(TJournal *journal);
    // What the next run records of the laboratory's side: type, owner, conditions, standards. Copied into
    // the run's journal header at its start.
    void SetLabRecord(TLabRunRecord record) { lab_ = std::move(record); }
    const TLabRunRecord &LabRecord() const { return lab_; }
    // The conclusion of the last run that finished with its points journalled; none otherwise.
    const std::optional<TVerdict> &LastVerdict() const { return lastVerdict_; }
    void SetLastVerdict(std::optional<TVerdict> verdict) { lastVerdict_ = std::move(verdict); }
    // The note on a cell whose quantity the reference measures less than the laboratory's ratio of
    // accuracies allows (as found at the last run's start); empty for the others.
    QString LowRatioNote(int tab, int col) const;
    TJournal *Journal() const { return journal_; }
    TRunJournalRecorder *Recorder() const { return recorder_.get(); }
    // A journalled run back in the window: the setup panel as the run had it, every table with its
    // rows, cells and marks as last journalled. False (nothing changed) while something runs.
    bool ShowJournalledRun(const TJournalRun &run);
    // Why the run cannot go on from its next point in this window as it stands; empty when it can.
    QString ContinueProblem(const TJournalRun &run);
    // The run goes on from the point after its last journalled one, into the same journal run.
    bool ContinueJournalledRun(const TJournalRun &run);
    // After a run was brought back: asks whether to go on (or says why it cannot) and goes on when the
    // user agrees; a run not taken up again is ended in the journal as interrupted. True: it goes on.
    bool OfferToContinue(const TJournalRun &run);
    // A run opened from the archive is only looked at: nothing is edited, started or sent until
    // the user makes it a copy of their own (SetReadOnly(false)). Set before Init, not even the
    // opening's parameter number goes to the installation.
    void SetReadOnly(bool readOnly);
    bool IsReadOnly() const { return readOnly_; }
    // The band of the error chart: the permissible error of the tab's kind, percent.
    double ErrorLimit(bool analog) const;

    // ---- extra panel ----
    void AutoClicked(bool on, double address);
    void ReadSettingsClicked();
    // After the coefficient window: the coefficients of the settings apply.
    void CoefficientsChanged();
    // The analog parameters of outputs 1–3 in force for the active tab ("0": none).
    QStringList AnalogParamNums() const;

    // The scenario window: what to hand it, and what it gave back when it closed.
    struct TScenarioSetUp {
        bool fixedAnalogSet = false; // SetDoesHaveFixedAnalogSet(true)
        bool setCaptions = false; // SetAnalogOutAndCheckBoxCaption(analogParamNums)
        QStringList analogParamNums;
        bool readFromConfig = false; // ReadAnalogParamIndexesFromConfig(active tab)
    };
    TScenarioSetUp ScenarioSetUp() const;
    void ScenarioClosed(const TAnalogOut &analogOut);

    // ---- report ----
    // Every created tab (closed ones included), in tab order.
    QList<TReportTab> ReportTabs() const;
    QString ProduceReport(const TReportRequest &request, IReportView *view);
    // The error chart of a tab as a PNG for a Word or PDF report ("#график"); charts need widgets, so
    // the window supplies them. Unset (kestctl): reports without charts.
    using TChartRenderer = std::function<QByteArray(int tab)>;
    void SetChartRenderer(TChartRenderer renderer) { chartRenderer_ = std::move(renderer); }

    // ---- closing ----
    // Switches the installation off (waiting for its confirmation) and stores the window's position.
    void Closing(int x, int y);

private:
    // IRunHost
    void RunMovedToTab(int tab) override;
    void DeviceInfoTaken() override;
    void DeviceSettingsRead(const TDeviceInfo &info) override;
    void AddressRead(int address) override;
    void RunEnded(const TRunEnd &end) override;

    // The standards of the run checked before anything is sent: out of their verification (or found out
    // of tolerance) they warn or refuse the start as the laboratory's setting says. Also records the
    // lowest ratio of accuracies of the quantities the run will measure.
    bool LabChecksAllowStart(const std::vector<TRunPoint> &plan);

    void UpdateNominalCurrent();
    void UpdateNominalVoltage();
    // The tables and the window's editing controls, together.
    void Lock(bool locked);
    TInputData InputFromValues(const TEntryValues &values) const;
    // The input of a row added or inserted from the entries (auto-increment applied).
    TInputData NewRowInput(const TEntryValues &values);
    bool ReadRunSettings(TRunSettings &settings);
    // Empty when every point from `first` on may be sent; otherwise why not.
    // False, after saying so and offering the scenario window, when a tab of the plan has no output column.
    bool OfferOutputColumns(const std::vector<TRunPoint> &plan);
    QString PlanProblem(const std::vector<TRunPoint> &points, int first) const;
    QString TabName(int tab) const;
    // True when nothing else holds the installation's link; otherwise tells the user why not (nothing
    // during a run, whose controls are locked).
    bool LinkFree();
    // The analog tabs of the points from `first` on show what the device's assignment puts on their
    // inputs, or the user had their columns rebuilt; false: the user declined.
    bool AnalogColumnsAgreed(const std::vector<TRunPoint> &points, int first);
    // The input columns this window's points need (the others are not set by it).
    QStringList InputColumnsUsed() const;
    // The points of a table read from a file into a tab, in place of its own.
    void TakePoints(TKestAvtopoverkaGrid &grid, const TStringGridWithData &points);

    TAvtopoverkaContext ctx_;
    TVerificationTabs tabs_;
    TRunDriver driver_;
    TJournal *journal_ = nullptr;
    std::unique_ptr<TRunJournalRecorder> recorder_;
    TChartRenderer chartRenderer_;
    TLabRunRecord lab_;
    std::optional<TVerdict> lastVerdict_;
    std::map<TQuantityKind, QString> lowRatio_;
    bool readOnly_ = false;
};
