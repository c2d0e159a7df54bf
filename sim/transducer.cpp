#include "transducer.h"

#include "registers.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace kestsim {

using namespace qx4reg;

namespace {
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kPi = 3.14159265358979323846;

// Quantity index of each tuning reference channel (Ua Ub Uc Uab Ubc Uac Ia Ib Ic F).
constexpr int kChannelQuantity[10] = {kUa, kUb, kUc, kUab, kUbc, kUac, kIa, kIb, kIc, kF};

bool IsSignedPower(int k)
{
    return (k >= kPa && k <= kQc) || k == kP || k == kQ;
}

enum class Cell { Unknown, Measured, Word, ReadOnlyWord, Action, Float };

Cell Classify(uint16_t off)
{
    if (off & 1)
        return Cell::Unknown;
    if (off < kMeasuredEnd)
        return Cell::Measured;
    switch (off) {
    case kNetAddress:
    case kSerial:
    case kYear:
    case kRs1Speed:
    case kScheme:
    case kAnalogRange:
    case kModification:
    case kRs2Config:
    case kRs2Speed:
    case kRelays:
    case kInterfaces:
    case kAnalogMode:
    case kAnalogAssign:
    case kAnalogAssign + 2:
    case kAnalogAssign + 4:
    case kNoiseZeroing:
        return Cell::Word;
    case kExtra1Word0E:
    case kExtra1Word14:
    case kExtraWord18:
    case kExtraWord1A:
    case kAnalogAssignExtra1:
    case kAnalogAssignExtra2:
    case kAnalogAssignExtra3:
        return Cell::ReadOnlyWord;
    case kAngleUp:
    case kAngleDown:
    case kAnalogUp:
    case kAnalogDown:
    case kSave:
        return Cell::Action;
    default:
        break;
    }
    if ((off >= kReferences && off < kReferencesEnd) || (off >= kFrequencyReference && off < kFrequencyReferenceEnd)
        || (off >= kAnalogReferences && off < kAnalogReferencesEnd) || (off >= kCoefficients && off < kCoefficientsEnd))
        return Cell::Float;
    return Cell::Unknown;
}

int ModificationNumber(uint16_t word)
{
    return word > 700 ? word - 700 : word;
}
} // namespace

std::optional<DeviceType> ParseDeviceType(const std::string &text)
{
    static const std::map<std::string, DeviceType> names = {{"none", DeviceType::None}, {"I", DeviceType::I},
        {"U", DeviceType::U}, {"F", DeviceType::F}, {"P", DeviceType::P}, {"Q", DeviceType::Q}, {"PQ", DeviceType::PQ},
        {"QX4", DeviceType::QX4}, {"QX4E", DeviceType::QX4E}};
    auto it = names.find(text);
    if (it == names.end())
        return std::nullopt;
    return it->second;
}

std::string DeviceTypeName(DeviceType type)
{
    switch (type) {
    case DeviceType::None:
        return "none";
    case DeviceType::I:
        return "I";
    case DeviceType::U:
        return "U";
    case DeviceType::F:
        return "F";
    case DeviceType::P:
        return "P";
    case DeviceType::Q:
        return "Q";
    case DeviceType::PQ:
        return "PQ";
    case DeviceType::QX4:
        return "QX4";
    case DeviceType::QX4E:
        return "QX4E";
    }
    return "none";
}

bool IsQx4Type(DeviceType type)
{
    return type == DeviceType::QX4 || type == DeviceType::QX4E;
}

double FullScale(int k, double i, double u)
{
    if (k <= 3)
        return u / kSqrt3;
    if (k <= 6)
        return i;
    if (k <= 9)
        return u;
    if (k <= 18)
        return u * i / kSqrt3;
    if (k <= 21)
        return 1;
    if (k <= 24)
        return kSqrt3 * u * i;
    if (k <= 26)
        return 50;
    if (k == 27)
        return u / kSqrt3;
    if (k == 28)
        return i;
    if (k == 29)
        return u;
    if (k == 30)
        return u / kSqrt3;
    return i;
}

