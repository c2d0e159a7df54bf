// Verification tables: saving and loading a 1000-row table and a scenario of ten 1000-row tables as
// CSV, filling a 1000-row table with results (installation and RS values in five output columns),
// and repainting it offscreen. Prints the median and the fastest of several rounds; asserts nothing.
//
//   verification_bench [--rounds N] [--folder DIR]   (default 7 rounds, a temporary folder)
//
// Goals: a table under 50 ms, the ten-table scenario under 300 ms.

#include "verification/avtopoverkagrid.h"
#include "verification/avtopoverkagridview.h"
#include "verification/csvmanager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int kRows = 1000;
constexpr int kTables = 10;
const QStringList kOutputs{"1", "4", "22", "23", "26"};

std::unique_ptr<TKestAvtopoverkaGrid> EmptyTable()
{
    auto grid = std::make_unique<TKestAvtopoverkaGrid>();
    grid->AddColumnI();
    grid->AddColumnU();
    grid->AddColumnAngle();
    grid->AddColumnFreq();
    grid->SetOutputColumns(kOutputs);
    return grid;
}

TInputData Point(int n)
{
    TInputData d;
    d.Ia.value = d.Ib.value = d.Ic.value = 0.005 * n;
    d.Ua.value = d.Ub.value = d.Uc.value = 57.74 + n % 7;
    d.Angle.value = (n * 15) % 360;
    d.Freq.value = 45 + n % 11;
    return d;
}

void FillPoints(TKestAvtopoverkaGrid &grid)
{
    for (int n = 1; n <= kRows; ++n)
        grid.AddRow(Point(n));
}

// What a run does per row: the installation's values, then the device's over RS.
void FillResults(TKestAvtopoverkaGrid &grid)
{
    const TParameters names;
    for (int row = 1; row < grid.RowCount(); ++row) {
        TParametersForGridRow kest, rs;
        for (const QString &num : kOutputs) {
            TParameter p = *names.GetParameterByIndex(num.toInt());
            p.value = 100.0 + row * 0.37;
            TParameter device = p;
            device.value = p.value * 1.001;
            TParameterForGrid item(p, row % 2 ? "" : "k", 0.1, device);
            item.isBiggerThanThreshold = row % 9 == 0;
            kest.AddParameter(item);
            rs.AddParameter(item);
        }
        grid.AddOutputData(kest, row);
        grid.AddOutputDataRS(rs, row);
    }
}

struct TFigure {
    const char *what;
    std::vector<double> ms;
};

