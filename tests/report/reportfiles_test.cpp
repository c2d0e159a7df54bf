// The reports the program writes, read back by readers that are not its own: python-docx and
// openpyxl for the content, LibreOffice for opening them (each converted to PDF, its first page
// drawn into the build folder by pdftoppm).

#include "reporttesthelpers.h"
#include "testhome.h"

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/cellref.h"
#include "verification/report/excelreportmanager.h"
#include "verification/report/reportproducer.h"
#include "verification/report/reporttemplates.h"
#include "verification/report/wordreportmanager.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMultiMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

using namespace ReportTest;

namespace {

const QStringList kPlaceholders{"ProtocolNum", "DeviceName", "DeviceNum", "Date", "FactoryNum", "Conditions",
    "EquipmentName", "PoverkaDoc", "Inspection", "ElectricityStrength", "Pulsation", "Conclusion", "Verifier", "KU1",
    "KU2", "KI1", "KI2", "LabName", "LabAccreditation", "DeviceOwner", "DeviceType", "RegistryNum", "PoverkaMethod",
    "Checker", "#заголовок", "#таблица"};

struct TRun {
    int code = -1;
    QByteArray output;
};

TRun RunProgram(const QString &program, const QStringList &arguments, int timeoutMs = 240000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    TRun run;
    if (!process.waitForStarted(30000))
        return run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.output = process.readAll();
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

QJsonObject Read(const QString &path)
{
    const QString script = QString::fromUtf8(qgetenv("KEST_SOURCE_DIR")) + "/tests/report/read_report.py";
    const TRun run = RunProgram("/usr/bin/python3", {script, path});
    EXPECT_EQ(run.code, 0) << run.output.toStdString();
    return QJsonDocument::fromJson(run.output).object();
}

QString OutputFolder()
{
    const QString folder = QString::fromUtf8(qgetenv("KEST_BINARY_DIR")) + "/tests/report";
    QDir().mkpath(folder);
    return folder;
}

// LibreOffice opens the file and writes it as PDF; the first page becomes `picture`.png.
void OpenWithLibreOffice(const QString &file, const QString &picture, const QStringList &mustShow)
{
    QTemporaryDir profile;
    const QString out = OutputFolder();
    const TRun convert = RunProgram("soffice",
        {"--headless", "--norestore", "--nolockcheck",
            "-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString(), "--convert-to", "pdf",
            "--outdir", out, file});
    const QString pdf = out + "/" + QFileInfo(file).completeBaseName() + ".pdf";
    ASSERT_EQ(convert.code, 0) << convert.output.toStdString();
    ASSERT_TRUE(QFileInfo(pdf).size() > 0) << convert.output.toStdString();
    const QString renamed = out + "/" + picture + ".pdf";
    QFile::remove(renamed);
    ASSERT_TRUE(QFile::rename(pdf, renamed));
    const TRun text = RunProgram("pdftotext", {"-layout", renamed, "-"});
    ASSERT_EQ(text.code, 0);
    for (const QString &expected : mustShow)
        EXPECT_TRUE(QString::fromUtf8(text.output).contains(expected)) << expected.toStdString();
    const TRun draw = RunProgram(
        "pdftoppm", {"-png", "-r", "70", "-f", "1", "-l", "1", "-singlefile", renamed, out + "/" + picture});
    ASSERT_EQ(draw.code, 0) << draw.output.toStdString();
    EXPECT_GT(QFileInfo(out + "/" + picture + ".png").size(), 1000);
}

struct TBench {
    TConfigController settings{KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt"};
    TAvtopoverkaReportConfig config{&settings};
    TReportData data{"П-2024/017", "QX4-Тест", "А-0042", "05.03.2024", "ЗН 12345, 2023 г.", "t = 21 °C, влажность 55 %",
        "KEST-01 № 77", "МП 17-2024", "соответствует", "выдерживает 2 кВ", "не превышает 0,1 %", "годен к применению",
        "Петров П. П.", "", "", "", "", "ООО «Метролог»", "RA.RU.312345", "АО «Энергосеть»", "ЭНИП-2", "12345-21",
        "МП 2203-0123-2021", "Сидоров С. С."};
    QList<TReportTab> tabs;
    TBench()
    {
        config.WriteReportData(data);
        TDeviceSettingsConfig device(&settings);
        device.WriteKU1("6000");
        device.WriteKU2("100");
        device.WriteKI1("600");
        device.WriteKI2("5");
        config.WriteWordTemplatePath(config.ReportsFolder() + "/" + TReportTemplates::kWordTemplate);
        config.WriteExcelTemplatePath(config.ReportsFolder() + "/" + TReportTemplates::kExcelTemplate);
        // Data on tabs 1 and 3 of ten; tab 3 leaves out current and angle. Marks beyond row 50
        // and on the last row.
        for (int k = 0; k < 10; ++k)
            tabs.append({SampleTable(QString("Вкладка %1").arg(k + 1), 3), false, {}});
        tabs[0] = {SampleTable("Нагрузка 100 %", 55), true, {}};
        tabs[0].table.marks.Set(1, 4);
        tabs[0].table.marks.Set(51, 6);
        tabs[0].table.marks.Set(55, 8);
        tabs[2] = {SampleTable("Углы", 5), true, {"100", "102"}};
        tabs[2].table.marks.Set(2, 6);
        tabs[2].table.marks.Set(5, 8);
    }
};

std::set<std::pair<int, int>> Marks(const TReportTable &table)
{
    const auto cells = table.marks.Cells();
    return {cells.begin(), cells.end()};
}

} // namespace

TEST(ReportFiles, WordAndExcelProtocolsAsIndependentReadersSeeThem)
{
    TBench bench;
    const QString folder = bench.config.ReportsFolder();
    const TReportTable first = TReportProducer::ReportTable(bench.tabs[0]);
    const TReportTable third = TReportProducer::ReportTable(bench.tabs[2]);
    ASSERT_EQ(third.ColumnCount(), 7);
    EXPECT_EQ(Marks(third), (std::set<std::pair<int, int>>{{2, 4}, {5, 6}}));

    TRecordingView view;
    TReportProducer producer(&bench.settings, &view);
    const QString word = producer.Produce({TReportFormat::Word}, bench.tabs);
    ASSERT_EQ(word, folder + "/Отчёт.docx") << view.errors.join("\n").toStdString();
    EXPECT_EQ(view.opened, QStringList{word});
    EXPECT_TRUE(view.Restored());

    // python-docx: every placeholder replaced (the device name and number twice), the captions of
    // tabs 1 and 3 only, the tables cell by cell with their shading.
    const QJsonObject docx = Read(word);
    const QString text = docx["alltext"].toString();
    for (const QString &placeholder : kPlaceholders)
        EXPECT_FALSE(text.contains(placeholder, Qt::CaseInsensitive)) << placeholder.toStdString();
    const TReportData &d = bench.data;
    for (const QString *value : {&d.ProtocolNum, &d.Date, &d.FactoryNum, &d.Conditions, &d.EquipmentName, &d.PoverkaDoc,
             &d.Inspection, &d.ElectricityStrength, &d.Pulsation, &d.Conclusion, &d.Verifier, &d.LabName,
             &d.LabAccreditation, &d.DeviceOwner, &d.DeviceType, &d.RegistryNum, &d.PoverkaMethod, &d.Checker})
        EXPECT_EQ(text.count(*value), 1) << value->toStdString();
    EXPECT_EQ(text.count(d.DeviceName), 2);
    EXPECT_EQ(text.count(d.DeviceNum), 2);
    QStringList paragraphs, captions;
    for (const QJsonValue &p : docx["paragraphs"].toArray())
        paragraphs << p.toString();
    for (const QString &p : paragraphs)
        if (p.startsWith("Таблица "))
            captions << p;
    EXPECT_EQ(captions, (QStringList{"Таблица 1. Нагрузка 100 %", "Таблица 3. Углы"}));
    EXPECT_TRUE(paragraphs.contains("Коэффициенты трансформации: по напряжению 6000 / 100, по току 600 / 5"));
    EXPECT_TRUE(paragraphs.contains("Протокол поверки № П-2024/017"));
    EXPECT_TRUE(docx["footer"].toArray().first().toString().startsWith("Страница"));
    const QJsonArray tables = docx["tables"].toArray();
    ASSERT_EQ(tables.size(), 2);
    const TReportTable *expected[] = {&first, &third};
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        const TReportTable &table = *expected[t];
        const QJsonObject got = tables[t].toObject();
        EXPECT_EQ(got["style"].toString(), "Table Grid");
        EXPECT_EQ(got["font"].toString(), "Liberation Sans");
        EXPECT_EQ(got["size"].toDouble(), 8.0);
        EXPECT_EQ(got["widths"].toArray().size(), table.ColumnCount());
        const QJsonArray rows = got["rows"].toArray();
        ASSERT_EQ(rows.size(), table.RowCount());
        std::set<std::pair<int, int>> shaded;
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray cells = rows[r].toArray();
            ASSERT_EQ(cells.size(), table.ColumnCount());
            for (int c = 0; c < cells.size(); ++c) {
                const QJsonObject cell = cells[c].toObject();
                EXPECT_EQ(cell["text"].toString().toStdString(),
                    (table.CellLines(r, c).join('\n') + (r > 0 && table.marks.IsSet(r, c) ? "*" : "")).toStdString());
                if (cell["fill"].toString() == "FA8072")
                    shaded.insert({r, c});
            }
        }
        EXPECT_EQ(shaded, Marks(table));
    }
    EXPECT_EQ(tables[1].toObject()["rows"].toArray()[0].toArray()[0].toObject()["text"].toString(), "Напр., V");
    EXPECT_EQ(tables[0].toObject()["rows"].toArray()[2].toArray()[5].toObject()["text"].toString().count('\n'), 2);