void AnalogRangeBounds(int range, double &bottom, double &middle, double &top)
{
    switch (range) {
    case 0:
        bottom = -5;
        middle = 0;
        top = 5;
        break;
    case 2:
    case 3:
        bottom = 0;
        middle = 2.5;
        top = 5;
        break;
    case 1:
    case 4:
    default:
        bottom = 4;
        middle = 12;
        top = 20;
        break;
    }
}

double ExpectedAnalogCurrent(DeviceType type, int k, double value, int range, double nominalI, double nominalU)
{
    double p = 0;
    if (k == kF) {
        p = (value - 45.0) / 10.0; // the 45 … 55 Hz band
    } else {
        switch (type) {
        case DeviceType::I:
            p = value / nominalI;
            break;
        case DeviceType::U:
        case DeviceType::F:
            p = value / nominalU;
            break;
        case DeviceType::P:
        case DeviceType::Q:
        case DeviceType::PQ:
            p = value / (nominalI * nominalU * kSqrt3);
            break;
        case DeviceType::QX4:
        case DeviceType::QX4E:
            p = value / FullScale(k, nominalI, nominalU);
            if ((k >= kUa && k <= kUc) || k == kU || (k >= kUab && k <= kUac))
                p /= 1.25;
            break;
        case DeviceType::None:
            return 0;
        }
    }
    double up = 20, low = 4;
    const bool sign = IsSignedPower(k);
    switch (range) {
    case 0:
        up = 5;
        low = 0;
        break;
    case 1:
        up = 20;
        low = sign ? 12 : 4;
        break;
    case 2:
        up = 5;
        low = 2.5;
        break;
    case 3:
        up = 5;
        low = sign ? 2.5 : 0;
        break;
    case 4:
        up = 20;
        low = sign ? 12 : 4;
        break;
    default:
        break;
    }
    return low + p * (up - low);
}

Quantities Transducer::Readings(const Outputs &out, double energyA, double energyR) const
{
    const double in = mem.i2, un = mem.u2;
    const Quantities truth = Measure(out);
    auto distort = [&](int k, double v) {
        return v * (1.0 + errors.gainPct[k - 1] / 100.0) + errors.offsetPct[k - 1] / 100.0 * FullScale(k, in, un);
    };
    Outputs seen = out;
    for (int p = 0; p < 3; ++p) {
        seen.u[p] = distort(kUa + p, truth[kUa - 1 + p]) * EffectiveCal(p);
        seen.i[p] = distort(kIa + p, truth[kIa - 1 + p]) * EffectiveCal(6 + p);
    }
    std::array<double, 3> shift{};
    for (int p = 0; p < 3; ++p)
        shift[p] = errors.phaseDeg[p] * kPi / 180.0 + EffectiveAngle(p);
    Quantities r = Measure(seen, shift);
    for (int j = 0; j < 3; ++j)
        r[kUab - 1 + j] = distort(kUab + j, truth[kUab - 1 + j]) * EffectiveCal(3 + j);
    r[kF - 1] = distort(kF, truth[kF - 1]) * EffectiveCal(9);
    r[kUL - 1] = (r[kUab - 1] + r[kUbc - 1] + r[kUac - 1]) / 3.0;
    for (int k = kPa; k <= kI0; ++k)
        if (k != kF)
            r[k - 1] = distort(k, r[k - 1]);
    r[kWa - 1] = distort(kWa, energyA);
    r[kWr - 1] = distort(kWr, energyR);
    if (realism.noise > 0)
        for (int k = 1; k <= kI0; ++k)
            r[k - 1] += Noise(realism.noise * FullScale(k, in, un));
    if (mem.noiseZeroing) {
        for (int k = 1; k <= kI0; ++k)
            if (k != kF && (k < kKa || k > kKc) && k != kK && std::fabs(r[k - 1]) < 0.001 * FullScale(k, in, un))
                r[k - 1] = 0;
    }
    return r;
}

double Transducer::NominalScale() const
{
    switch (type) {
    case DeviceType::I:
        return mem.i2;
    case DeviceType::U:
        return mem.u2;
    case DeviceType::F:
        return 50;
    case DeviceType::P:
    case DeviceType::Q:
    case DeviceType::PQ:
        return kSqrt3 * mem.u2 * mem.i2;
    default:
        return 1;
    }
}

