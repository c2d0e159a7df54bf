#pragma once
// The verification window "Автоповерка" and its per-configuration forms: TForm2 (the window common to all
// configurations) ← TAvtopoverkaWithKestInterface (the installation's link) ← TForm3 (QX4, and the extra
// panel of the transducer's output signal, coefficients, RS-485 speed and address) ← TAvtopoverkaI,
// TAvtopoverkaU, TAvtopoverkaPQ ("F", "P", "Q", "PQ"), TAvtopoverkaQX4E.
//
// Thin over TAvtopoverkaLogic: every control passes its value to a handler of the logic, and the logic
// says what to show. What differs between the configurations is the logic's configuration row.
//
// Opened modeless from the main window's "Автоповерка" (CreateVerificationWindow); it deletes itself
// when closed, after the installation has been switched off, and never touches the settings store in its
// destructor (the store may be gone by then).

#include "config/startoptions.h"
#include "protocol/configuration.h"
#include "verification/report/reportproducer.h"
#include "verification/run/avtopoverkalogic.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QToolButton;
class QVBoxLayout;
class TErrorChartWidget;
class TAvtopoverkaGridView;
class TConfigController;
class TFloatSpinEdit;
class TNumericUpDown;

class TForm2 : public QMainWindow, public IAvtopoverkaView, public IReportView {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 1120;

    ~TForm2() override;

    // Creates the logic over the settings store and sets the window up for the configuration
    // `_configurationName` ("QX4", "I", …; an unknown name keeps the form's own configuration).
    virtual void Init(TConfigController *_config, const QString &_configurationName);

    TAvtopoverkaLogic &Logic() { return *logic_; }
    TConfigurationCode Code() const { return code_; }

    // A journalled run in this window: as it stood at its last journalled point, either only to be
    // looked at (an archived run: nothing can be edited, started or sent until "Копировать для
    // правки"; its report carries the header data of its time), or as the user's own again (a run
    // restored after the program ended in the middle of it).
    void ShowJournalledRun(const TJournalRun &run, bool readOnly);
    // Before Init: the window opens read-only (an archived run), sending nothing on opening either.
    void SetReadOnlyFromStart(bool readOnly) { readOnlyFromStart_ = readOnly; }
    // What this run of the program was started with (its installation port, its voltage range); set
    // before Init.
    void SetThisRun(const TStartOptions &run) { thisRun_ = run; }
    // The status bar's journal line ("Журнал: …"); empty without a journal. Follows the journal's state.
    QString JournalStateText() const;
    void UpdateJournalState();

    // A panel under the tables (an error chart, say); the window keeps it.
    void AddPanelBelowTables(QWidget *panel);

    // File names for "Сохранить", "Загрузить" and the scenario commands: the file dialogs unless replaced
    // (tests). `save` tells a save from an open.
    using TFileChooser = std::function<QString(QWidget *parent, bool save)>;
    void SetFileChooser(TFileChooser chooser) { chooser_ = std::move(chooser); }

    // Controls by caption, for tests and screenshots.
    QPushButton *Button(const QString &caption) const;
    TNumericUpDown *Entry(TEntry entry) const;
    QTabWidget *Tabs() const { return tabs_; }
    TAvtopoverkaGridView *GridView(int tab) const;
    QToolButton *PlusButton() const { return plus_; }
    QAction *MenuAction(const QString &caption) const;
    QComboBox *RangeList() const { return rangeList_; }
    QWidget *ExtraPanel() const { return extraPanel_; }
    QPushButton *ReadSettingsButton() const { return readSettings_; }
    QLabel *CoefficientLabel() const { return coefficientLabel_; }
    QString StatusText() const;
    // The error chart of the active tab under the tables ("График погрешностей" shows and hides it).
    TErrorChartWidget *ErrorChart() const { return errorChart_; }
    // Brings the chart up to the active tab's table now (it also follows by itself twice a second).
    void UpdateErrorChart(bool force = true);
    QByteArray ReportChart(int tab) const;
    // The laboratory's record of the next run, when the bench keeps one: its standards, the type
    // remembered for the device, the owner, and the conditions asked now. False: the user cancelled.
    bool PrepareLabRecord();
    void OverrideVerdict();
    // The "Заполнить точки" set the instrument type remembered for the device prefers; empty: none.
    QString PreferredPointSet() const;

