// The verification table without a screen: rows and the first-row rule, reading points back,
// columns, the texts and marks of output cells, results that follow their rows, and the limits.

#include "verification/avtopoverkagrid.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TInputData Point(double i, double u, double angle = 0, double f = 50)
{
    TInputData d;
    d.Ia.value = d.Ib.value = d.Ic.value = i;
    d.Ua.value = d.Ub.value = d.Uc.value = u;
    d.Angle.value = angle;
    d.Freq.value = f;
    return d;
}

void AddInputs(TStringGridWithData &grid)
{
    grid.AddColumnI();
    grid.AddColumnU();
    grid.AddColumnAngle();
    grid.AddColumnFreq();
}

TParameter Param(int index, double value, bool correct = true)
{
    TParameters all;
    TParameter p = *all.GetParameterByIndex(index);
    p.value = value;
    p.isDataCorrect = correct;
    return p;
}

// An RS value: installation `kest`, device `device` (none when NaN, marked missing when not
// `correct`), over-limit flag.
TParameterForGrid Rs(
    int index, double kest, double device, double error, bool over, const QString &prefix = "", bool correct = true)
{
    TParameterForGrid item(Param(index, kest), prefix, error,
        std::isnan(device) ? std::nullopt : std::optional<TParameter>(Param(index, device, correct)));
    item.isBiggerThanThreshold = over;
    return item;
}

QStringList RowTexts(const TStringGrid &grid, int row)
{
    QStringList texts;
    for (int col = 0; col < grid.ColCount(); ++col)
        texts << grid.Cells(col, row);
    return texts;
}

TEST(VerificationGrid, RowsFollowTheFirstRowRule)
{
    TKestAvtopoverkaGrid grid;
    EXPECT_EQ(grid.GetItemsCount(), 2) << "header and one empty row";
    EXPECT_EQ(grid.SelectedRow(), 1);
    grid.DeleteSelectedRow();
    EXPECT_EQ(grid.GetItemsCount(), 2) << "a new table has nothing to delete";
    AddInputs(grid);
    EXPECT_EQ(RowTexts(grid, 0), QStringList({"Ток, A", "Напр., V", "Угол, °", "Частота, Hz"}));
    EXPECT_EQ(grid.InputColumnCount(), 4);

    ASSERT_TRUE(grid.AddRow(Point(1.5, 220, 30, 50)));
    EXPECT_EQ(grid.GetItemsCount(), 2) << "the first point fills row 1";
    EXPECT_EQ(RowTexts(grid, 1), QStringList({"1,5", "220", "30", "50"}));
    ASSERT_TRUE(grid.AddRow(Point(2, 57.74)));
    EXPECT_EQ(grid.GetItemsCount(), 3);
    EXPECT_EQ(grid.SelectedRow(), 2) << "the new last row is current";
    grid.SetSelectedRow(1);
    ASSERT_TRUE(grid.InsertRow(Point(0.25, 100)));
    EXPECT_EQ(grid.Cells(0, 2), "0,25") << "inserted after the selected row";
    EXPECT_EQ(grid.Cells(0, 3), "2");
    EXPECT_EQ(grid.SelectedRow(), 2);

    grid.SetSelectedRow(1);
    grid.DeleteSelectedRow();
    EXPECT_EQ(grid.Cells(0, 1), "0,25");
    EXPECT_EQ(grid.GetItemsCount(), 3);
    grid.SetSelectedRow(2);
    grid.DeleteSelectedRow();
    grid.DeleteSelectedRow();
    EXPECT_EQ(grid.GetItemsCount(), 1) << "deleting the only data row leaves the header";
    EXPECT_TRUE(grid.isFirstRowFilled);
    ASSERT_TRUE(grid.AddRow(Point(3, 3)));
    EXPECT_EQ(grid.GetItemsCount(), 2);
    EXPECT_EQ(grid.Cells(0, 1), "3");

    grid.Clear();
    EXPECT_EQ(grid.GetItemsCount(), 2);
    EXPECT_FALSE(grid.isFirstRowFilled);
    EXPECT_EQ(RowTexts(grid, 1), QStringList(4, ""));
    EXPECT_EQ(grid.Cells(0, 0), "Ток, A") << "the header stays";
}

