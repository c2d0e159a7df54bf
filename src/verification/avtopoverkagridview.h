#pragma once
// The verification table on screen: paints a table model (cells, marks, selection, scrolling) and
// passes clicks, keys and in-place edits back to it. Everything it shows is read from the model.
//
// A data cell is filled red when its error mark is set, otherwise white; its text starts 2 pixels
// right of and below the cell's corner. Cells of the selected row have a 2-pixel blue band along
// their top and bottom edges and just right of their right edge; other cells white bands at top
// and bottom and a black line right of the cell.

#include "protocol/listeners.h"
#include <QAbstractScrollArea>
#include <QFont>
#include <QHash>

#include <functional>

class QLineEdit;
class TStringGridWithData;

class TAvtopoverkaGridView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // The model outlives the view.
    explicit TAvtopoverkaGridView(TStringGridWithData *model, QWidget *parent = nullptr);
    ~TAvtopoverkaGridView() override;

    TStringGridWithData *Model() const { return model_; }

    // Cell under a point of the viewport; false outside the cells.
    bool CellAt(const QPoint &pos, int &col, int &row) const;
    // The cell's rectangle in viewport coordinates (empty when scrolled out of view).
    QRect CellRect(int col, int row) const;

    QSize sizeHint() const override;

    // The tooltip of a cell (col, row ≥ 1); an empty text shows none.
    void SetCellTip(std::function<QString(int col, int row)> tip) { cellTip_ = std::move(tip); }
    QString CellTip(int col, int row) const { return cellTip_ ? cellTip_(col, row) : QString(); }

signals:
    // A click selected a cell (row 0: the header).
    void CellClicked(int col, int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void ModelChanged();
    void UpdateScrollBars();
    void FitColumnsToContent();
    QFont CellFont() const;
    QFont advanceFont_; // the font `advances_` were measured in
    QHash<QChar, qreal> advances_;
    void StartEditing(int col, int row);
    void FinishEditing(bool commit);
    int ColumnLeft(int col) const; // in content coordinates
    int ContentWidth() const;

    TStringGridWithData *model_;
    TListeners<>::TSubscription modelChanged_;
    QLineEdit *editor_ = nullptr;
    int editCol_ = -1;
    int editRow_ = -1;
    bool syncing_ = false;
    bool scrollBarsPending_ = false;
    std::function<QString(int, int)> cellTip_;
};