    // openpyxl: the same content in the workbook, rows below the tables moved down, placeholder
    // rows gone, merges and the print area following.
    const QString excel = producer.Produce({TReportFormat::Excel}, bench.tabs);
    ASSERT_EQ(excel, folder + "/Отчёт.xlsx") << view.errors.join("\n").toStdString();
    const QJsonObject xlsx = Read(excel);
    const QJsonObject sheet = xlsx["sheets"].toArray().first().toObject();
    const QJsonObject cells = sheet["cells"].toObject();
    auto value = [&](const QString &ref) { return cells[ref].toObject()["value"].toString(); };
    std::map<int, QString> captionRows;
    int conclusionRow = 0;
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QString v = it.value().toObject()["value"].toString();
        for (const QString &placeholder : kPlaceholders)
            EXPECT_FALSE(v.contains(placeholder, Qt::CaseInsensitive))
                << it.key().toStdString() << " " << v.toStdString();
        const int row = it.key().mid(1).toInt();
        if (v.startsWith("Таблица "))
            captionRows[row] = v;
        if (v == "7. Заключение по результатам поверки")
            conclusionRow = row;
    }
    EXPECT_EQ(value("A2"), "Протокол поверки № П-2024/017");
    EXPECT_EQ(value("A3"), "поверки устройства QX4-Тест № А-0042");
    EXPECT_EQ(value("F12"), "по напряжению 6000 / 100, по току 600 / 5");
    ASSERT_EQ(captionRows.size(), 2u);
    const int caption1 = captionRows.begin()->first, caption3 = captionRows.rbegin()->first;
    EXPECT_EQ(captionRows.begin()->second, "Таблица 1. Нагрузка 100 %");
    EXPECT_EQ(captionRows.rbegin()->second, "Таблица 3. Углы");
    // Each table has marks: a row under it says what the star means.
    EXPECT_EQ(caption3, caption1 + first.RowCount() + 2);
    EXPECT_EQ(conclusionRow, caption3 + third.RowCount() + 2);
    for (int t = 0; t < 2; ++t) {
        const TReportTable &table = *expected[t];
        const int top = (t == 0 ? caption1 : caption3) + 1;
        std::set<std::pair<int, int>> filled;
        for (int r = 0; r < table.RowCount(); ++r)
            for (int c = 0; c < table.ColumnCount(); ++c) {
                const QString ref = QString(QChar('A' + c)) + QString::number(top + r);
                EXPECT_EQ(value(ref), table.CellLines(r, c).join('\n') + (table.marks.IsSet(r, c) ? "*" : ""))
                    << ref.toStdString();
                if (cells[ref].toObject()["fill"].toString() == "FFFA8072")
                    filled.insert({r, c});
            }
        EXPECT_EQ(filled, Marks(table));
    }
    QStringList merged;
    for (const QJsonValue &m : sheet["merged"].toArray())
        merged << m.toString();
    for (const QString &range :
        {QString("A1:L1"), QString("A9:E9"), QString("F9:L9"), QString("A%1:L%1").arg(conclusionRow + 1)})
        EXPECT_TRUE(merged.contains(range)) << range.toStdString();
    // The shipped template sets no print area (it cut the columns after L): the whole sheet prints.
    EXPECT_TRUE(sheet["print_area"].isNull()) << sheet["print_area"].toString().toStdString();
    EXPECT_EQ(sheet["footer"].toString(), "Страница &P из &N");

    // The next reports are numbered, nothing is overwritten, no working copy stays.
    EXPECT_EQ(producer.Produce({TReportFormat::Word}, bench.tabs), folder + "/Отчёт1.docx");
    EXPECT_EQ(producer.Produce({TReportFormat::Word}, bench.tabs), folder + "/Отчёт2.docx");
    EXPECT_EQ(FilesIn(folder),
        (QStringList{"Отчёт.docx", "Отчёт.xlsx", "Отчёт1.docx", "Отчёт2.docx", TReportTemplates::kWordTemplate,
            TReportTemplates::kExcelTemplate}));
    EXPECT_TRUE(view.errors.isEmpty()) << view.errors.join("\n").toStdString();

    // LibreOffice opens both and shows the header and the captions on the pages.
    OpenWithLibreOffice(word, "report_docx_page1", {"П-2024/017", "Таблица 1. Нагрузка 100 %"});
    OpenWithLibreOffice(excel, "report_xlsx_page1", {"П-2024/017", "Таблица 1. Нагрузка 100 %"});
}

