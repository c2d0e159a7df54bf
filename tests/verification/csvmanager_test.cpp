// CSV files of tables and scenarios: the bytes written, the file-name rule, reading every encoding
// and shape a user may bring, the limits, and saves that fail.

#include "config/inifile.h"
#include "verification/avtopoverkagrid.h"
#include "verification/csvmanager.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

QString Write(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

TInputData Point(double i, double u, double angle, double f)
{
    TInputData d;
    d.Ia.value = i;
    d.Ua.value = u;
    d.Angle.value = angle;
    d.Freq.value = f;
    return d;
}

std::unique_ptr<TKestAvtopoverkaGrid> Table(const QString &title, bool withFrequency)
{
    auto grid = std::make_unique<TKestAvtopoverkaGrid>();
    grid->AddColumnI();
    grid->AddColumnU();
    grid->AddColumnAngle();
    if (withFrequency)
        grid->AddColumnFreq();
    grid->SetOutputColumns({"4"});
    grid->Title = title;
    return grid;
}

QStringList Row(const TStringGrid &grid, int row)
{
    QStringList cells;
    for (int col = 0; col < grid.ColCount(); ++col)
        cells << grid.Cells(col, row);
    return cells;
}

struct THookGuard {
    ~THookGuard() { TIniFile::SetWriteFaultHookForTesting({}); }
};

TEST(CsvManager, BytesOfATableAndAScenario)
{
    QTemporaryDir dir;
    TCsvManager csv;
    auto first = Table("Ток, фаза \"А\"", true);
    first->AddRow(Point(1.5, 57.74, 0, 50));
    first->AddRow(Point(5, 220, 120, 51));
    TParametersForGridRow result;
    TParameter ia;
    ia.index = piIa;
    ia.name = "Ia";
    ia.value = 1.5;
    result.AddParameter(TParameterForGrid(ia, "", 0.1, ia));
    first->AddOutputData(result, 1); // results are never saved

    ASSERT_TRUE(csv.GridColumnsToCsv(*first, first->InputColumnCount(), dir.filePath("one")));
    EXPECT_EQ(ReadAll(dir.filePath("one.csv")),
        kBom + "Ток, A;Напр., V;Угол, °;Частота, Hz\r\n1,5;57,74;0;50\r\n5;220;120;51\r\n");

    auto second = Table("2", false); // without the frequency column
    second->AddRow(Point(0.5, 100, 30, 0));
    auto empty = Table("", true); // a new table: its blank row is not a point
    const std::vector<const TStringGridWithData *> grids{first.get(), second.get(), empty.get()};
    const QByteArray scenario = kBom
        + "Table\r\nТок, фаза \"А\"\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n1,5;57,74;0;50\r\n5;220;120;51\r\n"
          "Table\r\n2\r\nТок, A;Напр., V;Угол, °\r\n0,5;100;30\r\n"
          "Table\r\n\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n";
    ASSERT_TRUE(csv.GridsToCsv(grids, 4, dir.filePath("all.csv")));
    ASSERT_TRUE(csv.GridsToCsv(grids, 4, dir.filePath("all.csv")));
    EXPECT_EQ(ReadAll(dir.filePath("all.csv")), scenario) << "saved twice: one copy";

    // And back: the same points and titles.
    const auto tables = csv.CsvToGrids(dir.filePath("all.csv"));
    ASSERT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables[0]->Title, first->Title);
    EXPECT_EQ(tables[0]->GetItemsCount(), 3);
    EXPECT_EQ(Row(*tables[0], 2), QStringList({"5", "220", "120", "51"}));
    EXPECT_EQ(Row(*tables[1], 1), QStringList({"0,5", "100", "30"}));
    EXPECT_EQ(tables[2]->GetItemsCount(), 1);
    auto tab = Table("old", true);
    tab->AddRow(Point(9, 9, 9, 9));
    tab->SetRedCell(4, 1, true);
    ASSERT_TRUE(tab->CopyPointsFrom(*tables[0]));
    EXPECT_EQ(tab->Title, first->Title);
    EXPECT_EQ(Row(*tab, 2), QStringList({"5", "220", "120", "51", ""}));
    EXPECT_EQ(tab->Cells(4, 0), "Ia, A") << "its own columns stay";
    EXPECT_FALSE(tab->IsRedCell(4, 1));
    EXPECT_TRUE(tab->isFirstRowFilled);

    TKestAvtopoverkaGrid loaded;
    loaded.AddColumnI();
    loaded.AddColumnU();
    loaded.AddColumnAngle();
    loaded.AddColumnFreq();
    const TCsvLoadResult r = csv.CsvToGrid(dir.filePath("one.csv"), loaded);
    EXPECT_TRUE(r.read);
    EXPECT_TRUE(r.Message().isEmpty());
    EXPECT_EQ(Row(loaded, 0), QStringList({"Ток, A", "Напр., V", "Угол, °", "Частота, Hz"}));
    EXPECT_EQ(loaded.GetRowInputData(1).ToString(), first->GetRowInputData(1).ToString());
}

