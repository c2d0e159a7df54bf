#pragma once
// How a report table fits a Word page: every column as wide as its widest line in the font the table
// is printed in, so that no value breaks; a table wider than the text turns its section landscape,
// then its font steps down to a floor, then it is split into column groups that each repeat the
// input columns. Widths are in twentieths of a point (the unit of a Word document).

#include "verification/report/reporttable.h"

#include <QHash>
#include <QString>

#include <vector>

// The advance widths of one font family at one point, measured by the font's own metrics when the
// program has a display (a GUI application), else estimated generously from the character's class.
class TFontMeasure {
public:
    explicit TFontMeasure(const QString &family);
    // The width of `text` in points at a font size of one point.
    double Width(const QString &text, bool bold) const;

private:
    double Advance(QChar c, bool bold) const;
    QString family_;
    bool metrics_ = false;
    mutable QHash<char16_t, double> plain_, bold_;
};

struct TWordTableLayout {
    double fontPoints = 0; // the size the table is written in
    bool landscape = false;
    // The tables written: each a list of (source column, width) pairs; one group when the table fits.
    std::vector<std::vector<std::pair<int, int>>> groups;
};

struct TWordPageSpace {
    int portrait = 0; // the text width of the table's section as the template has it
    int landscape = 0; // the text width with the page turned; equal to `portrait` when it cannot turn
    int cellMargins = 0; // left and right margins of a cell together
};

// The smallest font a table is stepped down to before it is split.
constexpr double kWordTableFontFloor = 8.0;

// Every cell's print lines (TReportTable::CellLines), row by row, the header row first.
std::vector<QStringList> WordCellLines(const TReportTable &table);

// The layout of `table` (its print lines `lines`) measured by `measure` at `points`; a marked cell's last
// line is measured bold with its "*".
TWordTableLayout LayoutWordTable(const TReportTable &table, const std::vector<QStringList> &lines,
    const TFontMeasure &measure, double points, const TWordPageSpace &space);

// The first output column (the columns before it are the input columns the groups repeat);
// ColumnCount() when there is none.
int FirstOutputColumn(const TReportTable &table);
