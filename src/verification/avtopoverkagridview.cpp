#include "verification/avtopoverkagridview.h"

#include "presentation/controls/windowscolor.h"
#include "verification/stringgridwithdata.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBand = 2;
// The text starts 2 pixels into its cell and stops 1 pixel short of the grid line, which takes one more.
constexpr int kTextPadding = 4;
const QColor kBlue(0, 0, 255);
const QColor kHeaderFill(240, 240, 240);
const QColor kHeaderLine(160, 160, 160);

} // namespace

TAvtopoverkaGridView::TAvtopoverkaGridView(TStringGridWithData *model, QWidget *parent)
    : QAbstractScrollArea(parent), model_(model)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(true);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(pal);
    modelChanged_ = model_->AddChangeListener([this] { ModelChanged(); });
    FitColumnsToContent();
    UpdateScrollBars();
}

QFont TAvtopoverkaGridView::CellFont() const
{
    const TGridFont &gf = model_->Font();
    QFont font(gf.family);
    font.setPointSize(gf.pointSize);
    font.setBold(gf.bold);
    return font;
}

void TAvtopoverkaGridView::FitColumnsToContent()
{
    // A cell must show its whole text: the user reads the installation's value first, and a clipped
    // error reads as another number. Columns only grow, so a table being filled does not jitter.
    // Shaping every cell's text after each point costs about 10 µs a cell; the sum of the characters'
    // own advances is as good here (no ligatures in numbers, and kerning only narrows) at a fraction.
    const QFont font = CellFont();
    if (font != advanceFont_) {
        advanceFont_ = font;
        advances_.clear();
    }
    const QFontMetricsF fm(font, this);
    for (int col = 0; col < model_->ColCount(); ++col) {
        double widest = 0;
        for (int row = 0; row < model_->RowCount(); ++row) {
            double width = 0;
            for (const QChar c : model_->Cells(col, row)) {
                auto found = advances_.constFind(c);
                if (found == advances_.cend())
                    found = advances_.insert(c, fm.horizontalAdvance(c));
                width += *found;
            }
            widest = std::max(widest, width);
        }
        const int needed = int(std::ceil(widest)) + kTextPadding;
        if (needed > model_->ColWidths(col))
            model_->SetColWidths(col, needed);
    }
}

TAvtopoverkaGridView::~TAvtopoverkaGridView() = default;

QSize TAvtopoverkaGridView::sizeHint() const
{
    return {std::min(ContentWidth() + 4, 1100), 12 * model_->DefaultRowHeight()};
}

int TAvtopoverkaGridView::ColumnLeft(int col) const
{
    int x = 0;
    for (int c = 0; c < col && c < model_->ColCount(); ++c)
        x += model_->ColWidths(c);
    return x;
}

int TAvtopoverkaGridView::ContentWidth() const
{
    return ColumnLeft(model_->ColCount());
}

QRect TAvtopoverkaGridView::CellRect(int col, int row) const
{
    if (col < 0 || col >= model_->ColCount() || row < 0 || row >= model_->RowCount())
        return {};
    const int h = model_->DefaultRowHeight();
    int y = 0;
    if (row > 0) {
        if (row < model_->TopRow())
            return {};
        y = h * (1 + row - model_->TopRow());
        if (y >= viewport()->height())
            return {};
    }
    const int x = ColumnLeft(col) - horizontalScrollBar()->value();
    return {x, y, model_->ColWidths(col), h};
}

bool TAvtopoverkaGridView::CellAt(const QPoint &pos, int &col, int &row) const
{
    const int h = model_->DefaultRowHeight();
    if (pos.y() < 0 || pos.x() < 0)
        return false;
    row = pos.y() < h ? 0 : model_->TopRow() + (pos.y() - h) / h;
    if (row >= model_->RowCount())
        return false;
    int x = pos.x() + horizontalScrollBar()->value();
    for (col = 0; col < model_->ColCount(); ++col) {
        if (x < model_->ColWidths(col))
            return true;
        x -= model_->ColWidths(col);
    }
    return false;
}

void TAvtopoverkaGridView::ModelChanged()
{
    // A run or a file changes many cells at once: the scroll bars follow once, after them.
    if (!scrollBarsPending_) {
        scrollBarsPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                scrollBarsPending_ = false;
                FitColumnsToContent();
                UpdateScrollBars();
            },
            Qt::QueuedConnection);
    }
    viewport()->update();
}

