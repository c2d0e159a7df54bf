// Verification runs in the results journal, against kest-sim: a run journalled point by point and shown
// again cell for cell (tables, marks, report tabs, the report with the header data of its time), an
// archived run that sends nothing until it is copied, and a kestctl run killed with SIGKILL that comes
// back with exactly its measured points and goes on in the same journal run.
#include <gtest/gtest.h>

#include "config/devicesettingsconfig.h"
#include "runtesthelpers.h"
#include "verification/avtopoverkaconfig.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/run/errortable.h"
#include "verification/run/runjournal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

using namespace runtest;

namespace {

QString BinaryDir()
{
    const QByteArray dir = qgetenv("KEST_BINARY_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : QString::fromUtf8(dir);
}

void SetUpQx4(TBench &b)
{
    ASSERT_TRUE(b.started) << b.startError;
    TDeviceSettingsConfig d(b.store.get());
    d.WriteKU1(QStringLiteral("10000"));
    d.WriteKU2(QStringLiteral("100"));
    d.WriteKI1(QStringLiteral("100"));
    d.WriteKI2(QStringLiteral("5"));
    TConfigQX4 config(b.store.get());
    for (int tab = 0; tab < 2; ++tab)
        config.WriteTabOutputSet(tab, {"1", "4", "26"});
}

// Every cell and mark of two logics' tables, tab by tab; empty when equal.
QString TableDifference(TAvtopoverkaLogic &expected, TAvtopoverkaLogic &got)
{
    if (expected.Tabs().Count() != got.Tabs().Count())
        return QStringLiteral("tabs %1 vs %2").arg(expected.Tabs().Count()).arg(got.Tabs().Count());
    for (int tab = 0; tab < expected.Tabs().Count(); ++tab) {
        const TKestAvtopoverkaGrid &e = expected.Tabs().Grid(tab);
        const TKestAvtopoverkaGrid &g = got.Tabs().Grid(tab);
        if (e.RowCount() != g.RowCount() || e.ColCount() != g.ColCount() || e.Title != g.Title)
            return QStringLiteral("tab %1: shape or title").arg(tab);
        for (int row = 0; row < e.RowCount(); ++row)
            for (int col = 0; col < e.ColCount(); ++col)
                if (e.Cells(col, row) != g.Cells(col, row) || e.IsRedCell(col, row) != g.IsRedCell(col, row))
                    return QStringLiteral("tab %1 row %2 col %3: «%4»%5 vs «%6»%7")
                        .arg(tab)
                        .arg(row)
                        .arg(col)
                        .arg(e.Cells(col, row), e.IsRedCell(col, row) ? "!" : "", g.Cells(col, row),
                            g.IsRedCell(col, row) ? "!" : "");
    }
    return QString();
}

QString DocumentXml(const QString &docx)
{
    QProcess unzip;
    unzip.start("/usr/bin/python3",
        {"-c", "import sys,zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read('word/document.xml').decode())",
            docx});
    unzip.waitForFinished(30000);
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

struct TQuietReportView : IReportView {
    QStringList errors;
    void SetBusy(bool) override { }
    void SetReportCommandsEnabled(bool) override { }
    void ShowError(const QString &text) override { errors << text; }
    void ShowMessage(const QString &text) override { errors << text; }
    void OpenDocument(const QString &) override { }
};

} // namespace

class VerificationJournal : public ::testing::Test {
protected:
    TScopedWaitScale scale{0.02};
};

// A run over two RS tabs with an error over its limit: its header holds what was in force, each point
// its cells and marks as the table showed them; a second window shows it back identically, its report
// tabs are the window's, and its report carries the header data of its time; read-only, it sends
// nothing and edits nothing; copied, it runs as a new journal run.
TEST_F(VerificationJournal, RunJournalledShownAgainCellForCellReportedAndReadOnlyUntilCopied)
{
    QTemporaryDir folder;
    TJournal journal(TJournalOptions::Local(folder.path()));
    ASSERT_TRUE(journal.Open()) << journal.State().problem.toStdString();

    TBench b("QX4", TConfigurationCode::QX4);
    SetUpQx4(b);
    b.sim->Command("error Ia -0.4");
    TAvtopoverkaReportConfig report(b.store.get());
    TReportData data = report.ReadReportData();
    data.Verifier = QStringLiteral("Иванова");
    data.DeviceNum = QStringLiteral("151234");
    report.WriteReportData(data);

    TAvtopoverkaLogic &logic = b.Open();
    logic.SetJournal(&journal);
    logic.VoltageChosen(TVoltageRange::V100);
    logic.PlusClicked();
    b.AddPoints(0, {{5, 57.74, 0, 50}, {2, 50, 0, 51}});
    b.AddPoints(1, {{1, 40, 30, 50}});
    ASSERT_TRUE(logic.StartAllTabs()) << b.view.errors.join(" | ").toStdString();
    ASSERT_TRUE(b.RunToEnd());
    ASSERT_EQ(b.observer.points.size(), 3u);
    const TJournalRunId id = logic.Recorder()->Last();
    ASSERT_FALSE(id.isEmpty());

    const std::optional<TJournalRun> run = journal.LoadRun(id);
    ASSERT_TRUE(run) << journal.LastReadError().toStdString();
    const TJournalRunHeader &h = run->header;
    EXPECT_EQ(h.configuration, QStringLiteral("QX4"));
    EXPECT_EQ(h.runMode, QStringLiteral("all"));
    EXPECT_EQ(h.setup.voltageRange, QStringLiteral("100 V"));
    EXPECT_EQ(h.setup.currentRange, QStringLiteral("5A"));
    EXPECT_DOUBLE_EQ(h.limits.error, 0.2);
    EXPECT_EQ(h.Verifier(), QStringLiteral("Иванова"));
    EXPECT_EQ(h.DeviceNumber(), QStringLiteral("151234"));
    EXPECT_EQ(h.device.coefficients.U1, 10000);
    ASSERT_EQ(h.tables.size(), 2u);
    EXPECT_EQ(h.planned, (std::vector<TJournalPointRef>{{0, 1}, {0, 2}, {1, 1}}));
    ASSERT_TRUE(run->end);
    EXPECT_EQ(run->end->outcome, TJournalOutcome::Finished);
    EXPECT_TRUE(run->end->error.isEmpty()) << run->end->error.toStdString();
    ASSERT_EQ(run->points.size(), 3u);
    int marked = 0;
    for (size_t k = 0; k < run->points.size(); ++k) {
        SCOPED_TRACE(k);
        const TJournalPoint &p = run->points[k];
        const TMeasuredPoint &m = b.observer.points[k];
        EXPECT_EQ(p.seq, int(k) + 1);
        EXPECT_EQ(p.cells, m.cells);
        const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(p.tab);
        bool red = false;
        for (int col = 0; col < grid.ColCount(); ++col) {
            EXPECT_EQ(p.cells.value(col), grid.Cells(col, p.row)) << col;
            EXPECT_EQ(size_t(col) < p.marks.size() && p.marks[size_t(col)], grid.IsRedCell(col, p.row)) << col;
            red = red || grid.IsRedCell(col, p.row);
        }
        marked += red;
        // The errors: one per compared quantity, over the limit exactly where the row is red.
        EXPECT_EQ(p.errors.size(), 3u);
        EXPECT_EQ(p.HasOverLimit(), red);
        EXPECT_TRUE(p.device.has_value());
        EXPECT_DOUBLE_EQ(p.input.Ia.value, m.sent.Ia.value);
        EXPECT_TRUE(p.installation.valid.any());
    }
    EXPECT_EQ(marked, 1); // -0,4 % on 5 A only; -0,16 % and -0,08 % are within 0,2 %
    const auto summaries = journal.ListRuns();
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].failedPoints, marked);
    EXPECT_EQ(summaries[0].points, 3);

