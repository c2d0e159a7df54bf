// The pictures as a person sees them: the diagram's window and the error chart painted, their PNGs saved
// in the build folder (offscreen, and under Xvfb by a second registration), and what the paint did
// checked: labels clear of each other, red points, numbers with the comma.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLineSeries>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "charts/errorchartwidget.h"
#include "charts/vectordiagramform.h"
#include "charts/vectordiagramwidget.h"
#include "chartsdata.h"

using namespace chartsdata;

namespace {

const double kU = 100.0 / std::sqrt(3.0);
const TTransfCoefs kQx4{100.0, 5.0, 10000.0, 100.0};

QString ShotPath(const QString &stem)
{
    const QByteArray dir = qgetenv("KEST_BINARY_DIR");
    if (dir.isEmpty())
        return {};
    return QString::fromUtf8(dir) + "/" + stem + "_" + QGuiApplication::platformName() + ".png";
}

// Pixels near a colour.
int CountColor(const QImage &image, const QColor &color, int tolerance = 40)
{
    int n = 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (std::abs(qRed(line[x]) - color.red()) <= tolerance
                && std::abs(qGreen(line[x]) - color.green()) <= tolerance
                && std::abs(qBlue(line[x]) - color.blue()) <= tolerance)
                ++n;
        }
    }
    return n;
}

} // namespace

TEST(VectorDiagramForm, ScreenshotsWithLabelsClearOfEachOther)
{
    struct {
        const char *stem;
        TParameters installation;
        std::optional<TParameters> transducer;
        TTransfCoefs coefs;
        TWiringScheme scheme;
        size_t labels; // one per arrow, shared where both sets' tips meet
    } cases[] = {
        // A QX4 with a 3° phase error on A and 1 % too much current on C: every tip near the
        // installation's, so six shared labels.
        {"vectordiagram_phase_error", Balanced(kU, 5.0, 30),
            Readings({kU, 5.0, 33}, {kU, 5.0, 30}, {kU, 5.05, 30}, 100.0, 20.0), kQx4, TWiringScheme::FourWire, 6},
        // Currents B and C swapped at the transducer: its Ib and Ic land on the other phase.
        {"vectordiagram_swapped_phase", Balanced(kU, 5.0, 30), Readings({kU, 5.0, 30}, {kU, 5.0, 150}, {kU, 5.0, -90}),
            {}, TWiringScheme::FourWire, 8},
        {"vectordiagram_three_wire", Balanced(kU, 2.5, 0), std::nullopt, {}, TWiringScheme::ThreeWire, 6},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.stem);
        TVectorDiagramForm form;
        EXPECT_EQ(form.windowTitle(), "Векторная диаграмма");
        EXPECT_TRUE(form.isWindow());
        if (c.transducer)
            form.ShowTransducerReadings(*c.transducer, c.coefs);
        EXPECT_FALSE(form.Diagram()->HasDiagram()); // nothing without the installation's readings
        form.ShowInstallationReadings(c.installation, c.scheme);
        form.resize(760, 640);
        const QImage shot = form.grab().toImage();
        if (const QString path = ShotPath(c.stem); !path.isEmpty()) {
            EXPECT_TRUE(shot.save(path)) << path.toStdString();
        }

        const TVectorDiagramWidget::TPainted &painted = form.Diagram()->Painted();
        ASSERT_EQ(painted.labels.size(), c.labels);
        const QRectF image(QPointF(0, 0), QSizeF(shot.size()));
        for (size_t k = 0; k < painted.labels.size(); ++k) {
            EXPECT_TRUE(image.contains(painted.labels[k])) << k;
            for (size_t j = 0; j < k; ++j)
                EXPECT_FALSE(painted.labels[k].intersects(painted.labels[j])) << k << " " << j;
            for (const QRectF &text : painted.texts)
                EXPECT_FALSE(painted.labels[k].intersects(text)) << k;
        }
        EXPECT_TRUE(image.contains(painted.circle));
        EXPECT_GT(painted.circle.width(), 250);
        EXPECT_GT(CountColor(shot, TVectorDiagramWidget::kInstallationColor), 500);
        EXPECT_EQ(CountColor(shot, TVectorDiagramWidget::kTransducerColor) > 300, c.transducer.has_value());
    }

    // The latest set of each source stays until replaced or forgotten.
    TVectorDiagramForm form;
    form.ShowInstallationReadings(Balanced(kU, 5.0, 30), TWiringScheme::FourWire);
    form.ShowTransducerReadings(Balanced(kU, 5.0, 30), {});
    form.ShowInstallationReadings(Balanced(kU, 4.0, 30), TWiringScheme::ThreeWire);
    EXPECT_TRUE(form.Diagram()->Diagram().hasTransducer);
    EXPECT_EQ(form.Diagram()->Diagram().scheme, TWiringScheme::ThreeWire);
    form.ForgetTransducer();
    EXPECT_FALSE(form.Diagram()->Diagram().hasTransducer);
    EXPECT_TRUE(form.Diagram()->HasDiagram());
    form.Clear();
    EXPECT_FALSE(form.Diagram()->HasDiagram());
    form.ShowTransducerReadings(Balanced(kU, 5.0, 30), {});
    EXPECT_FALSE(form.Diagram()->HasDiagram());
}

