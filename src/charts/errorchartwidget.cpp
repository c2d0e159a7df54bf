#include "charts/errorchartwidget.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QVBoxLayout>

#include <array>
#include <cmath>

#include "charts/chartscale.h"
#include "protocol/numberformat.h"

namespace {

// Column colours: none of them red (outside) or green (the band).
const std::array<QColor, 6> kColumnColors{QColor(0x1f, 0x4e, 0x9c), QColor(0x7b, 0x3f, 0x9e), QColor(0x8c, 0x56, 0x1b),
    QColor(0x11, 0x8a, 0x9c), QColor(0x55, 0x55, 0x55), QColor(0xc0, 0x6a, 0x00)};
// Qt Charts draws the discs of a line with the marker size as their radius.
constexpr double kMarkerSize = 4.0;
constexpr double kOutsideMarkerSize = 6.5;
// Beyond this many points a line's own discs merge into a band of colour anyway (760 pixels for a
// thousand points) and cost most of the painting; the line alone shows the shape, the red discs stay.
constexpr int kMaxMarkedPoints = 200;

// Ticks at whole multiples of the step, labelled by the program's own number texts: the decimal comma,
// no "-0" from a sum that missed zero by a rounding error.
void SetAxis(QCategoryAxis *axis, double min, double max, double step, const QString &title)
{
    for (const QString &label : axis->categoriesLabels())
        axis->remove(label);
    axis->setRange(min, max);
    axis->setStartValue(min);
    const long long first = std::llround(min / step);
    const long long last = std::llround(max / step);
    for (long long k = first; k <= last && k - first <= 200; ++k)
        axis->append(FloatToQStr(static_cast<double>(k) * step), static_cast<double>(k) * step);
    axis->setTitleText(title);
}

} // namespace

TErrorChartWidget::TErrorChartWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ErrorChart"));
    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));

    axisX_ = new QCategoryAxis;
    axisY_ = new QCategoryAxis;
    for (QCategoryAxis *axis : {axisX_, axisY_})
        axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);

    band_ = new QAreaSeries;
    bandUpper_ = new QLineSeries(band_);
    bandLower_ = new QLineSeries(band_);
    band_->setUpperSeries(bandUpper_);
    band_->setLowerSeries(bandLower_);
    band_->setBrush(kBandColor);
    band_->setPen(QPen(QColor(60, 150, 60, 160), 1.0, Qt::DashLine));
    chart_->addSeries(band_);
    band_->attachAxis(axisX_);
    band_->attachAxis(axisY_);

    // Red discs without a line between them. A scatter series would be the obvious type, but it keeps a
    // graphics item per point and takes tens of milliseconds for a thousand.
    outside_ = new QLineSeries;
    outside_->setName(QStringLiteral("Вне допуска"));
    QPen none(kOutsideColor);
    none.setStyle(Qt::NoPen);
    outside_->setPen(none);
    outside_->setColor(kOutsideColor);
    outside_->setPointsVisible(true);
    outside_->setMarkerSize(kOutsideMarkerSize);
    chart_->addSeries(outside_);
    outside_->attachAxis(axisX_);
    outside_->attachAxis(axisY_);

    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("ErrorChartView"));
    view_->setRenderHint(QPainter::Antialiasing, true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    Clear();
}

QLineSeries *TErrorChartWidget::ColumnSeries(int column) const
{
    return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[static_cast<size_t>(column)] : nullptr;
}

void TErrorChartWidget::EnsureColumns(int count)
{
    if (static_cast<int>(columns_.size()) == count)
        return;
    // The red points stay on top of every line: their series goes last.
    chart_->removeSeries(outside_);
    while (static_cast<int>(columns_.size()) > count) {
        QLineSeries *s = columns_.back();
        columns_.pop_back();
        chart_->removeSeries(s);
        delete s;
    }
    while (static_cast<int>(columns_.size()) < count) {
        auto *s = new QLineSeries;
        const QColor color = kColumnColors[columns_.size() % kColumnColors.size()];
        s->setPen(QPen(color, 1.6));
        s->setColor(color);
        s->setPointsVisible(true);
        s->setMarkerSize(kMarkerSize);
        chart_->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        columns_.push_back(s);
    }
    chart_->addSeries(outside_);
    outside_->attachAxis(axisX_);
    outside_->attachAxis(axisY_);
}