int Transducer::UnitCode() const
{
    if (unitCode)
        return unitCode;
    switch (type) {
    case DeviceType::I:
        return 2;
    case DeviceType::U:
        return 1;
    case DeviceType::F:
        return 13;
    case DeviceType::P:
    case DeviceType::PQ:
        return 3;
    case DeviceType::Q:
        return 4;
    default:
        return 0;
    }
}

double Transducer::Reported(const Quantities &secondary, int k) const
{
    const double v = secondary[k - 1];
    if (IsQx4Type(type)) {
        if (k >= kWa)
            return v * (double(mem.u1) * mem.i1) / (double(mem.u2) * mem.i2);
        return v * FullScale(k, mem.i1, mem.u1) / FullScale(k, mem.i2, mem.u2);
    }
    if (type == DeviceType::F || scale <= 0)
        return v;
    return v / NominalScale() * scale;
}

int Transducer::AnalogOutputCount() const
{
    switch (type) {
    case DeviceType::None:
        return 0;
    case DeviceType::PQ:
        return 2;
    case DeviceType::QX4:
    case DeviceType::QX4E:
        return 3;
    default:
        return 1;
    }
}

int Transducer::AnalogParameter(int output) const
{
    if (output < 0 || output >= AnalogOutputCount())
        return 0;
    switch (type) {
    case DeviceType::I:
        return kIa;
    case DeviceType::U:
        return kUa;
    case DeviceType::F:
        return kF;
    case DeviceType::P:
        return kP;
    case DeviceType::Q:
        return kQ;
    case DeviceType::PQ:
        return output == 0 ? kP : kQ;
    case DeviceType::QX4:
    case DeviceType::QX4E:
        return mem.analogAssign[output] < 33 ? mem.analogAssign[output] + 1 : 0;
    default:
        return 0;
    }
}

double Transducer::ReferenceTarget(int output, const Quantities &secondary) const
{
    double bottom, middle, top;
    AnalogRangeBounds(mem.analogRange, bottom, middle, top);
    switch (analogMode) {
    case 1:
        return top;
    case 2:
        return middle;
    case 3:
        return bottom;
    default:
        break;
    }
    const int k = AnalogParameter(output);
    if (k == 0)
        return middle;
    return ExpectedAnalogCurrent(type, k, secondary[k - 1], mem.analogRange, mem.i2, mem.u2);
}

double Transducer::AnalogCurrent(int output, const Quantities &secondary) const
{
    if (!plugged || AnalogParameter(output) == 0)
        return 0;
    double bottom, middle, top;
    AnalogRangeBounds(mem.analogRange, bottom, middle, top);
    const double target = ReferenceTarget(output, secondary);
    const double gain = (1.0 + errors.analogGainPct[output] / 100.0) * EffectiveGain(output);
    const double offset = errors.analogOffsetMa[output] + EffectiveOffset(output);
    const double noise = Noise(realism.noise * (top - bottom));
    return std::clamp(middle + (target - middle) * gain + offset + noise, -24.0, 24.0);
}

Quantities Transducer::PrimaryBlock(const Outputs &out, double energyA, double energyR) const
{
    const Quantities secondary = Readings(out, energyA, energyR);
    Quantities primary{};
    for (int k = 1; k <= 33; ++k)
        primary[k - 1] = Reported(secondary, k);
    return primary;
}

