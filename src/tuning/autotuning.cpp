#include "tuning/autotuning.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "presentation/errorcalculator.h"
#include "presentation/parameterscaling.h"
#include "protocol/numberformat.h"
#include "tuning/soundsignal.h"

namespace {

const QString kPort1 = QStringLiteral("Port1");
const QString kPort2 = QStringLiteral("Port2");
const QString kPortNotFound = QStringLiteral("Порт не найден");
// The start of a run the installation would not let go on: the technician learns why nothing happened.
const QString kRemoteControlRefused
    = QStringLiteral("Установка не приняла дистанционное управление, настройка не начата: ");
constexpr double kOutputFrequency = 51; // Hz, of the nominal and of the zero output alike

// The shortest decimal that reads back to the same 32-bit float.
double AsWritten(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    if (result.ec != std::errc())
        return value;
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

float RoundTo4(double value)
{
    return static_cast<float>(std::round(value * 10000.0) / 10000.0);
}

// The phases of the angle stage: their reads, their shift frames and their log lines.
struct TPhaseRow {
    int param; // Pa, Pb, Pc
    const char16_t *title;
    const char16_t *impossible;
};
// The phase letters are as the texts have always been: Cyrillic in the progress lines, Latin B and C in
// the failure lines.
const TPhaseRow kPhases[3] = {
    {piPa, u"Настройка угла по фазе \u0410...", u"Настройка невозможна на фазе \u0410 "},
    {piPb, u"Настройка угла по фазе \u0412...", u"Настройка невозможна на фазе B "},
    {piPc, u"Настройка угла по фазе \u0421...", u"Настройка невозможна на фазе C "},
};

} // namespace

const QStringList TAutoTuning::kVoltageCaptions{
    QStringLiteral("100 V"), QStringLiteral("380 V"), QStringLiteral("400 V")};
const QStringList TAutoTuning::kCurrentCaptions{
    QStringLiteral("0,5A"), QStringLiteral("1A"), QStringLiteral("2,5A"), QStringLiteral("5A")};
const QString TAutoTuning::kSearchAnswerWrong
    = QStringLiteral("Адрес не найден: на запрос поиска пришёл ответ, который не является ответом на поиск");
const QString TAutoTuning::kSearchNotAnswered = QStringLiteral("Адрес не найден: ответа на запрос поиска нет");
const QStringList TAutoTuning::kSchemeCaptions{QStringLiteral("3-х"), QStringLiteral("4-х")};
const QStringList TAutoTuning::kRs2ConfigCaptions{QStringLiteral("Информ. канал"), QStringLiteral("MB / IEC / CRC_RB")};
const QStringList TAutoTuning::kAnalogTypeCaptions{QStringLiteral("-5 - 0 - 5 мА"), QStringLiteral("4 - 12 - 20 мА")};

QStringList TAutoTuning::SpeedCaptions()
{
    return TKestCmdManager::GetDeviceSpeedList();
}

QStringList TAutoTuning::ParameterCaptions()
{
    const TParameters names;
    QStringList list;
    for (int k = 1; k <= TParameters::kCount; ++k)
        list << names.GetParameterByIndex(k)->name;
    return list;
}

TAutoTuning::TAutoTuning(ITuningView *view, QObject *parent) : QObject(parent), view_(view)
{
    beep_ = [](int hz, int ms) { TSoundSignal::Play(hz, ms); };
}

TAutoTuning::~TAutoTuning()
{
    // A window destroyed without being closed (its owner went first): the outputs still go off, with
    // the event loop running just for that, for as long as the installation's link allows.
    view_ = nullptr;
    if (NeedsShutDown() || zeroing_) {
        bool over = false;
        if (!zeroing_)
            ShutDown([&over] { over = true; });
        else
            zeroDone_ = [&over, previous = zeroDone_](bool confirmed) {
                if (previous)
                    previous(confirmed);
                over = true;
            };
        QElapsedTimer clock;
        clock.start();
        const int limit = 4 * (TComInterfaceWithCallback::kMaxResends + 1) * kResponseTimeOut + 5000;
        QTimer tick; // wakes the loop below even when nothing else happens
        tick.start(100);
        QEventLoop loop;
        while (zeroing_ && !over && clock.elapsed() < limit)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    *alive_ = false;
    waiter_.Cancel();
    searchWaiter_.Cancel();
    observers_.clear();
    switchOff_.reset();
    kestDeviceInterface.reset();
    deviceInterface.reset();
}

// ---------------------------------------------------------------------------------------------------
// Set-up

void TAutoTuning::InitKestCommunication(TConfigController *_config)
{
    kestCmdManager = std::make_unique<TKestCmdManager>();
    portConfig = _config;
    globalConfig = std::make_unique<TGlobalConfig>(portConfig);
    autoTuningConfig = std::make_unique<TAutoTuningConfig>(portConfig);
    DeviceSettingsConfig = std::make_unique<TDeviceSettingsConfig>(portConfig);
    LoadTransfCoefs();
    kestCallback_.Callback = [this](const TFramePtr &answer) { OnKestAnswer(answer); };
    // The installation's link reports its failures too: a silent installation must not stall a run
    // with its outputs on.
    kestCallback_.ShowError = [this](const std::exception &e) { OnKestError(e.what()); };
    kestDeviceInterface = std::make_unique<TDeviceInterface>(nullptr, &kestCallback_);
    kestDeviceInterface->SetResponseTimeOut(kResponseTimeOut);
    switchOff_ = std::make_unique<TSwitchOff>(*kestDeviceInterface, kestCallback_);
    choices_.playSound = autoTuningConfig->ReadPlaySoundOnFinish();
    Show();
}

void TAutoTuning::InitDeviceCommunication()
{
    deviceCmdManager = std::make_unique<TQx4CmdManager>(choices_.netAdr);
    choices_.analogTypeIndex = 1;
    deviceCallback_.Callback = [this](const TFramePtr &answer) { OnQx4Answer(answer); };
    deviceCallback_.ShowError = [this](const std::exception &e) { OnQx4Error(e.what()); };
    deviceInterface = std::make_unique<TDeviceInterface>(nullptr, &deviceCallback_);
    deviceInterface->SetResponseTimeOut(kResponseTimeOut);
    choices_.outputs = {0, 1, 2};
    choices_.rs1Index = choices_.rs2Index = TKestCmdManager::GetDefaultDeviceSpeedIndex();
    Show();
}

void TAutoTuning::SetPortOverride(const QString &port1, const QString &port2)
{
    port1Override_ = port1;
    port2Override_ = port2;
}

void TAutoTuning::AddObserver(ITuningObserver *observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void TAutoTuning::RemoveObserver(ITuningObserver *observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

QString TAutoTuning::CoefficientLabel() const
{
    return QStringLiteral("KU = ") + FloatToQStr(transfCoefs.U1) + QStringLiteral("/") + FloatToQStr(transfCoefs.U2)
        + QStringLiteral("       KI = ") + FloatToQStr(transfCoefs.I1) + QStringLiteral("/")
        + FloatToQStr(transfCoefs.I2);
}

void TAutoTuning::LoadTransfCoefs()
{
    auto read = [this](const QString &text, double &target) {
        if (!TryStrToFloat(text, target)) {
            target = 0;
            ShowError(QString::fromStdString(ConversionErrorText(text.toStdString())));
        }
    };
    read(DeviceSettingsConfig->ReadKU1(), transfCoefs.U1);
    read(DeviceSettingsConfig->ReadKU2(), transfCoefs.U2);
    read(DeviceSettingsConfig->ReadKI1(), transfCoefs.I1);
    read(DeviceSettingsConfig->ReadKI2(), transfCoefs.I2);
    if (view_)
        view_->SetCoefficientLabel(CoefficientLabel());
}

QString TAutoTuning::RangeRefusal() const
{
    // The nominal output is the transducer's secondary values; one that no range of the installation
    // can carry is not sent at all rather than sent on a range too small for it.
    const double i2 = transfCoefs.I2;
    const double u2 = transfCoefs.U2;
    if (!(i2 > 0 && i2 <= kCurrents.back()))
        return QStringLiteral("Вторичный ток преобразователя ") + FloatToQStr(i2)
            + QStringLiteral(" А не укладывается ни в один диапазон тока KEST (до ") + FloatToQStr(kCurrents.back())
            + QStringLiteral(" А). Настройка не начата.");
    if (!(u2 > 0 && u2 <= kVoltages.back()))
        return QStringLiteral("Вторичное напряжение преобразователя ") + FloatToQStr(u2)
            + QStringLiteral(" В не укладывается ни в один диапазон напряжения KEST (до ")
            + FloatToQStr(kVoltages.back()) + QStringLiteral(" В). Настройка не начата.");
    return QString();
}

void TAutoTuning::SetNominalChoicesFromCoefs()
{
    for (size_t i = 0; i < kCurrents.size(); ++i) {
        if (kCurrents[i] >= transfCoefs.I2) {
            choices_.currentIndex = static_cast<int>(i);
            break;
        }
    }
    for (size_t i = 0; i < kVoltages.size(); ++i) {
        if (kVoltages[i] >= transfCoefs.U2) {
            choices_.voltageIndex = static_cast<int>(i);
            break;
        }
    }
    Show();
}

void TAutoTuning::Show() const
{
    if (view_)
        view_->ShowChoices(choices_);
}

void TAutoTuning::ShowError(const QString &text)
{
    if (view_)
        view_->ShowError(text);
}

void TAutoTuning::Log(const QString &line)
{
    log_ << line;
    if (view_)
        view_->AddLog(line);
    for (ITuningObserver *o : observers_)
        o->TuningLog(line);
}

QString TAutoTuning::FormatError(double value)
{
    QString text = QString::number(value, 'f', 3);
    if (text.startsWith(QLatin1Char('-')) && text.mid(1) == QStringLiteral("0.000"))
        text = text.mid(1);
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

int TAutoTuning::EstimateSteps(double error, double previousError, int previousCount, double floorPerStep)
{
    const double perStep = std::max(std::fabs(error - previousError) / std::max(previousCount, 1), floorPerStep);
    if (!(perStep > 0) || !std::isfinite(perStep))
        return 1; // two equal errors tell nothing about a step: take one
    const double steps = std::fabs(std::trunc(error / perStep));
    if (!std::isfinite(steps) || steps > kMaxSteps)
        return kMaxSteps;
    return std::max(1, static_cast<int>(steps));
}

void TAutoTuning::StartWait(int ms, const char *purpose, std::function<void()> then)
{
    waitedMs_ += ms * TWaitService::Scale();
    waiter_.After(ms, std::move(then), QString::fromLatin1(purpose));
}

// ---------------------------------------------------------------------------------------------------
// Ports

QString TAutoTuning::PortOf(const QString &dedication) const
{
    const QString &override = dedication == kPort1 ? port1Override_ : port2Override_;
    if (!override.isEmpty())
        return override;
    return portConfig ? portConfig->ReadPort(dedication) : QString();
}

void TAutoTuning::OpenPort(TDeviceInterface &link, const QString &dedication, const QString &rate)
{
    TPortInitializer(&link).InitPort(PortOf(dedication).toStdString(), rate.toStdString());
}

void TAutoTuning::ClosePort(TDeviceInterface *link)
{
    if (!link)
        return;
    try {
        link->ClosePort();
    } catch (...) {
        // Closing a port that will not close leaves nothing more to do here.
    }
}

void TAutoTuning::CloseDevicePort()
{
    ClosePort(deviceInterface.get());
}

bool TAutoTuning::OpenDevicePortForIdentity()
{
    if (IsRunning())
        return false;
    try {
        OpenPort(*deviceInterface, kPort2, portConfig->ReadRate(kPort2));
        return true;
    } catch (...) {
        ShowError(kPortNotFound);
        return false;
    }
}

// ---------------------------------------------------------------------------------------------------
// User actions

void TAutoTuning::VoltageChosen(int index)
{
    // The installation is configured for the run's nominal output: the choice shown stays the one sent.
    if (IsRunning()) {
        Show();
        return;
    }
    if (index >= 0 && index < kVoltageCaptions.size())
        choices_.voltageIndex = index;
}

void TAutoTuning::CurrentChosen(int index)
{
    if (IsRunning()) {
        Show();
        return;
    }
    if (index >= 0 && index < kCurrentCaptions.size())
        choices_.currentIndex = index;
}

void TAutoTuning::SchemeChosen(int index)
{
    if (index >= 0 && index < kSchemeCaptions.size())
        choices_.schemeIndex = index;
}

void TAutoTuning::NetAdrChanged(int value)
{
    choices_.netAdr = value;
    if (deviceCmdManager)
        deviceCmdManager->SetNetAdr(value);
}

void TAutoTuning::NewAdrChanged(int value)
{
    choices_.newAdr = value;
}

void TAutoTuning::Rs1Chosen(int index)
{
    if (index >= 0 && index < SpeedCaptions().size())
        choices_.rs1Index = index;
}

void TAutoTuning::Rs2Toggled(bool enabled)
{
    choices_.rs2Enabled = enabled;
}

void TAutoTuning::Rs2Chosen(int index)
{
    if (index >= 0 && index < SpeedCaptions().size())
        choices_.rs2Index = index;
}

void TAutoTuning::Rs2ConfigChosen(int index)
{
    if (index >= 0 && index < kRs2ConfigCaptions.size())
        choices_.rs2ConfigIndex = index;
}

void TAutoTuning::OutputChosen(int output, int position)
{
    if (output >= 1 && output <= 3 && position >= 0 && position < TParameters::kCount)
        choices_.outputs[static_cast<size_t>(output - 1)] = position;
}

void TAutoTuning::AnalogTypeChosen(int index)
{
    if (index >= 0 && index < kAnalogTypeCaptions.size())
        choices_.analogTypeIndex = index;
}

void TAutoTuning::AnalogToggled(bool enabled)
{
    choices_.analogEnabled = enabled;
}

void TAutoTuning::SoundClicked(bool checked)
{
    choices_.playSound = checked;
    if (autoTuningConfig)
        autoTuningConfig->WritePlaySoundOnFinish(checked);
}

void TAutoTuning::CoefficientsEdited()
{
    if (DeviceSettingsConfig)
        LoadTransfCoefs();
}

void TAutoTuning::FindClicked()
{
    if (stage_ != TTuningStage::Idle || !deviceInterface)
        return;
    try {
        OpenPort(*deviceInterface, kPort2, portConfig->ReadRate(kPort2));
    } catch (...) {
        isReadSettingsPushed = false;
        ShowError(kPortNotFound);
        return;
    }
    stage_ = TTuningStage::Searching;
    searchWaiter_.Reset();
    const int limit
        = (TComInterfaceWithCallback::kMaxResends + 1) * deviceInterface->ResponseTimeOut() + TuningWait::kSearchMargin;
    searchWaiter_.After(
        limit, [this] { EndSearch(kSearchNotAnswered); }, QString::fromLatin1(TuningWait::SearchAnswer));
    deviceInterface->AddCmd(TQx4CmdManager::CreateCmdFindAddress());
    deviceInterface->SendNextCmd();
}

void TAutoTuning::EndSearch(const QString &message)
{
    if (IsSearching())
        stage_ = TTuningStage::Idle;
    isReadSettingsPushed = false;
    searchWaiter_.Cancel();
    CloseDevicePort();
    if (!message.isEmpty())
        ShowError(message);
}

void TAutoTuning::ReadSettingsClicked()
{
    if (stage_ != TTuningStage::Idle)
        return;
    isReadSettingsPushed = true;
    FindClicked();
}

void TAutoTuning::StartClicked()
{
    // A pending search owns the transducer's line until its answer, its error or "Стоп".
    if (stage_ != TTuningStage::Idle || !kestDeviceInterface || !deviceInterface)
        return;
    log_.clear();
    if (view_)
        view_->ClearLog();
    const QString refusal = RangeRefusal();
    if (!refusal.isEmpty()) {
        Log(refusal);
        ShowError(refusal);
        return;
    }
    // Chosen before the configuration frame is built, so that the installation's ranges are those of
    // the nominal output it will be sent, never the ones chosen before.
    SetNominalChoicesFromCoefs();
    try {
        OpenPort(*kestDeviceInterface, kPort1, portConfig->ReadRate(kPort1));
        OpenPort(*deviceInterface, kPort2, portConfig->ReadRate(kPort2));
    } catch (...) {
        // Nothing has been sent: a run with one line missing would only fail later, outputs on.
        ClosePort(kestDeviceInterface.get());
        ClosePort(deviceInterface.get());
        ShowError(kPortNotFound);
        return;
    }
    kestConfiguration = TKestConfiguration();
    kestConfiguration.AmperageMax = kCurrents[static_cast<size_t>(choices_.currentIndex)];
    kestConfiguration.AmperageRangeNum = static_cast<uint8_t>(choices_.analogTypeIndex);
    kestConfiguration.VoltageMax = static_cast<int>(kVoltages[static_cast<size_t>(choices_.voltageIndex)]);
    kestConfiguration.VoltageFlag = choices_.voltageIndex != 0;
    kestConfiguration.SchemeFlag = true;
    kestParameterController = std::make_unique<TKestParameterController>(
        kestDeviceInterface.get(), kestCmdManager.get(), &kestConfiguration);

    stage_ = TTuningStage::Starting;
    isAnalogInMiddleMode = false;
    currentAnalogOutNum = 0;
    previousCountOfOnePercentShifts = 0;
    previousError = kNoPreviousError;
    hasTheFirstShiftBeenSent = false;
    attemptsToAdjustDone = 0;
    angleSettling_ = angleAnswered_ = false;
    firstStepEffect_ = 0;
    waitedMs_ = 0;
    analogSum_ = 0;
    analogReads_ = 0;
    readbacks_ = 0;
    lastReadback_.reset();
    waiter_.Cancel();
    waiter_.Reset();
    if (view_)
        view_->SetRunning(true);
    for (ITuningObserver *o : observers_)
        o->TuningStarted(choices_, transfCoefs);
    if (TOutputsLedger::IsOn(PortOf(kPort1))) {
        // Outputs an earlier run could not confirm off (or left on when the program was killed) go off
        // before anything else is sent.
        Log(QStringLiteral("Выключение выходов KEST..."));
        zeroing_ = true;
        switchOff_->Begin(ZeroSequence(), [this](const TSwitchOffResult &r) {
            zeroing_ = false;
            lastZeroConfirmed_ = r.confirmed;
            if (r.confirmed)
                TOutputsLedger::MarkOff(PortOf(kPort1));
            if (!r.confirmed || stage_ == TTuningStage::Ending) {
                ClosePort(kestDeviceInterface.get());
                CloseDevicePort();
                if (!r.confirmed)
                    Log(QStringLiteral("Выключение выходов KEST не подтверждено: ") + r.Text());
                std::function<void(bool)> done = std::move(zeroDone_);
                zeroDone_ = nullptr;
                EndRun(r.confirmed ? TTuningEnd::Stopped : TTuningEnd::Failed,
                    r.confirmed ? QString() : QStringLiteral("Выходы установки не удалось выключить: ") + r.Text());
                if (done)
                    done(r.confirmed);
                return;
            }
            TakeRemoteControl();
        });
        return;
    }
    TakeRemoteControl();
}

void TAutoTuning::TakeRemoteControl()
{
    // Marked before the first frame that can energise anything: a crash from here on is made good by
    // the next program to take the port.
    TOutputsLedger::MarkOn(PortOf(kPort1));
    Log(QStringLiteral("Установка конфигурации KEST..."));
    kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdEnableDistantControl(kestConfiguration));
    kestDeviceInterface->SendNextCmd();
}

std::vector<TSwitchOffFrame> TAutoTuning::ZeroSequence() const
{
    return TSwitchOffSequence::Tuning(
        *kestCmdManager, kestConfiguration, globalConfig->ReadOptionIb(), kOutputFrequency);
}

void TAutoTuning::StopClicked()
{
    if (IsSearching())
        EndSearch(QString());
    if (IsRunning() && zeroing_)
        stage_ = TTuningStage::Ending; // an owed switch-off under way: the run ends with it
    if (!IsRunning() || zeroing_)
        return;
    kestDeviceInterface->CleaerQueue();
    ClosePort(deviceInterface.get());
    StopTuning();
    BeginZeroOutput([this](bool) { EndRun(TTuningEnd::Stopped, QString()); });
}

bool TAutoTuning::NeedsShutDown() const
{
    return IsRunning() || (kestDeviceInterface && kestDeviceInterface->IsOpen());
}

bool TAutoTuning::ShutDown(std::function<void()> done)
{
    if (IsSearching())
        EndSearch(QString());
    if (zeroing_) {
        zeroDone_ = [previous = zeroDone_, done = std::move(done)](bool confirmed) {
            if (previous)
                previous(confirmed);
            if (done)
                done();
        };
        return true;
    }
    if (!NeedsShutDown()) {
        ClosePort(deviceInterface.get());
        if (done)
            done();
        return false;
    }
    const bool wasRunning = IsRunning();
    if (kestDeviceInterface)
        kestDeviceInterface->CleaerQueue();
    ClosePort(deviceInterface.get());
    StopTuning();
    BeginZeroOutput([this, wasRunning, done = std::move(done)](bool) {
        if (wasRunning)
            EndRun(TTuningEnd::Stopped, QString());
        if (done)
            done();
    });
    return true;
}

// ---------------------------------------------------------------------------------------------------
// The installation's answers

void TAutoTuning::OnKestAnswer(const TFramePtr &answer)
{
    if (IsStopped() || !answer)
        return;
    const TFramePtr cmd = kestDeviceInterface->GetLastCmd();
    if (!cmd)
        return;
    switch (stage_) {
    case TTuningStage::Starting:
        OnKestAnswerStarting(*cmd, *answer);
        return;
    case TTuningStage::References:
        OnKestAnswerReferences(*cmd, *answer);
        return;
    case TTuningStage::Angle90:
        OnKestAnswerAngle90(*cmd, *answer);
        return;
    case TTuningStage::AnalogOutputs:
        OnKestAnswerAnalogOutputs(*cmd, *answer);
        return;
    default:
        // The other stages ask the installation for nothing: the queue goes on.
        kestDeviceInterface->SendNextCmd();
        return;
    }
}

void TAutoTuning::OnKestAnswerStarting(const TFrame &cmd, const TFrame &answer)
{
    if (!TKestCmdManager::IsCmdConfiguration(cmd)) {
        kestDeviceInterface->SendNextCmd();
        return;
    }
    if (TSwitchOff::IsEchoOf(answer, cmd) && TKestCmdManager::IsDistantControlEnabled(answer)) {
        deviceInterface->AddCmd(deviceCmdManager->CreateCmdEnableZeroOutNoise());
        deviceInterface->AddCmd(deviceCmdManager->CreateCmdReadExtraSettings1());
        deviceInterface->AddCmd(deviceCmdManager->CreateCmdWriteTransfCoefs(transfCoefs));
        Log(QStringLiteral("Обнуление шумов. Запись коэффициентов трансформации в QX4..."));
        deviceInterface->SendNextCmd();
        return;
    }
    // The installation did not take remote control. Refused outright (register 0 echoed as written 0:
    // its own panel keeps control) or answered with something that is not the echo (its state
    // unknown), the run ends either way, switched off all the same, and the technician is told which.
    const QString hex = QString::fromStdString(answer.ToHex());
    const QString reason = TKestCmdManager::IsCmdConfiguration(answer) && TKestCmdManager::IsCmdDisableControl(answer)
        ? kRemoteControlRefused
            + QStringLiteral("на установке дистанционное управление выключено (ответ «%1»)").arg(hex)
        : QStringLiteral("Установка не подтвердила дистанционное управление: вместо подтверждения пришло «%1»")
              .arg(hex);
    Fail(reason);
    ShowError(reason);
}

void TAutoTuning::OnKestAnswerReferences(const TFrame &cmd, const TFrame &answer)
{
    if (TKestCmdManager::IsCmdAmperage(cmd)) {
        // The nominal output is set (the current goes last): it settles before it is read.
        StartWait(TuningWait::kSettle, TuningWait::NominalOutput, [this] { ReadKest(); });
        return;
    }
    if (!TKestCmdManager::IsCmdAllParameters(cmd)) {
        kestDeviceInterface->SendNextCmd(); // voltage, frequency, angle 0°
        return;
    }
    kestParameters = *kestCmdManager->ParseParameters_ConfigurationQX4(answer)->Parameters;
    Log(QStringLiteral("Установки настроечных параметров QX4..."));
    const float kU = isModificationAbove9 ? 1.0f : static_cast<float>(transfCoefs.U1 / transfCoefs.U2);
    const float kI = isModificationAbove9 ? 1.0f : static_cast<float>(transfCoefs.I1 / transfCoefs.I2);
    TAdjustingParameters &a = deviceAdjustingParameters;
    a.Ua = static_cast<float>(kestParameters.Ua.value * kU);
    a.Ub = static_cast<float>(kestParameters.Ub.value * kU);
    a.Uc = static_cast<float>(kestParameters.Uc.value * kU);
    a.Uab = static_cast<float>(kestParameters.ULa.value * kU);
    a.Ubc = static_cast<float>(kestParameters.ULb.value * kU);
    a.Uac = static_cast<float>(kestParameters.ULc.value * kU);
    a.Ia = static_cast<float>(kestParameters.Ia.value * kI);
    a.Ib = static_cast<float>(kestParameters.Ib.value * kI);
    a.Ic = static_cast<float>(kestParameters.Ic.value * kI);
    a.F = static_cast<float>(kestParameters.Freq.value);
    const TQx4CmdManager &d = *deviceCmdManager;
    for (const TFramePtr &f : {d.CreateCmdWriteAdjustingUa(a), d.CreateCmdWriteAdjustingUb(a),
             d.CreateCmdWriteAdjustingUc(a), d.CreateCmdWriteAdjustingUab(a), d.CreateCmdWriteAdjustingUbc(a),
             d.CreateCmdWriteAdjustingUac(a), d.CreateCmdWriteAdjustingIa(a), d.CreateCmdWriteAdjustingIb(a),
             d.CreateCmdWriteAdjustingIc(a), d.CreateCmdWriteAdjustingFrequence(a)})
        deviceInterface->AddCmd(f);
    deviceInterface->SendNextCmd();
}

void TAutoTuning::OnKestAnswerAngle90(const TFrame &cmd, const TFrame &answer)
{
    if (TKestCmdManager::IsCmdAngle(cmd)) {
        // The first reading at 90° waits out the settling time that began when the angle was sent.
        if (angleSettling_) {
            angleAnswered_ = true;
            return;
        }
        kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdReadDeviceStatusAndAllParameters());
    } else if (TKestCmdManager::IsCmdAllParameters(cmd)) {
        kestParameters = *kestCmdManager->ParseParameters_ConfigurationQX4(answer)->Parameters;
        stage_ = TTuningStage::Angles;
        deviceInterface->AddCmd(deviceCmdManager->CreateCmdReadPa());
        previousError = kNoPreviousError;
        attemptsToAdjustDone = 0;
        deviceInterface->SendNextCmd();
    }
    kestDeviceInterface->SendNextCmd();
}

void TAutoTuning::OnKestAnswerAnalogOutputs(const TFrame &cmd, const TFrame &answer)
{
    if (TKestCmdManager::IsCmdSetAmperageIn(cmd)) {
        StartWait(TuningWait::kAnalogSettle, TuningWait::AnalogInput, [this] {
            kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdReadDeviceStatusAndAllParameters());
            kestDeviceInterface->SendNextCmd();
        });
        return;
    }
    if (TKestCmdManager::IsCmdAllParameters(cmd) && currentAnalogOutNum >= 1 && currentAnalogOutNum <= 3) {
        analogSum_ += kestCmdManager->ParseParameters_ConfigurationQX4(answer)->AnalogOut;
        if (++analogReads_ < kAnalogReadings) {
            kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdReadDeviceStatusAndAllParameters());
            kestDeviceInterface->SendNextCmd();
            return;
        }
        const double x = analogSum_ / analogReads_;
        analogSum_ = 0;
        analogReads_ = 0;
        AnalogOutStep(currentAnalogOutNum, x);
        return;
    }
    kestDeviceInterface->SendNextCmd();
}

void TAutoTuning::ReadKest()
{
    try {
        kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdReadDeviceStatusAndAllParameters());
        Log(QStringLiteral("Чтение параметров с KEST..."));
        kestDeviceInterface->SendNextCmd();
    } catch (const std::exception &e) {
        ShowError(QString::fromUtf8(e.what()));
    }
}

