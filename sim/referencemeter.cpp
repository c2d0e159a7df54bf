#include "referencemeter.h"

#include <cmath>

namespace kestsim {

namespace {
constexpr double kPi = 3.14159265358979323846;
double Rad(double deg)
{
    return deg * kPi / 180.0;
}
} // namespace

Quantities Measure(const Outputs &out, const std::array<double, 3> &phaseShiftRad)
{
    Quantities q{};
    std::array<std::complex<double>, 3> u, i;
    for (int p = 0; p < 3; ++p) {
        const double uArg = Rad(out.voltagePhaseDeg[p]);
        u[p] = std::polar(out.u[p], uArg);
        // A positive angle means the current lags (inductive load): P = U·I·cos φ, Q = U·I·sin φ.
        i[p] = std::polar(out.i[p], uArg - Rad(out.angleDeg));
    }
    double pSum = 0, qSum = 0, sSum = 0;
    for (int p = 0; p < 3; ++p) {
        q[kUa - 1 + p] = out.u[p];
        q[kIa - 1 + p] = out.i[p];
        const double phi = Rad(out.angleDeg) - phaseShiftRad[p];
        const double s = out.u[p] * out.i[p];
        const double pw = s * std::cos(phi);
        const double qw = s * std::sin(phi);
        q[kPa - 1 + p] = pw;
        q[kQa - 1 + p] = qw;
        q[kSa - 1 + p] = s;
        q[kKa - 1 + p] = s > 0 ? pw / s : 0.0;
        pSum += pw;
        qSum += qw;
        sSum += s;
    }
    q[kUab - 1] = std::abs(u[0] - u[1]);
    q[kUbc - 1] = std::abs(u[1] - u[2]);
    q[kUac - 1] = std::abs(u[0] - u[2]);
    q[kP - 1] = pSum;
    q[kQ - 1] = qSum;
    q[kS - 1] = sSum;
    q[kK - 1] = sSum > 0 ? pSum / sSum : 0.0;
    const bool anyVoltage = out.u[0] > 0 || out.u[1] > 0 || out.u[2] > 0;
    q[kF - 1] = anyVoltage ? out.frequency : 0.0;
    q[kU - 1] = (out.u[0] + out.u[1] + out.u[2]) / 3.0;
    q[kI - 1] = (out.i[0] + out.i[1] + out.i[2]) / 3.0;
    q[kUL - 1] = (q[kUab - 1] + q[kUbc - 1] + q[kUac - 1]) / 3.0;
    q[kU0 - 1] = std::abs(u[0] + u[1] + u[2]) / 3.0;
    q[kI0 - 1] = std::abs(i[0] + i[1] + i[2]) / 3.0;
    return q;
}

} // namespace kestsim