double Measure(const std::function<void()> &setup, const std::function<void()> &work)
{
    setup();
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

void Print(const TFigure &f, double goal)
{
    std::vector<double> v = f.ms;
    std::sort(v.begin(), v.end());
    const double median = v[v.size() / 2];
    std::printf("%-52s median %8.2f ms   fastest %8.2f ms", f.what, median, v.front());
    if (goal > 0)
        std::printf("   goal < %.0f ms: %s", goal, median < goal ? "met" : "NOT met");
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 7;
    QString folderArg;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--folder") == 0)
            folderArg = QString::fromLocal8Bit(argv[++i]);
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp(
        folderArg.isEmpty() ? QDir::tempPath() + "/kest-bench-XXXXXX" : folderArg + "/kest-bench-XXXXXX");
    const QString folder = temp.path();
    std::printf("verification tables: %d rows, %d output columns; files in %s; %d rounds\n", kRows,
        int(kOutputs.size()), qPrintable(folder), rounds);

    TCsvManager csv;
    TFigure fillPoints{"fill 1000 rows with points (AddRow)", {}};
    TFigure fillResults{"fill 1000 rows with results (AddOutputData + RS)", {}};
    TFigure fillShown{"fill 1000 rows (points, results) shown, and repaint", {}};
    TFigure repaintView{"repaint the visible table (1120 x 600)", {}};
    TFigure repaintAll{"repaint all 1000 rows, page by page", {}};
    TFigure saveTable{"save a 1000-row table", {}};
    TFigure loadTable{"load a 1000-row table", {}};
    TFigure saveScenario{"save a scenario of ten 1000-row tables", {}};
    TFigure loadScenario{"load it and copy it into ten tables", {}};
    TFigure loadShortLines{"load a 60 MB file of short lines (1000-row cap)", {}};

    std::unique_ptr<TKestAvtopoverkaGrid> table;
    std::vector<std::unique_ptr<TKestAvtopoverkaGrid>> tables;
    for (int i = 0; i < kTables; ++i) {
        tables.push_back(EmptyTable());
        FillPoints(*tables.back());
        tables.back()->Title = QStringLiteral("Вкладка %1").arg(i + 1);
    }
    std::vector<const TStringGridWithData *> scenario;
    for (const auto &t : tables)
        scenario.push_back(t.get());
    const QString one = folder + "/table.csv";
    const QString all = folder + "/scenario.csv";
    // Just under the size limit, in lines of a few bytes: everything past the row cap is only counted.
    const QString shortLines = folder + "/short-lines.csv";
    {
        QFile f(shortLines);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("Ток, A;Напр., V;Угол, °;Частота, Hz\r\n");
        const QByteArray line("1;2;0;50\r\n");
        QByteArray block;
        for (int i = 0; i < 10000; ++i)
            block += line;
        while (f.size() + block.size() < 60 * 1024 * 1024)
            f.write(block);
    }

    for (int r = 0; r < rounds; ++r) {
        fillPoints.ms.push_back(Measure([&] { table = EmptyTable(); }, [&] { FillPoints(*table); }));
        fillResults.ms.push_back(Measure([] {}, [&] { FillResults(*table); }));

        TAvtopoverkaGridView view(table.get());
        view.resize(1120, 600);
        QImage image(view.size(), QImage::Format_ARGB32);
        {
            // A table on screen while it is filled: every change reaches the view.
            auto shown = EmptyTable();
            TAvtopoverkaGridView shownView(shown.get());
            shownView.resize(1120, 600);
            fillShown.ms.push_back(Measure([] {},
                [&] {
                    FillPoints(*shown);
                    FillResults(*shown);
                    QApplication::processEvents();
                    QPainter p(&image);
                    shownView.render(&p);
                }));
        }
        table->SetTopRow(1);
        repaintView.ms.push_back(Measure([] {},
            [&] {
                QPainter p(&image);
                view.render(&p);
            }));
        repaintAll.ms.push_back(Measure([] {},
            [&] {
                for (int top = 1; top < table->RowCount(); top += table->VisibleRowCount()) {
                    table->SetTopRow(top);
                    QPainter p(&image);
                    view.render(&p);
                }
            }));

        saveTable.ms.push_back(Measure([] {}, [&] { csv.GridColumnsToCsv(*table, table->InputColumnCount(), one); }));
        loadTable.ms.push_back(Measure([&] { table->Clear(); },
            [&] {
                csv.CsvToGrid(one, *table);
                table->isFirstRowFilled = true;
            }));

        saveScenario.ms.push_back(Measure([] {}, [&] { csv.GridsToCsv(scenario, 4, all); }));
        std::vector<std::unique_ptr<TKestAvtopoverkaGrid>> targets;
        loadScenario.ms.push_back(Measure(
            [&] {
                targets.clear();
                for (int i = 0; i < kTables; ++i)
                    targets.push_back(EmptyTable());
            },
            [&] {
                // As the window does: every cell of data rows 1 and up, and the title.
                const auto loaded = csv.CsvToGrids(all);
                for (size_t i = 0; i < loaded.size() && i < targets.size(); ++i)
                    targets[i]->CopyPointsFrom(*loaded[i]);
            }));
        std::unique_ptr<TKestAvtopoverkaGrid> capped = EmptyTable();
        loadShortLines.ms.push_back(Measure([] {}, [&] { csv.CsvToGrid(shortLines, *capped); }));
        if (r == 0) {
            int rows = 0;
            for (const auto &t : targets)
                rows += t->RowCount() - 1;
            std::printf("check: %d rows loaded back into %zu tables; table file %lld bytes, scenario %lld bytes\n",
                rows, targets.size(), QFileInfo(one).size(), QFileInfo(all).size());
        }
    }

    Print(fillPoints, 50);
    Print(fillResults, 50);
    Print(fillShown, 50);
    Print(repaintView, 50);
    Print(repaintAll, 0);
    Print(saveTable, 50);
    Print(loadTable, 50);
    Print(saveScenario, 300);
    Print(loadScenario, 300);
    Print(loadShortLines, 2000);
    struct rusage usage { };
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory of the whole run: %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}