    // Shown again in a window of its own, read-only: cell for cell, marks included.
    TRecordingView view2;
    TAvtopoverkaLogic archived(&view2, b.store.get(), TConfigurationCode::QX4);
    archived.SetPortOverride(QString::fromStdString(b.sim->InstallationPath()), QStringLiteral("115200"));
    archived.Init();
    PumpUntil([&] { return !archived.Driver().IsBusy(); }, 5000);
    archived.SetJournal(&journal);
    archived.SetReadOnly(true);
    ASSERT_TRUE(archived.ShowJournalledRun(*run));
    EXPECT_EQ(TableDifference(logic, archived), QString());
    EXPECT_TRUE(view2.Locked());
    // The error chart of each tab has the same points and marks.
    for (int tab = 0; tab < 2; ++tab) {
        const TErrorTable a = ErrorTableOf(logic.Tabs().Grid(tab), false, false, 0.2);
        const TErrorTable j = ErrorTableOf(archived.Tabs().Grid(tab), false, false, 0.2);
        ASSERT_EQ(j.columns.size(), a.columns.size());
        EXPECT_EQ(j.inputs, a.inputs);
        for (size_t c = 0; c < a.columns.size(); ++c) {
            EXPECT_EQ(j.columns[c].over, a.columns[c].over) << tab << "/" << c;
            ASSERT_EQ(j.columns[c].errors.size(), a.columns[c].errors.size());
            for (size_t r = 0; r < a.columns[c].errors.size(); ++r) {
                ASSERT_EQ(j.columns[c].errors[r].has_value(), a.columns[c].errors[r].has_value()) << tab << "/" << c;
                if (a.columns[c].errors[r]) {
                    EXPECT_DOUBLE_EQ(*j.columns[c].errors[r], *a.columns[c].errors[r]);
                }
            }
        }
    }
    EXPECT_EQ(view2.selections.voltage, TVoltageRange::V100);

