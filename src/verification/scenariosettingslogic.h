#pragma once
// The scenario settings window without its widgets: for the tab being edited, which measured
// parameters become output columns (at most five), which input columns are left out, RS or analog
// reading, and the analog outputs used with the parameter each carries. The window shows the state
// kept here and passes every click on as an argument; messages go through the view.
//
// What differs per scenario window is one row of its table; the configurations without a window of their
// own ("F", "P", "Q") use the PQ one, as their configuration row says, with a row of their own that
// offers their one quantity.

#include "protocol/parameters.h"
#include "verification/avtopoverkaconfig.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <utility>
#include <vector>

class TConfigController;

// One row per scenario window.
struct TScenarioSetup {
    TConfigurationCode window; // the key: "I", "U", "PQ", "QX4", "QX4E", or "F", "P", "Q" (their own)
    int parameterCount; // 31, or 33 with the energies Wa and Wr
    TParamIndex fixedOutput; // the one output of the I and U windows: checked, nothing else usable
    int fixedRemovedInput; // input number always left out (I: 101 voltage, U: 100 current), or 0
    std::array<TParamIndex, 2> onlyOutputs; // the only outputs that can be chosen (PQ: P and Q)
    std::array<uint8_t, 3> forcedAnalog; // assignment forced after the first tab loads (0: unchanged)
    std::array<bool, 3> analogEnabled; // analog boxes the user may use
    bool limitLabelVisible;
    bool savesOutputAndAnalogSets; // false for I and U: only inputs, names and interfaces are written
};

class IScenarioSettingsView {
public:
    virtual ~IScenarioSettingsView() = default;
    // Shows the logic's state again (after every change).
    virtual void ShowState() = 0;
    virtual void ShowError(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;
    // Opens the pop-up menu of an analog box with these parameters (index, name).
    virtual void ShowAnalogMenu(int output, const std::vector<std::pair<int, QString>> &items) = 0;
    virtual void CloseWindow() = 0;
};

struct TCheckState {
    QString caption;
    bool checked = false;
    bool enabled = true;
};

class TScenarioSettingsLogic {
public:
    static constexpr int kLimit = 5;
    static constexpr int kTabCount = TSuperAvtopoverkaConfig::kTabCount;
    // The four input boxes in window order, with the input numbers they stand for.
    static constexpr std::array<int, 4> kInputNumbers{100, 101, 103, 102};
    static const QStringList &InputCaptions(); // "Ток", "Напряжение", "Частота", "Угол"
    static const QStringList &ParameterCaptions(); // 33 captions, position k − 1 for parameter k
    static const QString kAnalogCaption; // "Analog": an output without a stored parameter
    static const TScenarioSetup &Setup(TConfigurationCode code); // the row of the code's scenario window

    TScenarioSettingsLogic(TConfigurationCode code, IScenarioSettingsView *view);
    ~TScenarioSettingsLogic();

    // Creates the configuration over the store, loads the tab names, shows tab `currentTabNum`.
    void Init(TConfigController *ini, int currentTabNum);

    // From a verification window whose device reports its analog assignment (three indices).
    void SetAnalogOutAndCheckBoxCaption(const QStringList &paramNums);
    void SetFixedAnalogSet(bool fixed) { doesHaveFixedAnalogSet = fixed; }
    // The analog assignment of a tab as stored.
    void ReadAnalogParamIndexesFromConfig(int tabNum);

    // User actions.
    void ParameterClicked(int position, bool checked); // 1-based
    void InputClicked(int box, bool checked); // 0–3 in window order
    void AnalogClicked(int output, bool checked); // 1–3, left button
    void AnalogRightClicked(int output); // opens the pop-up menu
    void AnalogParameterChosen(int index); // an item of that menu
    void InterfaceChosen(bool analog); // "Аналоговый" / "RS"
    void TabNameEdited(const QString &text);
    void TabSelected(int tab);
    void OkClicked();

    // State shown by the window.
    const TScenarioSetup &setup() const { return setup_; }
    QString Title() const { return QStringLiteral("Настройки сценария"); }
    QString LimitText() const { return QStringLiteral("Максимум параметров на вкладку: %1").arg(kLimit); }
    const std::vector<TCheckState> &Parameters() const { return params_; }
    const std::array<TCheckState, 4> &Inputs() const { return inputs_; }
    const std::array<TCheckState, 3> &AnalogBoxes() const { return analog_; }
    const QStringList &TabNames() const { return tabNames_; }
    int CurrentTab() const { return currentComboBoxIndex; }
    bool IsAnalog() const { return tabInterfaceValues[size_t(currentComboBoxIndex)]; }
    const std::array<bool, kTabCount> &TabInterfaceValues() const { return tabInterfaceValues; }
    int SelectedAnalogOutput() const { return selectedAnalogCheckBoxIndex; }

    TAnalogOut AnalogOut;
    bool doesHaveFixedAnalogSet = false;
    QStringList AnalogParamIndexes;
    TSuperAvtopoverkaConfig *Config() const { return config.get(); }

private:
    bool ParamAllowed(int position) const;
    void ApplyLimit();
    void LoadTab();
    bool LoadOutputSet();
    void LoadInputs();
    void LoadInterfaces();
    bool LoadAnalogPorts();
    bool ApplyAnalogParamIndexes(const QStringList &list);
    void ResetAnalog();
    void SetAnalogOutput(int output, int index);
    void WriteLeavingTab();
    QStringList OutputSet() const;
    QStringList RemovedInputSet() const;
    QStringList AnalogPortSet() const;
    QStringList AnalogParamSet() const;
    QStringList InterfaceValues() const;
    QString BadEntry(const char *what, const QString &entry) const;
    void Show();
    void Error(const QString &text);

    const TScenarioSetup &setup_;
    IScenarioSettingsView *view_;
    std::unique_ptr<TSuperAvtopoverkaConfig> config;
    std::vector<TCheckState> params_;
    std::array<TCheckState, 4> inputs_;
    std::array<TCheckState, 3> analog_;
    QStringList tabNames_;
    int currentComboBoxIndex = 0;
    std::array<bool, kTabCount> tabInterfaceValues{};
    int selectedAnalogCheckBoxIndex = 0;
    TParameters names_;
};