void TAutoTuning::QueueNominalOutput()
{
    // From the configuration sent, so that the set-points cannot leave its ranges.
    const double u = kestConfiguration.VoltageMax / std::sqrt(3.0);
    const double i = kestConfiguration.AmperageMax;
    kestParameterController->SetVoltage(u, u, u);
    kestParameterController->SetFrequence(kOutputFrequency);
    kestParameterController->SetAngle(0);
    kestParameterController->SetAmperage(i, i, i, globalConfig->ReadOptionIb());
}

// ---------------------------------------------------------------------------------------------------
// The transducer's answers

bool TAutoTuning::DisplayRead(const TFrame &cmd, const TFrame &answer)
{
    auto index = [](int value, qsizetype count, int &target) {
        if (value >= 0 && value < count)
            target = value;
    };
    if (TQx4CmdManager::IsCmdReadScheme(cmd))
        choices_.schemeIndex = TModbusCommands::ParseSingleInteger(answer) == 0 ? 0 : 1;
    else if (TQx4CmdManager::IsCmdReadRsRate1(cmd))
        index(TModbusCommands::ParseSingleInteger(answer), SpeedCaptions().size(), choices_.rs1Index);
    else if (TQx4CmdManager::IsCmdReadRsRate2(cmd))
        index(TQx4CmdManager::ParseRsRate2Index(answer), SpeedCaptions().size(), choices_.rs2Index);
    else if (TQx4CmdManager::IsCmdReadRsConfig2(cmd))
        index(TModbusCommands::ParseSingleInteger(answer), kRs2ConfigCaptions.size(), choices_.rs2ConfigIndex);
    else if (TQx4CmdManager::IsCmdReadAnalogType(cmd))
        index(TModbusCommands::ParseSingleInteger(answer), kAnalogTypeCaptions.size(), choices_.analogTypeIndex);
    else if (TQx4CmdManager::IsCmdReadAnalogOuts(cmd)) {
        const std::array<int, 3> outs = TQx4CmdManager::ParseAnalogOuts(answer);
        for (size_t k = 0; k < 3; ++k)
            index(outs[k], TParameters::kCount, choices_.outputs[k]);
    } else if (TQx4CmdManager::IsCmdReadTransfCoefs(cmd)) {
        // Shown and used, not written to the settings. They travel as 32-bit floats: 0,3 is taken as
        // 0,3, not as the float's 0,300000011920929.
        transfCoefs = deviceCmdManager->ParseTransfCoefs(answer);
        for (double *c : {&transfCoefs.U1, &transfCoefs.U2, &transfCoefs.I1, &transfCoefs.I2})
            *c = AsWritten(*c);
        if (view_)
            view_->SetCoefficientLabel(CoefficientLabel());
        SetNominalChoicesFromCoefs();
        return true;
    } else {
        return false;
    }
    Show();
    return true;
}

