#include "mainwindow/connectionlogic.h"

#include <QElapsedTimer>

#include <cmath>

#include "mainwindow/outputlogic.h"
#include "mainwindow/readoutlogic.h"
#include "protocol/kestparametercontroller.h"

TMainConnection::TMainConnection(TMainContext &ctx, TMainOutputs &outputs, TMainReadout &readout)
    : ctx_(ctx), outputs_(outputs), readout_(readout)
{
    ctx_.callback.Callback = [this](const TFramePtr &answer) { OnFrame(answer); };
    ctx_.callback.ShowError = [this](const std::exception &e) { OnError(e.what()); };
    Timer1.setInterval(kPollInterval);
    connect(&Timer1, &QTimer::timeout, this, &TMainConnection::PollTick);
    switchOff_ = std::make_unique<TSwitchOff>(*ctx_.devInterface, ctx_.callback);
}

TMainConnection::~TMainConnection()
{
    Timer1.stop();
    switchOff_.reset(); // puts this object's handlers back: before they are taken away below
    ctx_.callback.Callback = nullptr;
    ctx_.callback.ShowError = nullptr;
}

QString TMainConnection::InstallationPort() const
{
    return ctx_.port1Override.isEmpty() ? ctx_.config->ReadPort(QStringLiteral("Port1")) : ctx_.port1Override;
}

void TMainConnection::BuildKestConfiguration()
{
    const TMainSelections &s = ctx_.selections;
    TKestConfiguration c;
    c.ConfigurationName = ctx_.ConfigurationName();
    c.AmperageMax = RangeRow(s.currentRange).amperes;
    c.VoltageMax = RangeRow(s.voltage).volts;
    c.VoltageFlag = RangeRow(s.voltage).high;
    c.AnalogInputNum = 1;
    c.AmperageRangeNum = static_cast<uint8_t>(std::max(0, s.analogRangeIndex));
    c.RnFlag = true;
    c.SchemeFlag = s.scheme4;
    c.URangeIndex = static_cast<uint8_t>(URangeIndex(s.uRange));
    ctx_.kestConfiguration = c;
}

void TMainConnection::QueueConnectionSetUp()
{
    BuildKestConfiguration();
    TDeviceInterface &dev = *ctx_.devInterface;
    TKestCmdManager &cmd = ctx_.kestCmdManager;
    const TMainSelections &s = ctx_.selections;
    dev.AddCmd(cmd.CreateCmdEnableDistantControl(ctx_.kestConfiguration));
    if (ctx_.IsQx4Type()) {
        dev.AddCmd(cmd.CreateCmdSendAutoMode(s.autoAddress));
        const bool addressShown = ctx_.row && ctx_.row->addressPanel;
        if (s.autoAddress || !addressShown) {
            dev.AddCmd(cmd.CreateCmdReadDeviceAddress());
        } else {
            dev.AddCmd(cmd.CreateCmdSetDeviceSpeedIndex(s.rsSpeedIndex));
            dev.AddCmd(cmd.CreateCmdSendAddress(static_cast<int>(std::lround(s.address))));
        }
    } else {
        dev.AddCmd(cmd.CreateCmdSendAutoMode(true));
    }
}