    // The report tabs from the journal are the window's own, the permissible error of the run's time
    // included; a run journalled without it takes the settings'.
    const QList<TReportTab> fromWindow = logic.ReportTabs();
    const QList<TReportTab> fromJournal = KestRunJournal::ReportTabsOf(*run, TJournalLimits{0.7, 0, 0.9, 0});
    TJournalRun limitless = *run;
    limitless.header.limits = TJournalLimits();
    const QList<TReportTab> fromOlder = KestRunJournal::ReportTabsOf(limitless, TJournalLimits{0.7, 0, 0.9, 0});
    ASSERT_EQ(fromJournal.size(), fromWindow.size());
    ASSERT_EQ(fromOlder.size(), fromWindow.size());
    for (int t = 0; t < fromWindow.size(); ++t) {
        SCOPED_TRACE(t);
        const TReportTable a = TReportProducer::ReportTable(fromWindow[t]);
        const TReportTable j = TReportProducer::ReportTable(fromJournal[t]);
        EXPECT_EQ(a.permissible, QStringLiteral("±0,2 %"));
        EXPECT_EQ(j.permissible, a.permissible);
        EXPECT_EQ(TReportProducer::ReportTable(fromOlder[t]).permissible, QStringLiteral("±0,7 %"));
        EXPECT_EQ(j.title, a.title);
        EXPECT_EQ(j.rows, a.rows);
        ASSERT_EQ(j.ColumnCount(), a.ColumnCount());
        for (int c = 0; c < a.ColumnCount(); ++c)
            EXPECT_EQ(j.Cell(0, c), a.Cell(0, c));
        for (int r = 1; r < a.RowCount(); ++r)
            for (int c = 0; c < a.ColumnCount(); ++c)
                EXPECT_EQ(j.marks.IsSet(r, c), a.marks.IsSet(r, c)) << r << "," << c;
    }

    // The report carries the verifier of the run's time, not the one the settings hold now.
    data.Verifier = QStringLiteral("Петров");
    report.WriteReportData(data);
    const QString templ = BinaryDir() + "/src/verification/report/templates/Шаблон протокола поверки.docx";
    ASSERT_TRUE(QFile::exists(templ)) << templ.toStdString();
    TQuietReportView reportView;
    const QString out = folder.path() + "/protocol.docx";
    EXPECT_EQ(KestRunJournal::ProduceReport(
                  b.store.get(), *run, TReportRequest(TReportFormat::Word, templ, out, false), &reportView),
        out)
        << reportView.errors.join(" | ").toStdString();
    const QString xml = DocumentXml(out);
    EXPECT_TRUE(xml.contains(QStringLiteral("Иванова")));
    EXPECT_FALSE(xml.contains(QStringLiteral("Петров")));
    EXPECT_TRUE(xml.contains(QStringLiteral("99,60")));

