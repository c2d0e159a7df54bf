#pragma once
// The error chart drawn with Qt Charts: one line with points per output column, the band of the
// permissible error shaded, points outside it red and larger, drawn over the lines. Numbers on the axes with the
// decimal comma. The verification window calls ShowTable whenever rows are filled or the tab changes.

#include <QImage>
#include <QWidget>

#include <vector>

#include "charts/errorchart.h"

class QAreaSeries;
class QChart;
class QChartView;
class QLineSeries;
class QCategoryAxis;

class TErrorChartWidget : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kOutsideColor{255, 0, 0};
    static inline const QColor kBandColor{60, 170, 60, 55};

    explicit TErrorChartWidget(QWidget *parent = nullptr);

    void ShowTable(const TErrorTable &table);
    void ShowChart(const TErrorChartData &data);
    void Clear();

    const TErrorChartData &Data() const { return data_; }
    QChart *Chart() const { return chart_; }
    // The line of output column `column`, nullptr beyond the columns shown.
    QLineSeries *ColumnSeries(int column) const;
    // The points outside the band, of all columns.
    QLineSeries *OutsideSeries() const { return outside_; }
    // The chart as a picture (for a report), at `size` pixels.
    QImage Render(const QSize &size);

    QSize sizeHint() const override { return {760, 420}; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void EnsureColumns(int count);
    void FitErrorAxis();

    QChart *chart_ = nullptr; // owned by the view
    QChartView *view_ = nullptr;
    QCategoryAxis *axisX_ = nullptr;
    QCategoryAxis *axisY_ = nullptr;
    QLineSeries *bandUpper_ = nullptr;
    QLineSeries *bandLower_ = nullptr;
    QAreaSeries *band_ = nullptr;
    QLineSeries *outside_ = nullptr; // the red points of every column, over the lines
    std::vector<QLineSeries *> columns_;
    TErrorChartData data_;
};

// The chart of one table as a picture, for a report that asks for one: laid out at `size` and drawn
// `scale` times as fine, so that a printed chart keeps its lines and labels sharp.
QImage RenderErrorChart(const TErrorTable &table, const QSize &size, qreal scale = 1);
