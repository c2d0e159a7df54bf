#include "protocol/switchoff.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <optional>

#include "protocol/kestparametercontroller.h"
#include "transport/waitservice.h"

namespace {

// How often the end of an exchange that ends without telling anyone (a frame without an answer, stray
// bytes after a failure) is looked for. Not a prescribed wait, only a check.
constexpr int kDrainPollMs = 20;

} // namespace

QString TSwitchOffResult::Text() const
{
    if (confirmed)
        return QString();
    if (caption.isEmpty())
        return reason;
    return QStringLiteral("«%1»: %2").arg(caption, reason);
}

bool TSwitchOff::IsEchoOf(const TFrame &answer, const TFrame &cmd)
{
    if (answer.size < 6 || cmd.size < 6)
        return false;
    for (int i = 0; i < 6; ++i)
        if (answer.data[size_t(i)] != cmd.data[size_t(i)])
            return false;
    return true;
}

TSwitchOff::TSwitchOff(TComInterfaceWithCallback &engine, TCallBackObject &callback)
    : engine_(engine), callback_(callback)
{
    drainPoll_.setInterval(kDrainPollMs);
    QObject::connect(&drainPoll_, &QTimer::timeout, [this] { CheckDrained(); });
}

TSwitchOff::~TSwitchOff()
{
    *alive_ = false;
    Abort();
}

bool TSwitchOff::Begin(std::vector<TSwitchOffFrame> frames, TDone done)
{
    if (active_)
        return false;
    frames_ = std::move(frames);
    done_ = std::move(done);
    result_ = TSwitchOffResult();
    index_ = 0;
    active_ = true;
    saved_ = callback_;
    callback_.Callback = [this](const TFramePtr &answer) { OnAnswer(answer); };
    callback_.ShowError = [this](const std::exception &e) { OnError(QString::fromUtf8(e.what())); };
    // What was queued gives way; what is in flight is let end.
    engine_.CleaerQueue();
    if (!engine_.IsOpen()) {
        Fail(kPortClosed);
        Finish();
        return true;
    }
    if (engine_.IsWaiting()) {
        draining_ = true;
        drainPoll_.start();
        return true;
    }
    SendCurrent();
    return true;
}

TSwitchOffResult TSwitchOff::Run(std::vector<TSwitchOffFrame> frames, int maxMs)
{
    auto outcome = std::make_shared<std::optional<TSwitchOffResult>>();
    if (!Begin(std::move(frames), [outcome](const TSwitchOffResult &r) { *outcome = r; })) {
        TSwitchOffResult busy;
        busy.reason = QStringLiteral("выключение уже идёт");
        return busy;
    }
    const std::shared_ptr<bool> alive = alive_;
    QElapsedTimer elapsed;
    elapsed.start();
    TWaiter wait;
    while (!outcome->has_value() && elapsed.elapsed() < maxMs)
        if (!wait.Wait(kDrainPollMs, kWaitPurpose) || !*alive)
            break;
    if (outcome->has_value())
        return **outcome;
    TSwitchOffResult late = result_;
    if (*alive) {
        late.confirmed = false;
        if (late.failedFrame < 0) {
            late.failedFrame = int(std::min(index_, frames_.empty() ? size_t(0) : frames_.size() - 1));
            late.caption = frames_.empty() ? QString() : frames_[size_t(late.failedFrame)].caption;
            late.reason = QStringLiteral("нет ответа за %1 мс").arg(maxMs);
        }
        Abort();
    }
    return late;
}

void TSwitchOff::Abort()
{
    if (!active_)
        return;
    drainPoll_.stop();
    engine_.CleaerQueue();
    active_ = false;
    draining_ = false;
    done_ = nullptr;
    Restore();
}

void TSwitchOff::Restore()
{
    callback_.Callback = saved_.Callback;
    callback_.ShowError = saved_.ShowError;
    saved_ = TCallBackObject();
}

void TSwitchOff::CheckDrained()
{
    if (!active_ || !draining_)
        return;
    if (!engine_.IsOpen()) {
        draining_ = false;
        drainPoll_.stop();
        Fail(kPortClosed);
        Finish();
        return;
    }
    if (engine_.IsWaiting())
        return;
    draining_ = false;
    drainPoll_.stop();
    SendCurrent();
}

void TSwitchOff::SendCurrent()
{
    if (index_ >= frames_.size()) {
        Finish();
        return;
    }
    if (!engine_.IsOpen()) {
        Fail(kPortClosed);
        Finish();
        return;
    }
    engine_.CleaerQueue();
    engine_.AddCmd(frames_[index_].frame);
    // A write that fails at once reports through OnError before this returns.
    engine_.SendNextCmd();
}

bool TSwitchOff::EndOfWhatWasInFlight()
{
    if (!draining_)
        return false;
    // Answered or failed (a failure empties the engine's queue with it): the switch-off goes now.
    draining_ = false;
    drainPoll_.stop();
    SendCurrent();
    return true;
}

void TSwitchOff::OnAnswer(const TFramePtr &answer)
{
    if (!active_ || EndOfWhatWasInFlight())
        return;
    const TFramePtr &sent = frames_[index_].frame;
    if (!answer || !IsEchoOf(*answer, *sent))
        Fail(QStringLiteral("вместо подтверждения пришло «%1»")
                 .arg(answer ? QString::fromStdString(answer->ToHex()) : QString()));
    Next();
}

void TSwitchOff::OnError(const QString &text)
{
    if (!active_ || EndOfWhatWasInFlight())
        return;
    Fail(text);
    if (text == QString::fromUtf8(KestText::NoAnswer)) {
        // A silent installation: every further frame would only wait out its time-outs as well.
        Finish();
        return;
    }
    Next();
}

void TSwitchOff::Next()
{
    ++index_;
    SendCurrent();
}

