// Report writers and report production, read back with pugixml: placeholders (split runs, replace
// modes, document order), tables, shading, rows moved in spreadsheets, failures that leave nothing.

#include "reporttesthelpers.h"
#include "testhome.h"

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/cellref.h"
#include "verification/report/excelreportmanager.h"
#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"
#include "verification/report/reportproducer.h"
#include "verification/report/reporttemplates.h"
#include "verification/report/wordreportmanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <numeric>
#include <pugixml.hpp>

#include <set>
#include <sys/stat.h>

using namespace ReportTest;

namespace {

QString Para(const QString &text)
{
    return "<w:p><w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>";
}

// The texts of the document's paragraphs outside tables, in order.
struct TWordView {
    pugi::xml_document doc;
    explicit TWordView(const std::string &xml)
    {
        EXPECT_TRUE(doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_ws_pcdata));
    }
    static QString Text(pugi::xml_node p)
    {
        QString text;
        for (pugi::xpath_node t : p.select_nodes(".//w:t"))
            text += QString::fromUtf8(t.node().text().get());
        return text;
    }
    QStringList BodyParagraphs() const
    {
        QStringList result;
        for (pugi::xml_node p : doc.document_element().child("w:body").children("w:p"))
            result << Text(p);
        return result;
    }
    std::vector<pugi::xml_node> Tables() const
    {
        std::vector<pugi::xml_node> result;
        for (pugi::xpath_node t : doc.select_nodes("//w:tbl"))
            result.push_back(t.node());
        return result;
    }
};

TReportRequest Request(TReportFormat format)
{
    TReportRequest request;
    request.format = format;
    return request;
}

} // namespace

TEST(ReportTables, RemovedInputColumnsGoAndEveryMarkMovesWithItsCell)
{
    TReportTable table = SampleTable("T", 60);
    table.columns.append({"Примечание", "Примечание", 99}); // a column the program does not name
    for (auto &row : table.rows)
        row << "-";
    table.marks.Set(2, 4); // Ua, an early row
    table.marks.Set(51, 6); // P, beyond the first 50 rows
    table.marks.Set(60, 8); // F, the last row
    table.marks.Set(3, 2); // the angle column: removed below
    table.marks.Set(7, 9); // the extra column
    struct TCase {
        QStringList removed;
        QStringList names;
        std::set<std::pair<int, int>> marks;
    } cases[] = {
        {{}, {"Ток", "Напр.", "Угол", "Частота", "Ua", "Ia", "P", "Q", "F", "Примечание"},
            {{2, 4}, {51, 6}, {60, 8}, {3, 2}, {7, 9}}},
        {{"100", "102"}, {"Напр.", "Частота", "Ua", "Ia", "P", "Q", "F", "Примечание"},
            {{2, 2}, {51, 4}, {60, 6}, {7, 7}}},
        {{" 103 ", "abc", "7"}, {"Ток", "Напр.", "Угол", "Ua", "Ia", "P", "Q", "F", "Примечание"},
            {{2, 3}, {51, 5}, {60, 7}, {3, 2}, {7, 8}}},
        {{"100", "101", "102", "103"}, {"Ua", "Ia", "P", "Q", "F", "Примечание"}, {{2, 0}, {51, 2}, {60, 4}, {7, 5}}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.removed.join(",").toStdString());
        const TReportTab tab{table, true, c.removed};
        const TReportTable report = TReportProducer::ReportTable(tab);
        QStringList names;
        for (const TReportColumn &column : report.columns) {
            names << column.name;
            EXPECT_EQ(column.width, column.name == "Примечание" ? 99 : 40) << column.name.toStdString();
        }
        EXPECT_EQ(names, c.names);
        ASSERT_EQ(report.rows.size(), 60);
        // Every kept cell as it was, the header included.
        for (int col = 0; col < report.ColumnCount(); ++col) {
            int source = -1;
            for (int s = 0; s < table.ColumnCount(); ++s)
                if (table.columns[s].name == report.columns[col].name)
                    source = s;
            for (int row : {0, 1, 51, 60})
                EXPECT_EQ(report.Cell(row, col), table.Cell(row, source));
        }
        const auto cells = report.marks.Cells();
        EXPECT_EQ((std::set<std::pair<int, int>>(cells.begin(), cells.end())), c.marks);
        EXPECT_EQ(TReportProducer::ReportMarks(tab).Cells(), cells);
    }
}

