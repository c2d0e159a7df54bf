#pragma once
// The main window's link to the installation: connecting and disconnecting, the polling cycle, the
// dispatch of every answer and the error handler.

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

#include "mainwindow/maincontext.h"
#include "protocol/switchoff.h"
#include "transport/waitservice.h"

class TMainOutputs;
class TMainReadout;

class TMainConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollInterval = 2000;
    static constexpr int kAruWait = 5000;

    TMainConnection(TMainContext &ctx, TMainOutputs &outputs, TMainReadout &readout);
    ~TMainConnection() override;

    // Runs once the installation has acknowledged remote control (speed, protocol, zero outputs).
    void SetOnConnected(std::function<void()> handler) { onConnected_ = std::move(handler); }

    void ConnectClicked();
    void PauseClicked();
    void PollTick();
    // The connection set-up again (remote control with the configuration, auto mode, address).
    void QueueConnectionSetUp();
    void EnterDisconnected();
    // Closing the window: amplifiers off and remote control off, each confirmed, before the port goes;
    // gives up after maxMs (the error handler reports a silent installation).
    void Shutdown(int maxMs = 8000);

    void OnFrame(const TFramePtr &answer);
    void OnError(const std::string &text);

    void StopPolling() { Timer1.stop(); }
    void ResumePolling();
    bool IsPolling() const { return Timer1.isActive(); }
    bool IsPaused() const { return isPaused; }
    QTimer &PollTimer() { return Timer1; }

    QString InstallationPort() const;
    // At start-up: outputs that the ledger says were left on (a program killed mid-run, a switch-off the
    // installation never confirmed) are switched off, confirmed, before anything else. Nothing when
    // nothing is owed or the port is taken already.
    std::optional<TSwitchOffResult> SwitchOffOwed(int maxMs = 8000);
    bool IsSwitchingOff() const { return switchOff_->IsActive(); }

private:
    // The installation's outputs off and remote control released (the disconnect's own sequence), then
    // the port closed; the connect button comes back when that is confirmed or has failed.
    void SwitchOffAndClose();
    void SwitchedOff(const TSwitchOffResult &result);
    void ContinueConnect();
    void EnterConnected();
    void ClosePort();
    void BuildKestConfiguration();

    TMainContext &ctx_;
    TMainOutputs &outputs_;
    TMainReadout &readout_;
    std::function<void()> onConnected_;
    QTimer Timer1;
    TWaiter waiter_;
    bool isCmdDistantControlSent = false;
    bool isPaused = true;
    std::unique_ptr<TSwitchOff> switchOff_;
};
