// The verification windows' logic and run driver against kest-sim over pseudo-terminals, without a screen:
// each window type on an RS tab and an analog tab with errors injected into the simulated transducer,
// the run's order over tabs, a reused point, the analog inputs and their waits, lost links, "Стоп" during
// each wait, the transducer's settings, and a long run's memory. Waits are shortened (TScopedWaitScale);
// "WaitingTime" stays 1 s in the settings.
#include <gtest/gtest.h>

#include "presentation/parameterscaling.h"
#include "runtesthelpers.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
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
    double gain; // percent
    double offset; // percent of the full scale
};

struct TTypeCase {
    const char *name;
    TConfigurationCode code;
    const char *simType;
    TTransfCoefs coefs; // the transducer's and the settings'
    QString voltage; // the voltage range chosen
    int angle; // of the points
    QStringList rsOutputs; // stored output set of the RS tab (empty: the window's fixed one)
    std::vector<TInjected> rsErrors;
    QStringList analogPorts; // stored analog inputs of the analog tab (empty: fixed)
    std::vector<int> analogParams; // the parameters the analog cells show, in input order
    std::vector<std::array<double, 2>> analogErrors; // per analog output 1–3: gain %, offset mA
    std::vector<std::array<double, 4>> rsPoints; // current, voltage, angle, frequency
    std::vector<std::array<double, 4>> analogPoints;
    int uRange = -1; // "Диапазон" chosen (-1: as the window opens)
};

// The full scale the window's error calculator divides by.
double CalculatorScale(TConfigurationCode code, int k, const TTransfCoefs &c, const TKestConfiguration &kc)
{
    switch (code) {
    case TConfigurationCode::I:
        return kc.AmperageMax;
    case TConfigurationCode::U:
        return RangeRow(*URangeFromIndex(kc.URangeIndex)).top; // the range in force, not the hidden selection
    case TConfigurationCode::P:
    case TConfigurationCode::Q:
    case TConfigurationCode::PQ:
        return kc.AmperageMax * kc.VoltageMax * kSqrt3;
    default:
        return TParameterScaling::GetScale(k, c.I2, c.U2);
    }
}

// kest-sim's transducer reads v·(1 + gain) + offset·(its full scale); the error is that deviation over the
// calculator's full scale.
double ExpectedRsError(const TTypeCase &tc, const TInjected &e, double installation, const TKestConfiguration &kc)
{
    const double deviation
        = installation * e.gain / 100 + e.offset / 100 * TParameterScaling::GetScale(e.param, tc.coefs.I2, tc.coefs.U2);
    return deviation / CalculatorScale(tc.code, e.param, tc.coefs, kc) * 100;
}

// Range "4 - 12 - 20 мА": the output should give b; kest-sim's gives 12 + (b − 12)·(1 + gain) + offset.
double ExpectedAnalogError(
    const TTypeCase &tc, int k, double installation, const std::array<double, 2> &err, const TKestConfiguration &kc)
{
    double p = installation / CalculatorScale(tc.code, k, tc.coefs, kc);
    if ((tc.code == TConfigurationCode::QX4 || tc.code == TConfigurationCode::QX4E) && IsVoltageParam(k))
        p /= 1.25;
    if (k == piFreq)
        p = (installation - 45) / 10; // the 45–55 Hz band
    const double low = TErrorCalculator::IsSignedPower(k) ? 12 : 4;
    const double b = low + p * (20 - low);
    return ((b - 12) * err[0] / 100 + err[1]) / 20 * 100 / (k == piFreq ? 4 : 1);
}

// The reference measured what the point asked for: the voltage transducer's voltage whole on phase A, the
// other windows' phase voltage (the line voltage over √3 in the three-wire scheme), and the current.
void ExpectMeasuredAsAsked(TConfigurationCode code, const TMeasuredPoint &m, const TKestConfiguration &kc)
{
    const TInputData &in = m.point.input;
    const double u = code == TConfigurationCode::U || kc.SchemeFlag ? in.Ua.value : in.Ua.value / kSqrt3;
    EXPECT_NEAR(m.installation->GetParameterByIndex(piUa)->value, u, 1e-4 * u + 1e-3) << "row " << m.point.row;
    EXPECT_NEAR(m.installation->GetParameterByIndex(piIa)->value, in.Ia.value, 1e-4 * in.Ia.value + 1e-4)
        << "row " << m.point.row;
}

QString PrimaryText(int k, double secondary, const TTransfCoefs &c)
{
    const double ratio = TParameterScaling::GetScale(k, c.I1, c.U1) / TParameterScaling::GetScale(k, c.I2, c.U2);
    const QString prefix = TParameterScaling::GetPrefixName(TParameterScaling::GetPrefixNum(k, c));
    return TSuperAvtopoverkaGrid::FormatWithPrefix(secondary * ratio, prefix);
}

