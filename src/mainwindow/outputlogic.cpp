#include "mainwindow/outputlogic.h"

#include <cmath>

#include "presentation/parameterscaling.h"
#include "protocol/kestparametercontroller.h"
#include "protocol/numberformat.h"

void TMainOutputs::QueueCurrent(double a, double b, double c)
{
    TKestInputParamCmdController controller(&ctx_.kestConfiguration, &ctx_.kestCmdManager);
    TToggleStates toggles = ctx_.CurrentToggleStates();
    ctx_.devInterface->AddCmd(
        controller.CreateCmdSendAmperageAccordingToConfiguration(a, b, c, ctx_.globalConfig.ReadOptionIb(), toggles));
}

void TMainOutputs::QueueVoltage(double a, double b, double c)
{
    TKestInputParamCmdController controller(&ctx_.kestConfiguration, &ctx_.kestCmdManager);
    TFramePtr frame = controller.CreateCmdSendVoltageAccordingToConfiguration(a, b, c);
    if (controller.ChangeUFlag)
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetUOver300(controller.UOver300Flag));
    ctx_.devInterface->AddCmd(frame);
}

void TMainOutputs::RebuildCorrectionState()
{
    const double aruError = StrToFloat(ctx_.globalConfig.ReadAruError());
    TInputData data;
    data.Ia.value = ctx_.ToggleState(QStringLiteral("Ia")) ? lastSentI : 0.0;
    data.Ib.value = ctx_.ToggleState(QStringLiteral("Ib")) ? lastSentI : 0.0;
    data.Ic.value = ctx_.ToggleState(QStringLiteral("Ic")) ? lastSentI : 0.0;
    const bool u = ctx_.voltageToggle;
    data.Ua.value = u ? lastSentU : 0.0;
    data.Ub.value = u ? lastSentU : 0.0;
    data.Uc.value = u ? lastSentU : 0.0;
    // The correction stays within the entry limits of the range in use (those of the "I" and "U" entries).
    const TAruLimits limits{1.25 * ctx_.nominalI, 1.25 * ctx_.nominalU};
    AruManager = std::make_unique<TARU_Manager>(data, ctx_.transfCoefs, static_cast<float>(aruError),
        ctx_.globalConfig.ReadOptionIb(), ctx_.selections.scheme4, limits);
}

void TMainOutputs::SendCorrection()
{
    if (!AruManager)
        return; // nothing was set yet: nothing to correct
    ++aruCycles;
    ctx_.view->SetCycles(aruCycles);
    const TInputData &d = AruManager->currentInputData;
    TKestInputParamCmdController controller(&ctx_.kestConfiguration, &ctx_.kestCmdManager);
    ctx_.devInterface->AddCmd(
        controller.CreateCmdSendVoltageAccordingToConfiguration(d.Ua.value, d.Ub.value, d.Uc.value));
    TToggleStates toggles = ctx_.CurrentToggleStates();
    ctx_.devInterface->AddCmd(controller.CreateCmdSendAmperageAccordingToConfiguration(
        d.Ia.value, d.Ib.value, d.Ic.value, ctx_.globalConfig.ReadOptionIb(), toggles));
    ctx_.SendNext();
}

bool TMainOutputs::NeedsCorrection(const TParameters &transducerReading)
{
    if (!AruManager || !ctx_.devInfo)
        return false;
    try {
        // A QX4 transducer reports primary values, while the targets are what the installation is asked
        // for (secondary). Compared as they come, a transducer with a ratio of 10000/100 would have its
        // voltage "corrected" a hundredfold down; the readings are brought to secondary first.
        TParameters secondary = transducerReading;
        const TTransfCoefs &k = ctx_.devInfo->transfCoefs;
        for (int p : {piUa, piUb, piUc, piIa, piIb, piIc}) {
            TParameter *param = secondary.GetParameterByIndex(p);
            const double primaryScale = TParameterScaling::GetScale(p, k.I1, k.U1);
            const double secondaryScale = TParameterScaling::GetScale(p, k.I2, k.U2);
            if (param && primaryScale > 0 && std::isfinite(primaryScale) && std::isfinite(secondaryScale))
                param->value = param->value * secondaryScale / primaryScale;
        }
        return AruManager->CorrectInputDataIfThereIsAruErrorQX4(secondary);
    } catch (const std::exception &) {
        return false; // a check that fails counts as one without correction
    }
}

void TMainOutputs::ResetCycles()
{
    aruCycles = 0;
    ctx_.view->SetCycles(0);
}

void TMainOutputs::ForgetLastSent()
{
    lastSentI = 0;
    lastSentU = 0;
}