TEST(CsvManager, FileNameRule)
{
    const std::pair<QString, QString> cases[] = {
        {"points", "points.csv"},
        {"points.csv", "points.csv"},
        {"points.CSV", "points.CSV.csv"},
        {"points.old.csv", "points.old.csv.csv"},
        {"points.txt", "points.txt.csv"},
        {"/home/ivan.petrov/t.csv", "/home/ivan.petrov/t.csv"},
        {"/home/ivan.petrov/t", "/home/ivan.petrov/t.csv"},
        {".csv", ".csv"},
    };
    for (const auto &[given, corrected] : cases)
        EXPECT_EQ(TCsvManager::CorrectFileName(given), corrected) << given.toStdString();
}

TEST(CsvManager, ReadsEveryEncodingAndShape)
{
    const auto utf16 = [](const QString &text, bool little, bool bom) {
        QByteArray out;
        if (bom)
            out += little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
        for (const QChar c : text) {
            const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
            out.append(little ? lo : hi).append(little ? hi : lo);
        }
        return out;
    };
    const QString text = "Ток, A;Угол, °\r\n1,5;Угол\r\n";
    struct TCase {
        const char *what;
        QByteArray bytes;
        QStringList row1;
        int rows;
    };
    const TCase cases[] = {
        {"UTF-8 with BOM", kBom + text.toUtf8(), {"1,5", "Угол"}, 2},
        {"UTF-8, LF", "h\n1;2\n3;4", {"1", "2"}, 3},
        {"CR only", "h\r1;2\r3;4\r", {"1", "2"}, 3},
        {"Windows-1251", "h\r\n1,5;\xD3\xE3\xEE\xEB\r\n", {"1,5", "Угол"}, 2},
        {"UTF-16 LE with BOM", utf16(text, true, true), {"1,5", "Угол"}, 2},
        {"UTF-16 BE with BOM", utf16(text, false, true), {"1,5", "Угол"}, 2},
        {"UTF-16 LE without BOM", utf16(text, true, false), {"1,5", "Угол"}, 2},
        {"quotes", "h\r\n\"1;5\";\"a \"\"b\"\"\"\r\n", {"1;5", "a \"b\""}, 2},
        {"unbalanced quote", "h\r\n1;\"2;3\r\n4\r\n", {"1", "2;3"}, 3},
        {"extra fields", "h\r\n1;2;3;4;5;6\r\n", {"1", "2", "3", "4", "5", "6"}, 2},
        {"blank lines", "h\r\n\r\n1;2\r\n\r\n", {"1", "2"}, 2},
        {"header only", "h;h\r\n", {}, 1},
        {"empty", "", {}, 1},
    };
    QTemporaryDir dir;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.what);
        TStringGridWithData grid;
        grid.AddColumnI();
        grid.AddColumnU();
        const TCsvLoadResult r = TCsvManager().CsvToGrid(Write(dir, "t.csv", c.bytes), grid);
        EXPECT_TRUE(r.read);
        EXPECT_EQ(grid.GetItemsCount(), c.rows);
        EXPECT_EQ(Row(grid, 0).mid(0, 2), QStringList({"Ток, A", "Напр., V"})) << "the table's headers stay";
        if (!c.row1.isEmpty()) {
            EXPECT_EQ(Row(grid, 1).mid(0, c.row1.size()), c.row1);
        }
        EXPECT_GE(grid.ColCount(), int(c.row1.size()));
    }
}