// The set-up writes of the installation requests from `from` on, one letter per run of writes to the same
// quantity: U voltage, A angle, F frequency, I current.
QString SetUpOrder(kestsim::KestSimulator &sim, size_t from)
{
    QString order;
    const std::vector<std::vector<uint8_t>> frames = InstallationRequests(sim);
    for (size_t k = from; k < frames.size(); ++k) {
        const std::vector<uint8_t> &f = frames[k];
        if (f.size() < 4 || (f[1] != 6 && f[1] != 16))
            continue;
        const int r = Register(f);
        const QChar c = (r >= 100 && r <= 105) || r == 136     ? QLatin1Char('U')
            : r == 140                                         ? QLatin1Char('A')
            : r == 142                                         ? QLatin1Char('F')
            : (r >= 112 && r <= 117) || (r >= 124 && r <= 129) ? QLatin1Char('I')
                                                               : QChar();
        if (!c.isNull() && (order.isEmpty() || order.back() != c))
            order += c;
    }
    return order;
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
        {"QX4", TConfigurationCode::QX4, "QX4", {100, 5, 10000, 100}, QStringLiteral("100"), 0, {"4", "6", "7", "26"},
            {{"Ia", piIa, -0.5, 0}, {"Ic", piIc, 0, 0.1}, {"Uab", piULa, 0.3, 0}, {"F", piFreq, 0.2, 0}}, {"1", "3"},
            {piUa, piUc}, {{0.5, 0.02}, {0, 0}, {-3, 0}}, {{5, 57.74, 0, 50}, {2.5, 57.74, 0, 50}, {1, 40, 0, 51}},
            {{5, 57.74, 0, 50}, {5, 40, 0, 50}, {5, 20, 0, 50}}},
        {"QX4E", TConfigurationCode::QX4E, "QX4E", {100, 5, 10000, 100}, QStringLiteral("100"), 0, {"1", "5", "26"},
            {{"Ua", piUa, 0.4, -0.1}, {"Ib", piIb, 0.1, 0}, {"F", piFreq, -0.02, 0}}, {"2"}, {piUb},
            {{0, 0}, {1, 0.1}, {0, 0}}, {{5, 57.74, 0, 50}, {4, 50, 0, 49}, {0.5, 30, 0, 50}},
            {{5, 57.74, 0, 50}, {5, 30, 0, 50}, {5, 10, 0, 50}}},
        {"I", TConfigurationCode::I, "I", {5, 5, 380, 380}, QStringLiteral("380"), 0, {}, {{"Ia", piIa, 0.4, 0.05}}, {},
            {piIa}, {{-2, 0.05}, {0, 0}, {0, 0}}, {{5, 219.39, 0, 50}, {2.5, 219.39, 0, 50}, {0.5, 219.39, 0, 50}},
            {{5, 219.39, 0, 50}, {2.5, 219.39, 0, 50}, {1, 219.39, 0, 50}}},
        {"U", TConfigurationCode::U, "U", {5, 5, 400, 400}, QStringLiteral("380"), 0, {}, {{"Ua", piUa, 0.5, 0.1}}, {},
            {piUa}, {{1.5, -0.04}, {0, 0}, {0, 0}}, {{5, 219.39, 0, 50}, {5, 150, 0, 50}, {5, 500, 0, 50}},
            {{5, 219.39, 0, 50}, {5, 100, 0, 50}, {5, 480, 0, 50}}, 3},
        {"U 0..125", TConfigurationCode::U, "U", {5, 5, 125, 125}, QStringLiteral("380"), 0, {},
            {{"Ua", piUa, 0.5, 0.1}}, {}, {piUa}, {{1.5, -0.04}, {0, 0}, {0, 0}},
            {{5, 100, 0, 50}, {5, 125, 0, 50}, {5, 156, 0, 50}}, {{5, 125, 0, 50}, {5, 62.5, 0, 50}, {5, 150, 0, 50}},
            0},
        {"U 75..125", TConfigurationCode::U, "U", {5, 5, 125, 125}, QStringLiteral("100"), 0, {},
            {{"Ua", piUa, -0.4, 0}}, {}, {piUa}, {{0, 0.12}, {0, 0}, {0, 0}},
            {{5, 75, 0, 50}, {5, 110, 0, 50}, {5, 155, 0, 50}}, {{5, 75, 0, 50}, {5, 125, 0, 50}, {5, 150, 0, 50}}, 1},
        {"U 0..250", TConfigurationCode::U, "U", {5, 5, 250, 250}, QStringLiteral("400"), 0, {},
            {{"Ua", piUa, 0.3, -0.05}}, {}, {piUa}, {{-1, 0}, {0, 0}, {0, 0}},
            {{5, 250, 0, 50}, {5, 180, 0, 50}, {5, 310, 0, 50}}, {{5, 250, 0, 50}, {5, 125, 0, 50}, {5, 300, 0, 50}},
            2},
        {"U 0..500", TConfigurationCode::U, "U", {5, 5, 500, 500}, QStringLiteral("100"), 0, {}, {{"Ua", piUa, 0.5, 0}},
            {}, {piUa}, {{1.5, 0}, {0, 0}, {0, 0}}, {{5, 300, 0, 50}, {5, 500, 0, 50}, {5, 600, 0, 50}},
            {{5, 300, 0, 50}, {5, 100, 0, 50}, {5, 590, 0, 50}}, 4},
        {"PQ", TConfigurationCode::PQ, "PQ", {5, 5, 380, 380}, QStringLiteral("380"), 30, {"22", "23"},
            {{"P", piP, 0.5, 0}, {"Q", piQ, 0, -0.1}}, {"1", "2"}, {piP, piQ}, {{2, 0}, {0, 0.06}, {0, 0}},
            {{5, 219.39, 30, 50}, {2.5, 219.39, 30, 50}, {1, 219.39, 30, 50}},
            {{5, 219.39, 30, 50}, {2, 219.39, 30, 50}, {0.5, 219.39, 30, 50}}},
        {"F", TConfigurationCode::F, "F", {5, 5, 380, 380}, QStringLiteral("380"), 0, {}, {{"F", piFreq, 0.2, -0.14}},
            {}, {piFreq}, {{10, 0.3}, {0, 0}, {0, 0}}, {{5, 219.39, 0, 45}, {5, 219.39, 0, 50}, {5, 219.39, 0, 55}},
            {{5, 219.39, 0, 45}, {5, 219.39, 0, 50}, {5, 219.39, 0, 55}}},
        {"P", TConfigurationCode::P, "P", {5, 5, 380, 380}, QStringLiteral("380"), 30, {}, {{"P", piP, 0.5, 0}}, {},
            {piP}, {{2, 0}, {0, 0}, {0, 0}}, {{5, 219.39, 30, 50}, {2.5, 219.39, 30, 50}, {1, 219.39, 30, 50}},
            {{5, 219.39, 30, 50}, {2, 219.39, 30, 50}, {0.5, 219.39, 30, 50}}},
        {"Q", TConfigurationCode::Q, "Q", {5, 5, 380, 380}, QStringLiteral("380"), 30, {}, {{"Q", piQ, 1, -0.1}}, {},
            {piQ}, {{3, 0.05}, {0, 0}, {0, 0}}, {{5, 219.39, 30, 50}, {2.5, 219.39, 30, 50}, {1, 219.39, 30, 50}},
            {{5, 219.39, 30, 50}, {1, 219.39, 30, 50}, {0.5, 219.39, 30, 50}}},
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
        ASSERT_EQ(
            b.sim->Command(QStringLiteral("coefs %1 %2 %3 %4").arg(c.U1).arg(c.U2).arg(c.I1).arg(c.I2).toStdString())
                .rfind("ok", 0),
            0u);
        WriteCoefficients(b.store.get(), c);
        auto config = CreateAvtopoverkaConfig(tc.code, b.store.get());
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
        logic.VoltageChosen(*VoltageRangeFromCaption(tc.voltage));
        if (tc.uRange >= 0)
            logic.RangeIndexChosen(tc.uRange);
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
        size_t requestsBefore = InstallationRequests(*b.sim).size();
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
        // Every point is set up voltage, angle, frequency, then current.
        EXPECT_TRUE(
            SetUpOrder(*b.sim, requestsBefore).startsWith(QStringLiteral("UAFI").repeated(int(tc.rsPoints.size()))))
            << SetUpOrder(*b.sim, requestsBefore).toStdString();
        const TKestAvtopoverkaGrid &rsGrid = logic.Tabs().Grid(0);
        int red = 0;
        for (const TMeasuredPoint &m : b.observer.points) {
            ASSERT_TRUE(m.installation && m.transducer);
            ExpectMeasuredAsAsked(tc.code, m, kc);
            EXPECT_NEAR(m.installation->GetParameterByIndex(piFreq)->value, m.point.input.Freq.value, 1e-3);
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
            b.sim->Command(QStringLiteral("analog-error %1 %2 %3")
                               .arg(n + 1)
                               .arg(tc.analogErrors[size_t(n)][0])
                               .arg(tc.analogErrors[size_t(n)][1])
                               .toStdString());
        b.observer.points.clear();
        logic.TabSelected(1);
        requestsBefore = InstallationRequests(*b.sim).size();
        ASSERT_TRUE(logic.StartCurrentTab()) << b.view.errors.join(" | ").toStdString();
        ASSERT_TRUE(b.RunToEnd());
        EXPECT_TRUE(
            SetUpOrder(*b.sim, requestsBefore).startsWith(QStringLiteral("UAFI").repeated(int(tc.analogPoints.size()))))
            << SetUpOrder(*b.sim, requestsBefore).toStdString();
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        ASSERT_EQ(b.observer.points.size(), tc.analogPoints.size());
        EXPECT_TRUE(b.observer.ends.back().outputsOff);
        EXPECT_TRUE(OutputsOff(*b.sim));
        const TKestAvtopoverkaGrid &aGrid = logic.Tabs().Grid(1);
        ASSERT_EQ(aGrid.ColCount(), aGrid.InputColumnCount() + int(tc.analogParams.size()));
        red = 0;
        const QStringList inputs = logic.Context().AnalogInputs(1);
        for (const TMeasuredPoint &m : b.observer.points) {
            ASSERT_TRUE(m.installation);
            ExpectMeasuredAsAsked(tc.code, m, kc);
            EXPECT_NEAR(m.installation->GetParameterByIndex(piFreq)->value, m.point.input.Freq.value, 1e-3);
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

// The voltage transducer's window takes its voltage limits from "Диапазон", whatever the hidden voltage
// selection: "Напр." goes from 0 to 1,25 × the range's top (on "0..500" to the 600 V the installation gives
// in series), and a point beyond is refused at the start with the reason, before anything is sent.
TEST_F(VerificationRun, VoltageTransducerLimitsComeFromTheRange)
{
    const struct {
        int range;
        double top, entryMax, refused;
        const char *says;
    } cells[] = {
        {0, 125, 156.25, 156.5, "напряжение 156,5 V вне пределов 0…156,25 V"},
        {1, 125, 156.25, 157, "напряжение 157 V вне пределов 0…156,25 V"},
        {2, 250, 312.5, 313, "напряжение 313 V вне пределов 0…312,5 V"},
        {3, 400, 500, 501, "напряжение 501 V вне пределов 0…500 V"},
        {4, 500, 600, 610, "установка не может выдать напряжение 610 V на диапазоне «0..500»: не более 600 V"},
        {4, 500, 600, 626, "напряжение 626 V вне пределов 0…625 V"},
    };
    TBench b("U", TConfigurationCode::U);
    ASSERT_TRUE(b.started) << b.startError;
    TAvtopoverkaLogic &logic = b.Open();
    logic.VoltageChosen(TVoltageRange::V100); // hidden in this window: it changes nothing
    for (const auto &c : cells) {
        SCOPED_TRACE(c.refused);
        logic.RangeIndexChosen(c.range);
        EXPECT_EQ(b.view.limits[TEntry::Voltage], std::make_pair(0.0, c.entryMax));
        EXPECT_EQ(b.view.values[TEntry::Voltage], c.top);
        EXPECT_EQ(logic.NominalU(), c.top);
        logic.ClearAllClicked();
        b.AddPoints(0, {{5, c.entryMax, 0, 50}, {5, c.refused, 0, 50}});
        b.view.errors.clear();
        const int before = RequestCount(*b.sim);
        EXPECT_FALSE(logic.StartCurrentTab());
        EXPECT_EQ(b.view.errors, QStringList(QStringLiteral("Вкладка «1», строка 2: ") + QString::fromUtf8(c.says)));
        EXPECT_EQ(RequestCount(*b.sim), before);
        EXPECT_FALSE(logic.IsRunning());
    }
}

namespace {

// A QX4 window on kest-sim's QX4 with matching coefficients, the 100 V range, and output columns on the
// first three tabs.
void SetUpQx4(TBench &b, const QStringList &outputs = {"1", "4", "26"})
{
    ASSERT_TRUE(b.started) << b.startError;
    WriteCoefficients(b.store.get(), {100, 5, 10000, 100});
    TConfigQX4 config(b.store.get());
    for (int tab = 0; tab < 3; ++tab)
        config.WriteTabOutputSet(tab, outputs);
}

} // namespace

// "Запуск (все вкладки)" over tabs 1 and 3: tab 1's rows, then tab 3's, the active tab following; a point
// identical to one measured before is filled from it without a frame to the installation;
// "Запуск (выделенная строка)" measures that row alone and judges the frequency by the limit read then.
TEST_F(VerificationRun, AllTabsInOrderReusesAnIdenticalPointAndSelectedRowAlone)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    b.sim->Command("error F 0.03");
    TAvtopoverkaLogic &logic = b.Open();
    logic.VoltageChosen(TVoltageRange::V100);
    logic.PlusClicked();
    logic.PlusClicked();
    b.AddPoints(0, {{5, 57.74, 0, 50}, {2, 50, 0, 51}});
    b.AddPoints(2, {{1, 40, 0, 50}, {5, 57.74, 0, 50}});
    std::vector<int> requestsAtPoint;
    b.observer.onPoint = [&](const TMeasuredPoint &) { requestsAtPoint.push_back(RequestCount(*b.sim)); };
    b.view.activeTabs.clear();

    ASSERT_TRUE(logic.StartAllTabs()) << b.view.errors.join(" | ").toStdString();
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
    ASSERT_EQ(b.observer.points.size(), 4u);
    const std::vector<std::pair<int, int>> order{{0, 1}, {0, 2}, {2, 1}, {2, 2}};
    for (size_t k = 0; k < order.size(); ++k) {
        EXPECT_EQ(b.observer.points[k].point.tab, order[k].first) << k;
        EXPECT_EQ(b.observer.points[k].point.row, order[k].second) << k;
        EXPECT_EQ(b.observer.points[k].reused, k == 3) << k;
    }
    EXPECT_EQ(b.view.activeTabs, (std::vector<int>{0, 2}));
    EXPECT_EQ(requestsAtPoint[3], requestsAtPoint[2]); // nothing sent for the reused point
    EXPECT_GT(requestsAtPoint[2], requestsAtPoint[1]);
    const TKestAvtopoverkaGrid &tab1 = logic.Tabs().Grid(0);
    const TKestAvtopoverkaGrid &tab3 = logic.Tabs().Grid(2);
    for (int col = 0; col < tab1.ColCount(); ++col) {
        EXPECT_EQ(tab3.Cells(col, 2), tab1.Cells(col, 1)) << col;
        EXPECT_EQ(tab3.IsRedCell(col, 2), tab1.IsRedCell(col, 1)) << col;
    }
    EXPECT_TRUE(logic.Tabs().Grid(1).Cells(0, 1).isEmpty());
    const int fcol = tab1.OutputColumnOf(piFreq);
    EXPECT_FALSE(tab1.IsRedCell(fcol, 1));
    EXPECT_FALSE(tab1.IsRedCell(fcol, 2));
    EXPECT_TRUE(OutputsOff(*b.sim));

    // The selected row, against a frequency limit lowered below the injected 0,03 %.
    TGlobalConfig(b.store.get()).WriteFreqError(QStringLiteral("0,01"));
    logic.TabSelected(0);
    logic.RowClicked(2);
    EXPECT_EQ(b.view.values[TEntry::Current], 2);
    const QString row1 = tab1.Cells(fcol, 1);
    b.observer.points.clear();
    ASSERT_TRUE(logic.StartSelectedRow());
    ASSERT_TRUE(b.RunToEnd());
    ASSERT_EQ(b.observer.points.size(), 1u);
    EXPECT_EQ(b.observer.points[0].point.row, 2);
    EXPECT_TRUE(tab1.IsRedCell(fcol, 2));
    EXPECT_FALSE(tab1.IsRedCell(fcol, 1));
    EXPECT_EQ(tab1.Cells(fcol, 1), row1);
    EXPECT_EQ(b.observer.starts.back().permissibleErrorFreq, 0.01);
    EXPECT_TRUE(OutputsOff(*b.sim));

    // A run continued from its third point (as after a restart): the rows before it keep what they show,
    // and the last point is still filled from the first one's row without a frame.
    const QString kept = tab1.Cells(fcol, 2);
    b.observer.points.clear();
    requestsAtPoint.clear();
    const int before = RequestCount(*b.sim);
    ASSERT_EQ(logic.PlanOf(TRunScope::AllTabs).size(), 4u);
    ASSERT_TRUE(logic.StartFrom(TRunScope::AllTabs, 2));
    ASSERT_TRUE(b.RunToEnd());
    ASSERT_EQ(b.observer.points.size(), 2u);
    EXPECT_EQ(b.observer.starts.back().firstPoint, 2);
    EXPECT_EQ(b.observer.points[0].index, 2);
    EXPECT_TRUE(b.observer.points[1].reused);
    EXPECT_EQ(requestsAtPoint[1], requestsAtPoint[0]);
    EXPECT_GT(requestsAtPoint[0], before);
    EXPECT_EQ(tab1.Cells(fcol, 2), kept);
    EXPECT_TRUE(tab1.IsRedCell(fcol, 2));
    EXPECT_TRUE(OutputsOff(*b.sim));
}

// An analog tab with inputs "1" and "3": per point the measuring time, then input 1 selected, 2000 ms and
// a status read, then input 3, 2000 ms and another; the installation's part of each cell in primary units
// with its prefix (kV for a 10 kV primary).
TEST_F(VerificationRun, AnalogInputsOneAndThreeEachSelectedAndWaitedFor)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TConfigQX4 config(b.store.get());
    config.WriteInterfaceValues({"-1"});
    config.WriteTabOutputAnalogPortSet(0, {"1", "3"});
    config.WriteTabOutputAnalogParamSet(0, {"1", "2", "3"});
    TAvtopoverkaLogic &logic = b.Open();
    logic.VoltageChosen(TVoltageRange::V100);
    logic.OutputSignalChosen(1);
    b.AddPoints(0, {{5, 57.74, 0, 50}, {5, 30, 0, 50}});
    std::vector<std::pair<int, QString>> waits;
    const auto previous = TWaitService::SetObserver([&](int ms, const QString &purpose) {
        if (purpose != TRunDriver::kWaitShutdown)
            waits.emplace_back(ms, purpose);
    });
    const int before = int(InstallationRequests(*b.sim).size());
    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(b.RunToEnd());
    TWaitService::SetObserver(previous);
    EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
    ASSERT_EQ(b.observer.points.size(), 2u);

    const std::vector<std::pair<int, QString>> perPoint{
        {1000, TRunDriver::kWaitMeasuring}, {2000, TRunDriver::kWaitAnalogInput}, {2000, TRunDriver::kWaitAnalogInput}};
    std::vector<std::pair<int, QString>> expected;
    for (int k = 0; k < 2; ++k)
        expected.insert(expected.end(), perPoint.begin(), perPoint.end());
    EXPECT_EQ(waits, expected);

    // After each point's current: input 1, a status read, input 3, a status read.
    const auto frames = InstallationRequests(*b.sim);
    std::vector<std::string> seen;
    for (size_t k = size_t(before); k < frames.size(); ++k) {
        const int reg = Register(frames[k]);
        if (reg == 6 && frames[k][1] == 0x06)
            seen.push_back("input " + std::to_string(frames[k][5]));
        else if (reg == 994) {
            // A status read the engine sent again (its answer came garbled or late on a loaded machine)
            // is still one read.
            if (seen.empty() || seen.back() != "status")
                seen.push_back("status");
        } else if (reg == 124 && frames[k][1] == 0x10)
            seen.push_back("current");
    }
    const std::vector<std::string> pattern{"current", "input 1", "status", "input 3", "status"};
    std::vector<std::string> want{"status"}; // the first read after remote control
    for (int k = 0; k < 2; ++k)
        want.insert(want.end(), pattern.begin(), pattern.end());
    want.push_back("current"); // zero current at the end
    EXPECT_EQ(seen, want);

    const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(0);
    for (const int k : {piUa, piUc}) {
        const QString cell = grid.Cells(grid.OutputColumnOf(k), 1);
        EXPECT_TRUE(cell.section(TSuperAvtopoverkaGrid::kGap, 0, 0).endsWith(QLatin1Char('k'))) << cell.toStdString();
        EXPECT_TRUE(cell.contains(QStringLiteral("мА"))) << cell.toStdString();
    }
    EXPECT_TRUE(OutputsOff(*b.sim));
}

// A QX4 whose own analog assignment (Ua, Ub, Uc) is not the tab's stored one (Ia, Ib, Ic): the run that
// learns it stops, naming both, before a cell pairs one quantity's current with another's value; the next
// start asks first: declined, nothing is sent; agreed, the columns follow the device and every cell of
// every row is filled.
TEST_F(VerificationRun, AnAnalogAssignmentOtherThanTheTabsIsPutToTheUserNotLeftAsEmptyRows)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TConfigQX4 config(b.store.get());
    config.WriteInterfaceValues({"-1"});
    config.WriteTabOutputAnalogPortSet(0, {"1", "3"});
    config.WriteTabOutputAnalogParamSet(0, {"4", "5", "6"});
    TAvtopoverkaLogic &logic = b.Open();
    logic.VoltageChosen(TVoltageRange::V100);
    logic.OutputSignalChosen(1);
    b.AddPoints(0, {{5, 57.74, 0, 50}, {4, 50, 0, 50}, {3, 40, 0, 50}});
    const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(0);
    const int inputs = grid.InputColumnCount();
    EXPECT_EQ(grid.ColumnParamNames().mid(inputs), QStringList({"Ia", "Ic"}));

    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Failed);
    ASSERT_EQ(b.view.errors.size(), 1);
    EXPECT_TRUE(b.view.errors[0].contains(QStringLiteral("выход 3 — Uc"))
        && b.view.errors[0].contains(QStringLiteral("выход 3 — Ic")))
        << b.view.errors[0].toStdString();
    EXPECT_FALSE(b.view.messages.contains(QStringLiteral("Измерение закончено")));
    EXPECT_TRUE(b.observer.points.empty());
    EXPECT_TRUE(OutputsOff(*b.sim));

    const int sent = RequestCount(*b.sim);
    b.view.confirmAnswer = false;
    EXPECT_FALSE(logic.StartCurrentTab());
    ASSERT_EQ(b.view.questions.size(), 1);
    EXPECT_TRUE(b.view.questions[0].contains(QStringLiteral("выход 1 — Ua"))) << b.view.questions[0].toStdString();
    EXPECT_EQ(RequestCount(*b.sim), sent);
    EXPECT_FALSE(b.view.Locked());

    b.view.confirmAnswer = true;
    b.view.errors.clear();
    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
    EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Finished);
    EXPECT_EQ(b.view.messages.count(QStringLiteral("Измерение закончено")), 1);
    EXPECT_EQ(grid.ColumnParamNames().mid(inputs), QStringList({"Ua", "Uc"}));
    ASSERT_EQ(b.observer.points.size(), 3u);
    for (int row = 1; row <= 3; ++row)
        for (int col = inputs; col < grid.ColCount(); ++col)
            EXPECT_EQ(grid.Cells(col, row).split(TSuperAvtopoverkaGrid::kGap).size(), 3)
                << row << " " << grid.Cells(col, row).toStdString();
    EXPECT_TRUE(OutputsOff(*b.sim));
}