TEST(ReportFiles, PdfAndLegacyTemplatesThroughLibreOffice)
{
    TBench bench;
    const QString folder = bench.config.ReportsFolder();
    TRecordingView view;
    TReportProducer producer(&bench.settings, &view);
    ASSERT_TRUE(TReportProducer::PdfUnavailableReason().isEmpty());
    const QString pdf = producer.Produce({TReportFormat::Pdf}, bench.tabs);
    ASSERT_EQ(pdf, folder + "/Отчёт.pdf") << view.errors.join("\n").toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + "/Отчёт.docx")); // the editable report stays beside it
    EXPECT_EQ(view.opened, QStringList{pdf});
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    const TRun text = RunProgram("pdftotext", {pdf, "-"});
    EXPECT_TRUE(QString::fromUtf8(text.output).contains("Таблица 3. Углы"));

    // A .doc template (made by LibreOffice from the shipped one) is converted once and used.
    QTemporaryDir work;
    QTemporaryDir profile;
    const TRun toDoc = RunProgram("soffice",
        {"--headless", "--norestore", "-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString(),
            "--convert-to", "doc", "--outdir", work.path(), folder + "/" + TReportTemplates::kWordTemplate});
    const QString doc = work.path() + "/" + QFileInfo(TReportTemplates::kWordTemplate).completeBaseName() + ".doc";
    ASSERT_TRUE(QFileInfo::exists(doc)) << toDoc.output.toStdString();
    const QString report = producer.Produce({TReportFormat::Word, doc}, bench.tabs);
    ASSERT_EQ(report, folder + "/Отчёт1.docx") << view.errors.join("\n").toStdString();
    const QString reportText = Read(report)["alltext"].toString();
    EXPECT_TRUE(reportText.contains("П-2024/017"));
    EXPECT_FALSE(reportText.contains("#таблица"));
    const QString cache
        = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/Valtrix/KestManager/templates";
    const QStringList converted = QDir(cache).entryList({"*.docx"}, QDir::Files);
    ASSERT_EQ(converted.size(), 1);
    const QDateTime made = QFileInfo(cache + "/" + converted[0]).lastModified();
    EXPECT_EQ(producer.Produce({TReportFormat::Word, doc, {}, false}, bench.tabs), folder + "/Отчёт2.docx");
    EXPECT_EQ(QFileInfo(cache + "/" + converted[0]).lastModified(), made); // not converted again
    EXPECT_TRUE(view.errors.isEmpty()) << view.errors.join("\n").toStdString();

    // A PDF asked for by name replaces that file and keeps no Word report.
    const QString named = work.path() + "/protocol.pdf";
    EXPECT_EQ(producer.Produce({TReportFormat::Pdf, {}, named, false}, bench.tabs), named);
    QStringList left = QDir(work.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    QStringList expected{QFileInfo(doc).fileName(), "protocol.pdf"};
    expected.sort();
    EXPECT_EQ(left, expected);
}

// Excel layout

namespace {

// openpyxl makes the template (its workbook binds the relationship prefix on each <sheet>, not on the
// root); a calculation chain and an x14 rule whose prefix is bound on its own element are added.
const char *kMakeExcelTemplate = R"PY(
import sys, zipfile
import openpyxl
from openpyxl.comments import Comment
from openpyxl.formatting.rule import FormulaRule
from openpyxl.styles import Border, Font, PatternFill, Side
from openpyxl.worksheet.datavalidation import DataValidation
out = sys.argv[1]
book = openpyxl.Workbook()
ws = book.active
ws.title = 'Протокол'
ws['A1'] = 'Протокол № ProtocolNum'
thin = Side(style='thin')
for ref in ('A3', 'A5'):
    ws[ref] = '#заголовок'
for ref in ('A4', 'A6'):
    ws[ref] = '#таблица'
    ws[ref].font = Font(name='Liberation Sans', size=9)
    ws[ref].border = Border(left=thin, right=thin, top=thin, bottom=thin)
ws['A8'] = 'Итог'
ws['B8'] = '=SUM(B9:B10)'
ws['B9'] = 1
ws['B10'] = 2
ws['A12'] = 'Поверитель: Verifier, протокол ProtocolNum'
ws['A8'].comment = Comment('Проверил: Verifier', 'Поверитель')
ws.conditional_formatting.add('B9:B10', FormulaRule(formula=['B9>1'], fill=PatternFill('solid', fgColor='FFFF00')))
validation = DataValidation(type='custom', formula1='B9>=0')
validation.add('B9:B10')
ws.add_data_validation(validation)
ws.print_area = 'A1:L12'
ws.oddHeader.center.text = 'протокол № ProtocolNum'
ws.oddFooter.left.text = 'Поверитель: Verifier'
ws.oddFooter.right.text = 'Дата: Date, стр. &P из &N'
book.save(out + '.tmp')
x14 = ('<extLst><ext uri="{78C0D931-6437-407d-A8EE-F0AAD8B7D5AC}" '
       'xmlns:x14="http://schemas.microsoft.com/office/spreadsheetml/2009/9/main"><x14:conditionalFormattings>'
       '<x14:conditionalFormatting xmlns:xm="http://schemas.microsoft.com/office/excel/2006/main">'
       '<x14:cfRule type="expression" priority="2" id="{00000000-0000-0000-0000-000000000001}">'
       '<xm:f>B10&gt;B9</xm:f><x14:dxf/></x14:cfRule><xm:sqref>B9:B10</xm:sqref>'
       '</x14:conditionalFormatting></x14:conditionalFormattings></ext></extLst>')
with zipfile.ZipFile(out + '.tmp') as src, zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as dst:
    for item in src.infolist():
        data = src.read(item.filename)
        if item.filename == 'xl/worksheets/sheet1.xml':
            data = data.replace(b'</worksheet>', x14.encode() + b'</worksheet>')
        elif item.filename == 'xl/_rels/workbook.xml.rels':
            data = data.replace(b'</Relationships>', b'<Relationship Id="rIdChain" Type="http://schemas.openxmlformats'
                                b'.org/officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/></Relationships>')
        elif item.filename == '[Content_Types].xml':
            data = data.replace(b'</Types>', b'<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.'
                                b'openxmlformats-officedocument.spreadsheetml.calcChain+xml"/></Types>')
        dst.writestr(item, data)
    dst.writestr('xl/calcChain.xml', '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><calcChain xmlns="'
                 'http://schemas.openxmlformats.org/spreadsheetml/2006/main"><c r="B8" i="1"/></calcChain>')
)PY";

