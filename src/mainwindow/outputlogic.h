#pragma once
// The main window's output actions: current, voltage, angle, frequency and address as the user sets them,
// the phase toggles, and the automatic range correction ("АРУ") that repeats the settings until the
// transducer reads what was asked for.

#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "mainwindow/maincontext.h"
#include "presentation/aru_manager.h"

class TKestInputParamCmdController;

class TMainOutputs {
public:
    explicit TMainOutputs(TMainContext &ctx) : ctx_(ctx) { }

    void ActionI(double value);
    void ActionU(double value);
    void ActionAngle(double value);
    void ActionFrequency(double value);
    void ActionAddress(double value);
    // The user clicked a toggle: its command goes out; the toggle changes when the installation confirms.
    void ToggleRequested(const QString &name, bool requestedState);
    // The installation confirmed the command of that toggle.
    void ToggleConfirmed(const QString &name);
    // The port was opened anew: commands still waiting for confirmation were dropped with its queue.
    void ForgetRequestedToggles();
    // A new set of current toggles for the configuration and scheme, each on.
    void SetUpCurrentToggles();

    // One correction cycle: the correction state's voltages and currents, sent at once.
    void SendCorrection();
    // The transducer's reading says whether to correct again (QX4-type transducers).
    bool NeedsCorrection(const TParameters &transducerReading);
    void ResetCycles();
    void ForgetLastSent();

    int AruCycles() const { return aruCycles; }

private:
    // The I and U actions: remember the value, restart the correction, then send it one way or the other.
    void OutputAction(float &lastSent, double value, const std::function<void()> &queue);
    // The angle and frequency actions: restart the correction and queue the command built.
    void QueueSetting(const std::function<TFramePtr(TKestInputParamCmdController &)> &build);
    void RebuildCorrectionState();
    void QueueCurrent(double a, double b, double c);
    void QueueVoltage(double a, double b, double c);

    TMainContext &ctx_;
    float lastSentI = 0;
    float lastSentU = 0;
    int aruCycles = 0;
    std::unique_ptr<TARU_Manager> AruManager;
    std::map<QString, std::deque<bool>> requested_; // per toggle, the states asked for and not yet confirmed
};
