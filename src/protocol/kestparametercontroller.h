#pragma once
// Between the windows and the installation's command set: requested currents, voltages, angle, frequency
// and amplifier switches become the right commands for the chosen configuration, queued on the engine.

#include <string>

#include "protocol/inputdata.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/parameters.h"
#include "transport/deviceinterface.h"

// Builds commands only; queues nothing. Every operation returns a new frame.
class TKestInputParamCmdController {
public:
    // Neither is owned; both must outlive the controller.
    TKestInputParamCmdController(const TKestConfiguration *configuration, const TKestCmdManager *cmdManager);

    // toggleStates is adjusted in place: in a two-element scheme phase C follows the B toggle.
    TFramePtr CreateCmdSendAmperageAccordingToConfiguration(
        double valueA, double valueB, double valueC, bool optionIb, TToggleStates &toggleStates) const;
    // May change ChangeUFlag and UOver300Flag (configuration "U" only).
    TFramePtr CreateCmdSendVoltageAccordingToConfiguration(double valueA, double valueB, double valueC);
    TFramePtr CreateCmdSendAngleAccordingToConfiguration(double value) const;
    TFramePtr CreateCmdSendFrequencyAccordingToConfiguration(double value) const;
    TFramePtr CreateCmdSendToggleAccordingToConfiguration_Ia(bool value) const;
    TFramePtr CreateCmdSendToggleAccordingToConfiguration_Ib(bool value) const;
    TFramePtr CreateCmdSendToggleAccordingToConfiguration_Ic(bool value) const;
    TFramePtr CreateCmdSendToggleAccordingToConfiguration_U(bool value) const;

    const TKestConfiguration *kestConfiguration;
    const TKestCmdManager *cmdManager;
    // Set when the voltage command just built changed between the lower and the higher ranges' form,
    // so that the over-300 V switch must be sent before it.
    bool ChangeUFlag = false;
    // Whether the last voltage command of this controller used the higher ranges' form.
    bool UOver300Flag = false;
};

// The form the verification and tuning windows use: builds through a fresh command controller and queues
// on the installation's engine. The owner calls SendNextCmd.
class TKestParameterController {
public:
    TKestParameterController(TDeviceInterface *devInterface, const TKestCmdManager *kestCmdManager,
        const TKestConfiguration *kestConfiguration);

    // Raises EKestError("Error Message") for any failure.
    void SetAmperage(double Ia, double Ib, double Ic, bool isIbNeeded);
    void SetVoltage(double Ua, double Ub, double Uc);
    void SetAngle(double value);
    void SetFrequence(double value);
    // Waits ms milliseconds while the event loop keeps running: timers, engine answers and the user's
    // clicks (a "Стоп" button) are handled meanwhile. A negative ms returns after the first event.
    static void WaitBeforeGettingOutput(int ms);

    TDeviceInterface *devInterface;
    const TKestCmdManager *kestCmdManager;
    const TKestConfiguration *kestConfiguration;
    TToggleStates amperageToggleStates;
};

// (Re)opens a transport on a port and bit rate.
class TPortInitializer {
public:
    explicit TPortInitializer(TComInterface *modbus) : modbus(modbus) { }
    // ClosePort, SetPort, SetRate, OpenPort; "Нет ответа" from any of them reaches the caller.
    void InitPort(const std::string &port, const std::string &rate);

    TComInterface *modbus;
};