    // IAvtopoverkaView
    void ShowError(const QString &text) override;
    void ShowMessage(const QString &text) override;
    bool Confirm(const QString &title, const QString &text) override;
    void OpenScenarioSettings() override { OpenScenarioWindow(); }
    void ShowSelections(const TAvtopoverkaSelections &selections) override;
    void SetEntryLimits(TEntry entry, double min, double max) override;
    void SetEntryValue(TEntry entry, double value) override;
    void AddTabPage(int tab, TKestAvtopoverkaGrid *grid) override;
    void SetTabVisible(int tab, bool visible) override;
    void SetTabCaption(int tab, const QString &caption) override;
    void SetActiveTab(int tab) override;
    void SetPlusVisible(bool visible) override;
    void SetPasteEnabled(bool enabled) override;
    void SetLocked(bool locked) override;
    void ShowProgress(const QString &text) override;
    void SetAddressColor(uint32_t windowsColor) override;
    void SetAddressEnabled(bool enabled) override;
    void SetReadSettingsEnabled(bool enabled) override;
    void SetCoefficientLabel(const QString &text) override;

    // IReportView
    void SetBusy(bool busy) override;
    void SetReportCommandsEnabled(bool enabled) override;
    void OpenDocument(const QString &path) override;

protected:
    TForm2(TConfigurationCode code, QWidget *parent);

    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

    // The panels the configuration shows, once the logic exists.
    virtual void ApplyConfigurationLayout();
    TEntryValues EntryValues() const;
    TConfigController *config_ = nullptr;
    std::unique_ptr<TAvtopoverkaLogic> logic_;
    QWidget *extraPanel_ = nullptr;

private:
    void BuildMenu();
    void BuildEntryPanel(QWidget *parent);
    void BuildSetupPanel(QWidget *parent);
    void BuildExtraPanel(QWidget *parent);
    void BuildButtons(QWidget *parent);
    void BuildTabs(QWidget *parent);
    void BindActions();
    QPushButton *AddButton(QWidget *parent, const QString &caption, int x, int y, int w);
    void PlacePlus();
    void OpenScenarioWindow();
    void OpenCoefficientWindow(const QPoint &pos);
    void ProduceReport(TReportFormat format);
    QString ChooseFile(bool save);

    TConfigurationCode code_;
    TFileChooser chooser_;
    bool closing_ = false;
    std::map<QString, QPushButton *> buttons_;
    std::map<TEntry, TNumericUpDown *> entries_;
    std::map<QString, QAction *> actions_;
    QCheckBox *autoIncrement_ = nullptr;
    TFloatSpinEdit *autoIncrementStep_ = nullptr;
    QComboBox *rangeList_ = nullptr;
    QGroupBox *schemeBox_ = nullptr;
    QButtonGroup *scheme_ = nullptr;
    QGroupBox *currentBox_ = nullptr;
    QButtonGroup *current_ = nullptr;
    QGroupBox *voltageBox_ = nullptr;
    QButtonGroup *voltage_ = nullptr;
    QComboBox *load_ = nullptr;
    QCheckBox *aru_ = nullptr;
    QWidget *setupPanel_ = nullptr;
    QComboBox *outputSignal_ = nullptr;
    QLabel *coefficientLabel_ = nullptr;
    QComboBox *speed_ = nullptr;
    QCheckBox *autoMode_ = nullptr;
    QPushButton *readSettings_ = nullptr;
    QTabWidget *tabs_ = nullptr;
    QToolButton *plus_ = nullptr;
    QMenu *tabMenu_ = nullptr;
    QVBoxLayout *tablesLayout_ = nullptr;
    TErrorChartWidget *errorChart_ = nullptr;
    QTimer *chartTimer_ = nullptr; // draws the chart once a burst of table changes is over
    std::vector<TListeners<>::TSubscription> tableChanged_;
    TJournal *watchedJournal_ = nullptr;
    TListeners<const TJournalState &>::TSubscription journalChanged_;
    int chartTab_ = -1;
    uint64_t chartRevision_ = 0;
    QLabel *status_ = nullptr;
    std::map<int, TAvtopoverkaGridView *> views_;
    bool plusWanted_ = true;
    bool busy_ = false;
    bool locked_ = false;
    std::optional<TReportData> journalHeaderData_; // while an archived run is looked at
    QList<QPair<QString, QString>> journalLabFields_;
    QAction *copyForEditing_ = nullptr;
    QLabel *journalState_ = nullptr;
    bool readOnlyFromStart_ = false;
    TStartOptions thisRun_;
};

