#include "charts/vectordiagram.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

#include "charts/chartscale.h"
#include "presentation/parameterscaling.h"
#include "protocol/numberformat.h"

namespace {

constexpr double kDeg = 180.0 / std::numbers::pi;

// Nominal angles of the phase voltages A, B, C and of the line voltages AB, BC, CA.
constexpr std::array<double, 3> kPhaseAngle{0.0, -120.0, 120.0};
constexpr std::array<double, 3> kLineAngle{30.0, -90.0, 150.0};
constexpr std::array<int, 3> kPhaseVoltage{piUa, piUb, piUc};
constexpr std::array<int, 3> kLineVoltage{piULa, piULb, piULc};
constexpr std::array<int, 3> kCurrent{piIa, piIb, piIc};
constexpr std::array<int, 3> kActive{piPa, piPb, piPc};
constexpr std::array<int, 3> kReactive{piQa, piQb, piQc};

bool ValidCoefs(const TTransfCoefs &k)
{
    for (double v : {k.I1, k.I2, k.U1, k.U2}) {
        if (!(v > 0) || !std::isfinite(v))
            return false;
    }
    return true;
}

// One reading set, in the installation's units; none where the set marked a value missing.
class TReadings {
public:
    TReadings(const TParameters &params, const TTransfCoefs &coefs)
        : params_(params), coefs_(coefs), primary_(ValidCoefs(coefs))
    {
    }

    std::optional<double> Value(int param) const
    {
        const TParameter *p = params_.GetParameterByIndex(param);
        if (!p || !p->isDataCorrect || !std::isfinite(p->value))
            return std::nullopt;
        if (!primary_)
            return p->value;
        const double primary = TParameterScaling::GetScale(param, coefs_.I1, coefs_.U1);
        const double secondary = TParameterScaling::GetScale(param, coefs_.I2, coefs_.U2);
        return p->value / primary * secondary;
    }
    double ValueOr0(int param) const { return Value(param).value_or(0.0); }

    // The text of a magnitude in the set's own units, with the prefix the main window gives a
    // transducer's primary reading.
    QString Text(int param) const
    {
        const TParameter *p = params_.GetParameterByIndex(param);
        const int prefix = primary_ ? TParameterScaling::GetPrefixNum(param, coefs_) : 0;
        return MagnitudeText(std::fabs(p->value) / std::pow(1000.0, prefix)) + QLatin1Char(' ')
            + TParameterScaling::GetPrefixName(prefix) + p->measure;
    }

    QString Name(int param) const { return params_.GetParameterByIndex(param)->name; }

private:
    const TParameters &params_;
    TTransfCoefs coefs_;
    bool primary_;
};

} // namespace

// Four significant digits, rounded (the fixed-width texts of the readouts cut, so 99,9997 V would read
// 99,99 V), then in the readouts' form: 57,74; 5,000; 100,0; 1234.
QString MagnitudeText(double value)
{
    if (value > 0 && std::isfinite(value)) {
        const double scale = std::pow(10.0, 3 - static_cast<int>(std::floor(std::log10(value))));
        value = std::round(value * scale) / scale;
        // A tiny nudge up, so that the cutting of the text keeps the rounded digits (57,74 is 57,7399… in binary).
        value *= 1.0 + 1e-12;
    }
    return TParameterScaling::GetStringFromFloat(4, value);
}

namespace {

QString AngleText(double degrees)
{
    double rounded = std::round(degrees * 10.0) / 10.0;
    if (rounded == 0.0)
        rounded = 0.0; // no "-0"
    return FloatToQStr(rounded) + QStringLiteral("°");
}

// φ of a phase, or none when its powers do not describe it.
std::optional<double> PhaseAngle(double p, double q, double ui, const TVectorDiagramLimits &limits)
{
    const double s = std::hypot(p, q);
    if (!(ui > 0) || !(s > 0) || s < limits.minPowerShare * ui)
        return std::nullopt;
    return std::atan2(q, p) * kDeg;
}

void AddSet(TVectorDiagram &d, TPhasorSource source, const TReadings &r, const TVectorDiagramLimits &limits)
{
    const bool fourWire = d.scheme == TWiringScheme::FourWire;
    QStringList &missing = source == TPhasorSource::Installation ? d.missingInstallation : d.missingTransducer;

    // Voltages.
    std::array<double, 3> phaseU{}; // the voltage a phase's current is measured against (virtual star in 3-wire)
    std::array<bool, 3> hasU{};
    for (int k = 0; k < 3; ++k) {
        const int param = fourWire ? kPhaseVoltage[k] : kLineVoltage[k];
        const double u = std::fabs(r.ValueOr0(param));
        hasU[k] = u >= limits.minVoltage;
        phaseU[k] = fourWire ? u : u / std::numbers::sqrt3;
        // The model calls the third line voltage "Uac"; drawn in the closed triangle it is Uc − Ua.
        const QString name = (!fourWire && k == 2) ? QStringLiteral("Uca") : r.Name(param);
        if (!hasU[k]) {
            missing << name;
            continue;
        }
        TPhasor v;
        v.source = source;
        v.kind = TPhasorKind::Voltage;
        v.param = param;
        v.name = name;
        v.magnitude = u;
        v.angle = fourWire ? kPhaseAngle[k] : kLineAngle[k];
        v.valueText = r.Text(param);
        v.angleText = AngleText(v.angle);
        d.phasors.push_back(v);
    }
    if (!fourWire) {
        // The star voltage behind each current: the phase voltage where the set reports it.
        for (int k = 0; k < 3; ++k) {
            const double star = std::fabs(r.ValueOr0(kPhaseVoltage[k]));
            if (star >= limits.minVoltage)
                phaseU[k] = star;
        }
    }

    // Totals, for the three-wire scheme when a phase carries no powers of its own.
    double uiSum = 0.0;
    for (int k = 0; k < 3; ++k)
        uiSum += phaseU[k] * std::fabs(r.ValueOr0(kCurrent[k]));
    const std::optional<double> totalPhi = PhaseAngle(r.ValueOr0(piP), r.ValueOr0(piQ), uiSum, limits);

    for (int k = 0; k < 3; ++k) {
        const int param = kCurrent[k];
        const double i = std::fabs(r.ValueOr0(param));
        if (i < limits.minCurrent) {
            missing << r.Name(param);
            continue;
        }
        TPhasor c;
        c.source = source;
        c.kind = TPhasorKind::Current;
        c.param = param;
        c.name = r.Name(param);
        c.magnitude = i;
        std::optional<double> phi;
        if (hasU[k]) {
            phi = PhaseAngle(r.ValueOr0(kActive[k]), r.ValueOr0(kReactive[k]), phaseU[k] * i, limits);
            if (!phi && !fourWire)
                phi = totalPhi;
        }
        c.angleKnown = phi.has_value();
        c.phi = phi.value_or(0.0);
        c.angle = NormalizeAngle(kPhaseAngle[k] - c.phi);
        c.valueText = r.Text(param);
        c.angleText = c.angleKnown ? AngleText(c.angle) : QString();
        d.phasors.push_back(c);
    }
}

} // namespace

