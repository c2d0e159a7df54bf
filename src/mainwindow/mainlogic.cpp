#include "mainwindow/mainlogic.h"

#include <cmath>

#include "protocol/kestparametercontroller.h"
#include "presentation/controls/messageservice.h"
#include "protocol/numberformat.h"
#include "presentation/parameterscaling.h"

namespace {

// The readout widgets in the order the transducer's readings are shown.
const int kReadoutOrder[] = {4, 5, 6, 28, 31, 1, 2, 3, 27, 7, 8, 9, 29, 22, 10, 11, 12, 23, 13, 14, 15,
                             24, 16, 17, 18, 25, 19, 20, 21, 30, 26};

const QString kCurrents = QStringLiteral("Токи");
const QString kPhaseU = QStringLiteral("Фазные напряжения");
const QString kLineU = QStringLiteral("Линейные напряжения");
const QString kZeroU = QStringLiteral("Напр. нулевой посл.");
const QString kActive = QStringLiteral("Активная мощность");
const QString kReactive = QStringLiteral("Реактивная мощность");
const QString kApparent = QStringLiteral("Полная мощность");
const QString kFactors = QStringLiteral("Коэффициенты мощности");
const QString kFrequency = QStringLiteral("Частота");

constexpr int kOne = 130;     // a group showing one value
constexpr int kFour = 441;    // three phases and a total
constexpr int kFive = 557;    // the currents group with five values


} // namespace

TMainLogic::TMainLogic(IMainView *view, TConfigController *config, QObject *parent)
    : QObject(parent), view(view), config_(config), globalConfig(config), deviceConfig(config)
{
    callback.Callback = [this](const TFramePtr &answer) { OnFrame(answer); };
    callback.ShowError = [this](const std::exception &e) { OnError(e.what()); };
    devInterface = std::make_unique<TDeviceInterface>(nullptr, &callback);
    devInterface2 = std::make_unique<TDeviceInterface>(nullptr, &callback);
    Timer1.setInterval(kPollInterval);
    connect(&Timer1, &QTimer::timeout, this, &TMainLogic::PollTick);
    // Decimals of the installation values, as the readout groups are made.
    for (int p : kReadoutOrder) {
        int d = 2;
        if (IsCurrentParam(p) || IsPowerParam(p) || (p >= 19 && p <= 21) || p == 25)
            d = 3;
        readoutDecimals[p] = d;
    }
}

TMainLogic::~TMainLogic()
{
    *alive_ = false;
    Timer1.stop();
    if (devInterface)
        devInterface->Dispose();
    if (devInterface2)
        devInterface2->Dispose();
}

QString TMainLogic::ConfigurationName() const
{
    return controls_.configIndex >= 0 && controls_.configIndex < kConfigurations.size()
               ? kConfigurations[controls_.configIndex] : QString();
}

bool TMainLogic::IsQx4Type() const
{
    const QString name = ConfigurationName();
    return name == QStringLiteral("QX4") || name == QStringLiteral("QX4E");
}

QString TMainLogic::ParameterName(int param)
{
    static const TParameters names;
    const TParameter *p = names.GetParameterByIndex(param);
    return p ? p->name : QString();
}

void TMainLogic::SetPortOverride(const QString &port1, const QString &port2)
{
    port1Override = port1;
    port2Override = port2;
}

QString TMainLogic::InstallationPort() const
{
    return port1Override.isEmpty() ? config_->ReadPort(QStringLiteral("Port1")) : port1Override;
}

QString TMainLogic::DevicePort() const
{
    return port2Override.isEmpty() ? config_->ReadPort(QStringLiteral("Port2")) : port2Override;
}

double TMainLogic::ReadNumber(const QString &text) const
{
    return StrToFloat(text);
}

void TMainLogic::ShowMessage(const QString &text)
{
    TMessageService::Error(view->MessageParent(), text);
}

// ---------------------------------------------------------------------------------------------------------
// Start-up

void TMainLogic::StartUp()
{
    EnterDisconnected();

    bool ok = false;
    const int index = deviceConfig.ReadDeviceConfigurationIndex().trimmed().toInt(&ok);
    // An unreadable index leaves the first-start choice, "U", rather than stopping the program.
    controls_.configIndex = ok && index >= -1 && index < kConfigurations.size() ? index : 1;

    AutoChanged();
    try {
        ReadNominalsAndPermissibleError();
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
    }
    view->SetDefaultReadout();
    ConfigurationChanged();

    const int speed = deviceConfig.ReadDeviceSpeedIndex().trimmed().toInt(&ok);
    controls_.rsSpeedIndex = ok && speed >= 0 && speed < kSpeeds.size() ? speed : TKestCmdManager::GetDefaultDeviceSpeedIndex();
    controls_.analogRangeIndex = 0;
    view->SetEntryValue(QStringLiteral("Угол"), 0);
    view->SetEntryValue(QStringLiteral("F"), 51);
    view->SetEntryValue(QStringLiteral("Адр."), 1);
    controls_.address = 1;
    controls_.enableAnalog = globalConfig.ReadEnableAnalog();
    controls_.analogMilliAmps = globalConfig.ReadAnalogValuesAsMiliAmpers();
    view->SyncSelections();
    EnableAnalogChanged();
}