const char *kReadExcelLayout = R"PY(
import json, re, sys, warnings, zipfile
import openpyxl
warnings.simplefilter('ignore')  # the x14 rules openpyxl does not know
path = sys.argv[1]
ws = openpyxl.load_workbook(path).worksheets[0]
out = {'cells': {}, 'heights': {}, 'widths': {}}
for row in ws.iter_rows():
    for c in row:
        if c.value is None:
            continue
        solid = c.fill is not None and c.fill.fill_type == 'solid'
        out['cells'][c.coordinate] = {'v': str(c.value), 'fill': c.fill.fgColor.rgb if solid else None,
                                      'wrap': bool(c.alignment.wrap_text)}
for k, d in ws.row_dimensions.items():
    if d.height:
        out['heights'][str(k)] = d.height
for k, d in ws.column_dimensions.items():
    for i in range(d.min or 0, (d.max or 0) + 1):
        out['widths'][openpyxl.utils.get_column_letter(i)] = d.width
setup = ws.page_setup
out['print_area'] = ws.print_area if isinstance(ws.print_area, str) else ','.join(ws.print_area or [])
out['print_titles'] = ws.print_title_rows
out['page'] = [bool(ws.sheet_properties.pageSetUpPr and ws.sheet_properties.pageSetUpPr.fitToPage),
               setup.fitToWidth, setup.fitToHeight, setup.orientation]
out['header'] = ws.oddHeader.center.text
out['footer'] = [ws.oddFooter.left.text, ws.oddFooter.right.text]
out['margins'] = [p.text or '' for hf in (ws.oddHeader, ws.oddFooter) for p in (hf.left, hf.center, hf.right)]
out['cf'] = [[str(r.sqref), [f for rule in r.rules for f in rule.formula]] for r in ws.conditional_formatting]
out['dv'] = [[str(d.sqref), d.formula1] for d in ws.data_validations.dataValidation]
out['notes'] = [c.coordinate for row in ws.iter_rows() for c in row if c.comment]
with zipfile.ZipFile(path) as z:
    names = z.namelist()
    out['chain'] = ['xl/calcChain.xml' in names, 'calcChain' in z.read('xl/_rels/workbook.xml.rels').decode(),
                    'calcChain' in z.read('[Content_Types].xml').decode()]
    sheet = z.read('xl/worksheets/sheet1.xml').decode()
    out['x14'] = [list(m) for m in re.findall(r'<xm:f>(.*?)</xm:f>.*?<xm:sqref>(.*?)</xm:sqref>', sheet)]
    out['vml_rows'] = [int(x) for n in names if n.endswith('.vml')
                       for x in re.findall(r'<\w+:Row>\s*(\d+)\s*</\w+:Row>', z.read(n).decode())]
print(json.dumps(out, ensure_ascii=False))
)PY";

// A table as the verification window makes it: four input columns, `outputs` output columns whose
// cells hold three parts (values with prefixes, errors with minus signs), marks beyond row 50 and in
// the last column.
TReportTable LayoutTable(const QString &title, int outputs, int rows)
{
    TReportTable table;
    table.title = title;
    table.fontName = QStringLiteral("Liberation Sans");
    table.fontSize = 9;
    table.permissible = QStringLiteral("±0,2 %");
    for (const QString &header : {"Ток, A", "Напр., V", "Угол, °", "Частота, Hz"})
        table.columns.append({header, header, 64});
    for (int o = 0; o < outputs; ++o)
        table.columns.append(
            {QStringLiteral("K%1").arg(o), o + 1 == outputs ? "K сум." : QStringLiteral("K%1, %").arg(o), 64});
    for (int r = 1; r <= rows; ++r) {
        QStringList cells{QString::number(r % 6) + ",0", "57,735", QString::number(r % 360), "50"};
        for (int o = 0; o < outputs; ++o)
            cells << QStringLiteral("%1,%2k       %1,%3k       %4%5%")
                         .arg(57 + o)
                         .arg(700 + r, 3, 10, QChar('0'))
                         .arg(600 + r, 3, 10, QChar('0'))
                         .arg((r + o) % 2 ? "-" : "")
                         .arg(QStringLiteral("0,%1").arg(r % 1000, 3, 10, QChar('0')));
        table.rows.append(cells);
    }
    for (const auto &[r, c] : {std::pair{1, 4}, {55, outputs + 3}, {rows, outputs + 3}, {77, 6}})
        table.marks.Set(r, c);
    return table;
}

} // namespace

