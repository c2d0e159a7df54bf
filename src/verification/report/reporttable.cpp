#include "verification/report/reporttable.h"

#include <algorithm>

void TReportMarks::Set(int row, int col, bool marked)
{
    if (row < 0 || col < 0)
        return;
    if (marked)
        cells_.insert(Key(row, col));
    else
        cells_.erase(Key(row, col));
}

bool TReportMarks::IsSet(int row, int col) const
{
    return row >= 0 && col >= 0 && cells_.count(Key(row, col)) != 0;
}

std::vector<std::pair<int, int>> TReportMarks::Cells() const
{
    std::vector<std::pair<int, int>> result;
    result.reserve(cells_.size());
    for (const std::uint64_t key : cells_)
        result.emplace_back(int(key >> 32), int(key & 0xFFFFFFFFu));
    std::sort(result.begin(), result.end());
    return result;
}

QString TReportTable::Cell(int row, int col) const
{
    if (col < 0 || col >= columns.size())
        return QString();
    if (row == 0)
        return columns[col].header;
    if (row < 1 || row > rows.size())
        return QString();
    const QStringList &cells = rows[row - 1];
    return col < cells.size() ? cells[col] : QString();
}