TEST(CellRef, RowsInsertedAndDeletedMoveReferences)
{
    using CellRef::ShiftFormula;
    using CellRef::TRowShift;
    const TRowShift insert{5, 3}, remove{5, -1};
    struct TCase {
        const char *formula;
        TRowShift shift;
        bool own;
        const char *expected;
    } cases[] = {
        {"SUM(A1:A10)", insert, true, "SUM(A1:A13)"},
        {"SUM(A1:A4)+$B$5*B4", insert, true, "SUM(A1:A4)+$B$8*B4"},
        {"LOG10(A5)&\"A5\"", insert, true, "LOG10(A8)&\"A5\""},
        {"'Лист 2'!B7+Other!B7+B7", insert, false, "'Лист 2'!B10+Other!B7+B7"},
        {"Лист1!$A$1:$L$40", insert, false, "Лист1!$A$1:$L$40"},
        {"A:A+5:7+ROW(XFD5)", insert, true, "A:A+8:10+ROW(XFD8)"},
        {"[1]Sheet!A7+A7", insert, true, "[1]Sheet!A7+A10"},
        {"A5+A6+A4:A6+A5:A5", remove, true, "#REF!+A5+A4:A5+#REF!"},
        {"SUM(Tax_2019)+ABC+ROWS(A:C)", insert, true, "SUM(Tax_2019)+ABC+ROWS(A:C)"},
    };
    for (const TCase &c : cases) {
        const std::string sheet = c.own ? "Лист1" : "Лист 2";
        EXPECT_EQ(ShiftFormula(c.formula, sheet, c.own, c.shift), c.expected) << c.formula;
    }
    EXPECT_EQ(CellRef::ShiftRangeList("A1:B2 C5 D5:D9", remove), "A1:B2 D5:D8");
    EXPECT_EQ(CellRef::ShiftRange("A5:F5", remove), std::nullopt);
    EXPECT_EQ(CellRef::ColumnName(28), "AB");
    EXPECT_EQ(CellRef::Parse("$XFD$1048576"), (std::make_pair(16384, 1048576)));
    EXPECT_EQ(CellRef::Parse("XFE1"), std::nullopt);
}

TEST(WordReport, PlaceholdersInOrderSplitRunsReplaceModesAndTables)
{
    // "ProtocolNum" split over three runs with their own formatting; "DeviceName" twice, the
    // second written in other letter case; a placeholder in a table cell; a table placeholder
    // sharing its paragraph with text.
    const QString body
        = QStringLiteral(
              "<w:p><w:r><w:t xml:space=\"preserve\">№ Pro</w:t></w:r><w:proofErr w:type=\"spellStart\"/>"
              "<w:r><w:rPr><w:b/></w:rPr><w:t>toc</w:t></w:r><w:r><w:rPr><w:i/></w:rPr><w:t>olNum от</w:t></w:r></w:p>")
        + Para("B DeviceName") + Para("A Date") + Para("B devicename") + Para("X ProtocolNum") + "<w:tbl><w:tr><w:tc>"
        + Para("#заголовок") + Para("#таблица") + "</w:tc></w:tr></w:tbl>" + Para("#заголовок") + Para("Ниже: #таблица")
        + Para("#заголовок") + Para("#таблица") + Para("Конец");
    TWordReportManager word;
    word.OpenParts(WordParts(body, /*tableGrid*/ false));
    word.ReplaceTagWithValue("ProtocolNum", "17-А", TReportManager::kReplaceOne);
    word.ReplaceTagWithValue("DeviceName", "QX4 <&>", TReportManager::kReplaceOne);
    word.ReplaceTagWithValue("Date", "01.02.2024", TReportManager::kReplaceOne);
    word.ReplaceTagWithValue("DeviceName", "второй", TReportManager::kReplaceOne);
    {
        const TWordView view(word.DocumentXml());
        const QStringList paragraphs = view.BodyParagraphs();
        EXPECT_EQ(paragraphs[0], "№ 17-А от");
        EXPECT_EQ(paragraphs[1], "B QX4 <&>");
        EXPECT_EQ(paragraphs[2], "A 01.02.2024");
        EXPECT_EQ(paragraphs[3], "B второй"); // found after the cursor, case-insensitively
        EXPECT_EQ(paragraphs[4], "X ProtocolNum"); // replace mode 1: one occurrence
        // The value takes the formatting of the run the placeholder started in.
        const pugi::xml_node first = view.doc.document_element().child("w:body").child("w:p");
        EXPECT_FALSE(first.child("w:r").child("w:rPr"));
    }
    word.ReplaceTagWithValue("protocolnum", "все", TReportManager::kReplaceAll);

    TReportTable table = SampleTable("Первая", 2);
    table.marks.Set(1, 4);
    table.marks.Set(2, 8);
    word.AddTableAndHeader(table, table.title, table.marks, 1); // into the cell of the template's table
    word.AddTableAndHeader(SampleTable("Вторая", 1), "Вторая", TReportMarks(), 2);
    word.RemoveTableTagsFromReport();

    const TWordView view(word.DocumentXml());
    const QStringList paragraphs = view.BodyParagraphs();
    EXPECT_EQ(paragraphs.filter("ProtocolNum").size(), 0);
    EXPECT_TRUE(paragraphs.contains("X все"));
    EXPECT_TRUE(paragraphs.contains("Таблица 2. Вторая"));
    EXPECT_TRUE(paragraphs.contains("Ниже: "));
    EXPECT_TRUE(paragraphs.contains("Конец"));
    EXPECT_EQ(paragraphs.filter("#").size(), 0) << paragraphs.join("|").toStdString();
    // The unused pair left no blank lines: "Конец" follows the second table's paragraph.
    const std::vector<pugi::xml_node> tables = view.Tables();
    ASSERT_EQ(tables.size(), 3u); // the template's, the first (nested in its cell) and the second
    pugi::xml_node nested = tables[1], second = tables[2];
    EXPECT_STREQ(nested.parent().name(), "w:tc");
    EXPECT_STREQ(nested.next_sibling().name(), "w:p"); // a cell ends with a paragraph
    EXPECT_EQ(TWordView::Text(nested.previous_sibling()), "Таблица 1. Первая");
    // Plain single borders without the grid style, column widths five points more than the grid's.
    EXPECT_FALSE(nested.child("w:tblPr").child("w:tblStyle"));
    EXPECT_STREQ(nested.child("w:tblPr").child("w:tblBorders").child("w:insideV").attribute("w:val").value(), "single");
    std::vector<int> widths;
    for (pugi::xml_node col : nested.child("w:tblGrid").children("w:gridCol"))
        widths.push_back(col.attribute("w:w").as_int());
    // Widths from the content: each column holds its widest line and its margins, the whole within the page.
    ASSERT_EQ(widths.size(), 9u);
    for (const int width : widths)
        EXPECT_GT(width, 2 * 57 + 8 * 20 * 2);
    EXPECT_LE(std::accumulate(widths.begin(), widths.end(), 0), 11906 - 2 * 1440);
    // Header row as it is; an output cell as three lines; shading exactly on the marks; the font.
    std::vector<std::vector<pugi::xml_node>> cells;
    for (pugi::xml_node tr : nested.children("w:tr")) {
        cells.emplace_back();
        for (pugi::xml_node tc : tr.children("w:tc"))
            cells.back().push_back(tc);
    }
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(TWordView::Text(cells[0][1]), "Напр., V");
    QStringList lines;
    // One paragraph whose lines are apart by breaks.
    EXPECT_EQ(cells[1][4].select_nodes("w:p").size(), 1u);
    EXPECT_EQ(cells[1][4].select_nodes(".//w:br").size(), 2u);
    for (pugi::xpath_node t : cells[1][4].select_nodes(".//w:t"))
        lines << QString::fromUtf8(t.node().text().get());
    // The marked cell's error prints bold with its star.
    EXPECT_EQ(lines, QStringList(table.CellLines(1, 4)).replaceInStrings(QRegularExpression("%$"), "%*"));
    EXPECT_EQ(lines.size(), 3);
    for (size_t r = 0; r < cells.size(); ++r)
        for (size_t c = 0; c < cells[r].size(); ++c) {
            const pugi::xml_node shd = cells[r][c].child("w:tcPr").child("w:shd");
            EXPECT_EQ(bool(shd), table.marks.IsSet(int(r), int(c))) << r << "," << c;
            if (shd) {
                EXPECT_STREQ(shd.attribute("w:fill").value(), "FA8072");
            }
        }
    const pugi::xml_node run = cells[1][0].child("w:p").child("w:r");
    EXPECT_STREQ(run.child("w:rPr").child("w:rFonts").attribute("w:ascii").value(), "Liberation Sans");
    EXPECT_EQ(run.child("w:rPr").child("w:sz").attribute("w:val").as_int(), 16);
    // The table after the text it shared its placeholder's paragraph with.
    EXPECT_EQ(TWordView::Text(second.previous_sibling()), "Ниже: ");
}

