#include "transport/waitservice.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
double gScale = 1.0;
TWaitService::TObserver gObserver;
} // namespace

void TWaitService::SetScale(double factor)
{
    gScale = factor > 0 && std::isfinite(factor) ? factor : 1.0;
}

double TWaitService::Scale()
{
    return gScale;
}

TWaitService::TObserver TWaitService::SetObserver(TObserver observer)
{
    TObserver previous = std::move(gObserver);
    gObserver = std::move(observer);
    return previous;
}

int TWaitService::Effective(int ms, const QString &purpose)
{
    if (gObserver)
        gObserver(ms, purpose);
    if (ms <= 0)
        return 0;
    return static_cast<int>(std::lround(ms * gScale));
}

// Shared with the waits on the stack, so that they can tell that the waiter is gone.
struct TWaiter::TState {
    bool cancelled = false;
    bool alive = true;
    std::vector<QEventLoop *> loops; // the Waits on the stack, innermost last
    std::unique_ptr<QTimer> pending; // the After timer
    bool firing = false; // inside the After callback (its timer must outlive the call)
};

TWaiter::TWaiter() : state_(std::make_shared<TState>()) { }

TWaiter::~TWaiter()
{
    state_->alive = false;
    Cancel();
}

bool TWaiter::Wait(int ms, const QString &purpose)
{
    const int effective = TWaitService::Effective(ms, purpose);
    const std::shared_ptr<TState> state = state_;
    if (state->cancelled)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&loop] { loop.exit(0); });
    timer.start(effective);
    state->loops.push_back(&loop);
    const int result = loop.exec();
    state->loops.erase(std::remove(state->loops.begin(), state->loops.end(), &loop), state->loops.end());
    return result == 0 && state->alive && !state->cancelled;
}

void TWaiter::After(int ms, std::function<void()> done, const QString &purpose)
{
    const int effective = TWaitService::Effective(ms, purpose);
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    std::weak_ptr<TState> weak = state_;
    QObject::connect(timer.get(), &QTimer::timeout, [weak, done = std::move(done)] {
        const std::shared_ptr<TState> state = weak.lock();
        if (!state || state->cancelled || !state->alive)
            return;
        // The timer owns this lambda: it must outlive the call, which may well start the next wait.
        std::unique_ptr<QTimer> self = std::move(state->pending);
        state->firing = true;
        done();
        state->firing = false;
        if (self)
            self.release()->deleteLater();
    });
    if (state_->cancelled)
        return;
    state_->pending = std::move(timer);
    state_->pending->start(effective);
}

void TWaiter::Cancel()
{
    state_->cancelled = true;
    if (state_->pending) {
        state_->pending->stop();
        if (state_->firing)
            state_->pending.release()->deleteLater();
        else
            state_->pending.reset();
    }
    for (QEventLoop *loop : state_->loops)
        loop->exit(1);
}

void TWaiter::Reset()
{
    state_->cancelled = false;
}

bool TWaiter::IsCancelled() const
{
    return state_->cancelled;
}

bool TWaiter::IsWaiting() const
{
    return !state_->loops.empty() || (state_->pending && state_->pending->isActive());
}
