#include "mainwindow/readoutlogic.h"

#include "presentation/configurationrow.h"

#include <cmath>

#include "mainwindow/outputlogic.h"
#include "presentation/parameterscaling.h"
#include "protocol/numberformat.h"

namespace {

constexpr uint32_t kGreen = 12639424;
constexpr uint32_t kAddressGrey = 8421616;

QString ParamName(int param)
{
    static const TParameters names;
    const TParameter *p = names.GetParameterByIndex(param);
    return p ? p->name : QString();
}

// How many analog input selectors a configuration uses.
int AnalogOutputs(const TMainConfigurationRow *row)
{
    if (!row)
        return 1;
    switch (row->analog) {
    case TMainConfigurationRow::TAnalogSetUp::Single:
        return 1;
    case TMainConfigurationRow::TAnalogSetUp::PQ:
        return 2;
    case TMainConfigurationRow::TAnalogSetUp::Qx4:
        return 3;
    }
    return 1;
}

} // namespace

TMainReadout::TMainReadout(TMainContext &ctx, TMainOutputs &outputs) : ctx_(ctx), outputs_(outputs)
{
    for (int p : ReadoutOrder())
        readoutDecimals_[p] = GroupDecimals(p);
}

void TMainReadout::SetCurrentPrecision()
{
    const bool fiveAmps = ctx_.selections.currentRange == TCurrentRange::A5;
    for (int p : ReadoutOrder()) {
        if (const std::optional<int> d = RangeDecimals(p, fiveAmps)) {
            readoutDecimals_[p] = *d;
            ctx_.view->SetReadoutDecimals(p, *d);
        }
    }
}

bool TMainReadout::IsPShown() const
{
    const TMainSelections &s = ctx_.selections;
    return !(ctx_.Is(TConfigurationCode::PQ) && s.protocolIndex == 1 && s.rsParamNum == 2);
}

bool TMainReadout::IsQShown() const
{
    const TMainSelections &s = ctx_.selections;
    return !(ctx_.Is(TConfigurationCode::PQ) && s.protocolIndex == 1 && s.rsParamNum == 1);
}

void TMainReadout::ForgetTransducer()
{
    ctx_.devInfo.reset();
    ctx_.view->ForgetTransducerPhasors();
    ctx_.view->SetCoefficientLabel(QStringLiteral("---"));
    if (!ctx_.selections.enableAnalog)
        ctx_.view->SetAnalogGroupEnabled(false);
    ctx_.view->SetAnalogDashes();
    ctx_.view->SetDefaultReadout();
    ctx_.view->SetReadSettingsEnabled(false);
    ctx_.view->SetAddressColor(kAddressGrey);
    const int outputs = AnalogOutputs(ctx_.row);
    for (int output = 1; output <= 3; ++output)
        ctx_.view->SetAnalogSelector(output, QStringLiteral("---"), output <= outputs);
    ctx_.selections.analogOutput = 0;
    ctx_.view->SelectAnalogOutput(0);
}

