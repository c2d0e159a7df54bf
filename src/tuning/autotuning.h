#pragma once
// The automatic tuning of a QX4 transducer against the installation, and everything the tuning window
// does besides (search, reading the transducer's settings, the identity window's link). Two links at
// once: the installation on "Port1", the transducer on "Port2". The procedure goes stage by stage
// (TTuningStage) and moves on only from the two answer handlers, OnKestAnswer and OnQx4Answer; each hands
// the answer to its stage, which takes only the requests it sent and lets anything else go by.
//
// No widgets here: the window (TForm14) and kestctl's "tune" drive the same object through its user
// actions and see it through ITuningView; a results journal watches runs through ITuningObserver.
//
// Safety: a run that ends for any reason — finished, "Стоп", a failure, a link error, the window
// closing — sends the installation's zero output and waits for the installation to confirm it before
// its port is closed. "Настроить" comes back only after that.

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "config/globalconfig.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/kestparametercontroller.h"
#include "protocol/parameters.h"
#include "protocol/qx4cmdmanager.h"
#include "protocol/switchoff.h"
#include "transport/deviceinterface.h"
#include "transport/waitservice.h"
#include "tuning/autotuningconfig.h"

// The user's choices in the tuning window, as list positions.
struct TTuningChoices {
    int voltageIndex = 1; // "100 V", "380 V", "400 V"
    int currentIndex = 3; // "0,5A", "1A", "2,5A", "5A"
    int schemeIndex = 1; // "3-х", "4-х"
    int netAdr = 1; // "Сетевой адрес"
    int newAdr = 1; // "Новый адрес"
    int rs1Index = 3; // "Скорость RS 1": 9600
    int rs2Index = 3; // "Скорость RS 2": 9600
    bool rs2Enabled = false; // the check box beside "Скорость RS 2"
    int rs2ConfigIndex = 0; // "Информ. канал", "MB / IEC / CRC_RB"
    std::array<int, 3> outputs{0, 1, 2}; // "Вых/Инд 1..3": positions in the 33-quantity list
    int analogTypeIndex = 1; // "-5 - 0 - 5 мА", "4 - 12 - 20 мА"
    bool analogEnabled = false; // "Настроить аналоговые выходы"
    bool playSound = true; // "Звуковой сигнал по завершению"
};

enum class TTuningEnd { Done, Failed, Stopped };

struct TTuningOutcome {
    TTuningEnd end = TTuningEnd::Stopped;
    QString reason; // the log line or link error that ended a failed run; empty otherwise
    bool outputsOff = false; // the installation confirmed the zero output before its port closed
    double waitedMs = 0; // the settling waits the run asked for, as long as they were made to last
};

// What the window shows. Messages are shown with the caption "Ошибка" (ShowError) or as information.
class ITuningView {
public:
    virtual ~ITuningView() = default;
    virtual void ClearLog() = 0;
    virtual void AddLog(const QString &line) = 0;
    // Selections the logic changed by itself (nominal choices, values read from the transducer).
    virtual void ShowChoices(const TTuningChoices &choices) = 0;
    virtual void SetCoefficientLabel(const QString &text) = 0;
    // While a run is going (until its outputs are off): "Настроить" and the buttons that would take the
    // transducer's line away from it are disabled.
    virtual void SetRunning(bool running) = 0;
    virtual void ShowError(const QString &text) = 0;
};

// Watches runs without taking part in them; every hook is optional.
class ITuningObserver {
public:
    virtual ~ITuningObserver() = default;
    virtual void TuningStarted(const TTuningChoices &, const TTransfCoefs &) { }
    virtual void TuningLog(const QString &) { }
    // The transducer's first and last readback of a run, with the installation's readings they were
    // compared with (the last is reported when the run ends, if there was any readback).
    virtual void TuningAsFound(const TParameters & /*transducer*/, const TParameters & /*installation*/) { }
    virtual void TuningAsLeft(const TParameters & /*transducer*/, const TParameters & /*installation*/) { }
    virtual void TuningEnded(const TTuningOutcome &) { }
};

// The identity window as the tuning's transducer handler sees it.
class IIdentityWindow {
public:
    virtual ~IIdentityWindow() = default;
    virtual void SetExtraSettingsObject1(const TExtraSettingsObject &source) = 0;
    virtual void SetExtraSettingsObject2(const TExtraSettingsObject &source) = 0;
};

