// Range-control correction: the three kinds of step.

#include "presentation/aru_manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TParameters Reading(double i, double u)
{
    TParameters p;
    p.Ia.value = p.Ib.value = p.Ic.value = i;
    p.Ua.value = p.Ub.value = p.Uc.value = u;
    return p;
}

TEST(AruManager, CurrentStepConverges)
{
    TARU_Manager aru(Point(1.0, 0), Coefs(5, 100), 0.5f, false, false);
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
    TARU_Manager aru2(Point(0.1, 0), Coefs(5, 100), 1.0f, false, false);
    read.Ia.value = 0.05;
    EXPECT_TRUE(aru2.CorrectInputDataIfThereIsAruErrorI(read));
    EXPECT_EQ(aru2.currentInputData.Ia.value, 0.1 / 0.05 * double(0.1f));
}

TEST(AruManager, DeviationEqualToToleranceIsLeftAlone)
{
    // Binary-exact numbers, so that "equal" really is equal.
    TARU_Manager ratio(Point(1.25, 1.25), Coefs(5, 100), 25.0f, false, false);
    EXPECT_FALSE(ratio.CorrectInputDataIfThereIsAruErrorI(Reading(1.0, 0)));     // 1,25/1 − 1 = 0,25
    EXPECT_FALSE(ratio.CorrectInputDataIfThereIsAruErrorU(Reading(0, 1.0)));
    EXPECT_TRUE(ratio.CorrectInputDataIfThereIsAruErrorI(Reading(0.75, 0)));

    // QX4 kind: |target − read| / full scale, the full scale of a current being I2.
    TARU_Manager qx4(Point(5.0, 0), Coefs(5, 100), 10.0f, true, false);
    TParameters read = Reading(4.5, 0); // 0,5 / 5 = 0,1
    EXPECT_FALSE(qx4.CorrectInputDataIfThereIsAruErrorQX4(read));
    read.Ic.value = 4.4;
    EXPECT_TRUE(qx4.CorrectInputDataIfThereIsAruErrorQX4(read));
    EXPECT_EQ(qx4.currentInputData.Ia.value, 5.0);
    EXPECT_DOUBLE_EQ(qx4.currentInputData.Ic.value, 5.0 / 4.4 * 5.0);
}

TEST(AruManager, VoltageStepAndThe300VoltBoundary)
{
    struct Case { double readUa; bool ucCorrected; } cases[] = {{300.0, false}, {300.1, true}, {250, false}};
    for (const Case &c : cases) {
        TARU_Manager aru(Point(0, 400), Coefs(5, 400), 1.0f, false, false);
        TParameters read = Reading(0, 0);
        read.Ua.value = c.readUa;
        read.Uc.value = 380;
        EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorU(read)) << c.readUa;
        EXPECT_NE(aru.currentInputData.Ua.value, 400.0) << c.readUa;
        EXPECT_EQ(aru.currentInputData.Uc.value != 400.0, c.ucCorrected) << c.readUa;
        EXPECT_EQ(aru.currentInputData.Ub.value, 400.0) << c.readUa;
    }
    // Ua on target, Uc off: only Uc is corrected, and that alone makes the step return true.
    TARU_Manager aru(Point(0, 400), Coefs(5, 400), 1.0f, false, false);
    TParameters read = Reading(0, 400);
    read.Uc.value = 390;
    EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorU(read));
    EXPECT_EQ(aru.currentInputData.Ua.value, 400.0);
    EXPECT_DOUBLE_EQ(aru.currentInputData.Uc.value, 400.0 / 390 * 400);
}

TEST(AruManager, Qx4StepOverEveryPhase)
{
    // Every phase 2 % low: all are corrected, Ib only when it is in use.
    struct Case { bool optionIb, fourWire, ibCorrected; } cases[] = {
        {false, false, false}, {true, false, true}, {false, true, true}, {true, true, true},
    };
    const double u = 100 / std::sqrt(3.0);
    for (const Case &c : cases) {
        TARU_Manager aru(Point(5, u), Coefs(5, 100), 1.0f, c.optionIb, c.fourWire);
        EXPECT_TRUE(aru.CorrectInputDataIfThereIsAruErrorQX4(Reading(4.9, 0.98 * u)));
        const TInputData &cur = aru.currentInputData;
        EXPECT_DOUBLE_EQ(cur.Ia.value, 5 / 4.9 * 5);
        EXPECT_DOUBLE_EQ(cur.Ic.value, 5 / 4.9 * 5);
        EXPECT_EQ(cur.Ib.value != 5.0, c.ibCorrected) << c.optionIb << c.fourWire;
        for (const TParameter *v : {&cur.Ua, &cur.Ub, &cur.Uc})
            EXPECT_DOUBLE_EQ(v->value, u / (0.98 * u) * u);
    }
    // Ib far off is still skipped when not in use, and then nothing else needs correcting.
    TARU_Manager aru(Point(5, 100), Coefs(5, 100), 1.0f, false, false);
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
        TARU_Manager aru(Point(1, 100), Coefs(5, 100), 1.0f, true, true);
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorI(Reading(bad, 0))) << bad;
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorU(Reading(0, bad))) << bad;
        EXPECT_FALSE(aru.CorrectInputDataIfThereIsAruErrorQX4(Reading(bad, bad))) << bad;
        const TInputData &cur = aru.currentInputData;
        for (const TParameter *v : {&cur.Ia, &cur.Ib, &cur.Ic, &cur.Ua, &cur.Ub, &cur.Uc})
            EXPECT_TRUE(std::isfinite(v->value) && (v->value == 1 || v->value == 100)) << bad;
    }
    // One phase unreadable, another off: only the other is corrected.
    TARU_Manager aru(Point(1, 100), Coefs(5, 100), 1.0f, false, false);
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
    TARU_Manager noScale(Point(1, 100), Coefs(0, 0), 1.0f, true, true);
    EXPECT_FALSE(noScale.CorrectInputDataIfThereIsAruErrorQX4(Reading(0.5, 50)));
}

} // namespace