bool TAutoTuning::RelayIdentity(const TFrame &cmd, const TFrame &answer)
{
    if (TQx4CmdManager::IsCmdReadExtraSettings1(cmd)) {
        const TExtraSettingsObject extra = TQx4CmdManager::ParseExtraSettings1(answer);
        isModificationAbove9 = extra.ModificationNumber > 9;
        if (identityWindow_)
            identityWindow_->SetExtraSettingsObject1(extra);
        return true;
    }
    if (TQx4CmdManager::IsCmdReadExtraSettings2(cmd)) {
        if (identityWindow_)
            identityWindow_->SetExtraSettingsObject2(TQx4CmdManager::ParseExtraSettings2(answer));
        return true;
    }
    return false;
}

void TAutoTuning::OnQx4Answer(const TFramePtr &answer)
{
    if (!answer || !deviceInterface)
        return;
    // The search's answer is known by its own shape (it is a broadcast's), not by the request.
    if (IsSearching() || TQx4CmdManager::IsCmdFindAddress(*answer)) {
        OnSearchAnswer(*answer);
        return;
    }
    const TFramePtr cmdPtr = deviceInterface->GetLastCmd();
    if (!cmdPtr)
        return;
    const TFrame &cmd = *cmdPtr;
    // What only shows the transducer's settings, and its identity, are taken in every stage: "Прочитать
    // параметры" and the identity window are used between runs, the run reads the identity itself.
    if (DisplayRead(cmd, *answer) || RelayIdentity(cmd, *answer)) {
        deviceInterface->SendNextCmd();
        return;
    }
    switch (stage_) {
    case TTuningStage::Idle:
    case TTuningStage::Searching:
        OnQx4AnswerBetweenRuns(cmd);
        return;
    case TTuningStage::Starting:
        OnQx4AnswerStarting(cmd);
        return;
    case TTuningStage::References:
        OnQx4AnswerReferences(cmd, *answer);
        return;
    case TTuningStage::Angle90:
        deviceInterface->SendNextCmd(); // the transducer is not asked anything at 90° before its reading
        return;
    case TTuningStage::Angles:
        OnQx4AnswerAngles(cmd, *answer);
        return;
    case TTuningStage::AnglesDone:
        OnQx4AnswerAnglesDone(cmd);
        return;
    case TTuningStage::AnalogOutputs:
        OnQx4AnswerAnalogOutputs(cmd);
        return;
    case TTuningStage::Saving:
        OnQx4AnswerSaving(cmd);
        return;
    case TTuningStage::Ending:
        return; // the run is over: nothing more goes to the transducer
    }
}

