#pragma once
// Spreadsheet cell references ("B12", "$A$1:$F$40", "3:5") and how rows inserted or deleted move
// them, for every place a worksheet names its own rows: cells, merged ranges, formulas, defined
// names, drawings, tables.

#include <optional>
#include <string>
#include <utility>

namespace CellRef {

// Column letters to a 1-based number and back ("A" 1, "Z" 26, "AA" 27, up to "XFD").
std::string ColumnName(int column);
// "B12" → (2, 12); nullopt for anything else (dollar signs are accepted and ignored).
std::optional<std::pair<int, int>> Parse(const std::string &reference);
std::string Format(int column, int row);

// Rows inserted (delta > 0: every row from `at` on moves down by delta) or deleted (delta < 0:
// rows `at` … `at` − delta − 1 disappear, the rows after them move up).
struct TRowShift {
    int at = 1;
    int delta = 0;
    // The new number of a row; nullopt when the row was deleted.
    std::optional<int> Row(int row) const;
    // A span of rows; nullopt when every row of it was deleted.
    std::optional<std::pair<int, int>> Span(int first, int last) const;
};

// "A1:B3" or "A1" moved; nullopt when deleted.
std::optional<std::string> ShiftRange(const std::string &range, const TRowShift &shift);
// A blank-separated list of ranges; deleted ranges are left out (the result may be empty).
std::string ShiftRangeList(const std::string &ranges, const TRowShift &shift);
// A formula's references moved: unqualified ones when `ownSheet` (the formula is on the sheet
// whose rows move), and those qualified with `sheetName` always. A reference whose rows were
// deleted becomes "#REF!". `changed` tells whether anything moved.
std::string ShiftFormula(const std::string &formula, const std::string &sheetName, bool ownSheet,
    const TRowShift &shift, bool *changed = nullptr);

} // namespace CellRef
