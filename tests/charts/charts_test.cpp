// The data behind the pictures, against hand calculations: arrows of the vector diagram, points and
// band of the error chart, the round scales, the placing of labels.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "charts/chartscale.h"
#include "charts/errorchart.h"
#include "charts/labellayout.h"
#include "charts/vectordiagram.h"
#include "chartsdata.h"

using namespace chartsdata;

namespace {

const double kU = 100.0 / std::sqrt(3.0); // 100 V line
constexpr double kI = 5.0;
const TPhasorSource kInst = TPhasorSource::Installation;
const TPhasorSource kTr = TPhasorSource::Transducer;

struct TExpectedPhasor {
    TPhasorSource source;
    int param;
    QString name;
    double angle; // degrees
    double length; // share of the circle
    QString value; // text
    QString angleText;
};

struct TDiagramCase {
    const char *what;
    std::function<TParameters()> installation;
    std::function<std::optional<TParameters>()> transducer;
    TTransfCoefs coefs;
    TWiringScheme scheme;
    std::vector<TExpectedPhasor> phasors; // every arrow drawn, no more
    QStringList missingInstallation;
    QStringList missingTransducer;
    QString voltageScale, currentScale;
    QStringList mismatches = {};
};

// A QX4 with 10000/100 V and 100/5 A reports primary values: 100 times the voltage, 20 times the current.
const TTransfCoefs kQx4{100.0, 5.0, 10000.0, 100.0};

struct TAngle {
    double degrees;
    QString text;
};

// The voltages of a star at 0°, −120°, 120° on the 60 V circle and its currents on the 5 A circle.
std::vector<TExpectedPhasor> Star(TPhasorSource s, const QString &u, const QString &i, const TAngle (&currents)[3])
{
    const double lv = kU / 60.0;
    const char *names[] = {"Ua", "Ub", "Uc", "Ia", "Ib", "Ic"};
    const TAngle voltages[] = {{0, "0°"}, {-120, "-120°"}, {120, "120°"}};
    std::vector<TExpectedPhasor> rows;
    for (int k = 0; k < 3; ++k)
        rows.push_back({s, piUa + k, names[k], voltages[k].degrees, lv, u, voltages[k].text});
    for (int k = 0; k < 3; ++k)
        rows.push_back({s, piIa + k, names[3 + k], currents[k].degrees, 1.0, i, currents[k].text});
    return rows;
}

std::vector<TExpectedPhasor> Join(std::vector<TExpectedPhasor> a, const std::vector<TExpectedPhasor> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const TAngle kLag30[3] = {{-30, "-30°"}, {-150, "-150°"}, {90, "90°"}};

std::vector<TDiagramCase> DiagramCases()
{
    const double lv = kU / 60.0; // a phase voltage on the 60 V circle
    return {
        {"balanced four-wire load at 30°, transducer in primary units with a 1° phase error on A",
            [] { return Balanced(kU, kI, 30); },
            [] {
                return std::optional(Readings({kU, kI, 31}, {kU, kI, 30}, {kU, kI, 30}, 100.0, 20.0));
            },
            kQx4, TWiringScheme::FourWire,
            Join(Star(kInst, "57,74 V", "5,000 A", kLag30),
                Star(kTr, "5,774 kV", "100,0 A", {{-31, "-31°"}, {-150, "-150°"}, {90, "90°"}})),
            {}, {}, "60 V", "5 A"},
        // The transducer carries Ic on its B input and Ib on its C input: its phase B sees a current at
        // 90° against Ub at −120° (φ = −210° ≡ 150°), its phase C one at −150° against Uc (φ = 270° ≡ −90°).
        {"current wires of B and C swapped at the transducer", [] { return Balanced(kU, kI, 30); },
            [] {
                return std::optional(Readings({kU, kI, 30}, {kU, kI, 150}, {kU, kI, -90}));
            },
            {}, TWiringScheme::FourWire,
            Join(Star(kInst, "57,74 V", "5,000 A", kLag30),
                Star(kTr, "57,74 V", "5,000 A", {{-30, "-30°"}, {90, "90°"}, {-150, "-150°"}})),
            {}, {}, "60 V", "5 A", {"Ib 90° вместо -150°", "Ic -150° вместо 90°"}},
        // A reversed current A: P and Q change sign, φ = atan2(−Q, −P) = −150°, the arrow points at 150°.
        // Only the transducer's set is given phase A, so B and C of the transducer show as missing.
        {"current A reversed at the transducer, which reports phase A only", [] { return Balanced(kU, kI, 30); },
            [] {
                return std::optional(Readings({kU, kI, -150}, {}, {}));
            },
            {}, TWiringScheme::FourWire,
            Join(Star(kInst, "57,74 V", "5,000 A", kLag30),
                {{kTr, piUa, "Ua", 0, lv, "57,74 V", "0°"}, {kTr, piIa, "Ia", 150, 1.0, "5,000 A", "150°"}}),
            {}, {"Ub", "Uc", "Ib", "Ic"}, "60 V", "5 A", {"Ia 150° вместо -30°"}},
        // Three-wire: the line voltages at 30°, −90°, 150° on the 100 V circle; the currents from the
        // totals where the phases carry no powers (P = 750 W, Q = 433 var: φ = 30°), and 2 A on phase B
        // that lags by 60° from its own powers. 2 A on the 5 A circle is 0,4.
        {"three-wire load, currents from the phase powers and from the totals",
            [] {
                TParameters p = Readings({kU, kI, 30}, {kU, 2.0, 60}, {kU, kI, 30});
                p.Ua.value = p.Ub.value = p.Uc.value = 0.0; // no star point in this scheme
                p.ULa.value = p.ULb.value = p.ULc.value = 100.0;
                p.Pa.value = p.Qa.value = p.Pc.value = p.Qc.value = 0.0;
                p.P.value = 750.0;
                p.Q.value = 433.0127;
                return p;
            },
            [] { return std::optional<TParameters>(); }, {}, TWiringScheme::ThreeWire,
            {{kInst, piULa, "Uab", 30, 1.0, "100,0 V", "30°"}, {kInst, piULb, "Ubc", -90, 1.0, "100,0 V", "-90°"},
                {kInst, piULc, "Uca", 150, 1.0, "100,0 V", "150°"}, {kInst, piIa, "Ia", -30, 1.0, "5,000 A", "-30°"},
                {kInst, piIb, "Ib", -180 + 360, 0.4, "2,000 A", "180°"},
                {kInst, piIc, "Ic", 90, 1.0, "5,000 A", "90°"}},
            {}, {}, "100 V", "5 A"},
        {"phase B missing",
            [] {
                return Readings({kU, kI, 30}, {}, {kU, kI, 30});
            },
            [] { return std::optional<TParameters>(); }, {}, TWiringScheme::FourWire,
            {{kInst, piUa, "Ua", 0, lv, "57,74 V", "0°"}, {kInst, piUc, "Uc", 120, lv, "57,74 V", "120°"},
                {kInst, piIa, "Ia", -30, 1.0, "5,000 A", "-30°"}, {kInst, piIc, "Ic", 90, 1.0, "5,000 A", "90°"}},
            {"Ub", "Ib"}, {}, "60 V", "5 A"},
        // Readings under the thresholds (0,5 V, 1 mA) count as no signal.
        {"zero signal with a little noise",
            [] {
                return Readings({0.3, 0.0005, 0}, {0, 0, 0}, {0.1, 0.0009, 0});
            },
            [] { return std::optional(Readings({}, {}, {})); }, {}, TWiringScheme::FourWire, {},
            {"Ua", "Ub", "Uc", "Ia", "Ib", "Ic"}, {"Ua", "Ub", "Uc", "Ia", "Ib", "Ic"}, "", ""},
        // A current configuration drives currents only: no voltage, no power, so no angle; the arrow
        // stays on its phase's axis and says so. A value the transducer marked missing is not drawn.
        {"currents without voltage; a transducer value marked missing",
            [] {
                return Readings({0, 1.2, 0}, {0, 1.2, 0}, {0, 0, 0});
            },
            [] {
                TParameters p = Readings({0, 1.2, 0}, {0, 1.2, 0}, {});
                p.Ib.isDataCorrect = false;
                return std::optional(p);
            },
            {}, TWiringScheme::FourWire,
            {{kInst, piIa, "Ia", 0, 1.0, "1,200 A", ""}, {kInst, piIb, "Ib", -120, 1.0, "1,200 A", ""},
                {kTr, piIa, "Ia", 0, 1.0, "1,200 A", ""}},
            {"Ua", "Ub", "Uc", "Ic"}, {"Ua", "Ub", "Uc", "Ib", "Ic"}, "", "1,2 A"},
    };
}

} // namespace

TEST(VectorDiagram, ArrowsAnglesLengthsAndTextsByHand)
{
    for (const TDiagramCase &c : DiagramCases()) {
        SCOPED_TRACE(c.what);
        const TParameters inst = c.installation();
        const std::optional<TParameters> tr = c.transducer();
        const TVectorDiagram d = BuildVectorDiagram(inst, tr ? &*tr : nullptr, c.coefs, c.scheme);
        EXPECT_EQ(d.hasTransducer, tr.has_value());
        EXPECT_EQ(d.scheme, c.scheme);
        ASSERT_EQ(d.phasors.size(), c.phasors.size());
        for (size_t k = 0; k < c.phasors.size(); ++k) {
            const TExpectedPhasor &e = c.phasors[k];
            const TPhasor &p = d.phasors[k]; // the order is part of the contract: installation, then transducer
            SCOPED_TRACE(e.name.toStdString());
            EXPECT_EQ(p.source, e.source);
            EXPECT_EQ(p.param, e.param);
            EXPECT_EQ(p.name, e.name);
            EXPECT_NEAR(p.angle, e.angle, 1e-3);
            EXPECT_NEAR(p.length, e.length, 1e-4);
            EXPECT_EQ(p.valueText, e.value);
            EXPECT_EQ(p.angleText, e.angleText);
            EXPECT_EQ(p.angleKnown, !e.angleText.isEmpty());
            // The tip on the plane with Ua up: x = −L·sin θ, y = L·cos θ.
            EXPECT_NEAR(p.tip.x(), -e.length * std::sin(Rad(e.angle)), 1e-4);
            EXPECT_NEAR(p.tip.y(), e.length * std::cos(Rad(e.angle)), 1e-4);
            EXPECT_EQ(d.Find(p.source, p.param), &p);
        }
        EXPECT_EQ(d.missingInstallation, c.missingInstallation);
        EXPECT_EQ(d.missingTransducer, c.missingTransducer);
        EXPECT_EQ(d.voltageScaleText, c.voltageScale);
        EXPECT_EQ(d.currentScaleText, c.currentScale);
        EXPECT_EQ(d.mismatches, c.mismatches);
        for (const TPhasor &p : d.phasors)
            EXPECT_EQ(p.mismatch, c.mismatches.filter(p.name + " ").size() > 0 && p.source == kTr)
                << p.name.toStdString();
    }
}

TEST(VectorDiagram, PhaseAngleOfACurrentFollowsItsPowers)
{
    // φ = atan2(Q, P) in every quadrant, the current at −φ from Ua; angles kept in (−180°, 180°].
    struct {
        double p, q, angle;
    } rows[] = {{250, 144.3376, -30}, {0, 288.675, -90}, {-250, 144.3376, -150}, {-288.675, 0, 180},
        {-250, -144.3376, 150}, {0, -288.675, 90}, {288.675, 0, 0}, {250, -144.3376, 30}};
    for (const auto &r : rows) {
        TParameters p = Balanced(kU, kI, 0);
        p.Pa.value = r.p;
        p.Qa.value = r.q;
        const TVectorDiagram d = BuildVectorDiagram(p, nullptr, {}, TWiringScheme::FourWire);
        const TPhasor *ia = d.Find(kInst, piIa);
        ASSERT_NE(ia, nullptr);
        EXPECT_NEAR(ia->angle, r.angle, 1e-3) << r.p << " " << r.q;
        EXPECT_NEAR(ia->phi, NormalizeAngle(-r.angle), 1e-3);
    }
    // Powers far below U·I say nothing about the phase: the angle is unknown, not 0°.
    TParameters p = Balanced(kU, kI, 0);
    p.Pa.value = 1.0;
    p.Qa.value = 1.0;
    EXPECT_FALSE(BuildVectorDiagram(p, nullptr, {}, TWiringScheme::FourWire).Find(kInst, piIa)->angleKnown);

    // A transducer 8° off stays within what a measurement error may be; 12 % too little current does not.
    const TParameters tr = Readings({kU, kI, 38}, {kU, 4.4, 30}, {kU, kI, 30});
    const TVectorDiagram d = BuildVectorDiagram(Balanced(kU, kI, 30), &tr, {}, TWiringScheme::FourWire);
    EXPECT_EQ(d.mismatches, QStringList{"Ib 4,400 A вместо 5,000 A"});
    EXPECT_FALSE(d.Find(kTr, piIa)->mismatch);
    EXPECT_TRUE(d.Find(kTr, piIb)->mismatch);
    struct {
        double value;
        const char *text;
    } magnitudes[] = {
        {57.735027, "57,74"}, {99.99997, "100,0"}, {5.0, "5,000"}, {1234.5, "1235"}, {0.012345, "0,012"}, {0.0, "0"}};
    for (const auto &m : magnitudes)
        EXPECT_EQ(MagnitudeText(m.value), m.text) << m.value;
    EXPECT_DOUBLE_EQ(NormalizeAngle(-180), 180);
    EXPECT_DOUBLE_EQ(NormalizeAngle(540), 180);
    EXPECT_DOUBLE_EQ(NormalizeAngle(-270), 90);
}

TEST(ChartScale, RoundScalesAndSteps)
{
    struct {
        double value, ceiling;
    } ceilings[] = {{57.735, 60}, {5, 5}, {5.003, 6}, {0.33, 0.4}, {100, 100}, {1000, 1000}, {8.1, 10}, {0.0123, 0.015},
        {1.2, 1.2}, {0, 0}, {-3, 0}};
    for (const auto &c : ceilings)
        EXPECT_NEAR(NiceCeiling(c.value), c.ceiling, c.ceiling * 1e-12) << c.value;
    struct {
        double span;
        int ticks;
        double step;
    } steps[] = {{4.95, 10, 0.5}, {0.6, 8, 0.1}, {400, 8, 50}, {2, 8, 0.5}, {1, 10, 0.1}, {0.8, 8, 0.1}, {0, 8, 0}};
    for (const auto &s : steps)
        EXPECT_NEAR(NiceStep(s.span, s.ticks), s.step, s.step * 1e-12) << s.span;
}

TEST(ErrorChart, PointsBandAndAxesByHand)
{
    TErrorTable t;
    t.title = "Ток фазы A";
    t.inputCaption = "Ток, A";
    t.inputs = {0.5, 1.0, 5.0, 2.5, std::nullopt, 4.0};
    t.columns = {{"Ia", {0.1, -0.25, std::nullopt, 0.3, 0.1}}, // shorter than the table
        {"P", {0.05, 0.2, -0.19, 0.21, 0.3, std::nan("")}}}; // 0,2 is on the band's edge: inside
    t.permissibleError = 0.2;
    const TErrorChartData d = BuildErrorChart(t);
    EXPECT_EQ(d.title, "Ток фазы A");
    EXPECT_EQ(d.inputCaption, "Ток, A");
    EXPECT_EQ(d.errorCaption, "Погрешность, %");
    EXPECT_EQ(d.bandCaption, "Допуск ±0,2 %");
    EXPECT_DOUBLE_EQ(d.band, 0.2);
    ASSERT_EQ(d.series.size(), 2u);
    struct {
        double x, y;
        int row;
        bool outside;
    } ia[] = {{0.5, 0.1, 0, false}, {1.0, -0.25, 1, true}, {2.5, 0.3, 3, true}},
      p[] = {{0.5, 0.05, 0, false}, {1.0, 0.2, 1, false}, {2.5, 0.21, 3, true}, {5.0, -0.19, 2, false}};
    auto check = [](const TErrorSeries &s, const auto &expected, const char *name, int outside) {
        EXPECT_EQ(s.name, name);
        ASSERT_EQ(s.points.size(), std::size(expected));
        for (size_t k = 0; k < std::size(expected); ++k) {
            EXPECT_DOUBLE_EQ(s.points[k].x, expected[k].x) << name << k;
            EXPECT_DOUBLE_EQ(s.points[k].y, expected[k].y) << name << k;
            EXPECT_EQ(s.points[k].row, expected[k].row) << name << k;
            EXPECT_EQ(s.points[k].outside, expected[k].outside) << name << k;
        }
        EXPECT_EQ(s.outsideCount, outside);
    };
    check(d.series[0], ia, "Ia", 2);
    check(d.series[1], p, "P", 1);
    EXPECT_EQ(d.pointCount, 7);
    EXPECT_EQ(d.outsideCount, 3);
    // Errors up to 0,3: 1,1 × 0,3 = 0,33 → ±0,4 in steps of 0,1. Inputs 0,5…5 with 5 % margin →
    // 0,275…5,225, in steps of 0,5 from 0 to 5,5.
    EXPECT_NEAR(d.yMin, -0.4, 1e-12);
    EXPECT_NEAR(d.yMax, 0.4, 1e-12);
    EXPECT_NEAR(d.yStep, 0.1, 1e-12);
    EXPECT_NEAR(d.xMin, 0.0, 1e-12);
    EXPECT_NEAR(d.xMax, 5.5, 1e-12);
    EXPECT_NEAR(d.xStep, 0.5, 1e-12);
}

TEST(ErrorChart, EdgesOfTheRanges)
{
    struct {
        const char *what;
        TErrorTable table;
        double xMin, xMax, yMin, yMax;
        int outside;
        QString band;
    } cases[] = {
        // Nothing measured yet: a frame of 0…1,2 and ±1 %.
        // Nothing measured yet: 0…1 with its margin in steps of 0,2; the band 1,5 × 0,5 = 0,75 → ±0,8.
        {"empty", {"", "Ток, A", {}, {}, 0.5}, 0.0, 1.2, -0.8, 0.8, 0, "Допуск ±0,5 %"},
        // One voltage: ±10 % around it (198…242) in steps of 5.
        {"one point", {"", "Напр., V", {220.0}, {{"Ua", {0.1}}}, 0.5}, 195.0, 245.0, -0.8, 0.8, 0, "Допуск ±0,5 %"},
        // A wild error is shown whole: 1,1 × 150 = 165 → ±200 in steps of 50.
        {"wild error", {"", "Ток, A", {1.0, 2.0}, {{"Ia", {150.0, -0.1}}}, 0.2}, 0.8, 2.2, -200, 200, 1,
            "Допуск ±0,2 %"},
        // Without a permissible error every error but zero is outside and no band is drawn:
        // 0,11 → 0,12, steps of 0,05 → ±0,15.
        {"no band", {"", "Ток, A", {1.0, 3.0}, {{"Ia", {0.1, 0.0}}}, 0.0}, 0.5, 3.5, -0.15, 0.15, 1, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TErrorChartData d = BuildErrorChart(c.table);
        EXPECT_NEAR(d.xMin, c.xMin, 1e-9);
        EXPECT_NEAR(d.xMax, c.xMax, 1e-9);
        EXPECT_NEAR(d.yMin, c.yMin, 1e-9);
        EXPECT_NEAR(d.yMax, c.yMax, 1e-9);
        EXPECT_EQ(d.outsideCount, c.outside);
        EXPECT_EQ(d.bandCaption, c.band);
        EXPECT_EQ(d.series.size(), c.table.columns.size());
    }
}

TEST(LabelLayout, CrowdedLabelsKeepClearOfEachOtherAndOfTheArrows)
{
    // Six tips crowded in one 40° sector of a 150 px circle (a resistive load: voltage and current of a
    // phase on one line), boxes of a two-line label.
    const QPointF centre(300, 300);
    const QRectF bounds(0, 0, 600, 600);
    std::vector<TLabelRequest> labels;
    std::vector<QLineF> arrows;
    for (int k = 0; k < 6; ++k) {
        const double a = Rad(70 + k * 8);
        const QPointF tip(centre.x() + 150 * std::cos(a), centre.y() - 150 * std::sin(a));
        labels.push_back({tip, tip - centre, QSizeF(120, 34)});
        arrows.emplace_back(centre, tip);
    }
    const std::vector<QRectF> boxes = PlaceLabels(labels, bounds, {QRectF(0, 0, 600, 20)}, arrows);
    ASSERT_EQ(boxes.size(), labels.size());
    for (size_t k = 0; k < boxes.size(); ++k) {
        EXPECT_TRUE(bounds.contains(boxes[k])) << k;
        EXPECT_FALSE(boxes[k].intersects(QRectF(0, 0, 600, 20))) << k;
        EXPECT_EQ(boxes[k].size(), QSizeF(120, 34));
        for (const QLineF &arrow : arrows)
            EXPECT_FALSE(LineCrossesRect(arrow, boxes[k])) << k;
        for (size_t j = 0; j < k; ++j)
            EXPECT_FALSE(boxes[k].intersects(boxes[j])) << k << " " << j;
        // Near its own tip: within the rings searched, not thrown across the picture.
        const QPointF c = boxes[k].center();
        EXPECT_LT(QLineF(c, labels[k].anchor).length(), 220) << k;
    }

    // Crossing: through the box, ending inside it, passing beside it.
    const QRectF r(10, 10, 20, 10);
    EXPECT_TRUE(LineCrossesRect(QLineF(0, 15, 40, 15), r));
    EXPECT_TRUE(LineCrossesRect(QLineF(0, 0, 20, 15), r));
    EXPECT_FALSE(LineCrossesRect(QLineF(0, 25, 40, 25), r));
    EXPECT_FALSE(LineCrossesRect(QLineF(0, 0, 9, 30), r));
}