TEST(ReportFiles, ExcelLayoutFitsThePageAndMovesWhatNamesRows)
{
    QTemporaryDir work;
    const QString templatePath = work.path() + "/openpyxl.xlsx", script = work.path() + "/make.py";
    const QString reader = work.path() + "/read.py";
    for (const auto &[file, text] : {std::pair{script, kMakeExcelTemplate}, {reader, kReadExcelLayout}}) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
    }
    const TRun made = RunProgram("/usr/bin/python3", {script, templatePath});
    ASSERT_EQ(made.code, 0) << made.output.toStdString();

    const int rows = 120;
    const QList<TReportTable> tables{LayoutTable("Нагрузка 100 %", 13, rows), LayoutTable("Все выходы", 21, rows)};
    TExcelReportManager excel;
    const QString copy = excel.CopyTemplate(templatePath, work.path() + "/Отчёт");
    excel.OpenDoc(copy);
    excel.ReplaceTagWithValue("ProtocolNum", "П-17 & Ко", TReportManager::kReplaceOne);
    excel.ReplaceTagWithValue("Verifier", "Петров П. П.", TReportManager::kReplaceOne);
    excel.ReplaceTagWithValue("Date", "05.03.2024", TReportManager::kReplaceOne);
    for (int t = 0; t < tables.size(); ++t)
        excel.AddTableAndHeader(tables[t], tables[t].title, tables[t].marks, t + 1);
    excel.RemoveTableTagsFromReport();
    EXPECT_EQ(excel.UnfilledPlaceholders(), QStringList{"Verifier"}); // in the note on A8
    excel.SaveAndCloseDoc(copy);
    const QString report = excel.ReportPath();
    ASSERT_TRUE(QFileInfo::exists(report));

    const TRun read = RunProgram("/usr/bin/python3", {reader, report});
    ASSERT_EQ(read.code, 0) << read.output.toStdString();
    const QJsonObject got = QJsonDocument::fromJson(read.output).object();
    const QJsonObject cells = got["cells"].toObject();
    // Each table: caption, header and rows, then the permissible error and the note on the stars.
    const int extra = 2, shift = rows + extra;
    const int tops[] = {4, 4 + shift + 2}, total = 8 + 2 * shift;
    for (int t = 0; t < tables.size(); ++t) {
        SCOPED_TRACE(t);
        const TReportTable &table = tables[t];
        std::set<std::pair<int, int>> filled;
        for (int r = 0; r < table.RowCount(); ++r) {
            int lines = 1;
            for (int c = 0; c < table.ColumnCount(); ++c) {
                const QString ref = QString::fromStdString(CellRef::Format(c + 1, tops[t] + r));
                const QJsonObject cell = cells[ref].toObject();
                const QStringList expected = table.CellLines(r, c);
                lines = std::max<int>(lines, int(expected.size()));
                EXPECT_EQ(cell["v"].toString(), expected.join('\n') + (table.marks.IsSet(r, c) ? "*" : ""))
                    << ref.toStdString();
                EXPECT_TRUE(cell["wrap"].toBool()) << ref.toStdString();
                if (cell["fill"].toString() == "FFFA8072")
                    filled.insert({r, c});
            }
            EXPECT_GE(got["heights"].toObject()[QString::number(tops[t] + r)].toDouble(), lines * 9.0) << r;
        }
        EXPECT_EQ(filled, Marks(table));
        EXPECT_EQ(cells[QString("A%1").arg(tops[t] + rows + 1)].toObject()["v"].toString(),
            "Пределы допускаемой основной погрешности: ±0,2 %");
        EXPECT_EQ(cells[QString("A%1").arg(tops[t] + rows + 2)].toObject()["v"].toString(),
            "* — погрешность превышает допускаемую");
        EXPECT_EQ(cells[QString("A%1").arg(tops[t] - 1)].toObject()["v"].toString(),
            QString("Таблица %1. %2").arg(t + 1).arg(table.title));
    }
    // Printing: every column of the wider table, fitted and landscape; the two tables' headers differ,
    // so neither repeats over the other's pages.
    EXPECT_EQ(got["print_area"].toString(), QString("$A$1:$Y$%1").arg(12 + 2 * shift));
    EXPECT_TRUE(got["print_titles"].isNull()) << got["print_titles"].toString().toStdString();
    EXPECT_EQ(got["page"].toArray(), (QJsonArray{true, 1, 0, "landscape"}));
    EXPECT_GT(got["widths"].toObject()["Y"].toDouble(), 6.0);
    // Headers and footers filled, their codes kept; every cell holding a header placeholder filled.
    EXPECT_EQ(got["header"].toString(), "протокол № П-17 && Ко");
    EXPECT_EQ(got["footer"].toArray(), (QJsonArray{"Поверитель: Петров П. П.", "Дата: 05.03.2024, стр. &P из &N"}));
    EXPECT_EQ(cells["A1"].toObject()["v"].toString(), "Протокол № П-17 & Ко");
    EXPECT_EQ(cells[QString("A%1").arg(total + 4)].toObject()["v"].toString(),
        "Поверитель: Петров П. П., протокол П-17 & Ко");
    // What names rows below the tables moved with them: formula, formats, validation, x14 rule, note;
    // the calculation chain naming the moved formula gone with its relationship and content type.
    const QString a = QString::number(total + 1), b = QString::number(total + 2);
    EXPECT_EQ(cells["B" + QString::number(total)].toObject()["v"].toString(), QString("=SUM(B%1:B%2)").arg(a, b));
    EXPECT_EQ(got["cf"].toArray(), (QJsonArray{QJsonArray{QString("B%1:B%2").arg(a, b), QJsonArray{"B" + a + ">1"}}}));
    EXPECT_EQ(got["dv"].toArray(), (QJsonArray{QJsonArray{QString("B%1:B%2").arg(a, b), "B" + a + ">=0"}}));
    EXPECT_EQ(got["x14"].toArray(), (QJsonArray{QJsonArray{"B" + b + "&gt;B" + a, QString("B%1:B%2").arg(a, b)}}));
    EXPECT_EQ(got["notes"].toArray(), (QJsonArray{QString("A%1").arg(total)}));
    EXPECT_EQ(got["vml_rows"].toArray(), (QJsonArray{total - 1}));
    EXPECT_EQ(got["chain"].toArray(), (QJsonArray{false, false, false}));

    // LibreOffice prints it: no word beyond the page's right edge, every value whole on one line (its
    // minus and unit with it), every marked error starred.
    OpenWithLibreOffice(report, "excel_layout_page1", {"П-17 & Ко", "Таблица 2. Все выходы"});
    const TRun boxes = RunProgram("pdftotext", {"-bbox-layout", OutputFolder() + "/excel_layout_page1.pdf", "-"});
    ASSERT_EQ(boxes.code, 0);
    static const QRegularExpression kPage(R"re(<page width="([\d.]+)")re");
    static const QRegularExpression kWord(
        R"re(<word xMin="([\d.]+)" yMin="[\d.]+" xMax="([\d.]+)"[^>]*>([^<]*)</word>)re");
    const QString html = QString::fromUtf8(boxes.output);
    const double pageWidth = kPage.match(html).captured(1).toDouble();
    ASSERT_GT(pageWidth, 0);
    QSet<QString> words;
    int beyond = 0, stars = 0;
    for (auto it = kWord.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString word = m.captured(3);
        word.remove(QChar(0x2060));
        beyond += m.captured(2).toDouble() > pageWidth ? 1 : 0;
        stars += word.endsWith('*') ? 1 : 0;
        words.insert(word);
    }
    EXPECT_EQ(beyond, 0);
    int marks = 0;
    for (const TReportTable &table : tables) {
        marks += table.marks.Count();
        for (int r = 1; r < table.RowCount(); r += 13)
            for (int c = 4; c < table.ColumnCount(); ++c)
                for (QString line : table.CellLines(r, c)) {
                    line.remove(QChar(0x2060));
                    EXPECT_TRUE(words.contains(
                        line + (table.marks.IsSet(r, c) && line == table.CellLines(r, c).last() ? "*" : "")))
                        << line.toStdString() << " row " << r << " column " << c;
                }
        for (const auto &[r, c] : table.marks.Cells()) {
            QString error = table.CellLines(r, c).last() + "*";
            error.remove(QChar(0x2060));
            EXPECT_TRUE(words.contains(error)) << error.toStdString();
        }
    }
    EXPECT_EQ(stars, marks + 2); // the marked errors and the two notes' stars
}

// Word layout
namespace {

// What python-docx sees in a Word report: every table cell with its shading and the boldness of its
// last line, the sections' orientation, the page headers' and footers' text.
const char *kReadWordLayout = R"(
import json, sys
import docx
from docx.oxml.ns import qn
document = docx.Document(sys.argv[1])
out = {'tables': [], 'sections': [], 'margins': [], 'paragraphs': [p.text for p in document.paragraphs],
       'pictures': [[s.width, s.height, s.type] for s in document.inline_shapes],
       'pictureParts': [p.content_type for p in document.part.package.parts if p.partname.endswith('.png')]}
for table in document.tables:
    rows = []
    for row in table.rows:
        cells = []
        for cell in row.cells:
            props = cell._tc.tcPr
            shading = props.find(qn('w:shd')) if props is not None else None
            runs = cell.paragraphs[-1].runs
            cells.append({'text': cell.text, 'fill': shading.get(qn('w:fill')) if shading is not None else None,
                          'bold': bool(runs) and bool(runs[-1].bold)})
        rows.append(cells)
    repeats = [tr.trPr is not None and tr.trPr.find(qn('w:tblHeader')) is not None for tr in table._tbl.tr_lst]
    out['tables'].append({'rows': rows, 'headerRepeats': repeats[0] if repeats else False})
for section in document.sections:
    out['sections'].append('landscape' if section.page_width > section.page_height else 'portrait')
    for part in (section.header, section.footer):
        out['margins'] += [p.text for p in part.paragraphs]
print(json.dumps(out, ensure_ascii=False))
)";

