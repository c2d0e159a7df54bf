#pragma once
// Places text boxes beside the points they belong to so that none covers another: the arrow labels of
// the vector diagram, whose tips crowd together when voltage and current of a phase are close.
// Pixel coordinates, y down.

#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <vector>

struct TLabelRequest {
    QPointF anchor; // the point the label belongs to, e.g. an arrow's tip
    QPointF direction; // where it should preferably go from the anchor (any length); zero: up
    QSizeF size;
};

// One box per request, in request order; earlier requests get the better places. A box is put as near
// its anchor as it can go, first in its direction, then turned away from it step by step, without
// covering a box already placed or an obstacle, and inside `bounds`; where it can, it also crosses none
// of `lines` (the arrows). When no place is free, the place that covers least is taken.
std::vector<QRectF> PlaceLabels(const std::vector<TLabelRequest> &labels, const QRectF &bounds,
    const std::vector<QRectF> &obstacles = {}, const std::vector<QLineF> &lines = {});

// True when the segment touches the inside of the box.
bool LineCrossesRect(const QLineF &line, const QRectF &rect);
