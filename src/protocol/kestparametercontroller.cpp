#include "protocol/kestparametercontroller.h"

#include "protocol/configuration.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

TKestInputParamCmdController::TKestInputParamCmdController(
    const TKestConfiguration *configuration, const TKestCmdManager *cmdManager)
    : kestConfiguration(configuration), cmdManager(cmdManager)
{
}

TFramePtr TKestInputParamCmdController::CreateCmdSendAmperageAccordingToConfiguration(
    double valueA, double valueB, double valueC, bool optionIb, TToggleStates &toggleStates) const
{
    if (!kestConfiguration->SchemeFlag)
        toggleStates.Toggle3 = toggleStates.Toggle2;
    const double a = toggleStates.Toggle1 ? valueA : 0.0;
    const bool fiveAmps = kestConfiguration->GetAmperageFlag();
    if (kestConfiguration->SchemeFlag || optionIb) {
        const double b = toggleStates.Toggle2 ? valueB : 0.0;
        const double c = toggleStates.Toggle3 ? valueC : 0.0;
        return fiveAmps ? cmdManager->CreateCmdSendIa5Ib5Ic5(a, b, c) : cmdManager->CreateCmdSendIaIbIc(a, b, c);
    }
    // Two-element scheme without phase B: phase C follows the second toggle.
    const double c = toggleStates.Toggle2 ? valueC : 0.0;
    return fiveAmps ? cmdManager->CreateCmdSendIa5Ic5(a, c) : cmdManager->CreateCmdSendIaIc(a, c);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendVoltageAccordingToConfiguration(
    double valueA, double valueB, double valueC)
{
    if (ConfigurationFromName(kestConfiguration->ConfigurationName) == TConfigurationCode::U) {
        ChangeUFlag = false;
        if (kestConfiguration->URangeIndex >= 4) {
            // The higher ranges: half the voltage on phases A and C, in series.
            TFramePtr frame = cmdManager->CreateCmdSendUaUc(valueA / 2.0);
            if (!UOver300Flag)
                ChangeUFlag = true;
            UOver300Flag = true;
            return frame;
        }
        TFramePtr frame = cmdManager->CreateCmdSendUa(valueA);
        if (UOver300Flag)
            ChangeUFlag = true;
        UOver300Flag = false;
        return frame;
    }
    if (!kestConfiguration->SchemeFlag) {
        // In the three-wire scheme the values are line voltages.
        const double root3 = std::sqrt(3.0);
        valueA /= root3;
        valueB /= root3;
        valueC /= root3;
    }
    return cmdManager->CreateCmdSendUaUbUc(valueA, valueB, valueC);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendAngleAccordingToConfiguration(double value) const
{
    // Nearest integer, ties to even (the default rounding mode).
    return cmdManager->CreateCmdSendAngle(static_cast<int>(std::nearbyint(value)));
}

TFramePtr TKestInputParamCmdController::CreateCmdSendFrequencyAccordingToConfiguration(double value) const
{
    return cmdManager->CreateCmdSendFrequency(value);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendToggleAccordingToConfiguration_Ia(bool value) const
{
    return kestConfiguration->GetAmperageFlag() ? cmdManager->CreateCmdSetAmplifierIa5(value)
                                                : cmdManager->CreateCmdSetAmplifierIa(value);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendToggleAccordingToConfiguration_Ib(bool value) const
{
    return kestConfiguration->GetAmperageFlag() ? cmdManager->CreateCmdSetAmplifierIb5(value)
                                                : cmdManager->CreateCmdSetAmplifierIb(value);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendToggleAccordingToConfiguration_Ic(bool value) const
{
    return kestConfiguration->GetAmperageFlag() ? cmdManager->CreateCmdSetAmplifierIc5(value)
                                                : cmdManager->CreateCmdSetAmplifierIc(value);
}

TFramePtr TKestInputParamCmdController::CreateCmdSendToggleAccordingToConfiguration_U(bool value) const
{
    if (ConfigurationFromName(kestConfiguration->ConfigurationName) == TConfigurationCode::U)
        return cmdManager->CreateCmdSetAmplifierU650(value);
    return cmdManager->CreateCmdSetAmplifierUaUbUc(value ? 1 : 0);
}

// -------------------------------------------------------------------------------------------------------

TKestParameterController::TKestParameterController(
    TDeviceInterface *devInterface, const TKestCmdManager *kestCmdManager, const TKestConfiguration *kestConfiguration)
    : devInterface(devInterface), kestCmdManager(kestCmdManager), kestConfiguration(kestConfiguration)
{
}

void TKestParameterController::SetAmperage(double Ia, double Ib, double Ic, bool isIbNeeded)
{
    try {
        if (!devInterface || !kestCmdManager || !kestConfiguration)
            throw EKestError("no installation to command");
        amperageToggleStates = TToggleStates(true, true, true);
        TKestInputParamCmdController controller(kestConfiguration, kestCmdManager);
        devInterface->AddCmd(
            controller.CreateCmdSendAmperageAccordingToConfiguration(Ia, Ib, Ic, isIbNeeded, amperageToggleStates));
    } catch (...) {
        throw EKestError("Error Message");
    }
}

void TKestParameterController::SetVoltage(double Ua, double Ub, double Uc)
{
    TKestInputParamCmdController controller(kestConfiguration, kestCmdManager);
    TFramePtr voltage = controller.CreateCmdSendVoltageAccordingToConfiguration(Ua, Ub, Uc);
    if (controller.ChangeUFlag)
        devInterface->AddCmd(kestCmdManager->CreateCmdSetUOver300(controller.UOver300Flag));
    devInterface->AddCmd(voltage);
}

void TKestParameterController::SetAngle(double value)
{
    TKestInputParamCmdController controller(kestConfiguration, kestCmdManager);
    devInterface->AddCmd(controller.CreateCmdSendAngleAccordingToConfiguration(value));
}

void TKestParameterController::SetFrequence(double value)
{
    TKestInputParamCmdController controller(kestConfiguration, kestCmdManager);
    devInterface->AddCmd(controller.CreateCmdSendFrequencyAccordingToConfiguration(value));
}

void TKestParameterController::WaitBeforeGettingOutput(int ms)
{
    if (ms < 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return;
    }
    if (ms == 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

// -------------------------------------------------------------------------------------------------------

void TPortInitializer::InitPort(const std::string &port, const std::string &rate)
{
    modbus->ClosePort();
    modbus->SetPort(port);
    modbus->SetRate(rate);
    modbus->OpenPort();
}
