#include "verification/report/wordlayout.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace {

// The size the advances are measured at: large enough that hinting and rounding do not count.
constexpr int kMeasurePixels = 1000;
// What the word processor's own shaping may add (kerning, another rasteriser's rounding): a share of
// the width and a fixed part in points.
constexpr double kSlackShare = 0.04;
constexpr double kSlackPoints = 1.5;

const QStringList &InputNames()
{
    static const QStringList names{
        QStringLiteral("Ток"), QStringLiteral("Напр."), QStringLiteral("Угол"), QStringLiteral("Частота")};
    return names;
}

} // namespace

TFontMeasure::TFontMeasure(const QString &family) : family_(family)
{
    // Font metrics need the platform's font database, which exists only in a GUI application.
    metrics_ = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

double TFontMeasure::Advance(QChar c, bool bold) const
{
    QHash<char16_t, double> &cache = bold ? bold_ : plain_;
    const auto found = cache.constFind(c.unicode());
    if (found != cache.constEnd())
        return *found;
    double advance = 0;
    if (c.unicode() == 0x2060 || c.unicode() == 0x200B) {
        advance = 0; // a joiner takes no room
    } else if (metrics_) {
        QFont font(family_);
        font.setPixelSize(kMeasurePixels);
        font.setBold(bold);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setKerning(false);
        advance = QFontMetricsF(font).horizontalAdvance(c) / kMeasurePixels;
    } else {
        // No font database: the widest common glyphs of the usual text faces, so that the estimate
        // errs towards a wider column.
        if (c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char('.') || c == QLatin1Char(':'))
            advance = 0.35;
        else if (c.isDigit() || c.isLower())
            advance = 0.65;
        else
            advance = 0.85;
        if (bold)
            advance *= 1.1;
    }
    cache.insert(c.unicode(), advance);
    return advance;
}

double TFontMeasure::Width(const QString &text, bool bold) const
{
    double width = 0;
    for (const QChar c : text)
        width += Advance(c, bold);
    return width;
}

int FirstOutputColumn(const TReportTable &table)
{
    for (int c = 0; c < table.ColumnCount(); ++c)
        if (!InputNames().contains(table.columns[c].name))
            return c;
    return table.ColumnCount();
}

std::vector<QStringList> WordCellLines(const TReportTable &table)
{
    std::vector<QStringList> lines;
    lines.reserve(size_t(table.RowCount()) * size_t(std::max(table.ColumnCount(), 0)));
    for (int row = 0; row < table.RowCount(); ++row)
        for (int c = 0; c < table.ColumnCount(); ++c)
            lines.push_back(table.CellLines(row, c));
    return lines;
}

TWordTableLayout LayoutWordTable(const TReportTable &table, const std::vector<QStringList> &cellLines,
    const TFontMeasure &measure, double points, const TWordPageSpace &space)
{
    const int columns = table.ColumnCount();
    // The widest line of each column at one point.
    std::vector<double> natural(size_t(std::max(columns, 0)), 0.0);
    for (int row = 0; row < table.RowCount(); ++row) {
        for (int c = 0; c < columns; ++c) {
            const QStringList &lines = cellLines[size_t(row) * size_t(columns) + size_t(c)];
            const bool marked = row > 0 && table.marks.IsSet(row, c);
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const bool mark = marked && i + 1 == lines.size();
                const double width = measure.Width(mark ? lines[i] + QLatin1Char('*') : lines[i], mark);
                natural[size_t(c)] = std::max(natural[size_t(c)], width);
            }
        }
    }
    auto widthAt = [&](int c, double size) {
        return int(std::ceil((natural[size_t(c)] * size * (1 + kSlackShare) + kSlackPoints) * 20)) + space.cellMargins;
    };
    auto totalAt = [&](double size) {
        int total = 0;
        for (int c = 0; c < columns; ++c)
            total += widthAt(c, size);
        return total;
    };
    auto whole = [&](double size) {
        std::vector<std::pair<int, int>> group;
        for (int c = 0; c < columns; ++c)
            group.emplace_back(c, widthAt(c, size));
        return group;
    };

    TWordTableLayout layout;
    layout.fontPoints = points;
    if (totalAt(points) <= space.portrait) {
        layout.groups.push_back(whole(points));
        return layout;
    }
    layout.landscape = space.landscape > space.portrait;
    const int available = std::max(space.portrait, space.landscape);
    for (double size = points; size >= kWordTableFontFloor - 1e-9; size -= 0.5) {
        if (totalAt(size) <= available) {
            layout.fontPoints = size;
            layout.groups.push_back(whole(size));
            return layout;
        }
    }
    // Still too wide at the floor: groups of output columns, each after the input columns.
    const double size = std::min(points, kWordTableFontFloor);
    layout.fontPoints = size;
    const int inputs = FirstOutputColumn(table) < columns ? FirstOutputColumn(table) : 0;
    int inputWidth = 0;
    for (int c = 0; c < inputs; ++c)
        inputWidth += widthAt(c, size);
    std::vector<std::pair<int, int>> group;
    int used = inputWidth;
    auto flush = [&] {
        std::vector<std::pair<int, int>> full;
        for (int c = 0; c < inputs; ++c)
            full.emplace_back(c, widthAt(c, size));
        full.insert(full.end(), group.begin(), group.end());
        // A single column wider than the page is narrowed to it: it wraps, but stays on the paper.
        int total = 0;
        for (const auto &cell : full)
            total += cell.second;
        if (total > available)
            for (auto &cell : full)
                cell.second
                    = std::max(space.cellMargins + 20, int(std::floor(double(cell.second) * available / total)));
        layout.groups.push_back(std::move(full));
        group.clear();
        used = inputWidth;
    };
    for (int c = inputs; c < columns; ++c) {
        const int width = widthAt(c, size);
        if (!group.empty() && used + width > available)
            flush();
        group.emplace_back(c, width);
        used += width;
    }
    if (!group.empty() || layout.groups.empty())
        flush();
    return layout;
}