TEST(VerificationGrid, PointsReadBackFromTheCells)
{
    TKestAvtopoverkaGrid grid;
    AddInputs(grid);
    grid.AddRow(Point(0, 0));
    struct TCase {
        QStringList cells;
        double i, u, angle, f;
        bool valid;
    };
    const TCase cases[] = {
        {{"1,5", "57,74", "120", "50"}, 1.5, 57.74, 120, 50, true},
        // Read as written: a whole-number read would ask the installation for 0 Hz.
        {{"5", "220", "0", "50,5"}, 5, 220, 0, 50.5, true},
        {{"abc", "1.5", "", "55"}, 0, 1.5, 0, 55, false},
        {{"INF", "100", "30", "NAN"}, 0, 100, 30, 0, false},
    };
    for (const TCase &c : cases) {
        for (int col = 0; col < 4; ++col)
            grid.SetCells(col, 1, c.cells[col]);
        const TInputData d = grid.GetRowInputData(1);
        SCOPED_TRACE(c.cells.join(';').toStdString());
        EXPECT_EQ(d.Ia.value, c.i);
        EXPECT_EQ(d.Ic.value, c.i);
        EXPECT_EQ(d.Ub.value, c.u);
        EXPECT_EQ(d.Angle.value, c.angle);
        EXPECT_EQ(d.Freq.value, c.f);
        EXPECT_EQ(grid.GetFreqFromSelectedRow(), c.f);
        EXPECT_EQ(grid.RowInputProblem(1).isEmpty(), c.valid) << grid.RowInputProblem(1).toStdString();
    }
    EXPECT_TRUE(grid.RowInputProblem(1).contains("Ток, A"));

    // A table without angle and frequency columns skips them both ways.
    TKestAvtopoverkaGrid two;
    two.AddColumnI();
    two.AddColumnU();
    two.AddRow(Point(1, 2, 90, 51));
    two.SetAngleToSelectedRow(45);
    two.SetFreqToSelectedRow(52);
    EXPECT_EQ(RowTexts(two, 1), QStringList({"1", "2"}));
    EXPECT_EQ(two.GetAngleFromSelectedRow(), 0);
    EXPECT_EQ(two.GetRowInputData(1).Freq.value, 0);
    two.SetVoltageToSelectedRow(230.94);
    EXPECT_EQ(two.GetVoltageFromSelectedRow(), 230.94);
}

TEST(VerificationGrid, ColumnsByNameAndTheirUpdate)
{
    TKestAvtopoverkaGrid grid;
    QStringList messages;
    grid.SetMessageHandler([&](const QString &m) { messages << m; });
    AddInputs(grid);
    EXPECT_TRUE(grid.SetOutputColumns({"4", "23", "25"}));
    EXPECT_EQ(RowTexts(grid, 0).mid(4), QStringList({"Ia, A", "Q, Var", "K сум., "}));
    EXPECT_EQ(grid.ColWidths(4), 170);
    EXPECT_EQ(grid.ColWidths(0), TStringGridWithData::kInputColumnWidth);
    EXPECT_EQ(grid.FindColumn("Q"), 5);
    try {
        grid.FindColumn("q");
        ADD_FAILURE() << "lookup is case-sensitive";
    } catch (const EColumnNotFound &e) {
        EXPECT_STREQ(e.what(), "Column not found");
    }
    grid.SetColWidth("Wr", 300); // skipped
    grid.SetColWidth("Ia", 120);
    EXPECT_EQ(grid.ColWidths(4), 120);

    EXPECT_TRUE(grid.UpdateOutputColumns({"4", "22", "0"}));
    EXPECT_EQ(grid.ColumnParamNames(), QStringList({"Ток", "Напр.", "Угол", "Частота", "Ia", "P"}));
    EXPECT_TRUE(grid.UpdateOutputColumns({}));
    EXPECT_EQ(grid.ColCount(), 4) << "input columns are never deleted";
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_FALSE(grid.SetOutputColumns({"26", "x", "40", "26"}));
    EXPECT_EQ(grid.ColumnParamNames().mid(4), QStringList{"F"}) << "bad entries and duplicates are skipped";
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("«x», «40»")) << messages[0].toStdString();
}