TEST(WordReport, TemplateWithoutPlaceholdersStillCarriesItsTables)
{
    TWordReportManager word;
    word.OpenParts(WordParts(Para("Просто текст")));
    TReportData data;
    data.ProtocolNum = "1";
    data.DeviceName = "Имя";
    TReportProducer::FillReportHeader(data, word);
    word.AddTableAndHeader(SampleTable("Одна", 1), "Одна", TReportMarks(), 4);
    word.RemoveTableTagsFromReport();
    const TWordView view(word.DocumentXml());
    EXPECT_EQ(view.BodyParagraphs().mid(0, 2), (QStringList{"Просто текст", "Таблица 4. Одна"}));
    ASSERT_EQ(view.Tables().size(), 1u);
    EXPECT_STREQ(view.Tables()[0].child("w:tblPr").child("w:tblStyle").attribute("w:val").value(), "a3");
    // The section properties stay last, after a paragraph that ends the body.
    pugi::xml_node last = view.doc.document_element().child("w:body").last_child();
    EXPECT_STREQ(last.name(), "w:sectPr");
    EXPECT_STREQ(last.previous_sibling().name(), "w:p");
}

TEST(ExcelReport, RowsBelowMoveWithWhatNamesThemAndPlaceholderRowsGo)
{
    const QString sheet1
        = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Протокол № ProtocolNum, DEVICENAME</t></is></c></row>"
          "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>#заголовок</t></is></c></row>"
          "<row r=\"4\" ht=\"30\" customHeight=\"1\"><c r=\"A4\" s=\"1\" t=\"inlineStr\"><is><t>#таблица</t></is></c>"
          "<c r=\"K4\" t=\"inlineStr\"><is><t>справа</t></is></c></row>"
          "<row r=\"5\"><c r=\"A5\" t=\"inlineStr\"><is><t>#заголовок</t></is></c></row>"
          "<row r=\"6\"><c r=\"A6\" t=\"inlineStr\"><is><t>#таблица</t></is></c></row>"
          "<row r=\"8\"><c r=\"A8\" t=\"inlineStr\"><is><t>Итог</t></is></c><c "
          "r=\"B8\"><f>SUM(B9:B10)+A4</f><v>3</v></c></row>"
          "<row r=\"9\"><c r=\"B9\"><v>1</v></c></row><row r=\"10\"><c r=\"B10\"><v>2</v></c></row>";
    const QString tail = "<mergeCells count=\"2\"><mergeCell ref=\"A8:E8\"/><mergeCell ref=\"A4:C4\"/></mergeCells>"
                         "<conditionalFormatting sqref=\"B9:B10 A6\"><cfRule type=\"expression\" "
                         "priority=\"1\"><formula>1</formula></cfRule></conditionalFormatting>";
    const QString sheet2 = "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>devicename</t></is></c>"
                           "<c r=\"B2\"><f>'Лист 1'!B9*2</f><v>2</v></c></row>";
    TExcelReportManager excel;
    excel.OpenParts(ExcelParts({{"Лист 1", sheet1, tail}, {"Второй", sheet2, ""}},
        "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\">'Лист 1'!$A$1:$E$10</definedName>"));
    excel.ReplaceTagWithValue("ProtocolNum", "7", TReportManager::kReplaceOne);
    excel.ReplaceTagWithValue("DeviceName", "QX4", TReportManager::kReplaceOne);
    TReportTable table = SampleTable("Т", 3);
    table.marks.Set(0, 0);
    table.marks.Set(3, 8);
    excel.AddTableAndHeader(table, "Т", table.marks, 1);
    excel.RemoveTableTagsFromReport();
    const auto parts = excel.ChangedParts();

    pugi::xml_document doc, other, book, styles;
    ASSERT_TRUE(doc.load_string(parts.at("xl/worksheets/sheet1.xml").c_str()));
    ASSERT_TRUE(other.load_string(parts.at("xl/worksheets/sheet2.xml").c_str()));
    ASSERT_TRUE(book.load_string(parts.at("xl/workbook.xml").c_str()));
    ASSERT_TRUE(styles.load_string(parts.at("xl/styles.xml").c_str()));
    std::map<std::string, pugi::xml_node> cells;
    std::vector<int> rows;
    for (pugi::xml_node row : doc.document_element().child("sheetData").children("row")) {
        rows.push_back(row.attribute("r").as_int());
        for (pugi::xml_node c : row.children("c")) {
            cells[c.attribute("r").value()] = c;
            EXPECT_EQ(CellRef::Parse(c.attribute("r").value())->second, rows.back());
        }
    }
    auto text = [&](const char *ref) { return QString::fromUtf8(cells[ref].child("is").child("t").text().get()); };
    // Every worksheet's header placeholders, whatever their letter case.
    EXPECT_EQ(text("A1"), "Протокол № 7, QX4");
    EXPECT_EQ(QString::fromUtf8(other.select_node("//c[@r='A2']/is/t").node().text().get()), "QX4");
    // Caption in row 3, the table in rows 4-7 (header and three rows), its note on the marks in row 8,
    // the placeholder rows of the unused pair gone, "Итог" moved from 8 to 8 + 3 + 1 - 2. An output
    // cell holds its three parts as lines.
    EXPECT_EQ(text("A3"), "Таблица 1. Т");
    EXPECT_EQ(text("B4"), "Напр., V");
    EXPECT_EQ(text("E7"), table.CellLines(3, 4).join('\n'));
    EXPECT_EQ(text("E7").count('\n'), 2);
    EXPECT_EQ(text("K4"), "справа");
    EXPECT_EQ(text("A8"), "* — погрешность превышает допускаемую");
    EXPECT_EQ(text("A10"), "Итог");
    EXPECT_EQ(rows, (std::vector<int>{1, 3, 4, 5, 6, 7, 8, 10, 11, 12}));
    // Rows tall enough for the three lines of an output cell (11-point text).
    for (const char *r : {"5", "6", "7"}) {
        const pugi::xml_node row = doc.select_node((std::string("//row[@r='") + r + "']").c_str()).node();
        EXPECT_GE(row.attribute("ht").as_double(), 3 * 11.0) << r;
        EXPECT_STREQ(row.attribute("customHeight").value(), "1");
    }
    // Formulas, the other sheet's reference, merges, formats and the print area moved along.
    // The print area grows to the table's columns (A to I).
    EXPECT_STREQ(cells["B10"].child("f").text().get(), "SUM(B11:B12)+A4");
    EXPECT_STREQ(other.select_node("//c[@r='B2']/f").node().text().get(), "'Лист 1'!B11*2");
    EXPECT_STREQ(doc.select_node("//mergeCell").node().attribute("ref").value(), "A10:E10");
    EXPECT_EQ(doc.select_nodes("//mergeCell").size(), 1u); // the one over the table's cells is gone
    EXPECT_STREQ(doc.select_node("//conditionalFormatting").node().attribute("sqref").value(), "B11:B12");
    EXPECT_STREQ(book.select_node("//definedName").node().text().get(), "'Лист 1'!$A$1:$I$12");
    // One table on the sheet: its header row repeats on every page, fitted to the page's width.
    EXPECT_STREQ(book.select_node("//definedName[@name='_xlnm.Print_Titles']").node().text().get(), "'Лист 1'!$4:$4");
    EXPECT_STREQ(doc.select_node("//sheetPr/pageSetUpPr").node().attribute("fitToPage").value(), "1");
    EXPECT_STREQ(doc.select_node("//pageSetup").node().attribute("fitToHeight").value(), "0");
    EXPECT_STREQ(book.select_node("//calcPr").node().attribute("fullCalcOnLoad").value(), "1");
    EXPECT_STREQ(doc.select_node("//dimension").node().attribute("ref").value(), "A1:K12");
    // Marked cells: the placeholder's style with the red fill and its error bold and starred; the
    // others the placeholder's style, unshaded; all of them wrap their lines.
    const int marked = cells["A4"].attribute("s").as_int();
    EXPECT_EQ(cells["I7"].attribute("s").as_int(), marked);
    const pugi::xml_node errorRun = cells["I7"].child("is").last_child();
    EXPECT_TRUE(errorRun.child("rPr").child("b"));
    EXPECT_EQ(QString::fromUtf8(errorRun.child("t").text().get()), table.CellLines(3, 8).last() + "*");
    const pugi::xml_node plain = styles.select_nodes("//cellXfs/xf")[cells["B4"].attribute("s").as_uint()].node();
    const pugi::xml_node xf = styles.select_nodes("//cellXfs/xf")[size_t(marked)].node();
    for (const pugi::xml_node &format : {plain, xf}) {
        EXPECT_STREQ(format.attribute("borderId").value(), "1");
        EXPECT_STREQ(format.child("alignment").attribute("wrapText").value(), "1");
    }
    EXPECT_STRNE(plain.attribute("fillId").value(), xf.attribute("fillId").value());
    const pugi::xml_node fill = styles.select_nodes("//fills/fill")[xf.attribute("fillId").as_uint()].node();
    EXPECT_STREQ(fill.child("patternFill").child("fgColor").attribute("rgb").value(), "FFFA8072");
}

