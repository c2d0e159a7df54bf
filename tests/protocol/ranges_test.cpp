// The range tables: every enumerator has its own row, captions go one way and come back only from
// stored texts, and the "smallest range that holds" rule at its edges.

#include "protocol/ranges.h"

#include <QStringList>

#include <gtest/gtest.h>

TEST(Ranges, EveryEnumeratorHasItsRowAndCaption)
{
    QStringList seen;
    for (const TCurrentRangeRow &r : CurrentRanges()) {
        EXPECT_EQ(&RangeRow(r.range), &r);
        EXPECT_EQ(CurrentRangeFromCaption(Caption(r.range)), r.range);
        seen << Caption(r.range);
    }
    EXPECT_EQ(seen, QStringList({"1", "5", "0,5", "2,5"})) << "the order of the buttons";
    seen.clear();
    for (const TVoltageRangeRow &r : VoltageRanges()) {
        EXPECT_EQ(&RangeRow(r.range), &r);
        EXPECT_EQ(VoltageRangeFromCaption(Caption(r.range)), r.range);
        seen << Caption(r.range);
    }
    EXPECT_EQ(seen, QStringList({"100", "380", "400"}));
    seen.clear();
    for (const TURangeRow &r : URanges()) {
        EXPECT_EQ(&RangeRow(r.range), &r);
        EXPECT_EQ(URangeFromIndex(URangeIndex(r.range)), r.range);
        seen << Caption(r.range);
    }
    EXPECT_EQ(seen, QStringList({"0..125", "75..125", "0..250", "0..400", "0..500"}));

    // What the installation is sent for each.
    EXPECT_DOUBLE_EQ(RangeRow(TCurrentRange::A0_5).amperes, 0.5);
    EXPECT_DOUBLE_EQ(RangeRow(TCurrentRange::A2_5).amperes, 2.5);
    EXPECT_TRUE(RangeRow(TCurrentRange::A5).fiveAmpOutput);
    EXPECT_FALSE(RangeRow(TCurrentRange::A2_5).fiveAmpOutput);
    EXPECT_EQ(RangeRow(TVoltageRange::V400).volts, 400);
    EXPECT_FALSE(RangeRow(TVoltageRange::V100).high);
    EXPECT_TRUE(RangeRow(TVoltageRange::V380).high);
    EXPECT_FALSE(RangeRow(TURange::R0_400).high);
    EXPECT_TRUE(RangeRow(TURange::R0_500).high);
    EXPECT_DOUBLE_EQ(RangeRow(TURange::R75_125).top, 125);

    // Stored and typed texts that are no caption.
    for (const char *bad : {"", "0.5", "5A", "2,50", "500", "1 "}) {
        if (QString(bad) == "1 ")
            EXPECT_EQ(CurrentRangeFromCaption(bad), TCurrentRange::A1) << "blanks around are tolerated";
        else
            EXPECT_FALSE(CurrentRangeFromCaption(bad)) << bad;
    }
    EXPECT_FALSE(VoltageRangeFromCaption("220"));
    EXPECT_FALSE(URangeFromIndex(-1));
    EXPECT_FALSE(URangeFromIndex(5));
}

TEST(Ranges, SmallestRangeThatHolds)
{
    const struct {
        double amperes;
        std::optional<TCurrentRange> range;
    } currents[] = {
        {0, TCurrentRange::A0_5},
        {0.5, TCurrentRange::A0_5},
        {0.5001, TCurrentRange::A1},
        {1, TCurrentRange::A1},
        {2.5, TCurrentRange::A2_5},
        {2.6, TCurrentRange::A5},
        {5, TCurrentRange::A5},
        {5.0001, std::nullopt},
    };
    for (const auto &c : currents)
        EXPECT_EQ(CurrentRangeHolding(c.amperes), c.range) << c.amperes;
    const struct {
        double volts;
        std::optional<TVoltageRange> range;
    } voltages[] = {
        {57.74, TVoltageRange::V100},
        {100, TVoltageRange::V100},
        {100.01, TVoltageRange::V380},
        {380, TVoltageRange::V380},
        {400, TVoltageRange::V400},
        {400.5, std::nullopt},
    };
    for (const auto &v : voltages)
        EXPECT_EQ(VoltageRangeHolding(v.volts), v.range) << v.volts;
}
