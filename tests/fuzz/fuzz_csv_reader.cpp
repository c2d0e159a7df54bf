// Arbitrary bytes as a CSV table or scenario: reading never crashes, never goes beyond the table's
// limits, and a table whose cells need no quoting reads back from its own file cell for cell.

#include "verification/avtopoverkagrid.h"
#include "verification/csvmanager.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void CheckLimits(const TStringGrid &grid)
{
    if (grid.RowCount() < 1 || grid.RowCount() > TStringGrid::kMaxRows || grid.ColCount() < 1
        || grid.ColCount() > TStringGrid::kMaxColumns)
        std::abort();
    for (int row = 0; row < grid.RowCount(); ++row)
        for (int col = 0; col < grid.ColCount(); ++col)
            if (grid.Cells(col, row).size() > TCsvManager::kMaxCellLength)
                std::abort();
}

bool Plain(const QString &cell)
{
    for (const QChar c : cell)
        if (c == u';' || c == u'"' || c == u'\r' || c == u'\n' || c.isSurrogate() || c == QChar(0xFEFF))
            return false;
    return true;
}

std::unique_ptr<TKestAvtopoverkaGrid> NewTable()
{
    auto grid = std::make_unique<TKestAvtopoverkaGrid>();
    grid->AddColumnI();
    grid->AddColumnU();
    return grid;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = TCsvManager::DecodeText(bytes);

    TCsvLoadResult result;
    auto grid = NewTable();
    TCsvManager::FillGrid(text, *grid, result, {QStringLiteral("Ток"), QStringLiteral("Напр.")});
    CheckLimits(*grid);
    (void)grid->GetRowInputData(1);
    (void)grid->RowInputProblem(1);
    (void)result.Message();

    TCsvLoadResult scenario;
    const auto layout = NewTable();
    const auto tables = TCsvManager::ParseScenario(text, scenario, layout.get());
    if (tables.size() > size_t(TCsvManager::kMaxTables))
        std::abort();
    for (const auto &table : tables)
        CheckLimits(*table);

    // Written and read again: the same cells, when no cell needs what the writer does not do.
    bool plain = true;
    for (int row = 0; row < grid->RowCount() && plain; ++row)
        for (int col = 0; col < grid->ColCount() && plain; ++col)
            plain = Plain(grid->Cells(col, row));
    if (plain) {
        grid->isFirstRowFilled = true;
        const QString again = TCsvManager::DecodeText(TCsvManager::TableText(*grid, grid->ColCount()));
        auto copy = NewTable();
        TCsvLoadResult r;
        TCsvManager::FillGrid(again, *copy, r);
        // A row of one empty cell is an empty line, which the reader skips.
        const bool blankRows = grid->ColCount() == 1;
        if (!blankRows) {
            if (copy->RowCount() != grid->RowCount() || copy->ColCount() != grid->ColCount())
                std::abort();
            for (int row = 0; row < grid->RowCount(); ++row)
                for (int col = 0; col < grid->ColCount(); ++col)
                    if (copy->Cells(col, row) != grid->Cells(col, row))
                        std::abort();
        }
    }
    return 0;
}