bool Transducer::ReadWord(uint16_t off, const Quantities &primary, uint16_t &word) const
{
    const Cell cell = Classify(off);
    auto floatWord = [&](uint16_t base, float value) {
        uint16_t hi, lo;
        FloatToWords(value, hi, lo);
        word = (off - base) % 4 == 0 ? hi : lo;
    };
    switch (cell) {
    case Cell::Unknown:
        return false;
    case Cell::Measured:
        floatWord(0, float(primary[off / 4]));
        return true;
    case Cell::ReadOnlyWord:
    case Cell::Action:
        word = 0;
        return true;
    case Cell::Float: {
        const uint16_t base = off & ~3u;
        float v = 0;
        if (base >= kReferences && base < kReferencesEnd)
            v = references[(base - kReferences) / 4];
        else if (base == kFrequencyReference)
            v = references[9];
        else if (base >= kAnalogReferences && base < kAnalogReferencesEnd)
            v = analogReferences[(base - kAnalogReferences) / 4];
        else if (base == kU1)
            v = mem.u1;
        else if (base == kU2)
            v = mem.u2;
        else if (base == kI1)
            v = mem.i1;
        else if (base == kI2)
            v = mem.i2;
        floatWord(base, v);
        return true;
    }
    case Cell::Word:
        break;
    }
    switch (off) {
    case kNetAddress:
        word = uint16_t(mem.netAddress);
        break;
    case kSerial:
        word = mem.serial;
        break;
    case kYear:
        word = mem.yearWord;
        break;
    case kRs1Speed:
        word = uint16_t(mem.rs1Speed);
        break;
    case kScheme:
        word = uint16_t(mem.scheme);
        break;
    case kAnalogRange:
        word = mem.analogRange == 0 ? 0 : 1;
        break;
    case kModification:
        word = mem.modificationWord;
        break;
    case kRs2Config:
        word = uint16_t(mem.rs2Config);
        break;
    case kRs2Speed:
        word = uint16_t(mem.rs2Speed);
        break;
    case kRelays:
        word = mem.relays;
        break;
    case kInterfaces:
        word = mem.interfaces;
        break;
    case kAnalogMode:
        word = uint16_t(analogMode);
        break;
    case kAnalogAssign:
    case kAnalogAssign + 2:
    case kAnalogAssign + 4:
        word = mem.analogAssign[(off - kAnalogAssign) / 2];
        break;
    case kNoiseZeroing:
        word = mem.noiseZeroing ? 1 : 0;
        break;
    default:
        word = 0;
        break;
    }
    return true;
}

uint8_t Transducer::WriteWord(uint16_t off, uint16_t v, bool single)
{
    (void)single;
    switch (off) {
    case kNetAddress:
        if (v > 255)
            return 3;
        mem.netAddress = v;
        return 0;
    case kSerial:
        mem.serial = v;
        return 0;
    case kYear:
        mem.yearWord = v;
        return 0;
    case kRs1Speed:
        if (v > 7)
            return 3;
        mem.rs1Speed = v;
        return 0;
    case kScheme:
        mem.scheme = v;
        return 0;
    case kAnalogRange:
        if (v > 1)
            return 3;
        mem.analogRange = v;
        return 0;
    case kModification:
        mem.modificationWord = v;
        return 0;
    case kRs2Config:
        if (v > 1)
            return 3;
        mem.rs2Config = v;
        return 0;
    case kRs2Speed:
        if (v > 7)
            return 3;
        mem.rs2Speed = v;
        return 0;
    case kRelays:
        mem.relays = v;
        return 0;
    case kInterfaces:
        mem.interfaces = v;
        return 0;
    case kAngleUp:
    case kAngleDown: {
        if (v > 5)
            return 3;
        const int phase = v % 3;
        BeginMove(angleLag_[phase], EffectiveAngle(phase));
        mem.angleSteps[phase] += (v < 3 ? 1 : 10) * (off == kAngleUp ? 1 : -1);
        return 0;
    }
    case kAnalogUp:
    case kAnalogDown: {
        int output, steps;
        if (v >= 3 && v <= 5) {
            output = v - 3;
            steps = 1;
        } else if (v >= 10 && v <= 12) {
            output = v - 10;
            steps = 10;
        } else if (v >= 20 && v <= 22) {
            output = v - 20;
            steps = 100;
        } else
            return 3;
        BeginMove(offsetLag_[output], EffectiveOffset(output));
        mem.analogOffsetSteps[output] += off == kAnalogUp ? steps : -steps;
        return 0;
    }
    case kAnalogMode:
        if (v > 3)
            return 3;
        analogMode = v;
        return 0;
    case kSave:
        if (v != 0)
            return 3;
        Save();
        return 0;
    case kAnalogAssign:
    case kAnalogAssign + 2:
    case kAnalogAssign + 4:
        if (v > 32)
            return 3;
        mem.analogAssign[(off - kAnalogAssign) / 2] = v;
        return 0;
    case kNoiseZeroing:
        if (v > 1)
            return 3;
        mem.noiseZeroing = v == 1;
        return 0;
    default:
        return 2;
    }
}

