#pragma once
// The one switch-off of the installation's outputs, used by every window and by kestctl.
//
// Each caller keeps its own sequence of frames (zero current, zero voltage, amplifiers off, release of
// remote control…); this class only decides how they are sent and when they count as done:
// - an exchange still in flight is let end first (answered or failed), so that every answer from then
//   on belongs to a frame of the switch-off and nothing queued behind a dying request is lost;
// - the frames go one at a time, each after the previous one's answer;
// - a frame counts as confirmed only when the installation's echo of that very frame comes back;
//   silence is re-sent by the engine as for any request;
// - a frame answered wrongly (an exception, something that is not its echo) does not stop the rest —
//   the remaining frames may still take the voltage off; a silent installation does, since every further
//   frame would only wait out its time-outs too;
// - the result says "confirmed" or exactly which frame failed and why.
//
// While it runs it holds the engine's handlers (the owner's are put back before it reports), so the
// owner's answer dispatch never sees a switch-off answer. It must be destroyed before the callback
// object it was given.

#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "protocol/kestcmdmanager.h"
#include "transport/cominterfacewithcallback.h"

struct TSwitchOffFrame {
    TFramePtr frame;
    QString caption; // how the user is told which frame failed: "ток 0", "напряжение 0", …
};

struct TSwitchOffResult {
    bool confirmed = false;
    int failedFrame = -1; // index into the sequence of the first frame not confirmed
    QString caption; // that frame's caption
    QString reason; // why: the engine's text, or what came back instead of the echo
    // "" when confirmed, otherwise "«ток 0»: Нет ответа".
    QString Text() const;
};

class TSwitchOff {
public:
    using TDone = std::function<void(const TSwitchOffResult &)>;
    static inline const QString kWaitPurpose = QStringLiteral("Выключение");
    static inline const QString kPortClosed = QStringLiteral("порт установки закрыт");

    TSwitchOff(TComInterfaceWithCallback &engine, TCallBackObject &callback);
    ~TSwitchOff();
    TSwitchOff(const TSwitchOff &) = delete;
    TSwitchOff &operator=(const TSwitchOff &) = delete;

    // Starts the switch-off; `done` is called once, with the owner's handlers already back in place
    // (possibly before Begin returns, when the port is closed or every frame fails at once). False, with
    // nothing done, while one is running already.
    bool Begin(std::vector<TSwitchOffFrame> frames, TDone done);
    // The same, keeping the event loop running until the outcome or maxMs (then it gives up with
    // "нет ответа за N мс"; the caller closes the port). For closing a window and for kestctl.
    TSwitchOffResult Run(std::vector<TSwitchOffFrame> frames, int maxMs);
    bool IsActive() const { return active_; }
    // Drops a running switch-off without a report; the owner's handlers are put back.
    void Abort();

    // The answer to a write repeats the request's first six bytes (all of a single-register write).
    static bool IsEchoOf(const TFrame &answer, const TFrame &cmd);

private:
    void OnAnswer(const TFramePtr &answer);
    void OnError(const QString &text);
    void CheckDrained();
    // True when the report belonged to the exchange that was in flight at the start.
    bool EndOfWhatWasInFlight();
    void SendCurrent();
    void Next();
    void Fail(const QString &reason);
    void Finish();
    void Restore();

    TComInterfaceWithCallback &engine_;
    TCallBackObject &callback_;
    TCallBackObject saved_;
    QTimer drainPoll_;
    std::vector<TSwitchOffFrame> frames_;
    TDone done_;
    TSwitchOffResult result_;
    size_t index_ = 0;
    bool active_ = false;
    bool draining_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The sequences, each a window's own, written here once so that every switch-off of the program is
// found in one place.
struct TSwitchOffSequence {
    // A verification run's end: zero current, zero voltage, remote control released.
    static std::vector<TSwitchOffFrame> Run(
        const TKestCmdManager &cmd, const TKestConfiguration &configuration, bool optionIb);
    // The tuning's zero output (voltage 0, its frequency, angle 0°, current 0), then remote control
    // released: the tuning took it at its start and leaves nothing behind.
    static std::vector<TSwitchOffFrame> Tuning(
        const TKestCmdManager &cmd, const TKestConfiguration &configuration, bool optionIb, double frequency);
    // The main window's disconnect and kestctl: amplifiers off, remote control released.
    static std::vector<TSwitchOffFrame> Disconnect(const TKestCmdManager &cmd);
};

// Ports whose installation may still be delivering: marked before remote control is taken, cleared by a
// confirmed switch-off. Kept as files in one folder (beside the settings file) so that a program killed
// mid-run, or a switch-off the installation never confirmed, is made good by the next program — window
// or kestctl — that takes that port; without a folder it lives in this process only.
class TOutputsLedger {
public:
    static void SetFolder(const QString &folder);
    static QString Folder();
    static void MarkOn(const QString &port);
    static void MarkOff(const QString &port);
    static bool IsOn(const QString &port);
    static QStringList Ports();
};
