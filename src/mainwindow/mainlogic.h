#pragma once
// The main control window's logic: start-up, the configuration of the installation, connection and
// disconnection, the polling cycle, the dispatch of every answer, output control and the readout. It owns
// the two engines and the command set; the screen is reached only through IMainView, so tests drive all of
// this without one.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "presentation/aru_manager.h"
#include "config/configcontroller.h"
#include "transport/deviceinterface.h"
#include "config/devicesettingsconfig.h"
#include "presentation/errorcalculator.h"
#include "config/globalconfig.h"
#include "protocol/kestcmdmanager.h"
#include "mainwindow/mainview.h"
#include "protocol/parameters.h"

// The user's selections, kept in step with the widgets by the view.
struct TMainControls {
    int configIndex = -1;
    QString currentRange = QStringLiteral("5");   // "1", "5", "0,5", "2,5"
    QString voltage = QStringLiteral("380");      // "100", "380", "400"
    bool scheme4 = true;                          // "4-x" (else "3-x")
    int uRangeIndex = 0;                          // "0..125" … "0..500"
    int rsSpeedIndex = 3;
    int protocolIndex = 0;                        // 0 "Modbus", 1 "VQ"
    int rsParamNum = 1;                           // "Номер параметра по RS", 1..5
    int analogRangeIndex = 0;
    bool autoAddress = false;                     // "Авто"
    bool autoAddressVisible = false;
    double address = 1;
    bool enableAnalog = false;                    // "Вкл."
    bool analogMilliAmps = false;                 // "мА"
    bool aru = false;                             // "АРУ"
    int analogOutput = 1;                         // the checked selector, 1..3 (0: none)
};

