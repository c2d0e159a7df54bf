#include "verification/run/rundriver.h"

#include "presentation/parameterscaling.h"
#include "protocol/numberformat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using K = TKestCmdManager;

constexpr uint32_t kAddressKnownQx4 = 0xC0DCC0; // RGB(192, 220, 192)
constexpr uint32_t kAddressOtherDevice = 0x8080F0; // RGB(240, 128, 128)

// A value the installation sent as single precision, as the shortest decimal that reads back to it
// (57,7 rather than 57,70000076293945).
double SinglePrecision(double value)
{
    const float f = float(value);
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(f));
        if (std::strtof(text, nullptr) == f)
            return std::strtod(text, nullptr);
    }
    return value;
}

// The key under which a point measured earlier in the run is found again: the input record's text with
// separators, so that neighbouring fields cannot run into each other (currents 1 and voltages 11 are
// not currents 11 and voltages 1).
QString ReuseKey(const TInputData &d)
{
    QStringList fields{d.IsRsInterface ? QStringLiteral("-1") : QStringLiteral("0")};
    for (const TParameter *p : {&d.Ia, &d.Ib, &d.Ic, &d.Ua, &d.Ub, &d.Uc, &d.Angle, &d.Freq})
        fields << FloatToQStr(p->value);
    return fields.join(QLatin1Char('|'));
}

QString Clock(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, (ms + 999) / 1000);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TRunDriver::TRunDriver(TAvtopoverkaContext &ctx, TVerificationTabs &tabs, IRunHost &host)
    : ctx_(ctx), tabs_(tabs), host_(host), calculator_(ctx.type.makeCalculator())
{
    callback_.Callback = [this](const TFramePtr &answer) { OnAnswer(answer); };
    callback_.ShowError = [this](const std::exception &e) { OnError(QString::fromUtf8(e.what())); };
    engine_ = std::make_unique<TDeviceInterface>(nullptr, &callback_);
    engine_->SetResponseTimeOut(kResponseTimeOut);
    switchOff_ = std::make_unique<TSwitchOff>(*engine_, callback_);
}

TRunDriver::~TRunDriver()
{
    *alive_ = false;
    waiter_.Cancel();
    switchOff_.reset();
    callback_.Callback = nullptr;
    callback_.ShowError = nullptr;
    // No event loop here: the window's closing has switched the outputs off already (Shutdown).
    engine_->Dispose();
}

