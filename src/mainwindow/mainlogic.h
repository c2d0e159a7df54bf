#pragma once
// The main control window's logic, as a thin coordinator over its three sections: the link to the
// installation (TMainConnection), the readout (TMainReadout) and the output actions (TMainOutputs). It
// owns every selection: the window hands each choice to a handler below as its argument and shows what
// the logic tells it through IMainView, so that tests drive all of this without a screen.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

#include "mainwindow/connectionlogic.h"
#include "mainwindow/maincontext.h"
#include "mainwindow/outputlogic.h"
#include "mainwindow/readoutlogic.h"

class TMainLogic : public QObject {
    Q_OBJECT
public:
    static inline const QStringList kConfigurations = ConfigurationNames();
    static inline const QStringList kSpeeds{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    static constexpr int kPollInterval = TMainConnection::kPollInterval;
    static constexpr int kAruWait = TMainConnection::kAruWait;
    static constexpr uint32_t kGreen = 12639424;
    static constexpr uint32_t kAddressGrey = 8421616;
    static constexpr double kDefaultPermissibleError = 0.2;

    TMainLogic(IMainView *view, TConfigController *config, QObject *parent = nullptr);
    ~TMainLogic() override;

    // Start-up, the parts that are not widgets.
    void StartUp();

    // The user's choices, each with its new value.
    void ConfigurationChosen(int index); // -1: nothing selected
    void CurrentRangeChosen(TCurrentRange range);
    void VoltageChosen(TVoltageRange voltage);
    void SchemeChosen(bool fourWire); // "4-x" / "3-x"
    void URangeChosen(int index); // a position of "Диапазон"
    void RsSpeedChosen(int index);
    void AutoAddressChosen(bool on);
    void ProtocolChosen(int index); // 0 "Modbus", 1 "VQ"
    void RsParamNumChosen(int number);
    void AnalogRangeChosen(int index);
    void EnableAnalogChosen(bool on);
    void AnalogMilliAmpsChosen(bool on);
    void AruChosen(bool on);
    void AnalogSelectorClicked(int output);
    void AnalogParameterChosen(int output, int param);
    void ReadSettingsClicked();

    // Connection and outputs.
    void ConnectClicked() { connection_.ConnectClicked(); }
    void PauseClicked() { connection_.PauseClicked(); }
    void ActionI(double value) { outputs_.ActionI(value); }
    void ActionU(double value) { outputs_.ActionU(value); }
    void ActionAngle(double value) { outputs_.ActionAngle(value); }
    void ActionFrequency(double value) { outputs_.ActionFrequency(value); }
    void ActionAddress(double value) { outputs_.ActionAddress(value); }
    void ToggleRequested(const QString &name, bool requestedState) { outputs_.ToggleRequested(name, requestedState); }
    // Closing the window: the installation is switched off and released before the port goes.
    void Shutdown() { connection_.Shutdown(); }
    std::optional<TSwitchOffResult> SwitchOffOwed() { return connection_.SwitchOffOwed(); }

    // After the settings dialog: nominal values and the permissible error, each read on its own.
    void ReadNominalsAndPermissibleError();
    // After the coefficient window.
    void ApplyStoredCoefficients() { readout_.ApplyStoredCoefficients(); }

    // Engine handlers (also for tests).
    void OnFrame(const TFramePtr &answer) { connection_.OnFrame(answer); }
    void OnError(const std::string &text) { connection_.OnError(text); }
    void PollTick() { connection_.PollTick(); }

    const TMainSelections &Selections() const { return ctx_.selections; }
    QString ConfigurationName() const { return ctx_.ConfigurationName(); }
    bool IsQx4Type() const { return ctx_.IsQx4Type(); }

    // For the window, the dialogs and tests.
    TDeviceInterface *DevInterface() { return ctx_.devInterface.get(); }
    TDeviceInterface *DevInterface2() { return ctx_.devInterface2.get(); }
    TConfigController *Config() { return ctx_.config; }
    TGlobalConfig &GlobalConfig() { return ctx_.globalConfig; }
    TDeviceSettingsConfig &DeviceConfig() { return ctx_.deviceConfig; }
    TKestCmdManager &CmdManager() { return ctx_.kestCmdManager; }
    const TKestConfiguration &KestConfiguration() const { return ctx_.kestConfiguration; }
    bool IsDistantControlEnabled() const { return ctx_.isDistantControlEnabled; }
    bool IsDeviceConnected() const { return ctx_.isDeviceConnected; }
    bool IsPolling() const { return connection_.IsPolling(); }
    bool IsPaused() const { return connection_.IsPaused(); }
    const std::optional<TDeviceInfo> &DevInfo() const { return ctx_.devInfo; }
    const TTransfCoefs &TransfCoefs() const { return ctx_.transfCoefs; }
    double PermissibleError() const { return ctx_.permissibleError; }
    double NominalI() const { return ctx_.nominalI; }
    double NominalU() const { return ctx_.nominalU; }
    int AruCycles() const { return outputs_.AruCycles(); }
    bool ToggleState(const QString &name) const { return ctx_.ToggleState(name); }
    QTimer &PollTimer() { return connection_.PollTimer(); }
    // For tests: port overrides of this run (the settings file keeps its own).
    void SetPortOverride(const QString &port1, const QString &port2);
    QString InstallationPort() const { return connection_.InstallationPort(); }
    QString DevicePort() const;
    // Parameter name for the analog pop-up (1..33).
    static QString ParameterName(int param);

private:
    // Applies the selected configuration's row: calculator, parser, queued command, toggles, layout.
    void ApplyConfiguration();
    // The configuration again after a range or scheme change, with the nominal values; false (after a
    // message) when a stored nominal value is no number.
    bool ReapplyConfiguration();
    // Nominal current and voltage of the selected ranges and scheme, with the entry limits; false (after
    // a message per value) when one of them is no number.
    bool ReadNominals();
    void ReadPermissibleError();
    void ApplyVoltageRange();
    // The parser of the transducer's answer as the configuration, protocol and number say.
    void ChooseRsParser();
    void QueueRsSpeed();
    void QueueProtocol();
    void OnConnected();
    void ShowSelections() { ctx_.view->ShowSelections(ctx_.selections); }

    TMainContext ctx_;
    TMainOutputs outputs_;
    TMainReadout readout_;
    TMainConnection connection_;
};
