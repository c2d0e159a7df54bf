// Several listeners of one change: each told once per change, in the order added, for as long as
// its subscription lives, also when listeners come and go while they are being told.

#include "protocol/listeners.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

TEST(Listeners, EachToldWhileItsSubscriptionLives)
{
    TListeners<int> source;
    std::string told;
    auto a = source.Add([&](int v) { told += "a" + std::to_string(v); });
    TListeners<int>::TSubscription b = source.Add([&](int v) { told += "b" + std::to_string(v); });
    source.Notify(1);
    EXPECT_EQ(told, "a1b1");

    // Moved: still told once; the moved-from one removes nothing.
    TListeners<int>::TSubscription moved = std::move(b);
    b.Reset();
    told.clear();
    source.Notify(2);
    EXPECT_EQ(told, "a2b2");

    moved.Reset();
    told.clear();
    source.Notify(3);
    EXPECT_EQ(told, "a3");

    // A listener that removes another one told later in the same round: that one is not told; one
    // added during the round is told from the next round on.
    TListeners<int>::TSubscription c, d, added;
    c = source.Add([&](int v) {
        told += "c" + std::to_string(v);
        d.Reset();
        if (!added.Empty())
            return;
        added = source.Add([&](int w) { told += "n" + std::to_string(w); });
    });
    d = source.Add([&](int v) { told += "d" + std::to_string(v); });
    told.clear();
    source.Notify(4);
    EXPECT_EQ(told, "a4c4");
    told.clear();
    source.Notify(5);
    EXPECT_EQ(told, "a5c5n5");
}

TEST(Listeners, SourceGoneFirstOrDuringTheRound)
{
    TListeners<>::TSubscription kept;
    {
        TListeners<> source;
        kept = source.Add([] {});
    }
    kept.Reset(); // the source is gone: nothing to remove, nothing touched

    auto source = std::make_unique<TListeners<>>();
    int told = 0;
    TListeners<>::TSubscription first = source->Add([&] {
        ++told;
        source.reset(); // the object that tells is destroyed by its own listener
    });
    TListeners<>::TSubscription second = source->Add([&] { ++told; });
    source->Notify();
    EXPECT_EQ(told, 2) << "the round ends with those it began with";
    first.Reset();
    second.Reset();
}