TEST(CsvManager, ScenarioBlocks)
{
    QTemporaryDir dir;
    TCsvManager csv;
    QByteArray twelve = "ignored line\r\n";
    for (int t = 1; t <= 12; ++t)
        twelve += "Table\r\nВкладка " + QByteArray::number(t) + "\r\nh\r\n" + QByteArray::number(t) + ";1\r\n";
    const auto tables = csv.CsvToGrids(Write(dir, "s.csv", twelve));
    ASSERT_EQ(tables.size(), 12u);
    EXPECT_EQ(tables[11]->Title, "Вкладка 12");
    EXPECT_EQ(tables[11]->Cells(0, 1), "12");

    EXPECT_EQ(csv.CsvToGrids(Write(dir, "t.csv", "Table\r\nTable\r\nTable")).size(), 2u)
        << "a title line is taken even when it reads Table";
    EXPECT_TRUE(csv.CsvToGrids(Write(dir, "e.csv", "")).empty());
    EXPECT_THROW(csv.CsvToGrids(dir.filePath("missing.csv")), ECsvFileError);
    EXPECT_THROW(csv.CsvToGrids(dir.path()), ECsvFileError);

    TStringGridWithData keep;
    keep.AddColumnI();
    keep.AddRow(Point(7, 0, 0, 0));
    const TCsvLoadResult r = csv.CsvToGrid(dir.filePath("missing.csv"), keep);
    EXPECT_FALSE(r.read);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(keep.Cells(0, 1), "7") << "a file that cannot be read changes nothing";
}

// Columns by their header: the window's own files, files that leave out or reorder columns, and a
// file that lacks a column the window needs, which names it. Spreadsheet re-saves of a scenario.
TEST(CsvManager, ColumnsByHeaderAndSpreadsheetScenarios)
{
    QTemporaryDir dir;
    TCsvManager csv;
    const QStringList all{"Ток", "Напр.", "Угол", "Частота"};
    const QStringList u{"Напр.", "Угол", "Частота"};
    struct TCase {
        const char *what;
        QByteArray bytes;
        QStringList required;
        QStringList row1; // the four input cells of row 1
        QStringList missing;
    };
    const TCase cases[] = {
        {"own file", "Ток, A;Напр., V;Угол, °;Частота, Hz\r\n1,5;57,74;0;50\r\n", all, {"1,5", "57,74", "0", "50"}, {}},
        {"voltage window's columns", "Напр.;Угол;Частота\r\n100;0;50\r\n", u, {"", "100", "0", "50"}, {}},
        {"reordered, other units, case", "\"частота, Гц\";УГОЛ;Напр., В\r\n49;30;220\r\n", u, {"", "220", "30", "49"},
            {}},
        {"frequency missing", "Напр.;Угол\r\n100;0\r\n", u, {"", "100", "0", ""}, {"«Частота»"}},
        {"two missing", "Угол\r\n0\r\n", all, {"", "", "0", ""}, {"«Ток»", "«Напр.»", "«Частота»"}},
        {"unknown header: by position", "a;b;c;d\r\n1;2;3;4\r\n", all, {"1", "2", "3", "4"}, {}},
        {"unknown caption over its own column", "Ток, A;x;Угол, °;Частота, Hz\r\n1;2;3;4\r\n", all,
            {"1", "2", "3", "4"}, {"«Напр.»"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.what);
        auto grid = Table("t", true);
        const TCsvLoadResult r = csv.CsvToGrid(Write(dir, "h.csv", c.bytes), *grid, c.required);
        EXPECT_TRUE(r.read);
        EXPECT_EQ(Row(*grid, 1).mid(0, 4), c.row1);
        EXPECT_EQ(r.missingColumns, c.missing);
        EXPECT_EQ(r.Usable(), c.missing.isEmpty());
        if (!c.missing.isEmpty()) {
            EXPECT_TRUE(r.Problem("h.csv").contains(c.missing.join(", "))) << r.Problem("h.csv").toStdString();
        }
    }

    // A scenario saved again by a spreadsheet: quoted "Table" and title, empty fields after them.
    const QByteArray saved
        = "\"Table\";;;\r\n\"Вкладка; 1\";;;\r\n\"Ток, A\";\"Напр., V\";\"Угол, °\";\"Частота, Hz\"\r\n"
          "1,5;57,74;0;50\r\nTable;;;\r\n;;;\r\nНапр.;Частота;;\r\n100;51;;\r\n";
    auto layout = Table("t", true);
    TCsvLoadResult r;
    const auto tables = csv.CsvToGrids(Write(dir, "s.csv", saved), &r, layout.get(), u);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0]->Title, "Вкладка; 1");
    EXPECT_EQ(Row(*tables[0], 1), QStringList({"1,5", "57,74", "0", "50"}));
    EXPECT_EQ(tables[1]->Title, "");
    EXPECT_EQ(Row(*tables[1], 1).mid(0, 4), QStringList({"", "100", "", "51"}));
    EXPECT_EQ(r.missingColumns, QStringList({"«Угол» (таблица «»)"}));
    for (const char *line : {"Table", "\"Table\"", "Table;;;", "\"Table\";;;"})
        EXPECT_TRUE(TCsvManager::IsTableLine(QString::fromUtf8(line))) << line;
    for (const char *line : {"Table;1", "Tables", " Table", "\"Table\";;x", ""})
        EXPECT_FALSE(TCsvManager::IsTableLine(QString::fromUtf8(line))) << line;

    // Many short lines: a thousand rows taken, the rest only counted.
    QByteArray many = "Ток, A;Напр., V\r\n";
    for (int i = 0; i < 300000; ++i)
        many += "1;2\n";
    TCsvLoadResult big;
    auto grid = Table("t", true);
    big = csv.CsvToGrid(Write(dir, "many.csv", many), *grid);
    EXPECT_EQ(grid->GetItemsCount(), 1001);
    EXPECT_EQ(big.droppedRows, 300000 - 1000);
}