const char *kMakeWordTemplate = R"(
import sys
import docx
from docx.shared import Mm
document = docx.Document()
section = document.sections[0]
section.page_width, section.page_height = Mm(210), Mm(297)
section.left_margin, section.right_margin = Mm(30), Mm(15)
section.header.paragraphs[0].text = 'протокол № ProtocolNum, лист для DeviceName'
section.footer.paragraphs[0].text = 'Поверитель: Verifier Дата: Date'
document.add_paragraph('Протокол поверки № ProtocolNum')
document.add_paragraph('#заголовок')
document.add_paragraph('#таблица')
document.add_paragraph('#график')
document.add_paragraph('Заключение: Conclusion. Поверитель: Verifier')
document.save(sys.argv[1])
)";

QJsonObject RunPython(const char *script, const QStringList &arguments)
{
    const TRun run = RunProgram("/usr/bin/python3", QStringList{"-c", QString::fromUtf8(script)} + arguments);
    EXPECT_EQ(run.code, 0) << run.output.toStdString();
    return QJsonDocument::fromJson(run.output).object();
}

// A table as the verification window gives it: the four input columns and `outputs` output
// columns, each output cell "value       device value       error".
TReportTable WindowTable(int outputs, int rows, const QString &font, int size)
{
    TReportTable table;
    table.title = QString("Выходы: %1").arg(outputs);
    table.fontName = font;
    table.fontSize = size;
    table.permissible = QStringLiteral("±0,2 %");
    const QStringList inputs{"Ток", "Напр.", "Угол", "Частота"};
    const QStringList inputHeaders{"Ток, A", "Напр., V", "Угол, °", "Частота, Hz"};
    for (int i = 0; i < inputs.size(); ++i)
        table.columns.append({inputs[i], inputHeaders[i], 64});
    const QStringList names{"Ua", "Ia", "P", "Q", "S", "Kp", "F"};
    const QStringList units{"V", "A", "W", "var", "VA", "", "Hz"};
    for (int o = 0; o < outputs; ++o) {
        const QString name = names[o % names.size()] + QString::number(o / names.size() + 1);
        const QString unit = units[o % units.size()];
        table.columns.append({name, unit.isEmpty() ? name : name + ", " + unit, 170});
    }
    for (int r = 1; r <= rows; ++r) {
        QStringList cells{QString("%1,5").arg(r % 6), "57,735", QString::number(-(r % 3) * 120), "50,000"};
        for (int o = 0; o < outputs; ++o)
            cells << QString("%1,735k       %1,733k       -0,%2%")
                         .arg(50 + (r + o) % 50)
                         .arg((r * 7 + o) % 1000, 3, 10, QLatin1Char('0'));
        table.rows.append(cells);
    }
    return table;
}

// The text pdftotext gives a cell line: no joiners, blanks of any kind as one blank.
QString Plain(QString text)
{
    text.remove(QChar(0x2060));
    text.replace(QChar(0x00A0), QLatin1Char(' '));
    return text;
}

struct TPdfPage {
    double width = 0;
    QString lines; // every line of the page, one a line
};

// pdftotext -bbox-layout: the pages with their lines; `outside` counts words whose box leaves the page.
QList<TPdfPage> PdfPages(const QString &pdf, int *outside)
{
    const TRun run = RunProgram("pdftotext", {"-bbox-layout", pdf, "-"});
    EXPECT_EQ(run.code, 0);
    const QString html = QString::fromUtf8(run.output);
    static const QRegularExpression page(QStringLiteral(R"re(<page width="([\d.]+)" height="[\d.]+">)re"));
    static const QRegularExpression line(
        QStringLiteral(R"re(<line [^>]*>(.*?)</line>)re"), QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression word(
        QStringLiteral(R"re(<word xMin="([\d.-]+)" yMin="[\d.-]+" xMax="([\d.-]+)" yMax="[\d.-]+">([^<]*)</word>)re"));
    QList<TPdfPage> pages;
    *outside = 0;
    const QStringList chunks = html.split(QStringLiteral("</page>"));
    for (const QString &chunk : chunks) {
        const auto found = page.match(chunk);
        if (!found.hasMatch())
            continue;
        TPdfPage result;
        result.width = found.captured(1).toDouble();
        for (auto l = line.globalMatch(chunk); l.hasNext();) {
            QStringList words;
            for (auto w = word.globalMatch(l.next().captured(1)); w.hasNext();) {
                const auto m = w.next();
                if (m.captured(1).toDouble() < -0.5 || m.captured(2).toDouble() > result.width + 0.5)
                    ++*outside;
                words << Plain(m.captured(3).replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">"));
            }
            result.lines += words.join(' ') + '\n';
        }
        pages << result;
    }
    return pages;
}

} // namespace