// Links lost during a run: the transducer unplugged (its row "/---/---", the run goes on and takes it again
// when it is back), the transducer silent behind the relay (the same), the installation silent (the error
// shown, the run ended, the controls unlocked, and the user told that the outputs could not be switched
// off, since nothing confirmed it).
TEST_F(VerificationRun, LostLinksMarkTheRowOrEndTheRunWithTheError)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TAvtopoverkaLogic &logic = b.Open();
    logic.Driver().SetResponseTimeOut(300);
    logic.VoltageChosen(TVoltageRange::V100);
    b.AddPoints(0, {{5, 57.74, 0, 50}, {4, 57.74, 0, 50}, {3, 57.74, 0, 50}, {2, 57.74, 0, 50}, {1, 57.74, 0, 50}});
    const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(0);
    auto endsWithDashes = [&](int row) {
        for (int col = grid.InputColumnCount(); col < grid.ColCount(); ++col)
            if (!grid.Cells(col, row).endsWith(TSuperAvtopoverkaGrid::kNoValue))
                return false;
        return true;
    };

    // Unplugged after point 1, back after point 2; silent behind the relay for point 4.
    b.observer.onPoint = [&](const TMeasuredPoint &m) {
        if (m.point.row == 1)
            b.sim->Command("unplug");
        if (m.point.row == 2)
            b.sim->Command("replug");
        if (m.point.row == 3)
            b.sim->Command("fault noanswer@1996#4");
    };
    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(b.RunToEnd());
    ASSERT_EQ(b.observer.points.size(), 5u);
    EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Finished);
    EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
    EXPECT_FALSE(endsWithDashes(1));
    EXPECT_TRUE(endsWithDashes(2)) << grid.Cells(grid.InputColumnCount(), 2).toStdString();
    EXPECT_FALSE(endsWithDashes(3)) << grid.Cells(grid.InputColumnCount(), 3).toStdString();
    EXPECT_TRUE(endsWithDashes(4)) << grid.Cells(grid.InputColumnCount(), 4).toStdString();
    EXPECT_FALSE(endsWithDashes(5));
    EXPECT_TRUE(
        grid.Cells(grid.InputColumnCount(), 2).startsWith(QStringLiteral("5,7"))); // the installation still read
    EXPECT_TRUE(OutputsOff(*b.sim));

    // The installation falls silent after the second point.
    b.observer.points.clear();
    b.view.messages.clear();
    b.observer.onPoint = [&](const TMeasuredPoint &m) {
        if (m.point.row == 2)
            b.sim->Command("fault noanswer");
    };
    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(b.RunToEnd(30000));
    EXPECT_EQ(b.observer.points.size(), 2u);
    ASSERT_GE(b.view.errors.size(), 2);
    EXPECT_EQ(b.view.errors[0], QStringLiteral("Нет ответа"));
    EXPECT_TRUE(b.view.errors[1].startsWith(QStringLiteral("Выходы установки не удалось выключить")))
        << b.view.errors[1].toStdString();
    EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Failed);
    EXPECT_FALSE(b.observer.ends.back().outputsOff);
    EXPECT_FALSE(b.view.Locked());
    EXPECT_FALSE(b.view.messages.contains(QStringLiteral("Измерение закончено")));
    EXPECT_FALSE(logic.Driver().Engine().IsOpen());
    b.sim->Command("clear-faults");
}

