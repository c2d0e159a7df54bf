#pragma once
// What the main window's logic asks of its screen. The real window implements it with the program's
// controls; tests implement it with a recorder. Parameter numbers are those of the measured-quantity
// model (1 "Ua" … 33 "Wr"); formatting of values stays in the widgets.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

struct TDeviceInfo;
class QWidget;

// Where the readout groups and output controls go for one configuration.
struct TMainLayout {
    struct TGroup {
        QString caption;       // the readout group's caption, e.g. "Токи"
        std::vector<int> params; // the widgets shown in it, left to right
        int left = 0;
        int top = 0;
        int width = 0;
    };
    std::vector<TGroup> groups;   // visible readout groups; all others hidden
    QStringList outputControls;   // visible output controls left to right: "I", "U", "Угол", "F"
    int outputGroupWidth = 580;
    bool currentRangePanel = false;
    bool schemePanel = false;
    bool voltagePanel = false;
    bool uRangeList = false;
    bool addressPanel = false;    // "Авто", "Адр."
    bool protocolList = false;
    bool rsParamNumber = false;
    bool energyGroups = false;
};

class IMainView {
public:
    virtual ~IMainView() = default;

    virtual QWidget *MessageParent() = 0;

    // States of the window as a whole.
    virtual void ShowConnection(bool connected) = 0;        // "Подкл."/"Откл.", menu "Автоповерка"
    virtual void SetConnectButtonEnabled(bool enabled) = 0;
    virtual void SetPause(bool running, bool enabled) = 0;   // "ll"/"►", hints "Пауза"/"Продолжить"
    virtual void SetOutputControlsEnabled(bool enabled) = 0;
    virtual void SetConfigurationSettingsEnabled(bool enabled) = 0;
    virtual void SetReadSettingsEnabled(bool enabled) = 0;
    virtual void SetAddressEnabled(bool enabled) = 0;
    virtual void ApplyLayout(const TMainLayout &layout) = 0;
    // Pushes the selections the logic changed by itself (ranges, scheme, analog range) to the widgets.
    virtual void SyncSelections() = 0;

    // Entry controls: "I", "U", "Угол", "F", "Адр.".
    virtual void SetEntryLimits(const QString &control, double min, double max) = 0;
    virtual void SetEntryValue(const QString &control, double value) = 0;

    // Phase toggles: the current control's toggles by name ("Ia", "Ib", "Ic"), the voltage control's " ".
    virtual void SetCurrentToggles(const QStringList &names) = 0;
    virtual bool IsCurrentToggleActive(int position) const = 0; // 1, 2, 3; false when absent
    virtual bool IsVoltageToggleActive() const = 0;
    virtual bool HasToggle(const QString &name) const = 0;
    virtual bool ToggleState(const QString &name) const = 0;   // false when absent
    // Shows the confirmed state; does nothing for an absent or disabled toggle.
    virtual void SwitchToggle(const QString &name) = 0;

    // Readout.
    virtual void SetReadoutDecimals(int param, int decimals) = 0;
    virtual void SetReadoutValue(int param, double value) = 0;       // the installation's value (stored)
    virtual void DisplayReadoutValue(int param, double value) = 0;   // shown only (primary units)
    virtual void SetReadoutRs(int param, bool qx4Layout, const TDeviceInfo &info, double permissibleError,
                              double error, double value) = 0;
    virtual void SetReadoutRsDefault(int param) = 0;
    virtual void SetDefaultReadout() = 0;   // every widget's transducer fields "---"
    virtual void SetEnergyErrors(double ea, double er) = 0;

    // Analog output of the transducer.
    virtual void SetAnalogSelector(int output, const QString &caption, bool visible) = 0;
    virtual void SelectAnalogOutput(int output) = 0;
    virtual void SetAnalogGroupEnabled(bool enabled) = 0;
    virtual void SetAnalogParameter(const QString &name, const QString &unit, int param) = 0;
    virtual void SetAnalogReadout(double shownValue, double permissibleError, double measured, double error) = 0;
    virtual void SetAnalogDashes() = 0;
    virtual void ShowParameterMenu(int output) = 0;

    // Labels and fields.
    virtual void SetCoefficientLabel(const QString &text) = 0;
    virtual void SetCycles(int cycles) = 0;
    virtual void SetAddressColor(uint32_t windowsColor) = 0;
    virtual void SetAddressValue(double value) = 0;
};