TEST(ReportFiles, WordTablesFitThePageAndKeepEveryValueWhole)
{
    TBench bench;
    const QString folder = bench.config.ReportsFolder();
    QTemporaryDir work;
    const QString made = work.path() + "/python-docx.docx";
    RunPython(kMakeWordTemplate, {made});
    ASSERT_TRUE(QFileInfo::exists(made));
    const QString shipped = folder + "/" + TReportTemplates::kWordTemplate;

    struct TCase {
        const char *name;
        int outputs, rows;
        QString font;
        int size;
        bool shippedTemplate;
        QList<QPair<int, int>> marks; // row, output column (-1: the last)
        const char *orientation; // of the table's section
        int split; // 1: split into column groups, 0: one table, -1: either
    };
    const QList<TCase> cases{
        {"3x1", 3, 1, "DejaVu Sans", 9, false, {{1, -1}}, "portrait", 0},
        {"10x120", 10, 120, "DejaVu Sans", 9, false, {{51, -1}, {120, 4}}, "landscape", -1},
        {"13x120", 13, 120, "DejaVu Sans", 9, false, {{60, -1}, {2, 0}}, "landscape", -1},
        {"21x120", 21, 120, "DejaVu Sans", 9, false, {{119, -1}, {70, 10}}, "landscape", 1},
        {"13x1 template font", 13, 1, "", 0, true, {{1, -1}}, "landscape", -1},
    };
    QStringList reports;
    QList<TReportTable> tables;
    TRecordingView view;
    TReportProducer producer(&bench.settings, &view);
    for (const TCase &c : cases) {
        TReportTable table = WindowTable(c.outputs, c.rows, c.font, c.size);
        for (const auto &[row, output] : c.marks)
            table.marks.Set(row, 4 + (output < 0 ? c.outputs - 1 : output));
        // The shipped template gets the table twice, tabs 1 and 3: the two turned tables share one section
        // across the placeholders of tab 2 that go.
        QList<TReportTab> tabs{{table, true, {}}};
        if (c.shippedTemplate)
            tabs << TReportTab{WindowTable(1, 1, c.font, c.size), false, {}} << TReportTab{table, true, {}};
        const QString report = producer.Produce({TReportFormat::Word, c.shippedTemplate ? shipped : made}, tabs);
        ASSERT_FALSE(report.isEmpty()) << c.name << view.errors.join("\n").toStdString();
        reports << report;
        tables << table;
    }

    // LibreOffice turns all of them into PDF at once.
    QTemporaryDir profile;
    const QString out = OutputFolder();
    const TRun convert = RunProgram("soffice",
        QStringList{"--headless", "--norestore", "--nolockcheck",
            "-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString(), "--convert-to", "pdf",
            "--outdir", work.path()}
            + reports);
    ASSERT_EQ(convert.code, 0) << convert.output.toStdString();

    for (int k = 0; k < cases.size(); ++k) {
        const TCase &c = cases[k];
        const TReportTable &table = tables[k];
        SCOPED_TRACE(c.name);
        const QJsonObject docx = RunPython(kReadWordLayout, {reports[k]});

        // python-docx: every cell somewhere, as its print lines; input columns repeated in every group.
        const QJsonArray got = docx["tables"].toArray();
        ASSERT_FALSE(got.isEmpty());
        if (c.split >= 0) {
            EXPECT_EQ(got.size() > 1, c.split == 1) << got.size();
        }
        std::map<QString, int> columnOf;
        for (int col = 0; col < table.ColumnCount(); ++col)
            columnOf[table.columns[col].header] = col;
        std::set<int> seen;
        std::set<std::pair<int, int>> shaded, bold;
        for (const QJsonValue &t : got) {
            const QJsonArray rows = t.toObject()["rows"].toArray();
            EXPECT_TRUE(t.toObject()["headerRepeats"].toBool());
            ASSERT_EQ(rows.size(), table.RowCount());
            const QJsonArray header = rows[0].toArray();
            ASSERT_GE(header.size(), 5);
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(header[i].toObject()["text"].toString(), table.columns[i].header);
            for (int i = 0; i < header.size(); ++i) {
                const auto found = columnOf.find(header[i].toObject()["text"].toString());
                ASSERT_NE(found, columnOf.end());
                const int col = found->second;
                seen.insert(col);
                for (int r = 1; r < rows.size(); ++r) {
                    const QJsonObject cell = rows[r].toArray()[i].toObject();
                    const bool marked = table.marks.IsSet(r, col);
                    EXPECT_EQ(cell["text"].toString().toStdString(),
                        (table.CellLines(r, col).join('\n') + (marked ? "*" : "")).toStdString())
                        << r << " " << col;
                    if (cell["fill"].toString() == "FA8072")
                        shaded.insert({r, col});
                    if (cell["bold"].toBool())
                        bold.insert({r, col});
                }
            }
        }
        EXPECT_EQ(int(seen.size()), table.ColumnCount());
        EXPECT_EQ(shaded, Marks(table));
        EXPECT_EQ(bold, Marks(table));
        QStringList paragraphs;
        for (const QJsonValue &p : docx["paragraphs"].toArray())
            paragraphs << p.toString();
        EXPECT_TRUE(paragraphs.contains("* — погрешность превышает допускаемую"));
        EXPECT_TRUE(paragraphs.filter("#").isEmpty()) << paragraphs.filter("#").join("|").toStdString();
        EXPECT_TRUE(docx["pictures"].toArray().isEmpty()); // the tab has no chart: its placeholder goes
        QStringList orientations;
        for (const QJsonValue &s : docx["sections"].toArray())
            orientations << s.toString();
        EXPECT_EQ(orientations.contains("landscape"), QString(c.orientation) == "landscape")
            << orientations.join(",").toStdString();
        if (c.shippedTemplate) {
            EXPECT_EQ(orientations, (QStringList{"portrait", "landscape", "portrait"}));
        }

        // Page headers and footers filled wherever their placeholders stand.
        if (!c.shippedTemplate) {
            QString margins;
            for (const QJsonValue &m : docx["margins"].toArray())
                margins += m.toString() + "\n";
            for (const char *placeholder : {"ProtocolNum", "Verifier", "Date", "DeviceName"})
                EXPECT_FALSE(margins.contains(placeholder)) << placeholder << margins.toStdString();
            EXPECT_TRUE(margins.contains("протокол № П-2024/017, лист для QX4-Тест")) << margins.toStdString();
            EXPECT_TRUE(margins.contains("Поверитель: Петров П. П. Дата: 05.03.2024")) << margins.toStdString();
        }

        // The PDF: nothing beyond the paper's edge, every value whole on one line, every mark
        // present, the header row on every page with the table.
        const QString pdf = work.path() + "/" + QFileInfo(reports[k]).completeBaseName() + ".pdf";
        int outside = 0;
        const QList<TPdfPage> pages = PdfPages(pdf, &outside);
        ASSERT_FALSE(pages.isEmpty());
        EXPECT_EQ(outside, 0);
        QString all;
        for (const TPdfPage &page : pages)
            all += page.lines;
        std::set<QString> missing;
        for (int r = 1; r < table.RowCount(); ++r)
            for (int col = 4; col < table.ColumnCount(); ++col) {
                const QStringList lines = table.CellLines(r, col);
                for (int i = 0; i < lines.size(); ++i) {
                    const QString expected
                        = Plain(lines[i]) + (table.marks.IsSet(r, col) && i + 1 == lines.size() ? "*" : "");
                    if (!all.contains(expected))
                        missing.insert(expected);
                }
            }
        EXPECT_TRUE(missing.empty()) << missing.size()
                                     << " first: " << (missing.empty() ? "" : missing.begin()->toStdString());
        for (int p = 0; p < pages.size(); ++p) {
            const bool holdsRows = pages[p].lines.contains("735k");
            EXPECT_TRUE(!holdsRows || pages[p].lines.contains("Частота, Hz")) << "page " << p + 1;
        }
        if (k == 2) {
            // Page 1 (the template's portrait page) and page 2, where the turned section with the table starts.
            for (const QString &number : {QString("1"), QString("2")}) {
                const TRun draw = RunProgram("pdftoppm",
                    {"-png", "-r", "70", "-f", number, "-l", number, "-singlefile", pdf,
                        out + "/report_docx_13_columns_page" + number});
                EXPECT_EQ(draw.code, 0);
            }
        }
    }
    EXPECT_TRUE(view.errors.isEmpty()) << view.errors.join("\n").toStdString();

    // The writer itself: the permissible error beside the table; fields left empty whose placeholders the
    // template holds (the body's or a page footer's) listed once, in one message.
    TWordReportManager manager;
    const QString direct = manager.CopyTemplate(made, work.path() + "/direct");
    manager.OpenDoc(direct);
    manager.ReplaceTagWithValue("ProtocolNum", "17", TReportManager::kReplaceOne);
    manager.ReplaceTagWithValue("Date", " ", TReportManager::kReplaceOne);
    manager.ReplaceTagWithValue("Verifier", "", TReportManager::kReplaceOne);
    manager.ReplaceTagWithValue("Verifier", "", TReportManager::kReplaceOne);
    manager.ReplaceTagWithValue("KU1", "", TReportManager::kReplaceOne); // not in this template
    // With its chart, drawn where the template has "#график".
    TReportTable charted = tables[0];
    QImage chart(600, 300, QImage::Format_RGB32);
    chart.fill(Qt::white);
    QBuffer png(&charted.chartPng);
    png.open(QIODevice::WriteOnly);
    ASSERT_TRUE(chart.save(&png, "PNG"));
    manager.AddTable(charted, charted.marks);
    const QString xml = QString::fromStdString(manager.DocumentXml());
    EXPECT_TRUE(xml.contains("Пределы допускаемой основной погрешности: ±0,2 %"));
    EXPECT_FALSE(xml.contains("#график"));
    EXPECT_EQ(manager.UnfilledPlaceholders(), (QStringList{"Date", "Verifier"}));
    EXPECT_EQ(TWordReportManager::UnfilledMessage(manager.UnfilledPlaceholders()),
        "Не заполнены поля шаблона: Date, Verifier");
    EXPECT_TRUE(TWordReportManager::UnfilledMessage({}).isEmpty());
    manager.RemoveTableTagsFromReport();
    manager.SaveAndCloseDoc(direct);
    const QJsonObject written = RunPython(kReadWordLayout, {manager.ReportPath()});
    const QJsonArray pictures = written["pictures"].toArray();
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_NEAR(pictures[0].toArray()[0].toDouble() / pictures[0].toArray()[1].toDouble(), 2.0, 0.01);
    EXPECT_EQ(written["pictureParts"].toArray(), QJsonArray{"image/png"});
}

