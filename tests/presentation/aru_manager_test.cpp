// Range-control correction: the three kinds of step.

#include "presentation/aru_manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

TInputData Point(double i, double u)
{
    TInputData d;
    d.Ia.value = d.Ib.value = d.Ic.value = i;
    d.Ua.value = d.Ub.value = d.Uc.value = u;
    return d;
}

TTransfCoefs Coefs(double I2, double U2)
{
    TTransfCoefs c;
    c.I1 = c.I2 = I2;
    c.U1 = c.U2 = U2;
    return c;
}

// Far beyond any value these cases send: the steps as they are without a bound.
const TAruLimits kWide{1e6, 1e6};

TParameters Reading(double i, double u)
{
    TParameters p;
    p.Ia.value = p.Ib.value = p.Ic.value = i;
    p.Ua.value = p.Ub.value = p.Uc.value = u;
    return p;
}

TEST(AruManager, CurrentStepConverges)
{
    TARU_Manager aru(Point(1.0, 0), Coefs(5, 100), 0.5f, false, false, kWide);
    TParameters read = Reading(0.990, 0);
    EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorI(read));
    EXPECT_NEAR(aru.currentInputData.Ia.value, 1.0101, 5e-5);
    EXPECT_EQ(aru.initialInputData.Ia.value, 1.0);
    EXPECT_EQ(aru.currentInputData.Ib.value, 1.0) << "only phase A";

    read.Ia.value = 1.001;
    EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorI(read));
    EXPECT_NEAR(aru.currentInputData.Ia.value, 1.0101, 5e-5) << "within tolerance: nothing changes";

    // A reading exactly on target stops the correction though what is sent differs from the target.
    read.Ia.value = 1.0;
    EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorI(read));
    EXPECT_NE(aru.currentInputData.Ia.value, aru.initialInputData.Ia.value);

    // The current value goes through single precision before it is scaled.
    TARU_Manager aru2(Point(0.1, 0), Coefs(5, 100), 1.0f, false, false, kWide);
    read.Ia.value = 0.05;
    EXPECT_TRUE(aru2.CorrectInputDataIfThereIsAruErrorI(read));
    EXPECT_EQ(aru2.currentInputData.Ia.value, 0.1 / 0.05 * double(0.1f));
}

TEST(AruManager, DeviationEqualToToleranceIsLeftAlone)
{
    // Binary-exact numbers, so that "equal" really is equal.
    TARU_Manager ratio(Point(1.25, 1.25), Coefs(5, 100), 25.0f, false, false, kWide);
    EXPECT_FALSE(ratio.CorrectInputDataIfThereIsAruErrorI(Reading(1.0, 0))); // 1,25/1 − 1 = 0,25
    EXPECT_FALSE(ratio.CorrectInputDataIfThereIsAruErrorU(Reading(0, 1.0)));
    EXPECT_TRUE(ratio.CorrectInputDataIfThereIsAruErrorI(Reading(0.75, 0)));

    // QX4 kind: |target − read| / full scale, the full scale of a current being I2.
    TARU_Manager qx4(Point(5.0, 0), Coefs(5, 100), 10.0f, true, false, kWide);
    TParameters read = Reading(4.5, 0); // 0,5 / 5 = 0,1
    EXPECT_FALSE(qx4.CorrectInputDataIfThereIsAruErrorQX4(read));
    read.Ic.value = 4.4;
    EXPECT_TRUE(qx4.CorrectInputDataIfThereIsAruErrorQX4(read));
    EXPECT_EQ(qx4.currentInputData.Ia.value, 5.0);
    EXPECT_DOUBLE_EQ(qx4.currentInputData.Ic.value, 5.0 / 4.4 * 5.0);
}