TEST(VerificationGrid, OutputCellsTheirMarksAndRepopulation)
{
    TKestAvtopoverkaGrid grid;
    AddInputs(grid);
    grid.SetOutputColumns({"1", "7", "22"});
    for (int r = 0; r < 3; ++r)
        grid.AddRow(Point(r + 1, 220));

    // Row 1: every value over RS, Uab in kV, P over the limit.
    TParametersForGridRow kest1, rs1;
    kest1.AddParameter(Rs(1, 219.87, NAN, 0, false));
    kest1.AddParameter(Rs(7, 10500, NAN, 0, false, "k"));
    kest1.AddParameter(Rs(22, 1000, NAN, 0, false));
    rs1.AddParameter(Rs(1, 219.87, 220.1, 0.045, false));
    rs1.AddParameter(Rs(7, 10500, 10512, 0.114, false, "k"));
    rs1.AddParameter(Rs(22, 1000, 1010, 1.0, true));
    ASSERT_TRUE(grid.AddOutputData(kest1, 1));
    EXPECT_EQ(grid.Cells(5, 1), "10,50k") << "part 1 alone";
    ASSERT_TRUE(grid.AddOutputDataRS(rs1, 1));
    const QString gap(7, ' ');
    EXPECT_EQ(grid.Cells(4, 1), "219,8" + gap + "220,1" + gap + "0,04%");
    EXPECT_EQ(grid.Cells(5, 1), "10,50k" + gap + "10,51k" + gap + "0,11%");
    EXPECT_EQ(grid.Cells(6, 1), "1000" + gap + "1010" + gap + "1,0%");
    EXPECT_FALSE(grid.IsRedCell(4, 1));
    EXPECT_TRUE(grid.IsRedCell(6, 1));
    grid.AddOutputDataRS(rs1, 1);
    EXPECT_EQ(grid.Cells(6, 1), "1000" + gap + "1010" + gap + "1,0%") << "measured again: written once";

    // The device's value goes missing: "/---/---", the colour stays.
    TParametersForGridRow lost;
    lost.AddParameter(*rs1.Slot(1));
    lost.AddParameter(*rs1.Slot(2));
    lost.AddParameter(Rs(22, 1000, 0, 0, false, "", false));
    grid.AddOutputDataRS(lost, 1);
    EXPECT_EQ(grid.Cells(6, 1), "1000/---/---");
    EXPECT_TRUE(grid.IsRedCell(6, 1));

    // Row 2: transducer lost before the installation reading was stored.
    grid.SetDefaultRsAndErrorToRow(2);
    TParametersForGridRow kest2;
    kest2.AddParameter(Rs(1, 57.735, NAN, 0, false));
    grid.AddOutputData(kest2, 2);
    EXPECT_EQ(grid.Cells(4, 2), "57,73/---/---");
    EXPECT_EQ(grid.Cells(6, 2), "/---/---");

    // Row 3: an analog cell.
    TParameterForGrid analog(Param(22, 1000), 12.3456, -0.75);
    analog.isBiggerThanThreshold = true;
    ASSERT_TRUE(grid.SetAnalogParameter(3, analog));
    EXPECT_EQ(grid.Cells(6, 3), "1000" + gap + "12,34мА" + gap + "-0,75%");
    EXPECT_TRUE(grid.IsRedCell(6, 3));

    // The columns change: surviving cells keep their text, a new column is filled from the
    // stored results, and a deleted row takes its results and marks along.
    const QString uab = grid.Cells(5, 1);
    grid.UpdateOutputColumns({"1", "22"});
    grid.UpdateOutputColumns({"1", "22", "7"});
    grid.RepopulateGrid();
    EXPECT_EQ(grid.ColumnParamNames().mid(4), QStringList({"Ua", "P", "Uab"}));
    EXPECT_EQ(grid.Cells(6, 1), uab);
    EXPECT_EQ(grid.Cells(5, 1), "1000/---/---");
    EXPECT_TRUE(grid.IsRedCell(5, 1));
    EXPECT_FALSE(grid.IsRedCell(6, 1)) << "the new column's cell got the mark of its own value";
    grid.SetSelectedRow(2);
    grid.DeleteSelectedRow();
    EXPECT_EQ(grid.Cells(5, 2), "1000" + gap + "12,34мА" + gap + "-0,75%");
    EXPECT_TRUE(grid.IsRedCell(5, 2));
    EXPECT_TRUE(grid.IsRedCell(5, 1)) << "rows above keep their marks";
    grid.RepopulateGrid();
    EXPECT_EQ(grid.Cells(5, 2), "1000" + gap + "12,34мА" + gap + "-0,75%");
    ASSERT_NE(grid.OutputParamsForRow(1), nullptr);
    EXPECT_EQ(grid.OutputParamsForRow(2), nullptr);

    grid.SetSelectedRow(1);
    grid.ClearSelectedRow();
    EXPECT_EQ(RowTexts(grid, 1), QStringList(7, ""));
    EXPECT_TRUE(grid.IsRedCell(5, 2)) << "only the cleared row loses its marks";
    grid.ClearOutputData();
    EXPECT_EQ(RowTexts(grid, 2), QStringList({"3", "220", "0", "50", "", "", ""}));
    EXPECT_FALSE(grid.IsRedCell(5, 2));
    EXPECT_EQ(grid.RowResults(2), nullptr);
}