std::optional<Bytes> Transducer::Handle(const Request &rq, const Outputs &out, double energyA, double energyR)
{
    if (!plugged || type == DeviceType::None)
        return std::nullopt;
    if (rq.function == kFnSearch) {
        if (rq.address != 0xFF && rq.address != mem.netAddress)
            return std::nullopt;
        Bytes b{uint8_t(mem.netAddress), kFnSearch, 0x02};
        PutU16(b, uint16_t(mem.netAddress));
        AppendCrc(b);
        return b;
    }
    if (rq.address != mem.netAddress)
        return std::nullopt;
    const uint8_t addr = rq.address;
    switch (rq.function) {
    case kFnRead: {
        if (rq.count < 1 || rq.count > 125)
            return BuildException(addr, rq.function, 3);
        const Quantities primary = PrimaryBlock(out, energyA, energyR);
        std::vector<uint16_t> words;
        for (unsigned n = 0; n < rq.count; ++n) {
            uint16_t w;
            if (!ReadWord(uint16_t(rq.reg + 2 * n), primary, w))
                return BuildException(addr, rq.function, 2);
            words.push_back(w);
        }
        return BuildReadAnswer(addr, words);
    }
    case kFnWriteOne: {
        const Cell cell = Classify(rq.reg);
        if (cell != Cell::Word && cell != Cell::Action)
            return BuildException(addr, rq.function, 2);
        const uint8_t code = WriteWord(rq.reg, rq.value, true);
        if (code)
            return BuildException(addr, rq.function, code);
        return BuildWriteEcho(rq);
    }
    case kFnWriteMany: {
        if (rq.count < 1 || rq.count > 123 || rq.data.size() != size_t(rq.count) * 2)
            return BuildException(addr, rq.function, 3);
        // Check every address first: a block that touches an unknown cell changes nothing.
        for (unsigned n = 0; n < rq.count; ++n) {
            const uint16_t off = uint16_t(rq.reg + 2 * n);
            const Cell cell = Classify(off);
            if (cell != Cell::Word && cell != Cell::Float && cell != Cell::Action)
                return BuildException(addr, rq.function, 2);
            if (cell == Cell::Float) {
                const uint16_t base = off & ~3u;
                if (base < rq.reg || base + 4 > rq.reg + 2 * rq.count)
                    return BuildException(addr, rq.function, 2); // half a float
            }
        }
        const Quantities secondary = Readings(out, energyA, energyR);
        // A value refused half-way through the block leaves the device as it was.
        const TransducerMemory memBefore = mem, savedBefore = saved;
        const int modeBefore = analogMode;
        const auto refsBefore = references;
        const auto analogRefsBefore = analogReferences;
        const auto calLagBefore = calLag_;
        const auto gainLagBefore = gainLag_, angleLagBefore = angleLag_, offsetLagBefore = offsetLag_;
        auto refuse = [&](uint8_t code) {
            mem = memBefore;
            saved = savedBefore;
            analogMode = modeBefore;
            references = refsBefore;
            analogReferences = analogRefsBefore;
            calLag_ = calLagBefore;
            gainLag_ = gainLagBefore;
            angleLag_ = angleLagBefore;
            offsetLag_ = offsetLagBefore;
            return BuildException(addr, rq.function, code);
        };
        for (unsigned n = 0; n < rq.count; ++n) {
            const uint16_t off = uint16_t(rq.reg + 2 * n);
            const uint8_t *p = &rq.data[2 * n];
            const Cell cell = Classify(off);
            if (cell != Cell::Float) {
                const uint8_t code = WriteWord(off, GetU16(p), false);
                if (code)
                    return refuse(code);
                continue;
            }
            if ((off & 3) != 0)
                continue; // the low half of a float handled with its high half
            const float value = GetFloat(p);
            if (off >= kReferences && off < kReferencesEnd) {
                const int ch = (off - kReferences) / 4;
                references[ch] = value;
                Recalibrate(ch, value, out, energyA, energyR);
            } else if (off == kFrequencyReference) {
                references[9] = value;
                Recalibrate(9, value, out, energyA, energyR);
            } else if (off >= kAnalogReferences && off < kAnalogReferencesEnd) {
                const int o = (off - kAnalogReferences) / 4;
                analogReferences[o] = value;
                double bottom, middle, top;
                AnalogRangeBounds(mem.analogRange, bottom, middle, top);
                const double offset = errors.analogOffsetMa[o] + EffectiveOffset(o);
                const double target = ReferenceTarget(o, secondary);
                const double measuredSpan = value - middle - offset;
                if (std::isfinite(value) && std::fabs(measuredSpan) > 1e-6 && std::fabs(target - middle) > 1e-6) {
                    BeginMove(gainLag_[o], EffectiveGain(o));
                    mem.analogGainCorr[o] *= (target - middle - offset) / measuredSpan;
                }
            } else {
                if (!(std::isfinite(value) && value > 0))
                    return refuse(3);
                if (off == kU1)
                    mem.u1 = value;
                else if (off == kU2)
                    mem.u2 = value;
                else if (off == kI1)
                    mem.i1 = value;
                else
                    mem.i2 = value;
            }
        }
        return BuildWriteEcho(rq);
    }
    default:
        return BuildException(addr, rq.function, 1);
    }
}