void TMainLogic::ReadNominalsAndPermissibleError()
{
    const QString range = controls_.currentRange;
    QString iText;
    if (range == QStringLiteral("0,5"))
        iText = globalConfig.ReadI0_5();
    else if (range == QStringLiteral("1"))
        iText = globalConfig.ReadI1();
    else if (range == QStringLiteral("2,5"))
        iText = globalConfig.ReadI2_5();
    else
        iText = globalConfig.ReadI5();
    QString uText;
    const bool four = controls_.scheme4;
    if (controls_.voltage == QStringLiteral("100"))
        uText = four ? globalConfig.ReadU100_4() : globalConfig.ReadU100_3();
    else if (controls_.voltage == QStringLiteral("400"))
        uText = four ? globalConfig.ReadU400_4() : globalConfig.ReadU400_3();
    else
        uText = four ? globalConfig.ReadU380_4() : globalConfig.ReadU380_3();
    nominalI = ReadNumber(iText);
    nominalU = ReadNumber(uText);
    view->SetEntryLimits(QStringLiteral("I"), 0, 1.25 * nominalI);
    view->SetEntryLimits(QStringLiteral("U"), 0, 1.25 * nominalU);
    view->SetEntryLimits(QStringLiteral("Угол"), 0, 360);
    view->SetEntryLimits(QStringLiteral("F"), 45, 65);
    view->SetEntryLimits(QStringLiteral("Адр."), 1, 100);
    view->SetEntryValue(QStringLiteral("I"), nominalI);
    view->SetEntryValue(QStringLiteral("U"), nominalU);
    permissibleError = ReadNumber(globalConfig.ReadError());
}

// ---------------------------------------------------------------------------------------------------------
// Configuration

TMainLayout TMainLogic::LayoutFor(const QString &name) const
{
    TMainLayout l;
    const bool four = controls_.scheme4;
    if (name == QStringLiteral("I")) {
        l.groups = {{kCurrents, {4}, 8, 177, kOne}};
        l.outputControls = {"I", "F"};
        l.currentRangePanel = true;
    } else if (name == QStringLiteral("U")) {
        l.groups = {{kPhaseU, {1}, 8, 177, kOne}};
        l.outputControls = {"U", "F"};
        l.uRangeList = true;
    } else if (name == QStringLiteral("F")) {
        l.groups = {{kFrequency, {26}, 8, 177, kOne}};
        l.outputControls = {"U", "F"};
        l.uRangeList = true;
    } else if (name == QStringLiteral("P") || name == QStringLiteral("Q") || name == QStringLiteral("PQ")) {
        if (name == QStringLiteral("P"))
            l.groups = {{kActive, {22}, 8, 177, kOne}};
        else if (name == QStringLiteral("Q"))
            l.groups = {{kReactive, {23}, 8, 177, kOne}};
        else
            l.groups = {{kActive, {22}, 8, 177, kOne}, {kReactive, {23}, 145, 177, kOne}};
        l.outputControls = {"U", "I", "Угол", "F"};
        l.schemePanel = l.currentRangePanel = l.voltagePanel = true;
        l.protocolList = name == QStringLiteral("PQ");
    } else if (name == QStringLiteral("QX4") || name == QStringLiteral("QX4E")) {
        l.outputControls = {"U", "I", "Угол", "F"};
        l.schemePanel = l.currentRangePanel = l.voltagePanel = l.addressPanel = true;
        l.groups = {{kCurrents, {4, 5, 6, 28, 31}, 8, 177, kFive},
                    {kZeroU, {30}, 571, 177, kOne},
                    {kFrequency, {26}, 701, 177, kOne}};
        if (four) {
            l.groups.push_back({kPhaseU, {1, 2, 3, 27}, 8, 279, kFour});
            l.groups.push_back({kLineU, {7, 8, 9, 29}, 465, 279, kFour});
            l.groups.push_back({kActive, {22, 10, 11, 12}, 8, 383, kFour});
            l.groups.push_back({kReactive, {23, 13, 14, 15}, 465, 383, kFour});
            l.groups.push_back({kApparent, {24, 16, 17, 18}, 8, 487, kFour});
            l.groups.push_back({kFactors, {25, 19, 20, 21}, 465, 487, kFour});
        } else {
            l.groups.push_back({kLineU, {7, 8, 9, 29}, 8, 279, kFour});
            l.groups.push_back({kActive, {22}, 8, 383, kOne});
            l.groups.push_back({kReactive, {23}, 145, 383, kOne});
            l.groups.push_back({kApparent, {24}, 285, 383, kOne});
            l.groups.push_back({kFactors, {25}, 8, 487, kOne});
        }
        l.energyGroups = name == QStringLiteral("QX4E");
    }
    l.outputGroupWidth = l.outputControls.size() <= 2 ? 290 : 580;
    l.rsParamNumber = !name.isEmpty() && name != QStringLiteral("QX4") && name != QStringLiteral("QX4E");
    return l;
}

void TMainLogic::SetupCurrentToggles(const QString &name)
{
    QStringList toggles{QStringLiteral("Ia")};
    if (name != QStringLiteral("I") && name != QStringLiteral("U") && name != QStringLiteral("F")) {
        if (controls_.scheme4)
            toggles << QStringLiteral("Ib") << QStringLiteral("Ic");
        else
            toggles << QStringLiteral("Ic");
    }
    view->SetCurrentToggles(toggles);
}