TEST(VerificationGrid, LimitsRefuseWithAMessageAndChangeNothing)
{
    TKestAvtopoverkaGrid grid;
    QStringList messages;
    grid.SetMessageHandler([&](const QString &m) { messages << m; });
    AddInputs(grid);
    for (int i = 1; i <= TStringGrid::kMaxDataRows; ++i)
        ASSERT_TRUE(grid.AddRow(Point(i, 1)));
    EXPECT_EQ(grid.GetItemsCount(), 1001);
    EXPECT_TRUE(messages.isEmpty());
    grid.SetSelectedRow(500);
    EXPECT_FALSE(grid.AddRow(Point(5000, 1)));
    EXPECT_FALSE(grid.InsertRow(Point(5000, 1)));
    EXPECT_FALSE(grid.AddEmptyRow());
    EXPECT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages[0].contains("1000"));
    EXPECT_EQ(grid.GetItemsCount(), 1001);
    EXPECT_EQ(grid.Cells(0, 1000), "1000");
    EXPECT_EQ(grid.Cells(0, 501), "501");
    EXPECT_EQ(grid.SelectedRow(), 500);

    // Scrolling keeps the selected row in view.
    grid.SetVisibleRowCount(10);
    grid.SetSelectedRow(1000);
    EXPECT_EQ(grid.TopRow(), 991);
    grid.SetSelectedRow(5);
    EXPECT_EQ(grid.TopRow(), 5);
    grid.SetSelectedRow(1001);
    EXPECT_EQ(grid.SelectedRow(), 5) << "a row outside the table is ignored";

    messages.clear();
    QStringList all;
    for (int i = 1; i <= 33; ++i)
        all << QString::number(i);
    grid.SetOutputColumns(all);
    EXPECT_EQ(grid.ColCount(), TStringGrid::kMaxColumns);
    EXPECT_EQ(messages.size(), 1) << "the 22nd column is refused";
    EXPECT_FALSE(grid.SetRedCell(21, 2, true));
    EXPECT_FALSE(grid.SetRedCell(3, 1001, true));
    EXPECT_FALSE(grid.IsRedCell(21, 2));
    TParameterForGrid far(Param(1, 1), 1, 1);
    EXPECT_FALSE(grid.SetAnalogParameter(1001, far));
}

} // namespace
