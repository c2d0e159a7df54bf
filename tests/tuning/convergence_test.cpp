// Tuning on a transducer that behaves like a real one: readings with noise, every change written
// settling with a lag, angle and offset steps with play and a little non-linearity, and gain errors drawn
// per case. Every combination of transformation coefficients, modification (either side of 9), range
// pair and analog stage runs at once, each against its own simulator; afterwards each transducer is
// checked straight at the simulator, with the installation energised again and the noise off.
#include "tuningtestutil.h"

#include "config/devicesettingsconfig.h"
#include "modbusslave.h"
#include "protocol/numberformat.h"

#include <cmath>
#include <cstdio>
#include <random>

using namespace tuningtest;

namespace {

// Settling waits at a tenth of their prescribed length, and a device time constant that keeps the
// same proportion to them as a real transducer's ~400 ms keeps to 2 s: the shortest wait (the analog
// ones) is five time constants, the time between two exchanges about one.
constexpr double kWaitScale = 0.1;
constexpr int kLagMs = 40;
constexpr double kDeviceNoise = 1e-4; // 0,01 % of full scale: a twentieth of the permissible 0,2 %
constexpr double kPermissible = 0.2; // percent

struct Case {
    std::string name;
    bool ratio; // KU 10000/100 and KI 100/5 (as ratios on the case's secondary values) or 1:1
    int modification;
    double lineVoltage, current; // the transducer's secondary values and so the installation's ranges
    bool analog;
    int analogType; // "-5 - 0 - 5 мА" or "4 - 12 - 20 мА"
    uint64_t seed;

    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<TConfigController> config;
    TRecorder rec;
    std::unique_ptr<TAutoTuning> tuning;