void TMainReadout::ShowInstallationReadout(const TFrame &answer)
{
    const TParametersAndStatusPtr status = ctx_.kestCmdManager.ParseParameters_ConfigurationQX4(answer);
    const TParameters &params = *status->Parameters;
    const bool pShown = IsPShown();
    const bool qShown = IsQShown();
    std::array<bool, TParameters::kSlots> set{};
    for (int p : ReadoutOrder()) {
        if ((p == piP && !pShown) || (p == piQ && !qShown))
            continue;
        const TParameter *param = params.GetParameterByIndex(p);
        const double factor = std::pow(10.0, readoutDecimals_[p]);
        readoutValue_[p] = std::round(param->value * factor) / factor;
        ctx_.view->SetReadoutValue(p, param->value);
        set[p] = true;
    }
    ctx_.view->SetEnergyErrors(params.Ea.value, params.Er.value);
    ctx_.view->ShowInstallationPhasors(params, ctx_.selections.scheme4);

    // The transducer's analog output against what it should deliver.
    const TMainSelections &s = ctx_.selections;
    if (ctx_.devInfo && s.enableAnalog && s.analogOutput >= 1 && s.analogOutput <= 3) {
        const int assigned = ctx_.devInfo->AnalogOut.OutArray[s.analogOutput - 1];
        const TParameter *param = params.GetParameterByIndex(assigned);
        if (assigned != 0 && param && ctx_.errorCalculator) {
            double value = param->value;
            const double error = ctx_.errorCalculator->CalculateErrorAnalog(
                assigned, 2, *ctx_.devInfo, ctx_.kestConfiguration, value, status->AnalogOut);
            const double shown = s.analogMilliAmps ? value : param->value;
            ctx_.view->SetAnalogReadout(shown, ctx_.permissibleError, status->AnalogOut, error);
        }
    }
    ctx_.view->SetAddressColor(ctx_.devInfo && ctx_.devInfo->deviceType == 1 ? kGreen : kAddressGrey);

    // Transducer presence.
    if (status->isDeviceDisconnected && ctx_.isDeviceConnected) {
        ctx_.isDeviceConnected = false;
        ForgetTransducer(); // also greys the address field
    } else if (!status->isDeviceDisconnected && !ctx_.isDeviceConnected) {
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdReadDeviceInfo());
        ctx_.isDeviceConnected = true;
    }
    // One message per amplifier failure, however many polls it lasts.
    if (status->HasAmplifierError) {
        if (!hasAmplifierDisconnectedMessagedShowed) {
            hasAmplifierDisconnectedMessagedShowed = true;
            ctx_.view->ShowError(
                QStringLiteral("Усилитель не отвечает: ") + QString::number(status->AmplifierErrorNum));
        }
    } else {
        hasAmplifierDisconnectedMessagedShowed = false;
    }

    // Primary units: the widgets show the converted value and keep the raw one for the errors.
    if (ctx_.globalConfig.ReadUseTransfCoefsForKestParams() && ctx_.devInfo) {
        const TTransfCoefs &k = ctx_.devInfo->transfCoefs;
        for (int p : ReadoutOrder()) {
            if (!set[p])
                continue;
            const double secondary = TParameterScaling::GetScale(p, k.I2, k.U2);
            const double primary = TParameterScaling::GetScale(p, k.I1, k.U1);
            if (secondary == 0 || !std::isfinite(secondary) || !std::isfinite(primary))
                continue; // a coefficient of zero converts nothing
            ctx_.view->DisplayReadoutValue(p, readoutValue_[p] / secondary * primary);
        }
    }
}

void TMainReadout::ShowTransducerReadout(const TFrame &answer)
{
    if (!ctx_.devInfo || !ctx_.errorCalculator)
        return;
    const TParametersAndStatusPtr rs = (ctx_.kestCmdManager.*ctx_.ParseParametersRs)(answer);
    const bool qx4 = ctx_.IsQx4Type();
    if (qx4 && ctx_.selections.aru && outputs_.NeedsCorrection(*rs->Parameters)) {
        ctx_.view->SetDefaultReadout();
        outputs_.SendCorrection();
        return;
    }
    const bool pShown = IsPShown();
    const bool qShown = IsQShown();
    for (int p : ReadoutOrder()) {
        const TParameter *param = rs->Parameters->GetParameterByIndex(p);
        const double value = param ? param->value : 0.0;
        const double error
            = ctx_.errorCalculator->CalculateError(p, *ctx_.devInfo, ctx_.kestConfiguration, readoutValue_[p], value);
        if (!qx4 && ((p == piP && !pShown) || (p == piQ && !qShown))) {
            ctx_.view->SetReadoutRsDefault(p);
            continue;
        }
        ctx_.view->SetReadoutRs(p, qx4, *ctx_.devInfo, ctx_.permissibleError, error, value);
    }
    // Only the QX4 types report phasors; the others give one or two values.
    if (qx4)
        ctx_.view->ShowTransducerPhasors(*rs->Parameters, ctx_.devInfo->transfCoefs);
    if (rs->isAutoMode && ctx_.selections.autoAddress) {
        ctx_.selections.address = rs->DeviceAddress;
        ctx_.view->SetAddressValue(ctx_.selections.address);
    }
    if (qx4)
        ctx_.view->SetOutputControlsEnabled(true);
}

void TMainReadout::SetCoefficientLabel()
{
    const TTransfCoefs &k = ctx_.transfCoefs;
    ctx_.view->SetCoefficientLabel(QStringLiteral("KU = ") + FloatToQStr(k.U1) + QStringLiteral("/") + FloatToQStr(k.U2)
        + QStringLiteral("       KI = ") + FloatToQStr(k.I1) + QStringLiteral("/") + FloatToQStr(k.I2));
}

void TMainReadout::ApplyStoredCoefficients()
{
    TTransfCoefs k;
    k.U1 = StrToFloatDef(ctx_.deviceConfig.ReadKU1(), 100);
    k.U2 = StrToFloatDef(ctx_.deviceConfig.ReadKU2(), 100);
    k.I1 = StrToFloatDef(ctx_.deviceConfig.ReadKI1(), 5);
    k.I2 = StrToFloatDef(ctx_.deviceConfig.ReadKI2(), 5);
    ctx_.transfCoefs = k;
    if (ctx_.devInfo) {
        ctx_.devInfo->transfCoefs = k;
        SetCoefficientLabel();
    }
}