void TAutoTuning::OnSearchAnswer(const TFrame &answer)
{
    if (!TQx4CmdManager::IsCmdFindAddress(answer)) {
        // A well-formed answer of another kind: no address in it, and no search answer will follow.
        EndSearch(kSearchAnswerWrong);
        return;
    }
    if (IsSearching())
        stage_ = TTuningStage::Idle;
    searchWaiter_.Cancel();
    const int adr = answer.data[0];
    choices_.netAdr = choices_.newAdr = adr;
    deviceCmdManager->SetNetAdr(adr);
    Show();
    if (isReadSettingsPushed) {
        isReadSettingsPushed = false;
        const TQx4CmdManager &d = *deviceCmdManager;
        for (const TFramePtr &f :
            {d.CreateCmdReadScheme(), d.CreateCmdReadTransfCoefs(), d.CreateCmdReadRsRate1(), d.CreateCmdReadRsRate2(),
                d.CreateCmdReadRsConfig2(), d.CreateCmdReadAnalogOuts(), d.CreateCmdReadAnalogType()})
            deviceInterface->AddCmd(f);
        deviceInterface->SendNextCmd();
    } else {
        CloseDevicePort();
    }
}

// The identity window's writes.
void TAutoTuning::OnQx4AnswerBetweenRuns(const TFrame &)
{
    deviceInterface->SendNextCmd();
}