void TMainLogic::ConfigurationChanged()
{
    const QString name = ConfigurationName();
    if (!name.isEmpty()) {
        errorCalculator = TErrorCalculator::ForConfiguration(name);
        if (name == QStringLiteral("I")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationI;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(true));
        } else if (name == QStringLiteral("U")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationU;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(false));
        } else if (name == QStringLiteral("F")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationF;
        } else if (name == QStringLiteral("P")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationP;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(true));
        } else if (name == QStringLiteral("Q")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationQ;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(true));
        } else if (name == QStringLiteral("PQ")) {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationPQ;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(true));
            controls_.protocolIndex = 0;
        } else {
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationQX4;
            devInterface->AddCmd(kestCmdManager.CreateCmdSetUaU650(true));
        }
        SetupCurrentToggles(name);
    }
    view->ApplyLayout(LayoutFor(name));
    deviceConfig.WriteDeviceConfigurationIndex(QString::number(controls_.configIndex));
}

void TMainLogic::SetCurrentPrecision()
{
    const bool fiveAmps = controls_.currentRange == QStringLiteral("5");
    for (int p : kReadoutOrder) {
        if (IsCurrentParam(p))
            readoutDecimals[p] = fiveAmps ? 3 : 4;
        else if (IsPowerParam(p))
            readoutDecimals[p] = fiveAmps ? 1 : 2;
        else
            continue;
        view->SetReadoutDecimals(p, readoutDecimals[p]);
    }
}

bool TMainLogic::ReapplyConfiguration()
{
    ConfigurationChanged();
    try {
        ReadNominalsAndPermissibleError();
        return true;
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
        return false;
    }
}

void TMainLogic::CurrentRangeChanged()
{
    if (!ReapplyConfiguration())
        return;
    devInterface->AddCmd(kestCmdManager.CreateCmdSet1A5A(controls_.currentRange == QStringLiteral("5")));
    SetCurrentPrecision();
}

void TMainLogic::SchemeOrVoltageChanged()
{
    if (!ReapplyConfiguration())
        return;
    // "100" goes with the three-wire scheme, "380"/"400" with the four-wire one: the selectors share
    // the handlers, so the scheme command follows whichever of them was chosen.
    devInterface->AddCmd(kestCmdManager.CreateCmdSetScheme(controls_.scheme4));
}

void TMainLogic::URangeChanged()
{
    const QString name = ConfigurationName();
    if (name == QStringLiteral("U") || name == QStringLiteral("F")) {
        static const double kTops[] = {125, 125, 250, 400, 500};
        const int i = controls_.uRangeIndex;
        if (i >= 0 && i < 5)
            nominalU = kTops[i];
    }
    view->SetEntryLimits(QStringLiteral("U"), 0, 1.25 * nominalU);
}

void TMainLogic::BuildKestConfiguration()
{
    TKestConfiguration c;
    c.ConfigurationName = ConfigurationName();
    const QString range = controls_.currentRange;
    c.AmperageMax = range == QStringLiteral("5") ? 5.0 : range == QStringLiteral("2,5") ? 2.5
                  : range == QStringLiteral("1") ? 1.0 : 0.5;
    c.VoltageMax = controls_.voltage == QStringLiteral("100") ? 100 : controls_.voltage == QStringLiteral("380") ? 380 : 400;
    c.VoltageFlag = controls_.voltage == QStringLiteral("380") || controls_.voltage == QStringLiteral("400");
    c.AnalogInputNum = 1;
    c.AmperageRangeNum = static_cast<uint8_t>(std::max(0, controls_.analogRangeIndex));
    c.RnFlag = true;
    c.SchemeFlag = controls_.scheme4;
    c.URangeIndex = static_cast<uint8_t>(std::max(0, controls_.uRangeIndex));
    kestConfiguration = c;
}

// ---------------------------------------------------------------------------------------------------------
// Connection

void TMainLogic::QueueConnectionSetUp()
{
    BuildKestConfiguration();
    devInterface->AddCmd(kestCmdManager.CreateCmdEnableDistantControl(kestConfiguration));
    if (IsQx4Type()) {
        devInterface->AddCmd(kestCmdManager.CreateCmdSendAutoMode(controls_.autoAddress));
        if (controls_.autoAddress || !controls_.autoAddressVisible) {
            devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceAddress());
        } else {
            devInterface->AddCmd(kestCmdManager.CreateCmdSetDeviceSpeedIndex(controls_.rsSpeedIndex));
            devInterface->AddCmd(kestCmdManager.CreateCmdSendAddress(static_cast<int>(std::lround(controls_.address))));
        }
    } else {
        devInterface->AddCmd(kestCmdManager.CreateCmdSendAutoMode(true));
    }
}

void TMainLogic::ConnectClicked()
{
    view->SetConnectButtonEnabled(false);
    bool portFailed = false;
    try {
        TPortInitializer(devInterface.get())
            .InitPort(InstallationPort().toStdString(), config_->ReadRate(QStringLiteral("Port1")).toStdString());
    } catch (const std::exception &) {
        portFailed = true;
    }
    if (isDistantControlEnabled) {
        isCmdDistantControlSent = true;
        devInterface->AddCmd(kestCmdManager.CreateCmdOffAmplifiers());
        EnterDisconnected();
    } else {
        QueueConnectionSetUp();
        view->SetConfigurationSettingsEnabled(false);
    }
    if (portFailed) {
        ShowMessage(QStringLiteral("Порт не найден"));
        EnterDisconnected();
        ClosePort();
    }
    SendNext();
}

