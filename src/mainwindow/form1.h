#pragma once
// The main control window, "KestManager 1.18": the widgets of the output control, ranges, readout and
// connection, kept thin over TMainLogic.

#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

#include "config/startoptions.h"
#include "journal/journal.h"
#include "mainwindow/mainlogic.h"
#include "mainwindow/mainview.h"
#include "protocol/ranges.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTemporaryDir;
struct TArshinOptions;
class TConfigController;
class TLabelAndError;
class TNumericUpDown;
class TNumericUpDownWithToggles;
class TParameterGroupComponent;
class TJournalWindow;
class TVectorDiagramForm;
class TSettingsForm;
class TUpdate;

class TForm1 : public QMainWindow, public IMainView {
    Q_OBJECT
public:
    static inline const QString kCaption = QStringLiteral("KestManager 1.18");

    struct TOptions {
        QString port1; // this run only; the settings keep their own
        QString port2;
        bool checkForUpdates = true;
        std::optional<TVoltageRange> voltage; // the voltage range to start on, this run only (none: the preset)
        // Opens the verification window of a configuration (modeless, owned by the main window, deleted
        // when closed); the program gives it. Without it "Автоповерка" stays disabled.
        // It talks over the ports of this run (port1, port2 above).
        std::function<QWidget *(TConfigController *, TConfigurationCode, QWidget *parent, const TStartOptions &)>
            verificationWindow;
        // The tuning window over the settings store and the ports of this run, made by the program (none:
        // "Автонастройка" stays off).
        std::function<QWidget *(TConfigController *, QWidget *parent, const TStartOptions &)> tuningWindow;
        // The results journal every window writes to (not owned; outlives the window); null: none, and
        // "Журнал" stays disabled.
        TJournal *journal = nullptr;
        // A journalled verification run in a verification window: read-only from the archive, or
        // restored (and perhaps continued) after the program ended in the middle of it.
        std::function<QWidget *(
            TConfigController *, const TJournalRun &, bool readOnly, QWidget *parent, const TStartOptions &)>
            journalledRunWindow;
        // "Отчёт" of the archive.
        std::function<void(TConfigController *, const TJournalRun &, QWidget *parent)> journalReport;
        // A journalled run's protocol as PDF at that path, for the Fund's upload; false with the reason.
        // Null: the archive's export offers no protocols.
        std::function<bool(TConfigController *, const TJournalRun &, const QString &pdf, QString *error)>
            journalProtocol;
    };

    explicit TForm1(const TOptions &options, QWidget *parent = nullptr);
    ~TForm1() override;

    TMainLogic &Logic() { return *logic; }
    TConfigController &Config() { return *config; }

    // Widgets by role, for tests and screenshots.
    QPushButton *ConnectButton() const { return connectButton; }
    QPushButton *PauseButton() const { return pauseButton; }
    QComboBox *ConfigurationList() const { return configurationList; }
    TNumericUpDownWithToggles *CurrentControl() const { return controlI; }
    TNumericUpDownWithToggles *VoltageControl() const { return controlU; }
    TNumericUpDown *AngleControl() const { return controlAngle; }
    TNumericUpDown *FrequencyControl() const { return controlF; }
    TNumericUpDown *AddressControl() const { return controlAddress; }
    TParameterGroupComponent *Readout(int param) const { return readouts.value(param); }
    QGroupBox *ReadoutGroup(const QString &caption) const { return groups.value(caption); }
    TParameterGroupComponent *AnalogReadout() const { return analogReadout; }
    QLabel *CoefficientLabel() const { return coefficientLabel; }
    QLabel *CyclesLabel() const { return cyclesLabel; }
    QCheckBox *AruBox() const { return aruBox; }
    QCheckBox *AutoBox() const { return autoBox; }
    QPushButton *ReadSettingsButton() const { return readSettingsButton; }
    QAction *SettingsAction() const { return settingsAction; }
    QAction *VerificationAction() const { return verificationAction; }
    QAction *TuningAction() const { return tuningAction; }
    TSettingsForm *SettingsForm() const { return settingsForm; }
    TUpdate *UpdateWindow() const { return updateForm; }
    QWidget *OutputGroup() const { return outputGroup; }