// Templates a lab opened in LibreOffice and saved again (its own markup, runs split its own way, its own
// header and footer parts) give reports as whole as the shipped ones: a one-row table of three outputs
// and a ten-output one, in both formats, every placeholder filled, every mark and value in place.
TEST(ReportFiles, TemplatesResavedByLibreOfficeGiveWholeReports)
{
    TBench bench;
    const QString folder = bench.config.ReportsFolder();
    QTemporaryDir work, profile;
    QString resaved[2];
    const QString templates[2] = {TReportTemplates::kWordTemplate, TReportTemplates::kExcelTemplate};
    const char *filters[2] = {"docx:MS Word 2007 XML", "xlsx:Calc MS Excel 2007 XML"};
    for (int f = 0; f < 2; ++f) {
        const TRun resave = RunProgram("soffice",
            {"--headless", "--norestore", "--nolockcheck",
                "-env:UserInstallation=" + QUrl::fromLocalFile(profile.path()).toString(), "--convert-to", filters[f],
                "--outdir", work.path(), folder + "/" + templates[f]});
        resaved[f] = work.path() + "/" + QFileInfo(templates[f]).fileName();
        ASSERT_TRUE(QFileInfo::exists(resaved[f])) << resave.output.toStdString();
    }

    QList<TReportTab> tabs{{WindowTable(3, 1, "DejaVu Sans", 9), true, {}}, {WindowTable(10, 3, "", 0), true, {}}};
    tabs[0].table.marks.Set(1, 6);
    tabs[1].table.marks.Set(3, 13);
    tabs[1].table.marks.Set(2, 4);
    // The owner left empty: both formats name it once, with the other fields the templates hold with no value.
    TReportData data = bench.data;
    data.DeviceOwner.clear();
    bench.config.WriteReportData(data);
    TRecordingView view;
    TReportProducer producer(&bench.settings, &view);
    const QString word = producer.Produce({TReportFormat::Word, resaved[0], {}, false}, tabs);
    const QString excel = producer.Produce({TReportFormat::Excel, resaved[1], {}, false}, tabs);
    ASSERT_FALSE(word.isEmpty() || excel.isEmpty()) << view.errors.join("\n").toStdString();
    // Without the laboratory's records the modification and the kind of verification are unknown too.
    EXPECT_EQ(view.messages, QStringList(2, "Не заполнены поля шаблона: Modification, Owner, VerificationKind"));

    // Word: each table's cells as the window's lines, the marked ones with their star; no placeholder left in
    // the body or the page margins; the protocol number in the page header.
    const QJsonObject docx = RunPython(kReadWordLayout, {word});
    const QJsonArray wordTables = docx["tables"].toArray();
    ASSERT_EQ(wordTables.size(), 2);
    QString margins;
    for (const QJsonValue &m : docx["margins"].toArray())
        margins += m.toString() + "\n";
    EXPECT_TRUE(margins.contains("П-2024/017")) << margins.toStdString();
    QString body = margins;
    for (const QJsonValue &p : docx["paragraphs"].toArray())
        body += p.toString() + "\n";
    for (const QString &placeholder : kPlaceholders + QStringList{"#график"})
        EXPECT_FALSE(body.contains(placeholder)) << placeholder.toStdString();

    // Excel: the same cells in the sheet, inside the print area however wide the table.
    const TRun read = RunProgram("/usr/bin/python3", {"-c", kReadExcelLayout, excel});
    ASSERT_EQ(read.code, 0) << read.output.toStdString();
    const QJsonObject xlsx = QJsonDocument::fromJson(read.output).object();
    QMultiMap<QString, QString> sheet; // text → cell
    QString sheetText;
    for (const QJsonValue &m : xlsx["margins"].toArray())
        sheetText += m.toString() + "\n";
    EXPECT_TRUE(sheetText.contains("Протокол поверки № П-2024/017")) << sheetText.toStdString(); // page header
    const QJsonObject cells = xlsx["cells"].toObject();
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        sheet.insert(it.value().toObject()["v"].toString(), it.key());
        sheetText += it.value().toObject()["v"].toString() + "\n";
    }
    EXPECT_TRUE(sheetText.contains("П-2024/017"));
    for (const QString &placeholder : kPlaceholders)
        EXPECT_FALSE(sheetText.contains(placeholder)) << placeholder.toStdString();
    // No print area prints every column; one that the template (or LibreOffice) set must reach the widest
    // table's last column (N: four inputs and ten outputs from A).
    const QString area = xlsx["print_area"].toString();
    static const QRegularExpression lastColumn(QStringLiteral(R"(:\$?([A-Z]+)\$?\d+$)"));
    const QString last = lastColumn.match(area).captured(1);
    EXPECT_TRUE(area.isEmpty() || last.size() > 1 || last >= "N") << area.toStdString();

    for (int t = 0; t < tabs.size(); ++t) {
        SCOPED_TRACE(t);
        const TReportTable &table = tabs[t].table;
        const QJsonArray rows = wordTables[t].toObject()["rows"].toArray();
        ASSERT_EQ(rows.size(), table.RowCount());
        for (int r = 0; r < table.RowCount(); ++r)
            for (int c = 0; c < table.ColumnCount(); ++c) {
                const QString expected = table.CellLines(r, c).join('\n') + (table.marks.IsSet(r, c) ? "*" : "");
                EXPECT_EQ(rows[r].toArray()[c].toObject()["text"].toString(), expected) << r << " " << c;
                if (r > 0 && c >= 4) {
                    EXPECT_TRUE(sheet.contains(expected)) << expected.toStdString();
                }
            }
    }
}
