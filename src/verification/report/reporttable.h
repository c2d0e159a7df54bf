#pragma once
// What a report is made of: a verification table as plain texts (no widgets), with its marks.
// Rows and columns are counted as the verification grid counts them: row 0 is the header row, data
// rows are 1 and up, column 0 is the first column.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

// The cells whose error exceeded the permissible error.
class TReportMarks {
public:
    void Set(int row, int col, bool marked = true);
    bool IsSet(int row, int col) const;
    bool IsEmpty() const { return cells_.empty(); }
    int Count() const { return int(cells_.size()); }
    // Every marked cell, ordered by row, then column.
    std::vector<std::pair<int, int>> Cells() const;

private:
    static std::uint64_t Key(int row, int col)
    {
        return (std::uint64_t(std::uint32_t(row)) << 32) | std::uint32_t(col);
    }
    std::unordered_set<std::uint64_t> cells_;
};

struct TReportColumn {
    QString name; // the quantity of the column: "Ток", "Напр.", "Угол", "Частота" or a parameter name
    QString header; // the header cell ("Ток, A")
    int width = 64; // pixels, as the grid shows it
};

struct TReportTable {
    QString title; // the tab's name
    QList<TReportColumn> columns;
    QList<QStringList> rows; // data rows; a row shorter than the columns reads as empty cells
    TReportMarks marks;
    QString fontName; // empty: the document's own
    int fontSize = 0; // points; 0: the document's own
    QString permissible; // the permissible error as written beside the table ("±0,2 %"); empty: not written
    QByteArray chartPng; // the tab's error chart at print resolution, put where "#график" stands; empty: none

    int RowCount() const { return int(rows.size()) + 1; } // the header row included
    int ColumnCount() const { return int(columns.size()); }
    // Row 0 is the header; an absent cell is empty.
    QString Cell(int row, int col) const;
    // The lines a cell is printed in: an output cell's parts (the installation's value, the device's or
    // the analog current, the error; seven blanks apart in the grid) one per line, each with its number
    // bound to its prefix, unit and sign (BindNumber); any other cell is one line.
    QStringList CellLines(int row, int col) const;
};

// A value's text that no line break may split: the blanks between a number and its prefix or unit become
// no-break spaces, and a word joiner binds the minus and the percent sign to the digits ("-0,004%",
// "57,735 k"), so that a writer can let the text wrap only between a cell's lines.
QString BindNumber(const QString &text);
