#pragma once
// The error chart of a verification table as data: per output column the errors in percent against the
// test point's input value (the current, or the voltage for "U"), the band of the permissible error,
// which points lie outside it, and the axis ranges. The verification window fills TErrorTable from its
// table; the widget (errorchartwidget.h) draws TErrorChartData.

#include <QString>

#include <optional>
#include <vector>

struct TErrorColumn {
    QString name; // the output column's quantity, e.g. "Ia", "P"
    // One entry per row of the table; none for a cell without an error (dashes, not yet measured).
    // Rows beyond the end have none.
    std::vector<std::optional<double>> errors;
    // The table's own over-limit marks, row by row, where it judged them (a column with a limit of its
    // own, the frequency's say): a point is red exactly where its cell is. Empty: judged by the band.
    std::vector<bool> over;
};

struct TErrorTable {
    QString title; // the tab's name
    QString inputCaption; // the input column's header, e.g. "Ток, A" or "Напр., V"
    std::vector<std::optional<double>> inputs; // one per row; none for a row without an input value
    std::vector<TErrorColumn> columns;
    double permissibleError = 0.0; // %, the band is ± this
};

struct TErrorPoint {
    double x = 0.0; // input value
    double y = 0.0; // error, %
    int row = 0; // 0-based row of the table
    bool outside = false; // |error| exceeds the permissible error: the table paints the cell red
};

struct TErrorSeries {
    QString name;
    std::vector<TErrorPoint> points; // by input value, rows of equal input in table order
    int outsideCount = 0;
};

struct TErrorChartData {
    QString title;
    QString inputCaption;
    QString errorCaption; // "Погрешность, %"
    QString bandCaption; // "Допуск ±0,2 %"; empty without a permissible error
    std::vector<TErrorSeries> series; // one per column, in column order
    double band = 0.0; // the permissible error (%), 0 when there is none
    double xMin = 0.0, xMax = 1.0, xStep = 0.1; // axis ranges, ends on multiples of the steps
    double yMin = -1.0, yMax = 1.0, yStep = 0.5; // symmetric about 0, covering the band and every point
    int pointCount = 0;
    int outsideCount = 0;
};

TErrorChartData BuildErrorChart(const TErrorTable &table);
