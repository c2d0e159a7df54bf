// The verification windows' logic and run driver against kest-sim over pseudo-terminals, without a screen:
// each window type on an RS tab and an analog tab with errors injected into the simulated transducer,
// the run's order over tabs, a reused point, the analog inputs and their waits, lost links, "Стоп" during
// each wait, the transducer's settings, and a long run's memory. Waits are shortened (TScopedWaitScale);
// "WaitingTime" stays 1 s in the settings.
#include <gtest/gtest.h>

#include "presentation/parameterscaling.h"
#include "runtesthelpers.h"

#include <QTimer>

#include <cmath>
#include <set>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KEST_ASAN 1
#endif
#ifdef KEST_ASAN
// The sanitizer's runtime keeps the count of live heap bytes (its header is not shipped with g++).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

using namespace runtest;

namespace {

const double kSqrt3 = std::sqrt(3.0);

size_t HeapInUse()
{
#ifdef KEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

struct TInjected {
    const char *quantity; // kest-sim's name
    int param;
    double gain;   // percent
    double offset; // percent of the full scale
};

struct TTypeCase {
    const char *name;
    TConfigurationCode code;
    const char *simType;
    TTransfCoefs coefs;      // the transducer's and the settings'
    QString voltage;         // the voltage range chosen
    int angle;               // of the points
    QStringList rsOutputs;   // stored output set of the RS tab (empty: the window's fixed one)
    std::vector<TInjected> rsErrors;
    QStringList analogPorts; // stored analog inputs of the analog tab (empty: fixed)
    std::vector<int> analogParams;       // the parameters the analog cells show, in input order
    std::vector<std::array<double, 2>> analogErrors; // per analog output 1–3: gain %, offset mA
    std::vector<std::array<double, 4>> rsPoints;     // current, voltage, angle, frequency
    std::vector<std::array<double, 4>> analogPoints;
};

// The full scale the window's error calculator divides by.
double CalculatorScale(TConfigurationCode code, int k, const TTransfCoefs &c, const TKestConfiguration &kc)
{
    switch (code) {
    case TConfigurationCode::I: return kc.AmperageMax;
    case TConfigurationCode::U: return kc.VoltageMax;
    case TConfigurationCode::PQ: return kc.AmperageMax * kc.VoltageMax * kSqrt3;
    default: return TParameterScaling::GetScale(k, c.I2, c.U2);
    }
}

// kest-sim's transducer reads v·(1 + gain) + offset·(its full scale); the error is that deviation over the
// calculator's full scale.
double ExpectedRsError(const TTypeCase &tc, const TInjected &e, double installation, const TKestConfiguration &kc)
{
    const double deviation = installation * e.gain / 100
        + e.offset / 100 * TParameterScaling::GetScale(e.param, tc.coefs.I2, tc.coefs.U2);
    return deviation / CalculatorScale(tc.code, e.param, tc.coefs, kc) * 100;
}

// Range "4 - 12 - 20 мА": the output should give b; kest-sim's gives 12 + (b − 12)·(1 + gain) + offset.
double ExpectedAnalogError(const TTypeCase &tc, int k, double installation, const std::array<double, 2> &err,
    const TKestConfiguration &kc)
{
    double p = installation / CalculatorScale(tc.code, k, tc.coefs, kc);
    if ((tc.code == TConfigurationCode::QX4 || tc.code == TConfigurationCode::QX4E) && IsVoltageParam(k))
        p /= 1.25;
    const double low = TErrorCalculator::IsSignedPower(k) ? 12 : 4;
    const double b = low + p * (20 - low);
    return ((b - 12) * err[0] / 100 + err[1]) / 20 * 100;
}

QString PrimaryText(int k, double secondary, const TTransfCoefs &c)
{
    const double ratio = TParameterScaling::GetScale(k, c.I1, c.U1) / TParameterScaling::GetScale(k, c.I2, c.U2);
    const QString prefix = TParameterScaling::GetPrefixName(TParameterScaling::GetPrefixNum(k, c));
    return TSuperAvtopoverkaGrid::FormatWithPrefix(secondary * ratio, prefix);
}

void WriteCoefficients(TConfigController *store, const TTransfCoefs &c)
{
    TDeviceSettingsConfig d(store);
    d.WriteKU1(FloatToQStr(c.U1));
    d.WriteKU2(FloatToQStr(c.U2));
    d.WriteKI1(FloatToQStr(c.I1));
    d.WriteKI2(FloatToQStr(c.I2));
}

const std::vector<TTypeCase> &TypeCases()
{
    static const std::vector<TTypeCase> cases = {
        {"QX4", TConfigurationCode::QX4, "QX4", {100, 5, 10000, 100}, QStringLiteral("100"), 0,
            {"4", "6", "7", "26"},
            {{"Ia", piIa, -0.5, 0}, {"Ic", piIc, 0, 0.1}, {"Uab", piULa, 0.3, 0}, {"F", piFreq, 0.2, 0}},
            {"1", "3"}, {piUa, piUc}, {{0.5, 0.02}, {0, 0}, {-3, 0}},
            {{5, 57.74, 0, 50}, {2.5, 57.74, 0, 50}, {1, 40, 0, 51}},
            {{5, 57.74, 0, 50}, {5, 40, 0, 50}, {5, 20, 0, 50}}},
        {"QX4E", TConfigurationCode::QX4E, "QX4E", {100, 5, 10000, 100}, QStringLiteral("100"), 0,
            {"1", "5", "26"}, {{"Ua", piUa, 0.4, -0.1}, {"Ib", piIb, 0.1, 0}, {"F", piFreq, -0.02, 0}},
            {"2"}, {piUb}, {{0, 0}, {1, 0.1}, {0, 0}},
            {{5, 57.74, 0, 50}, {4, 50, 0, 49}, {0.5, 30, 0, 50}},
            {{5, 57.74, 0, 50}, {5, 30, 0, 50}, {5, 10, 0, 50}}},
        {"I", TConfigurationCode::I, "I", {5, 5, 380, 380}, QStringLiteral("380"), 0, {},
            {{"Ia", piIa, 0.4, 0.05}}, {}, {piIa}, {{-2, 0.05}, {0, 0}, {0, 0}},
            {{5, 219.39, 0, 50}, {2.5, 219.39, 0, 50}, {0.5, 219.39, 0, 50}},
            {{5, 219.39, 0, 50}, {2.5, 219.39, 0, 50}, {1, 219.39, 0, 50}}},
        {"U", TConfigurationCode::U, "U", {5, 5, 380, 380}, QStringLiteral("380"), 0, {},
            {{"Ua", piUa, 0.5, 0.1}}, {}, {piUa}, {{1.5, -0.04}, {0, 0}, {0, 0}},
            {{5, 219.39, 0, 50}, {5, 150, 0, 50}, {5, 50, 0, 50}},
            {{5, 219.39, 0, 50}, {5, 100, 0, 50}, {5, 20, 0, 50}}},
        {"PQ", TConfigurationCode::PQ, "PQ", {5, 5, 380, 380}, QStringLiteral("380"), 30, {"22", "23"},
            {{"P", piP, 0.5, 0}, {"Q", piQ, 0, -0.1}}, {"1", "2"}, {piP, piQ}, {{2, 0}, {0, 0.06}, {0, 0}},
            {{5, 219.39, 30, 50}, {2.5, 219.39, 30, 50}, {1, 219.39, 30, 50}},
            {{5, 219.39, 30, 50}, {2, 219.39, 30, 50}, {0.5, 219.39, 30, 50}}},
    };
    return cases;
}

} // namespace

class VerificationRun : public ::testing::Test {
protected:
    TScopedWaitScale scale{0.02};
};

// Every window type: an RS tab and an analog tab of three points each, with gain and offset errors in the
// simulated transducer: every output cell carries the installation's value in primary units with its
// prefix, the transducer's value and the error, which matches the injected one; red exactly where the
// error is over the permissible error in force; the outputs are off after each run.
TEST_F(VerificationRun, EveryWindowTypeFillsRsAndAnalogCellsWithTheInjectedErrors)
{
    for (const TTypeCase &tc : TypeCases()) {
        SCOPED_TRACE(tc.name);
        TBench b(tc.simType, tc.code);
        ASSERT_TRUE(b.started) << b.startError;
        const TTransfCoefs &c = tc.coefs;
        ASSERT_EQ(b.sim->Command(QStringLiteral("coefs %1 %2 %3 %4").arg(c.U1).arg(c.U2).arg(c.I1).arg(c.I2).toStdString())
                      .rfind("ok", 0),
            0u);
        WriteCoefficients(b.store.get(), c);
        auto config = CreateAvtopoverkaConfig(QString::fromLatin1(VerificationType(tc.code).settingsCode), b.store.get());
        config->WriteInterfaceValues({"0", "-1"});
        if (!tc.rsOutputs.isEmpty())
            config->WriteTabOutputSet(0, tc.rsOutputs);
        if (!tc.analogPorts.isEmpty()) {
            config->WriteTabOutputAnalogPortSet(1, tc.analogPorts);
            config->WriteTabOutputAnalogParamSet(1, {"1", "2", "3"});
        }
        for (const TInjected &e : tc.rsErrors)
            b.sim->Command(QStringLiteral("error %1 %2 %3").arg(e.quantity).arg(e.gain).arg(e.offset).toStdString());

        TAvtopoverkaLogic &logic = b.Open();
        logic.VoltageChosen(tc.voltage);
        logic.OutputSignalChosen(1);
        logic.PlusClicked();
        ASSERT_EQ(logic.Tabs().Count(), 2);
        b.AddPoints(0, tc.rsPoints);
        b.AddPoints(1, tc.analogPoints);
        ASSERT_TRUE(logic.Tabs().IsAnalog(1));
        const TKestConfiguration kc = logic.BuildKestConfiguration();
        const double limit = 0.2, freqLimit = 0.05, analogLimit = 0.5;

        // The RS tab.
        logic.TabSelected(0);
        ASSERT_TRUE(logic.StartCurrentTab()) << b.view.errors.join(" | ").toStdString();
        EXPECT_TRUE(b.view.Locked());
        ASSERT_TRUE(b.RunToEnd());
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        ASSERT_EQ(b.observer.points.size(), tc.rsPoints.size());
        ASSERT_EQ(b.observer.ends.size(), 1u);
        EXPECT_EQ(b.observer.ends[0].outcome, TRunOutcome::Finished);
        EXPECT_TRUE(b.observer.ends[0].outputsOff);
        EXPECT_FALSE(b.view.Locked());
        EXPECT_EQ(b.view.messages.count(QStringLiteral("Измерение закончено")), 1);
        EXPECT_TRUE(OutputsOff(*b.sim));
        const TKestAvtopoverkaGrid &rsGrid = logic.Tabs().Grid(0);
        int red = 0;
        for (const TMeasuredPoint &m : b.observer.points) {
            ASSERT_TRUE(m.installation && m.transducer);
            for (const TInjected &e : tc.rsErrors) {
                SCOPED_TRACE(e.quantity);
                const int col = rsGrid.OutputColumnOf(e.param);
                ASSERT_GE(col, 0);
                const QStringList parts = rsGrid.Cells(col, m.point.row).split(TSuperAvtopoverkaGrid::kGap);
                ASSERT_EQ(parts.size(), 3) << rsGrid.Cells(col, m.point.row).toStdString();
                const double inst = m.installation->GetParameterByIndex(e.param)->value;
                EXPECT_EQ(parts[0], PrimaryText(e.param, inst, c));
                const auto *item = m.results.rs->GetParameterByIndex(e.param);
                ASSERT_TRUE(item && item->Parameter2);
                const double expected = ExpectedRsError(tc, e, inst, kc);
                EXPECT_NEAR(item->Error, expected, 0.01) << "row " << m.point.row;
                EXPECT_EQ(parts[2], TParameterScaling::GetStringFromFloat(3, item->Error) + QStringLiteral("%"));
                EXPECT_EQ(parts[1], TSuperAvtopoverkaGrid::FormatWithPrefix(item->Parameter2->value, item->prefix));
                const bool over = std::fabs(expected) > (e.param == piFreq ? freqLimit : limit);
                EXPECT_EQ(rsGrid.IsRedCell(col, m.point.row), over) << "row " << m.point.row << " error " << expected;
                red += over ? 1 : 0;
            }
        }
        EXPECT_GT(red, 0);

        // The analog tab, with the channel errors taken away so that the outputs follow the true values.
        for (const TInjected &e : tc.rsErrors)
            b.sim->Command(QStringLiteral("error %1 0 0").arg(e.quantity).toStdString());
        for (int n = 0; n < 3; ++n)
            b.sim->Command(
                QStringLiteral("analog-error %1 %2 %3").arg(n + 1).arg(tc.analogErrors[size_t(n)][0]).arg(tc.analogErrors[size_t(n)][1]).toStdString());
        b.observer.points.clear();
        logic.TabSelected(1);
        ASSERT_TRUE(logic.StartCurrentTab()) << b.view.errors.join(" | ").toStdString();
        ASSERT_TRUE(b.RunToEnd());
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        ASSERT_EQ(b.observer.points.size(), tc.analogPoints.size());
        EXPECT_TRUE(b.observer.ends.back().outputsOff);
        EXPECT_TRUE(OutputsOff(*b.sim));
        const TKestAvtopoverkaGrid &aGrid = logic.Tabs().Grid(1);
        ASSERT_EQ(aGrid.ColCount(), aGrid.InputColumnCount() + int(tc.analogParams.size()));
        red = 0;
        const QStringList inputs = logic.Context().AnalogInputs(1);
        for (const TMeasuredPoint &m : b.observer.points) {
            for (size_t n = 0; n < tc.analogParams.size(); ++n) {
                const int k = tc.analogParams[n];
                SCOPED_TRACE(k);
                const int col = aGrid.OutputColumnOf(k);
                ASSERT_GE(col, 0);
                const QStringList parts = aGrid.Cells(col, m.point.row).split(TSuperAvtopoverkaGrid::kGap);
                ASSERT_EQ(parts.size(), 3) << aGrid.Cells(col, m.point.row).toStdString();
                const auto found = m.results.analog.find(k);
                ASSERT_NE(found, m.results.analog.end());
                const TParameterForGrid &item = found->second;
                const int output = inputs[int(n)].toInt();
                EXPECT_EQ(item.AnalogValue, m.analogCurrents[size_t(output - 1)]);
                EXPECT_EQ(parts[1], TParameterScaling::GetStringFromFloat(4, item.AnalogValue) + QStringLiteral("мА"));
                // The installation's value of the last reading of the point (readings of one point agree).
                const double inst = m.installation->GetParameterByIndex(k)->value;
                EXPECT_EQ(parts[0], PrimaryText(k, inst, c));
                const double expected = ExpectedAnalogError(tc, k, inst, tc.analogErrors[size_t(output - 1)], kc);
                EXPECT_NEAR(item.Error, expected, 0.01) << "row " << m.point.row;
                const bool over = std::fabs(expected) > analogLimit;
                EXPECT_EQ(aGrid.IsRedCell(col, m.point.row), over) << "row " << m.point.row << " error " << expected;
                red += over ? 1 : 0;
            }
        }
        EXPECT_GT(red, 0);
    }
}