// The prescribed settling times and what each wait is for (as the waiting service sees them).
namespace TuningWait {
inline constexpr int kSettle = 5000;
inline constexpr int kAnalogSettle = 2000;
inline constexpr const char *NominalOutput = "tuning: nominal output settles";
inline constexpr const char *References = "tuning: references settle";
inline constexpr const char *Angle90 = "tuning: 90 degrees settle";
inline constexpr const char *AngleShift = "tuning: phase angle shift settles";
inline constexpr const char *AnalogShift = "tuning: analog coefficient shift settles";
inline constexpr const char *AnalogInput = "tuning: analog input selected";
inline constexpr const char *AnalogReference = "tuning: analog reference written";
inline constexpr const char *AnalogTop = "tuning: analog top point";
// The search's own limit: longer than the transducer link's retries, so that a silent line still ends
// with the link's "Нет ответа"; this only catches a search that neither that nor an answer ends.
inline constexpr int kSearchMargin = 30000;
inline constexpr const char *SearchAnswer = "tuning: search answer";
} // namespace TuningWait

class TAutoTuning : public QObject {
    Q_OBJECT
public:
    static const QStringList kVoltageCaptions;
    static const QStringList kCurrentCaptions;
    static const QStringList kSchemeCaptions;
    static const QStringList kRs2ConfigCaptions;
    static const QStringList kAnalogTypeCaptions;
    static QStringList SpeedCaptions(); // 1200 … 115200
    static QStringList ParameterCaptions(); // the 33 quantity names in list order
    static constexpr std::array<double, 3> kVoltages{100, 380, 400};
    static constexpr std::array<double, 4> kCurrents{0.5, 1, 2.5, 5};
    static constexpr int kResponseTimeOut = 5000;
    static constexpr int kMaxAttempts = 9;
    static constexpr double kNoPreviousError = 999;
    static constexpr double kTopTolerance = 0.0031; // mA
    static constexpr double kAngleLimit = 10; // percent
    // A correction estimated from two almost equal errors could ask for millions of steps; no real
    // correction needs more than this.
    static constexpr int kMaxSteps = 1000;
    // Readings of the analog input averaged for each decision of the analog stage. One step is
    // 0,001 mA and a transducer's output noise is of that order; a single reading made the middle
    // point's "the last step did not help" flap until the attempts ran out. Four halve the noise.
    static constexpr int kAnalogReadings = 4;
    static const QString kSearchAnswerWrong; // the search was answered with something else
    static const QString kSearchNotAnswered; // the search's own limit ran out

    using TBeep = std::function<void(int hz, int ms)>;

    explicit TAutoTuning(ITuningView *view, QObject *parent = nullptr);
    ~TAutoTuning() override; // outputs off first (confirmed or timed out), then the links go

    void InitKestCommunication(TConfigController *_config);
    void InitDeviceCommunication();

    // User actions.
    void StartClicked(); // "Настроить"
    void StopClicked(); // "Стоп"; also ends a pending search
    void FindClicked(); // "Найти"
    void ReadSettingsClicked(); // "Прочитать параметры"
    // "Дополнительные настройки": the transducer's port for the identity window; false (after
    // "Порт не найден") when it cannot be opened. CloseDevicePort afterwards in every case.
    bool OpenDevicePortForIdentity();
    void CloseDevicePort();
    void CoefficientsEdited(); // after the coefficient window: reload from the settings
    void SoundClicked(bool checked);
    void VoltageChosen(int index);
    void CurrentChosen(int index);
    void SchemeChosen(int index);
    void NetAdrChanged(int value);
    void NewAdrChanged(int value);
    void Rs1Chosen(int index);
    void Rs2Toggled(bool enabled);
    void Rs2Chosen(int index);
    void Rs2ConfigChosen(int index);
    void OutputChosen(int output, int position); // output 1..3
    void AnalogTypeChosen(int index);
    void AnalogToggled(bool enabled);

    // Ends a run for the window that is closing: the zero output is sent and confirmed, the ports are
    // closed, then `done` is called (at once when nothing is open). True when it had to wait.
    bool ShutDown(std::function<void()> done);
    bool NeedsShutDown() const;
    bool IsShuttingDown() const { return zeroing_; }

    // Answer and error handlers of the two links.
    void OnKestAnswer(const TFramePtr &answer);
    void OnQx4Answer(const TFramePtr &answer);
    void OnKestError(const std::string &text);
    void OnQx4Error(const std::string &text);