// An active-power transducer's window: while its opening parameter number goes unanswered, "Запуск",
// "Авто", "Прочитать настройки" and "Адр." are refused with the reason and change nothing; then the
// transducer is silent to its identity read for two points: those rows "/---/---" with the reason, the run
// goes on, and the next point and the next run are judged against the transducer's own full scale.
TEST_F(VerificationRun, ASilentIdentityReadOrOpeningCommandHoldsOnlyWhereItHappened)
{
    TBench b("P", TConfigurationCode::P);
    ASSERT_TRUE(b.started) << b.startError;
    ASSERT_EQ(b.sim->Command("coefs 380 380 5 5").rfind("ok", 0), 0u);
    WriteCoefficients(b.store.get(), {5, 5, 380, 380});
    b.sim->Command("error P 0.5");
    b.sim->Command("fault noanswer@16#1");
    b.logic = std::make_unique<TAvtopoverkaLogic>(&b.view, b.store.get(), b.code);
    TAvtopoverkaLogic &logic = *b.logic;
    logic.SetPortOverride(QString::fromStdString(b.sim->InstallationPath()), QStringLiteral("115200"));
    logic.AddRunObserver(&b.observer);
    logic.Driver().SetResponseTimeOut(300);
    logic.Init();
    b.AddPoints(0, {{5, 219.39, 30, 50}, {2.5, 219.39, 30, 50}, {4, 219.39, 30, 50}});
    ASSERT_TRUE(logic.Driver().IsSendingOpeningCommand());
    // The refused commands send nothing. The opening command's own request may reach the simulator's
    // log at any moment meanwhile (late on a loaded machine), so it is not counted.
    auto others = [&] {
        int n = 0;
        for (const std::vector<uint8_t> &f : InstallationRequests(*b.sim))
            n += f.size() >= 4 && f[2] * 256 + f[3] == 16 ? 0 : 1;
        return n;
    };
    const int requests = others();
    EXPECT_FALSE(logic.StartCurrentTab());
    logic.AutoClicked(true, 1);
    logic.ReadSettingsClicked();
    b.view.values[TEntry::Address] = 5; // as the user typed it
    logic.EntryAction(TEntry::Address, 5);
    ASSERT_EQ(b.view.messages.size(), 4) << b.view.messages.join(" | ").toStdString();
    for (const QString &m : b.view.messages)
        EXPECT_TRUE(m.contains(QStringLiteral("номер параметра RS"))) << m.toStdString();
    EXPECT_FALSE(logic.Selections().autoMode);
    EXPECT_FALSE(b.view.selections.autoMode);
    EXPECT_TRUE(b.view.addressEnabled);
    EXPECT_EQ(b.view.values[TEntry::Address], 1);
    EXPECT_FALSE(b.view.Locked());
    EXPECT_EQ(others(), requests);
    ASSERT_TRUE(PumpUntil([&] { return !logic.Driver().IsBusy(); }, 20000));
    b.view.messages.clear();

    const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(0);
    const int col = grid.OutputColumnOf(piP);
    ASSERT_GE(col, grid.InputColumnCount());
    const double scale = 5 * 380 * kSqrt3;
    // Silent to the identity read until the second point is done.
    b.sim->Command("fault noanswer@700");
    b.observer.onPoint = [&](const TMeasuredPoint &m) {
        if (m.point.row == 2)
            b.sim->Command("clear-faults");
    };
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        b.observer.points.clear();
        b.view.progress.clear();
        ASSERT_TRUE(logic.StartCurrentTab()) << b.view.errors.join(" | ").toStdString();
        ASSERT_TRUE(b.RunToEnd());
        b.sim->Command("clear-faults");
        // The progress line says why the silent points' cells are empty.
        EXPECT_EQ(b.view.progress.join('\n').contains(QStringLiteral("строка 1: Прибор не ответил на чтение паспорта")),
            run == 0)
            << b.view.progress.join('\n').toStdString();
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        b.view.errors.clear();
        EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Finished);
        EXPECT_EQ(b.view.messages.count(QStringLiteral("Измерение закончено")), run + 1);
        EXPECT_TRUE(OutputsOff(*b.sim));
        EXPECT_EQ(b.observer.points.size(), 3u); // the next run is judged all the same
        for (const TMeasuredPoint &m : b.observer.points) {
            const bool silent = run == 0 && m.point.row <= 2;
            SCOPED_TRACE(m.point.row);
            EXPECT_EQ(grid.Cells(col, m.point.row).endsWith(TSuperAvtopoverkaGrid::kNoValue), silent)
                << grid.Cells(col, m.point.row).toStdString();
            EXPECT_EQ(m.note.contains(QStringLiteral("паспорт")), silent) << m.note.toStdString();
            if (silent)
                continue;
            const auto *item = m.results.rs->GetParameterByIndex(piP);
            ASSERT_TRUE(item);
            const double expected = m.installation->GetParameterByIndex(piP)->value * 0.005 / scale * 100;
            EXPECT_NEAR(item->Error, expected, 0.01);
            EXPECT_EQ(grid.IsRedCell(col, m.point.row), std::fabs(expected) > 0.2);
        }
    }
}

