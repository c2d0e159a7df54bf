#include "verification/scenariosettingslogic.h"

#include "config/configcontroller.h"
#include "presentation/configurationrow.h"

#include <algorithm>
#include <stdexcept>

namespace {

const TScenarioSetup kSetups[] = {
    {.window = TConfigurationCode::I,
        .parameterCount = 31,
        .fixedOutput = piIa,
        .fixedRemovedInput = 101,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {false, false, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = false},
    {.window = TConfigurationCode::U,
        .parameterCount = 31,
        .fixedOutput = piUa,
        .fixedRemovedInput = 100,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {false, false, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = false},
    {.window = TConfigurationCode::PQ,
        .parameterCount = 31,
        .fixedOutput = piNone,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piP, piQ},
        .forcedAnalog = {piP, piQ, 0},
        .analogEnabled = {true, true, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = true},
    // The single-quantity transducers open the PQ window but offer their one quantity, as I and U do.
    {.window = TConfigurationCode::F,
        .parameterCount = 31,
        .fixedOutput = piFreq,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {false, false, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = false},
    {.window = TConfigurationCode::P,
        .parameterCount = 31,
        .fixedOutput = piP,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {false, false, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = false},
    {.window = TConfigurationCode::Q,
        .parameterCount = 31,
        .fixedOutput = piQ,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {false, false, false},
        .limitLabelVisible = false,
        .savesOutputAndAnalogSets = false},
    {.window = TConfigurationCode::QX4,
        .parameterCount = 31,
        .fixedOutput = piNone,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {true, true, true},
        .limitLabelVisible = true,
        .savesOutputAndAnalogSets = true},
    {.window = TConfigurationCode::QX4E,
        .parameterCount = 33,
        .fixedOutput = piNone,
        .fixedRemovedInput = 0,
        .onlyOutputs = {piNone, piNone},
        .forcedAnalog = {0, 0, 0},
        .analogEnabled = {true, true, true},
        .limitLabelVisible = true,
        .savesOutputAndAnalogSets = true},
};

} // namespace

const QString TScenarioSettingsLogic::kAnalogCaption = QStringLiteral("Analog");

const QStringList &TScenarioSettingsLogic::InputCaptions()
{
    static const QStringList captions{"Ток", "Напряжение", "Частота", "Угол"};
    return captions;
}

const QStringList &TScenarioSettingsLogic::ParameterCaptions()
{
    static const QStringList captions{
        "Напряжение фазное (фаза А)",
        "Напряжение фазное (фаза В)",
        "Напряжение фазное (фаза С)",
        "Ток (фаза А)",
        "Ток (фаза В)",
        "Ток (фаза С)",
        "Напряжение линейное (фаза А)",
        "Напряжение линейное (фаза В)",
        "Напряжение линейное (фаза С)",
        "Мощность активная (фаза А)",
        "Мощность активная (фаза В)",
        "Мощность активная (фаза С)",
        "Мощность реактивная (фаза А)",
        "Мощность реактивная (фаза В)",
        "Мощность реактивная (фаза С)",
        "Мощность полная (фаза А)",
        "Мощность полная (фаза В)",
        "Мощность полная (фаза С)",
        "Коэффициент мощности (фаза А)",
        "Коэффициент мощности (фаза В)",
        "Коэффициент мощности (фаза С)",
        "Мощность активная суммарная",
        "Мощность реактивная суммарная",
        "Мощность полная суммарная",
        "Коэффициент мощности суммарный",
        "Частота",
        "Напряжение фазное среднее",
        "Ток средний",
        "Напряжение линейное среднее",
        "Напряжение нулевой последовательности",
        "Ток нулевой последовательности",
        "Энергия акт.",
        "Энергия реакт.",
    };
    return captions;
}

const TScenarioSetup &TScenarioSettingsLogic::Setup(TConfigurationCode code)
{
    // A configuration's own row first (the single-quantity ones), else its scenario window's.
    for (const TScenarioSetup &row : kSetups)
        if (row.window == code)
            return row;
    const TConfigurationCode window = ConfigurationRow(code).scenarioWindow;
    for (const TScenarioSetup &row : kSetups)
        if (row.window == window)
            return row;
    // Every configuration row names one of the five windows above; a test walks them all.
    throw std::logic_error("no scenario window for this configuration");
}

TScenarioSettingsLogic::TScenarioSettingsLogic(TConfigurationCode code, IScenarioSettingsView *view)
    : setup_(Setup(code)), view_(view)
{
    params_.resize(size_t(setup_.parameterCount));
    for (int k = 1; k <= setup_.parameterCount; ++k)
        params_[size_t(k - 1)] = TCheckState{ParameterCaptions()[k - 1], false, ParamAllowed(k)};
    for (int i = 0; i < 4; ++i)
        inputs_[size_t(i)]
            = TCheckState{InputCaptions()[i], false, kInputNumbers[size_t(i)] != setup_.fixedRemovedInput};
    for (int k = 1; k <= 3; ++k)
        analog_[size_t(k - 1)]
            = TCheckState{QStringLiteral("Аналог%1").arg(k), false, setup_.analogEnabled[size_t(k - 1)]};
    if (setup_.fixedOutput != piNone) {
        params_[size_t(setup_.fixedOutput - 1)].checked = true;
        analog_[0].checked = true;
        analog_[0].caption = names_.GetParameterByIndex(setup_.fixedOutput)->name;
        AnalogOut.OutArray[0] = uint8_t(setup_.fixedOutput);
    }
    for (int i = 0; i < kTabCount; ++i)
        tabNames_ << QString::number(i + 1);
}

TScenarioSettingsLogic::~TScenarioSettingsLogic() = default;

bool TScenarioSettingsLogic::ParamAllowed(int position) const
{
    if (setup_.fixedOutput != piNone)
        return false;
    if (setup_.onlyOutputs[0] != piNone)
        return position == setup_.onlyOutputs[0] || position == setup_.onlyOutputs[1];
    return true;
}

void TScenarioSettingsLogic::Error(const QString &text)
{
    if (view_)
        view_->ShowError(text);
}

void TScenarioSettingsLogic::Show()
{
    if (view_)
        view_->ShowState();
}

void TScenarioSettingsLogic::Init(TConfigController *ini, int currentTabNum)
{
    if (!ini)
        return;
    config = CreateAvtopoverkaConfig(setup_.window, ini);
    tabNames_ = config->ReadTabNames();
    currentComboBoxIndex = std::clamp(currentTabNum, 0, kTabCount - 1);
    LoadTab();
    if (setup_.onlyOutputs[0] != piNone) {
        // Both outputs for a tab never saved; a saved choice (P alone, say) stays as it was.
        if (config->ReadTabOutputSet(currentComboBoxIndex).isEmpty())
            for (const TParamIndex p : setup_.onlyOutputs)
                params_[size_t(p - 1)].checked = true;
        ApplyLimit();
        for (int k = 1; k <= 3; ++k)
            if (setup_.forcedAnalog[size_t(k - 1)] != 0)
                SetAnalogOutput(k, setup_.forcedAnalog[size_t(k - 1)]);
    }
    Show();
}

// ---- loading ----

QString TScenarioSettingsLogic::BadEntry(const char *what, const QString &entry) const
{
    return QStringLiteral("Неверный %1 в настройках вкладки «%2»: «%3».")
        .arg(QString::fromUtf8(what), tabNames_.value(currentComboBoxIndex), entry);
}

void TScenarioSettingsLogic::ApplyLimit()
{
    const auto count = std::count_if(params_.begin(), params_.end(), [](const TCheckState &b) { return b.checked; });
    for (int k = 1; k <= int(params_.size()); ++k) {
        TCheckState &box = params_[size_t(k - 1)];
        box.enabled = ParamAllowed(k) && (count < kLimit || box.checked);
    }
}

bool TScenarioSettingsLogic::LoadOutputSet()
{
    for (TCheckState &box : params_)
        box.checked = false;
    ApplyLimit();
    const QStringList set = config->ReadTabOutputSet(currentComboBoxIndex);
    for (const QString &entry : set) {
        int k = 0;
        if (!TryParseStoredNumber(entry, k) || k < 1 || k > setup_.parameterCount) {
            Error(BadEntry("номер выходного параметра", entry));
            return false;
        }
        params_[size_t(k - 1)].checked = true;
    }
    ApplyLimit();
    return true;
}

void TScenarioSettingsLogic::LoadInputs()
{
    const QStringList removed = config->ReadRemovedTabInputSet(currentComboBoxIndex);
    for (size_t i = 0; i < inputs_.size(); ++i) {
        const int number = kInputNumbers[i];
        inputs_[i].checked = number != setup_.fixedRemovedInput
            && !TStringManager::DoesListContainValue(QString::number(number), removed);
    }
}

void TScenarioSettingsLogic::LoadInterfaces()
{
    const QStringList values = config->ReadInterfaceValues();
    for (int i = 0; i < kTabCount; ++i)
        tabInterfaceValues[size_t(i)] = InterfaceValueIsAnalog(values.value(i));
}

bool TScenarioSettingsLogic::LoadAnalogPorts()
{
    const QStringList ports = config->ReadTabOutputAnalogPortSet(currentComboBoxIndex);
    for (const QString &entry : ports) {
        int k = 0;
        if (!TryParseStoredNumber(entry, k) || k < 1 || k > 3) {
            Error(BadEntry("номер аналогового выхода", entry));
            return false;
        }
        analog_[size_t(k - 1)].checked = true;
    }
    return true;
}

void TScenarioSettingsLogic::ResetAnalog()
{
    for (int k = 1; k <= 3; ++k) {
        analog_[size_t(k - 1)].checked = false;
        if (!doesHaveFixedAnalogSet) {
            analog_[size_t(k - 1)].caption = QStringLiteral("Аналог%1").arg(k);
            AnalogOut.OutArray[size_t(k - 1)] = 0;
        }
    }
}

void TScenarioSettingsLogic::SetAnalogOutput(int output, int index)
{
    const TParameter *p = names_.GetParameterByIndex(index);
    analog_[size_t(output - 1)].caption = p ? p->name : kAnalogCaption;
    AnalogOut.OutArray[size_t(output - 1)] = uint8_t(p ? index : 0);
}

bool TScenarioSettingsLogic::ApplyAnalogParamIndexes(const QStringList &list)
{
    AnalogParamIndexes = list;
    for (int k = 1; k <= 3; ++k) {
        if (AnalogParamIndexes.size() < k) {
            // A shorter list: the output has no parameter.
            analog_[size_t(k - 1)].caption = kAnalogCaption;
            AnalogOut.OutArray[size_t(k - 1)] = 0;
            AnalogParamIndexes << QStringLiteral("0");
            continue;
        }
        int n = 0;
        const QString &entry = AnalogParamIndexes[k - 1];
        if (!TryParseStoredNumber(entry, n) || n < 0 || n > TParameters::kCount) {
            Error(BadEntry("номер параметра аналогового выхода", entry));
            return false;
        }
        if (n != 0)
            SetAnalogOutput(k, n);
    }
    return true;
}

void TScenarioSettingsLogic::LoadTab()
{
    // The inputs, interfaces and analog boxes of the tab shown before go first, whatever is
    // stored: a bad entry below stops the loading, and leaving the tab writes what it shows.
    const bool fixedSetup = setup_.fixedOutput != piNone;
    if (fixedSetup)
        for (TCheckState &box : inputs_)
            box.checked = false;
    LoadInputs();
    LoadInterfaces();
    if (fixedSetup)
        return;
    ResetAnalog();
    if (!LoadOutputSet())
        return;
    if (!LoadAnalogPorts())
        return;
    if (!doesHaveFixedAnalogSet)
        ApplyAnalogParamIndexes(config->ReadTabOutputAnalogParamSet(currentComboBoxIndex));
}

void TScenarioSettingsLogic::SetAnalogOutAndCheckBoxCaption(const QStringList &paramNums)
{
    for (int k = 1; k <= 3; ++k) {
        int n = 0;
        if (!TryParseStoredNumber(paramNums.value(k - 1), n) || n < 0 || n > TParameters::kCount)
            n = 0;
        SetAnalogOutput(k, n);
    }
    AnalogParamIndexes.clear();
    for (const uint8_t n : AnalogOut.OutArray)
        AnalogParamIndexes << QString::number(n);
    Show();
}

void TScenarioSettingsLogic::ReadAnalogParamIndexesFromConfig(int tabNum)
{
    if (config && setup_.fixedOutput == piNone)
        ApplyAnalogParamIndexes(config->ReadTabOutputAnalogParamSet(std::clamp(tabNum, 0, kTabCount - 1)));
    Show();
}

// ---- user actions ----

void TScenarioSettingsLogic::ParameterClicked(int position, bool checked)
{
    if (position < 1 || position > int(params_.size()) || !params_[size_t(position - 1)].enabled)
        return;
    params_[size_t(position - 1)].checked = checked;
    ApplyLimit();
    Show();
}

void TScenarioSettingsLogic::InputClicked(int box, bool checked)
{
    if (box < 0 || box >= int(inputs_.size()) || !inputs_[size_t(box)].enabled)
        return;
    inputs_[size_t(box)].checked = checked;
    Show();
}

void TScenarioSettingsLogic::AnalogClicked(int output, bool checked)
{
    if (output < 1 || output > 3 || !analog_[size_t(output - 1)].enabled)
        return;
    analog_[size_t(output - 1)].checked = checked;
    Show();
}

void TScenarioSettingsLogic::AnalogRightClicked(int output)
{
    if (output < 1 || output > 3 || !analog_[size_t(output - 1)].enabled)
        return;
    selectedAnalogCheckBoxIndex = output;
    std::vector<std::pair<int, QString>> items;
    for (int i = 1; i <= TParameters::kCount; ++i) {
        const QString &name = names_.GetParameterByIndex(i)->name;
        const bool shown
            = std::any_of(analog_.begin(), analog_.end(), [&](const TCheckState &b) { return b.caption == name; });
        if (!shown)
            items.emplace_back(i, name);
    }
    if (view_)
        view_->ShowAnalogMenu(output, items);
}

void TScenarioSettingsLogic::AnalogParameterChosen(int index)
{
    if (selectedAnalogCheckBoxIndex < 1 || !names_.GetParameterByIndex(index))
        return;
    SetAnalogOutput(selectedAnalogCheckBoxIndex, index);
    Show();
}

void TScenarioSettingsLogic::InterfaceChosen(bool analog)
{
    tabInterfaceValues[size_t(currentComboBoxIndex)] = analog;
    Show();
}

void TScenarioSettingsLogic::TabNameEdited(const QString &text)
{
    tabNames_[currentComboBoxIndex] = text;
    Show();
}

// ---- saving ----

QStringList TScenarioSettingsLogic::OutputSet() const
{
    QStringList set;
    for (int k = 1; k <= int(params_.size()); ++k)
        if (params_[size_t(k - 1)].checked)
            set << QString::number(k);
    return set;
}

QStringList TScenarioSettingsLogic::RemovedInputSet() const
{
    QStringList set;
    for (size_t i = 0; i < inputs_.size(); ++i)
        if (!inputs_[i].checked)
            set << QString::number(kInputNumbers[i]);
    return set;
}

QStringList TScenarioSettingsLogic::AnalogPortSet() const
{
    QStringList set;
    for (int k = 1; k <= 3; ++k)
        if (analog_[size_t(k - 1)].checked)
            set << QString::number(k);
    return set;
}

QStringList TScenarioSettingsLogic::AnalogParamSet() const
{
    QStringList set;
    for (const uint8_t n : AnalogOut.OutArray)
        set << QString::number(n);
    return set;
}

QStringList TScenarioSettingsLogic::InterfaceValues() const
{
    QStringList values;
    for (const bool analog : tabInterfaceValues)
        values << InterfaceValueText(analog);
    return values;
}

void TScenarioSettingsLogic::WriteLeavingTab()
{
    if (setup_.savesOutputAndAnalogSets)
        config->WriteTabOutputSet(currentComboBoxIndex, OutputSet());
    config->WriteRemovedTabInputSet(currentComboBoxIndex, RemovedInputSet());
    config->WriteTabNames(tabNames_);
}

void TScenarioSettingsLogic::TabSelected(int tab)
{
    if (!config || tab < 0 || tab >= kTabCount || tab == currentComboBoxIndex)
        return;
    {
        TIniBatch batch(config->portConfig->ini);
        WriteLeavingTab();
    }
    currentComboBoxIndex = tab;
    LoadTab();
    Show();
}

void TScenarioSettingsLogic::OkClicked()
{
    if (config) {
        TIniBatch batch(config->portConfig->ini);
        if (setup_.savesOutputAndAnalogSets) {
            config->WriteInterfaceValues(InterfaceValues());
            config->WriteTabOutputAnalogPortSet(currentComboBoxIndex, AnalogPortSet());
            config->WriteTabOutputAnalogParamSet(currentComboBoxIndex, AnalogParamSet());
            WriteLeavingTab();
        } else {
            config->WriteRemovedTabInputSet(currentComboBoxIndex, RemovedInputSet());
            config->WriteTabNames(tabNames_);
            config->WriteInterfaceValues(InterfaceValues());
        }
    }
    if (view_)
        view_->CloseWindow();
}
