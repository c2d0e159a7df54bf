#pragma once
// What the main window's logic asks of its screen. The real window implements it with the program's
// controls; tests implement it with a recorder. Parameter numbers are those of the measured-quantity
// model (piUa … piEr); formatting of values stays in the widgets.
//
// The logic owns every selection (TMainSelections). The window passes each new choice to a handler of the
// logic as its argument and shows what the logic tells it to show; it never keeps a selection of its own.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/configuration.h"
#include "protocol/ranges.h"

struct TDeviceInfo;
struct TTransfCoefs;
class TParameters;

// The user's selections, as the logic holds them and the window shows them.
struct TMainSelections {
    std::optional<TConfigurationCode> configuration; // none: nothing selected
    TCurrentRange currentRange = TCurrentRange::A5;
    TVoltageRange voltage = TVoltageRange::V380;
    bool scheme4 = true; // "4-x" (else "3-x"): the one scheme of everything
    TURange uRange = TURange::R0_125; // "Диапазон" of the voltage transducer
    int rsSpeedIndex = 3;
    int protocolIndex = 0; // 0 "Modbus", 1 "VQ"
    int rsParamNum = 1; // "Номер параметра по RS", 1..5
    int analogRangeIndex = 0;
    bool autoAddress = false; // "Авто"
    double address = 1;
    bool enableAnalog = false; // "Вкл."
    bool analogMilliAmps = false; // "мА"
    bool aru = false; // "АРУ"
    int analogOutput = 0; // the checked analog input selector, 1..3 (0: none)
};

// Where the readout groups and output controls go for one configuration.
struct TMainLayout {
    struct TGroup {
        QString caption; // the readout group's caption, e.g. "Токи"
        std::vector<int> params; // the widgets shown in it, left to right
        int left = 0;
        int top = 0;
        int width = 0;
    };
    std::vector<TGroup> groups; // visible readout groups; all others hidden
    QStringList outputControls; // visible output controls left to right: "I", "U", "Угол", "F"
    int outputGroupWidth = 580;
    bool currentRangePanel = false;
    bool schemePanel = false;
    bool voltagePanel = false;
    bool uRangeList = false;
    bool addressPanel = false; // "Авто", "Адр."
    bool protocolList = false;
    bool rsParamNumber = false;
    bool energyGroups = false;
    int energyActiveLeft = 0, energyActiveTop = 0; // "Активная  энергия"
    int energyReactiveLeft = 0, energyReactiveTop = 0; // "Реактивная энергия"
};

class IMainView {
public:
    virtual ~IMainView() = default;

    // Message boxes: caption "Ошибка" for errors, the program's name for notices.
    virtual void ShowError(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;

    // States of the window as a whole.
    virtual void ShowConnection(bool connected) = 0; // "Подкл."/"Откл.", menu "Автоповерка"
    virtual void SetConnectButtonEnabled(bool enabled) = 0;
    virtual void SetPause(bool running, bool enabled) = 0; // "ll"/"►", hints "Пауза"/"Продолжить"
    virtual void SetOutputControlsEnabled(bool enabled) = 0;
    virtual void SetConfigurationSettingsEnabled(bool enabled) = 0;
    virtual void SetReadSettingsEnabled(bool enabled) = 0;
    virtual void SetAddressEnabled(bool enabled) = 0;
    virtual void ApplyLayout(const TMainLayout &layout) = 0;
    // Shows the selections as the logic holds them, without calling any handler back.
    virtual void ShowSelections(const TMainSelections &selections) = 0;

    // Entry controls: "I", "U", "Угол", "F", "Адр.".
    virtual void SetEntryLimits(const QString &control, double min, double max) = 0;
    virtual void SetEntryValue(const QString &control, double value) = 0;

    // Phase toggles. The current control's toggles by name, left to right ("Ia", "Ib", "Ic"), each shown
    // on; the voltage control has one toggle " " for all phases. ShowToggleState shows the state the
    // logic holds (the one the installation confirmed).
    virtual void SetCurrentToggles(const QStringList &names) = 0;
    virtual void ShowToggleState(const QString &name, bool on) = 0;

    // Readout.
    virtual void SetReadoutDecimals(int param, int decimals) = 0;
    virtual void SetReadoutValue(int param, double value) = 0; // the installation's value (stored)
    virtual void DisplayReadoutValue(int param, double value) = 0; // shown only (primary units)
    virtual void SetReadoutRs(
        int param, bool qx4Layout, const TDeviceInfo &info, double permissibleError, double error, double value)
        = 0;
    virtual void SetReadoutRsDefault(int param) = 0;
    virtual void SetDefaultReadout() = 0; // every widget's transducer fields "---"
    virtual void SetEnergyErrors(double ea, double er) = 0;

    // Analog output of the transducer.
    virtual void SetAnalogSelector(int output, const QString &caption, bool visible) = 0;
    virtual void SelectAnalogOutput(int output) = 0;
    virtual void SetAnalogGroupEnabled(bool enabled) = 0;
    // The selectors "1", "2", "3": they command the installation, so only while connected.
    virtual void SetAnalogSelectorsEnabled(bool enabled) = 0;
    virtual void SetAnalogParameter(const QString &name, const QString &unit, int param) = 0;
    virtual void SetAnalogReadout(double shownValue, double permissibleError, double measured, double error) = 0;
    virtual void SetAnalogDashes() = 0;
    virtual void ShowParameterMenu(int output) = 0;

    // The phasors of the vector diagram: every poll's readings, a QX4-type transducer's readings (primary
    // units, with its coefficients), the transducer gone, and nothing at all once disconnected.
    virtual void ShowInstallationPhasors(const TParameters &readings, bool scheme4) = 0;
    virtual void ShowTransducerPhasors(const TParameters &readings, const TTransfCoefs &coefs) = 0;
    virtual void ForgetTransducerPhasors() = 0;
    virtual void ClearPhasors() = 0;

    // Labels and fields.
    virtual void SetCoefficientLabel(const QString &text) = 0;
    virtual void SetCycles(int cycles) = 0;
    virtual void SetAddressColor(uint32_t windowsColor) = 0;
    virtual void SetAddressValue(double value) = 0;
};