    // The step count of a later correction from the last two errors and the steps between them; one
    // step when the errors are equal, at least one, at most kMaxSteps. A step is taken to do at least
    // `floorPerStep` (half of what the first shift of the same phase or output did per step): a
    // transducer whose last step hardly acted, in its dead band or in the noise, would otherwise be
    // sent a hundred steps for a tenth of a percent.
    static int EstimateSteps(double error, double previousError, int previousCount, double floorPerStep = 0);
    // The floor of EstimateSteps for a correction of the current phase or output (measured by the first
    // reading after its first shift).
    double StepFloor(double error);
    // "0.000" with the decimal comma.
    static QString FormatError(double value);

    void AddObserver(ITuningObserver *observer);
    void RemoveObserver(ITuningObserver *observer);
    void SetIdentityWindow(IIdentityWindow *window) { identityWindow_ = window; }
    void SetBeep(TBeep beep) { beep_ = std::move(beep); }
    void DetachView() { view_ = nullptr; }
    // Ports of this run instead of the settings' "Port1"/"Port2" (kestctl, tests); empty keeps them.
    void SetPortOverride(const QString &port1, const QString &port2);

    const TTuningChoices &Choices() const { return choices_; }
    const TTransfCoefs &TransfCoefs() const { return transfCoefs; }
    QString CoefficientLabel() const;
    bool IsRunning() const { return stage_ != TTuningStage::Idle && stage_ != TTuningStage::Searching; }
    bool IsStopped() const { return !IsRunning() || stage_ == TTuningStage::Ending; }
    bool IsSearching() const { return stage_ == TTuningStage::Searching; }
    TDeviceInterface *KestInterface() const { return kestDeviceInterface.get(); }
    TDeviceInterface *DeviceInterface() const { return deviceInterface.get(); }
    TQx4CmdManager *DeviceCmdManager() const { return deviceCmdManager.get(); }
    TConfigController *Config() const { return portConfig; }
    const QStringList &Log() const { return log_; }

private:
    // The stages, in the order a run goes through them. Idle and Searching are between runs; a run is
    // every stage from Starting until its outputs are off.
    enum class TTuningStage {
        Idle, // the settings read ("Прочитать параметры") and the identity window use the transducer's line
        Searching, // "Найти" / "Прочитать параметры": the search's answer awaited
        Starting, // an owed switch-off, remote control, zero noise, identity, transformation coefficients
        References, // nominal output, the installation read, the reference values written and read back
        Angle90, // 90° sent, its settling, the installation read at 90°
        Angles, // phase by phase: read the active power, shift the angle
        AnglesDone, // the last step of phase C taken back: its answer ends the angles
        AnalogOutputs, // each analog output on its middle and top points, then saved
        Saving, // the interface settings and the address written and saved
        Ending, // stopped, failed or done: the zero output on its way
    };

    // The answers of each stage; each takes the requests its stage sends and lets anything else go by.
    void OnSearchAnswer(const TFrame &answer);
    void OnQx4AnswerBetweenRuns(const TFrame &cmd);
    void OnQx4AnswerStarting(const TFrame &cmd);
    void OnQx4AnswerReferences(const TFrame &cmd, const TFrame &answer);
    void OnQx4AnswerAngles(const TFrame &cmd, const TFrame &answer);
    void OnQx4AnswerAnglesDone(const TFrame &cmd);
    void OnQx4AnswerAnalogOutputs(const TFrame &cmd);
    void OnQx4AnswerSaving(const TFrame &cmd);
    void OnKestAnswerStarting(const TFrame &cmd, const TFrame &answer);
    void OnKestAnswerReferences(const TFrame &cmd, const TFrame &answer);
    void OnKestAnswerAngle90(const TFrame &cmd, const TFrame &answer);
    void OnKestAnswerAnalogOutputs(const TFrame &cmd, const TFrame &answer);
    // The identity reads ("Дополнительные настройки" and the run's own) go to the identity window; true
    // when the answer was one of them.
    bool RelayIdentity(const TFrame &cmd, const TFrame &answer);