    double U1() const { return ratio ? lineVoltage * 100 : lineVoltage; }
    double I1() const { return ratio ? current * 20 : current; }
    std::string Trace() const
    {
        return name + " (kest-sim --seed " + std::to_string(seed) + ")\n"
            + rec.log.join(QLatin1Char('\n')).toStdString();
    }
};

std::string Fixed(double v)
{
    std::ostringstream s;
    s.precision(6);
    s << std::fixed << v;
    return s.str();
}

// The device's own errors for one case, from its seed: channel gains up to ±1 %, phase errors up to
// ±2°, analog gains up to ±0,6 % and offsets up to ±0,06 mA.
std::vector<std::string> DrawnErrors(uint64_t seed)
{
    std::mt19937_64 rng(seed);
    auto draw = [&](double limit) { return std::uniform_real_distribution<double>(-limit, limit)(rng); };
    std::vector<std::string> c;
    for (const char *q : {"Ua", "Ub", "Uc", "Uab", "Ubc", "Uac", "Ia", "Ib", "Ic"})
        c.push_back(std::string("error ") + q + " " + Fixed(draw(1.0)));
    c.push_back("error F " + Fixed(draw(0.05)));
    for (const char *p : {"A", "B", "C"})
        c.push_back(std::string("phase-error ") + p + " " + Fixed(draw(2.0)));
    for (int o = 1; o <= 3; ++o)
        c.push_back("analog-error " + std::to_string(o) + " " + Fixed(draw(0.6)) + " " + Fixed(draw(0.06)));
    return c;
}

// The transducer's reduced errors (percent of its secondary full scale) with the installation at
// the case's nominal output and angle φ, and its analog outputs at their middle and top points (mA off).
struct Accuracy {
    std::map<int, double> percent;
    std::vector<double> middle, top;
};

Accuracy Measure(Case &c)
{
    kestsim::KestSimulator &sim = *c.sim;
    Accuracy a;
    for (const char *cmd : {"device-noise 0", "noise 0", "device-settle"})
        EXPECT_EQ(sim.Command(cmd).substr(0, 2), "ok");
    TSyncLink link;
    link.Engine().SetPort(sim.InstallationPath());
    link.Engine().SetRate("115200");
    link.Engine().OpenPort();
    TKestCmdManager k;
    TKestConfiguration conf;
    conf.AmperageMax = c.current;
    conf.VoltageMax = int(c.lineVoltage);
    conf.VoltageFlag = c.lineVoltage != 100;
    conf.SchemeFlag = true;
    const double u = c.lineVoltage / std::sqrt(3.0), i = c.current;
    const bool fiveAmp = i > 1;
    const char *names[] = {"", "Ua", "Ub", "Uc", "Ia", "Ib", "Ic", "Uab", "Ubc", "Uac", "Pa", "Pb", "Pc"};
    for (int angle : {0, 90}) {
        for (const TFramePtr &f : {k.CreateCmdEnableDistantControl(conf), k.CreateCmdSendUaUbUc(u, u, u),
                 fiveAmp ? k.CreateCmdSendIa5Ib5Ic5(i, i, i) : k.CreateCmdSendIaIbIc(i, i, i),
                 k.CreateCmdSendFrequency(51), k.CreateCmdSendAngle(angle)})
            link.Exchange(f);
        const auto meter = Fields(sim.Command("meter"));
        const auto readings = Fields(sim.Command("readings"));
        for (int q = 1; q <= 12; ++q) {
            if ((angle == 90) != (q >= 10))
                continue;
            // Readings come in primary units.
            const double ratio = q <= 3 || (q >= 7 && q <= 9) ? c.U1() / c.lineVoltage
                : q <= 6                                      ? c.I1() / c.current
                                                              : c.U1() / c.lineVoltage * c.I1() / c.current;
            const double fs = kestsim::FullScale(q, c.current, c.lineVoltage);
            a.percent[q] = (readings.at(names[q]) / ratio - meter.at(names[q])) / fs * 100;
        }
        if (angle == 0)
            a.percent[26] = (readings.at("F") - meter.at("F")) / 50 * 100;
    }
    for (const TFramePtr &f :
        {k.CreateCmdSendUaUbUc(0, 0, 0), fiveAmp ? k.CreateCmdSendIa5Ib5Ic5(0, 0, 0) : k.CreateCmdSendIaIbIc(0, 0, 0)})
        link.Exchange(f);
    if (c.analog) {
        TSyncLink device;
        device.Engine().SetPort(sim.DevicePath());
        device.Engine().OpenPort();
        TQx4CmdManager d(1);
        const double middle = c.analogType == 0 ? 0 : 12, top = c.analogType == 0 ? 5 : 20;
        for (auto [mode, point, into] : {std::make_tuple(d.CreateCmdSetAnalogModeAdjustingMiddle(), middle, &a.middle),
                 std::make_tuple(d.CreateCmdSetAnalogModeAdjustingHigh(), top, &a.top)}) {
            device.Exchange(mode);
            const auto out = Fields(sim.Command("analog"));
            for (const char *o : {"out1", "out2", "out3"})
                into->push_back(out.at(o) - point);
        }
        device.Exchange(d.CreateCmdSetAnalogModeWorking());
    }
    return a;
}

} // namespace