// "Стоп" during the measuring time, during an analog input's 2000 ms, and in the middle of a point's
// set-up (its frequency answer held back): the wait ends at once, nothing more of the point goes out, and
// the frames that follow are exactly zero current, zero voltage and the release of remote control, all
// confirmed; "Стоп" during the 5000 ms after a mode change sends nothing more either.
TEST_F(VerificationRun, StopDuringEveryWaitEndsItAndSwitchesOff)
{
    TScopedWaitScale longer(0.2); // waits long enough to be stopped in the middle
    struct TCase {
        const char *name;
        bool analog;
        QString waitPurpose; // stop when this wait is asked for (second point); empty: see fault
        const char *fault; // a fault that holds the point back
        int stopOnRegister; // stop once kest-sim has received a request to this register (second point)
    };
    const TCase cases[] = {
        {"measuring time", false, TRunDriver::kWaitMeasuring, nullptr, 0},
        {"analog input", true, TRunDriver::kWaitAnalogInput, nullptr, 0},
        {"mid-point", false, QString(), "fault delay:400@142#1", 142},
    };
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.name);
        TBench b("QX4", TConfigurationCode::QX4);
        SetUpQx4(b);
        TConfigQX4 config(b.store.get());
        if (tc.analog) {
            config.WriteInterfaceValues({"-1"});
            config.WriteTabOutputAnalogPortSet(0, {"1", "2"});
            config.WriteTabOutputAnalogParamSet(0, {"1", "2", "3"});
        }
        TAvtopoverkaLogic &logic = b.Open();
        logic.VoltageChosen(TVoltageRange::V100);
        b.AddPoints(0, {{5, 57.74, 0, 50}, {2, 50, 0, 50}, {1, 40, 0, 50}});
        int stopAt = -1;
        int waitsSeen = 0;
        const auto previous = TWaitService::SetObserver([&](int, const QString &purpose) {
            if (!tc.waitPurpose.isEmpty() && purpose == tc.waitPurpose && ++waitsSeen == (tc.analog ? 3 : 2))
                QTimer::singleShot(0, [&] {
                    stopAt = RequestCount(*b.sim);
                    logic.StopClicked();
                });
        });
        b.observer.onPoint = [&](const TMeasuredPoint &) {
            if (tc.fault)
                b.sim->Command(tc.fault);
        };
        ASSERT_TRUE(logic.StartCurrentTab());
        if (tc.stopOnRegister) {
            // The second point's frequency is on the line and its answer held back: stop now.
            ASSERT_TRUE(PumpUntil(
                [&] {
                    const auto frames = InstallationRequests(*b.sim);
                    int n = 0;
                    for (const auto &f : frames)
                        n += Register(f) == tc.stopOnRegister ? 1 : 0;
                    return n >= 2;
                },
                10000));
            stopAt = RequestCount(*b.sim);
            logic.StopClicked();
        }
        ASSERT_TRUE(b.RunToEnd(20000));
        TWaitService::SetObserver(previous);
        ASSERT_GE(stopAt, 0);
        EXPECT_EQ(b.observer.ends.back().outcome, TRunOutcome::Stopped);
        EXPECT_TRUE(b.observer.ends.back().outputsOff);
        EXPECT_FALSE(b.view.Locked());
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        EXPECT_LT(b.observer.points.size(), 3u);
        // What went out after "Стоп".
        PumpFor(200);
        const auto frames = InstallationRequests(*b.sim);
        const int after = RequestCount(*b.sim) - stopAt;
        ASSERT_GE(int(frames.size()), after);
        std::vector<std::string> sent;
        for (size_t k = frames.size() - size_t(after); k < frames.size(); ++k)
            sent.push_back(std::to_string(Register(frames[k])) + ":" + std::to_string(frames[k][1]));
        EXPECT_EQ(sent, (std::vector<std::string>{"124:16", "100:16", "0:6"}));
        EXPECT_TRUE(OutputsOff(*b.sim));
    }

    // The 5000 ms after "Авто": stopped, no address request follows.
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TAvtopoverkaLogic &logic = b.Open();
    bool modeWait = false;
    const auto previous = TWaitService::SetObserver([&](int ms, const QString &purpose) {
        if (purpose == TRunDriver::kWaitMode && ms == 5000)
            modeWait = true;
    });
    logic.AutoClicked(true, 1);
    ASSERT_TRUE(PumpUntil([&] { return modeWait; }, 5000));
    PumpFor(50);
    const int before = RequestCount(*b.sim);
    logic.StopClicked();
    EXPECT_FALSE(logic.Driver().IsBusy());
    PumpFor(1500); // beyond the shortened 5000 ms
    TWaitService::SetObserver(previous);
    EXPECT_EQ(RequestCount(*b.sim), before);
    EXPECT_FALSE(logic.Driver().Engine().IsOpen());
}