    void Log(const QString &line);
    void Show() const;
    void ShowError(const QString &text);
    QString PortOf(const QString &dedication) const;
    void OpenPort(TDeviceInterface &link, const QString &dedication, const QString &rate);
    void ClosePort(TDeviceInterface *link);
    void LoadTransfCoefs();
    void SetNominalChoicesFromCoefs();
    // Why a run cannot be started with the transformation coefficients held; empty when it can.
    QString RangeRefusal() const;
    // The search is over: its limit dropped, the transducer's port closed, `message` shown if any.
    void EndSearch(const QString &message);
    void StartWait(int ms, const char *purpose, std::function<void()> then);

    // The procedure's steps.
    void ReadKest();
    void QueueNominalOutput();
    void TakeRemoteControl();
    std::vector<TSwitchOffFrame> ZeroSequence() const;
    void CoefficientReadback(const TFrame &answer);
    bool CheckCoefficientErrors();
    void PhaseReading(int phase, const TFrame &answer);
    TShiftAngleCmdSet AngleSet(int phase) const;
    void ShiftAngle(int n, const TShiftAngleCmdSet &set, double x);
    void StartAnalogStage();
    void MiddleModeAnswered();
    void AnalogOutStep(int n, double x);
    TShiftAnalogOutCmdSet AnalogSet(int output) const;
    void ShiftAnalogCoef(int n, const TShiftAnalogOutCmdSet &set, double x);
    void WriteFinalSettings();
    void FinishTuning();
    void StopTuning();
    // The reads that only show what the transducer holds; true when the answer was one of them.
    bool DisplayRead(const TFrame &cmd, const TFrame &answer);

    // Ending a run: the zero output, then the installation's port closed, then the observers told.
    void Fail(const QString &reason);
    void EndRun(TTuningEnd end, const QString &reason);
    void BeginZeroOutput(std::function<void(bool confirmed)> done);
    void FinishZeroing(bool confirmed, const QString &why);

    ITuningView *view_;
    TCallBackObject kestCallback_;
    TCallBackObject deviceCallback_;
    std::unique_ptr<TDeviceInterface> kestDeviceInterface;
    std::unique_ptr<TDeviceInterface> deviceInterface;
    std::unique_ptr<TKestCmdManager> kestCmdManager;
    std::unique_ptr<TQx4CmdManager> deviceCmdManager;
    std::unique_ptr<TKestParameterController> kestParameterController;
    std::unique_ptr<TSwitchOff> switchOff_; // gone before the engine and the callback (destructor)
    TKestConfiguration kestConfiguration;
    TConfigController *portConfig = nullptr;
    std::unique_ptr<TGlobalConfig> globalConfig;
    std::unique_ptr<TAutoTuningConfig> autoTuningConfig;
    std::unique_ptr<TDeviceSettingsConfig> DeviceSettingsConfig;
    TTransfCoefs transfCoefs;
    TParameters kestParameters;
    TParameters deviceParameters;
    TAdjustingParameters deviceAdjustingParameters;
    TTuningChoices choices_;

    float previousError = kNoPreviousError;
    int previousCountOfOnePercentShifts = 0;
    bool hasTheFirstShiftBeenSent = false;
    // What one step did in the first shift of the phase or output being corrected: -1 until the
    // reading after that shift measures it, 0 when no shift has been made yet.
    double firstStepEffect_ = 0;
    int attemptsToAdjustDone = 0;
    double analogSum_ = 0; // the analog input's readings of the decision being made
    int analogReads_ = 0;
    TTuningStage stage_ = TTuningStage::Idle;
    bool isAnalogInMiddleMode = false;
    int currentAnalogOutNum = 0;
    int configurationMiddleValue = 12;
    int configurationHighValue = 20;
    TFramePtr cmdDeviceReadP;
    bool isReadSettingsPushed = false;
    bool isModificationAbove9 = false;
    IIdentityWindow *identityWindow_ = nullptr;

    bool angleSettling_ = false; // the 5000 ms after 90° are running
    bool angleAnswered_ = false; // ... and the installation has answered the 90° meanwhile
    int readbacks_ = 0;
    double waitedMs_ = 0;
    std::optional<std::pair<TParameters, TParameters>> lastReadback_;

    bool zeroing_ = false; // the zero output is on its way
    bool lastZeroConfirmed_ = false;
    std::function<void(bool)> zeroDone_;

    TWaiter waiter_;
    TWaiter searchWaiter_;
    TBeep beep_;
    std::vector<ITuningObserver *> observers_;
    QStringList log_;
    QString port1Override_;
    QString port2Override_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