// Zero noise written; the transformation coefficients written bring the nominal output.
void TAutoTuning::OnQx4AnswerStarting(const TFrame &cmd)
{
    if (!TQx4CmdManager::IsCmdWriteTransfCoefs(cmd)) {
        deviceInterface->SendNextCmd();
        return;
    }
    stage_ = TTuningStage::References;
    QueueNominalOutput();
    kestDeviceInterface->SendNextCmd();
    Log(QStringLiteral("Запись номинальных параметров в KEST..."));
}

// The reference values go in one after another; after the last one the transducer settles and is read.
void TAutoTuning::OnQx4AnswerReferences(const TFrame &cmd, const TFrame &answer)
{
    if (TQx4CmdManager::IsCmdWriteAdjustingFrequence(cmd)) {
        StartWait(TuningWait::kSettle, TuningWait::References, [this] {
            Log(QStringLiteral("Чтение параметров с QX4..."));
            deviceInterface->AddCmd(deviceCmdManager->CreateCmdReadParameters());
            deviceInterface->SendNextCmd();
        });
        return;
    }
    if (TQx4CmdManager::IsCmdReadParameters(cmd)) {
        CoefficientReadback(answer);
        return;
    }
    deviceInterface->SendNextCmd();
}

void TAutoTuning::OnQx4AnswerAngles(const TFrame &cmd, const TFrame &answer)
{
    if (TQx4CmdManager::IsCmdReadPa(cmd) || TQx4CmdManager::IsCmdReadPb(cmd) || TQx4CmdManager::IsCmdReadPc(cmd)) {
        PhaseReading(TQx4CmdManager::IsCmdReadPa(cmd) ? 0 : TQx4CmdManager::IsCmdReadPb(cmd) ? 1 : 2, answer);
        return;
    }
    if (TQx4CmdManager::IsCmdShiftAngle(cmd) && deviceInterface->IsQueueEmpty()) {
        // The correction's last step: the phase settles before it is read again.
        deviceInterface->AddCmd(cmdDeviceReadP);
        StartWait(TuningWait::kSettle, TuningWait::AngleShift, [this] { deviceInterface->SendNextCmd(); });
        return;
    }
    deviceInterface->SendNextCmd(); // more steps of the same correction, or the next phase's read
}

