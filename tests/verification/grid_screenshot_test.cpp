// Renders a filled verification table with red cells and a selected row to verification_grid.png
// in the build folder, for a person to look at, and checks the colours that matter on it.

#include "verification/avtopoverkagrid.h"
#include "verification/avtopoverkagridview.h"

#include <QDir>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QString OutputFolder()
{
    const char *binary = std::getenv("KEST_BINARY_DIR");
    return binary && *binary ? QString::fromLocal8Bit(binary) : QDir::currentPath();
}

bool IsRed(QColor c)
{
    return c.red() > 220 && c.green() < 40 && c.blue() < 40;
}

bool IsBlue(QColor c)
{
    return c.blue() > 220 && c.red() < 40 && c.green() < 40;
}

TEST(VerificationGridScreenshot, FilledTableWithRedCellsAndTheSelectedRow)
{
    TKestAvtopoverkaGrid grid;
    grid.AddColumnI();
    grid.AddColumnU();
    grid.AddColumnAngle();
    grid.AddColumnFreq();
    grid.SetOutputColumns({"1", "4", "22", "26"});
    TParameters names;
    for (int r = 1; r <= 30; ++r) {
        TInputData d;
        d.Ia.value = d.Ib.value = d.Ic.value = 0.5 * r;
        d.Ua.value = d.Ub.value = d.Uc.value = 57.74;
        d.Angle.value = (r % 4) * 30;
        d.Freq.value = 50;
        ASSERT_TRUE(grid.AddRow(d));
        if (r > 20)
            continue; // the last rows wait for their measurement
        TParametersForGridRow kest, rs;
        for (const int index : {1, 4, 22, 26}) {
            TParameter p = *names.GetParameterByIndex(index);
            p.value = index == 1 ? 57.74 : index == 4 ? 0.5 * r : index == 22 ? 3 * 57.74 * 0.5 * r : 50;
            TParameter device = p;
            const double error = (r % 7 == 3 && index == 22) || (r % 5 == 1 && index == 4) ? 0.31 : 0.012 * (r % 3);
            device.value = p.value * (1 + error / 100);
            device.isDataCorrect = !(r == 9 && index == 1);
            TParameterForGrid item(p, "", error, device);
            item.isBiggerThanThreshold = error > 0.2;
            kest.AddParameter(item);
            rs.AddParameter(item);
        }
        grid.AddOutputData(kest, r);
        grid.AddOutputDataRS(rs, r);
    }

    // A power cell with a long value widens its column; the other columns keep their width.
    {
        TParametersForGridRow kest, rs;
        TParameter p = *names.GetParameterByIndex(22);
        p.value = 21930;
        TParameter device = p;
        device.value = 21961.3;
        TParameterForGrid item(p, "k", -0.1413, device);
        kest.AddParameter(item);
        rs.AddParameter(item);
        grid.AddOutputData(kest, 21);
        grid.AddOutputDataRS(rs, 21);
    }

    TAvtopoverkaGridView view(&grid);
    view.resize(1120, 420);
    view.show();
    grid.SetTopRow(1);
    grid.SetSelectedRow(6);
    QTest::qWait(20);
    QFont font(grid.Font().family);
    font.setPointSize(grid.Font().pointSize);
    font.setBold(grid.Font().bold);
    const QFontMetricsF fm(font, &view);
    for (int col = 0; col < grid.ColCount(); ++col)
        for (int row = 0; row < grid.RowCount(); ++row)
            EXPECT_LE(fm.horizontalAdvance(grid.Cells(col, row)) + 3, grid.ColWidths(col))
                << "column " << col << " row " << row << ": " << grid.Cells(col, row).toStdString();
    EXPECT_GT(grid.ColWidths(grid.OutputColumnOf(piP)), TKestAvtopoverkaGrid::kOutputColumnWidth);
    EXPECT_EQ(grid.ColWidths(grid.OutputColumnOf(piFreq)), TKestAvtopoverkaGrid::kOutputColumnWidth);
    const QImage image = view.grab().toImage();
    const QString path = OutputFolder() + "/verification_grid.png";
    ASSERT_TRUE(image.save(path));
    std::printf("screenshot: %s\n", qPrintable(path));

    // Row 6 ("3" A) has its current over the limit (6 % 5 == 1).
    const QPoint origin = view.viewport()->mapTo(&view, QPoint(0, 0));
    const QRect red = view.CellRect(grid.OutputColumnOf(piIa), 6).translated(origin);
    EXPECT_TRUE(IsBlue(image.pixelColor(red.center().x(), red.top() + 1))) << "the selected row's band";
    EXPECT_TRUE(IsRed(image.pixelColor(red.left() + 4, red.center().y() + 6)));
    const QRect redP = view.CellRect(grid.OutputColumnOf(piP), 3).translated(origin);
    EXPECT_TRUE(IsRed(image.pixelColor(redP.right() - 3, redP.center().y())));
    EXPECT_EQ(image.pixelColor(redP.center().x(), redP.top()), QColor(Qt::white)) << "white band of other rows";
    const QRect white = view.CellRect(grid.OutputColumnOf(piP), 2).translated(origin);
    EXPECT_EQ(image.pixelColor(white.right() - 3, white.center().y()), QColor(Qt::white));
    EXPECT_EQ(grid.Cells(grid.OutputColumnOf(piUa), 9), "57,74/---/---");

    // A click selects the row; the header does not.
    int clickedRow = -1;
    QObject::connect(&view, &TAvtopoverkaGridView::CellClicked, [&](int, int row) { clickedRow = row; });
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.CellRect(1, 4).center());
    EXPECT_EQ(clickedRow, 4);
    EXPECT_EQ(grid.SelectedRow(), 4);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.CellRect(1, 0).center());
    EXPECT_EQ(grid.SelectedRow(), 4);
    EXPECT_FALSE(grid.IsEditingEnabled());
}

} // namespace
