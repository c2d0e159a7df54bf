// Report templates: the package and XML reading, the placeholder search and replacement and the
// table insertion of both writers, on any bytes. The first byte chooses what the rest is: a whole
// .docx or .xlsx archive, or the document part or the worksheet of an otherwise sound package.

#include "verification/report/excelreportmanager.h"
#include "verification/report/reporterror.h"
#include "verification/report/reporttable.h"
#include "verification/report/wordreportmanager.h"

#include <cstddef>
#include <cstdint>

namespace {

TReportTable Table()
{
    TReportTable table;
    table.title = QStringLiteral("Т");
    table.columns
        = {{QStringLiteral("Ток"), QStringLiteral("Ток, A"), 40}, {QStringLiteral("Ua"), QStringLiteral("Ua, V"), 40}};
    table.rows = {{QStringLiteral("1"), QStringLiteral("1       2       3%")}, {QStringLiteral("2")}};
    table.marks.Set(1, 1);
    return table;
}

std::map<std::string, QByteArray> WordPackage(const QByteArray &document)
{
    return {{"[Content_Types].xml",
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Override "
                "PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
                "wordprocessingml.document.main+xml\"/></Types>"},
        {"_rels/.rels",
            "<Relationships><Relationship Id=\"r\" Type=\"x/officeDocument\" "
            "Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml", document}};
}

std::map<std::string, QByteArray> ExcelPackage(const QByteArray &sheet)
{
    return {{"[Content_Types].xml",
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Override "
                "PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
                "spreadsheetml.sheet.main+xml\"/></Types>"},
        {"_rels/.rels",
            "<Relationships><Relationship Id=\"r\" Type=\"x/officeDocument\" "
            "Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet "
            "name=\"Л\" r:id=\"s\"/></sheets><definedNames><definedName name=\"a\">Л!$A$1:$B$9</definedName>"
            "</definedNames></workbook>"},
        {"xl/_rels/workbook.xml.rels",
            "<Relationships><Relationship Id=\"s\" Type=\"x/worksheet\" Target=\"sheet.xml\"/></Relationships>"},
        {"xl/sheet.xml", sheet}};
}

template<class TManager> void Exercise(TManager &manager)
{
    manager.ReplaceTagWithValue(QStringLiteral("DeviceName"), QStringLiteral("QX4 <&>"), TReportManager::kReplaceOne);
    manager.ReplaceTagWithValue(QStringLiteral("Date"), QString(), TReportManager::kReplaceAll);
    const TReportTable table = Table();
    manager.AddTableAndHeader(table, table.title, table.marks, 1);
    manager.AddTableAndHeader(table, table.title, table.marks, 2);
    manager.RemoveTableTagsFromReport();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 200000)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    try {
        switch (data[0] % 4) {
        case 0: {
            TWordReportManager word;
            word.OpenBytes(rest);
            Exercise(word);
            (void)word.DocumentXml();
            break;
        }
        case 1: {
            TExcelReportManager excel;
            excel.OpenBytes(rest);
            Exercise(excel);
            (void)excel.ChangedParts();
            break;
        }
        case 2: {
            TWordReportManager word;
            word.OpenParts(WordPackage(rest));
            Exercise(word);
            (void)word.DocumentXml();
            break;
        }
        default: {
            TExcelReportManager excel;
            excel.OpenParts(ExcelPackage(rest));
            Exercise(excel);
            (void)excel.ChangedParts();
            break;
        }
        }
    } catch (const EReportError &) {
        // A damaged template is reported, never a crash.
    }
    return 0;
}
