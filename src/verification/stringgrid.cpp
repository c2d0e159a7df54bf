#include "verification/stringgrid.h"

#include <algorithm>

TStringGrid::TStringGrid() : colWidths_(1, kDefaultColWidth)
{
    rows_.push_back(NewRow());
    rows_.push_back(NewRow());
}

TStringGrid::TRow TStringGrid::NewRow() const
{
    TRow row;
    row.cells.resize(size_t(colCount_));
    return row;
}

QString TStringGrid::Cells(int col, int row) const
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_)
        return {};
    return rows_[size_t(row)].cells[size_t(col)];
}

bool TStringGrid::SetCells(int col, int row, const QString &text)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_)
        return false;
    rows_[size_t(row)].cells[size_t(col)] = text;
    Changed();
    return true;
}

bool TStringGrid::AppendToCell(int col, int row, const QString &text)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_)
        return false;
    rows_[size_t(row)].cells[size_t(col)] += text;
    Changed();
    return true;
}

bool TStringGrid::IsMarked(int col, int row) const
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_)
        return false;
    return rows_[size_t(row)].marks.test(size_t(col));
}

bool TStringGrid::SetMarked(int col, int row, bool marked)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_)
        return false;
    rows_[size_t(row)].marks.set(size_t(col), marked);
    Changed();
    return true;
}

int TStringGrid::ColWidths(int col) const
{
    return col >= 0 && col < colCount_ ? colWidths_[size_t(col)] : 0;
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= colCount_)
        return;
    colWidths_[size_t(col)] = std::clamp(width, 0, 10000);
    Changed();
}

void TStringGrid::SetFont(const TGridFont &font)
{
    font_ = font;
    Changed();
}

void TStringGrid::SetTopRow(int row)
{
    const int last = std::max(1, RowCount() - 1);
    topRow_ = std::clamp(row, 1, last);
    Changed();
}

void TStringGrid::SetVisibleRowCount(int rows)
{
    visibleRows_ = std::max(1, rows);
}

void TStringGrid::EndUpdate()
{
    if (updateDepth_ > 0 && --updateDepth_ == 0 && pendingChange_) {
        pendingChange_ = false;
        changeListeners_.Notify();
    }
}

void TStringGrid::Changed()
{
    ++revision_;
    if (updateDepth_ > 0) {
        pendingChange_ = true;
        return;
    }
    changeListeners_.Notify();
}

void TStringGrid::ShowMessage(const QString &text)
{
    lastMessage_ = text;
    if (messageHandler_)
        messageHandler_(text);
}

bool TStringGrid::AppendRow()
{
    if (RowCount() >= kMaxRows)
        return false;
    rows_.push_back(NewRow());
    OnRowInserted(RowCount() - 1);
    Changed();
    return true;
}

bool TStringGrid::InsertRowAt(int row)
{
    if (RowCount() >= kMaxRows || row < 1 || row > RowCount())
        return false;
    rows_.insert(rows_.begin() + row, NewRow());
    OnRowInserted(row);
    Changed();
    return true;
}

bool TStringGrid::DeleteRowAt(int row)
{
    if (row < 1 || row >= RowCount())
        return false;
    rows_.erase(rows_.begin() + row);
    OnRowDeleted(row);
    topRow_ = std::clamp(topRow_, 1, std::max(1, RowCount() - 1));
    Changed();
    return true;
}

void TStringGrid::TruncateRows(int rowCount)
{
    rowCount = std::max(1, rowCount);
    while (RowCount() > rowCount) {
        rows_.pop_back();
        OnRowDeleted(RowCount());
    }
    topRow_ = std::clamp(topRow_, 1, std::max(1, RowCount() - 1));
    Changed();
}

bool TStringGrid::AppendColumn(int width)
{
    if (colCount_ >= kMaxColumns)
        return false;
    ++colCount_;
    colWidths_.push_back(width);
    for (TRow &row : rows_)
        row.cells.emplace_back();
    Changed();
    return true;
}

bool TStringGrid::DeleteColumnAt(int col)
{
    if (col < 0 || col >= colCount_)
        return false;
    if (colCount_ == 1) {
        for (TRow &row : rows_) {
            row.cells[0].clear();
            row.marks.reset();
        }
        Changed();
        return true;
    }
    for (TRow &row : rows_) {
        row.cells.erase(row.cells.begin() + col);
        // Marks right of the column move one place left with their cells.
        const std::bitset<kMaxColumns> low = row.marks & std::bitset<kMaxColumns>((1u << col) - 1);
        row.marks = low | ((row.marks >> (col + 1)) << col);
    }
    colWidths_.erase(colWidths_.begin() + col);
    --colCount_;
    Changed();
    return true;
}