TEST(CsvManager, LimitsAndFilesThatAreNotTables)
{
    QTemporaryDir dir;
    TCsvManager csv;
    QByteArray big = "h\r\n";
    for (int i = 1; i <= 1005; ++i)
        big += QByteArray::number(i)
            + (i == 7 ? ";2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25" : "") + "\r\n";
    TStringGridWithData grid;
    const TCsvLoadResult r = csv.CsvToGrid(Write(dir, "big.csv", big), grid);
    EXPECT_EQ(grid.GetItemsCount(), 1001);
    EXPECT_EQ(grid.Cells(0, 1000), "1000");
    EXPECT_EQ(grid.ColCount(), 21);
    EXPECT_EQ(grid.Cells(20, 7), "21");
    EXPECT_EQ(r.droppedRows, 5);
    EXPECT_EQ(r.droppedColumns, 4);
    EXPECT_TRUE(r.Message().contains("5")) << r.Message().toStdString();

    // A 50 MB line, garbage, a device: nothing crashes or hangs.
    TStringGridWithData one;
    const QByteArray line = "h\r\n" + QByteArray(50 * 1024 * 1024, '7');
    const TCsvLoadResult huge = csv.CsvToGrid(Write(dir, "huge.csv", line), one);
    EXPECT_EQ(one.Cells(0, 1).size(), TCsvManager::kMaxCellLength);
    EXPECT_EQ(huge.cutCells, 1);
    QByteArray garbage;
    for (int i = 0; i < 65536; ++i)
        garbage += char((i * 7919) >> 3);
    TStringGridWithData g;
    csv.CsvToGrid(Write(dir, "garbage.csv", garbage), g);
    EXPECT_LE(g.GetItemsCount(), 1001);
    EXPECT_FALSE(csv.CsvToGrid("/dev/zero", g).read);

    // A failed save keeps the previous file and leaves no temporary file behind.
    auto table = Table("t", true);
    table->AddRow(Point(1, 2, 3, 4));
    const QString path = dir.filePath("keep.csv");
    ASSERT_TRUE(csv.GridColumnsToCsv(*table, 4, path));
    const QByteArray before = ReadAll(path);
    table->AddRow(Point(5, 6, 7, 8));
    for (const auto stage : {TIniFile::TWriteStage::CreateTemp, TIniFile::TWriteStage::WriteTemp,
             TIniFile::TWriteStage::SyncTemp, TIniFile::TWriteStage::Rename}) {
        THookGuard guard;
        TIniFile::SetWriteFaultHookForTesting([stage](TIniFile::TWriteStage s) { return s == stage; });
        QString error;
        EXPECT_FALSE(csv.GridColumnsToCsv(*table, 4, path, &error));
        EXPECT_TRUE(error.contains("«" + path + "»")) << error.toStdString();
        // In the user's words: no system text in English, no name of the hidden temporary file.
        QString words = error;
        words.remove(path).remove(dir.path());
        EXPECT_FALSE(words.contains(QRegularExpression("[A-Za-z]"))) << error.toStdString();
        EXPECT_THROW(csv.GridsToCsv({table.get()}, 4, path), ECsvFileError);
    }
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter("keep").size(), 1);

    QString error;
    EXPECT_FALSE(csv.GridColumnsToCsv(*table, 4, dir.filePath("no/such/folder/t.csv"), &error));
    EXPECT_FALSE(error.isEmpty());
    try {
        csv.GridsToCsv({table.get()}, 4, path + "/inside-a-file.csv");
        ADD_FAILURE() << "no error";
    } catch (const ECsvFileError &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith("Не удалось записать файл"));
    }
}

} // namespace