void TMainConnection::ConnectClicked()
{
    if (switchOff_->IsActive())
        return;
    if (ctx_.isDistantControlEnabled) {
        // Disconnect: polling stops at once; an exchange in flight is let end, then the switch-off.
        EnterDisconnected();
        SwitchOffAndClose();
        return;
    }
    ctx_.view->SetConnectButtonEnabled(false);
    bool portFailed = false;
    try {
        TPortInitializer(ctx_.devInterface.get())
            .InitPort(InstallationPort().toStdString(), ctx_.config->ReadRate(QStringLiteral("Port1")).toStdString());
    } catch (const std::exception &) {
        portFailed = true;
    }
    // Opening the port emptied the queue: toggle commands waiting there will never be confirmed.
    outputs_.ForgetRequestedToggles();
    if (portFailed) {
        ctx_.view->ShowError(QStringLiteral("Порт не найден"));
        EnterDisconnected();
        ClosePort();
        return;
    }
    if (TOutputsLedger::IsOn(InstallationPort())) {
        // Outputs a program before this one could not confirm off (or left on when it was killed):
        // switched off first, then the connection.
        isCmdDistantControlSent = true;
        switchOff_->Begin(TSwitchOffSequence::Disconnect(ctx_.kestCmdManager), [this](const TSwitchOffResult &r) {
            isCmdDistantControlSent = false;
            if (!r.confirmed) {
                SwitchedOff(r);
                EnterDisconnected();
                return;
            }
            TOutputsLedger::MarkOff(InstallationPort());
            ContinueConnect();
        });
        return;
    }
    ContinueConnect();
}

void TMainConnection::ContinueConnect()
{
    TOutputsLedger::MarkOn(InstallationPort());
    isCmdDistantControlSent = false;
    QueueConnectionSetUp();
    ctx_.configurationLocked = true;
    ctx_.view->SetConfigurationSettingsEnabled(false);
    ctx_.SendNext();
}

std::optional<TSwitchOffResult> TMainConnection::SwitchOffOwed(int maxMs)
{
    const QString port = InstallationPort();
    if (!TOutputsLedger::IsOn(port) || ctx_.devInterface->IsOpen() || switchOff_->IsActive())
        return std::nullopt;
    try {
        TPortInitializer(ctx_.devInterface.get())
            .InitPort(port.toStdString(), ctx_.config->ReadRate(QStringLiteral("Port1")).toStdString());
    } catch (const std::exception &) {
        TSwitchOffResult r;
        r.reason = QStringLiteral("Порт не найден");
        return r;
    }
    const std::shared_ptr<bool> alive = ctx_.alive;
    const TSwitchOffResult r = switchOff_->Run(TSwitchOffSequence::Disconnect(ctx_.kestCmdManager), maxMs);
    if (!*alive)
        return r;
    if (r.confirmed)
        TOutputsLedger::MarkOff(port);
    ClosePort();
    return r;
}

void TMainConnection::SwitchOffAndClose()
{
    Timer1.stop();
    waiter_.Cancel();
    if (!ctx_.devInterface->IsOpen())
        return;
    ctx_.view->SetConnectButtonEnabled(false);
    isCmdDistantControlSent = true;
    switchOff_->Begin(
        TSwitchOffSequence::Disconnect(ctx_.kestCmdManager), [this](const TSwitchOffResult &r) { SwitchedOff(r); });
}

void TMainConnection::SwitchedOff(const TSwitchOffResult &r)
{
    isCmdDistantControlSent = false;
    if (r.confirmed)
        TOutputsLedger::MarkOff(InstallationPort());
    ClosePort();
    ctx_.view->SetConnectButtonEnabled(true);
    if (!r.confirmed)
        ctx_.view->ShowError(QStringLiteral("Выходы установки не удалось выключить: ") + r.Text());
}

void TMainConnection::ClosePort()
{
    try {
        ctx_.devInterface->ClosePort();
    } catch (const std::exception &) {
        // Closing a port that is already gone leaves nothing to do.
    }
}

void TMainConnection::EnterDisconnected()
{
    IMainView &v = *ctx_.view;
    v.SetOutputControlsEnabled(false);
    v.ShowConnection(false);
    v.SetConnectButtonEnabled(true);
    ctx_.isDistantControlEnabled = false;
    isCmdDistantControlSent = false;
    ctx_.isDeviceConnected = false;
    Timer1.stop();
    waiter_.Cancel(); // a range-control wait has nothing left to wait for
    readout_.ForgetTransducer();
    v.ClearPhasors();
    v.SetAnalogSelectorsEnabled(false);
    ctx_.configurationLocked = false;
    v.SetConfigurationSettingsEnabled(true);
    isPaused = true;
    v.SetPause(false, false);
    outputs_.ForgetLastSent();
}

