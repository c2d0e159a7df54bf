#pragma once
// The archive window "Журнал": the journal's runs newest first (date, kind, configuration, device
// number, verifier, points, result, conclusion, marks: amended, a standard out of tolerance, a record
// changed outside the program), a date range and a device number to filter them, the details of the
// selected run, and "Открыть", "Экспорт в CSV", "Отчёт", "Изменить запись…" (a dialog that records an
// amendment to an ended verification). A line at the bottom says which journal is in use and whether
// points are being journalled.
//
// The host connects "Открыть" and "Отчёт" through Logic().SetOpenHandler / SetReportHandler (the
// buttons stay disabled without them) and calls JournalStateChanged() from the journal's state
// handler. Object names for tests: "dateFilter", "fromDate", "toDate", "deviceNumber", "findButton",
// "runsTable", "details", "openButton", "exportButton", "reportButton", "amendButton", "stateLabel";
// the amendment dialog (a child of the window while open) "amendDialog" with "amendField",
// "amendOldValue", "amendNewValue", "amendVerdict" (for the conclusion), "amendReason", "amendWho"
// and "amendButtons". For the Federal information fund: the column "ФГИС «Аршин»" (where a run stands, or the
// deadline the host computes), the filter "не выгружено" ("notExportedFilter") and "Выгрузить в «Аршин»…"
// ("arshinButton", enabled when the host gives a handler): the finished verification runs listed (or of the
// selected rows, when more than one is selected) go to the handler,
// with the protocols embedded when "с протоколами" ("arshinProtocols") is checked.

#include "journal/journalarchivelogic.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class TJournalRunsModel;

class TJournalWindow : public QWidget, public IJournalArchiveView {
    Q_OBJECT
public:
    // `journal` is not owned and outlives the window.
    explicit TJournalWindow(TJournal *journal, QWidget *parent = nullptr);
    ~TJournalWindow() override;

    TJournalArchiveLogic &Logic() { return logic_; }
    void JournalStateChanged() { logic_.JournalStateChanged(); }
    // The file "Экспорт в CSV" writes: a save dialog unless replaced (tests).
    void SetSavePathProvider(std::function<QString(const QString &suggested)> provider)
    {
        savePath_ = std::move(provider);
    }
    // The run of the current row; empty when none.
    TJournalRunId SelectedRun() const;
    // The deadline shown for a run not yet sent to the Fund: its text and whether it is near or past.
    using TDeadline = std::function<std::pair<QString, bool>(const TJournalRunSummary &)>;
    void SetFundDeadline(TDeadline deadline);
    // "Выгрузить в «Аршин»…": the host writes the file of these runs (the list as filtered), then Refresh.
    using TArshinHandler = std::function<void(const std::vector<TJournalRunId> &, bool withProtocols)>;
    void SetArshinHandler(TArshinHandler handler);

    // IJournalArchiveView
    void ShowRuns(const std::vector<TJournalRunSummary> &runs) override;
    void ShowDetails(const QString &text) override;
    void ShowJournalState(const QString &text, bool journalling) override;
    void SetActionsEnabled(bool open, bool exportCsv, bool report, bool amend) override;
    void SelectRun(const TJournalRunId &run) override;
    void ShowError(const QString &text) override;
    void ShowMessage(const QString &text) override;

private:
    void Find();
    void CurrentChanged();
    void ExportClicked();
    void AmendClicked();
    void ArshinClicked();

    TJournalArchiveLogic logic_;
    std::unique_ptr<TJournalRunsModel> model_;
    QCheckBox *dateFilter_ = nullptr;
    QDateEdit *from_ = nullptr;
    QDateEdit *to_ = nullptr;
    QLineEdit *deviceNumber_ = nullptr;
    QTableView *table_ = nullptr;
    QPlainTextEdit *details_ = nullptr;
    QPushButton *open_ = nullptr;
    QPushButton *export_ = nullptr;
    QPushButton *report_ = nullptr;
    QPushButton *amend_ = nullptr;
    QPushButton *arshin_ = nullptr;
    QCheckBox *notExported_ = nullptr;
    QCheckBox *arshinProtocols_ = nullptr;
    TArshinHandler arshinHandler_;
    QLabel *state_ = nullptr;
    std::function<QString(const QString &)> savePath_;
};