TEST(TuningConvergence, RealisticTransducerEveryCoefficientModificationRangeAndStage)
{
    TScopedWaitScale scale{kWaitScale};
    struct Range {
        double lineVoltage, current;
    };
    // Every voltage and every current range at least once.
    const Range ranges[] = {{100, 0.5}, {380, 1}, {400, 2.5}, {100, 5}};
    std::vector<std::unique_ptr<Case>> cases;
    uint64_t seed = 2600;
    for (bool ratio : {true, false})
        for (int modification : {9, 10})
            for (size_t r = 0; r < std::size(ranges); ++r)
                for (bool analog : {false, true}) {
                    auto c = std::make_unique<Case>();
                    c->ratio = ratio;
                    c->modification = modification;
                    c->lineVoltage = ranges[r].lineVoltage;
                    c->current = ranges[r].current;
                    c->analog = analog;
                    c->analogType = int(r % 2);
                    c->seed = ++seed;
                    std::ostringstream n;
                    n << (ratio ? "KU 100:1, KI 20:1" : "1:1") << ", modification " << modification << ", "
                      << c->lineVoltage << " V, " << c->current << " A, "
                      << (analog ? "analog outputs" : "no analog stage");
                    c->name = n.str();
                    cases.push_back(std::move(c));
                }

    for (auto &c : cases) {
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        o.seed = c->seed;
        o.commands = DrawnErrors(c->seed);
        for (const std::string &cmd : {"device-noise " + Fixed(kDeviceNoise), "device-lag " + std::to_string(kLagMs),
                 std::string("device-steps 0.05 2"), "modification " + std::to_string(c->modification),
                 "coefs " + Fixed(c->U1()) + " " + Fixed(c->lineVoltage) + " " + Fixed(c->I1()) + " "
                     + Fixed(c->current)})
            o.commands.push_back(cmd);
        c->sim = std::make_unique<kestsim::KestSimulator>(o);
        std::string error;
        ASSERT_TRUE(c->sim->Start(&error)) << error;
        c->config = std::make_unique<TConfigController>(
            KestTestHome::NewFolder(), "/Valtrix", "/KestManager", "/Settings.txt");
        c->config->WritePort("Port1", QString::fromStdString(c->sim->InstallationPath()));
        c->config->WritePort("Port2", QString::fromStdString(c->sim->DevicePath()));
        TDeviceSettingsConfig coefs(c->config.get());
        coefs.WriteKU1(FloatToQStr(c->U1()));
        coefs.WriteKU2(FloatToQStr(c->lineVoltage));
        coefs.WriteKI1(FloatToQStr(c->I1()));
        coefs.WriteKI2(FloatToQStr(c->current));
        c->tuning = std::make_unique<TAutoTuning>(&c->rec);
        c->tuning->AddObserver(&c->rec);
        c->tuning->SetBeep(nullptr);
        c->tuning->InitKestCommunication(c->config.get());
        c->tuning->InitDeviceCommunication();
        c->tuning->CoefficientsEdited();
        c->tuning->AnalogToggled(c->analog);
        c->tuning->AnalogTypeChosen(c->analogType);
    }
    for (auto &c : cases)
        c->tuning->StartClicked();
    const bool ended = PumpUntil(
        [&] {
            for (auto &c : cases)
                if (!c->rec.outcome)
                    return false;
            return true;
        },
        400000);
    ASSERT_TRUE(ended);

    for (auto &c : cases) {
        SCOPED_TRACE(c->name);
        EXPECT_EQ(c->rec.outcome->end, TTuningEnd::Done) << c->Trace();
        if (c->rec.outcome->end != TTuningEnd::Done)
            continue;
        EXPECT_TRUE(c->rec.outcome->outputsOff);
        EXPECT_TRUE(c->rec.errors.isEmpty()) << c->rec.errors.join('|').toStdString();
        EXPECT_TRUE(OutputsZero(*c->sim));
        const auto memory = Fields(c->sim->Command("memory"));
        EXPECT_EQ(memory.at("modification"), 700 + c->modification);
        const Accuracy a = Measure(*c);
        for (const auto &[q, error] : a.percent)
            EXPECT_LT(std::fabs(error), kPermissible) << "quantity " << q << "\n" << c->Trace();
        // The analog points: the middle within a few steps, the top within the procedure's own 0,0031 mA
        // and what the averaged noise leaves.
        for (double e : a.middle)
            EXPECT_LT(std::fabs(e), 0.005) << "middle\n" << c->Trace();
        for (double e : a.top)
            EXPECT_LT(std::fabs(e), 0.0031 + 0.003) << "top\n" << c->Trace();
    }
}