TEST(AruManager, VoltageStepAndThe300VoltBoundary)
{
    struct Case {
        double readUa;
        bool ucCorrected;
    } cases[] = {{300.0, false}, {300.1, true}, {250, false}};
    for (const Case &c : cases) {
        TARU_Manager aru(Point(0, 400), Coefs(5, 400), 1.0f, false, false, kWide);
        TParameters read = Reading(0, 0);
        read.Ua.value = c.readUa;
        read.Uc.value = 380;
        EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorU(read)) << c.readUa;
        EXPECT_NE(aru.currentInputData.Ua.value, 400.0) << c.readUa;
        EXPECT_EQ(aru.currentInputData.Uc.value != 400.0, c.ucCorrected) << c.readUa;
        EXPECT_EQ(aru.currentInputData.Ub.value, 400.0) << c.readUa;
    }
    // Ua on target, Uc off: only Uc is corrected, and that alone makes the step return true.
    TARU_Manager aru(Point(0, 400), Coefs(5, 400), 1.0f, false, false, kWide);
    TParameters read = Reading(0, 400);
    read.Uc.value = 390;
    EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorU(read));
    EXPECT_EQ(aru.currentInputData.Ua.value, 400.0);
    EXPECT_DOUBLE_EQ(aru.currentInputData.Uc.value, 400.0 / 390 * 400);
}

TEST(AruManager, Qx4StepOverEveryPhase)
{
    // Every phase 2 % low: all are corrected, Ib only when it is in use.
    struct Case {
        bool optionIb, fourWire, ibCorrected;
    } cases[] = {
        {false, false, false},
        {true, false, true},
        {false, true, true},
        {true, true, true},
    };
    const double u = 100 / std::sqrt(3.0);
    for (const Case &c : cases) {
        TARU_Manager aru(Point(5, u), Coefs(5, 100), 1.0f, c.optionIb, c.fourWire, kWide);
        EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorQX4(Reading(4.9, 0.98 * u)));
        const TInputData &cur = aru.currentInputData;
        EXPECT_DOUBLE_EQ(cur.Ia.value, 5 / 4.9 * 5);
        EXPECT_DOUBLE_EQ(cur.Ic.value, 5 / 4.9 * 5);
        EXPECT_EQ(cur.Ib.value != 5.0, c.ibCorrected) << c.optionIb << c.fourWire;
        for (const TParameter *v : {&cur.Ua, &cur.Ub, &cur.Uc})
            EXPECT_DOUBLE_EQ(v->value, u / (0.98 * u) * u);
    }
    // Ib far off is still skipped when not in use, and then nothing else needs correcting.
    TARU_Manager aru(Point(5, 100), Coefs(5, 100), 1.0f, false, false, kWide);
    TParameters read = Reading(5, 100);
    read.Ib.value = 1;
    EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorQX4(read));
    // Phase voltages are judged against the phase full scale U2/√3: 0,5 V of 57,7 V is under 1 %.
    read.Ua.value = 99.5;
    EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorQX4(read));
    read.Ua.value = 99.4;
    EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorQX4(read));
}

TEST(AruManager, UnusableReadingsLeaveTheirQuantityAlone)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {0.0, -0.0, nan, inf}) {
        TARU_Manager aru(Point(1, 100), Coefs(5, 100), 1.0f, true, true, kWide);
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorI(Reading(bad, 0))) << bad;
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorU(Reading(0, bad))) << bad;
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorQX4(Reading(bad, bad))) << bad;
        const TInputData &cur = aru.currentInputData;
        for (const TParameter *v : {&cur.Ia, &cur.Ib, &cur.Ic, &cur.Ua, &cur.Ub, &cur.Uc})
            EXPECT_TRUE(std::isfinite(v->value) && (v->value == 1 || v->value == 100)) << bad;
    }
    // One phase unreadable, another off: only the other is corrected.
    TARU_Manager aru(Point(1, 100), Coefs(5, 100), 1.0f, false, false, kWide);
    TParameters read = Reading(1, 100);
    read.Ia.value = 0;
    read.Ic.isDataCorrect = false;
    read.Ic.value = 0.5;
    read.Ua.value = 90;
    EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorQX4(read));
    EXPECT_EQ(aru.currentInputData.Ia.value, 1.0);
    EXPECT_EQ(aru.currentInputData.Ic.value, 1.0);
    EXPECT_DOUBLE_EQ(aru.currentInputData.Ua.value, 100.0 / 90 * 100);

    // No full scale (coefficients not read yet): nothing can be judged.
    TARU_Manager noScale(Point(1, 100), Coefs(0, 0), 1.0f, true, true, kWide);
    EXPECT_FALSE(noScale.CorrectInputDataIfThereIsAruErrorQX4(Reading(0.5, 50)));
}