class TAvtopoverkaWithKestInterface : public TForm2 {
    Q_OBJECT
protected:
    using TForm2::TForm2;
};

// "QX4", and the common base of the other configurations' windows.
class TForm3 : public TAvtopoverkaWithKestInterface {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr) : TForm3(TConfigurationCode::QX4, parent) { }

protected:
    TForm3(TConfigurationCode code, QWidget *parent) : TAvtopoverkaWithKestInterface(code, parent) { }
};

class TAvtopoverkaI : public TForm3 {
    Q_OBJECT
public:
    explicit TAvtopoverkaI(QWidget *parent = nullptr) : TForm3(TConfigurationCode::I, parent) { }
};

class TAvtopoverkaU : public TForm3 {
    Q_OBJECT
public:
    explicit TAvtopoverkaU(QWidget *parent = nullptr) : TForm3(TConfigurationCode::U, parent) { }
};

// "PQ", and "F", "P", "Q", which have no window of their own.
class TAvtopoverkaPQ : public TForm3 {
    Q_OBJECT
public:
    explicit TAvtopoverkaPQ(QWidget *parent = nullptr) : TForm3(TConfigurationCode::PQ, parent) { }
};

class TAvtopoverkaQX4E : public TForm3 {
    Q_OBJECT
public:
    explicit TAvtopoverkaQX4E(QWidget *parent = nullptr) : TForm3(TConfigurationCode::QX4E, parent) { }
};

// The window of a configuration, initialised over the store, a window of its own owned by `parent` and
// deleted when closed; the caller shows it. "F", "P", "Q" get TAvtopoverkaPQ.
// Every run of the window is journalled in `journal` when one is given (not owned; outlives the window).
// It talks over the installation's port of this run and starts on its voltage range (see TStartOptions).
TForm2 *CreateVerificationWindow(TConfigController *store, TConfigurationCode code, QWidget *parent,
    TJournal *journal = nullptr, const TStartOptions &thisRun = {});
// The window of a journalled run's configuration with the run in it (see TForm2::ShowJournalledRun);
// null when the run's configuration is unknown.
TForm2 *CreateJournalledRunWindow(TConfigController *store, TJournal *journal, const TJournalRun &run, bool readOnly,
    QWidget *parent, const TStartOptions &thisRun = {});
// A run the program did not end, back in its window (shown): the user is asked whether it goes on from
// its next point; when it does not (or cannot), the journal records it as interrupted.
TForm2 *RestoreJournalledRun(TConfigController *store, TJournal *journal, const TJournalRun &run, QWidget *parent,
    const TStartOptions &thisRun = {});
// "Отчёт" of the archive: the run's report from a template the user picks (the settings' Word template
// offered first, the shipped one unless it was changed), opened when done. The report's path, or empty.
QString ReportJournalledRun(TConfigController *store, const TJournalRun &run, QWidget *parent);