void TRunDriver::AddObserver(IRunObserver *observer, bool first)
{
    if (!observer || std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
        return;
    if (first)
        observers_.insert(observers_.begin(), observer);
    else
        observers_.push_back(observer);
}

void TRunDriver::RemoveObserver(IRunObserver *observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TRunDriver::SetResponseTimeOut(int ms)
{
    engine_->SetResponseTimeOut(ms);
}

// ---- the link ----

void TRunDriver::SendNext()
{
    // Writing while an answer is awaited would purge that answer and have it judged against the wrong
    // request; what stays queued goes out from the answer handler.
    if (!engine_->IsWaiting())
        engine_->SendNextCmd();
}

bool TRunDriver::OpenPort()
{
    try {
        TPortInitializer(engine_.get()).InitPort(ctx_.Port().toStdString(), ctx_.Rate().toStdString());
        return true;
    } catch (const std::exception &) {
        ClosePort();
        return false;
    }
}

void TRunDriver::ClosePort()
{
    try {
        engine_->ClosePort();
    } catch (const std::exception &) {
        // A port that is gone already leaves nothing to close.
    }
}

void TRunDriver::OnAnswer(const TFramePtr &answer)
{
    const TFramePtr last = engine_->GetLastCmd();
    if (!answer || !last)
        return;
    switch (stage_) {
    case TStage::Idle:
        return; // a late answer after a task was given up
    case TStage::DeviceTask:
        OnBetweenRunsAnswer(*answer, *last);
        return;
    case TStage::PayingOwedSwitchOff:
    case TStage::SwitchingOff:
        return; // the switch-off holds the engine's handlers; nothing reaches here
    default:
        OnRunAnswer(*answer, *last);
        return;
    }
}

void TRunDriver::OnError(const QString &text)
{
    const TFramePtr last = engine_->GetLastCmd();
    if (stage_ == TStage::Idle)
        return;
    if (last && K::IsCmdReadDeviceInfo(*last) && !oldInfoRetried_ && stage_ != TStage::SwitchingOff
        && ctx_.type.identity == TIdentityLayout::Qx4) {
        // Older installations keep a shorter identity block: ask once more with its length. Only this
        // read is shortened; the next one asks for the whole block again. The other layouts keep their
        // full scale beyond the short block, so a short block would leave them without one.
        oldInfoRetried_ = true;
        TKestCmdManager shorter;
        shorter.SetOldDevInfoLength();
        engine_->AddCmd(shorter.CreateCmdReadDeviceInfo());
        SendNext();
        return;
    }
    switch (stage_) {
    case TStage::Idle:
        return;
    case TStage::DeviceTask: {
        const bool quiet = quietTask_;
        waiter_.Cancel();
        ClosePort();
        stage_ = TStage::Idle;
        if (!quiet)
            ctx_.view->ShowError(text);
        return;
    }
    case TStage::SwitchingOff:
        return;
    case TStage::ReadingTransducer:
        if (last && K::IsCmdAllParametersRS(*last)) {
            // The transducer stopped answering through the installation: its cells say so and the
            // run goes on.
            pt_.note = QStringLiteral("Прибор не ответил на чтение показаний через установку: ") + text;
            PointGrid().SetDefaultRsAndErrorToRow(Point().row);
            CompletePoint(false);
            return;
        }
        Fail(text);
        return;
    case TStage::ReadingIdentity:
        if (last && K::IsCmdReadDeviceInfo(*last)) {
            // Silent to its identity read as to a reading: this point goes without the transducer's
            // values and the run goes on; the next point asks for the identity again.
            pt_.note = QStringLiteral("Прибор не ответил на чтение паспорта через установку: ") + text;
            isDeviceRsConnected_ = false;
            ctx_.devInfo.reset();
            if (lastRecievedParams_)
                StoreReading(*lastRecievedParams_);
            else
                ReadKest(TStage::ReadingStatus);
            return;
        }
        Fail(text);
        return;
    default:
        Fail(text);
        return;
    }
}

void TRunDriver::Fail(const QString &text)
{
    const std::shared_ptr<bool> alive = alive_;
    BeginSwitchOff(TRunOutcome::Failed, text);
    if (*alive && !text.isEmpty())
        ctx_.view->ShowError(text);
}

// ---- device tasks ----

bool TRunDriver::BeginDeviceTask()
{
    if (stage_ != TStage::Idle)
        return false;
    waiter_.Reset();
    if (!OpenPort()) {
        ctx_.view->ShowError(QStringLiteral("Порт не найден"));
        return false;
    }
    quietTask_ = false;
    stage_ = TStage::DeviceTask;
    return true;
}

bool TRunDriver::ReadSettings()
{
    if (!BeginDeviceTask())
        return false;
    oldInfoRetried_ = false;
    engine_->AddCmd(cmd_.CreateCmdReadDeviceInfo());
    SendNext();
    return true;
}

bool TRunDriver::SendAddress(int address, int speedIndex)
{
    if (!BeginDeviceTask())
        return false;
    engine_->AddCmd(cmd_.CreateCmdSetDeviceSpeedIndex(speedIndex));
    engine_->AddCmd(cmd_.CreateCmdSendAddress(address));
    SendNext();
    return true;
}

bool TRunDriver::SendAutoMode(bool autoMode)
{
    if (!BeginDeviceTask())
        return false;
    engine_->AddCmd(cmd_.CreateCmdSendAutoMode(autoMode));
    SendNext();
    return true;
}

bool TRunDriver::SendRsParamNum(int value)
{
    if (stage_ != TStage::Idle)
        return false;
    waiter_.Reset();
    if (!OpenPort())
        return false;
    stage_ = TStage::DeviceTask;
    quietTask_ = true;
    engine_->AddCmd(cmd_.CreateCmdSetRsParamNum(value));
    SendNext();
    return true;
}

void TRunDriver::FinishTaskIfDone()
{
    if (stage_ != TStage::DeviceTask)
        return;
    if (engine_->IsQueueEmpty() && !engine_->IsWaiting() && !waiter_.IsWaiting()) {
        ClosePort();
        stage_ = TStage::Idle;
    }
}

// Between runs the answer is told by the request it answers; whatever is not the identity, an address
// or a mode lets the queue go on.
void TRunDriver::OnBetweenRunsAnswer(const TFrame &answer, const TFrame &last)
{
    if (K::IsCmdReadDeviceInfo(last)) {
        OnDeviceInfoBetweenRuns(answer);
        return;
    }
    if (K::IsCmdReadDeviceAddress(last))
        host_.AddressRead(K::RecieveDeviceAddress(answer));
    if (K::IsCmdSendDeviceMode(last)) {
        // The transducer takes its new mode in its own time.
        waiter_.After(
            kModeWait,
            [this] {
                if (stage_ != TStage::DeviceTask)
                    return;
                if (ctx_.selections.autoMode)
                    engine_->AddCmd(cmd_.CreateCmdReadDeviceAddress());
                else
                    engine_->AddCmd(cmd_.CreateCmdSendAddress(int(std::lround(ctx_.entries.address))));
                SendNext();
            },
            kWaitMode);
        return;
    }
    SendNext();
    FinishTaskIfDone();
}

// ---- the run ----

bool TRunDriver::Start(TRunScope scope, std::vector<TRunPoint> points, int firstPoint, const TRunSettings &settings)
{
    if (stage_ != TStage::Idle || firstPoint < 0 || size_t(firstPoint) >= points.size())
        return false;
    waiter_.Reset();
    isDeviceRsConnected_ = false;
    if (!OpenPort()) {
        ctx_.view->ShowError(QStringLiteral("Порт не найден"));
        return false;
    }
    scope_ = scope;
    points_ = std::move(points);
    kept_.assign(points_.size(), std::nullopt);
    index_ = size_t(firstPoint);
    firstPoint_ = firstPoint;
    measured_ = 0;
    lastNote_.clear();
    settings_ = settings;
    oldInfoRetried_ = false;
    lastRecievedParams_.reset();
    outcome_ = TRunOutcome::Finished;
    error_.clear();
    waitedMs_ = 0;
    analogInputCount_.assign(size_t(tabs_.Count()), 0);
    for (int tab = 0; tab < tabs_.Count(); ++tab)
        analogInputCount_[size_t(tab)] = int(ctx_.AnalogInputs(tab).size());
    runClock_.start();
    const bool owed = TOutputsLedger::IsOn(ctx_.Port());
    stage_ = owed ? TStage::PayingOwedSwitchOff : TStage::TakingControl;

    TRunStart start;
    start.configuration = ctx_.code;
    start.scope = scope;
    start.points = points_;
    start.firstPoint = firstPoint;
    start.kestConfiguration = settings.kestConfiguration;
    start.scheme4 = ctx_.selections.scheme4;
    start.currentRange = ctx_.selections.currentRange;
    start.voltageRange = ctx_.selections.voltage;
    start.aru = ctx_.selections.aru;
    start.permissibleError = settings.permissibleError;
    start.permissibleErrorFreq = settings.permissibleErrorFreq;
    start.permissibleErrorAnalog = settings.permissibleErrorAnalog;
    start.transfCoefs = ctx_.transfCoefs;
    start.deviceInfo = ctx_.devInfo;
    start.waitingTimeMs = settings.waitingTimeMs;
    start.time = QDateTime::currentDateTime();
    for (IRunObserver *o : observers_)
        o->RunStarted(start);

    if (!owed) {
        TakeRemoteControl();
        return true;
    }
    // A switch-off owed from before (a program killed mid-run, an installation that fell silent while it
    // was being switched off) is paid before anything else goes to the installation.
    ctx_.view->ShowProgress(QStringLiteral("Выключение выходов установки…"));
    switchOff_->Begin(TSwitchOffSequence::Run(cmd_, settings_.kestConfiguration, settings_.optionIb),
        [this](const TSwitchOffResult &r) {
            if (r.confirmed)
                TOutputsLedger::MarkOff(ctx_.Port());
            if (stage_ != TStage::PayingOwedSwitchOff) { // "Стоп" or the window's closing came meanwhile
                Finish(r.confirmed, r.Text());
                return;
            }
            if (!r.confirmed) {
                outcome_ = TRunOutcome::Failed;
                stage_ = TStage::SwitchingOff;
                Finish(false, r.Text());
                return;
            }
            stage_ = TStage::TakingControl;
            TakeRemoteControl();
        });
    return true;
}

void TRunDriver::TakeRemoteControl()
{
    // Marked before the first frame that can energise anything: a crash from here on is made good by
    // the next program to take the port.
    TOutputsLedger::MarkOn(ctx_.Port());
    engine_->AddCmd(cmd_.CreateCmdEnableDistantControl(settings_.kestConfiguration));
    SendNext();
    ShowProgress();
}

// One dispatch per stage: the answer is first judged against what the stage asked for.
void TRunDriver::OnRunAnswer(const TFrame &answer, const TFrame &last)
{
    if (!FitsStage(answer, last)) {
        OnUnfitAnswer(answer);
        return;
    }
    switch (stage_) {
    case TStage::TakingControl:
        OnControlEcho(answer, last);
        return;
    case TStage::FirstStatus:
        // It only shows the link works; the point's own reading comes after its set-up.
        ProcessPoint();
        return;
    case TStage::SettingUp:
        if (!K::IsCmdAmperage(last)) {
            SendNext(); // voltage, angle, frequency: the current comes last
            return;
        }
        // The point is set: let the outputs settle for the measuring time.
        stage_ = TStage::Settling;
        waitedMs_ += settings_.waitingTimeMs;
        waiter_.After(
            settings_.waitingTimeMs, [this] { AfterSettle(); }, kWaitMeasuring);
        return;
    case TStage::SelectingInput:
        stage_ = TStage::InputSettling;
        waitedMs_ += kAnalogInputWait;
        waiter_.After(
            kAnalogInputWait, [this] { ReadKest(TStage::ReadingStatus); }, kWaitAnalogInput);
        return;
    case TStage::ReadingStatus:
        OnStatus(answer);
        return;
    case TStage::ReadingIdentity:
        OnDeviceInfoInRun(answer);
        return;
    case TStage::ReadingTransducer:
        OnRsReading(answer);
        return;
    default:
        return; // FitsStage takes nothing for the stages that ask for nothing
    }
}

// The one place that decides whether an answer belongs to the stage the run is in.
bool TRunDriver::FitsStage(const TFrame &answer, const TFrame &last) const
{
    // A frame shaped as the configuration carries no reading: only the start's echo may be one.
    if (stage_ != TStage::TakingControl && K::IsCmdConfiguration(answer))
        return false;
    switch (stage_) {
    case TStage::TakingControl:
        return K::IsCmdConfiguration(last);
    case TStage::FirstStatus:
    case TStage::ReadingStatus:
        return K::IsCmdAllParameters(last);
    case TStage::SettingUp:
        return true; // every set frame of the point; the current's answer ends the set-up
    case TStage::SelectingInput:
        return K::IsCmdSetAmperageIn(last);
    case TStage::ReadingIdentity:
        return K::IsCmdReadDeviceInfo(last);
    case TStage::ReadingTransducer:
        return K::IsCmdAllParametersRS(last);
    default:
        return false;
    }
}

// An answer the stage did not ask for (the transducer's speed before its status read, say) lets the
// queue go on; a configuration-shaped one is dropped, or taken as the start's confirmation while
// that is awaited.
void TRunDriver::OnUnfitAnswer(const TFrame &answer)
{
    if (K::IsCmdConfiguration(answer)) {
        if (stage_ == TStage::TakingControl && K::IsDistantControlEnabled(answer))
            ReadKest(TStage::FirstStatus);
        return;
    }
    SendNext();
}

void TRunDriver::OnControlEcho(const TFrame &answer, const TFrame &last)
{
    if (TSwitchOff::IsEchoOf(answer, last) && K::IsDistantControlEnabled(answer)) {
        ReadKest(TStage::FirstStatus);
        return;
    }
    Fail(QStringLiteral("Установка не подтвердила дистанционное управление: вместо подтверждения пришло «%1»")
             .arg(QString::fromStdString(answer.ToHex())));
}

bool TRunDriver::Enter(TStage stage)
{
    if (isStopped())
        return false;
    stage_ = stage;
    return true;
}

void TRunDriver::ReadKest(TStage stage)
{
    if (!Enter(stage))
        return;
    engine_->AddCmd(cmd_.CreateCmdReadDeviceStatusAndAllParameters());
    SendNext();
}

void TRunDriver::ProcessPoint()
{
    if (isStopped())
        return;
    const TRunPoint &point = Point();
    pt_ = TPointRun();
    // The correction stays within the entry limits of the range in use (those of the current and voltage entries).
    pt_.aru = std::make_unique<TARU_Manager>(point.input, ctx_.transfCoefs, settings_.aruError, settings_.optionIb,
        ctx_.selections.scheme4,
        TAruLimits{1.25 * ctx_.nominalI,
            ctx_.type.entry.rangeList ? UpperVoltageLimit(ctx_.selections.range) : 1.55 * ctx_.nominalU});
    ShowProgress();
    if (TryReuse())
        return;
    pt_.analogPlan = point.IsRs() ? std::vector<std::pair<int, int>>() : AnalogPlanFor(point.tab);
    SetUpPoint();
}

bool TRunDriver::TryReuse()
{
    const TRunPoint &point = Point();
    const QString key = ReuseKey(point.input);
    TKestAvtopoverkaGrid &grid = PointGrid();
    for (size_t j = 0; j < index_; ++j) {
        const TRunPoint &earlier = points_[j];
        if (ReuseKey(earlier.input) != key)
            continue;
        const TSuperAvtopoverkaGrid::TRowResults *source = tabs_.Grid(earlier.tab).RowResults(earlier.row);
        if (!source || source->fromJournal)
            continue;
        // Only a copy that fills every output cell of this row counts; otherwise the point is measured.
        bool covers = true;
        for (int col = grid.InputColumnCount(); col < grid.ColCount() && covers; ++col) {
            const int p = grid.ParamOfColumn(col);
            if (p == 0)
                continue;
            if (point.IsRs())
                covers = source->output && source->output->GetParameterByIndex(p)
                    && ((source->rs && source->rs->GetParameterByIndex(p)) || source->noValue.test(size_t(p)));
            else
                covers = source->analog.count(p) > 0;
        }
        if (!covers)
            continue;
        const TSuperAvtopoverkaGrid::TRowResults copy = *source;
        grid.SetSelectedRow(point.row);
        if (!grid.SetRowResults(point.row, copy))
            continue;
        if (kept_[j]) {
            pt_.installation = kept_[j]->installation;
            pt_.transducer = kept_[j]->transducer;
            pt_.analog = kept_[j]->analog;
        }
        pt_.sent = point.input;
        CompletePoint(true);
        return true;
    }
    return false;
}

void TRunDriver::SetUpPoint()
{
    const TRunPoint &point = Point();
    PointGrid().SetSelectedRow(point.row);
    pt_.sent = ctx_.selections.aru ? pt_.aru->currentInputData : point.input;
    const TInputData &s = pt_.sent;
    try {
        TKestParameterController controller(engine_.get(), &cmd_, &settings_.kestConfiguration);
        controller.SetVoltage(s.Ua.value, s.Ub.value, s.Uc.value);
        controller.SetAngle(s.Angle.value);
        controller.SetFrequence(s.Freq.value);
        controller.SetAmperage(s.Ia.value, s.Ib.value, s.Ic.value, settings_.optionIb);
    } catch (const std::exception &e) {
        Fail(QString::fromUtf8(e.what()));
        return;
    }
    Enter(TStage::SettingUp);
    SendNext();
}

void TRunDriver::AfterSettle()
{
    if (isStopped())
        return;
    if (!pt_.analogPlan.empty()) {
        pt_.analogIndex = 0;
        SelectAnalogInput(pt_.analogPlan[0].first);
    } else {
        ReadKest(TStage::ReadingStatus);
    }
}

void TRunDriver::SelectAnalogInput(int input)
{
    Enter(TStage::SelectingInput);
    engine_->AddCmd(cmd_.CreateCmdSetAnalogInputNumber(uint8_t(input)));
    SendNext();
}

void TRunDriver::OnStatus(const TFrame &answer)
{
    const TParametersAndStatusPtr status = cmd_.ParseParameters_ConfigurationQX4(answer);
    lastRecievedParams_ = status;
    const bool connected = !status->isDeviceDisconnected;
    if (isDeviceRsConnected_ && !connected) {
        isDeviceRsConnected_ = false;
        if (Point().IsRs())
            PointGrid().SetDefaultRsAndErrorToRow(Point().row);
        ctx_.devInfo.reset();
    } else if (!isDeviceRsConnected_ && connected) {
        // The reading is stored once the transducer's identity is known.
        isDeviceRsConnected_ = true;
        oldInfoRetried_ = false;
        Enter(TStage::ReadingIdentity);
        engine_->AddCmd(cmd_.CreateCmdReadDeviceInfo());
        SendNext();
        return;
    }
    if (ctx_.devInfo)
        ctx_.view->SetAddressColor(ctx_.devInfo->deviceType == 1 ? kAddressKnownQx4 : kAddressOtherDevice);
    StoreReading(*status);
}

void TRunDriver::StoreReading(const TParametersAndStatus &status)
{
    const TRunPoint &point = Point();
    TKestAvtopoverkaGrid &grid = PointGrid();
    pt_.installation = std::make_shared<TParameters>(*status.Parameters);
    if (!point.IsRs()) {
        if (pt_.analogIndex < pt_.analogPlan.size()) {
            const auto [input, param] = pt_.analogPlan[pt_.analogIndex];
            pt_.analog[size_t(input - 1)] = status.AnalogOut;
            grid.SetAnalogParameter(point.row, AnalogCell(param, status));
        }
    } else {
        grid.AddOutputData(InstallationRow(*status.Parameters), point.row);
    }
    if (ctx_.selections.aru && pt_.aruRepeats < kMaxAruRepeats) {
        bool corrected = false;
        switch (ctx_.type.aru) {
        case TAruKind::Qx4:
            corrected = pt_.aru->CorrectInputDataIfThereIsAruErrorQX4(*status.Parameters);
            break;
        case TAruKind::I:
            corrected = pt_.aru->CorrectInputDataIfThereIsAruErrorI(*status.Parameters);
            break;
        case TAruKind::U:
            corrected = pt_.aru->CorrectInputDataIfThereIsAruErrorU(*status.Parameters);
            break;
        }
        if (corrected) {
            ++pt_.aruRepeats;
            pt_.analogIndex = 0;
            SetUpPoint();
            return;
        }
    }
    if (!point.IsRs()) {
        NextAnalogInput();
        return;
    }
    if (!isDeviceRsConnected_ || !ctx_.devInfo) {
        if (!pt_.note.isEmpty())
            grid.SetDefaultRsAndErrorToRow(point.row);
        CompletePoint(false);
        return;
    }
    Enter(TStage::ReadingTransducer);
    engine_->AddCmd(cmd_.CreateCmdReadAllParametersRS());
    SendNext();
}

void TRunDriver::NextAnalogInput()
{
    ++pt_.analogIndex;
    if (pt_.analogIndex >= pt_.analogPlan.size()) {
        CompletePoint(false);
        return;
    }
    SelectAnalogInput(pt_.analogPlan[pt_.analogIndex].first);
}

void TRunDriver::OnRsReading(const TFrame &answer)
{
    const TParametersAndStatusPtr rs = (cmd_.*ctx_.type.rsParser)(answer);
    pt_.transducer = rs->Parameters;
    const TParameters installation = pt_.installation ? *pt_.installation : TParameters();
    PointGrid().AddOutputDataRS(RsRow(installation, *rs->Parameters), Point().row);
    if (ctx_.selections.autoMode && rs->isAutoMode)
        host_.AddressRead(rs->DeviceAddress);
    CompletePoint(false);
}

void TRunDriver::CompletePoint(bool reused)
{
    const TRunPoint &point = Point();
    TKestAvtopoverkaGrid &grid = PointGrid();
    if (!reused)
        kept_[index_] = TKept{pt_.installation, pt_.transducer, pt_.analog};
    ++measured_;
    // Why the transducer's cells of this point stayed empty, on the progress line until a point is read.
    lastNote_ = pt_.note.isEmpty() ? QString() : QStringLiteral("строка %1: %2").arg(point.row).arg(pt_.note);
    if (!observers_.empty()) {
        TMeasuredPoint m;
        m.index = int(index_);
        m.point = point;
        m.sent = pt_.sent;
        m.reused = reused;
        m.installation = pt_.installation;
        m.transducer = pt_.transducer;
        m.analogCurrents = pt_.analog;
        m.note = pt_.note;
        if (const auto *results = grid.RowResults(point.row))
            m.results = *results;
        for (int col = 0; col < grid.ColCount(); ++col) {
            m.cells << grid.Cells(col, point.row);
            m.marks.push_back(grid.IsRedCell(col, point.row));
        }
        m.time = QDateTime::currentDateTime();
        for (IRunObserver *o : observers_)
            o->PointMeasured(m);
    }
    NextPoint();
}

void TRunDriver::NextPoint()
{
    if (isStopped())
        return;
    const int tab = Point().tab;
    ++index_;
    if (index_ >= points_.size()) {
        --index_; // stays on the last point for the progress line
        BeginSwitchOff(TRunOutcome::Finished, QString());
        return;
    }
    if (Point().tab != tab)
        host_.RunMovedToTab(Point().tab);
    ProcessPoint();
}

bool TRunDriver::TakeDeviceInfo(const TFrame &answer, TDeviceInfo &info)
{
    const TDeviceInfoPtr parsed = ctx_.type.identity == TIdentityLayout::Qx4 ? cmd_.ParseDeviceInfo(answer)
                                                                             : cmd_.ParseDeviceInfoNotQx4(answer);
    info = *parsed;
    const TTransfCoefs &c = info.transfCoefs;
    const bool deviceCoefs = ctx_.type.isQx4 && c.U1 > 0 && c.U2 > 0 && c.I1 > 0 && c.I2 > 0;
    if (ctx_.selections.autoMode && deviceCoefs) {
        info.transfCoefs = {SinglePrecision(c.I1), SinglePrecision(c.I2), SinglePrecision(c.U1), SinglePrecision(c.U2)};
        ctx_.transfCoefs = info.transfCoefs;
        const TTransfCoefs &t = ctx_.transfCoefs;
        ctx_.deviceConfig.WriteKU1(FloatToQStr(t.U1));
        ctx_.deviceConfig.WriteKU2(FloatToQStr(t.U2));
        ctx_.deviceConfig.WriteKI1(FloatToQStr(t.I1));
        ctx_.deviceConfig.WriteKI2(FloatToQStr(t.I2));
    } else {
        // Without "Авто" (or from a block that does not carry them) the coefficients of the settings apply.
        ctx_.ReloadTransfCoefs();
        info.transfCoefs = ctx_.transfCoefs;
    }
    const auto &outs = info.AnalogOut.OutArray;
    if (outs[0] || outs[1] || outs[2]) {
        ctx_.analogOut = info.AnalogOut;
        ctx_.DoesDevInfoContainAnalogOuts = true;
    }
    if (info.deviceType == 0) {
        ctx_.devInfo.reset();
        host_.DeviceInfoTaken();
        return false;
    }
    ctx_.devInfo = info;
    host_.DeviceInfoTaken();
    return true;
}

void TRunDriver::OnDeviceInfoBetweenRuns(const TFrame &answer)
{
    const std::shared_ptr<bool> alive = alive_;
    TDeviceInfo info;
    if (!TakeDeviceInfo(answer, info)) {
        ctx_.view->ShowMessage(QStringLiteral("Прибор не определён"));
        if (*alive) {
            SendNext();
            FinishTaskIfDone();
        }
        return;
    }
    if (!*alive)
        return;
    host_.DeviceSettingsRead(info);
    if (*alive) {
        SendNext();
        FinishTaskIfDone();
    }
}

void TRunDriver::OnDeviceInfoInRun(const TFrame &answer)
{
    const std::shared_ptr<bool> alive = alive_;
    TDeviceInfo info;
    if (!TakeDeviceInfo(answer, info)) {
        BeginSwitchOff(TRunOutcome::Failed, QStringLiteral("Прибор не определён"));
        if (*alive)
            ctx_.view->ShowMessage(QStringLiteral("Прибор не определён"));
        return;
    }
    if (!*alive)
        return;
    for (IRunObserver *o : observers_)
        o->DeviceIdentified(info);
    // The device's own analog assignment may not be what the analog tabs of this run show: their cells
    // would pair one quantity's current with another's value.
    for (size_t k = index_; k < points_.size(); ++k) {
        if (points_[k].IsRs())
            continue;
        if (const QString mismatch = tabs_.AnalogMismatch(points_[k].tab); !mismatch.isEmpty()) {
            Fail(mismatch + QStringLiteral(" Измерение остановлено."));
            return;
        }
    }
    if (Point().IsRs() && !ctx_.selections.aru) {
        Enter(TStage::ReadingStatus);
        engine_->AddCmd(cmd_.CreateCmdSetDeviceSpeedIndex(ctx_.selections.rsSpeedIndex));
        // The speed shares its register with the over-300 V switch: a point sent with phases A and C in
        // series gets the switch back before it is read, or half its voltage would be measured.
        TKestInputParamCmdController form(&settings_.kestConfiguration, &cmd_);
        form.CreateCmdSendVoltageAccordingToConfiguration(pt_.sent.Ua.value, pt_.sent.Ub.value, pt_.sent.Uc.value);
        if (form.UOver300Flag)
            engine_->AddCmd(cmd_.CreateCmdSetUOver300(true));
        engine_->AddCmd(cmd_.CreateCmdReadDeviceStatusAndAllParameters());
        SendNext();
        return;
    }
    if (lastRecievedParams_)
        StoreReading(*lastRecievedParams_);
    else
        ReadKest(TStage::ReadingStatus);
}

// ---- ending ----

void TRunDriver::Stop()
{
    if (stage_ == TStage::DeviceTask) {
        waiter_.Cancel();
        engine_->CleaerQueue();
        ClosePort();
        stage_ = TStage::Idle;
        return;
    }
    if (IsRunning() && stage_ != TStage::SwitchingOff)
        BeginSwitchOff(TRunOutcome::Stopped, QString());
}

void TRunDriver::BeginSwitchOff(TRunOutcome outcome, const QString &error)
{
    if (!IsRunning() || stage_ == TStage::SwitchingOff)
        return;
    outcome_ = outcome;
    error_ = error;
    waiter_.Cancel();
    stage_ = TStage::SwitchingOff;
    ShowProgress();
    if (switchOff_->IsActive())
        return; // an owed switch-off is under way; its end ends the run
    switchOff_->Begin(TSwitchOffSequence::Run(cmd_, settings_.kestConfiguration, settings_.optionIb),
        [this](const TSwitchOffResult &r) { Finish(r.confirmed, r.Text()); });
}

void TRunDriver::Finish(bool outputsOff, const QString &offError)
{
    waiter_.Cancel();
    engine_->CleaerQueue();
    ClosePort();
    stage_ = TStage::Idle;
    // The ledger keeps an unconfirmed switch-off owed: the next to take this port pays it first.
    if (outputsOff)
        TOutputsLedger::MarkOff(ctx_.Port());
    TRunEnd end;
    end.outcome = outcome_;
    end.error = error_;
    end.measured = measured_;
    end.outputsOff = outputsOff;
    end.time = QDateTime::currentDateTime();
    if (!outputsOff) {
        end.outcome = TRunOutcome::Failed;
        const QString off = QStringLiteral("Выходы установки не удалось выключить: ") + offError;
        end.error = end.error.isEmpty() ? off : end.error + QStringLiteral("\n") + off;
    }
    ctx_.view->ShowProgress(QString());
    const std::shared_ptr<bool> alive = alive_;
    for (IRunObserver *o : observers_)
        o->RunEnded(end);
    if (!*alive)
        return;
    host_.RunEnded(end);
    if (*alive && !outputsOff)
        ctx_.view->ShowError(QStringLiteral("Выходы установки не удалось выключить: ") + offError);
}

void TRunDriver::Shutdown(int maxMs)
{
    if (!IsRunning()) {
        Stop();
        ClosePort();
        return;
    }
    BeginSwitchOff(TRunOutcome::Stopped, QString());
    QElapsedTimer elapsed;
    elapsed.start();
    const std::shared_ptr<bool> alive = alive_;
    TWaiter wait;
    while (*alive && stage_ != TStage::Idle && elapsed.elapsed() < maxMs)
        if (!wait.Wait(20, kWaitShutdown))
            break;
    if (*alive && stage_ != TStage::Idle) {
        switchOff_->Abort();
        Finish(false, QStringLiteral("нет ответа за %1 мс").arg(maxMs));
    }
}

// ---- rows ----

TParameter TRunDriver::Primary(const TParameter &secondary) const
{
    TParameter p = secondary;
    const int i = p.index;
    const TTransfCoefs &c = ctx_.transfCoefs;
    double ratio = 1;
    if (i == piEa || i == piEr) {
        // Energy goes with voltage times current.
        if (c.U2 > 0 && c.I2 > 0)
            ratio = (c.U1 * c.I1) / (c.U2 * c.I2);
    } else {
        const double s2 = TParameterScaling::GetScale(i, c.I2, c.U2);
        const double s1 = TParameterScaling::GetScale(i, c.I1, c.U1);
        if (s2 != 0 && std::isfinite(s2) && std::isfinite(s1))
            ratio = s1 / s2;
    }
    p.value = secondary.value * ratio;
    return p;
}

TParametersForGridRow TRunDriver::InstallationRow(const TParameters &params) const
{
    TParametersForGridRow row;
    for (int i = 1; i <= TParameters::kCount; ++i)
        if (const TParameter *p = params.GetParameterByIndex(i))
            row.AddParameter(TParameterForGrid(Primary(*p),
                TParameterScaling::GetPrefixName(TParameterScaling::GetPrefixNum(i, ctx_.transfCoefs)), 0));
    return row;
}

TParametersForGridRow TRunDriver::RsRow(const TParameters &installation, const TParameters &rs) const
{
    TParametersForGridRow row;
    const TDeviceInfo info = DeviceInfoOrSettings();
    for (int i = 1; i <= TParameters::kCount; ++i) {
        const TParameter *inst = installation.GetParameterByIndex(i);
        const TParameter *dev = rs.GetParameterByIndex(i);
        if (!inst || !dev)
            continue;
        const double error = calculator_->CalculateError(i, info, settings_.kestConfiguration, inst->value, dev->value);
        TParameterForGrid item(Primary(*inst),
            TParameterScaling::GetPrefixName(TParameterScaling::GetPrefixNum(i, ctx_.transfCoefs)), error, *dev);
        const double limit = i == piFreq ? settings_.permissibleErrorFreq : settings_.permissibleError;
        item.isBiggerThanThreshold = dev->isDataCorrect && std::fabs(error) > limit;
        row.AddParameter(item);
    }
    return row;
}

TParameterForGrid TRunDriver::AnalogCell(int param, const TParametersAndStatus &status) const
{
    TParameter p;
    if (const TParameter *found = status.Parameters->GetParameterByIndex(param))
        p = *found;
    double value = p.value;
    const double error = calculator_->CalculateErrorAnalog(
        param, 2, DeviceInfoOrSettings(), settings_.kestConfiguration, value, status.AnalogOut);
    QString prefix;
    TParameter shown = p;
    if (settings_.analogAsMilliAmps) {
        shown.value = value; // the current the output should deliver
    } else {
        shown = Primary(p);
        prefix = TParameterScaling::GetPrefixName(TParameterScaling::GetPrefixNum(param, ctx_.transfCoefs));
    }
    TParameterForGrid item(shown, status.AnalogOut, error);
    item.prefix = prefix;
    item.isBiggerThanThreshold = std::fabs(error) > settings_.permissibleErrorAnalog;
    return item;
}

std::vector<std::pair<int, int>> TRunDriver::AnalogPlanFor(int tab) const
{
    // The inputs and parameters the tab's columns were built from: every column gets its cell. A device
    // assignment that differs is put to the user before the run, or stops it when it shows up in one.
    std::vector<std::pair<int, int>> plan;
    const TKestAvtopoverkaGrid &grid = tabs_.Grid(tab);
    for (const auto &[input, param] : tabs_.ShownAnalogPlan(tab))
        if (grid.OutputColumnOf(param) >= 0)
            plan.emplace_back(input, param);
    return plan;
}

TDeviceInfo TRunDriver::DeviceInfoOrSettings() const
{
    if (ctx_.devInfo)
        return *ctx_.devInfo;
    TDeviceInfo info;
    info.transfCoefs = ctx_.transfCoefs;
    return info;
}

// ---- progress ----

QString TRunDriver::ProgressText() const
{
    if (!IsRunning() || points_.empty())
        return QString();
    if (stage_ == TStage::SwitchingOff)
        return QStringLiteral("Выключение выходов установки…");
    const TRunPoint &point = points_[index_];
    const QString tabName
        = tabs_.Grid(point.tab).Title.isEmpty() ? QString::number(point.tab + 1) : tabs_.Grid(point.tab).Title;
    // Time left: the prescribed waits of the points to come, plus the exchanges at the pace seen so far.
    qint64 left = 0;
    for (size_t k = index_; k < points_.size(); ++k) {
        left += settings_.waitingTimeMs;
        if (!points_[k].IsRs())
            left += qint64(kAnalogInputWait) * analogInputCount_[size_t(points_[k].tab)];
    }
    const qint64 done = qint64(index_) - firstPoint_;
    const qint64 waited = qint64(double(waitedMs_) * TWaitService::Scale());
    const qint64 overhead = done > 0 ? std::max<qint64>(0, runClock_.elapsed() - waited) / done : 400;
    left = qint64(double(left) * TWaitService::Scale()) + overhead * qint64(points_.size() - index_);
    const QString text = QStringLiteral("Точка %1 из %2 · вкладка «%3» · строка %4 · осталось %5")
                             .arg(index_ + 1)
                             .arg(points_.size())
                             .arg(tabName)
                             .arg(point.row)
                             .arg(Clock(left));
    return lastNote_.isEmpty() ? text : text + QStringLiteral(" · ") + lastNote_;
}

void TRunDriver::ShowProgress()
{
    ctx_.view->ShowProgress(ProgressText());
}