void TMainLogic::ClosePort()
{
    try {
        devInterface->ClosePort();
    } catch (const std::exception &) {
        // Closing a port that is already gone leaves nothing to do.
    }
}

void TMainLogic::SendNext()
{
    // One request outstanding at a time: writing now would purge the answer on its way and leave it to
    // be judged against the wrong request (an identification cut short that way is never retried). What
    // stays queued goes out from the answer handler, or with the next tick.
    if (devInterface->IsWaiting())
        return;
    devInterface->SendNextCmd();
}

void TMainLogic::ForgetTransducer()
{
    devInfo.reset();
    view->SetCoefficientLabel(QStringLiteral("---"));
    if (!controls_.enableAnalog)
        view->SetAnalogGroupEnabled(false);
    view->SetAnalogDashes();
    view->SetDefaultReadout();
    view->SetReadSettingsEnabled(false);
    view->SetAddressColor(kAddressGrey);
    for (int output = 1; output <= 3; ++output)
        view->SetAnalogSelector(output, QStringLiteral("---"), output == 1 || IsQx4Type() || ConfigurationName() == "PQ");
    controls_.analogOutput = 0;
    view->SelectAnalogOutput(0);
}

void TMainLogic::EnterDisconnected()
{
    view->SetOutputControlsEnabled(false);
    view->ShowConnection(false);
    view->SetConnectButtonEnabled(true);
    isDistantControlEnabled = false;
    isCmdDistantControlSent = false;
    isDeviceConnected = false;
    Timer1.stop();
    ForgetTransducer();
    view->SetConfigurationSettingsEnabled(true);
    isPaused = true;
    view->SetPause(false, false);
    lastSentI = 0;
    lastSentU = 0;
}

void TMainLogic::EnterConnected()
{
    view->SetOutputControlsEnabled(true);
    view->ShowConnection(true);
    isDistantControlEnabled = true;
    view->SetConnectButtonEnabled(true);
    Timer1.start();
    isPaused = false;
    view->SetPause(true, true);
}

void TMainLogic::PauseClicked()
{
    if (!isDistantControlEnabled)
        return;
    if (isPaused) {
        Timer1.start();
        isPaused = false;
        view->SetPause(true, true);
    } else {
        Timer1.stop();
        isPaused = true;
        view->SetPause(false, true);
    }
}

void TMainLogic::PollTick()
{
    if (isCmdDistantControlSent)
        return;
    // The previous exchange (with its re-sends) is still running: this tick is skipped rather than
    // piling up polls behind it.
    if (devInterface->IsWaiting())
        return;
    try {
        devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceStatusAndAllParameters());
        SendNext();
    } catch (const std::exception &e) {
        Timer1.stop();
        ShowMessage(QString::fromUtf8(e.what()));
    }
}

// ---------------------------------------------------------------------------------------------------------
// Answers

void TMainLogic::OnFrame(const TFramePtr &answer)
{
    const TFramePtr last = devInterface->GetLastCmd();
    if (!answer || !last)
        return;
    const TFrame &cmd = *last;

    // 1. The acknowledgement of a write of the control register.
    if (TKestCmdManager::IsCmdConfiguration(*answer)) {
        if (!TKestCmdManager::IsDistantControlEnabled(*answer)) {
            EnterDisconnected();
            ClosePort();
        } else if (!isDistantControlEnabled) {
            EnterConnected();
            RsSpeedChanged();
            if (ConfigurationName() == QStringLiteral("PQ"))
                ProtocolChanged();
            ActionI(0);
            ActionU(0);
        }
    }
    // 2. The poll.
    if (TKestCmdManager::IsCmdAllParameters(cmd)) {
        ShowInstallationReadout(*answer);
        if (isDeviceConnected && devInfo)
            devInterface->AddCmd(kestCmdManager.CreateCmdReadAllParametersRS());
    }
    // 3. The transducer's readings.
    if (TKestCmdManager::IsCmdAllParametersRS(cmd))
        ShowTransducerReadout(*answer);
    // 4. Identification.
    if (TKestCmdManager::IsCmdReadDeviceInfo(cmd)) {
        TakeIdentification(*answer);
        view->SetReadSettingsEnabled(true);
    }
    // 5. Amplifiers off: then remote control off.
    if (TKestCmdManager::IsCmdOffAmplifiers(cmd))
        devInterface->AddCmd(kestCmdManager.CreateCmdDisableDistantControl());
    // 6.
    if (TKestCmdManager::IsCmdReadDeviceAddress(cmd)) {
        controls_.address = TKestCmdManager::RecieveDeviceAddress(*answer);
        view->SetAddressValue(controls_.address);
    }
    // 7.
    if (TKestCmdManager::IsCmdSendDeviceMode(cmd)) {
        if (controls_.autoAddress)
            devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceAddress());
        else
            devInterface->AddCmd(kestCmdManager.CreateCmdSendAddress(static_cast<int>(std::lround(controls_.address))));
    }
    // 8. Toggles show what the installation has confirmed.
    if (TKestCmdManager::IsCmdSetAmplifierIa(cmd) || TKestCmdManager::IsCmdSetAmplifierIa5(cmd))
        view->SwitchToggle(QStringLiteral("Ia"));
    if (TKestCmdManager::IsCmdSetAmplifierIb(cmd) || TKestCmdManager::IsCmdSetAmplifierIb5(cmd))
        view->SwitchToggle(QStringLiteral("Ib"));
    if (TKestCmdManager::IsCmdSetAmplifierIc(cmd) || TKestCmdManager::IsCmdSetAmplifierIc5(cmd))
        view->SwitchToggle(QStringLiteral("Ic"));
    if (TKestCmdManager::IsCmdSetAmplifierUa(cmd) || TKestCmdManager::IsCmdSetAmplifierUb(cmd)
        || TKestCmdManager::IsCmdSetAmplifierUc(cmd) || TKestCmdManager::IsCmdSetAmplifierU650(cmd))
        view->SwitchToggle(QStringLiteral(" "));
    // 9. Range control: let the outputs settle, then read the installation.
    if (controls_.aru && TKestCmdManager::IsCmdAmperage(cmd)) {
        devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceStatusAndAllParameters());
        const std::shared_ptr<bool> alive = alive_;
        TKestParameterController::WaitBeforeGettingOutput(kAruWait);
        if (!*alive)
            return;   // the window closed during the wait
    }
    // 10.
    SendNext();
}

