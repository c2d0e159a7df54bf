#pragma once
// Reading sets of a three-phase load for the chart tests, built by hand from magnitudes and angles the
// way a meter forms them: P = U·I·cos φ, Q = U·I·sin φ per phase, totals as sums.

#include <cmath>
#include <numbers>

#include "protocol/parameters.h"

namespace chartsdata {

inline double Rad(double deg)
{
    return deg * std::numbers::pi / 180.0;
}

struct TPhase {
    double u = 0.0;
    double i = 0.0;
    double phi = 0.0; // degrees, lagging positive
};

// `scaleU`, `scaleI`: a transducer's primary readings are the secondary ones times these ratios.
inline TParameters Readings(TPhase a, TPhase b, TPhase c, double scaleU = 1.0, double scaleI = 1.0)
{
    TParameters p;
    const TPhase ph[3] = {a, b, c};
    TParameter *u[3] = {&p.Ua, &p.Ub, &p.Uc};
    TParameter *i[3] = {&p.Ia, &p.Ib, &p.Ic};
    TParameter *pw[3] = {&p.Pa, &p.Pb, &p.Pc};
    TParameter *qw[3] = {&p.Qa, &p.Qb, &p.Qc};
    double pSum = 0, qSum = 0;
    for (int k = 0; k < 3; ++k) {
        u[k]->value = ph[k].u * scaleU;
        i[k]->value = ph[k].i * scaleI;
        pw[k]->value = ph[k].u * ph[k].i * std::cos(Rad(ph[k].phi)) * scaleU * scaleI;
        qw[k]->value = ph[k].u * ph[k].i * std::sin(Rad(ph[k].phi)) * scaleU * scaleI;
        pSum += pw[k]->value;
        qSum += qw[k]->value;
    }
    // Line voltages of a symmetrical star at 0°, −120°, +120°.
    p.ULa.value = std::sqrt(a.u * a.u + b.u * b.u + a.u * b.u) * scaleU;
    p.ULb.value = std::sqrt(b.u * b.u + c.u * c.u + b.u * c.u) * scaleU;
    p.ULc.value = std::sqrt(a.u * a.u + c.u * c.u + a.u * c.u) * scaleU;
    p.P.value = pSum;
    p.Q.value = qSum;
    return p;
}

inline TParameters Balanced(double u, double i, double phi, double scaleU = 1.0, double scaleI = 1.0)
{
    return Readings({u, i, phi}, {u, i, phi}, {u, i, phi}, scaleU, scaleI);
}

} // namespace chartsdata