    // Opens the coefficient window (modal) at pos; after it closes, the stored coefficients apply.
    void OpenCoefficientWindow(const QPoint &pos);
    void OpenSettings();
    // "Векторная диаграмма": modeless, kept up to date by the poll while it is open.
    void OpenVectorDiagram();
    TVectorDiagramForm *VectorDiagram() const;
    QAction *VectorDiagramAction() const { return vectorDiagramAction; }
    // "Автонастройка": the tuning window, modeless, one at a time.
    void OpenTuning();
    QWidget *TuningForm() const;
    // "Журнал": the archive window, modeless, one at a time.
    void OpenJournal();
    TJournalWindow *JournalWindow() const;
    QAction *JournalAction() const { return journalAction; }
    // "Лаборатория" → "Типы СИ", "Эталоны": the registers the journal keeps, modeless, one of each.
    void OpenInstrumentTypes();
    void OpenStandards();
    // The archive's "Выгрузить в «Аршин»…": the file of these runs, each marked as sent. The file is asked
    // with a save dialog unless a chooser is given (tests).
    void ExportToArshin(const std::vector<TJournalRunId> &runs, bool withProtocols = false);
    void SetArshinPathChooser(std::function<QString(const QString &suggested)> chooser)
    {
        arshinPath_ = std::move(chooser);
    }
    QWidget *InstrumentTypesWindow() const { return typesWindow_.data(); }
    QWidget *StandardsWindow() const { return standardsWindow_.data(); }
    // Runs this bench did not end (the program was killed, the power went): each verification run is
    // offered back in its window, the others are recorded as interrupted. Called once after start-up.
    void OfferUnfinishedRuns();

    // IMainView
    void ShowError(const QString &text) override;
    void ShowMessage(const QString &text) override;
    void ShowConnection(bool connected) override;
    void SetConnectButtonEnabled(bool enabled) override;
    void SetPause(bool running, bool enabled) override;
    void SetOutputControlsEnabled(bool enabled) override;
    void SetConfigurationSettingsEnabled(bool enabled) override;
    void SetReadSettingsEnabled(bool enabled) override;
    void SetAddressEnabled(bool enabled) override;
    void ApplyLayout(const TMainLayout &layout) override;
    void ShowSelections(const TMainSelections &selections) override;
    void SetEntryLimits(const QString &control, double min, double max) override;
    void SetEntryValue(const QString &control, double value) override;
    void SetCurrentToggles(const QStringList &names) override;
    void ShowToggleState(const QString &name, bool on) override;
    void SetReadoutDecimals(int param, int decimals) override;
    void SetReadoutValue(int param, double value) override;
    void DisplayReadoutValue(int param, double value) override;
    void SetReadoutRs(int param, bool qx4Layout, const TDeviceInfo &info, double permissibleError, double error,
        double value) override;
    void SetReadoutRsDefault(int param) override;
    void SetDefaultReadout() override;
    void SetEnergyErrors(double ea, double er) override;
    void SetAnalogSelector(int output, const QString &caption, bool visible) override;
    void SelectAnalogOutput(int output) override;
    void SetAnalogGroupEnabled(bool enabled) override;
    void SetAnalogSelectorsEnabled(bool enabled) override;
    void SetAnalogParameter(const QString &name, const QString &unit, int param) override;
    void SetAnalogReadout(double shownValue, double permissibleError, double measured, double error) override;
    void SetAnalogDashes() override;
    void ShowParameterMenu(int output) override;
    void ShowInstallationPhasors(const TParameters &readings, bool scheme4) override;
    void ShowTransducerPhasors(const TParameters &readings, const TTransfCoefs &coefs) override;
    void ForgetTransducerPhasors() override;
    void ClearPhasors() override;
    void SetCoefficientLabel(const QString &text) override;
    void SetCycles(int cycles) override;
    void SetAddressColor(uint32_t windowsColor) override;
    void SetAddressValue(double value) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void CloseChildWindows();
    // Long enough for a silent installation's every switch-off frame to use up its re-sends.
    static constexpr int kChildCloseLimitMs = 60000;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateWindowMenus();
    bool connected_ = false;
    void OpenVerification();
    // The run from the journal; when it cannot be read, the user is told why.
    std::optional<TJournalRun> LoadJournalledRun(const TJournalRunId &id);
    // The PDF protocol of each run the file takes into `folder`, named in `options` (only those: a protocol
    // of a run left out would be made for nothing); false (the user told why, or cancelled) leaves the file
    // unwritten.
    bool MakeArshinProtocols(
        const std::vector<const TJournalRun *> &wanted, const QTemporaryDir &folder, TArshinOptions &options);
    void BuildMenu();
    void BuildControls();
    void BuildReadout();
    void BindActions();
    TNumericUpDown *EntryControl(const QString &name) const;

