// The waiting service: waits end on time or at once on a cancel, never call back into a waiter that is
// gone, and tests can shorten them and see what was asked for.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "transport/waitservice.h"

namespace {

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

TEST(WaitService, WaitsRunOutCancelAndSurviveTheirOwner)
{
    std::vector<std::pair<int, QString>> asked;
    TWaitService::SetObserver([&](int ms, const QString &why) { asked.emplace_back(ms, why); });
    TScopedWaitScale scale(0.05);

    TWaiter waiter;
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(waiter.Wait(2000, QStringLiteral("analog"))); // 100 ms at this scale
    EXPECT_GE(t.elapsed(), 90);
    EXPECT_LT(t.elapsed(), 1500);

    // Cancelled from an event during the wait: it ends at once, and the next one does not start.
    QTimer::singleShot(20, [&] { waiter.Cancel(); });
    t.restart();
    EXPECT_FALSE(waiter.Wait(100000));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(waiter.IsCancelled());
    EXPECT_FALSE(waiter.Wait(10));
    waiter.Reset();
    EXPECT_TRUE(waiter.Wait(10));

    // The owner destroyed while its wait is on the stack.
    auto owned = std::make_unique<TWaiter>();
    QTimer::singleShot(20, [&] { owned.reset(); });
    EXPECT_FALSE(owned->Wait(100000));

    TWaitService::SetObserver({});
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked[0], std::make_pair(2000, QStringLiteral("analog")));
    EXPECT_EQ(asked[1].first, 100000);
}

TEST(WaitService, AfterFiresOnceAndIsDroppedByCancelOrDestruction)
{
    TScopedWaitScale scale(0.01);
    int fired = 0;
    {
        TWaiter waiter;
        waiter.After(1000, [&] { ++fired; });
        EXPECT_TRUE(waiter.IsWaiting());
        Pump(200);
        EXPECT_EQ(fired, 1);
        EXPECT_FALSE(waiter.IsWaiting());

        // A callback that starts the next wait (the way a state machine goes on).
        waiter.After(1000, [&] {
            ++fired;
            waiter.After(1000, [&] { fired += 10; });
        });
        Pump(300);
        EXPECT_EQ(fired, 12);

        waiter.After(1000, [&] { fired += 100; });
        waiter.Cancel();
        Pump(100);
        EXPECT_EQ(fired, 12);
        waiter.Reset();
        waiter.After(1000, [&] { fired += 1000; });
    }
    Pump(100); // the waiter went away before its time: nothing fires
    EXPECT_EQ(fired, 12);
}