// "Прочитать настройки": scheme, current and voltage ranges and the analog output range from the
// transducer's identity (1 A → "1A", 5 A → "5A"); with "Авто" the transducer's coefficients are stored;
// a transducer of type 0 gives "Прибор не определён".
TEST_F(VerificationRun, ReadSettingsTakesTheTransducersRanges)
{
    struct TCase {
        const char *coefs; // U1 U2 I1 I2
        int analogRange;
        QString range, voltage;
        int signal;
    };
    const TCase cases[] = {
        {"100 100 1 1", 0, QStringLiteral("1"), QStringLiteral("100"), 0},
        {"10000 380 100 5", 1, QStringLiteral("5"), QStringLiteral("380"), 1},
        {"6000 400 200 2.5", 1, QStringLiteral("2,5"), QStringLiteral("400"), 1},
        {"10000 57.7 100 0.5", 0, QStringLiteral("0,5"), QStringLiteral("100"), 0},
    };
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TAvtopoverkaLogic &logic = b.Open();
    b.sim->Command("address 7");
    logic.AutoClicked(true, 1);
    EXPECT_FALSE(b.view.addressEnabled);
    EXPECT_TRUE(b.view.readSettingsEnabled);
    ASSERT_TRUE(b.RunToEnd(10000));
    EXPECT_EQ(b.view.values[TEntry::Address], 7); // read back after the mode wait
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.coefs);
        b.sim->Command(std::string("coefs ") + tc.coefs);
        b.sim->Command("analog-range " + std::to_string(tc.analogRange));
        logic.SchemeChosen(false);
        logic.ReadSettingsClicked();
        ASSERT_TRUE(b.RunToEnd(10000));
        EXPECT_TRUE(b.view.errors.isEmpty()) << b.view.errors.join(" | ").toStdString();
        EXPECT_TRUE(b.view.selections.scheme4);
        EXPECT_EQ(Caption(b.view.selections.currentRange), tc.range);
        EXPECT_EQ(Caption(b.view.selections.voltage), tc.voltage);
        EXPECT_EQ(b.view.selections.outputSignalIndex, tc.signal);
        EXPECT_FALSE(logic.Driver().Engine().IsOpen());
    }
    EXPECT_EQ(TDeviceSettingsConfig(b.store.get()).ReadKI2(), QStringLiteral("0,5"));
    EXPECT_EQ(b.view.coefficients, QStringLiteral("KU = 10000/57,7       KI = 100/0,5"));

    b.sim->Command("type none");
    logic.ReadSettingsClicked();
    ASSERT_TRUE(b.RunToEnd(10000));
    EXPECT_TRUE(b.view.messages.contains(QStringLiteral("Прибор не определён")));
}