void TAutoTuning::OnQx4AnswerAnglesDone(const TFrame &cmd)
{
    if (!TQx4CmdManager::IsCmdShiftAngle(cmd)) {
        deviceInterface->SendNextCmd();
        return;
    }
    if (choices_.analogEnabled)
        StartAnalogStage();
    else
        WriteFinalSettings();
}

void TAutoTuning::OnQx4AnswerAnalogOutputs(const TFrame &cmd)
{
    const TQx4CmdManager &d = *deviceCmdManager;
    if (TQx4CmdManager::IsCmdShiftAnalogCoef(cmd) && deviceInterface->IsQueueEmpty()) {
        StartWait(TuningWait::kSettle, TuningWait::AnalogShift, [this] { ReadKest(); });
    } else if (TQx4CmdManager::IsCmdWriteSaveChanges(cmd)) {
        deviceInterface->AddCmd(d.CreateCmdSetAnalogModeWorking());
        deviceInterface->SendNextCmd();
    } else if (TQx4CmdManager::IsCmdSetAnalogModeAdjustingMiddle(cmd)) {
        MiddleModeAnswered();
    } else if (TQx4CmdManager::IsCmdSetAnalogModeWorking(cmd)) {
        FinishTuning();
    } else if (TQx4CmdManager::IsCmdSetAnalogModeAdjustingHigh(cmd)) {
        isAnalogInMiddleMode = false;
        StartWait(TuningWait::kAnalogSettle, TuningWait::AnalogTop, [this] { ReadKest(); });
    } else if (TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut1(cmd)
        || TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut2(cmd)
        || TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut3(cmd)) {
        StartWait(TuningWait::kAnalogSettle, TuningWait::AnalogReference, [this] { ReadKest(); });
    } else if (TQx4CmdManager::IsCmdSetAnalogType(cmd)) {
        deviceInterface->AddCmd(d.CreateCmdSetAnalogModeAdjustingMiddle());
        deviceInterface->SendNextCmd();
    } else {
        deviceInterface->SendNextCmd(); // the indication, further steps of a correction, the outputs' write
    }
}

void TAutoTuning::OnQx4AnswerSaving(const TFrame &cmd)
{
    if (TQx4CmdManager::IsCmdWriteSaveChanges(cmd))
        FinishTuning();
    else
        deviceInterface->SendNextCmd();
}

void TAutoTuning::CoefficientReadback(const TFrame &answer)
{
    ++attemptsToAdjustDone;
    if (attemptsToAdjustDone > kMaxAttempts) {
        const QString line = QStringLiteral("Ошибка при настройке погрешностей по коэффициентам");
        Log(line);
        Fail(line);
        return;
    }
    Log(QStringLiteral("Параметры прочитаны с QX4. Вычисление погрешностей..."));
    deviceParameters = *kestCmdManager->GetParametersFromFrame_ConfigurationQX4(answer, 4);
    lastReadback_ = std::make_pair(deviceParameters, kestParameters);
    if (++readbacks_ == 1)
        for (ITuningObserver *o : observers_)
            o->TuningAsFound(deviceParameters, kestParameters);
    if (!CheckCoefficientErrors())
        return;
    stage_ = TTuningStage::Angle90;
    Log(QStringLiteral("Погрешности по коэффициентам в порядке."));
    attemptsToAdjustDone = 0;
    previousError = kNoPreviousError;
    hasTheFirstShiftBeenSent = false;
    kestParameterController->SetAngle(90);
    kestDeviceInterface->SendNextCmd();
    // The 90° settle: nothing is sent and the first reading at 90° is not asked for before it is over,
    // while the window goes on answering "Стоп".
    angleSettling_ = true;
    angleAnswered_ = false;
    StartWait(TuningWait::kSettle, TuningWait::Angle90, [this] {
        angleSettling_ = false;
        if (!angleAnswered_)
            return;
        angleAnswered_ = false;
        kestDeviceInterface->AddCmd(kestCmdManager->CreateCmdReadDeviceStatusAndAllParameters());
        kestDeviceInterface->SendNextCmd();
    });
}

bool TAutoTuning::CheckCoefficientErrors()
{
    double permissible = 0;
    if (!TryStrToFloat(globalConfig->ReadError(), permissible)) {
        const QString text = QString::fromStdString(ConversionErrorText(globalConfig->ReadError().toStdString()));
        Fail(text);
        ShowError(text);
        return false;
    }
    TDeviceInfo info;
    info.transfCoefs = transfCoefs;
    const TErrorCalculatorQX4 calculator;
    auto error = [&](int k) {
        return calculator.CalculateError(k, info, kestConfiguration, kestParameters.GetParameterByIndex(k)->value,
            deviceParameters.GetParameterByIndex(k)->value);
    };
    bool ok = !(std::fabs(error(piFreq)) > permissible);
    for (int k = piUa; ok && k <= piULc; ++k)
        ok = !(std::fabs(StrToFloatDef(TParameterScaling::GetStringFromFloat(4, error(k)), 0)) > permissible);
    if (!ok)
        ReadKest();
    return ok;
}

TShiftAngleCmdSet TAutoTuning::AngleSet(int phase) const
{
    const TQx4CmdManager &d = *deviceCmdManager;
    switch (phase) {
    case 0:
        return {d.CreateCmdShiftIaUp1(), d.CreateCmdShiftIaUp10(), d.CreateCmdShiftIaDown1(),
            d.CreateCmdShiftIaDown10(), d.CreateCmdReadPa()};
    case 1:
        return {d.CreateCmdShiftIbUp1(), d.CreateCmdShiftIbUp10(), d.CreateCmdShiftIbDown1(),
            d.CreateCmdShiftIbDown10(), d.CreateCmdReadPb()};
    default:
        return {d.CreateCmdShiftIcUp1(), d.CreateCmdShiftIcUp10(), d.CreateCmdShiftIcDown1(),
            d.CreateCmdShiftIcDown10(), d.CreateCmdReadPc()};
    }
}