void TMainConnection::EnterConnected()
{
    IMainView &v = *ctx_.view;
    v.SetOutputControlsEnabled(true);
    v.ShowConnection(true);
    ctx_.isDistantControlEnabled = true;
    v.SetConnectButtonEnabled(true);
    v.SetAnalogSelectorsEnabled(ctx_.selections.enableAnalog);
    waiter_.Reset();
    Timer1.start();
    isPaused = false;
    v.SetPause(true, true);
}

void TMainConnection::PauseClicked()
{
    if (!ctx_.isDistantControlEnabled)
        return;
    if (isPaused) {
        Timer1.start();
        isPaused = false;
        ctx_.view->SetPause(true, true);
    } else {
        Timer1.stop();
        isPaused = true;
        ctx_.view->SetPause(false, true);
    }
}

void TMainConnection::ResumePolling()
{
    if (ctx_.isDistantControlEnabled && !isPaused)
        Timer1.start();
}

void TMainConnection::PollTick()
{
    if (isCmdDistantControlSent)
        return;
    // The previous exchange (with its re-sends) is still running: this tick is skipped rather than
    // piling up polls behind it.
    if (ctx_.devInterface->IsWaiting())
        return;
    if (!ctx_.Guard([&] {
            ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdReadDeviceStatusAndAllParameters());
            ctx_.SendNext();
        }))
        Timer1.stop();
}

void TMainConnection::Shutdown(int maxMs)
{
    Timer1.stop();
    waiter_.Cancel();
    if (!ctx_.devInterface->IsOpen())
        return;
    const std::shared_ptr<bool> alive = ctx_.alive;
    if (switchOff_->IsActive()) {
        // A disconnect's switch-off is under way: let it end (it closes the port).
        QElapsedTimer elapsed;
        elapsed.start();
        TWaiter wait;
        while (*alive && switchOff_->IsActive() && elapsed.elapsed() < maxMs)
            if (!wait.Wait(20, TSwitchOff::kWaitPurpose))
                break;
        if (*alive && switchOff_->IsActive()) {
            switchOff_->Abort();
            ClosePort();
        }
        return;
    }
    ctx_.isDistantControlEnabled = false;
    isCmdDistantControlSent = true;
    const TSwitchOffResult r = switchOff_->Run(TSwitchOffSequence::Disconnect(ctx_.kestCmdManager), maxMs);
    if (*alive)
        SwitchedOff(r);
}

