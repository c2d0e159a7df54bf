#pragma once
// Every wait of the program that lets the window go on working (the settling time of a test point, the
// analog input's 2000 ms, the range correction's 5000 ms, the tuning's settle times) goes through here,
// so that "Стоп" ends it at once, a closed window never returns into freed code, and tests can shorten
// the waits and check that each is asked for with its prescribed duration.
//
// Two forms: TWaiter::Wait runs a local event loop until the time is up (for code written as a sequence),
// TWaiter::After calls back when the time is up (for state machines driven by answers). Main thread only.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class TWaitService {
public:
    // Sees every wait as it is asked for: its prescribed duration and what it is for.
    using TObserver = std::function<void(int ms, const QString &purpose)>;

    // Waits last ms × factor (tests: 0.01 runs a 2000 ms wait in 20 ms). 1 by default.
    static void SetScale(double factor);
    static double Scale();
    // Installs an observer (an empty one removes it); returns the one it replaces.
    static TObserver SetObserver(TObserver observer);
    // The duration actually waited for a prescribed one, and tells the observer.
    static int Effective(int ms, const QString &purpose);
};

// Shortens the waits and records them for its lifetime (tests).
class TScopedWaitScale {
public:
    explicit TScopedWaitScale(double factor) : previous_(TWaitService::Scale()) { TWaitService::SetScale(factor); }
    ~TScopedWaitScale() { TWaitService::SetScale(previous_); }
    TScopedWaitScale(const TScopedWaitScale &) = delete;
    TScopedWaitScale &operator=(const TScopedWaitScale &) = delete;

private:
    double previous_;
};

class TWaiter {
public:
    TWaiter();
    ~TWaiter(); // cancels what is running; a Wait on the stack returns false, a pending After never fires
    TWaiter(const TWaiter &) = delete;
    TWaiter &operator=(const TWaiter &) = delete;

    // Waits ms while the event loop keeps running. True when the time ran out, false when Cancel() came
    // first (or had come before, since the last Reset) or the waiter was destroyed meanwhile; after
    // false the caller must not touch the object that owns the waiter until it knows that one is alive.
    bool Wait(int ms, const QString &purpose = QString());
    // Calls done once ms have passed, unless Cancel() or the waiter's end comes first. One at a time:
    // a new After replaces the pending one.
    void After(int ms, std::function<void()> done, const QString &purpose = QString());

    // Ends a running Wait (false) and drops a pending After; later waits end at once until Reset().
    void Cancel();
    void Reset();
    bool IsCancelled() const;
    bool IsWaiting() const;

private:
    struct TState;
    std::shared_ptr<TState> state_;
};
