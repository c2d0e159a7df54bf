#pragma once
// A tuning case on kest-sim's transducer made unkind (noise, settling lag, dead band and non-linear
// steps, errors drawn from a seed), and the check of what a run left in the transducer, made at the
// simulator with the installation energised again: shared by the convergence test and tuning_bench.

#include <QString>

#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "kestsimulator.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/numberformat.h"
#include "protocol/qx4cmdmanager.h"
#include "syncexchange.h"
#include "transducer.h"

namespace realtransducer {

inline constexpr double kDeviceNoise = 1e-4; // 0,01 % of full scale: a twentieth of the permissible 0,2 %
inline constexpr double kPermissible = 0.2; // percent of full scale
// A real transducer's time constant against the prescribed 2 s and 5 s waits; scaled with the waits.
inline constexpr double kRealLagMs = 400;

struct TuningCase {
    bool ratio = false; // KU 10000/100 and KI 100/5 (as ratios on the case's secondary values) or 1:1
    int modification = 5;
    double lineVoltage = 100, current = 5; // the transducer's secondary values, so the installation's ranges
    bool analog = false;
    int analogType = 1; // "-5 - 0 - 5 мА" or "4 - 12 - 20 мА"
    uint64_t seed = 1;

    double U1() const { return ratio ? lineVoltage * 100 : lineVoltage; }
    double I1() const { return ratio ? current * 20 : current; }
    std::string Name() const
    {
        std::ostringstream n;
        n << (ratio ? "KU 100:1, KI 20:1" : "1:1") << ", modification " << modification << ", " << lineVoltage << " V, "
          << current << " A, " << (analog ? "analog outputs" : "no analog stage") << " (kest-sim --seed " << seed
          << ")";
        return n.str();
    }
};

inline std::string Fixed(double v)
{
    std::ostringstream s;
    s.precision(6);
    s << std::fixed << v;
    return s.str();
}

// kest-sim's commands for the case: the device's own errors from its seed (channel gains up to ±1 %,
// phase errors up to ±2°, analog gains up to ±0,6 % and offsets up to ±0,06 mA), its unkindness with
// the lag given, its modification and coefficients.
inline std::vector<std::string> SimCommands(const TuningCase &c, double lagMs)
{
    std::mt19937_64 rng(c.seed);
    auto draw = [&](double limit) { return std::uniform_real_distribution<double>(-limit, limit)(rng); };
    std::vector<std::string> s;
    for (const char *q : {"Ua", "Ub", "Uc", "Uab", "Ubc", "Uac", "Ia", "Ib", "Ic"})
        s.push_back(std::string("error ") + q + " " + Fixed(draw(1.0)));
    s.push_back("error F " + Fixed(draw(0.05)));
    for (const char *p : {"A", "B", "C"})
        s.push_back(std::string("phase-error ") + p + " " + Fixed(draw(2.0)));
    for (int o = 1; o <= 3; ++o)
        s.push_back("analog-error " + std::to_string(o) + " " + Fixed(draw(0.6)) + " " + Fixed(draw(0.06)));
    s.push_back("device-noise " + Fixed(kDeviceNoise));
    s.push_back("device-lag " + Fixed(lagMs));
    s.push_back("device-steps 0.05 2");
    s.push_back("modification " + std::to_string(c.modification));
    s.push_back("coefs " + Fixed(c.U1()) + " " + Fixed(c.lineVoltage) + " " + Fixed(c.I1()) + " " + Fixed(c.current));
    return s;
}

// The program's coefficients for the case, as the user enters them.
inline void WriteCoefficients(TConfigController &config, const TuningCase &c)
{
    TDeviceSettingsConfig coefs(&config);
    coefs.WriteKU1(FloatToQStr(c.U1()));
    coefs.WriteKU2(FloatToQStr(c.lineVoltage));
    coefs.WriteKI1(FloatToQStr(c.I1()));
    coefs.WriteKI2(FloatToQStr(c.current));
}

// "ok a=1 b=2" → {a: 1, b: 2} for the numeric fields of a kest-sim answer.
inline std::map<std::string, double> Fields(const std::string &answer)
{
    std::map<std::string, double> out;
    std::istringstream in(answer);
    for (std::string w; in >> w;) {
        const size_t eq = w.find('=');
        if (eq == std::string::npos)
            continue;
        char *end = nullptr;
        const double v = std::strtod(w.c_str() + eq + 1, &end);
        if (end && *end == '\0')
            out[w.substr(0, eq)] = v;
    }
    return out;
}

// What a run left in the transducer: its reduced errors (percent of its secondary full scale) with the
// installation at the case's nominal output (quantities 1…9 and 26 at 0°, Pa…Pc at 90°), and its
// analog outputs at their middle and top points (mA off).
struct Accuracy {
    std::map<int, double> percent;
    std::vector<double> middle, top;