double NormalizeAngle(double degrees)
{
    if (!std::isfinite(degrees))
        return 0.0;
    double a = std::fmod(degrees, 360.0);
    if (a <= -180.0)
        a += 360.0;
    else if (a > 180.0)
        a -= 360.0;
    return a;
}

const TPhasor *TVectorDiagram::Find(TPhasorSource source, int param) const
{
    for (const TPhasor &p : phasors) {
        if (p.source == source && p.param == param)
            return &p;
    }
    return nullptr;
}

namespace {

// The transducer's arrows that do not lie on the installation's of the same quantity.
void FindMismatches(TVectorDiagram &d, const TVectorDiagramLimits &limits)
{
    for (TPhasor &t : d.phasors) {
        if (t.source != TPhasorSource::Transducer)
            continue;
        const TPhasor *i = d.Find(TPhasorSource::Installation, t.param);
        if (!i)
            continue;
        const bool angle
            = t.angleKnown && i->angleKnown && std::fabs(NormalizeAngle(t.angle - i->angle)) > limits.maxAngleDeviation;
        const bool magnitude = std::fabs(t.magnitude - i->magnitude) > limits.maxMagnitudeDeviation * i->magnitude;
        if (angle)
            d.mismatches << t.name + QLatin1Char(' ') + t.angleText + QStringLiteral(" вместо ") + i->angleText;
        if (magnitude) {
            const QString unit = t.kind == TPhasorKind::Voltage ? QStringLiteral(" V") : QStringLiteral(" A");
            d.mismatches << t.name + QLatin1Char(' ') + MagnitudeText(t.magnitude) + unit + QStringLiteral(" вместо ")
                    + MagnitudeText(i->magnitude) + unit;
        }
        t.mismatch = angle || magnitude;
    }
}

} // namespace

TVectorDiagram BuildVectorDiagram(const TParameters &installation, const TParameters *transducer,
    const TTransfCoefs &transducerCoefs, TWiringScheme scheme, const TVectorDiagramLimits &limits)
{
    TVectorDiagram d;
    d.scheme = scheme;
    AddSet(d, TPhasorSource::Installation, TReadings(installation, TTransfCoefs{}), limits);
    if (transducer) {
        d.hasTransducer = true;
        AddSet(d, TPhasorSource::Transducer, TReadings(*transducer, transducerCoefs), limits);
    }

    double maxU = 0.0, maxI = 0.0;
    for (const TPhasor &p : d.phasors) {
        double &max = p.kind == TPhasorKind::Voltage ? maxU : maxI;
        max = std::max(max, p.magnitude);
    }
    d.voltageScale = NiceCeiling(maxU);
    d.currentScale = NiceCeiling(maxI);
    if (d.voltageScale > 0)
        d.voltageScaleText = FloatToQStr(d.voltageScale) + QStringLiteral(" V");
    if (d.currentScale > 0)
        d.currentScaleText = FloatToQStr(d.currentScale) + QStringLiteral(" A");
    for (TPhasor &p : d.phasors) {
        const double scale = p.kind == TPhasorKind::Voltage ? d.voltageScale : d.currentScale;
        p.length = p.magnitude / scale;
        const double a = p.angle / kDeg;
        p.tip = QPointF(-p.length * std::sin(a), p.length * std::cos(a));
    }
    FindMismatches(d, limits);
    return d;
}