void TErrorChartWidget::FitErrorAxis()
{
    // No more error ticks than the plot's height holds: the axis cuts a label that is higher than
    // its interval to "…". The step then grows to the next 1, 2 or 5 that fits, the ends with it.
    double min = data_.yMin, max = data_.yMax, step = data_.yStep;
    const int room = std::max(40, view_->height() - 110);
    const int fits = std::max(2, int(room / (1.6 * QFontMetrics(axisY_->labelsFont()).height())));
    if (step > 0 && max > min && (max - min) / step > fits + 1e-9) {
        step = NiceStep(max - min, fits);
        min = std::floor(min / step + 1e-9) * step;
        max = std::ceil(max / step - 1e-9) * step;
    }
    if (step > 0)
        SetAxis(axisY_, min, max, step, data_.errorCaption);
}

void TErrorChartWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (data_.yStep > 0)
        FitErrorAxis();
}

void TErrorChartWidget::ShowTable(const TErrorTable &table)
{
    ShowChart(BuildErrorChart(table));
}

void TErrorChartWidget::ShowChart(const TErrorChartData &data)
{
    data_ = data;
    chart_->setTitle(data.title);
    SetAxis(axisX_, data.xMin, data.xMax, data.xStep, data.inputCaption);
    FitErrorAxis();

    band_->setVisible(data.band > 0);
    band_->setName(data.bandCaption);
    bandUpper_->replace(QList<QPointF>{{data.xMin, data.band}, {data.xMax, data.band}});
    bandLower_->replace(QList<QPointF>{{data.xMin, -data.band}, {data.xMax, -data.band}});

    EnsureColumns(static_cast<int>(data.series.size()));
    QList<QPointF> outside;
    outside.reserve(data.outsideCount);
    for (size_t k = 0; k < data.series.size(); ++k) {
        const TErrorSeries &series = data.series[k];
        QLineSeries *s = columns_[k];
        s->setName(series.name);
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(series.points.size()));
        for (const TErrorPoint &p : series.points) {
            points.append(QPointF(p.x, p.y));
            if (p.outside)
                outside.append(QPointF(p.x, p.y));
        }
        s->setPointsVisible(points.size() <= kMaxMarkedPoints);
        s->replace(points);
    }
    // One series of red discs over the lines: far cheaper to paint than a colour per point of each line.
    outside_->replace(outside);
    outside_->setVisible(data.outsideCount > 0);
    for (QLegendMarker *marker : chart_->legend()->markers(outside_))
        marker->setVisible(data.outsideCount > 0);
    for (QLegendMarker *marker : chart_->legend()->markers(band_))
        marker->setVisible(data.band > 0);
}

void TErrorChartWidget::Clear()
{
    TErrorTable empty;
    empty.inputCaption = data_.inputCaption;
    ShowTable(empty);
}

QImage TErrorChartWidget::Render(const QSize &size)
{
    TErrorChartWidget copy;
    copy.ShowChart(data_);
    copy.resize(size);
    return copy.grab().toImage();
}

QImage RenderErrorChart(const TErrorTable &table, const QSize &size, qreal scale)
{
    TErrorChartWidget chart;
    chart.ShowTable(table);
    chart.resize(size);
    if (scale <= 1)
        return chart.grab().toImage();
    // Drawn rather than grabbed: the chart is vector work, so a finer device gives finer lines and text
    // instead of an enlarged screen picture.
    chart.ensurePolished();
    chart.setAttribute(Qt::WA_DontShowOnScreen);
    chart.show();
    QImage image(size * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        chart.render(&painter);
    }
    image.setDevicePixelRatio(1);
    return image;
}
