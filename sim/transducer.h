#pragma once
// The transducer under test: what it measures from the installation's outputs, its identity, its
// analog outputs and the register map of its own port. The installation relays the same object, so
// whatever tuning changes is what the installation reports afterwards.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "modbusslave.h"
#include "referencemeter.h"

namespace kestsim {

enum class DeviceType { None, I, U, F, P, Q, PQ, QX4, QX4E };

std::optional<DeviceType> ParseDeviceType(const std::string &text); // "I" … "QX4E", "none"
std::string DeviceTypeName(DeviceType type);
bool IsQx4Type(DeviceType type);

// Full scale of quantity k for nominal current `i` and nominal line voltage `u`.
double FullScale(int k, double i, double u);

// What the device keeps in its memory; `SaveChanges` snapshots it, a replug restores the snapshot.
struct TransducerMemory {
    int netAddress = 1;
    int rs1Speed = 3; // index into 1200 … 115200
    int rs2Speed = 3;
    int rs2Config = 0;
    int scheme = 1; // 0 three-wire, 1 four-wire
    int analogRange = 1; // index of the analog-output range list (0 "-5 - 0 - +5 мА", 1 "4 - 12 - 20 мА", …)
    uint16_t serial = 1234;
    uint16_t yearWord = 15;
    uint16_t modificationWord = 705;
    uint16_t relays = 2;
    uint16_t interfaces = 1;
    std::array<uint16_t, 3> analogAssign{0, 1, 2}; // 0-based positions in the 33-quantity list
    float u1 = 10000, u2 = 100, i1 = 100, i2 = 5; // transformation coefficients
    std::array<double, 10> cal{1, 1, 1, 1, 1, 1, 1, 1, 1, 1}; // Ua Ub Uc Uab Ubc Uac Ia Ib Ic F
    std::array<int, 3> angleSteps{0, 0, 0};
    std::array<int, 3> analogOffsetSteps{0, 0, 0};
    std::array<double, 3> analogGainCorr{1, 1, 1};
    bool noiseZeroing = false;
};

// How far the device is from an ideal one; all of it off by default.
struct TransducerRealism {
    // Standard deviation of every reading, relative to the quantity's full scale; of an analog output,
    // the same share of its range's span (top − bottom).
    double noise = 0;
    // First-order time constant of every change the tuning writes (a channel's calibration, an angle
    // or offset step, an analog gain correction): a reading taken early shows mostly the old value.
    double lagMs = 0;
    // A step's effect grows by this share per 100 steps away from zero (angle and analog offset).
    double nonlinearity = 0;
    // Steps around the as-delivered position that act on nothing: the first DEADBAND steps away from
    // it change nothing, so a correction's first steps act weakly.
    int deadband = 0;
};

// Errors built into the simulated device (not visible through any register).
struct TransducerErrors {
    std::array<double, 33> gainPct{}; // relative error of quantity k, percent of the value
    std::array<double, 33> offsetPct{}; // additive error of quantity k, percent of its full scale
    std::array<double, 3> phaseDeg{}; // angle error of phases A, B, C
    std::array<double, 3> analogGainPct{};
    std::array<double, 3> analogOffsetMa{};
};

class Transducer {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kAngleStepRad = 0.003; // one step ≈ 0.3 % of full scale of P at 90°
    static constexpr double kAnalogStepMa = 0.001;

    DeviceType type = DeviceType::QX4;
    bool plugged = true;
    TransducerMemory mem;
    TransducerMemory saved;
    TransducerErrors errors;
    int analogMode = 0; // 0 working, 1 top, 2 middle, 3 bottom
    bool pqModbus = true; // "PQ": both values (Modbus) or the one chosen by number (VQ)
    double scale = 0; // full scale in the device's own units (0: its nominal)
    int unitCode = 0; // 0: by type
    int digits = 3;
    std::array<float, 10> references{};
    // How much of a channel's error one reference write removes: 1 all of it, 0 none (a device that
    // takes the write and keeps its calibration), in between a device that needs several rounds.
    double referenceResponse = 1.0;
    std::array<float, 3> analogReferences{};
    TransducerRealism realism;
    std::function<Clock::time_point()> clock = [] { return Clock::now(); };
    void Seed(uint64_t seed) { rng_.seed(seed); }

    // Readings in secondary units (quantities 1..31; 32, 33 from the installation's energies).
    Quantities Readings(const Outputs &out, double energyA, double energyR) const;
    // Readings as the device reports them: primary units for QX4 types, own scale for the others.
    double Reported(const Quantities &secondary, int k) const;
    double NominalScale() const; // the non-QX4 types' full scale in their own units
    int UnitCode() const;
    int AnalogOutputCount() const;
    int AnalogParameter(int output) const; // 1-based quantity index shown by output 0..2 (0: none)
    double AnalogCurrent(int output, const Quantities &secondary) const;

    // One request on the device's own port; nullopt when it does not answer (other address).
    std::optional<Bytes> Handle(const Request &request, const Outputs &out, double energyA, double energyR);

    void Save() { saved = mem; }
    void Replug()
    {
        mem = saved;
        analogMode = 0;
        plugged = true;
        ResetMotion();
    }
    // What the device shows once every change has settled (for checks made after a run).
    void Settle() { ResetMotion(); }

private:
    bool ReadWord(uint16_t offset, const Quantities &primary, uint16_t &word) const;
    uint8_t WriteWord(uint16_t offset, uint16_t value, bool single); // 0 or an exception code
    void Recalibrate(int channel, float reference, const Outputs &out, double energyA, double energyR);
    Quantities PrimaryBlock(const Outputs &out, double energyA, double energyR) const;
    double ReferenceTarget(int output, const Quantities &secondary) const;

    // A value on its way from `from` (at `at`) to the one written.
    struct Lag {
        double from = 0;
        Clock::time_point at{};
        bool moving = false;
    };
    double Settled(const Lag &lag, double written) const;
    void BeginMove(Lag &lag, double now) const;
    double StepEffect(int position) const;
    double EffectiveCal(int channel) const;
    double EffectiveAngle(int phase) const;
    double EffectiveOffset(int output) const;
    double EffectiveGain(int output) const;
    double Noise(double sd) const;
    void ResetMotion();

    std::array<Lag, 10> calLag_{};
    std::array<Lag, 3> angleLag_{}, offsetLag_{}, gainLag_{};
    mutable std::mt19937_64 rng_{1};
    mutable std::normal_distribution<double> normal_{0.0, 1.0};
};

// The analog current rule of the error calculators: b = low + p·(up − low).
double ExpectedAnalogCurrent(DeviceType type, int k, double value, int range, double nominalI, double nominalU);
void AnalogRangeBounds(int range, double &bottom, double &middle, double &top);

} // namespace kestsim
