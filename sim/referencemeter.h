#pragma once
// The installation's reference meter: the 33 measured quantities computed from the outputs.

#include <array>
#include <complex>

namespace kestsim {

// Index k (1..33) of the measured quantities lives at values[k - 1].
using Quantities = std::array<double, 33>;

enum Q : int {
    kUa = 1,
    kUb,
    kUc,
    kIa,
    kIb,
    kIc,
    kUab,
    kUbc,
    kUac,
    kPa,
    kPb,
    kPc,
    kQa,
    kQb,
    kQc,
    kSa,
    kSb,
    kSc,
    kKa,
    kKb,
    kKc,
    kP,
    kQ,
    kS,
    kK,
    kF,
    kU,
    kI,
    kUL,
    kU0,
    kI0,
    kWa,
    kWr
};

// What the installation actually drives on its terminals: per-phase amplitudes, the voltages at
// 0°, −120° and +120°, each current lagging its voltage by `angleDeg` (plus a per-phase extra shift,
// which the transducer uses for its own phase error).
struct Outputs {
    std::array<double, 3> u{};
    std::array<double, 3> i{};
    std::array<double, 3> voltagePhaseDeg{0.0, -120.0, 120.0};
    double angleDeg = 0.0;
    double frequency = 0.0;
};

// Quantities 1..31 from the outputs; energies (32, 33) are left at 0 for the caller to fill.
// `phaseShiftRad` is added to the current angle of each phase before the powers are formed.
Quantities Measure(const Outputs &out, const std::array<double, 3> &phaseShiftRad = {0.0, 0.0, 0.0});

} // namespace kestsim
