#pragma once
// The run driver of the verification windows: the installation's link (its own engine, 5000 ms response
// time-out), the answers in the order the run needs them, and the filling of the tables.
//
// A run: remote control on with the configuration → a first status read → for every point: voltage,
// angle, frequency and current set → the measuring time ("WaitingTime") → RS tab: status read, then the
// transducer's relayed readings; analog tab: for each analog input: select it, 2000 ms, status read →
// the row is filled and observers told → the next point. A point identical to one measured earlier in
// the run is filled from it without a frame to the installation. With "АРУ" a point whose reading is
// off by more than the tolerance is set again with corrected values (at most kMaxAruRepeats times).
//
// Every end of a run — the last point, "Стоп", a failure of the link, a transducer of type 0, closing
// the window — sends zero current, zero voltage and the release of remote control, each confirmed by
// the installation's echo, before the port is closed; how that went is part of the end observers see.
// "Стоп" during any wait ends the wait at once; nothing more is sent for the point. A link that stops
// answering ends the run with its error; the transducer that stops answering over the relay (to its
// identity read or to a reading) leaves "/---/---" in its row, the point says why, and the run goes on.
//
// Outside a run the same link reads the transducer's settings ("Прочитать настройки"), sends its
// address and mode; the port is open only while such a task or a run goes on.

#include "presentation/aru_manager.h"
#include "presentation/errorcalculator.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/kestparametercontroller.h"
#include "protocol/switchoff.h"
#include "transport/deviceinterface.h"
#include "transport/waitservice.h"
#include "verification/gridrecords.h"
#include "verification/run/avtopoverkacontext.h"
#include "verification/run/runobserver.h"
#include "verification/run/verificationtabs.h"

#include <QElapsedTimer>

#include <memory>
#include <optional>
#include <vector>

// What the coordinator does for the driver.
class IRunHost {
public:
    virtual ~IRunHost() = default;
    // The run went on to a point of another tab: it becomes the active tab.
    virtual void RunMovedToTab(int tab) = 0;
    // The transducer's identity was taken (coefficients, analog assignment may have changed).
    virtual void DeviceInfoTaken() = 0;
    // "Прочитать настройки" read these settings.
    virtual void DeviceSettingsRead(const TDeviceInfo &info) = 0;
    virtual void AddressRead(int address) = 0;
    // The run is over (outputs switched off as far as `end` says): unlock, tell the user.
    virtual void RunEnded(const TRunEnd &end) = 0;
};

// What a run is measured against, read from the settings when it starts.
struct TRunSettings {
    double permissibleError = 0.2;
    double permissibleErrorFreq = 0.05;
    double permissibleErrorAnalog = 0.5;
    int waitingTimeMs = 9000;
    float aruError = 1;
    bool optionIb = false;
    bool analogAsMilliAmps = false;
    TKestConfiguration kestConfiguration;
};

class TRunDriver {
public:
    static constexpr int kResponseTimeOut = 5000;
    static constexpr int kAnalogInputWait = 2000;
    static constexpr int kModeWait = 5000;
    static constexpr int kMaxAruRepeats = 10;
    static inline const QString kWaitMeasuring = QStringLiteral("WaitingTime");
    static inline const QString kWaitAnalogInput = QStringLiteral("Аналоговый вход");
    static inline const QString kWaitMode = QStringLiteral("Режим");
    static inline const QString kWaitShutdown = QStringLiteral("Выключение");

    TRunDriver(TAvtopoverkaContext &ctx, TVerificationTabs &tabs, IRunHost &host);
    ~TRunDriver();
    TRunDriver(const TRunDriver &) = delete;
    TRunDriver &operator=(const TRunDriver &) = delete;

    // A run over `points` from index `firstPoint` on. False, with nothing sent, when something is
    // running already or the port cannot be opened ("Порт не найден" shown).
    bool Start(TRunScope scope, std::vector<TRunPoint> points, int firstPoint, const TRunSettings &settings);
    // "Стоп": the run (or a device task) ends at once; the outputs are switched off.
    void Stop();
    // Closing the window: ends whatever runs, waits at most maxMs for the switching off to be
    // confirmed, closes the port.
    void Shutdown(int maxMs);

    // Device tasks outside a run; false when a run or another task is going on, or the port cannot be
    // opened. The address and speed as the user set them.
    bool ReadSettings();
    bool SendAddress(int address, int speedIndex);
    bool SendAutoMode(bool autoMode);
    // Failures of this one are not shown (the window sends it on opening).
    bool SendRsParamNum(int value);

    bool IsRunning() const { return stage_ != TStage::Idle && stage_ != TStage::DeviceTask; }
    bool IsBusy() const { return stage_ != TStage::Idle; }
    // The parameter number the window sends on opening is still awaited.
    bool IsSendingOpeningCommand() const { return stage_ == TStage::DeviceTask && quietTask_; }
    // The point being measured (index into the run's points), -1 outside a run.
    int CurrentPoint() const { return IsRunning() ? int(index_) : -1; }
    int PointCount() const { return int(points_.size()); }

    // `first`: told before every observer added so far (a journal: a point is durable before anything
    // shows or prints it).
    void AddObserver(IRunObserver *observer, bool first = false);
    void RemoveObserver(IRunObserver *observer);

