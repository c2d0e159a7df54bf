#include "mainwindow/mainlogic.h"

#include "presentation/configurationrow.h"

#include "protocol/numberformat.h"

TMainLogic::TMainLogic(IMainView *view, TConfigController *config, QObject *parent)
    : QObject(parent), ctx_(view, config), outputs_(ctx_), readout_(ctx_, outputs_),
      connection_(ctx_, outputs_, readout_)
{
    connection_.SetOnConnected([this] { OnConnected(); });
}

TMainLogic::~TMainLogic() = default;

QString TMainLogic::ParameterName(int param)
{
    static const TParameters names;
    const TParameter *p = names.GetParameterByIndex(param);
    return p ? p->name : QString();
}

void TMainLogic::SetPortOverride(const QString &port1, const QString &port2)
{
    ctx_.port1Override = port1;
    ctx_.port2Override = port2;
}

QString TMainLogic::DevicePort() const
{
    return ctx_.port2Override.isEmpty() ? ctx_.config->ReadPort(QStringLiteral("Port2")) : ctx_.port2Override;
}

// ---------------------------------------------------------------------------------------------------------
// Start-up

void TMainLogic::StartUp()
{
    connection_.EnterDisconnected();

    bool ok = false;
    const int index = ctx_.deviceConfig.ReadDeviceConfigurationIndex().trimmed().toInt(&ok);
    // An unreadable index leaves the first-start choice, "U", rather than stopping the program.
    ctx_.selections.configuration = ok && index >= -1 && index < kConfigurationCount
        ? ConfigurationFromIndex(index)
        : std::optional<TConfigurationCode>(TConfigurationCode::U);

    AutoAddressChosen(ctx_.selections.autoAddress);
    ReadNominalsAndPermissibleError();
    ctx_.view->SetDefaultReadout();
    ApplyConfiguration();

    const int speed = ctx_.deviceConfig.ReadDeviceSpeedIndex().trimmed().toInt(&ok);
    ctx_.selections.rsSpeedIndex
        = ok && speed >= 0 && speed < kSpeeds.size() ? speed : TKestCmdManager::GetDefaultDeviceSpeedIndex();
    ctx_.selections.analogRangeIndex = 0;
    ctx_.view->SetEntryValue(QStringLiteral("Угол"), 0);
    ctx_.view->SetEntryValue(QStringLiteral("F"), 51);
    ctx_.view->SetEntryValue(QStringLiteral("Адр."), 1);
    ctx_.selections.address = 1;
    ctx_.selections.enableAnalog = ctx_.globalConfig.ReadEnableAnalog();
    ctx_.selections.analogMilliAmps = ctx_.globalConfig.ReadAnalogValuesAsMiliAmpers();
    ShowSelections();
    readout_.EnableAnalogChanged();
}

bool TMainLogic::ReadNominals()
{
    const TMainSelections &s = ctx_.selections;
    TGlobalConfig &g = ctx_.globalConfig;
    // One scheme governs the key: "_4" for the four-wire scheme, "_3" for the three-wire one.
    const QString iText = g.ReadNominalCurrent(s.currentRange);
    const QString uText = g.ReadNominalVoltage(s.voltage, s.scheme4);
    // Each value on its own: a bad current does not keep a good voltage from being read.
    const bool iOk = ctx_.Guard([&] { ctx_.nominalI = StrToFloat(iText); });
    const bool uOk = ctx_.Guard([&] { ctx_.nominalU = StrToFloat(uText); });
    IMainView &v = *ctx_.view;
    v.SetEntryLimits(QStringLiteral("I"), 0, 1.25 * ctx_.nominalI);
    v.SetEntryLimits(QStringLiteral("U"), 0, 1.25 * ctx_.nominalU);
    v.SetEntryLimits(QStringLiteral("Угол"), 0, 360);
    v.SetEntryLimits(QStringLiteral("F"), 45, 65);
    v.SetEntryLimits(QStringLiteral("Адр."), 1, 100);
    v.SetEntryValue(QStringLiteral("I"), ctx_.nominalI);
    v.SetEntryValue(QStringLiteral("U"), ctx_.nominalU);
    return iOk && uOk;
}