// However far off the transducer reads, what is sent next stays within [0, limit] of its range: a
// reading ten times too low (or one that makes the ratio huge, or negative) pins the value at the
// limit (or at zero), and a value held there is not reported as corrected again; unusable readings
// change nothing.
TEST(AruManager, CorrectionsStayWithinTheEntryLimits)
{
    const TAruLimits limits{5, 250};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    using TStep = bool (TARU_Manager::*)(const TParameters &);
    struct Kind {
        const char *name;
        TStep step;
        std::vector<TParameter TInputData::*> moved; // what the step corrects (read Ua stays under 300 V)
    } kinds[] = {
        {"QX4", &TARU_Manager::CorrectInputDataIfThereIsAruErrorQX4,
            {&TInputData::Ia, &TInputData::Ib, &TInputData::Ic, &TInputData::Ua, &TInputData::Ub, &TInputData::Uc}},
        {"I", &TARU_Manager::CorrectInputDataIfThereIsAruErrorI, {&TInputData::Ia}},
        {"U", &TARU_Manager::CorrectInputDataIfThereIsAruErrorU, {&TInputData::Ua}},
    };
    struct Row {
        double readFactor; // reading = target × factor
        bool targetAtLimit;
        int corrections; // steps that report a correction, of ten
        double pinnedAt; // where the moved values end: the limit (1) or zero (0); -1 for the target
    } rows[] = {
        {0.1, false, 1, 1}, // ten times too low: up to the limit, and no further
        {1e-300, false, 1, 1}, // a ratio beyond any range
        {0.1, true, 0, -1}, // already at the limit: stays, nothing to send
        {-0.1, false, 1, 0}, // reversed: never below zero
        {0.0, false, 0, -1},
        {nan, true, 0, -1},
    };
    const auto limitOf = [&](const TParameter TInputData::*q) {
        const bool current = q == &TInputData::Ia || q == &TInputData::Ib || q == &TInputData::Ic;
        return current ? limits.maxCurrent : limits.maxVoltage;
    };
    const TParameter TInputData::*all[]
        = {&TInputData::Ia, &TInputData::Ib, &TInputData::Ic, &TInputData::Ua, &TInputData::Ub, &TInputData::Uc};
    for (const Kind &k : kinds) {
        for (const Row &r : rows) {
            SCOPED_TRACE(
                std::string(k.name) + " factor " + std::to_string(r.readFactor) + (r.targetAtLimit ? " at limit" : ""));
            const double i = r.targetAtLimit ? limits.maxCurrent : 1;
            const double u = r.targetAtLimit ? limits.maxVoltage : 100;
            TARU_Manager aru(Point(i, u), Coefs(5, 100), 1.0f, true, true, limits);
            int corrections = 0;
            for (int repeat = 0; repeat < 10; ++repeat) { // as often as the callers repeat a step
                corrections += (aru.*k.step)(Reading(i * r.readFactor, u * r.readFactor)) ? 1 : 0;
                for (const auto q : all) {
                    const double v = (aru.currentInputData.*q).value;
                    EXPECT_TRUE(v >= 0 && v <= limitOf(q)) << v;
                }
            }
            EXPECT_EQ(corrections, r.corrections);
            for (const auto q : k.moved) {
                const double expected = r.pinnedAt < 0 ? (aru.initialInputData.*q).value : r.pinnedAt * limitOf(q);
                EXPECT_EQ((aru.currentInputData.*q).value, expected);
            }
        }
    }
}

} // namespace
