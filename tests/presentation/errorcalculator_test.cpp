// Digital and analog errors of every variant.

#include "presentation/configurationrow.h"
#include "presentation/errorcalculator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double r3 = std::sqrt(3.0);

TKestConfiguration Kest(double amperageMax, int voltageMax, int rangeNum)
{
    TKestConfiguration k;
    k.AmperageMax = amperageMax;
    k.VoltageMax = voltageMax;
    k.AmperageRangeNum = uint8_t(rangeNum);
    return k;
}

// The voltage transducer's window: the range of "Диапазон" in force, the hidden voltage selection at 380 V.
TKestConfiguration KestU(int uRange, int rangeNum = 1)
{
    TKestConfiguration k = Kest(5, 380, rangeNum);
    k.ConfigurationName = QStringLiteral("U");
    k.URangeIndex = uint8_t(uRange);
    return k;
}

TDeviceInfo Device(double scale, double I1 = 5, double I2 = 5, double U1 = 100, double U2 = 100)
{
    TDeviceInfo d;
    d.Scale = scale;
    d.transfCoefs.I1 = I1;
    d.transfCoefs.I2 = I2;
    d.transfCoefs.U1 = U1;
    d.transfCoefs.U2 = U2;
    return d;
}

TEST(ErrorCalculator, VariantPerConfiguration)
{
    struct Case {
        const char *name;
        const std::type_info *type;
    } cases[] = {
        {"I", &typeid(TErrorCalculatorI)},
        {"U", &typeid(TErrorCalculatorU)},
        {"F", &typeid(TErrorCalculatorF)},
        {"P", &typeid(TErrorCalculatorPQ)},
        {"Q", &typeid(TErrorCalculatorPQ)},
        {"PQ", &typeid(TErrorCalculatorPQ)},
        {"QX4", &typeid(TErrorCalculatorQX4)},
        {"QX4E", &typeid(TErrorCalculatorQX4)},
    };
    for (const Case &c : cases) {
        const std::optional<TConfigurationCode> code = ConfigurationFromName(QString::fromLatin1(c.name));
        ASSERT_TRUE(code) << c.name;
        // The row found for a code is that code's: the table stands in code order.
        EXPECT_EQ(ConfigurationRow(*code).code, *code) << c.name;
        auto calc = ConfigurationRow(*code).makeCalculator();
        ASSERT_TRUE(calc) << c.name;
        EXPECT_EQ(typeid(*calc), *c.type) << c.name;
    }
    EXPECT_FALSE(ConfigurationFromName(QStringLiteral("qx4")));
    EXPECT_FALSE(ConfigurationFromName(QString()));
}