    // Read-only: nothing starts, nothing is edited, not a frame goes out.
    const int requests = RequestCount(*b.sim);
    const int rows = archived.Tabs().Grid(0).RowCount();
    EXPECT_FALSE(archived.StartAllTabs());
    EXPECT_FALSE(archived.StartSelectedRow());
    EXPECT_FALSE(archived.StartFrom(TRunScope::CurrentTab, 1));
    EXPECT_FALSE(archived.ContinueJournalledRun(*run));
    archived.AddRowClicked(TEntryValues());
    archived.ClearAllClicked();
    archived.EntryAction(TEntry::Address, 7);
    EXPECT_EQ(archived.Tabs().Grid(0).RowCount(), rows);
    EXPECT_EQ(TableDifference(logic, archived), QString());
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(RequestCount(*b.sim), requests);

    // Copied for editing: the user's own tables, and a run of them is a journal run of its own.
    archived.SetReadOnly(false);
    EXPECT_FALSE(view2.Locked());
    archived.TabSelected(1);
    ASSERT_TRUE(archived.StartCurrentTab()) << view2.errors.join(" | ").toStdString();
    ASSERT_TRUE(PumpUntil([&] { return !archived.Driver().IsBusy(); }, 60000));
    ASSERT_FALSE(archived.Recorder()->Last().isEmpty());
    EXPECT_NE(archived.Recorder()->Last(), id);
    EXPECT_EQ(journal.ListRuns().size(), 2u);
    EXPECT_EQ(journal.LoadRun(id)->points.size(), 3u);
    EXPECT_TRUE(OutputsOff(*b.sim)) << b.sim->Command("state");
}

