#include "charts/chartscale.h"

#include <cmath>

namespace {

// A power of ten at or below `value`, with the mantissa in [1, 10).
void Decompose(double value, double &power, double &mantissa)
{
    power = std::pow(10.0, std::floor(std::log10(value)));
    mantissa = value / power;
    // log10 is not exact near powers of ten: 1000 may come out as 9,99… × 100.
    if (mantissa >= 10.0 - 1e-9) {
        power *= 10.0;
        mantissa /= 10.0;
    } else if (mantissa < 1.0) {
        power /= 10.0;
        mantissa *= 10.0;
    }
}

} // namespace

double NiceCeiling(double value)
{
    if (!(value > 0) || !std::isfinite(value))
        return 0.0;
    static constexpr double kSteps[] = {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0};
    double power = 1.0, mantissa = 1.0;
    Decompose(value, power, mantissa);
    for (double step : kSteps) {
        // A reading of exactly 5 A keeps the scale at 5 A, even after the float round trip.
        if (mantissa <= step * (1.0 + 1e-12))
            return step * power;
    }
    return 10.0 * power;
}

double NiceStep(double span, int maxTicks)
{
    if (!(span > 0) || !std::isfinite(span))
        return 0.0;
    if (maxTicks < 1)
        maxTicks = 1;
    double power = 1.0, mantissa = 1.0;
    Decompose(span / maxTicks, power, mantissa);
    static constexpr double kSteps[] = {1.0, 2.0, 5.0, 10.0};
    for (double step : kSteps) {
        if (mantissa <= step * (1.0 + 1e-12))
            return step * power;
    }
    return 10.0 * power;
}