// The calculation chain names formula cells by address: it goes (with its relationship and content
// type) whenever a formula cell moves, even one whose text stays; a workbook whose formulas stay
// keeps it. Namespace prefixes bound on an element below the root (a rule's own xm) resolve.
TEST(ExcelReport, CalculationChainGoesWhenAFormulaMoves)
{
    const QString x14
        = "<extLst><ext uri=\"{78C0D931-6437-407d-A8EE-F0AAD8B7D5AC}\" "
          "xmlns:x14=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/main\">"
          "<x14:conditionalFormattings><x14:conditionalFormatting "
          "xmlns:xm=\"http://schemas.microsoft.com/office/excel/2006/main\"><x14:cfRule type=\"expression\" "
          "priority=\"1\"><xm:f>$A$1&gt;C9</xm:f></x14:cfRule><xm:sqref>C9 A2</xm:sqref>"
          "</x14:conditionalFormatting></x14:conditionalFormattings></ext></extLst>";
    const struct {
        const char *before, *after;
        bool chainKept;
    } cases[] = {
        {"", "<row r=\"9\"><c r=\"C9\"><f>$A$1*2</f><v>0</v></c></row>", false},
        {"<row r=\"2\"><c r=\"A2\"><f>$A$1*2</f><v>0</v></c></row>", "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chainKept);
        const QString rows = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>" + QString(c.before)
            + "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t>#таблица</t></is></c></row>" + QString(c.after);
        TParts parts = ExcelParts({{"Лист", rows, x14}});
        parts["xl/calcChain.xml"] = "<calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                                    "<c r=\"C9\" i=\"1\"/></calcChain>";
        parts["xl/_rels/workbook.xml.rels"].replace("</Relationships>",
            "<Relationship Id=\"rIdC\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "calcChain\" Target=\"calcChain.xml\"/></Relationships>");
        parts["[Content_Types].xml"].replace("</Types>",
            "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/></Types>");
        TExcelReportManager excel;
        excel.OpenParts(parts);
        excel.AddTable(SampleTable("Т", 2), TReportMarks());
        const auto changed = excel.ChangedParts();
        const auto rels = changed.find("xl/_rels/workbook.xml.rels");
        const std::string relsText
            = rels == changed.end() ? parts["xl/_rels/workbook.xml.rels"].toStdString() : rels->second;
        const auto types = changed.find("[Content_Types].xml");
        const std::string typesText
            = types == changed.end() ? parts["[Content_Types].xml"].toStdString() : types->second;
        EXPECT_EQ(relsText.find("calcChain") != std::string::npos, c.chainKept);
        EXPECT_EQ(typesText.find("calcChain") != std::string::npos, c.chainKept);
        pugi::xml_document sheet;
        ASSERT_TRUE(sheet.load_string(changed.at("xl/worksheets/sheet1.xml").c_str()));
        EXPECT_STREQ(
            sheet.select_node("//*[local-name()='f' and ancestor::*[local-name()='cfRule']]").node().text().get(),
            "$A$1>C11");
        EXPECT_STREQ(sheet.select_node("//*[local-name()='sqref']").node().text().get(), "C11 A2");
    }
}

TEST(ReportProducer, FailuresLeaveNoReportAndRestoreTheWindow)
{
    TConfigController settings(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TAvtopoverkaReportConfig config(&settings);
    const QString folder = config.ReportsFolder();
    const QStringList shipped = FilesIn(folder);
    EXPECT_EQ(shipped, (QStringList{TReportTemplates::kWordTemplate, TReportTemplates::kExcelTemplate}));

    const QString bad = KestTestHome::NewFolder();
    QFile(bad + "/plain.docx").open(QIODevice::WriteOnly);
    QFile notZip(bad + "/text.docx");
    notZip.open(QIODevice::WriteOnly);
    notZip.write("это не документ");
    notZip.close();
    TParts noDocument = WordParts(Para("x"));
    noDocument.erase("word/document.xml");
    WriteZip(bad + "/nodoc.docx", noDocument);
    TParts malformed = WordParts(Para("x"));
    malformed["word/document.xml"].chop(20);
    WriteZip(bad + "/malformed.docx", malformed);
    TParts sheetless = ExcelParts({});
    WriteZip(bad + "/sheetless.xlsx", sheetless);
    WriteZip(bad + "/word-as-excel.xlsx", WordParts(Para("x")));

    struct TCase {
        TReportFormat format;
        QString path;
        QString error; // a part of the message
    } cases[] = {
        {TReportFormat::Word, bad + "/missing.docx", "Шаблон не найден"},
        {TReportFormat::Word, bad + "/plain.docx", "plain.docx» не является документом"},
        {TReportFormat::Word, bad + "/text.docx", "zip"},
        {TReportFormat::Word, bad + "/nodoc.docx", "word/document.xml"},
        {TReportFormat::Word, bad + "/malformed.docx", "ошибку XML"},
        {TReportFormat::Excel, bad + "/sheetless.xlsx", "нет листов"},
        {TReportFormat::Excel, bad + "/word-as-excel.xlsx", "книгой .xlsx"},
        {TReportFormat::Word, bad, "не является файлом"},
    };
    const QList<TReportTab> tabs{{SampleTable("Т", 2), true, {}}};
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        if (c.format == TReportFormat::Word)
            config.WriteWordTemplatePath(c.path);
        else
            config.WriteExcelTemplatePath(c.path);
        TRecordingView view;
        TReportProducer producer(&settings, &view);
        EXPECT_TRUE(producer.Produce(Request(c.format), tabs).isEmpty());
        EXPECT_TRUE(view.Restored()) << view.calls.join(",").toStdString();
        ASSERT_EQ(view.errors.size(), 1);
        EXPECT_TRUE(view.errors[0].contains(c.error)) << view.errors[0].toStdString();
        EXPECT_TRUE(view.opened.isEmpty());
        EXPECT_EQ(FilesIn(folder), shipped); // no report, no working copy
    }

    // A folder that cannot be made (a file stands where it would be) is an error too.
    TRecordingView view;
    TReportProducer producer(&settings, &view);
    TReportRequest request;
    request.templatePath = folder + "/" + TReportTemplates::kWordTemplate;
    request.outputPath = bad + "/text.docx/inside/out.docx";
    request.openWhenDone = false;
    EXPECT_TRUE(producer.Produce(request, tabs).isEmpty());
    ASSERT_EQ(view.errors.size(), 1);
    EXPECT_TRUE(view.Restored());
}

// The text a reader sees in a report's body: a document's paragraphs, or a workbook's first sheet cell by cell
// (shared strings looked up: the table keeps strings no cell uses any more).
QString BodyText(const QString &path)
{
    TOoxmlPackage package;
    package.OpenFile(path, "report");
    auto parse = [&](const char *part, pugi::xml_document &doc) {
        const QByteArray xml = package.ReadPart(part);
        EXPECT_TRUE(doc.load_buffer(xml.constData(), size_t(xml.size()), pugi::parse_default | pugi::parse_ws_pcdata));
    };
    auto texts = [](pugi::xml_node node) {
        QString text;
        for (pugi::xpath_node t : node.select_nodes(".//*[local-name()='t' or local-name()='br']"))
            text += QLatin1String(t.node().name()).endsWith(QLatin1String("br"))
                ? QStringLiteral("\n")
                : QString::fromUtf8(t.node().text().get());
        return text;
    };
    pugi::xml_document doc;
    if (package.HasPart("word/document.xml")) {
        parse("word/document.xml", doc);
        return texts(doc);
    }
    pugi::xml_document strings;
    parse("xl/sharedStrings.xml", strings);
    std::vector<pugi::xml_node> shared;
    for (pugi::xml_node si : strings.document_element().children("si"))
        shared.push_back(si);
    parse("xl/worksheets/sheet1.xml", doc);
    QString text;
    for (pugi::xpath_node c : doc.select_nodes("//*[local-name()='c']")) {
        const pugi::xml_node cell = c.node();
        if (std::string(cell.attribute("t").value()) == "s")
            text += texts(shared.at(cell.child("v").text().as_uint())) + "\n";
        else
            text += texts(cell) + "\n";
    }
    return text;
}

const std::pair<const char *, QString TReportData::*> kHeaderFields[] = {{"ProtocolNum", &TReportData::ProtocolNum},
    {"DeviceName", &TReportData::DeviceName}, {"DeviceNum", &TReportData::DeviceNum}, {"Date", &TReportData::Date},
    {"FactoryNum", &TReportData::FactoryNum}, {"Conditions", &TReportData::Conditions},
    {"EquipmentName", &TReportData::EquipmentName}, {"PoverkaDoc", &TReportData::PoverkaDoc},
    {"Inspection", &TReportData::Inspection}, {"ElectricityStrength", &TReportData::ElectricityStrength},
    {"Pulsation", &TReportData::Pulsation}, {"Conclusion", &TReportData::Conclusion},
    {"Verifier", &TReportData::Verifier}, {"KU1", &TReportData::KU1}, {"KU2", &TReportData::KU2},
    {"KI1", &TReportData::KI1}, {"KI2", &TReportData::KI2}, {"LabName", &TReportData::LabName},
    {"LabAccreditation", &TReportData::LabAccreditation}, {"DeviceOwner", &TReportData::DeviceOwner},
    {"DeviceType", &TReportData::DeviceType}, {"RegistryNum", &TReportData::RegistryNum},
    {"PoverkaMethod", &TReportData::PoverkaMethod}, {"Checker", &TReportData::Checker}};

TEST(ReportProducer, NoTemplateSetTakesTheShippedOneWithEveryHeaderFieldAndModeFromTheUmask)
{
    TConfigController settings(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TAvtopoverkaReportConfig config(&settings);
    // The copies in the reports folder are the user's to edit; a report without a template never reads them.
    for (const QString &name : TReportTemplates::Names()) {
        QFile copy(config.ReportsFolder() + "/" + name);
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write("испорчен");
    }
    TReportData data;
    int n = 0;
    for (const auto &[key, member] : kHeaderFields)
        data.*member = QStringLiteral("«знач%1»").arg(++n);
    // The laboratory's records that the shipped templates name, each with a value of its own.
    const QStringList labShown{"TypeNumber", "Modification", "Owner", "Procedure", "VerificationKind", "Amendments"};
    QList<QPair<QString, QString>> lab;
    for (const QString &key : labShown)
        lab.append({key, QStringLiteral("«лаб%1»").arg(lab.size() + 1)});
    const QList<TReportTab> tabs{{SampleTable("Т", 2), true, {}}};
    const QString out = KestTestHome::NewFolder();
    struct TCase {
        TReportFormat format;
        mode_t umask;
        bool named; // an exact output path; else the numbered name in the reports folder
        mode_t mode;
    } cases[] = {
        {TReportFormat::Word, 022, true, 0644},
        {TReportFormat::Word, 027, false, 0640},
        {TReportFormat::Excel, 027, true, 0640},
        {TReportFormat::Excel, 022, false, 0644},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(int(c.format) * 1000 + int(c.umask));
        TReportRequest request = Request(c.format);
        request.headerData = data;
        request.labFields = lab;
        request.openWhenDone = false;
        if (c.named)
            request.outputPath = out + QStringLiteral("/протокол%1").arg(int(c.umask))
                + (c.format == TReportFormat::Word ? ".docx" : ".xlsx");
        TRecordingView view;
        const mode_t before = ::umask(c.umask);
        const QString report = TReportProducer(&settings, &view).Produce(request, tabs);
        ::umask(before);
        ASSERT_FALSE(report.isEmpty()) << view.errors.join(";").toStdString() << view.messages.join(";").toStdString();
        EXPECT_TRUE(view.errors.isEmpty() && view.messages.isEmpty());
        if (c.named) {
            EXPECT_EQ(report, request.outputPath);
        }
        struct stat status { };
        ASSERT_EQ(::stat(QFile::encodeName(report).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, c.mode) << std::oct << status.st_mode;
        const QString text = BodyText(report);
        // The register number, method and owner show through the records' names, which the templates use.
        for (const auto &[key, member] : kHeaderFields) {
            const bool shownByRecords = QStringList{"RegistryNum", "PoverkaMethod", "DeviceOwner"}.contains(key);
            EXPECT_EQ(text.contains(data.*member), !shownByRecords) << key;
            EXPECT_FALSE(text.contains(QString::fromLatin1(key), Qt::CaseInsensitive)) << key;
        }
        for (const auto &[key, value] : lab) {
            EXPECT_TRUE(text.contains(value)) << key.toStdString();
            EXPECT_FALSE(text.contains(key, Qt::CaseInsensitive)) << key.toStdString();
        }
    }
    // A field left empty is told once, after the report is written, by its placeholder's name; the records
    // stand in for the header's conditions, equipment and conclusion, the standards one a line.
    TReportData partial = data;
    partial.Checker.clear();
    partial.DeviceOwner.clear();
    partial.Conditions.clear();
    partial.EquipmentName.clear();
    partial.Conclusion.clear();
    for (const TReportFormat format : {TReportFormat::Word, TReportFormat::Excel}) {
        SCOPED_TRACE(int(format));
        TReportRequest request = Request(format);
        request.headerData = partial;
        request.labFields = {{"Temperature", "21,5 °C"}, {"Pressure", "101,3 кПа"},
            {"Standards", "Установка KEST-01, зав. № 7\nТермогигрометр ИВА-6, зав. № 12"}, {"Verdict", "пригоден"},
            {"ValidUntil", "04.03.2025"}, {"Modification", "QX4-1"}};
        request.openWhenDone = false;
        TRecordingView view;
        const QString report = TReportProducer(&settings, &view).Produce(request, tabs);
        ASSERT_FALSE(report.isEmpty());
        EXPECT_TRUE(view.errors.isEmpty());
        EXPECT_EQ(view.messages,
            QStringList{"Не заполнены поля шаблона: Checker, Owner, VerificationKind"}); // no Amendments: none made
        const QString text = BodyText(report);
        for (const char *expected : {"температура 21,5 °C, атмосферное давление 101,3 кПа",
                 "Установка KEST-01, зав. № 7\nТермогигрометр ИВА-6, зав. № 12",
                 "пригоден, результаты поверки действительны до 04.03.2025", "QX4-1"})
            EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    }
    // Without records the records' names take the header's register number, method and owner.
    QList<QPair<QString, QString>> none;
    const TReportData header = TReportProducer::WithLabFields(data, none);
    EXPECT_EQ(header.Conditions, data.Conditions);
    EXPECT_EQ(none.size(), TReportProducer::LabFieldNames().size());
    for (const auto &[key, value] : none)
        EXPECT_EQ(value,
            key == "TypeNumber"      ? data.RegistryNum
                : key == "Procedure" ? data.PoverkaMethod
                : key == "Owner"     ? data.DeviceOwner
                                     : QString())
            << key.toStdString();
}

TEST(ReportProducer, PermissibleErrorTextAndItsPlaceInTheReportTable)
{
    const std::pair<double, const char *> cases[]
        = {{0.2, "±0,2 %"}, {0.05, "±0,05 %"}, {1, "±1 %"}, {1.5, "±1,5 %"}, {0, ""}, {-0.2, ""}};
    for (const auto &[percent, text] : cases)
        EXPECT_EQ(TReportProducer::PermissibleText(percent), QString::fromUtf8(text)) << percent;
    TReportTab tab{SampleTable("Т", 2), true, {"100"}};
    tab.table.permissible = "±0,5 %";
    tab.table.chartPng = QByteArray("\x89PNG", 4);
    const TReportTable report = TReportProducer::ReportTable(tab);
    EXPECT_EQ(report.permissible, tab.table.permissible);
    EXPECT_EQ(report.chartPng, tab.table.chartPng);
}

TEST(ReportConfig, KeysDefaultsDatesAndShippedTemplates)
{
    TConfigController settings(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TDeviceSettingsConfig device(&settings);
    device.WriteKU1("6000");
    TAvtopoverkaReportConfig config(&settings);
    TReportData data = config.ReadReportData();
    EXPECT_EQ(data.Date, QDate::currentDate().toString("dd.MM.yyyy"));
    EXPECT_TRUE(data.ProtocolNum.isEmpty() && data.Verifier.isEmpty() && data.Conclusion.isEmpty());
    EXPECT_EQ(QStringList({data.KU1, data.KU2, data.KI1, data.KI2}), QStringList({"6000", "100", "5", "5"}));

    TReportData written{"П-1", "Имя", "№5", "31.12.2023", "ЗН", "Усл.", "Обор.", "Док.", "Годен", "Выдержала", "Нет",
        "Годен к применению", "Иванов", "1", "2", "3", "4", "Лаборатория", "RA.RU.1", "Владелец", "Тип", "123-45",
        "МП-1", "Петров"};
    config.WriteReportData(written);
    config.WriteWordTemplatePath("/a/b.docx");
    config.WriteExcelTemplatePath("/a/b.xlsx");
    data = config.ReadReportData();
    for (const auto &[key, member] : kHeaderFields) {
        if (QByteArray(key).startsWith("K"))
            continue; // the coefficients: below
        EXPECT_EQ(data.*member, written.*member) << key;
        EXPECT_EQ(settings.ini.ReadString("Report", key, "?"), written.*member) << key;
    }
    EXPECT_EQ(data.KU1, "6000"); // never stored with the report data
    EXPECT_FALSE(settings.ini.ValueExists("Report", "KU1"));
    EXPECT_EQ(settings.ini.ReadString("Report", "TemplateWordPath", ""), "/a/b.docx");
    EXPECT_EQ(config.ReadExcelTemplatePath(), "/a/b.xlsx");

    EXPECT_EQ(TAvtopoverkaReportConfig::ParseDate("29.02.2024"), QDate(2024, 2, 29));
    for (const char *text : {"30.02.2024", "2024-01-01", "", "1.1.24"})
        EXPECT_EQ(TAvtopoverkaReportConfig::ParseDate(text), std::nullopt) << text;

    // The shipped templates are in the reports folder; a user's edited copy is never replaced.
    const QString mine = config.ReportsFolder() + "/" + TReportTemplates::kWordTemplate;
    EXPECT_EQ(QFileInfo(mine).size(), TReportTemplates::Content(TReportTemplates::kWordTemplate).size());
    QFile file(mine);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("мой шаблон");
    file.close();
    TAvtopoverkaReportConfig again(&settings);
    EXPECT_EQ(QFileInfo(mine).size(), qint64(QByteArray("мой шаблон").size()));
}
