// Report writing speed: ten tables (Word: 4 input and 9 output columns, laid out from their content;
// Excel: 4 input and 5 output columns) into the shipped Word and Excel templates, 50 rows each and 1000 rows each,
// through the whole production (copy, header, tables, placeholders removed, archive written, published). Prints the
// times; the aim for the 50-row case is well under a second per format.

#include "config/configcontroller.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/reportproducer.h"
#include "verification/report/reporttemplates.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TQuietView : IReportView {
    int errors = 0;
    void SetBusy(bool) override { }
    void SetReportCommandsEnabled(bool) override { }
    void ShowError(const QString &text) override
    {
        ++errors;
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    // The bench writes with an empty header, so every run names the same unfilled fields: said once.
    QStringList said;
    void ShowMessage(const QString &text) override
    {
        if (said.contains(text))
            return;
        said << text;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void OpenDocument(const QString &) override { }
};

QList<TReportTab> Tabs(int rows, const QStringList &outputs = {"Ua", "Ia", "P", "Q", "F"})
{
    QList<TReportTab> tabs;
    const QStringList inputs{"Ток", "Напр.", "Угол", "Частота"};
    for (int k = 0; k < 10; ++k) {
        TReportTab tab;
        tab.hasData = true;
        tab.table.title = QString("Вкладка %1").arg(k + 1);
        tab.table.fontName = "Liberation Sans";
        tab.table.fontSize = 8;
        for (const QString &name : inputs)
            tab.table.columns.append({name, name + ", A", 64});
        for (const QString &name : outputs)
            tab.table.columns.append({name, name + ", V", 170});
        for (int r = 1; r <= rows; ++r) {
            QStringList cells{QString::number(r * 0.5), "220", "0", "50"};
            for (int o = 0; o < outputs.size(); ++o)
                cells << QString("%1,%2       %1,%3       0,0%4%").arg(100 + r).arg(o).arg(o + 1).arg(r % 10);
            tab.table.rows.append(cells);
            if (r % 7 == 0)
                tab.table.marks.Set(r, 4 + r % int(outputs.size()));
        }
        tabs.append(tab);
    }
    return tabs;
}

} // namespace

int main(int argc, char **argv)
{
    // A font database, as the program's windows have, so that column widths are measured.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    TConfigController settings(home.path(), "/Valtrix", "KestManager", "/Settings.txt");
    TAvtopoverkaReportConfig config(&settings);
    const QString folder = config.ReportsFolder();
    TQuietView view;
    TReportProducer producer(&settings, &view);
    std::printf("report_bench: ten tables into the shipped templates\n");
    for (const int rows : {50, 1000}) {
        // Word tables as wide as the window's widest (4 input and 9 output columns: 13, laid out from
        // their content, a turned page).
        const QList<TReportTab> wordTabs = Tabs(rows, {"Ua", "Ub", "Uc", "Ia", "Ib", "Ic", "P", "Q", "F"});
        const QList<TReportTab> tabs = Tabs(rows);
        for (const TReportFormat format : {TReportFormat::Word, TReportFormat::Excel}) {
            const bool word = format == TReportFormat::Word;
            const QString templatePath
                = folder + "/" + (word ? TReportTemplates::kWordTemplate : TReportTemplates::kExcelTemplate);
            const int runs = rows == 50 ? 7 : 2;
            std::vector<double> times;
            qint64 size = 0;
            for (int run = 0; run < runs; ++run) {
                QElapsedTimer timer;
                timer.start();
                const QString path = producer.Produce({format, templatePath, QString(), false}, word ? wordTabs : tabs);
                times.push_back(double(timer.nsecsElapsed()) / 1e6);
                if (path.isEmpty())
                    return 1;
                size = QFileInfo(path).size();
                QFile::remove(path);
            }
            std::sort(times.begin(), times.end());
            std::printf("  %4d rows x 10 tables  %-5s %2d columns  median %8.1f ms  best %8.1f ms  worst %8.1f ms  (%d "
                        "runs, %lld bytes)\n",
                rows, word ? ".docx" : ".xlsx", word ? 13 : 9, times[times.size() / 2], times.front(), times.back(),
                runs, static_cast<long long>(size));
        }
    }
    // The spreadsheet with the verification window's widest tables: 4 input and 9 output columns, the
    // layout (column widths measured in the cells' font) included.
    std::printf("report_bench: ten tables of 13 columns into the shipped Excel template\n");
    const QStringList wide{"Ua", "Ub", "Uc", "Ia", "Ib", "Ic", "P", "Q", "K сум."};
    for (const int rows : {50, 1000}) {
        const QList<TReportTab> tabs = Tabs(rows, wide);
        const QString templatePath = folder + "/" + TReportTemplates::kExcelTemplate;
        const int runs = rows == 50 ? 7 : 3;
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QString path = producer.Produce({TReportFormat::Excel, templatePath, QString(), false}, tabs);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (path.isEmpty())
                return 1;
            QFile::remove(path);
        }
        std::sort(times.begin(), times.end());
        std::printf("  %4d rows x 10 tables x 13 columns  .xlsx  median %8.1f ms  best %8.1f ms  worst %8.1f ms\n",
            rows, times[times.size() / 2], times.front(), times.back());
    }
    return view.errors ? 1 : 0;
}
