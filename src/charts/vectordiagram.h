#pragma once
// The vector diagram as data: which arrows to draw from one centre, how long, at which angle, with which
// texts. No widgets here; the painting is in vectordiagramwidget.h.
//
// What the readings allow. A reading set carries magnitudes (Ua…Uc, Uab…Uac, Ia…Ic) and per phase the
// active and reactive power, but no angle of any voltage. So the voltages are drawn where the scheme's
// phase order puts them — Ua at 0°, Ub at −120°, Uc at +120°, or in the three-wire scheme the line
// voltages Uab at +30°, Ubc at −90°, Uca at +150° — and each current at its voltage's angle minus the
// phase angle of its phase, φ = atan2(Q, P) (a lagging current has φ > 0 and lies clockwise of its
// voltage). Angles are counted from Ua, counter-clockwise positive, in (−180°, 180°]; the picture puts
// Ua straight up.
//
// A second set (the transducer's own readings over RS) is drawn by the same rules from its own
// magnitudes and powers. Its voltages therefore always sit where the installation's do; what shows a
// wiring fault is where its currents land: a current wired to the wrong phase lands on the arrow of the
// phase it really carries, a reversed current points the opposite way, a phase error turns the current
// by that angle. A swapped pair of voltage wires turns the currents of both phases by ±120° as well: the
// picture shows that voltage and current of a phase do not belong together, not which wire is wrong.
//
// In the three-wire scheme the phase angle of a current comes from its phase's P and Q where the set
// carries them, otherwise from the totals P and Q (exact for a symmetrical load, the mean otherwise).

#include "protocol/parameters.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <vector>

enum class TWiringScheme { FourWire, ThreeWire };
enum class TPhasorSource { Installation, Transducer };
enum class TPhasorKind { Voltage, Current };

// Below these a phase has no signal and is not drawn.
struct TVectorDiagramLimits {
    double minVoltage = 0.5; // V
    double minCurrent = 0.001; // A
    // |P + jQ| of a phase below this share of U·I gives no angle: the powers do not describe the phase.
    double minPowerShare = 0.01;
    // A transducer's arrow further from the installation's than this does not belong to it: a wiring
    // fault, not an error of measurement (which the main window's error fields show).
    double maxAngleDeviation = 10.0; // degrees
    double maxMagnitudeDeviation = 0.1; // share of the installation's magnitude
};

struct TPhasor {
    TPhasorSource source = TPhasorSource::Installation;
    TPhasorKind kind = TPhasorKind::Voltage;
    int param = piNone; // piUa…piUc, piULa…piULc or piIa…piIc
    QString name; // "Ua", "Uab", "Uca", "Ia" …
    double magnitude = 0.0; // in the installation's units (V, A): a transducer's primary reading converted
    double angle = 0.0; // degrees from Ua, counter-clockwise positive, (−180, 180]
    bool angleKnown = true; // false: a current whose phase gives no power (drawn at its voltage's angle)
    double phi = 0.0; // currents: φ = atan2(Q, P) of the phase in degrees (0 when unknown)
    double length = 0.0; // magnitude over the scale of its kind: 1 reaches the circle
    QPointF tip; // end of the arrow on the unit plane with Ua up and y up
    QString valueText; // "57,73 V"; a transducer's reading in its own units and prefix, "5,773 kV"
    QString angleText; // "-30°"; empty when the angle is unknown
    bool mismatch = false; // a transducer's arrow away from the installation's of the same quantity
};

struct TVectorDiagram {
    TWiringScheme scheme = TWiringScheme::FourWire;
    // Installation first, then the transducer; within a set the voltages A, B, C, then the currents.
    std::vector<TPhasor> phasors;
    double voltageScale = 0.0; // V at the circle; 0 when no voltage is drawn
    double currentScale = 0.0; // A at the circle; 0 when no current is drawn
    QString voltageScaleText; // "60 V"; empty when no voltage is drawn
    QString currentScaleText; // "6 A"
    bool hasTransducer = false; // a second set was given
    QStringList missingInstallation; // the set's quantities without signal, in the order above
    QStringList missingTransducer;
    // The transducer's arrows away from the installation's: "Ib 90° вместо -150°", "Ia 4,500 A вместо 5,000 A".
    QStringList mismatches;

    // nullptr when that arrow is not drawn.
    const TPhasor *Find(TPhasorSource source, int param) const;
};

// `transducer` may be nullptr. When `transducerCoefs` holds four positive ratios the transducer reports
// primary values (the QX4 types): its magnitudes are converted to the installation's secondary units
// for the arrows, and its texts keep its own units with the prefix the main window shows them in.
// With zero coefficients its readings are taken in the installation's units. Magnitudes are written
// with four significant digits, rounded.
TVectorDiagram BuildVectorDiagram(const TParameters &installation, const TParameters *transducer,
    const TTransfCoefs &transducerCoefs, TWiringScheme scheme, const TVectorDiagramLimits &limits = {});

// A magnitude with four significant digits, rounded, in the readouts' fixed-width form: 57,74; 5,000;
// 100,0; 1235.
QString MagnitudeText(double value);

// An angle brought into (−180, 180].
double NormalizeAngle(double degrees);