TEST(ErrorCalculator, DigitalErrors)
{
    const TErrorCalculatorI i;
    const TErrorCalculatorU u;
    const TErrorCalculatorF f;
    const TErrorCalculatorPQ pq;
    const TErrorCalculatorQX4 qx4;
    struct Case {
        const char *what;
        const TErrorCalculator *calc;
        int param;
        TDeviceInfo dev;
        TKestConfiguration kest;
        double value, valueRs, expected;
    } cases[] = {
        // I: transducer full scale Scale, installation full scale AmperageMax.
        {"I", &i, 4, Device(5), Kest(5, 100, 0), 2.5, 2.51, 0.2},
        {"I other ranges", &i, 4, Device(1), Kest(0.5, 100, 0), 0.25, 0.5, 0.0},
        // U: against the top of the range in force, whatever the hidden voltage selection says.
        {"U 0..125", &u, 1, Device(125), KestU(0), 100, 100, 0},
        {"U 75..125", &u, 1, Device(125), KestU(1), 120, 119.75, -0.2},
        {"U 0..250", &u, 1, Device(250), KestU(2), 250, 250.5, 0.2},
        {"U 0..400", &u, 1, Device(400), KestU(3), 200, 199.2, -0.2},
        {"U 0..500", &u, 1, Device(500), KestU(4), 300, 300, 0},
        {"U 0..500 near the top", &u, 1, Device(500), KestU(4), 600, 601, 0.2},
        // PQ: against AmperageMax · VoltageMax · √3.
        {"PQ", &pq, 22, Device(1000), Kest(5, 100, 0), 5 * 100 * r3 / 2, 501, 0.1},
        {"PQ signed", &pq, 22, Device(1000), Kest(5, 100, 0), -5 * 100 * r3 / 2, -499, 0.1},
        // F and QX4: primary against secondary full scale of the parameter itself.
        {"QX4 line voltage", &qx4, 7, Device(0, 5, 5, 10000, 100), Kest(5, 100, 0), 50, 5010, 0.1},
        {"QX4 current", &qx4, 4, Device(0, 1000, 5, 100, 100), Kest(5, 100, 0), 2.5, 499, -0.1},
        {"F frequency", &f, 26, Device(0), Kest(5, 100, 0), 50, 50.025, 0.05},
        // Beyond ±100 % the error is rounded to a whole number; within, it is not.
        {"above 100", &i, 4, Device(5), Kest(5, 100, 0), 0, 6.18, 124},
        {"below -100", &i, 4, Device(5), Kest(5, 100, 0), 6.18, 0, -124},
        {"just below 100", &i, 4, Device(5), Kest(5, 100, 0), 0, 4.998, 99.96},
        {"rounding down", &u, 1, Device(100), Kest(1, 100, 0), 0, 100.4, 100},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(c.calc->CalculateError(c.param, c.dev, c.kest, c.value, c.valueRs), c.expected, 1e-9) << c.what;

    // Exactly whole after rounding (not merely close).
    EXPECT_EQ(i.CalculateError(4, Device(5), Kest(5, 100, 0), 0, 6.18), 124.0);
    EXPECT_NE(i.CalculateError(4, Device(5), Kest(5, 100, 0), 0, 4.998), 100.0);
}

TEST(ErrorCalculator, AnalogErrors)
{
    const TErrorCalculatorI i;
    const TErrorCalculatorU u;
    const TErrorCalculatorF f;
    const TErrorCalculatorPQ pq;
    const TErrorCalculatorQX4 qx4;
    const TDeviceInfo qx4Dev = Device(0, 5, 5, 100, 100);
    struct Case {
        const char *what;
        const TErrorCalculator *calc;
        int param;
        TKestConfiguration kest;
        double value, valueAnalog;
        double expectedCurrent, expectedError;
    } cases[] = {
        // The worked example: 2,5 A of 5 A on "4 - 12 - 20 мА" expects 12 mA; 12,04 mA is 0,2 %.
        {"I worked example", &i, 4, Kest(5, 100, 1), 2.5, 12.04, 12, 0.2},
        {"I range 0", &i, 4, Kest(5, 100, 0), 5, 5, 5, 0},
        {"I range 2", &i, 4, Kest(1, 100, 2), 0, 2.4, 2.5, -2},
        {"U 0..125", &u, 1, KestU(0), 62.5, 12, 12, 0},
        {"U 0..250", &u, 1, KestU(2), 250, 20.08, 20, 0.4},
        {"U 0..400", &u, 1, KestU(3), 200, 12, 12, 0},
        {"U 0..500", &u, 1, KestU(4), 300, 13.6, 13.6, 0},
        {"F divides by VoltageMax", &f, 1, Kest(1, 100, 0), 50, 2.5, 2.5, 0},
        // A signed power of -0,5 of full scale on range 1: 12 + (-0,5) · 8 = 8 mA.
        {"PQ signed", &pq, 22, Kest(5, 100, 1), -0.5 * 5 * 100 * r3, 8, 8, 0},
        {"PQ signed range 0", &pq, 10, Kest(5, 100, 0), -0.5 * 5 * 100 * r3, -2.5, -2.5, 0},
        {"PQ signed range 2", &pq, 15, Kest(5, 100, 2), 0.5 * 5 * 100 * r3, 3.75, 3.75, 0},
        {"PQ apparent is not signed", &pq, 24, Kest(5, 100, 1), 0.5 * 5 * 100 * r3, 12, 12, 0},
        // The two later ranges start at their bottom for signed powers too.
        {"range 3 ordinary", &i, 4, Kest(5, 100, 3), 2.5, 2.5, 2.5, 0},
        {"range 3 signed", &pq, 22, Kest(5, 100, 3), 0.5 * 5 * 100 * r3, 2.5, 2.5, 0},
        {"range 4 ordinary", &i, 4, Kest(5, 100, 4), 2.5, 12.2, 12, 1},
        {"range 4 signed", &pq, 23, Kest(5, 100, 4), 0.5 * 5 * 100 * r3, 12, 12, 0},
        // Frequency: 50 Hz in band 2 is the middle; the error is divided by 5 (by 4 on range 1).
        {"frequency range 0", &f, 26, Kest(5, 100, 0), 50, 3.0, 2.5, 2},
        {"frequency range 1", &qx4, 26, Kest(5, 100, 1), 50, 12.8, 12, 1},
        {"frequency range 2", &i, 26, Kest(5, 100, 2), 55, 5.0, 5, 0},
        // QX4: a phase voltage at the secondary full scale is 0,8 of the output range.
        {"QX4 phase voltage", &qx4, 1, Kest(5, 100, 3), 100 / r3, 4, 4, 0},
        {"QX4 line voltage", &qx4, 8, Kest(5, 100, 4), 100, 16.8, 16.8, 0},
        {"QX4 mean phase voltage", &qx4, 27, Kest(5, 100, 1), 100 / r3, 16.4, 16.8, -2},
        {"QX4 current not reduced", &qx4, 4, Kest(5, 100, 3), 5, 5, 5, 0},
        {"QX4 mean line voltage not reduced", &qx4, 29, Kest(5, 100, 3), 100, 5, 5, 0},
    };
    for (const Case &c : cases) {
        double value = c.value;
        const double error = c.calc->CalculateErrorAnalog(c.param, 2, qx4Dev, c.kest, value, c.valueAnalog);
        EXPECT_NEAR(value, c.expectedCurrent, 1e-9) << c.what;
        EXPECT_NEAR(error, c.expectedError, 1e-9) << c.what;
    }
}

TEST(ErrorCalculator, FrequencyBandsAndUnusableInput)
{
    const TErrorCalculatorF f;
    const TDeviceInfo dev = Device(0);
    struct Case {
        int band;
        double freq;
        double expectedCurrent;
    } cases[] = {
        {3, 50, 2.5},
        {4, 51, 5},
        {5, 47, 0},
        {2, 45, 0},
        // Band 1 has no width: the reading counts as the band's bottom instead of dividing by zero.
        {1, 50, 0},
        {0, 50, 0},
        {6, 50, 0},
    };
    for (const Case &c : cases) {
        double value = c.freq;
        const double error = f.CalculateErrorAnalog(26, c.band, dev, Kest(5, 100, 0), value, 2.5);
        EXPECT_TRUE(std::isfinite(error)) << c.band;
        EXPECT_DOUBLE_EQ(value, c.expectedCurrent) << c.band;
    }

    // A range the installation does not offer has no expected current.
    double value = 2.5;
    EXPECT_TRUE(std::isnan(TErrorCalculatorI().CalculateErrorAnalog(4, 2, dev, Kest(5, 100, 5), value, 12)));
    EXPECT_TRUE(std::isnan(value));

    EXPECT_EQ(TErrorCalculator::AnalogRangeCaptions(),
        (QStringList{"-5 - 0 - +5 мА", "4 - 12 - 20 мА", "0 - 2,5 - 5 мА", "0 - 5 мА", "4 - 20 мА"}));
}

} // namespace