// kestctl verify killed with SIGKILL after two points: the run is offered back with exactly those two
// points, cell for cell as kestctl printed them; a window whose tables or setup no longer fit refuses to
// go on; the restored run goes on from point 3 in the same journal run, numbered on, and ends finished
// with the outputs off.
TEST_F(VerificationJournal, KilledRunRestoredWithItsPointsAndContinuedInTheSameRun)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    kestsim::SimOptions options;
    options.deviceType = "QX4";
    options.announce = false;
    options.commands = {"error Ia -0.4"};
    kestsim::KestSimulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const QString documents = home.path() + "/Documents";
    const QString settingsFolder = documents + "/Valtrix/KestManager";
    ASSERT_TRUE(QDir().mkpath(settingsFolder));
    {
        QFile f(settingsFolder + "/Settings.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Launch]\r\nWaitingTime=1\r\n[Parameters]\r\nKU1=10000\r\nKU2=100\r\nKI1=100\r\nKI2=5\r\n"
                "[ScenarioOutputColNumsQX4]\r\n0=1,4,26\r\n1=4,22\r\n");
    }
    const QString scenario = home.path() + "/scenario.csv";
    {
        QFile f(scenario);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xEF\xBB\xBFTable\r\nЛевая\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n5;57,74;0;50\r\n2;50;0;50\r\n"
                "Table\r\nПравая\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n1;40;30;51\r\n2;40;30;51\r\n");
    }
    const QString dataHome = home.path() + "/.local/share";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    env.insert("XDG_DATA_HOME", dataHome);
    env.insert("XDG_DOCUMENTS_DIR", documents);
    env.insert("XDG_RUNTIME_DIR", home.path());

    QProcess kestctl;
    kestctl.setProcessEnvironment(env);
    kestctl.start(BinaryDir() + "/tools/kestctl",
        {"--port", QString::fromStdString(sim.InstallationPath()), "--rate", "115200", "verify", "--config", "QX4",
            "--voltage", "100", "--scenario", scenario});
    ASSERT_TRUE(kestctl.waitForStarted(10000));
    QStringList printed;
    QElapsedTimer clock;
    clock.start();
    while (printed.size() < 2 && clock.elapsed() < 120000 && kestctl.state() == QProcess::Running) {
        kestctl.waitForReadyRead(100);
        while (kestctl.canReadLine())
            printed << QString::fromUtf8(kestctl.readLine()).trimmed();
    }
    ASSERT_EQ(printed.size(), 2) << QString::fromUtf8(kestctl.readAllStandardError()).toStdString();
    ::kill(pid_t(kestctl.processId()), SIGKILL);
    ASSERT_TRUE(kestctl.waitForFinished(30000));

    TJournal journal(TJournalOptions::Local(dataHome + "/Valtrix/KestManager"));
    ASSERT_TRUE(journal.Open()) << journal.State().problem.toStdString();
    const auto unfinished = journal.UnfinishedRuns();
    ASSERT_EQ(unfinished.size(), 1u);
    std::optional<TJournalRun> run = journal.LoadRun(unfinished[0].id);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->points.size(), 2u);
    EXPECT_FALSE(run->end);
    EXPECT_EQ(run->ResumePosition(), 2);
    // What kestctl printed for a point: tab, row, inputs, then per column its three parts.
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const TJournalPoint &p = run->points[size_t(k)];
        const QStringList fields = printed[k].split('\t');
        const int inputs = run->header.tables[size_t(p.tab)].inputColumnCount;
        ASSERT_GT(p.cells.size(), inputs);
        ASSERT_EQ(fields.size(), 3 + p.cells.size() - inputs) << printed[k].toStdString();
        EXPECT_EQ(fields[0].toInt(), p.tab + 1);
        EXPECT_EQ(fields[1].toInt(), p.row);
        for (int col = inputs; col < p.cells.size(); ++col) {
            const QString field = fields.value(3 + col - inputs);
            const QString shown = field.mid(field.indexOf(':') + 2).remove('!');
            EXPECT_EQ(p.cells[col].simplified(), shown.simplified()) << col;
            EXPECT_EQ(field.endsWith('!'), p.marks[size_t(col)]) << col;
        }
    }

    TConfigController store(
        documents, QStringLiteral("/Valtrix"), QStringLiteral("KestManager"), QStringLiteral("/Settings.txt"));
    auto openWindow = [&](TRecordingView &view) {
        auto logic = std::make_unique<TAvtopoverkaLogic>(&view, &store, TConfigurationCode::QX4);
        logic->SetPortOverride(QString::fromStdString(sim.InstallationPath()), QStringLiteral("115200"));
        logic->Init();
        PumpUntil([&] { return !logic->Driver().IsBusy(); }, 5000);
        logic->SetJournal(&journal);
        return logic;
    };

    // Runs that do not fit the window as it stands are refused, and nothing is sent.
    struct TMisfit {
        const char *what;
        std::function<void(TJournalRun &)> change;
        const char *says;
    };
    const TMisfit misfits[] = {
        {"another configuration", [](TJournalRun &r) { r.header.configuration = "I"; }, "конфигурации"},
        {"an unknown start", [](TJournalRun &r) { r.header.runMode = "sideways"; }, "вид запуска"},
        {"a longer plan",
            [](TJournalRun &r) {
                r.header.planned.push_back({1, 3});
            },
            "не совпадают"},
        {"an analog tab now", [](TJournalRun &r) { r.header.tables[1].rsInterface = false; }, "Интерфейс"},
    };
    for (const TMisfit &m : misfits) {
        SCOPED_TRACE(m.what);
        TRecordingView view;
        auto logic = openWindow(view);
        TJournalRun changed = *run;
        m.change(changed);
        ASSERT_TRUE(logic->ShowJournalledRun(changed));
        EXPECT_TRUE(logic->ContinueProblem(changed).contains(QString::fromUtf8(m.says)))
            << logic->ContinueProblem(changed).toStdString();
        const int requests = RequestCount(sim);
        EXPECT_FALSE(logic->ContinueJournalledRun(changed));
        EXPECT_EQ(RequestCount(sim), requests);
        // Offered back, such a run is not asked about: the user is told why, and nothing is sent.
        logic->SetJournal(nullptr); // its ending as interrupted would end the run used below
        view.confirmAnswer = true;
        EXPECT_FALSE(logic->OfferToContinue(changed));
        EXPECT_TRUE(view.questions.isEmpty());
        EXPECT_TRUE(view.messages.join('|').contains(QStringLiteral("Поверку нельзя продолжить: ")))
            << view.messages.join('|').toStdString();
        EXPECT_EQ(RequestCount(sim), requests);
    }
    {
        // A run that fits is asked about, from its next point; "no" sends nothing.
        TRecordingView asked;
        auto other = openWindow(asked);
        other->SetJournal(nullptr);
        ASSERT_TRUE(other->ShowJournalledRun(*run));
        const int requests = RequestCount(sim);
        EXPECT_FALSE(other->OfferToContinue(*run));
        EXPECT_EQ(asked.questions, QStringList{QStringLiteral("Продолжить поверку с точки 3 из 4?")});
        EXPECT_EQ(RequestCount(sim), requests);
    }

    TRecordingView view;
    auto logic = openWindow(view);
    ASSERT_TRUE(logic->ShowJournalledRun(*run));
    for (const TJournalPoint &p : run->points) {
        const TKestAvtopoverkaGrid &grid = logic->Tabs().Grid(p.tab);
        for (int col = 0; col < p.cells.size(); ++col) {
            EXPECT_EQ(grid.Cells(col, p.row), p.cells[col]) << p.tab << "/" << p.row << "/" << col;
            EXPECT_EQ(grid.IsRedCell(col, p.row), p.marks[size_t(col)]) << p.tab << "/" << p.row << "/" << col;
        }
    }
    EXPECT_EQ(logic->Tabs().Grid(1).Cells(4, 1), QString()); // point 3 was not measured yet
    EXPECT_EQ(logic->Tabs().Grid(1).Title, QStringLiteral("Правая"));
    ASSERT_EQ(logic->ContinueProblem(*run), QString());
    ASSERT_TRUE(logic->ContinueJournalledRun(*run)) << view.errors.join(" | ").toStdString();
    ASSERT_TRUE(PumpUntil([&] { return !logic->Driver().IsBusy(); }, 120000));
    EXPECT_TRUE(view.errors.isEmpty()) << view.errors.join(" | ").toStdString();

    run = journal.LoadRun(unfinished[0].id);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->points.size(), 4u);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(run->points[size_t(k)].seq, k + 1);
    EXPECT_EQ(run->points[2].tab, 1);
    EXPECT_EQ(run->points[2].row, 1);
    EXPECT_EQ(run->points[3].row, 2);
    ASSERT_TRUE(run->end);
    EXPECT_EQ(run->end->outcome, TJournalOutcome::Finished);
    EXPECT_EQ(journal.ListRuns().size(), 1u);
    EXPECT_TRUE(journal.UnfinishedRuns().empty());
    // The rows measured before the kill are kept as they were.
    EXPECT_EQ(logic->Tabs().Grid(0).Cells(4, 1), run->points[0].cells.value(4));
    EXPECT_TRUE(OutputsOff(sim)) << sim.Command("state");
}

// The PQ window tells the installation its parameter number as it opens; an archived run's window,
// read-only from the start, says nothing at all.
TEST_F(VerificationJournal, ReadOnlyWindowSendsNothingOnOpening)
{
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly);
        TBench b("PQ", TConfigurationCode::PQ);
        ASSERT_TRUE(b.started) << b.startError;
        TAvtopoverkaLogic logic(&b.view, b.store.get(), TConfigurationCode::PQ);
        logic.SetPortOverride(QString::fromStdString(b.sim->InstallationPath()), QStringLiteral("115200"));
        logic.SetReadOnly(readOnly);
        logic.Init();
        PumpUntil([&] { return !logic.Driver().IsBusy(); }, 5000);
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(RequestCount(*b.sim) > 0, !readOnly) << RequestCount(*b.sim);
    }
}