class TMainLogic : public QObject {
    Q_OBJECT
public:
    static inline const QStringList kConfigurations{"I", "U", "F", "P", "Q", "PQ", "QX4", "QX4E"};
    static inline const QStringList kURanges{"0..125", "75..125", "0..250", "0..400", "0..500"};
    static inline const QStringList kSpeeds{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    static constexpr int kPollInterval = 2000;
    static constexpr int kAruWait = 5000;
    static constexpr uint32_t kGreen = 12639424;
    static constexpr uint32_t kAddressGrey = 8421616;

    TMainLogic(IMainView *view, TConfigController *config, QObject *parent = nullptr);
    ~TMainLogic() override;

    // Start-up, the parts that are not widgets (steps 5–20 of the window's creation).
    void StartUp();

    // User actions; the view has already written the new selection into Controls().
    void ConfigurationChanged();
    void ConnectClicked();
    void PauseClicked();
    void ActionI(double value);
    void ActionU(double value);
    void ActionAngle(double value);
    void ActionFrequency(double value);
    void ActionAddress(double value);
    void ToggleRequested(const QString &name, bool requestedState);
    void CurrentRangeChanged();
    void SchemeOrVoltageChanged();
    void URangeChanged();
    void RsSpeedChanged();
    void AutoChanged();
    void ProtocolChanged();
    void RsParamNumChanged();
    void AnalogSelectorClicked(int output);
    void AnalogParameterChosen(int output, int param);
    void EnableAnalogChanged();
    void AruChanged();
    void ReadSettingsClicked();
    // After the settings dialog or the coefficient window.
    void ReadNominalsAndPermissibleError();
    void ApplyStoredCoefficients();

    // Engine handlers.
    void OnFrame(const TFramePtr &answer);
    void OnError(const std::string &text);
    void PollTick();

    TMainControls &Controls() { return controls_; }
    const TMainControls &Controls() const { return controls_; }
    QString ConfigurationName() const;
    bool IsQx4Type() const;

    // For the window, the dialogs and tests.
    TDeviceInterface *DevInterface() { return devInterface.get(); }
    TDeviceInterface *DevInterface2() { return devInterface2.get(); }
    TConfigController *Config() { return config_; }
    TGlobalConfig &GlobalConfig() { return globalConfig; }
    TDeviceSettingsConfig &DeviceConfig() { return deviceConfig; }
    TKestCmdManager &CmdManager() { return kestCmdManager; }
    const TKestConfiguration &KestConfiguration() const { return kestConfiguration; }
    bool IsDistantControlEnabled() const { return isDistantControlEnabled; }
    bool IsDeviceConnected() const { return isDeviceConnected; }
    bool IsPolling() const { return Timer1.isActive(); }
    bool IsPaused() const { return isPaused; }
    const std::optional<TDeviceInfo> &DevInfo() const { return devInfo; }
    const TTransfCoefs &TransfCoefs() const { return transfCoefs; }
    double PermissibleError() const { return permissibleError; }
    double NominalI() const { return nominalI; }
    double NominalU() const { return nominalU; }
    int AruCycles() const { return aruCycles; }
    QTimer &PollTimer() { return Timer1; }
    // For tests: port overrides of this run (the settings file keeps its own).
    void SetPortOverride(const QString &port1, const QString &port2);
    QString InstallationPort() const;
    QString DevicePort() const;
    // Parameter name for the analog pop-up (1..33).
    static QString ParameterName(int param);

private:
    using TRsParser = TParametersAndStatusPtr (TKestCmdManager::*)(const TFrame &) const;

    void EnterDisconnected();
    void EnterConnected();
    void ForgetTransducer();
    void ClosePort();
    void QueueConnectionSetUp();
    void SendNext();
    void ShowMessage(const QString &text);
    void BuildKestConfiguration();
    void ApplyConfigurationSetUp();
    TMainLayout LayoutFor(const QString &name) const;
    void SetupCurrentToggles(const QString &name);
    // The configuration again after a range or scheme change, with the nominal values; false (after a
    // message) when a stored nominal value is no number.
    bool ReapplyConfiguration();
    void SetCurrentPrecision();
    double ReadNumber(const QString &text) const;

    // The I and U actions: remember the value, restart the correction, then send it one way or the other.
    void OutputAction(float &lastSent, double value, const std::function<void()> &queue);
    // The angle and frequency actions: restart the correction and queue the command built.
    void QueueSetting(const std::function<TFramePtr(class TKestInputParamCmdController &)> &build);
    void RebuildCorrectionState();
    void SendCorrection();
    void QueueCurrent(double a, double b, double c);
    void QueueVoltage(double a, double b, double c);
    TToggleStates CurrentToggleStates() const;

    void ShowInstallationReadout(const TFrame &answer);
    void ShowTransducerReadout(const TFrame &answer);
    void TakeIdentification(const TFrame &answer);
    void SetAnalogParam();
    void ShowAnalogSelection(int output);
    void SetCoefficientLabel();
    bool IsPShown() const;
    bool IsQShown() const;

    IMainView *view;
    TConfigController *config_;
    TCallBackObject callback;
    std::unique_ptr<TDeviceInterface> devInterface;
    std::unique_ptr<TDeviceInterface> devInterface2;
    TKestCmdManager kestCmdManager;
    TGlobalConfig globalConfig;
    TDeviceSettingsConfig deviceConfig;
    TKestConfiguration kestConfiguration;
    TMainControls controls_;
    QTimer Timer1;

    bool isDistantControlEnabled = false;
    bool isCmdDistantControlSent = false;
    bool isDeviceConnected = false;
    bool isPaused = true;
    bool hasAmplifierDisconnectedMessagedShowed = false;
    std::optional<TDeviceInfo> devInfo;
    TTransfCoefs transfCoefs;
    double permissibleError = 0;
    TRsParser ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationU;
    std::unique_ptr<TErrorCalculator> errorCalculator;

    double nominalI = 0;
    double nominalU = 0;
    float lastSentI = 0;
    float lastSentU = 0;
    int aruCycles = 0;
    std::unique_ptr<TARU_Manager> AruManager;

    // Readout values as the widgets store them (rounded), by parameter number.
    std::array<double, 34> readoutValue{};
    std::array<int, 34> readoutDecimals{};
    TParametersAndStatusPtr lastStatus;

    QString port1Override;
    QString port2Override;
    // Cleared when the logic is destroyed, so that a wait that keeps the event loop running can tell
    // whether there is still anything to return to.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