void TAutoTuning::PhaseReading(int phase, const TFrame &answer)
{
    const TPhaseRow &row = kPhases[phase];
    ++attemptsToAdjustDone;
    Log(QString::fromUtf16(row.title));
    const double value = deviceCmdManager->ParseSingleParameter(answer);
    TDeviceInfo info;
    info.transfCoefs = transfCoefs;
    const float error = static_cast<float>(TErrorCalculatorQX4().CalculateError(
        row.param, info, kestConfiguration, kestParameters.GetParameterByIndex(row.param)->value, value));
    const TShiftAngleCmdSet set = AngleSet(phase);
    Log(QStringLiteral("Текущая погрешность: ") + FormatError(error));
    if (attemptsToAdjustDone > kMaxAttempts || std::fabs(error) > kAngleLimit) {
        const QString line = QString::fromUtf16(row.impossible);
        Log(line);
        Fail(line);
        return;
    }
    if (std::fabs(error) >= std::fabs(previousError) && previousCountOfOnePercentShifts == 1) {
        // The last single step did not help: take it back and go on with the next phase.
        ShiftAngle(previousCountOfOnePercentShifts, set, -previousError);
        hasTheFirstShiftBeenSent = false;
        if (phase < 2) {
            attemptsToAdjustDone = 0;
            deviceInterface->AddCmd(
                phase == 0 ? deviceCmdManager->CreateCmdReadPb() : deviceCmdManager->CreateCmdReadPc());
            deviceInterface->SendNextCmd();
            previousError = kNoPreviousError;
            hasTheFirstShiftBeenSent = false;
        } else {
            stage_ = TTuningStage::AnglesDone;
            deviceInterface->SendNextCmd();
        }
        return;
    }
    if (hasTheFirstShiftBeenSent) {
        const int n = EstimateSteps(error, previousError, previousCountOfOnePercentShifts, StepFloor(error));
        previousCountOfOnePercentShifts = n;
        ShiftAngle(n, set, error);
    } else {
        firstStepEffect_ = -1;
        deviceInterface->AddCmd(error > 0 ? set.cmdShiftDown10 : set.cmdShiftUp10);
        Log(QStringLiteral("Сдвиг на ") + QString::number(10)
            + (error > 0 ? QStringLiteral(" вниз") : QStringLiteral(" вверх")));
        previousCountOfOnePercentShifts = 10;
        hasTheFirstShiftBeenSent = true;
    }
    cmdDeviceReadP = set.cmdReadNextP;
    previousError = error;
    deviceInterface->SendNextCmd();
}

double TAutoTuning::StepFloor(double error)
{
    if (firstStepEffect_ < 0) // this reading is the first after the first shift: it measures a step
        firstStepEffect_ = std::fabs(error - previousError) / std::max(previousCountOfOnePercentShifts, 1);
    return firstStepEffect_ / 2;
}

void TAutoTuning::ShiftAngle(int n, const TShiftAngleCmdSet &set, double x)
{
    Log(QStringLiteral("Сдвиг на ") + QString::number(n));
    while (n > 0) {
        if (n >= 10) {
            deviceInterface->AddCmd(x > 0 ? set.cmdShiftDown10 : set.cmdShiftUp10);
            n -= 10;
        } else {
            deviceInterface->AddCmd(x > 0 ? set.cmdShiftDown1 : set.cmdShiftUp1);
            n -= 1;
        }
    }
}

void TAutoTuning::StartAnalogStage()
{
    Log(QStringLiteral("Углы настроены"));
    stage_ = TTuningStage::AnalogOutputs;
    previousError = kNoPreviousError;
    deviceInterface->AddCmd(deviceCmdManager->CreateCmdWriteReversiveIndicationParameters());
    const bool fiveMilliamps = choices_.analogTypeIndex == 0;
    configurationMiddleValue = fiveMilliamps ? 0 : 12;
    configurationHighValue = fiveMilliamps ? 5 : 20;
    deviceInterface->AddCmd(
        fiveMilliamps ? deviceCmdManager->CreateCmdSetAnalogType5() : deviceCmdManager->CreateCmdSetAnalogType20());
    attemptsToAdjustDone = 0;
    deviceInterface->SendNextCmd();
}

void TAutoTuning::MiddleModeAnswered()
{
    isAnalogInMiddleMode = true;
    ++currentAnalogOutNum;
    if (currentAnalogOutNum > 3) {
        Log(QStringLiteral("Аналоговые выходы настроены. Сохранение изменений..."));
        const TQx4CmdManager &d = *deviceCmdManager;
        deviceInterface->AddCmd(
            d.CreateCmdWriteAnalogOuts(choices_.outputs[0], choices_.outputs[1], choices_.outputs[2]));
        deviceInterface->AddCmd(d.CreateCmdDisableZeroOutNoise());
        deviceInterface->AddCmd(d.CreateCmdSaveChanges());
        deviceInterface->SendNextCmd();
        return;
    }
    kestDeviceInterface->AddCmd(
        kestCmdManager->CreateCmdSetAnalogInputNumber(static_cast<uint8_t>(currentAnalogOutNum)));
    kestDeviceInterface->SendNextCmd();
}

TShiftAnalogOutCmdSet TAutoTuning::AnalogSet(int output) const
{
    const TQx4CmdManager &d = *deviceCmdManager;
    switch (output) {
    case 1:
        return {d.CreateCmdShiftAnalog1CoefUp1(), d.CreateCmdShiftAnalog1CoefUp10(), d.CreateCmdShiftAnalog1CoefUp100(),
            d.CreateCmdShiftAnalog1CoefDown1(), d.CreateCmdShiftAnalog1CoefDown10(),
            d.CreateCmdShiftAnalog1CoefDown100()};
    case 2:
        return {d.CreateCmdShiftAnalog2CoefUp1(), d.CreateCmdShiftAnalog2CoefUp10(), d.CreateCmdShiftAnalog2CoefUp100(),
            d.CreateCmdShiftAnalog2CoefDown1(), d.CreateCmdShiftAnalog2CoefDown10(),
            d.CreateCmdShiftAnalog2CoefDown100()};
    default:
        return {d.CreateCmdShiftAnalog3CoefUp1(), d.CreateCmdShiftAnalog3CoefUp10(), d.CreateCmdShiftAnalog3CoefUp100(),
            d.CreateCmdShiftAnalog3CoefDown1(), d.CreateCmdShiftAnalog3CoefDown10(),
            d.CreateCmdShiftAnalog3CoefDown100()};
    }
}

void TAutoTuning::AnalogOutStep(int n, double x)
{
    const QString number = QString::number(n);
    ++attemptsToAdjustDone;
    if (attemptsToAdjustDone > kMaxAttempts) {
        const QString line = QStringLiteral("Настройка невозможна на аналоговом выходе ") + number;
        Log(line);
        Fail(line);
        return;
    }
    const TQx4CmdManager &d = *deviceCmdManager;
    if (isAnalogInMiddleMode) {
        Log(QStringLiteral("Настройка аналогового выхода ") + number + QStringLiteral(" на среднем пределе..."));
        const float error = RoundTo4(x - configurationMiddleValue);
        const TShiftAnalogOutCmdSet set = AnalogSet(n);
        Log(QStringLiteral("Текущая погрешность: ") + FormatError(error));
        const bool noHelp = std::fabs(error) >= std::fabs(previousError) && previousCountOfOnePercentShifts == 1;
        if (noHelp || RoundTo4(error) == 0) {
            if (noHelp)
                ShiftAnalogCoef(previousCountOfOnePercentShifts, set, -previousError);
            previousError = kNoPreviousError;
            attemptsToAdjustDone = 0;
            hasTheFirstShiftBeenSent = false;
            deviceInterface->AddCmd(d.CreateCmdSetAnalogModeAdjustingHigh());
            deviceInterface->SendNextCmd();
            return;
        }
        if (hasTheFirstShiftBeenSent) {
            const int steps = EstimateSteps(error, previousError, previousCountOfOnePercentShifts, StepFloor(error));
            previousCountOfOnePercentShifts = steps;
            ShiftAnalogCoef(steps, set, error);
        } else {
            firstStepEffect_ = -1;
            deviceInterface->AddCmd(error > 0 ? set.cmdShiftDown100 : set.cmdShiftUp100);
            Log(QStringLiteral("Сдвиг на ") + QString::number(100)
                + (error > 0 ? QStringLiteral(" вниз") : QStringLiteral(" вверх")));
            previousCountOfOnePercentShifts = 100;
            hasTheFirstShiftBeenSent = true;
        }
        previousError = error;
        deviceInterface->SendNextCmd();
        return;
    }
    Log(QStringLiteral("Настройка аналогового выхода ") + number + QStringLiteral(" на верхнем пределе..."));
    const double difference = x - configurationHighValue;
    Log(QStringLiteral("Текущая погрешность: ") + FormatError(difference));
    if (std::fabs(difference) <= kTopTolerance) {
        attemptsToAdjustDone = 0;
        deviceInterface->AddCmd(d.CreateCmdSetAnalogModeAdjustingMiddle());
    } else if (n == 1) {
        deviceInterface->AddCmd(d.CreateCmdSetAmperageValueForAdjustingAnalogOut1(x));
    } else if (n == 2) {
        deviceInterface->AddCmd(d.CreateCmdSetAmperageValueForAdjustingAnalogOut2(x));
    } else {
        deviceInterface->AddCmd(d.CreateCmdSetAmperageValueForAdjustingAnalogOut3(x));
    }
    deviceInterface->SendNextCmd();
}