TEST(ErrorChartWidget, TenRowTableWithRedPointsAndCommas)
{
    // A current tab of ten points and three columns; Ib has a dashed cell.
    TErrorTable t;
    t.title = "Вкладка 1";
    t.inputCaption = "Ток, A";
    t.inputs = {0.05, 0.25, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0};
    t.columns = {{"Ia", {0.12, 0.08, -0.05, 0.02, 0.10, 0.15, 0.18, 0.21, 0.24, 0.28}},
        {"Ib", {-0.31, -0.12, -0.06, std::nullopt, 0.01, 0.03, -0.02, 0.05, 0.04, 0.06}},
        {"Ic", {0.02, 0.05, 0.09, 0.11, 0.14, 0.13, 0.12, 0.19, 0.17, 0.16}}};
    t.permissibleError = 0.2;
    TErrorChartWidget w;
    w.ShowTable(t);
    w.resize(760, 420);
    const QImage shot = w.grab().toImage();
    if (const QString path = ShotPath("errorchart_ten_rows"); !path.isEmpty()) {
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
    }

    // One line per column, with its discs at ten points, beside the band and the red points.
    EXPECT_EQ(w.Chart()->series().size(), 5);
    const qsizetype points[] = {10, 9, 10};
    for (int k = 0; k < 3; ++k) {
        QLineSeries *s = w.ColumnSeries(k);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->name(), t.columns[static_cast<size_t>(k)].name);
        EXPECT_EQ(s->count(), points[k]);
        EXPECT_TRUE(s->pointsVisible());
    }
    // Ia at 3, 4 and 5 A, Ib at 0,05 A: over 0,2 % in magnitude.
    const QList<QPointF> red{{0.05, -0.31}, {3.0, 0.21}, {4.0, 0.24}, {5.0, 0.28}};
    QList<QPointF> shown = w.OutsideSeries()->points();
    std::sort(shown.begin(), shown.end(), [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    EXPECT_EQ(shown, red);
    EXPECT_TRUE(w.OutsideSeries()->isVisible());
    EXPECT_EQ(w.OutsideSeries()->name(), "Вне допуска");
    EXPECT_GT(CountColor(shot, TErrorChartWidget::kOutsideColor, 30), 4 * 40); // four red discs
    // Axis numbers carry the comma, never a point.
    QStringList texts;
    for (QGraphicsItem *item : w.findChild<QChartView *>()->scene()->items()) {
        if (auto *text = dynamic_cast<QGraphicsTextItem *>(item))
            texts << text->toPlainText();
    }
    EXPECT_TRUE(texts.contains("0,1")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("-0,3") || texts.contains("−0,3")) << texts.join(" | ").toStdString();
    EXPECT_FALSE(texts.filter(QRegularExpression("\\d\\.\\d")).size() > 0) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("0")); // zero as zero, not "-0,0"
    EXPECT_FALSE(texts.contains("-0") || texts.contains("-0,0"));
    EXPECT_TRUE(texts.contains("Погрешность, %"));
    EXPECT_TRUE(texts.contains("Ток, A"));

    // Another tab: one column, no point outside; the red key leaves the legend.
    TErrorTable u;
    u.inputCaption = "Напр., V";
    u.inputs = {50, 100, 150};
    u.columns = {{"Ua", {0.01, -0.02, 0.03}}};
    u.permissibleError = 0.5;
    w.ShowTable(u);
    EXPECT_EQ(w.Chart()->series().size(), 3);
    EXPECT_EQ(w.ColumnSeries(1), nullptr);
    EXPECT_EQ(w.OutsideSeries()->count(), 0);
    EXPECT_FALSE(w.OutsideSeries()->isVisible());
    EXPECT_EQ(CountColor(w.grab().toImage(), TErrorChartWidget::kOutsideColor, 30), 0);

    // The picture for a report.
    const QImage report = RenderErrorChart(t, QSize(640, 360));
    EXPECT_EQ(report.size(), QSize(640, 360));
    EXPECT_GT(CountColor(report, TErrorChartWidget::kOutsideColor, 30), 4 * 30);
}

// Errors of up to 3,2 % in a chart as low as the verification window's: the error axis takes a coarser
// step so that its labels fit (none cut to "…"); a tall chart keeps the step of the data.
TEST(ErrorChartWidget, ErrorAxisStepFollowsTheHeightSoLabelsFit)
{
    TErrorTable table;
    table.title = QStringLiteral("Вкладка 1");
    table.permissibleError = 0.2;
    table.inputs = {0.5, 1.0, 1.5};
    table.columns = {{"Ia", {-0.1, 0.0, 3.2}, {false, false, true}}};
    const TErrorChartData data = BuildErrorChart(table);
    ASSERT_GT(data.yStep, 0);
    struct TCase {
        int height;
        bool coarser;
    };
    for (const TCase tc : {TCase{260, true}, TCase{1200, false}}) {
        SCOPED_TRACE(tc.height);
        TErrorChartWidget widget;
        widget.resize(760, tc.height);
        widget.show();
        widget.ShowTable(table);
        QCoreApplication::processEvents();
        auto *view = widget.findChild<QChartView *>();
        ASSERT_TRUE(view);
        const auto axes = view->chart()->axes(Qt::Vertical);
        ASSERT_EQ(axes.size(), 1);
        auto *axis = qobject_cast<QCategoryAxis *>(axes[0]);
        ASSERT_TRUE(axis);
        const QStringList labels = axis->categoriesLabels();
        ASSERT_GE(labels.size(), 3);
        const double step = axis->endValue(labels[1]) - axis->endValue(labels[0]);
        EXPECT_EQ(step > data.yStep * 1.5, tc.coarser) << step << " vs " << data.yStep;
        const double lineHeight = QFontMetrics(axis->labelsFont()).height();
        EXPECT_LE(labels.size() * lineHeight, view->height()) << labels.size();
        EXPECT_LE(axis->min(), -0.1);
        EXPECT_GE(axis->max(), 3.2);
    }
}
