#include "charts/errorchart.h"

#include <algorithm>
#include <cmath>

#include "charts/chartscale.h"
#include "protocol/numberformat.h"

namespace {

constexpr double kEps = 1e-9;

// Axis ends on multiples of the step, outward.
void Snap(double lo, double hi, double step, double &min, double &max)
{
    min = std::floor(lo / step + kEps) * step;
    max = std::ceil(hi / step - kEps) * step;
    if (max <= min)
        max = min + step;
}

} // namespace

TErrorChartData BuildErrorChart(const TErrorTable &table)
{
    TErrorChartData d;
    d.title = table.title;
    d.inputCaption = table.inputCaption;
    d.errorCaption = QStringLiteral("Погрешность, %");
    const double band = std::isfinite(table.permissibleError) ? std::fabs(table.permissibleError) : 0.0;
    d.band = band;
    if (band > 0)
        d.bandCaption = QStringLiteral("Допуск ±") + FloatToQStr(band) + QStringLiteral(" %");

    double xLo = 0.0, xHi = 0.0, yAbs = 0.0;
    bool any = false;
    const int rows = static_cast<int>(table.inputs.size());
    for (const TErrorColumn &column : table.columns) {
        TErrorSeries s;
        s.name = column.name;
        const int n = std::min(rows, static_cast<int>(column.errors.size()));
        for (int row = 0; row < n; ++row) {
            const std::optional<double> &x = table.inputs[static_cast<size_t>(row)];
            const std::optional<double> &y = column.errors[static_cast<size_t>(row)];
            if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y))
                continue;
            // Red where the table's cell is red: its own mark when it gave one, else the band's rule.
            const bool outside = static_cast<size_t>(row) < column.over.size()
                ? bool(column.over[static_cast<size_t>(row)])
                : std::fabs(*y) > band;
            s.points.push_back({*x, *y, row, outside});
            s.outsideCount += outside ? 1 : 0;
            xLo = any ? std::min(xLo, *x) : *x;
            xHi = any ? std::max(xHi, *x) : *x;
            yAbs = std::max(yAbs, std::fabs(*y));
            any = true;
        }
        std::stable_sort(
            s.points.begin(), s.points.end(), [](const TErrorPoint &a, const TErrorPoint &b) { return a.x < b.x; });
        d.pointCount += static_cast<int>(s.points.size());
        d.outsideCount += s.outsideCount;
        d.series.push_back(std::move(s));
    }

    // Errors: symmetric about zero, the band with room above it, every point inside.
    double reach = std::max(1.5 * band, 1.1 * yAbs);
    if (!(reach > 0))
        reach = 1.0;
    const double top = NiceCeiling(reach);
    d.yStep = NiceStep(2.0 * top, 8);
    Snap(-top, top, d.yStep, d.yMin, d.yMax);

    // Inputs: the points' span with a margin, from zero at the least when every input is positive.
    if (!any) {
        xLo = 0.0;
        xHi = 1.0;
    }
    const double span = xHi - xLo;
    const double pad = span > 0 ? span * 0.05 : (xLo != 0.0 ? std::fabs(xLo) * 0.1 : 1.0);
    double a = xLo - pad;
    const double b = xHi + pad;
    if (xLo >= 0 && a < 0)
        a = 0.0;
    d.xStep = NiceStep(b - a, 10);
    Snap(a, b, d.xStep, d.xMin, d.xMax);
    return d;
}
