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

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
        for (const QJsonValue &width : got["widths"].toArray())
            EXPECT_EQ(width.toInt(), (40 + 5) * 20);
        const QJsonArray rows = got["rows"].toArray();
        ASSERT_EQ(rows.size(), table.RowCount());
        std::set<std::pair<int, int>> shaded;
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray cells = rows[r].toArray();
            ASSERT_EQ(cells.size(), table.ColumnCount());
            for (int c = 0; c < cells.size(); ++c) {
                const QJsonObject cell = cells[c].toObject();
                const QString source = table.Cell(r, c);
                EXPECT_EQ(cell["text"].toString(), r == 0 ? source : source.split(' ', Qt::SkipEmptyParts).join('\n'));
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
