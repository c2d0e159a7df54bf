#include "verification/report/reporttable.h"

#include <QRegularExpression>

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

QString BindNumber(const QString &text)
{
    static const QChar kNoBreakSpace(0x00A0), kWordJoiner(0x2060);
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char(' ')) {
            out += kNoBreakSpace;
            continue;
        }
        out += c;
        // A minus before a digit and a digit before "%" or a prefix: no break opportunity between them.
        const bool next = i + 1 < text.size();
        if (next && ((c == QLatin1Char('-') || c == QChar(0x2212)) && text[i + 1].isDigit()))
            out += kWordJoiner;
        else if (next && c.isDigit() && (text[i + 1] == QLatin1Char('%') || text[i + 1].isLetter()))
            out += kWordJoiner;
    }
    return out;
}

QStringList TReportTable::CellLines(int row, int col) const
{
    const QString text = Cell(row, col);
    if (row == 0)
        return {text};
    // The grid puts seven blanks between an output cell's parts; a value never holds two in a row.
    static const QRegularExpression gap(QStringLiteral(" {2,}"));
    QStringList lines;
    for (const QString &part : text.split(gap, Qt::SkipEmptyParts))
        lines << BindNumber(part.trimmed());
    if (lines.isEmpty())
        lines << QString();
    return lines;
}
