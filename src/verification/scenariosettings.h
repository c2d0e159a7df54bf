#pragma once
// The scenario settings windows: a modal dialog per device configuration that edits what one tab
// of a verification window shows. The state and every rule live in TScenarioSettingsLogic; these
// classes build the controls, show the logic's state and pass the user's clicks on to it.
//
// Use: create, Init(store, tab); optionally SetAnalogOutAndCheckBoxCaption(...) with
// SetDoesHaveFixedAnalogSet(true), or ReadAnalogParamIndexesFromConfig(tab); exec(); then read
// AnalogOut() and the configuration again.

#include "verification/scenariosettingslogic.h"

#include <QDialog>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

class TSuperScenarioSettings : public QDialog, public IScenarioSettingsView {
    Q_OBJECT
public:
    TSuperScenarioSettings(TConfigurationCode configurationCode, QWidget *parent = nullptr);
    ~TSuperScenarioSettings() override;

    virtual void Init(TConfigController *ini, int currentTabNum);
    void SetAnalogOutAndCheckBoxCaption(const QStringList &paramNums)
    {
        logic_->SetAnalogOutAndCheckBoxCaption(paramNums);
    }
    void SetDoesHaveFixedAnalogSet(bool fixed) { logic_->SetFixedAnalogSet(fixed); }
    bool DoesHaveFixedAnalogSet() const { return logic_->doesHaveFixedAnalogSet; }
    void ReadAnalogParamIndexesFromConfig(int tabNum) { logic_->ReadAnalogParamIndexesFromConfig(tabNum); }
    const TAnalogOut &AnalogOut() const { return logic_->AnalogOut; }
    TScenarioSettingsLogic &Logic() { return *logic_; }

    // IScenarioSettingsView
    void ShowState() override;
    void ShowError(const QString &text) override;
    void ShowMessage(const QString &text) override;
    void ShowAnalogMenu(int output, const std::vector<std::pair<int, QString>> &items) override;
    void CloseWindow() override;

    // Controls, also found by object name.
    QComboBox *ComboBox1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    std::vector<QCheckBox *> CheckBoxesParams; // position k − 1 for parameter k
    std::vector<QCheckBox *> CheckBoxesInputs; // "Ток", "Напряжение", "Частота", "Угол"
    QLabel *LimitLabel = nullptr;
    QPushButton *OkButton = nullptr;
    QMenu *AnalogMenu = nullptr; // the open pop-up menu of an analog box, if any

protected:
    virtual void ShowExtras() { }
    static constexpr int kRowHeight = 21;
    static constexpr int kParamsTop = 110;

    std::unique_ptr<TScenarioSettingsLogic> logic_;
    bool showing_ = false;
};

class TScenarioSettingsKest : public TSuperScenarioSettings {
    Q_OBJECT
public:
    explicit TScenarioSettingsKest(TConfigurationCode configurationCode, QWidget *parent = nullptr);

    QRadioButton *RadioRS = nullptr;
    QRadioButton *RadioAnalog = nullptr;
    std::vector<QCheckBox *> CheckBoxesAnalog; // outputs 1, 2, 3

protected:
    void ShowExtras() override;
};

class TScenarioSettingsQX4 : public TScenarioSettingsKest {
    Q_OBJECT
public:
    explicit TScenarioSettingsQX4(QWidget *parent = nullptr)
        : TScenarioSettingsKest(TConfigurationCode::QX4, parent) { }
};

class TScenarioSettingsQX4E : public TScenarioSettingsKest {
    Q_OBJECT
public:
    explicit TScenarioSettingsQX4E(QWidget *parent = nullptr) : TScenarioSettingsKest(TConfigurationCode::QX4E, parent)
    {
    }
};

class TScenarioSettingsI : public TScenarioSettingsKest {
    Q_OBJECT
public:
    explicit TScenarioSettingsI(QWidget *parent = nullptr) : TScenarioSettingsKest(TConfigurationCode::I, parent) { }
};

class TScenarioSettingsU : public TScenarioSettingsKest {
    Q_OBJECT
public:
    explicit TScenarioSettingsU(QWidget *parent = nullptr) : TScenarioSettingsKest(TConfigurationCode::U, parent) { }
};

class TScenarioSettingsPQ : public TScenarioSettingsKest {
    Q_OBJECT
public:
    explicit TScenarioSettingsPQ(QWidget *parent = nullptr) : TScenarioSettingsKest(TConfigurationCode::PQ, parent) { }
};

// The scenario window of a device configuration (as its configuration row names it).
std::unique_ptr<TSuperScenarioSettings> CreateScenarioSettings(
    TConfigurationCode configurationCode, QWidget *parent = nullptr);