// Closing the window in the middle of a run switches the installation off and waits for it before the
// port goes; the window's position is kept.
TEST_F(VerificationRun, ClosingDuringARunSwitchesOffFirst)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TAvtopoverkaLogic &logic = b.Open();
    logic.VoltageChosen(TVoltageRange::V100);
    b.AddPoints(0, {{5, 57.74, 0, 50}, {2, 50, 0, 50}, {1, 40, 0, 50}});
    ASSERT_TRUE(logic.StartCurrentTab());
    ASSERT_TRUE(PumpUntil([&] { return !b.observer.points.empty(); }, 10000));
    EXPECT_FALSE(OutputsOff(*b.sim)); // the second point is being set
    logic.Closing(321, 123);
    EXPECT_FALSE(logic.Driver().IsBusy());
    EXPECT_FALSE(logic.Driver().Engine().IsOpen());
    EXPECT_TRUE(b.observer.ends.back().outputsOff);
    EXPECT_TRUE(OutputsOff(*b.sim));
    EXPECT_EQ(TConfigQX4(b.store.get()).ReadAvtopoverkaWindowCoordX(), 321);
    EXPECT_EQ(TConfigQX4(b.store.get()).ReadAvtopoverkaWindowCoordY(), 123);
}

// A hundred points (two tabs of fifty) three times against kest-sim in a process of its own: a run leaves
// this process's heap as the run before left it. What a run keeps grows the heap by the same amount every
// time; what a busy machine leaves in flight at one measurement (a late timer, a re-send) does not come
// back at the next, so the smaller of the two changes is judged.
TEST_F(VerificationRun, HundredPointRunsDoNotGrowTheHeap)
{
    TScopedWaitScale shorter(0.005);
    QProcess sim;
    sim.start(QStringLiteral(KEST_SIM_EXECUTABLE), {"--no-announce", "--device-type", "QX4"});
    ASSERT_TRUE(sim.waitForStarted(10000));
    QString port;
    ASSERT_TRUE(PumpUntil(
        [&] {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QStringLiteral("installation: ")))
                port = line.mid(14);
            return !port.isEmpty();
        },
        10000));
    TConfigController store(KestTestHome::NewFolder(), QStringLiteral("/Valtrix"), QStringLiteral("KestManager"),
        QStringLiteral("/Settings.txt"));
    TGlobalConfig(&store).WriteWaitingTime(QStringLiteral("1"));
    WriteCoefficients(&store, {100, 5, 10000, 100});
    for (int tab = 0; tab < 2; ++tab)
        TConfigQX4(&store).WriteTabOutputSet(tab, {"1", "4", "22", "26"});
    TRecordingView view;
    TRecordingObserver observer;
    {
        TAvtopoverkaLogic logic(&view, &store, TConfigurationCode::QX4);
        logic.SetPortOverride(port, QStringLiteral("115200"));
        logic.AddRunObserver(&observer);
        logic.Init();
        logic.Driver().Engine().SetByteTimeout(20);
        logic.VoltageChosen(TVoltageRange::V100);
        logic.PlusClicked();
        for (int tab = 0; tab < 2; ++tab) {
            logic.TabSelected(tab);
            logic.AutoIncrementChosen(false, 0);
            for (int k = 0; k < 50; ++k)
                logic.AddRowClicked({0.1 * (k + 1) + tab * 0.05, 57.74 - k * 0.3, double(k % 4) * 10, 50, 1});
        }
        size_t heap[3] = {0, 0, 0};
        for (int run = 0; run < 3; ++run) {
            ASSERT_TRUE(logic.StartAllTabs()) << view.errors.join(" | ").toStdString();
            ASSERT_TRUE(PumpUntil([&] { return !logic.Driver().IsBusy(); }, 300000));
            ASSERT_EQ(observer.points.size(), 100u);
            EXPECT_TRUE(observer.ends.back().outputsOff);
            EXPECT_TRUE(view.errors.isEmpty()) << view.errors.join(" | ").toStdString();
            view.progress.clear();
            view.progress.squeeze();
            view.messages.clear();
            observer.points.clear();
            observer.points.shrink_to_fit();
            observer.starts.clear();
            observer.starts.shrink_to_fit();
            PumpFor(100);
            heap[run] = HeapInUse();
        }
        const long growth[2] = {long(heap[1]) - long(heap[0]), long(heap[2]) - long(heap[1])};
        std::printf("heap after runs 1, 2, 3: %zu, %zu, %zu bytes (%+ld, %+ld)\n", heap[0], heap[1], heap[2], growth[0],
            growth[1]);
        EXPECT_LT(std::min(std::labs(growth[0]), std::labs(growth[1])), 64 * 1024);
    }
    sim.terminate();
    sim.waitForFinished(5000);
}