void TMainLogic::OnError(const std::string &text)
{
    const TFramePtr last = devInterface->GetLastCmd();
    if (last && TKestCmdManager::IsCmdReadDeviceInfo(*last)) {
        // Older installations keep a shorter identification block: ask again, quietly.
        kestCmdManager.SetOldDevInfoLength();
        devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceInfo());
        return;
    }
    Timer1.stop();
    ShowMessage(QString::fromUtf8(text.c_str()));
    EnterDisconnected();
    ClosePort();
}

// ---------------------------------------------------------------------------------------------------------
// Readout

bool TMainLogic::IsPShown() const
{
    return !(ConfigurationName() == QStringLiteral("PQ") && controls_.protocolIndex == 1 && controls_.rsParamNum == 2);
}

bool TMainLogic::IsQShown() const
{
    return !(ConfigurationName() == QStringLiteral("PQ") && controls_.protocolIndex == 1 && controls_.rsParamNum == 1);
}

void TMainLogic::ShowInstallationReadout(const TFrame &answer)
{
    const TParametersAndStatusPtr status = kestCmdManager.ParseParameters_ConfigurationQX4(answer);
    lastStatus = status;
    const TParameters &params = *status->Parameters;
    const bool pShown = IsPShown();
    const bool qShown = IsQShown();
    std::array<bool, 34> set{};
    for (int p : kReadoutOrder) {
        if ((p == 22 && !pShown) || (p == 23 && !qShown))
            continue;
        const TParameter *param = params.GetParameterByIndex(p);
        const double factor = std::pow(10.0, readoutDecimals[p]);
        readoutValue[p] = std::round(param->value * factor) / factor;
        view->SetReadoutValue(p, param->value);
        set[p] = true;
    }
    view->SetEnergyErrors(params.Ea.value, params.Er.value);

    // The transducer's analog output against what it should deliver.
    if (devInfo && controls_.enableAnalog && controls_.analogOutput >= 1 && controls_.analogOutput <= 3) {
        const int assigned = devInfo->AnalogOut.OutArray[controls_.analogOutput - 1];
        const TParameter *param = params.GetParameterByIndex(assigned);
        if (assigned != 0 && param && errorCalculator) {
            double value = param->value;
            const double error = errorCalculator->CalculateErrorAnalog(assigned, 2, *devInfo, kestConfiguration, value,
                                                                       status->AnalogOut);
            const double shown = controls_.analogMilliAmps ? value : param->value;
            view->SetAnalogReadout(shown, permissibleError, status->AnalogOut, error);
        }
    }
    view->SetAddressColor(devInfo && devInfo->deviceType == 1 ? kGreen : kAddressGrey);

    // Transducer presence.
    if (status->isDeviceDisconnected && isDeviceConnected) {
        isDeviceConnected = false;
        ForgetTransducer();   // also greys the address field
    } else if (!status->isDeviceDisconnected && !isDeviceConnected) {
        devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceInfo());
        isDeviceConnected = true;
    }
    // One message per amplifier failure, however many polls it lasts.
    if (status->HasAmplifierError) {
        if (!hasAmplifierDisconnectedMessagedShowed) {
            hasAmplifierDisconnectedMessagedShowed = true;
            ShowMessage(QStringLiteral("Усилитель не отвечает: ") + QString::number(status->AmplifierErrorNum));
        }
    } else {
        hasAmplifierDisconnectedMessagedShowed = false;
    }

    // Primary units: the widgets show the converted value and keep the raw one for the errors.
    if (globalConfig.ReadUseTransfCoefsForKestParams() && devInfo) {
        const TTransfCoefs &k = devInfo->transfCoefs;
        for (int p : kReadoutOrder) {
            if (!set[p])
                continue;
            const double secondary = TParameterScaling::GetScale(p, k.I2, k.U2);
            const double primary = TParameterScaling::GetScale(p, k.I1, k.U1);
            if (secondary == 0 || !std::isfinite(secondary) || !std::isfinite(primary))
                continue;   // a coefficient of zero converts nothing
            view->DisplayReadoutValue(p, readoutValue[p] / secondary * primary);
        }
    }
}

