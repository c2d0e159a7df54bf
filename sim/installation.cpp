#include "installation.h"

#include "registers.h"

#include <cmath>

namespace kestsim {

namespace {
constexpr int kRemote = 0, kRange5A = 1, kVoltageFlag = 2, kAnalogInput = 3, kSpeedOver300 = 7, kParamNum = 8;

void PutFloatWords(std::vector<uint16_t> &w, float v)
{
    uint16_t hi, lo;
    FloatToWords(v, hi, lo);
    w.push_back(hi);
    w.push_back(lo);
}

uint16_t TypeCode(DeviceType type)
{
    switch (type) {
    case DeviceType::QX4:
    case DeviceType::QX4E:
        return 1;
    case DeviceType::I:
        return 2;
    case DeviceType::U:
        return 3;
    case DeviceType::F:
        return 4;
    case DeviceType::P:
        return 5;
    case DeviceType::Q:
        return 6;
    case DeviceType::PQ:
        return 7;
    default:
        return 0;
    }
}

// The most an amplifier gives: a phase voltage amplifier 300 V (hence the series connection of A and C
// above that), the 650 V amplifier 650 V, a current amplifier as much as it is asked (within reason).
constexpr double kPhaseVoltageTop = 300.0, kU650Top = 650.0, kCurrentTop = 1000.0;

double Setpoint(float v, double top = kCurrentTop)
{
    return std::isfinite(v) && v > 0 ? std::min<double>(v, top) : 0.0;
}
} // namespace

Installation::Installation()
{
    switches.fill(1);
    uint16_t hi, lo;
    FloatToWords(50.0f, hi, lo);
    outputWords[reg::kFrequency - reg::kOutputs] = hi;
    outputWords[reg::kFrequency - reg::kOutputs + 1] = lo;
}

float Installation::OutputFloat(int r) const
{
    return WordsToFloat(outputWords[r - reg::kOutputs], outputWords[r - reg::kOutputs + 1]);
}

Outputs Installation::CurrentOutputs() const
{
    Outputs o;
    const float f = OutputFloat(reg::kFrequency);
    o.frequency = std::isfinite(f) && f > 0 ? f : 0.0;
    o.angleDeg = std::fmod(double(int16_t(outputWords[reg::kAngle - reg::kOutputs])), 360.0);
    if (!control[kRemote])
        return o;
    auto on = [&](int amplifier) { return switches[amplifier] != 0 && amplifierFailure != amplifier + 1; };
    // The voltage flag register chooses the amplifier that drives phase A: 0 puts the 650 V
    // amplifier there (its setpoint shares registers 100/136, its switch is 218).
    const bool u650 = control[kVoltageFlag] == 0;
    const bool aOn = on(u650 ? 9 : 0);
    o.u[0] = aOn ? Setpoint(OutputFloat(reg::kUa), u650 ? kU650Top : kPhaseVoltageTop) : 0.0;
    o.u[1] = on(1) ? Setpoint(OutputFloat(reg::kUb), kPhaseVoltageTop) : 0.0;
    o.u[2] = on(2) ? Setpoint(OutputFloat(reg::kUc), kPhaseVoltageTop) : 0.0;
    if (control[kSpeedOver300] == 1) {
        // Over 300 V the amplifiers of A and C are put in series on terminal A; a switched-off
        // phase-A amplifier opens the chain.
        o.u[0] = aOn ? o.u[0] + o.u[2] : 0.0;
        o.u[2] = 0.0;
    }
    const bool fiveAmp = control[kRange5A] != 0;
    const int base = fiveAmp ? reg::kIa5 : reg::kIa;
    const int sw = fiveAmp ? 6 : 3;
    for (int p = 0; p < 3; ++p)
        o.i[p] = on(sw + p) ? Setpoint(OutputFloat(base + 2 * p)) : 0.0;
    return o;
}

double Installation::Noisy(double v)
{
    if (noise <= 0)
        return v;
    return v * (1.0 + noise * normal_(rng_));
}

void Installation::Tick(std::chrono::steady_clock::time_point now)
{
    if (ticking_) {
        const double hours = std::chrono::duration<double>(now - lastTick_).count() / 3600.0;
        if (hours > 0) {
            const Quantities q = Measure(CurrentOutputs());
            energyA += q[kP - 1] * hours;
            energyR += q[kQ - 1] * hours;
        }
    }
    lastTick_ = now;
    ticking_ = true;
}

Quantities Installation::Meter(const Transducer &t)
{
    (void)t;
    Quantities q = Measure(CurrentOutputs());
    q[kWa - 1] = energyA;
    q[kWr - 1] = energyR;
    for (double &v : q)
        v = Noisy(v);
    return q;
}

bool Installation::TransducerConnected(const Transducer &t) const
{
    if (!t.plugged || t.type == DeviceType::None)
        return false;
    if (mode == 0)
        return true; // automatic mode searches the address and the speed
    return address == t.mem.netAddress && control[kSpeedOver300] == t.mem.rs1Speed;
}

double Installation::MeasuredAnalog(const Transducer &t)
{
    const int input = control[kAnalogInput];
    if (!t.plugged || input < 1 || input > 3)
        return 0;
    const Quantities readings = t.Readings(CurrentOutputs(), energyA, energyR);
    const double ma = t.AnalogCurrent(input - 1, readings);
    return noise > 0 ? ma + noise * 20.0 * normal_(rng_) : ma;
}

uint16_t Installation::StatusWord(const Transducer &t) const
{
    uint16_t w = uint16_t((amplifierFailure & 0xFF) << 8);
    if (!TransducerConnected(t))
        w |= 1;
    if (amplifierFailure)
        w |= 2;
    return w;
}

std::vector<uint16_t> Installation::DeviceInfoBlock(const Transducer &t) const
{
    std::vector<uint16_t> w;
    if (!TransducerConnected(t))
        return std::vector<uint16_t>(19, 0);
    w.push_back(TypeCode(t.type));
    w.push_back(t.type == DeviceType::QX4E ? 1 : 0);
    PutFloatWords(w, t.mem.u1);
    PutFloatWords(w, t.mem.u2);
    PutFloatWords(w, t.mem.i1);
    PutFloatWords(w, t.mem.i2);
    w.push_back(t.mem.scheme == 0 ? 1 : 0); // the identity says 1 for three-wire
    w.push_back(uint16_t(t.mem.analogRange));
    for (int o = 0; o < 3; ++o)
        w.push_back(uint16_t(t.AnalogParameter(o))); // 1-based quantity numbers, 0 for none
    PutFloatWords(w, float(t.scale > 0 ? t.scale : t.NominalScale()));
    w.push_back(uint16_t(t.digits));
    w.push_back(uint16_t(t.UnitCode()));
    return w;
}

uint16_t Installation::RelayedAddress(const Transducer &t) const
{
    if (mode == 0)
        return TransducerConnected(t) ? uint16_t(t.mem.netAddress) : 0;
    return address;
}

std::vector<uint16_t> Installation::RelayBlock(const Transducer &t) const
{
    std::vector<uint16_t> w{mode, RelayedAddress(t)};
    if (!TransducerConnected(t)) {
        w.resize(68, 0xFFFF);
        return w;
    }
    const Quantities r = t.Readings(CurrentOutputs(), energyA, energyR);
    auto value = [&](int k) { return float(t.Reported(r, k)); };
    switch (t.type) {
    case DeviceType::QX4:
    case DeviceType::QX4E:
        for (int k = 1; k <= 33; ++k) {
            if (t.type == DeviceType::QX4 && k >= kWa) {
                w.push_back(0xFFFF); // no energy counters in the plain QX4
                w.push_back(0xFFFF);
            } else {
                PutFloatWords(w, value(k));
            }
        }
        break;
    case DeviceType::I:
        PutFloatWords(w, value(kIa));
        break;
    case DeviceType::U:
        PutFloatWords(w, value(kUa));
        break;
    case DeviceType::F:
        PutFloatWords(w, value(kF));
        break;
    case DeviceType::PQ:
        if (t.pqModbus) {
            PutFloatWords(w, value(kP));
            PutFloatWords(w, value(kQ));
        } else {
            PutFloatWords(w, value(control[kParamNum] == 1 ? kP : kQ));
        }
        break;
    case DeviceType::P:
    case DeviceType::Q: {
        // These transducers put their one value in the first two registers of the block.
        const float v = value(t.type == DeviceType::P ? kP : kQ);
        w.clear();
        PutFloatWords(w, v);
        PutFloatWords(w, v);
        break;
    }
    default:
        break;
    }
    w.resize(68, 0);
    return w;
}

uint8_t Installation::WriteControl(uint16_t r, uint16_t value)
{
    if (r < reg::kControlEnd && r % 2 == 0) {
        control[r / 2] = value;
        return 0;
    }
    if (r == reg::kAngle) {
        outputWords[reg::kAngle - reg::kOutputs] = value;
        return 0;
    }
    if (r >= reg::kSwitches && r <= reg::kSwitchesLast && r % 2 == 0) {
        if (value > 1)
            return 3;
        switches[(r - reg::kSwitches) / 2] = value;
        return 0;
    }
    if (r == reg::kRelay) {
        if (value > 1)
            return 3;
        mode = value;
        return 0;
    }
    if (r == reg::kRelayedAddress) {
        if (value > 255)
            return 3;
        address = value;
        return 0;
    }
    return 2;
}

std::optional<Bytes> Installation::Handle(const Request &rq, Transducer &t)
{
    if (rq.address != kAddress && rq.address != 0)
        return std::nullopt;
    const bool broadcast = rq.address == 0;
    auto answer = [&](Bytes b) -> std::optional<Bytes> {
        if (broadcast)
            return std::nullopt;
        return b;
    };
    auto exception = [&](uint8_t code) { return answer(BuildException(rq.address, rq.function, code)); };

    switch (rq.function) {
    case kFnRead: {
        if (rq.count < 1 || rq.count > 125)
            return exception(3);
        const unsigned first = rq.reg, end = unsigned(rq.reg) + rq.count;
        std::vector<uint16_t> words;
        auto slice = [&](unsigned blockStart, const std::vector<uint16_t> &block) {
            words.assign(block.begin() + (first - blockStart), block.begin() + (end - blockStart));
        };
        if (end <= reg::kControlEnd) {
            for (unsigned r = first; r < end; ++r)
                words.push_back(r % 2 ? 0 : control[r / 2]);
        } else if (first >= reg::kOutputs && end <= reg::kOutputsEnd) {
            words.assign(outputWords.begin() + (first - reg::kOutputs), outputWords.begin() + (end - reg::kOutputs));
        } else if (first >= reg::kSwitches && end <= reg::kSwitchesEnd) {
            for (unsigned r = first; r < end; ++r)
                words.push_back(r % 2 ? 0 : switches[(r - reg::kSwitches) / 2]);
        } else if (first >= reg::kDeviceInfo && end <= reg::kDeviceInfo + (oldDevInfo ? 15u : 19u)) {
            std::vector<uint16_t> block = DeviceInfoBlock(t);
            block.resize(19);
            slice(reg::kDeviceInfo, block);
        } else if (first >= reg::kStatus && end <= reg::kStatus + reg::kStatusWords) {
            std::vector<uint16_t> block{StatusWord(t)};
            PutFloatWords(block, float(MeasuredAnalog(t)));
            const Quantities q = Meter(t);
            for (double v : q)
                PutFloatWords(block, float(v));
            slice(reg::kStatus, block);
        } else if (first == reg::kRelay && end <= reg::kRelay + reg::kRelayWords) {
            slice(reg::kRelay, RelayBlock(t));
        } else if (first == reg::kRelayedAddress && end == reg::kRelayedAddress + 1) {
            words.push_back(RelayedAddress(t));
        } else {
            return exception(2);
        }
        return answer(BuildReadAnswer(rq.address, words));
    }
    case kFnWriteOne: {
        const uint8_t code = WriteControl(rq.reg, rq.value);
        if (code)
            return exception(code);
        return answer(BuildWriteEcho(rq));
    }
    case kFnWriteMany: {
        if (rq.count < 1 || rq.count > 123 || rq.data.size() != size_t(rq.count) * 2)
            return exception(3);
        auto word = [&](unsigned n) { return GetU16(&rq.data[2 * n]); };
        const unsigned end = unsigned(rq.reg) + rq.count;
        if (rq.reg == reg::kControl || rq.reg == reg::kSwitches) {
            // Blocks of 16-bit settings: the n-th register of the block is the setting at start + 2n.
            if (rq.count > (rq.reg == reg::kControl ? 9 : 10))
                return exception(2);
            for (unsigned n = 0; n < rq.count; ++n)
                if (rq.reg == reg::kSwitches && word(n) > 1)
                    return exception(3);
            for (unsigned n = 0; n < rq.count; ++n)
                WriteControl(uint16_t(rq.reg + 2 * n), word(n));
        } else if (rq.reg >= reg::kOutputs && end <= reg::kOutputsEnd) {
            for (unsigned n = 0; n < rq.count; ++n)
                outputWords[rq.reg - reg::kOutputs + n] = word(n);
            // The phase-A voltage setpoint and the 650 V amplifier's are two names of one float.
            constexpr unsigned a = reg::kUa - reg::kOutputs, u650 = reg::kU650 - reg::kOutputs;
            const bool touchedA = rq.reg <= reg::kUa + 1 && end > reg::kUa;
            const bool touched650 = rq.reg <= reg::kU650 + 1 && end > reg::kU650;
            if (touched650 && !touchedA) {
                outputWords[a] = outputWords[u650];
                outputWords[a + 1] = outputWords[u650 + 1];
            } else if (touchedA) {
                outputWords[u650] = outputWords[a];
                outputWords[u650 + 1] = outputWords[a + 1];
            }
        } else if ((rq.reg == reg::kRelay || rq.reg == reg::kRelayedAddress) && rq.count == 1) {
            const uint8_t code = WriteControl(rq.reg, word(0));
            if (code)
                return exception(code);
        } else {
            return exception(2);
        }
        return answer(BuildWriteEcho(rq));
    }
    default:
        return exception(1);
    }
}

} // namespace kestsim