void TAutoTuning::ShiftAnalogCoef(int n, const TShiftAnalogOutCmdSet &set, double x)
{
    Log(QStringLiteral("Сдвиг на ") + QString::number(n));
    const bool down = x > 0;
    while (n > 0) {
        if (n >= 100) {
            deviceInterface->AddCmd(down ? set.cmdShiftDown100 : set.cmdShiftUp100);
            n -= 100;
        } else if (n >= 10) {
            deviceInterface->AddCmd(down ? set.cmdShiftDown10 : set.cmdShiftUp10);
            n -= 10;
        } else {
            deviceInterface->AddCmd(down ? set.cmdShiftDown1 : set.cmdShiftUp1);
            n -= 1;
        }
    }
}

void TAutoTuning::WriteFinalSettings()
{
    Log(QStringLiteral("Углы настроены. Сохранение изменений..."));
    try {
        OpenPort(*deviceInterface, kPort2, SpeedCaptions().value(choices_.rs1Index));
    } catch (...) {
        Fail(kPortNotFound);
        ShowError(kPortNotFound);
        return;
    }
    const TQx4CmdManager &d = *deviceCmdManager;
    deviceInterface->AddCmd(d.CreateCmdWriteRsRate1(choices_.rs1Index));
    if (choices_.rs2Enabled) {
        deviceInterface->AddCmd(d.CreateCmdWriteRsRate2(choices_.rs2Index));
        deviceInterface->AddCmd(d.CreateCmdWriteRsConfig2(choices_.rs2ConfigIndex));
    }
    deviceInterface->AddCmd(d.CreateCmdWriteScheme(choices_.schemeIndex == 0 ? 0 : 1));
    deviceInterface->AddCmd(d.CreateCmdWriteNetAdr(choices_.newAdr));
    globalConfig->WriteDeviceNetAdr(QString::number(choices_.newAdr));
    deviceCmdManager->SetNetAdr(choices_.newAdr);
    // The transducer answers at its new address from now on; the address shown is the one used.
    choices_.netAdr = choices_.newAdr;
    Show();
    deviceInterface->AddCmd(d.CreateCmdDisableZeroOutNoise());
    deviceInterface->AddCmd(d.CreateCmdSaveChanges());
    stage_ = TTuningStage::Saving;
    deviceInterface->SendNextCmd();
}

void TAutoTuning::FinishTuning()
{
    Log(QStringLiteral("Готово."));
    stage_ = TTuningStage::Ending;
    CloseDevicePort();
    if (choices_.playSound && beep_)
        beep_(1000, 1000);
    BeginZeroOutput([this](bool) { EndRun(TTuningEnd::Done, QString()); });
}

void TAutoTuning::StopTuning()
{
    if (IsRunning())
        stage_ = TTuningStage::Ending;
    attemptsToAdjustDone = 0;
    waiter_.Cancel();
    waiter_.Reset();
    angleSettling_ = angleAnswered_ = false;
}

// ---------------------------------------------------------------------------------------------------
// Ending a run safely

void TAutoTuning::Fail(const QString &reason)
{
    if (!IsRunning() || zeroing_)
        return;
    CloseDevicePort();
    StopTuning();
    BeginZeroOutput([this, reason](bool) { EndRun(TTuningEnd::Failed, reason); });
}

void TAutoTuning::EndRun(TTuningEnd end, const QString &reason)
{
    if (!IsRunning())
        return;
    stage_ = TTuningStage::Idle;
    TTuningOutcome outcome;
    outcome.end = end;
    outcome.reason = reason;
    outcome.outputsOff = lastZeroConfirmed_;
    outcome.waitedMs = waitedMs_;
    if (view_)
        view_->SetRunning(false);
    const std::vector<ITuningObserver *> observers = observers_;
    if (lastReadback_)
        for (ITuningObserver *o : observers)
            o->TuningAsLeft(lastReadback_->first, lastReadback_->second);
    for (ITuningObserver *o : observers)
        o->TuningEnded(outcome);
}

void TAutoTuning::BeginZeroOutput(std::function<void(bool confirmed)> done)
{
    waiter_.Cancel();
    waiter_.Reset();
    angleSettling_ = angleAnswered_ = false;
    zeroDone_ = std::move(done);
    if (!kestDeviceInterface || !kestDeviceInterface->IsOpen() || !kestParameterController) {
        // Nothing was ever sent on this line in this run.
        ClosePort(kestDeviceInterface.get());
        FinishZeroing(true, QString());
        return;
    }
    zeroing_ = true;
    switchOff_->Begin(ZeroSequence(), [this](const TSwitchOffResult &r) { FinishZeroing(r.confirmed, r.Text()); });
}

void TAutoTuning::FinishZeroing(bool confirmed, const QString &why)
{
    zeroing_ = false;
    lastZeroConfirmed_ = confirmed;
    if (confirmed)
        TOutputsLedger::MarkOff(PortOf(kPort1));
    ClosePort(kestDeviceInterface.get());
    if (!confirmed)
        Log(QStringLiteral("Выключение выходов KEST не подтверждено: ") + why);
    std::function<void(bool)> done = std::move(zeroDone_);
    zeroDone_ = nullptr;
    if (done)
        done(confirmed);
}

// ---------------------------------------------------------------------------------------------------
// Link errors

void TAutoTuning::OnKestError(const std::string &text)
{
    // The remote-control write failing (refused with an exception, or never answered) is the run not
    // started at all: said so, not as a bare link error.
    const TFramePtr last = kestDeviceInterface ? kestDeviceInterface->GetLastCmd() : nullptr;
    const bool atTheStart = stage_ == TTuningStage::Starting && !zeroing_ && last
        && TKestCmdManager::IsCmdConfiguration(*last) && TKestCmdManager::IsDistantControlEnabled(*last);
    const QString message = (atTheStart ? kRemoteControlRefused : QString()) + QString::fromUtf8(text.c_str());
    // The outputs go off before anyone is asked to read a message.
    if (IsRunning())
        Fail(message);
    ShowError(message);
}

void TAutoTuning::OnQx4Error(const std::string &text)
{
    const QString message = QString::fromUtf8(text.c_str());
    if (IsSearching()) {
        EndSearch(message);
        return;
    }
    if (!IsStopped())
        Fail(message);
    ShowError(message);
}