void TMainLogic::ShowTransducerReadout(const TFrame &answer)
{
    if (!devInfo || !errorCalculator)
        return;
    const TParametersAndStatusPtr rs = (kestCmdManager.*ParseParametersRs)(answer);
    const bool qx4 = IsQx4Type();
    if (qx4 && controls_.aru && AruManager) {
        bool corrected = false;
        try {
            // A QX4 transducer reports primary values, while the targets are what the installation is
            // asked for (secondary). Compared as they come, a transducer with a ratio of 10000/100 would
            // have its voltage "corrected" a hundredfold down; the readings are brought to secondary first.
            TParameters secondary = *rs->Parameters;
            const TTransfCoefs &k = devInfo->transfCoefs;
            for (int p : {1, 2, 3, 4, 5, 6}) {
                TParameter *param = secondary.GetParameterByIndex(p);
                const double primaryScale = TParameterScaling::GetScale(p, k.I1, k.U1);
                const double secondaryScale = TParameterScaling::GetScale(p, k.I2, k.U2);
                if (param && primaryScale > 0 && std::isfinite(primaryScale) && std::isfinite(secondaryScale))
                    param->value = param->value * secondaryScale / primaryScale;
            }
            corrected = AruManager->CorrectInputDataIfThereIsAruErrorQX4(secondary);
        } catch (const std::exception &) {
            corrected = false;
        }
        if (corrected) {
            view->SetDefaultReadout();
            SendCorrection();
            return;
        }
    }
    const bool pShown = IsPShown();
    const bool qShown = IsQShown();
    for (int p : kReadoutOrder) {
        const TParameter *param = rs->Parameters->GetParameterByIndex(p);
        const double value = param ? param->value : 0.0;
        const double error = errorCalculator->CalculateError(p, *devInfo, kestConfiguration, readoutValue[p], value);
        if (!qx4 && ((p == 22 && !pShown) || (p == 23 && !qShown))) {
            view->SetReadoutRsDefault(p);
            continue;
        }
        view->SetReadoutRs(p, qx4, *devInfo, permissibleError, error, value);
    }
    if (rs->isAutoMode && controls_.autoAddress) {
        controls_.address = rs->DeviceAddress;
        view->SetAddressValue(controls_.address);
    }
    if (qx4)
        view->SetOutputControlsEnabled(true);
}

void TMainLogic::SetCoefficientLabel()
{
    view->SetCoefficientLabel(QStringLiteral("KU = ") + FloatToQStr(transfCoefs.U1) + QStringLiteral("/")
                              + FloatToQStr(transfCoefs.U2) + QStringLiteral("       KI = ")
                              + FloatToQStr(transfCoefs.I1) + QStringLiteral("/") + FloatToQStr(transfCoefs.I2));
}

void TMainLogic::ApplyStoredCoefficients()
{
    TTransfCoefs k;
    k.U1 = StrToFloatDef(deviceConfig.ReadKU1(), 100);
    k.U2 = StrToFloatDef(deviceConfig.ReadKU2(), 100);
    k.I1 = StrToFloatDef(deviceConfig.ReadKI1(), 5);
    k.I2 = StrToFloatDef(deviceConfig.ReadKI2(), 5);
    transfCoefs = k;
    if (devInfo) {
        devInfo->transfCoefs = k;
        SetCoefficientLabel();
    }
}

void TMainLogic::TakeIdentification(const TFrame &answer)
{
    devInfo = *(IsQx4Type() ? kestCmdManager.ParseDeviceInfo(answer) : kestCmdManager.ParseDeviceInfoNotQx4(answer));
    if (devInfo->deviceType == 1 && controls_.autoAddress) {
        transfCoefs = devInfo->transfCoefs;
        SetCoefficientLabel();
    } else {
        ApplyStoredCoefficients();
    }
    SetAnalogParam();
}

void TMainLogic::SetAnalogParam()
{
    if (!devInfo)
        return;
    const QString name = ConfigurationName();
    auto single = [&](const QString &caption, int param) {
        view->SetAnalogSelector(1, caption, true);
        view->SetAnalogSelector(2, QString(), false);
        view->SetAnalogSelector(3, QString(), false);
        devInfo->AnalogOut.OutArray[0] = static_cast<uint8_t>(param);
        if (controls_.analogOutput == 0)
            ShowAnalogSelection(1);
    };
    if (name == QStringLiteral("I")) {
        single(QStringLiteral("I"), 4);
    } else if (name == QStringLiteral("U")) {
        single(QStringLiteral("U"), 1);
    } else if (name == QStringLiteral("F")) {
        single(QStringLiteral("F"), 26);
    } else if (name == QStringLiteral("P")) {
        single(ParameterName(22), 22);
    } else if (name == QStringLiteral("Q")) {
        single(ParameterName(23), 23);
    } else if (name == QStringLiteral("PQ")) {
        devInfo->AnalogOut.OutArray[0] = 22;
        devInfo->AnalogOut.OutArray[1] = 23;
        view->SetAnalogSelector(1, ParameterName(22), true);
        view->SetAnalogSelector(2, ParameterName(23), true);
        view->SetAnalogSelector(3, QString(), false);
        ShowAnalogSelection(1);
    } else if (IsQx4Type()) {
        for (int output = 1; output <= 3; ++output) {
            const int param = devInfo->AnalogOut.OutArray[output - 1];
            const QString caption = ParameterName(param);
            view->SetAnalogSelector(output, caption.isEmpty() ? QStringLiteral("---") : caption, true);
        }
        ShowAnalogSelection(1);
    }
    view->SetAnalogGroupEnabled(controls_.enableAnalog);
}