void TSwitchOff::Fail(const QString &reason)
{
    if (result_.failedFrame >= 0 || !result_.reason.isEmpty())
        return; // the first failure is the one the user needs
    result_.failedFrame = index_ < frames_.size() ? int(index_) : -1;
    result_.caption = index_ < frames_.size() ? frames_[index_].caption : QString();
    result_.reason = reason;
}

void TSwitchOff::Finish()
{
    if (!active_)
        return;
    drainPoll_.stop();
    active_ = false;
    draining_ = false;
    engine_.CleaerQueue();
    result_.confirmed = result_.reason.isEmpty() && result_.failedFrame < 0;
    Restore();
    TDone done = std::move(done_);
    done_ = nullptr;
    const TSwitchOffResult result = result_;
    if (done)
        done(result);
}

// ---- the sequences ----

namespace {

void AddVoltageZero(
    std::vector<TSwitchOffFrame> &frames, const TKestCmdManager &cmd, const TKestConfiguration &configuration)
{
    TKestInputParamCmdController controller(&configuration, &cmd);
    TFramePtr voltage = controller.CreateCmdSendVoltageAccordingToConfiguration(0, 0, 0);
    if (controller.ChangeUFlag)
        frames.push_back({cmd.CreateCmdSetUOver300(controller.UOver300Flag), QStringLiteral("диапазон напряжения")});
    frames.push_back({voltage, QStringLiteral("напряжение 0")});
}

TSwitchOffFrame CurrentZero(const TKestCmdManager &cmd, const TKestConfiguration &configuration, bool optionIb)
{
    TKestInputParamCmdController controller(&configuration, &cmd);
    TToggleStates toggles(true, true, true);
    return {
        controller.CreateCmdSendAmperageAccordingToConfiguration(0, 0, 0, optionIb, toggles), QStringLiteral("ток 0")};
}

TSwitchOffFrame Release(const TKestCmdManager &cmd)
{
    return {cmd.CreateCmdDisableDistantControl(), QStringLiteral("отключение дистанционного управления")};
}

} // namespace

std::vector<TSwitchOffFrame> TSwitchOffSequence::Run(
    const TKestCmdManager &cmd, const TKestConfiguration &configuration, bool optionIb)
{
    std::vector<TSwitchOffFrame> frames;
    try {
        frames.push_back(CurrentZero(cmd, configuration, optionIb));
        AddVoltageZero(frames, cmd, configuration);
    } catch (const std::exception &) {
        // A configuration no zero frame can be built for: the release of remote control still goes.
        frames.clear();
    }
    frames.push_back(Release(cmd));
    return frames;
}

std::vector<TSwitchOffFrame> TSwitchOffSequence::Tuning(
    const TKestCmdManager &cmd, const TKestConfiguration &configuration, bool optionIb, double frequency)
{
    std::vector<TSwitchOffFrame> frames;
    AddVoltageZero(frames, cmd, configuration);
    TKestInputParamCmdController controller(&configuration, &cmd);
    frames.push_back({controller.CreateCmdSendFrequencyAccordingToConfiguration(frequency), QStringLiteral("частота")});
    frames.push_back({controller.CreateCmdSendAngleAccordingToConfiguration(0), QStringLiteral("угол 0")});
    frames.push_back(CurrentZero(cmd, configuration, optionIb));
    frames.push_back(Release(cmd));
    return frames;
}

std::vector<TSwitchOffFrame> TSwitchOffSequence::Disconnect(const TKestCmdManager &cmd)
{
    return {{cmd.CreateCmdOffAmplifiers(), QStringLiteral("выключение усилителей")}, Release(cmd)};
}

// ---- the ledger ----

namespace {

QString gLedgerFolder;
QSet<QString> gLedgerInMemory;

QString LedgerFile(const QString &port)
{
    // One file per port; the path's separators would make folders of it.
    QString name = port;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QDir(gLedgerFolder).filePath(QStringLiteral("outputs-on-") + name);
}

} // namespace

void TOutputsLedger::SetFolder(const QString &folder)
{
    gLedgerFolder = folder;
}

QString TOutputsLedger::Folder()
{
    return gLedgerFolder;
}

void TOutputsLedger::MarkOn(const QString &port)
{
    if (port.isEmpty())
        return;
    gLedgerInMemory.insert(port);
    if (gLedgerFolder.isEmpty())
        return;
    QDir().mkpath(gLedgerFolder);
    QSaveFile file(LedgerFile(port));
    if (file.open(QIODevice::WriteOnly)) {
        file.write((port + QLatin1Char('\n') + QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\n'))
                       .toUtf8());
        file.commit();
    }
}

void TOutputsLedger::MarkOff(const QString &port)
{
    gLedgerInMemory.remove(port);
    if (!gLedgerFolder.isEmpty())
        QFile::remove(LedgerFile(port));
}

bool TOutputsLedger::IsOn(const QString &port)
{
    if (port.isEmpty())
        return false;
    if (gLedgerFolder.isEmpty())
        return gLedgerInMemory.contains(port);
    return QFile::exists(LedgerFile(port));
}

QStringList TOutputsLedger::Ports()
{
    QStringList ports;
    if (gLedgerFolder.isEmpty()) {
        ports = QStringList(gLedgerInMemory.begin(), gLedgerInMemory.end());
    } else {
        const QStringList files
            = QDir(gLedgerFolder).entryList({QStringLiteral("outputs-on-*")}, QDir::Files, QDir::Name);
        for (const QString &f : files) {
            QFile file(QDir(gLedgerFolder).filePath(f));
            if (file.open(QIODevice::ReadOnly))
                ports << QString::fromUtf8(file.readLine()).trimmed();
        }
    }
    ports.sort();
    return ports;
}