void TMainLogic::ReadPermissibleError()
{
    // Without a readable value every error would show red (or none would): the default applies.
    if (!ctx_.Guard([&] { ctx_.permissibleError = StrToFloat(ctx_.globalConfig.ReadError()); }))
        ctx_.permissibleError = kDefaultPermissibleError;
}

void TMainLogic::ReadNominalsAndPermissibleError()
{
    ReadNominals();
    ReadPermissibleError();
}

// ---------------------------------------------------------------------------------------------------------
// Configuration

void TMainLogic::ChooseRsParser()
{
    if (!ctx_.row)
        return;
    const TMainSelections &s = ctx_.selections;
    if (ctx_.Is(TConfigurationCode::PQ) && s.protocolIndex == 1)
        ctx_.ParseParametersRs = s.rsParamNum == 1 ? &TKestCmdManager::ParseParametersRS_ConfigurationPQ_P
                                                   : &TKestCmdManager::ParseParametersRS_ConfigurationPQ_Q;
    else
        ctx_.ParseParametersRs = ConfigurationRow(ctx_.row->code).rsParser;
}

void TMainLogic::ApplyConfiguration()
{
    const std::optional<TConfigurationCode> code = ctx_.selections.configuration;
    if (code) {
        ctx_.row = &MainConfiguration(*code);
        ctx_.errorCalculator = ConfigurationRow(*code).makeCalculator();
        ChooseRsParser();
        if (ctx_.row->uaU650)
            ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetUaU650(*ctx_.row->uaU650));
        outputs_.SetUpCurrentToggles();
    } else {
        ctx_.row = nullptr;
    }
    ctx_.view->ApplyLayout(MainLayout(ctx_.row, ctx_.selections.scheme4));
    ctx_.deviceConfig.WriteDeviceConfigurationIndex(QString::number(code ? ConfigurationIndex(*code) : -1));
}

bool TMainLogic::ReapplyConfiguration()
{
    ApplyConfiguration();
    return ReadNominals();
}

void TMainLogic::ConfigurationChosen(int index)
{
    if (ctx_.configurationLocked) {
        ShowSelections();
        return;
    }
    const std::optional<TConfigurationCode> code = ConfigurationFromIndex(index);
    if (code != ctx_.selections.configuration) {
        ctx_.selections.configuration = code;
        // A configuration starts with its protocol list at "Modbus".
        ctx_.selections.protocolIndex = 0;
    }
    ApplyConfiguration();
    ShowSelections();
}

void TMainLogic::CurrentRangeChosen(TCurrentRange range)
{
    if (ctx_.configurationLocked) {
        ShowSelections();
        return;
    }
    ctx_.selections.currentRange = range;
    ShowSelections();
    if (!ReapplyConfiguration())
        return;
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSet1A5A(RangeRow(range).fiveAmpOutput));
    readout_.SetCurrentPrecision();
}

void TMainLogic::VoltageChosen(TVoltageRange voltage)
{
    if (ctx_.configurationLocked) {
        ShowSelections();
        return;
    }
    ctx_.selections.voltage = voltage;
    ShowSelections();
    if (!ReapplyConfiguration())
        return;
    // The voltage never decides the wiring: the scheme shown is the one sent.
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetScheme(ctx_.selections.scheme4));
}

void TMainLogic::SchemeChosen(bool fourWire)
{
    if (ctx_.configurationLocked) {
        ShowSelections();
        return;
    }
    ctx_.selections.scheme4 = fourWire;
    ShowSelections();
    if (!ReapplyConfiguration())
        return;
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetScheme(fourWire));
}

void TMainLogic::ApplyVoltageRange()
{
    if (ctx_.Is(TConfigurationCode::U) || ctx_.Is(TConfigurationCode::F)) {
        ctx_.nominalU = RangeRow(ctx_.selections.uRange).top;
    }
    ctx_.view->SetEntryLimits(QStringLiteral("U"), 0, 1.25 * ctx_.nominalU);
}

void TMainLogic::URangeChosen(int index)
{
    const std::optional<TURange> range = URangeFromIndex(index);
    if (ctx_.configurationLocked || !range) {
        ShowSelections();
        return;
    }
    ctx_.selections.uRange = *range;
    ApplyVoltageRange();
}

