// Opening a journalled run of 1000 points into a verification window: reading it from the journal,
// the QX4 window made, its ten tabs filled cell for cell and mark for mark, and the window shown and
// painted once (offscreen unless a display is given). Prints medians; asserts nothing.
//
//   journal_window_bench [--samples N]
//
// Goal: under 300 ms from "Открыть" to the painted window.

#include "journaltesthelpers.h"

#include "config/configcontroller.h"
#include "verification/window/form2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int samples = 9;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--samples") && i + 1 < argc)
            samples = std::max(1, std::atoi(argv[++i]));

    QTemporaryDir folder;
    TConfigController store(
        folder.path(), QStringLiteral("/Valtrix"), QStringLiteral("KestManager"), QStringLiteral("/Settings.txt"));
    TJournal journal(TJournalOptions::Local(folder.path() + "/journal"));
    if (!journal.Open()) {
        std::printf("journal not opened: %s\n", qPrintable(journal.State().problem));
        return 1;
    }
    const TJournalRunHeader header = KestJournalTest::SampleHeader(10, 100);
    TJournalRunHeader h = header;
    const TJournalRunId id = journal.BeginRun(h);
    for (int k = 1; k <= 1000; ++k)
        journal.AddPoint(id, KestJournalTest::SamplePoint(k, header));
    journal.EndRun(id, TJournalOutcome::Finished);

    std::vector<double> load, fill, total;
    std::size_t cells = 0;
    for (int s = 0; s < samples; ++s) {
        QElapsedTimer t;
        t.start();
        const std::optional<TJournalRun> run = journal.LoadRun(id);
        const double loaded = double(t.nsecsElapsed()) / 1e6;
        if (!run) {
            std::printf("run not loaded: %s\n", qPrintable(journal.LastReadError()));
            return 1;
        }
        TForm2 *window = CreateJournalledRunWindow(&store, &journal, *run, true, nullptr);
        const double filled = double(t.nsecsElapsed()) / 1e6;
        window->show();
        window->repaint();
        QCoreApplication::processEvents();
        const double shown = double(t.nsecsElapsed()) / 1e6;
        load.push_back(loaded);
        fill.push_back(filled - loaded);
        total.push_back(shown);
        cells = 0;
        for (int tab = 0; tab < window->Logic().Tabs().Count(); ++tab) {
            const TKestAvtopoverkaGrid &g = window->Logic().Tabs().Grid(tab);
            cells += std::size_t(g.RowCount() - 1) * std::size_t(g.ColCount());
        }
        window->close();
        delete window;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("1000-point run, 10 tabs (%zu cells), %d samples:\n", cells, samples);
    std::printf("  read from the journal             median %8.1f ms\n", median(load));
    std::printf("  window made and tables filled     median %8.1f ms\n", median(fill));
    std::printf("  from Open to the painted window   median %8.1f ms  (goal 300 ms)\n", median(total));
    return 0;
}