    // Empty when every quantity is within the permissible error and the analog points within what the
    // procedure aims at (the middle within a few steps, the top within its 0,0031 mA and what the
    // averaged noise leaves); otherwise what is not.
    std::string Faults() const
    {
        std::ostringstream s;
        for (const auto &[q, e] : percent)
            if (!(std::fabs(e) < kPermissible))
                s << "quantity " << q << ": " << e << " %; ";
        for (double e : middle)
            if (!(std::fabs(e) < 0.005))
                s << "analog middle " << e << " mA; ";
        for (double e : top)
            if (!(std::fabs(e) < 0.0031 + 0.003))
                s << "analog top " << e << " mA; ";
        return s.str();
    }
};

// The installation's meter against the device's readings at one point: each quantity's error in % of
// its full scale, the readings taken back to the installation's side by `ku`, `ki` (primary units
// over secondary ones). The outputs stay on; SwitchOff ends the point.
inline std::map<int, double> PercentErrorsAt(
    kestsim::KestSimulator &sim, TSyncLink &link, double lineVoltage, double current, int angle, double ku, double ki)
{
    TKestCmdManager k;
    TKestConfiguration conf;
    conf.AmperageMax = current;
    conf.VoltageMax = int(lineVoltage);
    conf.VoltageFlag = lineVoltage != 100;
    conf.SchemeFlag = true;
    const double u = lineVoltage / std::sqrt(3.0);
    for (const TFramePtr &f : {k.CreateCmdEnableDistantControl(conf), k.CreateCmdSendUaUbUc(u, u, u),
             current > 1 ? k.CreateCmdSendIa5Ib5Ic5(current, current, current)
                         : k.CreateCmdSendIaIbIc(current, current, current),
             k.CreateCmdSendFrequency(51), k.CreateCmdSendAngle(angle)})
        link.Exchange(f);
    const auto meter = Fields(sim.Command("meter"));
    const auto readings = Fields(sim.Command("readings"));
    const char *names[] = {"", "Ua", "Ub", "Uc", "Ia", "Ib", "Ic", "Uab", "Ubc", "Uac", "Pa", "Pb", "Pc"};
    std::map<int, double> errors;
    for (int q = 1; q <= 12; ++q) {
        const double ratio = q <= 3 || (q >= 7 && q <= 9) ? ku : q <= 6 ? ki : ku * ki;
        const double fs = kestsim::FullScale(q, current, lineVoltage);
        errors[q] = (readings.at(names[q]) / ratio - meter.at(names[q])) / fs * 100;
    }
    errors[26] = (readings.at("F") - meter.at("F")) / 50 * 100;
    return errors;
}

inline void SwitchOff(TSyncLink &link)
{
    TKestCmdManager k;
    for (const TFramePtr &f : {k.CreateCmdSendUaUbUc(0, 0, 0), k.CreateCmdSendIa5Ib5Ic5(0, 0, 0)})
        link.Exchange(f);
}

inline Accuracy MeasureAtSimulator(kestsim::KestSimulator &sim, const TuningCase &c)
{
    Accuracy a;
    for (const char *cmd : {"device-noise 0", "noise 0", "device-settle"})
        sim.Command(cmd);
    TSyncLink link;
    link.Engine().SetPort(sim.InstallationPath());
    link.Engine().SetRate("115200");
    link.Engine().OpenPort();
    // Readings come in primary units. Voltages and currents at 0°, powers where the tuning set them (90°).
    const double ku = c.U1() / c.lineVoltage, ki = c.I1() / c.current;
    for (int angle : {0, 90}) {
        const std::map<int, double> errors = PercentErrorsAt(sim, link, c.lineVoltage, c.current, angle, ku, ki);
        for (int q = 1; q <= 12; ++q)
            if ((angle == 90) == (q >= 10))
                a.percent[q] = errors.at(q);
        if (angle == 0)
            a.percent[26] = errors.at(26);
    }
    SwitchOff(link);
    if (c.analog) {
        TSyncLink device;
        device.Engine().SetPort(sim.DevicePath());
        device.Engine().OpenPort();
        TQx4CmdManager d(1);
        const double middle = c.analogType == 0 ? 0 : 12, top = c.analogType == 0 ? 5 : 20;
        device.Exchange(d.CreateCmdSetAnalogModeAdjustingMiddle());
        for (const char *o : {"out1", "out2", "out3"})
            a.middle.push_back(Fields(sim.Command("analog")).at(o) - middle);
        device.Exchange(d.CreateCmdSetAnalogModeAdjustingHigh());
        for (const char *o : {"out1", "out2", "out3"})
            a.top.push_back(Fields(sim.Command("analog")).at(o) - top);
        device.Exchange(d.CreateCmdSetAnalogModeWorking());
    }
    return a;
}

} // namespace realtransducer