void TMainLogic::ShowAnalogSelection(int output)
{
    controls_.analogOutput = output;
    view->SelectAnalogOutput(output);
    if (!devInfo || output < 1 || output > 3)
        return;
    const int param = devInfo->AnalogOut.OutArray[output - 1];
    static const TParameters model;
    const TParameter *p = model.GetParameterByIndex(param);
    if (p)
        view->SetAnalogParameter(p->name, p->measure, param);
}

void TMainLogic::AnalogSelectorClicked(int output)
{
    controls_.analogOutput = output;
    view->SelectAnalogOutput(output);
    const int assigned = devInfo && output >= 1 && output <= 3 ? devInfo->AnalogOut.OutArray[output - 1] : 0;
    if (devInfo && assigned != 0)
        ShowAnalogSelection(output);
    else
        view->ShowParameterMenu(output);
    try {
        devInterface->AddCmd(kestCmdManager.CreateCmdSetAnalogInputNumber(static_cast<uint8_t>(output)));
        SendNext();
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
    }
    if (controls_.enableAnalog)
        view->SetAnalogGroupEnabled(true);
}

void TMainLogic::AnalogParameterChosen(int output, int param)
{
    if (output < 1 || output > 3 || param < 1 || param > TParameters::kCount)
        return;
    if (devInfo)
        devInfo->AnalogOut.OutArray[output - 1] = static_cast<uint8_t>(param);
    view->SetAnalogSelector(output, ParameterName(param), true);
    if (devInfo)
        AnalogSelectorClicked(output);
}

void TMainLogic::EnableAnalogChanged()
{
    globalConfig.WriteEnableAnalog(controls_.enableAnalog);
    view->SetAnalogGroupEnabled(controls_.enableAnalog);
    if (!controls_.enableAnalog)
        view->SetAnalogDashes();
}

// ---------------------------------------------------------------------------------------------------------
// Output actions

TToggleStates TMainLogic::CurrentToggleStates() const
{
    return TToggleStates(view->IsCurrentToggleActive(1), view->IsCurrentToggleActive(2), view->IsCurrentToggleActive(3));
}

void TMainLogic::QueueCurrent(double a, double b, double c)
{
    TKestInputParamCmdController controller(&kestConfiguration, &kestCmdManager);
    TToggleStates toggles = CurrentToggleStates();
    devInterface->AddCmd(
        controller.CreateCmdSendAmperageAccordingToConfiguration(a, b, c, globalConfig.ReadOptionIb(), toggles));
}

void TMainLogic::QueueVoltage(double a, double b, double c)
{
    TKestInputParamCmdController controller(&kestConfiguration, &kestCmdManager);
    TFramePtr frame = controller.CreateCmdSendVoltageAccordingToConfiguration(a, b, c);
    if (controller.ChangeUFlag)
        devInterface->AddCmd(kestCmdManager.CreateCmdSetUOver300(controller.UOver300Flag));
    devInterface->AddCmd(frame);
}

void TMainLogic::RebuildCorrectionState()
{
    const double aruError = ReadNumber(globalConfig.ReadAruError());
    TInputData data;
    data.Ia.value = view->ToggleState(QStringLiteral("Ia")) ? lastSentI : 0.0;
    data.Ib.value = view->ToggleState(QStringLiteral("Ib")) ? lastSentI : 0.0;
    data.Ic.value = view->ToggleState(QStringLiteral("Ic")) ? lastSentI : 0.0;
    const bool u = view->IsVoltageToggleActive();
    data.Ua.value = u ? lastSentU : 0.0;
    data.Ub.value = u ? lastSentU : 0.0;
    data.Uc.value = u ? lastSentU : 0.0;
    AruManager = std::make_unique<TARU_Manager>(data, transfCoefs, static_cast<float>(aruError),
                                                globalConfig.ReadOptionIb(), controls_.scheme4);
}

void TMainLogic::SendCorrection()
{
    if (!AruManager)
        return;
    ++aruCycles;
    view->SetCycles(aruCycles);
    const TInputData &d = AruManager->currentInputData;
    TKestInputParamCmdController controller(&kestConfiguration, &kestCmdManager);
    devInterface->AddCmd(controller.CreateCmdSendVoltageAccordingToConfiguration(d.Ua.value, d.Ub.value, d.Uc.value));
    TToggleStates toggles = CurrentToggleStates();
    devInterface->AddCmd(controller.CreateCmdSendAmperageAccordingToConfiguration(
        d.Ia.value, d.Ib.value, d.Ic.value, globalConfig.ReadOptionIb(), toggles));
    SendNext();
}

