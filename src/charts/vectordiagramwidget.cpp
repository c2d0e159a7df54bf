#include "charts/vectordiagramwidget.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "charts/labellayout.h"

namespace {

constexpr double kMargin = 8.0;
constexpr double kLabelPadding = 3.0;
// Tips of the two sets closer than this (share of the radius) share one label.
constexpr double kSharedLabelDistance = 0.12;

struct TLine {
    QString lead; // the name, or empty under a shared label's first line
    QString text; // magnitude and angle
    QColor color;
};

struct TLabel {
    std::vector<TLine> lines;
    QPointF tip; // unit plane
};

QString LineText(const TPhasor &p)
{
    return p.valueText + QStringLiteral("  ") + (p.angleKnown ? p.angleText : QStringLiteral("угол ?"));
}

QColor SourceColor(TPhasorSource source)
{
    return source == TPhasorSource::Installation ? TVectorDiagramWidget::kInstallationColor
                                                 : TVectorDiagramWidget::kTransducerColor;
}

// Labels in the order they get their places: the installation's voltages, its currents, then what the
// transducer shows elsewhere.
std::vector<TLabel> BuildLabels(const TVectorDiagram &d)
{
    std::vector<TLabel> labels;
    std::vector<const TPhasor *> done;
    for (const TPhasor &p : d.phasors) {
        if (std::find(done.begin(), done.end(), &p) != done.end())
            continue;
        TLabel label;
        label.tip = p.tip;
        label.lines.push_back({p.name, LineText(p), SourceColor(p.source)});
        done.push_back(&p);
        if (p.source == TPhasorSource::Installation) {
            const TPhasor *t = d.Find(TPhasorSource::Transducer, p.param);
            if (t && QLineF(p.tip, t->tip).length() < kSharedLabelDistance) {
                label.lines.push_back({QString(), LineText(*t), SourceColor(t->source)});
                if (t->length > p.length)
                    label.tip = t->tip;
                done.push_back(t);
            }
        }
        labels.push_back(std::move(label));
    }
    return labels;
}

// `hollow`: an outlined head, so that a filled head underneath (the installation's) stays visible.
void DrawArrow(QPainter &painter, const QPointF &from, const QPointF &to, const QPen &pen, double head, bool hollow)
{
    const QLineF line(from, to);
    painter.setPen(pen);
    if (line.length() < 2.0) {
        painter.setBrush(pen.color());
        painter.drawEllipse(to, 2.0, 2.0);
        return;
    }
    head = std::min(head, line.length() * 0.4);
    const double a = std::atan2(to.y() - from.y(), to.x() - from.x());
    const QPointF base(to.x() - head * std::cos(a), to.y() - head * std::sin(a));
    painter.drawLine(QLineF(from, base));
    QPainterPath tip;
    const double w = head * 0.42;
    tip.moveTo(to);
    tip.lineTo(base.x() + w * std::sin(a), base.y() - w * std::cos(a));
    tip.lineTo(base.x() - w * std::sin(a), base.y() + w * std::cos(a));
    tip.closeSubpath();
    if (hollow) {
        QPen outline = pen;
        outline.setStyle(Qt::SolidLine);
        outline.setWidthF(1.4);
        outline.setJoinStyle(Qt::MiterJoin);
        painter.strokePath(tip, outline);
    } else {
        painter.fillPath(tip, pen.color());
    }
}

} // namespace

TVectorDiagramWidget::TVectorDiagramWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("VectorDiagram"));
    QFont f = font();
    f.setPointSizeF(10.0);
    setFont(f);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TVectorDiagramWidget::SetDiagram(const TVectorDiagram &diagram)
{
    diagram_ = diagram;
    hasDiagram_ = true;
    update();
}

void TVectorDiagramWidget::Clear()
{
    diagram_ = TVectorDiagram{};
    hasDiagram_ = false;
    update();
}

void TVectorDiagramWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Paint(painter, QRectF(rect()));
}