void Transducer::Recalibrate(int channel, float reference, const Outputs &out, double energyA, double energyR)
{
    if (!std::isfinite(reference))
        return;
    const int k = kChannelQuantity[channel];
    double ref = reference;
    // Modifications up to 9 take their references in primary units.
    if (ModificationNumber(mem.modificationWord) <= 9 && k != kF)
        ref = ref * FullScale(k, mem.i2, mem.u2) / FullScale(k, mem.i1, mem.u1);
    // The device's own reading at this moment, without the calibration it is about to replace.
    const double now = EffectiveCal(channel);
    const double raw = Readings(out, energyA, energyR)[k - 1] / now;
    if (!(std::fabs(raw) > 1e-6 * FullScale(k, mem.i2, mem.u2)))
        return; // nothing on the input to calibrate against
    BeginMove(calLag_[channel], now);
    const double keep = mem.cal[channel];
    mem.cal[channel] = keep + referenceResponse * (ref / raw - keep);
}

double Transducer::Settled(const Lag &lag, double written) const
{
    if (!lag.moving || realism.lagMs <= 0)
        return written;
    const double ms = std::chrono::duration<double, std::milli>(clock() - lag.at).count();
    return written + (lag.from - written) * std::exp(-std::max(ms, 0.0) / realism.lagMs);
}

void Transducer::BeginMove(Lag &lag, double now) const
{
    lag.from = now;
    lag.at = clock();
    lag.moving = realism.lagMs > 0;
}

double Transducer::StepEffect(int position) const
{
    const int beyond = std::max(std::abs(position) - realism.deadband, 0);
    return (position < 0 ? -beyond : beyond) * (1.0 + realism.nonlinearity * std::abs(position) / 100.0);
}

double Transducer::EffectiveCal(int channel) const
{
    return Settled(calLag_[size_t(channel)], mem.cal[size_t(channel)]);
}

double Transducer::EffectiveAngle(int phase) const
{
    return Settled(angleLag_[size_t(phase)], StepEffect(mem.angleSteps[size_t(phase)]) * kAngleStepRad);
}

double Transducer::EffectiveOffset(int output) const
{
    return Settled(offsetLag_[size_t(output)], StepEffect(mem.analogOffsetSteps[size_t(output)]) * kAnalogStepMa);
}

double Transducer::EffectiveGain(int output) const
{
    return Settled(gainLag_[size_t(output)], mem.analogGainCorr[size_t(output)]);
}

double Transducer::Noise(double sd) const
{
    return sd > 0 ? sd * normal_(rng_) : 0.0;
}

void Transducer::ResetMotion()
{
    calLag_ = {};
    angleLag_ = {};
    offsetLag_ = {};
    gainLag_ = {};
}

} // namespace kestsim