// The window's editing without a run: "АвтоИнкр.", ten tabs and "+", closing and showing tabs again (not in
// the current transducer's window), copy and paste, "Заполнить точки", twelve scenario tables into ten
// tabs, and the starts that must not happen: empty tables, a point beyond the entries' limits (refused
// before the port is touched), a port that is not there.
TEST_F(VerificationRun, EditingTabsAndRefusedStarts)
{
    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    TAvtopoverkaLogic &logic = b.Open();
    TVerificationTabs &tabs = logic.Tabs();
    EXPECT_EQ(b.view.values[TEntry::Current], 5);
    EXPECT_EQ(b.view.limits[TEntry::Current], std::make_pair(0.0, 6.25));
    EXPECT_EQ(b.view.limits[TEntry::Voltage].second, 1.55 * 219.39);
    EXPECT_EQ(b.view.limits[TEntry::Frequency], std::make_pair(45.0, 55.0));
    EXPECT_EQ(b.view.values[TEntry::Frequency], 51);

    // "АвтоИнкр.": the first row as entered, the next one step up.
    logic.AddRowClicked({5, 100, 0, 50, 1});
    logic.AddRowClicked({5, 100, 0, 50, 1});
    logic.AddRowClicked({5.5, 100, 0, 50, 1});
    EXPECT_EQ(tabs.Current().Cells(0, 1), QStringLiteral("5"));
    EXPECT_EQ(tabs.Current().Cells(0, 2), QStringLiteral("5,5"));
    EXPECT_EQ(tabs.Current().Cells(0, 3), QStringLiteral("6"));
    logic.VoltageChosen(TVoltageRange::V100); // 100 V is now beyond 1,55 × 57,74
    const int before = RequestCount(*b.sim);
    EXPECT_FALSE(logic.StartCurrentTab());
    EXPECT_TRUE(b.view.errors.last().contains(QStringLiteral("напряжение 100 V")))
        << b.view.errors.last().toStdString();
    EXPECT_EQ(RequestCount(*b.sim), before);
    EXPECT_FALSE(b.view.Locked());

    // Copy, paste, fill.
    logic.CopyTabClicked();
    EXPECT_TRUE(b.view.pasteEnabled);
    logic.PlusClicked();
    logic.PasteClicked();
    EXPECT_EQ(tabs.Current().RowCount(), 4);
    logic.ClearAllClicked();
    logic.FillPointsClicked({0, 57.74, 0, 50, 1});
    std::vector<double> currents;
    for (const TRunPoint &p : tabs.RowsOf(tabs.Active()))
        currents.push_back(p.input.Ia.value);
    EXPECT_EQ(currents, (std::vector<double>{0, 1.25, 2.5, 3.75, 5, 6}));

    // Ten tabs at most; "+" hidden at ten, back after a close, and showing the closed tab again.
    while (tabs.Count() < 10)
        logic.PlusClicked();
    EXPECT_FALSE(b.view.plusVisible);
    logic.TabSelected(4);
    logic.CloseTabClicked();
    EXPECT_TRUE(tabs.IsHidden(4));
    EXPECT_EQ(tabs.Active(), 0);
    EXPECT_TRUE(b.view.plusVisible);
    logic.PlusClicked();
    EXPECT_EQ(tabs.Count(), 10);
    EXPECT_FALSE(tabs.IsHidden(4));

    // Twelve tables in a scenario file: ten tabs filled.
    QString text;
    for (int t = 0; t < 12; ++t)
        text += QStringLiteral("Table\r\nT%1\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n%2;50;0;50\r\n")
                    .arg(t)
                    .arg(t % 5 + 1);
    const QString file = KestTestHome::NewFolder() + QStringLiteral("/scenario.csv");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\xEF\xBB\xBF") + text.toUtf8());
    f.close();
    ASSERT_TRUE(logic.LoadScenario(file));
    EXPECT_EQ(tabs.Grid(9).Title, QStringLiteral("T9"));
    EXPECT_EQ(tabs.Grid(9).Cells(0, 1), QStringLiteral("5"));
    EXPECT_EQ(b.view.captions[9], QStringLiteral("T9"));
    EXPECT_TRUE(b.view.messages.last().contains(QStringLiteral("10"))) << b.view.messages.last().toStdString();

    // The current transducer's window never shows a closed tab again.
    TBench i("I", TConfigurationCode::I);
    TAvtopoverkaLogic &li = i.Open();
    while (li.Tabs().Count() < 10)
        li.PlusClicked();
    li.CloseTabClicked();
    EXPECT_FALSE(i.view.plusVisible);
    li.PlusClicked();
    EXPECT_EQ(li.Tabs().HiddenCount(), 1);
    EXPECT_FALSE(li.StartAllTabs()); // nothing to run

    // A fractional angle is refused where it is entered, and at the start for a row loaded from a file:
    // the installation would be sent the whole degrees.
    const int rowsBefore = tabs.Current().RowCount();
    logic.AddRowClicked({1, 50, 30.5, 50, 1});
    EXPECT_EQ(tabs.Current().RowCount(), rowsBefore);
    EXPECT_TRUE(b.view.errors.last().contains(QStringLiteral("30,5"))) << b.view.errors.last().toStdString();
    logic.RowClicked(1);
    const QString angleCell = tabs.Current().Cells(2, 1);
    b.view.errors.clear();
    logic.EntryAction(TEntry::Angle, 30.5);
    EXPECT_EQ(tabs.Current().Cells(2, 1), angleCell);
    EXPECT_EQ(b.view.errors.size(), 1);
    const QString table = KestTestHome::NewFolder() + QStringLiteral("/angle.csv");
    QFile t(table);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write(QStringLiteral("Ток, A;Напр., V;Угол, °;Частота, Hz\r\n1;50;30;50\r\n1;50;30,5;50\r\n").toUtf8());
    t.close();
    ASSERT_TRUE(logic.LoadTable(table));
    const int sent = RequestCount(*b.sim);
    EXPECT_FALSE(logic.StartCurrentTab());
    EXPECT_TRUE(b.view.errors.last().contains(QStringLiteral("строка 2"))
        && b.view.errors.last().contains(QStringLiteral("30,5")))
        << b.view.errors.last().toStdString();
    EXPECT_EQ(RequestCount(*b.sim), sent);

    // A port that is not there.
    logic.SetPortOverride(QStringLiteral("/dev/kest-no-such-port"));
    logic.ClearAllClicked();
    logic.AddRowClicked({1, 50, 0, 50, 1});
    EXPECT_FALSE(logic.StartCurrentTab());
    EXPECT_EQ(b.view.errors.last(), QStringLiteral("Порт не найден"));
    EXPECT_FALSE(b.view.Locked());
}