void TMainOutputs::OutputAction(float &lastSent, double value, const std::function<void()> &queue)
{
    ctx_.Guard([&] {
        lastSent = static_cast<float>(value);
        RebuildCorrectionState();
        ResetCycles();
        if (ctx_.selections.aru) {
            SendCorrection();
            ctx_.view->SetOutputControlsEnabled(false);
        } else {
            queue();
        }
    });
}

void TMainOutputs::ActionI(double value)
{
    OutputAction(lastSentI, value, [&] { QueueCurrent(value, value, value); });
}

void TMainOutputs::ActionU(double value)
{
    OutputAction(lastSentU, value, [&] { QueueVoltage(value, value, value); });
}

void TMainOutputs::QueueSetting(const std::function<TFramePtr(TKestInputParamCmdController &)> &build)
{
    ctx_.Guard([&] {
        RebuildCorrectionState();
        TKestInputParamCmdController controller(&ctx_.kestConfiguration, &ctx_.kestCmdManager);
        ctx_.devInterface->AddCmd(build(controller));
        if (ctx_.selections.aru)
            ctx_.view->SetOutputControlsEnabled(false);
    });
}

void TMainOutputs::ActionAngle(double value)
{
    QueueSetting(
        [value](TKestInputParamCmdController &c) { return c.CreateCmdSendAngleAccordingToConfiguration(value); });
}

void TMainOutputs::ActionFrequency(double value)
{
    QueueSetting(
        [value](TKestInputParamCmdController &c) { return c.CreateCmdSendFrequencyAccordingToConfiguration(value); });
}

void TMainOutputs::ActionAddress(double value)
{
    ctx_.selections.address = value;
    ctx_.Guard([&] {
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSetDeviceSpeedIndex(ctx_.selections.rsSpeedIndex));
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdSendAddress(static_cast<int>(std::lround(value))));
    });
}

void TMainOutputs::SetUpCurrentToggles()
{
    QStringList names{QStringLiteral("Ia")};
    if (ctx_.row && ctx_.row->phaseToggles) {
        if (ctx_.selections.scheme4)
            names << QStringLiteral("Ib") << QStringLiteral("Ic");
        else
            names << QStringLiteral("Ic");
    }
    ctx_.currentToggleNames = names;
    requested_.clear();
    ctx_.currentToggleStates.assign(static_cast<size_t>(names.size()), true);
    ctx_.view->SetCurrentToggles(names);
}

void TMainOutputs::ToggleRequested(const QString &name, bool requestedState)
{
    ctx_.Guard([&] {
        TKestInputParamCmdController controller(&ctx_.kestConfiguration, &ctx_.kestCmdManager);
        TFramePtr frame;
        if (name == QStringLiteral("Ia")) {
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ia(requestedState);
        } else if (name == QStringLiteral("Ib")) {
            // Phase B has its own switch only where the scheme and the settings use it.
            if (ctx_.globalConfig.ReadOptionIb() && ctx_.kestConfiguration.SchemeFlag)
                frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ib(requestedState);
        } else if (name == QStringLiteral("Ic")) {
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_Ic(requestedState);
        } else {
            frame = controller.CreateCmdSendToggleAccordingToConfiguration_U(requestedState);
        }
        if (!frame)
            return;
        const bool wasEmpty = ctx_.devInterface->IsQueueEmpty();
        ctx_.devInterface->AddCmd(frame);
        requested_[name].push_back(requestedState);
        if (wasEmpty)
            ctx_.SendNext();
    });
}

void TMainOutputs::ToggleConfirmed(const QString &name)
{
    // The confirmed command carried the state asked for when it was queued; two quick clicks that both
    // asked for "off" leave the toggle off, as the installation is, not switched back on.
    std::deque<bool> &pending = requested_[name];
    std::optional<bool> asked;
    if (!pending.empty()) {
        asked = pending.front();
        pending.pop_front();
    }
    if (name == QStringLiteral(" ")) {
        ctx_.voltageToggle = asked.value_or(!ctx_.voltageToggle);
        ctx_.view->ShowToggleState(name, ctx_.voltageToggle);
        return;
    }
    const qsizetype i = ctx_.currentToggleNames.indexOf(name);
    if (i < 0 || static_cast<size_t>(i) >= ctx_.currentToggleStates.size())
        return; // not shown in this configuration: nothing to switch
    ctx_.currentToggleStates[i] = asked.value_or(!ctx_.currentToggleStates[i]);
    ctx_.view->ShowToggleState(name, ctx_.currentToggleStates[i]);
}

void TMainOutputs::ForgetRequestedToggles()
{
    requested_.clear();
}