    std::unique_ptr<TConfigController> config;
    std::unique_ptr<TMainLogic> logic;
    TStartOptions thisRun_;
    std::function<QWidget *(TConfigController *, TConfigurationCode, QWidget *, const TStartOptions &)>
        verificationWindow_;
    std::function<QWidget *(TConfigController *, QWidget *, const TStartOptions &)> tuningWindow_;
    TJournal *journal_ = nullptr;
    TListeners<const TJournalState &>::TSubscription journalState_;
    std::function<QWidget *(TConfigController *, const TJournalRun &, bool, QWidget *, const TStartOptions &)>
        journalledRunWindow_;
    std::function<void(TConfigController *, const TJournalRun &, QWidget *)> journalReport_;
    std::function<bool(TConfigController *, const TJournalRun &, const QString &, QString *)> journalProtocol_;
    QPointer<TJournalWindow> journalWindow;
    QPointer<QWidget> typesWindow_;
    std::function<QString(const QString &)> arshinPath_;
    QPointer<QWidget> standardsWindow_;
    TUpdate *updateForm = nullptr;
    TSettingsForm *settingsForm = nullptr;
    QPointer<QWidget> tuningForm; // deletes itself when closed
    TVectorDiagramForm *vectorDiagram = nullptr; // a child window, kept while this window lives

    QAction *settingsAction = nullptr;
    QAction *verificationAction = nullptr;
    QAction *tuningAction = nullptr;
    QAction *vectorDiagramAction = nullptr;
    QAction *journalAction = nullptr;
    QAction *typesAction = nullptr;
    QAction *standardsAction = nullptr;

    QWidget *outputGroup = nullptr;
    TNumericUpDownWithToggles *controlI = nullptr;
    TNumericUpDownWithToggles *controlU = nullptr;
    TNumericUpDown *controlAngle = nullptr;
    TNumericUpDown *controlF = nullptr;
    TNumericUpDown *controlAddress = nullptr;
    QLabel *rsParamLabel = nullptr;
    QSpinBox *rsParamNumber = nullptr;

    QPushButton *connectButton = nullptr;
    QPushButton *pauseButton = nullptr;
    QComboBox *configurationList = nullptr;
    QGroupBox *currentRangeBox = nullptr;
    QButtonGroup *currentRange = nullptr;
    QGroupBox *voltageBox = nullptr;
    QButtonGroup *voltage = nullptr;
    QGroupBox *schemeBox = nullptr;
    QButtonGroup *scheme = nullptr;
    QComboBox *uRangeList = nullptr;
    QComboBox *speedList = nullptr;
    QGroupBox *addressBox = nullptr;
    QCheckBox *autoBox = nullptr;
    QComboBox *protocolList = nullptr;
    QComboBox *analogRangeList = nullptr;
    QGroupBox *analogGroup = nullptr;
    QPushButton *analogSelectors[3] = {nullptr, nullptr, nullptr};
    QCheckBox *enableAnalogBox = nullptr;
    QCheckBox *milliAmpsBox = nullptr;
    TParameterGroupComponent *analogReadout = nullptr;
    QMenu *parameterMenu = nullptr;
    int parameterMenuOutput = 1;
    QCheckBox *aruBox = nullptr;
    QLabel *cyclesLabel = nullptr;
    QPushButton *readSettingsButton = nullptr;
    QGroupBox *coefficientGroup = nullptr;
    QLabel *coefficientLabel = nullptr;

    QMap<int, TParameterGroupComponent *> readouts;
    QMap<QString, QGroupBox *> groups;
    TLabelAndError *energyA = nullptr;
    TLabelAndError *energyR = nullptr;
    QGroupBox *energyGroupA = nullptr;
    QGroupBox *energyGroupR = nullptr;
};