void TMainReadout::TakeIdentification(const TFrame &answer)
{
    ctx_.devInfo = *(ctx_.IsQx4Type() ? ctx_.kestCmdManager.ParseDeviceInfo(answer)
                                      : ctx_.kestCmdManager.ParseDeviceInfoNotQx4(answer));
    if (ctx_.devInfo->deviceType == 1 && ctx_.selections.autoAddress) {
        ctx_.transfCoefs = ctx_.devInfo->transfCoefs;
        SetCoefficientLabel();
    } else {
        ApplyStoredCoefficients();
    }
    SetAnalogParam();
}

void TMainReadout::SetAnalogParam()
{
    if (!ctx_.devInfo || !ctx_.row)
        return;
    const TMainConfigurationRow &row = *ctx_.row;
    TDeviceInfo &info = *ctx_.devInfo;
    switch (row.analog) {
    case TMainConfigurationRow::TAnalogSetUp::Single: {
        const int param = ConfigurationRow(row.code).fixedAnalogParams[0];
        ctx_.view->SetAnalogSelector(1, row.analogCaption.isEmpty() ? ParamName(param) : row.analogCaption, true);
        ctx_.view->SetAnalogSelector(2, QString(), false);
        ctx_.view->SetAnalogSelector(3, QString(), false);
        info.AnalogOut.OutArray[0] = static_cast<uint8_t>(param);
        if (ctx_.selections.analogOutput == 0)
            ShowAnalogSelection(1);
        break;
    }
    case TMainConfigurationRow::TAnalogSetUp::PQ:
        info.AnalogOut.OutArray[0] = piP;
        info.AnalogOut.OutArray[1] = piQ;
        ctx_.view->SetAnalogSelector(1, ParamName(piP), true);
        ctx_.view->SetAnalogSelector(2, ParamName(piQ), true);
        ctx_.view->SetAnalogSelector(3, QString(), false);
        ShowAnalogSelection(1);
        break;
    case TMainConfigurationRow::TAnalogSetUp::Qx4:
        for (int output = 1; output <= 3; ++output) {
            const QString caption = ParamName(info.AnalogOut.OutArray[output - 1]);
            ctx_.view->SetAnalogSelector(output, caption.isEmpty() ? QStringLiteral("---") : caption, true);
        }
        ShowAnalogSelection(1);
        break;
    }
    ctx_.view->SetAnalogGroupEnabled(ctx_.selections.enableAnalog);
}

void TMainReadout::ShowAnalogSelection(int output)
{
    ctx_.selections.analogOutput = output;
    ctx_.view->SelectAnalogOutput(output);
    if (!ctx_.devInfo || output < 1 || output > 3)
        return;
    const int param = ctx_.devInfo->AnalogOut.OutArray[output - 1];
    static const TParameters model;
    if (const TParameter *p = model.GetParameterByIndex(param))
        ctx_.view->SetAnalogParameter(p->name, p->measure, param);
}

void TMainReadout::AnalogSelectorClicked(int output)
{
    if (output < 1 || output > 3)
        return;
    // The selectors command the installation's analog input: nothing to command while disconnected.
    if (!ctx_.isDistantControlEnabled)
        return;
    ctx_.selections.analogOutput = output;
    ctx_.view->SelectAnalogOutput(output);
    const int assigned = ctx_.devInfo ? ctx_.devInfo->AnalogOut.OutArray[output - 1] : 0;
    if (ctx_.devInfo && assigned != 0)
        ShowAnalogSelection(output);
    else
        ctx_.view->ShowParameterMenu(output);
    ctx_.Guard([&] {
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetAnalogInputNumber(static_cast<uint8_t>(output)));
        ctx_.SendNext();
    });
    if (ctx_.selections.enableAnalog)
        ctx_.view->SetAnalogGroupEnabled(true);
}

void TMainReadout::AnalogParameterChosen(int output, int param)
{
    if (output < 1 || output > 3 || param < 1 || param > TParameters::kCount)
        return;
    if (ctx_.devInfo)
        ctx_.devInfo->AnalogOut.OutArray[output - 1] = static_cast<uint8_t>(param);
    ctx_.view->SetAnalogSelector(output, ParamName(param), true);
    if (ctx_.devInfo)
        AnalogSelectorClicked(output);
}

void TMainReadout::EnableAnalogChanged()
{
    ctx_.globalConfig.WriteEnableAnalog(ctx_.selections.enableAnalog);
    ctx_.view->SetAnalogGroupEnabled(ctx_.selections.enableAnalog);
    ctx_.view->SetAnalogSelectorsEnabled(ctx_.selections.enableAnalog && ctx_.isDistantControlEnabled);
    if (!ctx_.selections.enableAnalog)
        ctx_.view->SetAnalogDashes();
}
