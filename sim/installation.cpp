#include "installation.h"

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
    case DeviceType::QX4E: return 1;
    case DeviceType::I: return 2;
    case DeviceType::U: return 3;
    case DeviceType::F: return 4;
    case DeviceType::P: return 5;
    case DeviceType::Q: return 6;
    case DeviceType::PQ: return 7;
    default: return 0;
    }
}

double Setpoint(float v) { return std::isfinite(v) && v > 0 ? std::min<double>(v, 1000.0) : 0.0; }
}  // namespace

Installation::Installation()
{
    switches.fill(1);
    uint16_t hi, lo;
    FloatToWords(50.0f, hi, lo);
    outputWords[42] = hi;
    outputWords[43] = lo;
}

float Installation::OutputFloat(int reg) const
{
    return WordsToFloat(outputWords[reg - 100], outputWords[reg - 99]);
}

Outputs Installation::CurrentOutputs() const
{
    Outputs o;
    const float f = OutputFloat(142);
    o.frequency = std::isfinite(f) && f > 0 ? f : 0.0;
    o.angleDeg = std::fmod(double(int16_t(outputWords[40])), 360.0);
    if (!control[kRemote])
        return o;
    auto on = [&](int amplifier) { return switches[amplifier] != 0 && amplifierFailure != amplifier + 1; };
    // The voltage flag register chooses the amplifier that drives phase A: 0 puts the 650 V
    // amplifier there (its setpoint shares registers 100/136, its switch is 218).
    const bool u650 = control[kVoltageFlag] == 0;
    const bool aOn = on(u650 ? 9 : 0);
    o.u[0] = aOn ? Setpoint(OutputFloat(100)) : 0.0;
    o.u[1] = on(1) ? Setpoint(OutputFloat(102)) : 0.0;
    o.u[2] = on(2) ? Setpoint(OutputFloat(104)) : 0.0;
    if (control[kSpeedOver300] == 1) {
        // Over 300 V the amplifiers of A and C are put in series on terminal A; a switched-off
        // phase-A amplifier opens the chain.
        o.u[0] = aOn ? o.u[0] + o.u[2] : 0.0;
        o.u[2] = 0.0;
    }
    const bool fiveAmp = control[kRange5A] != 0;
    const int base = fiveAmp ? 124 : 112;
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
        return true;   // automatic mode searches the address and the speed
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
    w.push_back(t.mem.scheme == 0 ? 1 : 0);   // the identity says 1 for three-wire
    w.push_back(uint16_t(t.mem.analogRange));
    for (int o = 0; o < 3; ++o)
        w.push_back(uint16_t(t.AnalogParameter(o)));   // 1-based quantity numbers, 0 for none
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
                w.push_back(0xFFFF);   // no energy counters in the plain QX4
                w.push_back(0xFFFF);
            } else {
                PutFloatWords(w, value(k));
            }
        }
        break;
    case DeviceType::I: PutFloatWords(w, value(kIa)); break;
    case DeviceType::U: PutFloatWords(w, value(kUa)); break;
    case DeviceType::F: PutFloatWords(w, value(kF)); break;
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
    default: break;
    }
    w.resize(68, 0);
    return w;
}

uint8_t Installation::WriteControl(uint16_t reg, uint16_t value)
{
    if (reg <= 16 && reg % 2 == 0) {
        control[reg / 2] = value;
        return 0;
    }
    if (reg == 140) {
        outputWords[40] = value;
        return 0;
    }
    if (reg >= 200 && reg <= 218 && reg % 2 == 0) {
        if (value > 1)
            return 3;
        switches[(reg - 200) / 2] = value;
        return 0;
    }
    if (reg == 1996) {
        if (value > 1)
            return 3;
        mode = value;
        return 0;
    }
    if (reg == 1998) {
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
        if (end <= 17) {
            for (unsigned r = first; r < end; ++r)
                words.push_back(r % 2 ? 0 : control[r / 2]);
        } else if (first >= 100 && end <= 144) {
            words.assign(outputWords.begin() + (first - 100), outputWords.begin() + (end - 100));
        } else if (first >= 200 && end <= 220) {
            for (unsigned r = first; r < end; ++r)
                words.push_back(r % 2 ? 0 : switches[(r - 200) / 2]);
        } else if (first >= 700 && end <= 700u + (oldDevInfo ? 15u : 19u)) {
            std::vector<uint16_t> block = DeviceInfoBlock(t);
            block.resize(19);
            slice(700, block);
        } else if (first >= 994 && end <= 994 + 69) {
            std::vector<uint16_t> block{StatusWord(t)};
            PutFloatWords(block, float(MeasuredAnalog(t)));
            const Quantities q = Meter(t);
            for (double v : q)
                PutFloatWords(block, float(v));
            slice(994, block);
        } else if (first == 1996 && end <= 1996 + 68) {
            slice(1996, RelayBlock(t));
        } else if (first == 1998 && end == 1999) {
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
        if (rq.reg == 0 || rq.reg == 200) {
            // Blocks of 16-bit settings: the n-th register of the block is the setting at start + 2n.
            if (rq.count > (rq.reg == 0 ? 9 : 10))
                return exception(2);
            for (unsigned n = 0; n < rq.count; ++n)
                if (rq.reg == 200 && word(n) > 1)
                    return exception(3);
            for (unsigned n = 0; n < rq.count; ++n)
                WriteControl(uint16_t(rq.reg + 2 * n), word(n));
        } else if (rq.reg >= 100 && end <= 144) {
            for (unsigned n = 0; n < rq.count; ++n)
                outputWords[rq.reg - 100 + n] = word(n);
            // Registers 100 and 136 are two names of the phase-A voltage setpoint.
            const bool touchedA = rq.reg <= 101 && end > 100;
            const bool touched650 = rq.reg <= 137 && end > 136;
            if (touched650 && !touchedA) {
                outputWords[0] = outputWords[36];
                outputWords[1] = outputWords[37];
            } else if (touchedA) {
                outputWords[36] = outputWords[0];
                outputWords[37] = outputWords[1];
            }
        } else if ((rq.reg == 1996 || rq.reg == 1998) && rq.count == 1) {
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

}  // namespace kestsim
