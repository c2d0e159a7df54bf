#include "charts/labellayout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kGap = 3.0; // px between an anchor and its box
constexpr double kStep = 5.0; // px between the rings of candidate places
constexpr int kRings = 30;
constexpr double kTurns[] = {0, 15, -15, 30, -30, 45, -45, 60, -60, 90, -90, 120, -120, 150, -150, 180};
constexpr double kCostPerDegree = 0.5; // px of distance one degree of turning is worth

struct TCandidate {
    QRectF rect;
    double cost;
};

double OverlapArea(const QRectF &a, const QRectF &b)
{
    const QRectF i = a.intersected(b);
    return i.isEmpty() ? 0.0 : i.width() * i.height();
}

// The box whose edge meets `point` on the ray that leaves the box's centre in direction −u.
QRectF BoxBeyond(const QPointF &point, double ux, double uy, const QSizeF &size)
{
    const double hw = size.width() / 2.0, hh = size.height() / 2.0;
    double t = std::numeric_limits<double>::max();
    if (std::fabs(ux) > 1e-9)
        t = std::min(t, hw / std::fabs(ux));
    if (std::fabs(uy) > 1e-9)
        t = std::min(t, hh / std::fabs(uy));
    const QPointF centre(point.x() + ux * t, point.y() + uy * t);
    return QRectF(centre.x() - hw, centre.y() - hh, size.width(), size.height());
}

} // namespace

bool LineCrossesRect(const QLineF &line, const QRectF &rect)
{
    if (rect.isEmpty())
        return false;
    const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    if (inner.contains(line.p1()) || inner.contains(line.p2()))
        return true;
    const QPointF c[4] = {inner.topLeft(), inner.topRight(), inner.bottomRight(), inner.bottomLeft()};
    for (int k = 0; k < 4; ++k) {
        if (line.intersects(QLineF(c[k], c[(k + 1) % 4]), nullptr) == QLineF::BoundedIntersection)
            return true;
    }
    return false;
}

std::vector<QRectF> PlaceLabels(const std::vector<TLabelRequest> &labels, const QRectF &bounds,
    const std::vector<QRectF> &obstacles, const std::vector<QLineF> &lines)
{
    std::vector<QRectF> placed;
    placed.reserve(labels.size());
    std::vector<TCandidate> candidates;
    for (const TLabelRequest &label : labels) {
        double dx = label.direction.x(), dy = label.direction.y();
        const double norm = std::hypot(dx, dy);
        if (norm < 1e-9) {
            dx = 0.0;
            dy = -1.0;
        } else {
            dx /= norm;
            dy /= norm;
        }
        candidates.clear();
        for (double turn : kTurns) {
            const double a = turn * std::numbers::pi / 180.0;
            const double ux = dx * std::cos(a) - dy * std::sin(a);
            const double uy = dx * std::sin(a) + dy * std::cos(a);
            for (int ring = 0; ring < kRings; ++ring) {
                const double d = kGap + ring * kStep;
                const QPointF at(label.anchor.x() + ux * d, label.anchor.y() + uy * d);
                candidates.push_back({BoxBeyond(at, ux, uy, label.size), d + std::fabs(turn) * kCostPerDegree});
            }
        }
        std::stable_sort(candidates.begin(), candidates.end(),
            [](const TCandidate &a, const TCandidate &b) { return a.cost < b.cost; });

        auto covers = [&](const QRectF &r) {
            for (const QRectF &other : placed) {
                if (r.intersects(other))
                    return true;
            }
            for (const QRectF &other : obstacles) {
                if (r.intersects(other))
                    return true;
            }
            return false;
        };
        auto crosses = [&](const QRectF &r) {
            for (const QLineF &l : lines) {
                if (LineCrossesRect(l, r))
                    return true;
            }
            return false;
        };

        const QRectF *chosen = nullptr;
        for (int pass = 0; pass < 2 && !chosen; ++pass) {
            for (const TCandidate &c : candidates) {
                if (bounds.contains(c.rect) && !covers(c.rect) && (pass == 1 || !crosses(c.rect))) {
                    chosen = &c.rect;
                    break;
                }
            }
        }
        if (chosen) {
            placed.push_back(*chosen);
            continue;
        }
        // Crowded beyond help: the place that covers least, kept inside the bounds where it fits.
        double best = std::numeric_limits<double>::max();
        QRectF bestRect = candidates.front().rect;
        for (const TCandidate &c : candidates) {
            double cover = 0.0;
            for (const QRectF &other : placed)
                cover += OverlapArea(c.rect, other);
            for (const QRectF &other : obstacles)
                cover += OverlapArea(c.rect, other);
            cover += c.rect.width() * c.rect.height() - OverlapArea(c.rect, bounds);
            if (cover < best) {
                best = cover;
                bestRect = c.rect;
            }
        }
        placed.push_back(bestRect);
    }
    return placed;
}
