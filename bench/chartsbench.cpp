// What the pictures cost: an error chart update for a 1000-row tab (goal: well under 50 ms), and the
// vector diagram rebuilt and painted as at every 2 s poll, with its share of one core.
//
// Offscreen unless QT_QPA_PLATFORM says otherwise. Build in a release folder for figures worth quoting.

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "charts/errorchart.h"
#include "charts/errorchartwidget.h"
#include "charts/vectordiagram.h"
#include "charts/vectordiagramform.h"
#include "charts/vectordiagramwidget.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TFigures {
    double median = 0.0;
    double max = 0.0;
};

// Milliseconds per run of `work`, after two runs to warm up.
TFigures Time(int runs, const std::function<void(int)> &work)
{
    work(-2);
    work(-1);
    std::vector<double> ms;
    for (int k = 0; k < runs; ++k) {
        const auto start = Clock::now();
        work(k);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

TErrorTable Table(int rows, int columns, int variant)
{
    TErrorTable t;
    t.title = QStringLiteral("Вкладка 1");
    t.inputCaption = QStringLiteral("Ток, A");
    t.permissibleError = 0.2;
    for (int r = 0; r < rows; ++r)
        t.inputs.push_back(0.005 * (r + 1));
    for (int c = 0; c < columns; ++c) {
        TErrorColumn col;
        col.name = QStringLiteral("I") + QChar('a' + c);
        for (int r = 0; r < rows; ++r)
            col.errors.push_back(0.25 * std::sin(0.05 * r + c + 0.1 * variant));
        t.columns.push_back(col);
    }
    return t;
}

TParameters Balanced(double u, double i, double phi, double extraA)
{
    TParameters p;
    TParameter *us[3] = {&p.Ua, &p.Ub, &p.Uc};
    TParameter *is[3] = {&p.Ia, &p.Ib, &p.Ic};
    TParameter *ps[3] = {&p.Pa, &p.Pb, &p.Pc};
    TParameter *qs[3] = {&p.Qa, &p.Qb, &p.Qc};
    for (int k = 0; k < 3; ++k) {
        const double f = (phi + (k == 0 ? extraA : 0.0)) * 3.14159265358979 / 180.0;
        us[k]->value = u;
        is[k]->value = i;
        ps[k]->value = u * i * std::cos(f);
        qs[k]->value = u * i * std::sin(f);
    }
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::printf("charts (platform %s)\n", qPrintable(QGuiApplication::platformName()));

    // Error chart, 1000 rows: the data, the series update, and the update with a full repaint.
    for (int columns : {1, 3, 5}) {
        std::vector<TErrorTable> tables;
        for (int v = 0; v < 4; ++v)
            tables.push_back(Table(1000, columns, v));
        TErrorChartWidget chart;
        chart.resize(760, 420);
        QImage image(760, 420, QImage::Format_ARGB32_Premultiplied);
        const TFigures build = Time(30, [&](int k) { (void)BuildErrorChart(tables[static_cast<size_t>(k + 2) % 4]); });
        const TFigures update = Time(30, [&](int k) { chart.ShowTable(tables[static_cast<size_t>(k + 2) % 4]); });
        const TFigures paint = Time(30, [&](int k) {
            chart.ShowTable(tables[static_cast<size_t>(k + 2) % 4]);
            QPainter painter(&image);
            chart.render(&painter);
        });
        int outside = chart.Data().outsideCount;
        std::printf(
            "  error chart, 1000 rows x %d column(s), %d points outside (goal: update < 50 ms)\n", columns, outside);
        std::printf("    data:             median %7.3f ms, max %7.3f ms\n", build.median, build.max);
        std::printf("    data + series:    median %7.3f ms, max %7.3f ms\n", update.median, update.max);
        std::printf("    update + repaint: median %7.3f ms, max %7.3f ms\n", paint.median, paint.max);
    }

    // Vector diagram: installation and transducer sets, as after each poll and its transducer read.
    TVectorDiagramForm form;
    form.resize(760, 640);
    QImage image(760, 640, QImage::Format_ARGB32_Premultiplied);
    const TParameters inst = Balanced(57.735, 5.0, 30.0, 0.0);
    std::vector<TParameters> rs;
    for (int v = 0; v < 4; ++v)
        rs.push_back(Balanced(57.7, 5.0, 30.0, 1.0 + v));
    const TFigures build = Time(200, [&](int k) {
        (void)BuildVectorDiagram(inst, &rs[static_cast<size_t>(k + 2) % 4], {}, TWiringScheme::FourWire);
    });
    const TFigures cycle = Time(100, [&](int k) {
        form.ShowInstallationReadings(inst, TWiringScheme::FourWire);
        form.ShowTransducerReadings(rs[static_cast<size_t>(k + 2) % 4], {});
        QPainter painter(&image);
        form.Diagram()->Paint(painter, QRectF(0, 0, 760, 640));
    });
    std::printf("  vector diagram, 760 x 640, installation and transducer\n");
    std::printf("    data:             median %7.3f ms, max %7.3f ms\n", build.median, build.max);
    std::printf("    update + paint:   median %7.3f ms, max %7.3f ms\n", cycle.median, cycle.max);
    std::printf("    at one poll every 2 s: %.4f %% of one core (median)\n", 100.0 * cycle.median / 2000.0);
    return 0;
}