void TMainLogic::QueueRsSpeed()
{
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetDeviceSpeedIndex(ctx_.selections.rsSpeedIndex));
    ctx_.deviceConfig.WriteDeviceSpeedIndex(QString::number(ctx_.selections.rsSpeedIndex));
}

void TMainLogic::RsSpeedChosen(int index)
{
    if (ctx_.configurationLocked || index < 0 || index >= kSpeeds.size()) {
        ShowSelections();
        return;
    }
    ctx_.selections.rsSpeedIndex = index;
    QueueRsSpeed();
}

void TMainLogic::AutoAddressChosen(bool on)
{
    ctx_.selections.autoAddress = on;
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSendAutoMode(on));
    ctx_.view->SetAddressEnabled(!on);
    if (on)
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdReadDeviceInfo());
}

void TMainLogic::QueueProtocol()
{
    if (ctx_.selections.protocolIndex != 0)
        return;
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetRsParamNum(ctx_.selections.rsParamNum));
    if (ctx_.selections.rsParamNum != 2)
        RsParamNumChosen(2); // "Modbus" reads P and Q together under number 2
}

void TMainLogic::ProtocolChosen(int index)
{
    if (index < 0 || index > 1) {
        ShowSelections();
        return;
    }
    ctx_.selections.protocolIndex = index;
    QueueProtocol();
    ChooseRsParser();
    ShowSelections();
}

void TMainLogic::RsParamNumChosen(int number)
{
    if (number < 1 || number > 5) {
        ShowSelections();
        return;
    }
    ctx_.selections.rsParamNum = number;
    ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetRsParamNum(number));
    ChooseRsParser();
    ShowSelections();
}

void TMainLogic::AnalogRangeChosen(int index)
{
    if (ctx_.configurationLocked || index < 0) {
        ShowSelections();
        return;
    }
    ctx_.selections.analogRangeIndex = index;
}

void TMainLogic::EnableAnalogChosen(bool on)
{
    ctx_.selections.enableAnalog = on;
    readout_.EnableAnalogChanged();
}

void TMainLogic::AnalogMilliAmpsChosen(bool on)
{
    ctx_.selections.analogMilliAmps = on;
}

void TMainLogic::AruChosen(bool on)
{
    ctx_.selections.aru = on;
    if (on) {
        connection_.StopPolling();
        outputs_.SendCorrection();
    } else {
        connection_.ResumePolling();
        outputs_.ResetCycles();
    }
}

void TMainLogic::AnalogSelectorClicked(int output)
{
    readout_.AnalogSelectorClicked(output);
}

void TMainLogic::AnalogParameterChosen(int output, int param)
{
    readout_.AnalogParameterChosen(output, param);
}

void TMainLogic::OnConnected()
{
    QueueRsSpeed();
    // The number shown is the one the installation reads by; one chosen before connecting went with the
    // queue that opening the port emptied.
    if (ctx_.Is(TConfigurationCode::PQ) && ctx_.selections.protocolIndex == 0)
        QueueProtocol();
    else if (ctx_.row && ctx_.row->rsParamNumber)
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetRsParamNum(ctx_.selections.rsParamNum));
    outputs_.ActionI(0);
    outputs_.ActionU(0);
}

void TMainLogic::ReadSettingsClicked()
{
    if (!ctx_.devInfo)
        return;
    TMainSelections &s = ctx_.selections;
    s.scheme4 = ctx_.devInfo->scheme != 1;
    // The smallest ranges that hold the transducer's secondary values; beyond the largest, unchanged.
    if (const std::optional<TCurrentRange> range = CurrentRangeHolding(ctx_.transfCoefs.I2))
        s.currentRange = *range;
    if (const std::optional<TVoltageRange> range = VoltageRangeHolding(ctx_.transfCoefs.U2))
        s.voltage = *range;
    s.analogRangeIndex = ctx_.devInfo->analogOutputRange != 0 ? 1 : 0;
    ShowSelections();
    // The range and scheme handlers' work (re-applied configuration, nominal values, their commands),
    // then the connection set-up again, so that the installation gets the new configuration.
    if (ReapplyConfiguration()) {
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSet1A5A(RangeRow(s.currentRange).fiveAmpOutput));
        readout_.SetCurrentPrecision();
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetScheme(s.scheme4));
    }
    connection_.QueueConnectionSetUp();
    ctx_.SendNext();
}