void TMainConnection::OnFrame(const TFramePtr &answer)
{
    const TFramePtr last = ctx_.devInterface->GetLastCmd();
    if (!answer || !last)
        return;
    const TFrame &cmd = *last;
    TDeviceInterface &dev = *ctx_.devInterface;
    TKestCmdManager &kest = ctx_.kestCmdManager;

    // 0. Remote control asked for and something else came back: the installation's state is unknown,
    // so it is said, and switched off as far as it answers.
    if (TKestCmdManager::IsCmdConfiguration(cmd) && TKestCmdManager::IsDistantControlEnabled(cmd)
        && !TSwitchOff::IsEchoOf(*answer, cmd)) {
        EnterDisconnected();
        SwitchOffAndClose();
        ctx_.view->ShowError(
            QStringLiteral("Установка не подтвердила дистанционное управление: вместо подтверждения пришло «%1»")
                .arg(QString::fromStdString(answer->ToHex())));
        return;
    }
    // 1. The acknowledgement of a write of the control register.
    if (TKestCmdManager::IsCmdConfiguration(*answer)) {
        if (!TKestCmdManager::IsDistantControlEnabled(*answer)) {
            EnterDisconnected();
            ClosePort();
            return; // the port is closed: nothing more to send
        }
        if (!ctx_.isDistantControlEnabled && !isCmdDistantControlSent) {
            EnterConnected();
            if (onConnected_)
                onConnected_();
        }
    }
    // 2. The poll.
    if (TKestCmdManager::IsCmdAllParameters(cmd)) {
        readout_.ShowInstallationReadout(*answer);
        if (ctx_.isDeviceConnected && ctx_.devInfo)
            dev.AddCmd(kest.CreateCmdReadAllParametersRS());
    }
    // 3. The transducer's readings.
    if (TKestCmdManager::IsCmdAllParametersRS(cmd))
        readout_.ShowTransducerReadout(*answer);
    // 4. Identification.
    if (TKestCmdManager::IsCmdReadDeviceInfo(cmd)) {
        readout_.TakeIdentification(*answer);
        ctx_.view->SetReadSettingsEnabled(true);
    }
    // 5. (Amplifiers off, then remote control off: the switch-off does both and holds the handlers.)
    // 6.
    if (TKestCmdManager::IsCmdReadDeviceAddress(cmd)) {
        ctx_.selections.address = TKestCmdManager::RecieveDeviceAddress(*answer);
        ctx_.view->SetAddressValue(ctx_.selections.address);
    }
    // 7.
    if (TKestCmdManager::IsCmdSendDeviceMode(cmd)) {
        if (ctx_.selections.autoAddress)
            dev.AddCmd(kest.CreateCmdReadDeviceAddress());
        else
            dev.AddCmd(kest.CreateCmdSendAddress(static_cast<int>(std::lround(ctx_.selections.address))));
    }
    // 8. Toggles show what the installation has confirmed.
    if (TKestCmdManager::IsCmdSetAmplifierIa(cmd) || TKestCmdManager::IsCmdSetAmplifierIa5(cmd))
        outputs_.ToggleConfirmed(QStringLiteral("Ia"));
    if (TKestCmdManager::IsCmdSetAmplifierIb(cmd) || TKestCmdManager::IsCmdSetAmplifierIb5(cmd))
        outputs_.ToggleConfirmed(QStringLiteral("Ib"));
    if (TKestCmdManager::IsCmdSetAmplifierIc(cmd) || TKestCmdManager::IsCmdSetAmplifierIc5(cmd))
        outputs_.ToggleConfirmed(QStringLiteral("Ic"));
    if (TKestCmdManager::IsCmdSetAmplifierUa(cmd) || TKestCmdManager::IsCmdSetAmplifierUb(cmd)
        || TKestCmdManager::IsCmdSetAmplifierUc(cmd) || TKestCmdManager::IsCmdSetAmplifierU650(cmd))
        outputs_.ToggleConfirmed(QStringLiteral(" "));
    // 9. Range control: let the outputs settle, then read the installation.
    if (ctx_.selections.aru && TKestCmdManager::IsCmdAmperage(cmd) && ctx_.isDistantControlEnabled) {
        dev.AddCmd(kest.CreateCmdReadDeviceStatusAndAllParameters());
        const std::shared_ptr<bool> alive = ctx_.alive;
        const bool waited = waiter_.Wait(kAruWait, QStringLiteral("АРУ"));
        if (!*alive)
            return; // the window closed during the wait
        if (!waited && !ctx_.devInterface->IsOpen())
            return; // disconnected meanwhile
    }
    // 10.
    ctx_.SendNext();
}

void TMainConnection::OnError(const std::string &text)
{
    const TFramePtr last = ctx_.devInterface->GetLastCmd();
    if (last && TKestCmdManager::IsCmdReadDeviceInfo(*last)) {
        // Older installations keep a shorter identification block: ask again, quietly.
        ctx_.kestCmdManager.SetOldDevInfoLength();
        ctx_.devInterface->AddCmd(ctx_.kestCmdManager.CreateCmdReadDeviceInfo());
        return;
    }
    Timer1.stop();
    const bool mayBeOn = TOutputsLedger::IsOn(InstallationPort());
    EnterDisconnected();
    // The line failed once; the outputs still go off if the installation answers at all.
    if (mayBeOn && ctx_.devInterface->IsOpen())
        SwitchOffAndClose();
    else
        ClosePort();
    ctx_.view->ShowError(QString::fromUtf8(text.c_str()));
}
