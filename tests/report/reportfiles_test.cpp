// The reports the program writes, read back by readers that are not its own: python-docx and
// openpyxl for the content, LibreOffice for opening them (each converted to PDF, its first page
// drawn into the build folder by pdftoppm).

#include "reporttesthelpers.h"
#include "testhome.h"

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "verification/report/avtopoverkareportconfig.h"
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
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

using namespace ReportTest;

namespace {

const QStringList kPlaceholders{"ProtocolNum", "DeviceName", "DeviceNum", "Date", "FactoryNum", "Conditions",
    "EquipmentName", "PoverkaDoc", "Inspection", "ElectricityStrength", "Pulsation", "Conclusion", "Verifier", "KU1",
    "KU2", "KI1", "KI2", "#заголовок", "#таблица"};

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
        "Петров П. П.", "", "", "", ""};
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
             &d.Inspection, &d.ElectricityStrength, &d.Pulsation, &d.Conclusion, &d.Verifier})
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
    EXPECT_EQ(value("A1"), "Протокол поверки № П-2024/017");
    EXPECT_EQ(value("A2"), "поверки устройства QX4-Тест № А-0042");
    EXPECT_EQ(value("F9"), "по напряжению 6000 / 100, по току 600 / 5");
    ASSERT_EQ(captionRows.size(), 2u);
    const int caption1 = captionRows.begin()->first, caption3 = captionRows.rbegin()->first;
    EXPECT_EQ(captionRows.begin()->second, "Таблица 1. Нагрузка 100 %");
    EXPECT_EQ(captionRows.rbegin()->second, "Таблица 3. Углы");
    EXPECT_EQ(caption3, caption1 + first.RowCount() + 1);
    EXPECT_EQ(conclusionRow, caption3 + third.RowCount() + 1);
    for (int t = 0; t < 2; ++t) {
        const TReportTable &table = *expected[t];
        const int top = (t == 0 ? caption1 : caption3) + 1;
        std::set<std::pair<int, int>> filled;
        for (int r = 0; r < table.RowCount(); ++r)
            for (int c = 0; c < table.ColumnCount(); ++c) {
                const QString ref = QString(QChar('A' + c)) + QString::number(top + r);
                EXPECT_EQ(value(ref), table.Cell(r, c)) << ref.toStdString();
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
    EXPECT_TRUE(sheet["print_area"].toString().endsWith(QString("$L$%1").arg(sheet["max_row"].toInt())))
        << sheet["print_area"].toString().toStdString();
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