    void SetResponseTimeOut(int ms);
    TDeviceInterface &Engine() { return *engine_; }
    const TKestConfiguration &KestConfiguration() const { return settings_.kestConfiguration; }
    // The progress line: "Точка k из n · вкладка «…» · осталось m:ss".
    QString ProgressText() const;

private:
    // Where the driver stands. Each answer (and each failure of the link) is taken by the stage it
    // belongs to; a stage names the requests it waits for.
    enum class TStage {
        Idle, // the port is closed
        DeviceTask, // between runs: the transducer's identity read, its address or mode sent
        // A run, in its order:
        PayingOwedSwitchOff, // a switch-off owed from before; it holds the link until it ends
        TakingControl, // remote control with the configuration: its echo
        FirstStatus, // the run's first status read
        SettingUp, // the point's voltage, angle, frequency and current
        Settling, // the measuring time ("WaitingTime"): nothing is asked
        SelectingInput, // an analog input selected
        InputSettling, // the 2000 ms after the selection: nothing is asked
        ReadingStatus, // the installation's status and readings
        ReadingIdentity, // the transducer's identity, once it shows up behind the installation
        ReadingTransducer, // the transducer's readings relayed by the installation
        SwitchingOff, // the run's end: outputs off; the switch-off holds the link
    };

    struct TPointRun {
        TInputData sent;
        std::unique_ptr<TARU_Manager> aru;
        int aruRepeats = 0;
        TParametersPtr installation;
        TParametersPtr transducer;
        std::array<double, 3> analog{};
        std::vector<std::pair<int, int>> analogPlan; // (input 1–3, parameter)
        size_t analogIndex = 0;
        QString note; // why the transducer's cells hold no reading
    };
    struct TKept { // what the run read for a point, for the points that reuse it
        TParametersPtr installation;
        TParametersPtr transducer;
        std::array<double, 3> analog{};
    };

    // The link.
    void OnAnswer(const TFramePtr &answer);
    void OnError(const QString &text);
    void SendNext();
    bool OpenPort();
    void ClosePort();
    bool BeginDeviceTask();
    void FinishTaskIfDone();
    void OnBetweenRunsAnswer(const TFrame &answer, const TFrame &last);

    // The run.
    void OnRunAnswer(const TFrame &answer, const TFrame &last);
    bool FitsStage(const TFrame &answer, const TFrame &last) const;
    void OnUnfitAnswer(const TFrame &answer);
    void OnControlEcho(const TFrame &answer, const TFrame &last);
    // Moves the run on; a run stopped meanwhile (an observer, a message box) stays stopped.
    bool Enter(TStage stage);
    // The run is over or being switched off: nothing more is asked for its points.
    bool isStopped() const { return stage_ == TStage::SwitchingOff || stage_ == TStage::Idle; }
    void ReadKest(TStage stage);
    void ProcessPoint();
    bool TryReuse();
    void SetUpPoint();
    void AfterSettle();
    void SelectAnalogInput(int input);
    void OnStatus(const TFrame &answer);
    void StoreReading(const TParametersAndStatus &status);
    void NextAnalogInput();
    void OnRsReading(const TFrame &answer);
    void CompletePoint(bool reused);
    void NextPoint();
    // The identity block taken into the context; false (and nothing kept) for a transducer of type 0.
    bool TakeDeviceInfo(const TFrame &answer, TDeviceInfo &info);
    void OnDeviceInfoBetweenRuns(const TFrame &answer);
    void OnDeviceInfoInRun(const TFrame &answer);
    void Fail(const QString &text);
    void TakeRemoteControl();

    // Ending.
    void BeginSwitchOff(TRunOutcome outcome, const QString &error);
    void Finish(bool outputsOff, const QString &offError);

    // Filling the rows.
    TParametersForGridRow InstallationRow(const TParameters &params) const;
    TParametersForGridRow RsRow(const TParameters &installation, const TParameters &rs) const;
    TParameterForGrid AnalogCell(int param, const TParametersAndStatus &status) const;
    TParameter Primary(const TParameter &secondary) const;
    std::vector<std::pair<int, int>> AnalogPlanFor(int tab) const;
    TDeviceInfo DeviceInfoOrSettings() const;
    const TRunPoint &Point() const { return points_[index_]; }
    TKestAvtopoverkaGrid &PointGrid() { return tabs_.Grid(Point().tab); }
    void ShowProgress();

    TAvtopoverkaContext &ctx_;
    TVerificationTabs &tabs_;
    IRunHost &host_;
    TCallBackObject callback_;
    std::unique_ptr<TDeviceInterface> engine_;
    std::unique_ptr<TSwitchOff> switchOff_; // after engine_ and callback_: gone before either
    TKestCmdManager cmd_;
    std::unique_ptr<TErrorCalculator> calculator_;
    TWaiter waiter_;
    std::vector<IRunObserver *> observers_;

    TStage stage_ = TStage::Idle;
    bool quietTask_ = false; // a device task whose failures are not shown
    bool oldInfoRetried_ = false;

    // The run.
    TRunScope scope_ = TRunScope::CurrentTab;
    std::vector<TRunPoint> points_;
    std::vector<std::optional<TKept>> kept_;
    size_t index_ = 0;
    int firstPoint_ = 0;
    int measured_ = 0;
    QString lastNote_; // why the last point's transducer cells are empty (empty: they are not)
    TRunSettings settings_;
    TPointRun pt_;
    bool isDeviceRsConnected_ = false;
    TParametersAndStatusPtr lastRecievedParams_;
    QElapsedTimer runClock_;
    qint64 waitedMs_ = 0; // prescribed waits of the run so far (for the time left)
    std::vector<int> analogInputCount_; // per tab, taken at the start (for the time left)

    // Ending.
    TRunOutcome outcome_ = TRunOutcome::Finished;
    QString error_;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
