#pragma once
// A grid of text cells with one fixed header row (row 0), kept without any widget: the cells, a mark
// per cell, column widths, the font, the first visible row. A widget paints it; tests, the CSV files
// and the reports read it directly.
//
// Cells are addressed (col, row) as in the verification table's operations. Row and column counts
// are bounded (1000 data rows, 21 columns): operations that would go beyond refuse and change
// nothing. Marks travel with their cells when rows or columns move.

#include "protocol/listeners.h"
#include <QString>

#include <bitset>
#include <cstdint>
#include <functional>
#include <vector>

struct TGridFont {
    QString family = QStringLiteral("DejaVu Sans");
    int pointSize = 9;
    bool bold = false;
};

class TStringGrid {
public:
    static constexpr int kMaxDataRows = 1000;
    static constexpr int kMaxRows = kMaxDataRows + 1; // with the header
    static constexpr int kMaxColumns = 21;
    static constexpr int kDefaultColWidth = 64;
    static constexpr int kDefaultRowHeight = 24;

    // One column, the header row and one empty data row.
    TStringGrid();
    virtual ~TStringGrid() = default;
    TStringGrid(const TStringGrid &) = delete;
    TStringGrid &operator=(const TStringGrid &) = delete;

    int ColCount() const { return colCount_; }
    int RowCount() const { return int(rows_.size()); }

    // Empty text outside the grid.
    QString Cells(int col, int row) const;
    // False (nothing changed) outside the grid.
    bool SetCells(int col, int row, const QString &text);
    bool AppendToCell(int col, int row, const QString &text);

    // The cell's mark (the verification table's error mark); false outside.
    bool IsMarked(int col, int row) const;
    bool SetMarked(int col, int row, bool marked);

    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int DefaultRowHeight() const { return kDefaultRowHeight; }
    const TGridFont &Font() const { return font_; }
    void SetFont(const TGridFont &font);

    // Scrolling: the view tells how many data rows it shows; TopRow is the first data row shown.
    int TopRow() const { return topRow_; }
    void SetTopRow(int row);
    int VisibleRowCount() const { return visibleRows_; }
    void SetVisibleRowCount(int rows);

    // Told after every change (the table's widget, the error chart); within BeginUpdate/EndUpdate once
    // at the end. A listener stays while its subscription lives.
    [[nodiscard]] TListeners<>::TSubscription AddChangeListener(std::function<void()> listener)
    {
        return changeListeners_.Add(std::move(listener));
    }
    // Counts the changes, so that an observer can tell whether the table it showed last has changed.
    uint64_t Revision() const { return revision_; }
    void BeginUpdate() { ++updateDepth_; }
    void EndUpdate();

    // Refusals and other notices for the user (the window shows them); the last one is kept.
    void SetMessageHandler(std::function<void(const QString &)> handler) { messageHandler_ = std::move(handler); }
    const QString &LastMessage() const { return lastMessage_; }

protected:
    // Structure; each returns false and changes nothing at a limit or outside the grid.
    bool AppendRow();
    bool InsertRowAt(int row); // the row at `row` and those below move down
    bool DeleteRowAt(int row); // those below move up; the header cannot be deleted
    void TruncateRows(int rowCount); // keeps the first `rowCount` rows (at least the header)
    bool AppendColumn(int width = kDefaultColWidth);
    bool DeleteColumnAt(int col); // the last column stays (emptied) when it is the only one

    // Told when data rows come or go, so that per-row data can follow its row.
    virtual void OnRowInserted(int /*row*/) { }
    virtual void OnRowDeleted(int /*row*/) { }

    void Changed();
    void ShowMessage(const QString &text);

private:
    struct TRow {
        std::vector<QString> cells;
        std::bitset<kMaxColumns> marks;
    };
    TRow NewRow() const;

    std::vector<TRow> rows_;
    std::vector<int> colWidths_;
    int colCount_ = 1;
    TGridFont font_;
    int topRow_ = 1;
    int visibleRows_ = 10;
    int updateDepth_ = 0;
    bool pendingChange_ = false;
    TListeners<> changeListeners_;
    uint64_t revision_ = 0;
    std::function<void(const QString &)> messageHandler_;
    QString lastMessage_;
};

// Groups changes so that a view repaints once.
class TGridUpdate {
public:
    explicit TGridUpdate(TStringGrid &grid) : grid_(grid) { grid_.BeginUpdate(); }
    ~TGridUpdate() { grid_.EndUpdate(); }
    TGridUpdate(const TGridUpdate &) = delete;
    TGridUpdate &operator=(const TGridUpdate &) = delete;

private:
    TStringGrid &grid_;
};