void TAvtopoverkaGridView::UpdateScrollBars()
{
    const int h = model_->DefaultRowHeight();
    const int visible = std::max(1, (viewport()->height() - h) / h);
    model_->SetVisibleRowCount(visible);
    const int dataRows = model_->RowCount() - 1;
    syncing_ = true;
    verticalScrollBar()->setRange(0, std::max(0, dataRows - visible));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setValue(model_->TopRow() - 1);
    horizontalScrollBar()->setRange(0, std::max(0, ContentWidth() - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    syncing_ = false;
}

void TAvtopoverkaGridView::scrollContentsBy(int, int)
{
    if (!syncing_ && model_->TopRow() != verticalScrollBar()->value() + 1)
        model_->SetTopRow(verticalScrollBar()->value() + 1);
    if (editor_)
        FinishEditing(true);
    viewport()->update();
}

void TAvtopoverkaGridView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

bool TAvtopoverkaGridView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        int col = 0, row = 0;
        const QString tip = CellAt(help->pos(), col, row) && row > 0 ? CellTip(col, row) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TAvtopoverkaGridView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.setFont(CellFont());

    const int h = model_->DefaultRowHeight();
    const int lastRow = std::min(model_->RowCount() - 1, model_->TopRow() + viewport()->height() / h);
    const QColor red = ColorFromWindows(kWindowsRed);
    const QColor white = ColorFromWindows(kWindowsWhite);

    auto drawText = [&](const QRect &r, const QString &text) {
        p.setPen(Qt::black);
        p.drawText(r.adjusted(2, 2, -1, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    };

    // The header row.
    for (int col = 0; col < model_->ColCount(); ++col) {
        const QRect r = CellRect(col, 0);
        if (r.right() < 0 || r.left() > viewport()->width())
            continue;
        p.fillRect(r, kHeaderFill);
        p.setPen(kHeaderLine);
        p.drawLine(r.topRight(), r.bottomRight());
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.save();
        p.setClipRect(r);
        drawText(r, model_->Cells(col, 0));
        p.restore();
    }

    // Data rows: fills and texts first, then the bands, which reach into the next cell.
    for (int row = model_->TopRow(); row <= lastRow; ++row) {
        for (int col = 0; col < model_->ColCount(); ++col) {
            const QRect r = CellRect(col, row);
            if (r.isEmpty() || r.right() < 0 || r.left() > viewport()->width())
                continue;
            p.fillRect(r, model_->IsMarked(col, row) ? red : white);
            p.save();
            p.setClipRect(r);
            drawText(r, model_->Cells(col, row));
            p.restore();
        }
        const bool selected = row == model_->SelectedRow();
        for (int col = 0; col < model_->ColCount(); ++col) {
            const QRect r = CellRect(col, row);
            if (r.isEmpty())
                continue;
            if (selected) {
                p.fillRect(QRect(r.left(), r.top(), r.width(), kBand), kBlue);
                p.fillRect(QRect(r.left(), r.bottom() - kBand + 1, r.width(), kBand), kBlue);
                p.fillRect(QRect(r.right() + 1, r.top(), kBand, r.height()), kBlue);
            } else {
                p.fillRect(QRect(r.left(), r.top(), r.width(), kBand), white);
                p.fillRect(QRect(r.left(), r.bottom() - kBand + 1, r.width(), kBand), white);
                p.fillRect(QRect(r.right(), r.top(), 1, r.height()), Qt::black);
            }
        }
    }
}

void TAvtopoverkaGridView::mousePressEvent(QMouseEvent *event)
{
    setFocus();
    if (editor_)
        FinishEditing(true);
    int col = 0, row = 0;
    if (event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), col, row)) {
        model_->SelectCell(col, row);
        emit CellClicked(col, row);
    }
}

void TAvtopoverkaGridView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void TAvtopoverkaGridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    int col = 0, row = 0;
    if (event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), col, row))
        StartEditing(col, row);
}

void TAvtopoverkaGridView::keyPressEvent(QKeyEvent *event)
{
    const int row = model_->SelectedRow();
    const int col = model_->SelectedCol();
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const int next = row + (event->key() == Qt::Key_Up ? -1 : 1);
        if (next >= 1 && next < model_->RowCount()) {
            model_->SelectCell(col, next);
            model_->SetSelectedRow(next);
            emit CellClicked(col, next);
        }
        return;
    }
    case Qt::Key_F2:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        StartEditing(col, row);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TAvtopoverkaGridView::StartEditing(int col, int row)
{
    if (!model_->IsEditingEnabled() || row < 1 || col >= model_->InputColumnCount())
        return;
    const QRect r = CellRect(col, row);
    if (r.isEmpty())
        return;
    if (editor_)
        FinishEditing(true);
    editCol_ = col;
    editRow_ = row;
    editor_ = new QLineEdit(model_->Cells(col, row), viewport());
    editor_->setObjectName(QStringLiteral("CellEditor"));
    editor_->setFrame(false);
    editor_->setGeometry(r.adjusted(1, 1, -1, -1));
    connect(editor_, &QLineEdit::returnPressed, this, [this] { FinishEditing(true); });
    connect(editor_, &QLineEdit::editingFinished, this, [this] { FinishEditing(true); });
    editor_->show();
    editor_->setFocus();
    editor_->selectAll();
}

void TAvtopoverkaGridView::FinishEditing(bool commit)
{
    if (!editor_)
        return;
    QLineEdit *editor = editor_;
    editor_ = nullptr; // editingFinished comes again when the editor loses focus
    if (commit)
        model_->EditCell(editCol_, editRow_, editor->text());
    editor->hide();
    editor->deleteLater();
    setFocus();
}