void TVectorDiagramWidget::Paint(QPainter &painter, const QRectF &area)
{
    painted_ = TPainted{};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);
    painter.setFont(font());
    const QFontMetricsF fm(painter.font());
    const double lineH = fm.height();
    const TVectorDiagram &d = diagram_;

    // Caption.
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    const QString caption = QStringLiteral("Векторная диаграмма")
        + (hasDiagram_ ? (d.scheme == TWiringScheme::FourWire ? QStringLiteral(" — четырёхпроводная схема")
                                                              : QStringLiteral(" — трёхпроводная схема"))
                       : QString());
    const QRectF captionRect(area.left() + kMargin, area.top() + kMargin, area.width() - 2 * kMargin, lineH);
    painter.setPen(Qt::black);
    painter.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter, caption);
    painted_.texts.push_back(QFontMetricsF(bold).boundingRect(captionRect, Qt::AlignLeft | Qt::AlignVCenter, caption));
    painter.setFont(font());

    // The lines underneath: a list after its lead, wrapped item by item where it is too long.
    const double textWidth = area.width() - 2 * kMargin;
    std::vector<std::pair<QString, QColor>> notes;
    auto note = [&](const QString &lead, const QStringList &items, const QColor &color) {
        QString line = lead;
        for (int k = 0; k < items.size(); ++k) {
            const QString item = items[k] + (k + 1 < items.size() ? QStringLiteral(", ") : QString());
            if (line != lead && fm.horizontalAdvance(line + item) > textWidth) {
                notes.emplace_back(line.trimmed(), color);
                line = QStringLiteral("    ");
            }
            line += item;
        }
        notes.emplace_back(line, color);
    };
    if (hasDiagram_) {
        QStringList scale;
        if (!d.voltageScaleText.isEmpty())
            scale << QStringLiteral("U — ") + d.voltageScaleText;
        if (!d.currentScaleText.isEmpty())
            scale << QStringLiteral("I — ") + d.currentScaleText;
        if (!scale.isEmpty())
            note(QStringLiteral("Масштаб (радиус окружности): "), scale, Qt::black);
        // A wiring fault first catches the eye in red, the colour of an error beyond the permissible one.
        if (!d.mismatches.isEmpty())
            note(QStringLiteral("Преобразователь не совпадает с установкой: "), d.mismatches, QColor(220, 0, 0));
        if (!d.missingInstallation.isEmpty())
            note(QStringLiteral("Нет сигнала у установки: "), d.missingInstallation, Qt::black);
        if (d.hasTransducer && !d.missingTransducer.isEmpty())
            note(QStringLiteral("Нет сигнала у преобразователя: "), d.missingTransducer, Qt::black);
        const bool unknown
            = std::any_of(d.phasors.begin(), d.phasors.end(), [](const TPhasor &p) { return !p.angleKnown; });
        if (unknown)
            note(QStringLiteral("угол ? — у фазы нет мощности: ток нарисован под углом своего напряжения"), {},
                Qt::black);
        note(QStringLiteral("Углы отсчитаны от Ua против часовой стрелки"), {}, Qt::black);
    }
    const bool key = hasDiagram_;
    const double footerTop = area.bottom() - kMargin - (notes.size() + (key ? 1 : 0)) * lineH;
    double y = footerTop;
    if (key) {
        // Colour key: a line sample before each source.
        double x = area.left() + kMargin;
        auto sample = [&](const QColor &color, Qt::PenStyle style, const QString &text) {
            painter.setPen(QPen(color, 2.5, style, Qt::FlatCap));
            painter.drawLine(QPointF(x, y + lineH / 2), QPointF(x + 28, y + lineH / 2));
            x += 34;
            painter.setPen(Qt::black);
            const QRectF r(x, y, fm.horizontalAdvance(text) + 2, lineH);
            painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text);
            painted_.texts.push_back(r);
            x += r.width() + 18;
        };
        sample(kInstallationColor, Qt::SolidLine, QStringLiteral("установка"));
        if (d.hasTransducer)
            sample(kTransducerColor, Qt::DashLine, QStringLiteral("преобразователь (RS)"));
        y += lineH;
    }
    for (const auto &[text, color] : notes) {
        const QRectF r(area.left() + kMargin, y, textWidth, lineH);
        painter.setPen(color);
        painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text);
        painted_.texts.push_back(fm.boundingRect(r, Qt::AlignLeft | Qt::AlignVCenter, text));
        y += lineH;
    }

    const QRectF plot(area.left() + kMargin, captionRect.bottom() + kMargin, area.width() - 2 * kMargin,
        footerTop - captionRect.bottom() - 2 * kMargin);
    if (!hasDiagram_ || d.phasors.empty()) {
        painter.setPen(Qt::darkGray);
        const QString text = hasDiagram_ ? QStringLiteral("Нет сигнала") : QStringLiteral("Нет данных");
        painter.drawText(plot, Qt::AlignCenter, text);
        painted_.texts.push_back(fm.boundingRect(plot, Qt::AlignCenter, text));
        painter.restore();
        return;
    }

    // Label boxes, to leave room for them around the circle.
    std::vector<TLabel> labels = BuildLabels(d);
    std::vector<QSizeF> sizes;
    const QFontMetricsF fmBold(bold);
    double leadW = 0.0, maxW = 0.0, maxH = 0.0;
    for (const TLabel &l : labels)
        for (const TLine &line : l.lines)
            leadW = std::max(leadW, fmBold.horizontalAdvance(line.lead));
    for (const TLabel &l : labels) {
        double w = 0.0;
        for (const TLine &line : l.lines)
            w = std::max(w, leadW + fm.horizontalAdvance(QStringLiteral(" ")) + fm.horizontalAdvance(line.text));
        const QSizeF s(w + 2 * kLabelPadding, l.lines.size() * lineH + 2 * kLabelPadding);
        sizes.push_back(s);
        maxW = std::max(maxW, s.width());
        maxH = std::max(maxH, s.height());
    }
    const double radius = std::max(30.0, std::min(plot.width() / 2 - maxW - 6, plot.height() / 2 - maxH - 6));
    const QPointF centre = plot.center();
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    painted_.circle = circle;
    auto toScreen
        = [&](const QPointF &unit) { return QPointF(centre.x() + unit.x() * radius, centre.y() - unit.y() * radius); };

    // Scale circle, half circle and axes.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(170, 170, 170), 1.0));
    painter.drawEllipse(circle);
    painter.setPen(QPen(QColor(200, 200, 200), 1.0, Qt::DotLine));
    painter.drawEllipse(centre, radius / 2, radius / 2);
    painter.drawLine(QPointF(circle.left() - 4, centre.y()), QPointF(circle.right() + 4, centre.y()));
    painter.drawLine(QPointF(centre.x(), circle.top() - 4), QPointF(centre.x(), circle.bottom() + 4));

    // Arrows: the installation's solid, the transducer's dashed over them.
    std::vector<QLineF> segments;
    for (TPhasorSource source : {TPhasorSource::Installation, TPhasorSource::Transducer}) {
        for (const TPhasor &p : d.phasors) {
            if (p.source != source)
                continue;
            const bool voltage = p.kind == TPhasorKind::Voltage;
            const bool installation = source == TPhasorSource::Installation;
            Qt::PenStyle style = installation ? Qt::SolidLine : Qt::DashLine;
            if (!p.angleKnown)
                style = Qt::DotLine;
            double width = installation ? (voltage ? 3.0 : 2.0) : (voltage ? 2.0 : 1.6);
            if (p.mismatch)
                width += 0.8;
            QPen pen(SourceColor(source), width, style, Qt::FlatCap);
            const QPointF tip = toScreen(p.tip);
            DrawArrow(painter, centre, tip, pen, voltage ? 14.0 : 11.0, !installation);
            segments.emplace_back(centre, tip);
        }
    }

    // Labels beside the tips, clear of each other and of the arrows where possible.
    std::vector<TLabelRequest> requests;
    for (size_t k = 0; k < labels.size(); ++k) {
        const QPointF tip = toScreen(labels[k].tip);
        requests.push_back({tip, tip - centre, sizes[k]});
    }
    const std::vector<QRectF> boxes = PlaceLabels(requests, plot, {}, segments);
    const double space = fm.horizontalAdvance(QStringLiteral(" "));
    for (size_t k = 0; k < labels.size(); ++k) {
        const QRectF &box = boxes[k];
        painter.fillRect(box, QColor(255, 255, 255, 225));
        double ly = box.top() + kLabelPadding;
        for (const TLine &line : labels[k].lines) {
            painter.setPen(line.color);
            const QRectF leadRect(box.left() + kLabelPadding, ly, leadW, lineH);
            if (!line.lead.isEmpty()) {
                painter.setFont(bold);
                painter.drawText(leadRect, Qt::AlignLeft | Qt::AlignVCenter, line.lead);
                painter.setFont(font());
            }
            painter.drawText(
                QRectF(leadRect.right() + space, ly, box.width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, line.text);
            ly += lineH;
        }
        painted_.labels.push_back(box);
    }
    painter.restore();
}