void TMainLogic::OutputAction(float &lastSent, double value, const std::function<void()> &queue)
{
    try {
        lastSent = static_cast<float>(value);
        RebuildCorrectionState();
        aruCycles = 0;
        view->SetCycles(0);
        if (controls_.aru) {
            SendCorrection();
            view->SetOutputControlsEnabled(false);
        } else {
            queue();
        }
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainLogic::ActionI(double value)
{
    OutputAction(lastSentI, value, [&] { QueueCurrent(value, value, value); });
}

void TMainLogic::ActionU(double value)
{
    OutputAction(lastSentU, value, [&] { QueueVoltage(value, value, value); });
}

void TMainLogic::QueueSetting(const std::function<TFramePtr(TKestInputParamCmdController &)> &build)
{
    try {
        RebuildCorrectionState();
        TKestInputParamCmdController controller(&kestConfiguration, &kestCmdManager);
        devInterface->AddCmd(build(controller));
        if (controls_.aru)
            view->SetOutputControlsEnabled(false);
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainLogic::ActionAngle(double value)
{
    QueueSetting([value](TKestInputParamCmdController &c) { return c.CreateCmdSendAngleAccordingToConfiguration(value); });
}

void TMainLogic::ActionFrequency(double value)
{
    QueueSetting([value](TKestInputParamCmdController &c) { return c.CreateCmdSendFrequencyAccordingToConfiguration(value); });
}

void TMainLogic::ActionAddress(double value)
{
    controls_.address = value;
    devInterface->AddCmd(kestCmdManager.CreateCmdSetDeviceSpeedIndex(controls_.rsSpeedIndex));
    devInterface->AddCmd(kestCmdManager.CreateCmdSendAddress(static_cast<int>(std::lround(value))));
}

void TMainLogic::ToggleRequested(const QString &name, bool requestedState)
{
    try {
        TKestInputParamCmdController controller(&kestConfiguration, &kestCmdManager);
        TFramePtr frame;
        if (name == QStringLiteral("Ia"))
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ia(requestedState);
        else if (name == QStringLiteral("Ib")) {
            // Phase B has its own switch only where the scheme and the settings use it.
            if (globalConfig.ReadOptionIb() && kestConfiguration.SchemeFlag)
                frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ib(requestedState);
        } else if (name == QStringLiteral("Ic"))
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ic(requestedState);
        else
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_U(requestedState);
        if (!frame)
            return;
        const bool wasEmpty = devInterface->IsQueueEmpty();
        devInterface->AddCmd(frame);
        if (wasEmpty)
            SendNext();
    } catch (const std::exception &e) {
        ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainLogic::AruChanged()
{
    if (controls_.aru) {
        Timer1.stop();
        SendCorrection();
    } else {
        if (isDistantControlEnabled && !isPaused)
            Timer1.start();
        aruCycles = 0;
        view->SetCycles(0);
    }
}

void TMainLogic::RsSpeedChanged()
{
    devInterface->AddCmd(kestCmdManager.CreateCmdSetDeviceSpeedIndex(controls_.rsSpeedIndex));
    deviceConfig.WriteDeviceSpeedIndex(QString::number(controls_.rsSpeedIndex));
}

void TMainLogic::AutoChanged()
{
    devInterface->AddCmd(kestCmdManager.CreateCmdSendAutoMode(controls_.autoAddress));
    if (controls_.autoAddress) {
        view->SetAddressEnabled(false);
        devInterface->AddCmd(kestCmdManager.CreateCmdReadDeviceInfo());
    } else {
        view->SetAddressEnabled(true);
    }
}

void TMainLogic::ProtocolChanged()
{
    if (controls_.protocolIndex != 0)
        return;
    devInterface->AddCmd(kestCmdManager.CreateCmdSetRsParamNum(controls_.rsParamNum));
    if (controls_.rsParamNum != 2) {
        controls_.rsParamNum = 2;
        view->SyncSelections();
        RsParamNumChanged();
    }
}

void TMainLogic::RsParamNumChanged()
{
    devInterface->AddCmd(kestCmdManager.CreateCmdSetRsParamNum(controls_.rsParamNum));
    if (ConfigurationName() == QStringLiteral("PQ")) {
        if (controls_.protocolIndex == 1)
            ParseParametersRs = controls_.rsParamNum == 1 ? &TKestCmdManager::ParseParametersRS_ConfigurationPQ_P
                                                          : &TKestCmdManager::ParseParametersRS_ConfigurationPQ_Q;
        else
            ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationPQ;
    }
}

void TMainLogic::ReadSettingsClicked()
{
    if (!devInfo)
        return;
    controls_.scheme4 = devInfo->scheme != 1;
    const double i2 = transfCoefs.I2;
    if (i2 <= 0.5)
        controls_.currentRange = QStringLiteral("0,5");
    else if (i2 <= 1)
        controls_.currentRange = QStringLiteral("1");
    else if (i2 <= 2.5)
        controls_.currentRange = QStringLiteral("2,5");
    else if (i2 <= 5)
        controls_.currentRange = QStringLiteral("5");
    const double u2 = transfCoefs.U2;
    if (u2 <= 100)
        controls_.voltage = QStringLiteral("100");
    else if (u2 <= 380)
        controls_.voltage = QStringLiteral("380");
    else if (u2 <= 400)
        controls_.voltage = QStringLiteral("400");
    controls_.analogRangeIndex = devInfo->analogOutputRange != 0 ? 1 : 0;
    view->SyncSelections();
    CurrentRangeChanged();
    SchemeOrVoltageChanged();
    QueueConnectionSetUp();
    SendNext();
}
