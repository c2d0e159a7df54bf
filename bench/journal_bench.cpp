// The results journal on this machine: the cost of journalling one point with its durable commit
// (SQLite in write-ahead logging with a full sync; PostgreSQL with its synchronous commit, on a
// server of its own on a unix socket), opening, listing and filtering an archive of 10 000 runs of
// 50 points, and loading a 1000-point run. Prints medians and the 95th percentile; asserts nothing.
//
//   journal_bench [--runs N] [--points-per-run N] [--samples N] [--no-server] [--folder DIR]
//
// Goals: a point under 5 ms, the archive's list under 200 ms, a 1000-point run loaded under 300 ms.

#include "journaltesthelpers.h"

#include "journal/journalcodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace KestJournalTest;

namespace {

struct TFigures {
    double median = 0, p95 = 0, best = 0;
};

TFigures Figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    TFigures f;
    if (ms.empty())
        return f;
    f.best = ms.front();
    f.median = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    return f;
}

std::vector<double> Time(int rounds, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return ms;
}

void Print(const char *what, const std::vector<double> &ms, double goal)
{
    const TFigures f = Figures(ms);
    std::printf("%-58s median %8.3f ms  p95 %8.3f ms  best %8.3f ms  (goal %g ms, n=%zu)\n", what, f.median, f.p95,
        f.best, goal, ms.size());
}

// One point after another into a fresh run, each with its commit.
void PointCost(TJournal &journal, int samples, const char *what)
{
    const TJournalRunHeader header = SampleHeader(10, 100);
    const TJournalRunId id = journal.BeginRun(header);
    int k = 0;
    const auto ms = Time(samples, [&] {
        ++k;
        journal.AddPoint(id, SamplePoint(k, header));
    });
    Print(what, ms, 5);
    journal.EndRun(id, TJournalOutcome::Finished);
}

// An archive of `runs` runs of `points` points written straight into the tables in one
// transaction (as many separate commits would take the better part of an hour), spread over a
// year, with 200 different device numbers.
bool FillArchive(QSqlDatabase db, int runs, int points, bool server)
{
    const TJournalRunHeader header = SampleHeader(1, points);
    const QString headerJson = KestJournalCodec::EncodeRunHeader(header);
    if (!db.transaction())
        return false;
    QSqlQuery run(db), point(db);
    run.prepare("INSERT INTO journal_runs (id, kind, started_ms, ended_ms, outcome, configuration, device_number, "
                "verifier, program_version, bench, points, failed_points) "
                "VALUES (?, 0, ?, ?, 1, 'QX4', ?, 'Петров П. П.', '1.18', 'bench', ?, ?)");
    QSqlQuery head(db);
    head.prepare("INSERT INTO journal_headers (run, header) VALUES (?, ?)");
    point.prepare("INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, "
                  "freq, is_rs, installation, device, errors, failed, cells, marks) "
                  "VALUES (?, ?, 0, ?, ?, 1, 1, 1, 57.74, 57.74, 57.74, 0, 50, 1, ?, ?, ?, ?, ?, ?)");
    const qint64 start = QDateTime(QDate(2024, 1, 1), QTime(8, 0)).toMSecsSinceEpoch();
    std::vector<TJournalPoint> samples;
    for (int k = 1; k <= points; ++k)
        samples.push_back(SamplePoint(k, header));
    for (int r = 0; r < runs; ++r) {
        const QString id = QStringLiteral("run-%1").arg(r, 6, 10, QLatin1Char('0'));
        const qint64 at = start + qint64(r) * 3150000; // about 52 minutes apart: a year for 10 000
        run.addBindValue(id);
        run.addBindValue(at);
        run.addBindValue(at + 3000000);
        run.addBindValue(QStringLiteral("15%1").arg(r % 200, 4, 10, QLatin1Char('0')));
        run.addBindValue(points);
        run.addBindValue(0);
        head.addBindValue(id);
        head.addBindValue(headerJson);
        if (!run.exec() || !head.exec()) {
            std::printf("run insert: %s %s\n", qPrintable(run.lastError().text()), qPrintable(head.lastError().text()));
            return false;
        }
        if (server)
            continue; // the server's points are made on the server (below)
        for (int k = 1; k <= points; ++k) {
            const TJournalPoint &p = samples[size_t(k - 1)];
            point.addBindValue(id);
            point.addBindValue(k);
            point.addBindValue(p.row);
            point.addBindValue(at + k * 1000);
            point.addBindValue(KestJournalCodec::EncodeValues(p.installation));
            point.addBindValue(KestJournalCodec::EncodeValues(p.device.value_or(p.installation)));
            point.addBindValue(KestJournalCodec::EncodeErrors(p.errors));
            point.addBindValue(p.HasOverLimit() ? 1 : 0);
            point.addBindValue(KestJournalCodec::EncodeCells(p.cells));
            point.addBindValue(KestJournalCodec::EncodeMarks(p.marks));
            if (!point.exec()) {
                std::printf("point insert: %s\n", qPrintable(point.lastError().text()));
                return false;
            }
        }
    }
    if (server) {
        const TJournalPoint &p = samples[1];
        QSqlQuery q(db);
        q.prepare(
            "INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, "
            "freq, is_rs, installation, device, errors, failed, cells, marks) "
            "SELECT r.id, s, 0, s, r.started_ms + s * 1000, 1, 1, 1, 57.74, 57.74, 57.74, 0, 50, 1, ?, ?, ?, 0, ?, 0 "
            "FROM journal_runs r, generate_series(1, ?) s");
        q.addBindValue(KestJournalCodec::EncodeValues(p.installation));
        q.addBindValue(KestJournalCodec::EncodeValues(*p.device));
        q.addBindValue(KestJournalCodec::EncodeErrors(p.errors));
        q.addBindValue(KestJournalCodec::EncodeCells(p.cells));
        q.addBindValue(points);
        if (!q.exec()) {
            std::printf("points: %s\n", qPrintable(q.lastError().text()));
            return false;
        }
    }
    return db.commit();
}

void Archive(TJournal &journal, int samples, const char *backend)
{
    char what[160];
    std::snprintf(what, sizeof what, "%s: list all runs, newest first", backend);
    std::size_t count = 0;
    Print(what, Time(samples, [&] { count = journal.ListRuns().size(); }), 200);
    std::printf("    (%zu runs listed)\n", count);
    TJournalFilter device;
    device.deviceNumber = "150042";
    std::snprintf(what, sizeof what, "%s: filter by device number", backend);
    Print(what, Time(samples, [&] { count = journal.ListRuns(device).size(); }), 200);
    std::printf("    (%zu runs of device 150042)\n", count);
    TJournalFilter month;
    month.from = QDateTime(QDate(2024, 3, 1), QTime(0, 0));
    month.to = QDateTime(QDate(2024, 4, 1), QTime(0, 0));
    month.deviceNumber = "1500";
    std::snprintf(what, sizeof what, "%s: filter by a month and a device number part", backend);
    Print(what, Time(samples, [&] { count = journal.ListRuns(month).size(); }), 200);
    std::printf("    (%zu runs)\n", count);
}

void LoadCost(TJournal &journal, int samples, const char *backend)
{
    const TJournalRunHeader header = SampleHeader(10, 100);
    TJournalRunHeader h = header;
    const TJournalRunId id = journal.BeginRun(h);
    for (int k = 1; k <= 1000; ++k)
        journal.AddPoint(id, SamplePoint(k, header));
    journal.EndRun(id, TJournalOutcome::Finished);
    char what[160];
    std::snprintf(what, sizeof what, "%s: load a run of 1000 points", backend);
    std::size_t count = 0;
    Print(what,
        Time(samples,
            [&] {
                const auto run = journal.LoadRun(id);
                count = run ? run->points.size() : 0;
            }),
        300);
    std::printf("    (%zu points loaded)\n", count);
    std::snprintf(what, sizeof what, "%s: the same and its tables as shown", backend);
    Print(what,
        Time(samples,
            [&] {
                const auto run = journal.LoadRun(id);
                count += run ? run->ShownTables().size() : 0;
            }),
        300);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 10000, points = 50, samples = 200;
    bool server = true;
    QString folder;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--points-per-run") && i + 1 < argc)
            points = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--samples") && i + 1 < argc)
            samples = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-server"))
            server = false;
        else if (!std::strcmp(argv[i], "--folder") && i + 1 < argc)
            folder = argv[++i];
    }
    QTemporaryDir temporary(
        folder.isEmpty() ? QDir::tempPath() + "/journal-bench-XXXXXX" : folder + "/journal-bench-XXXXXX");
    std::printf("journal in %s\n", qPrintable(temporary.path()));

    {
        TJournal journal(TJournalOptions::Local(temporary.path() + "/points"));
        journal.Open();
        PointCost(journal, samples, "SQLite: journal one point (durable commit)");
        LoadCost(journal, 7, "SQLite");
    }
    {
        const QString archive = temporary.path() + "/archive";
        QDir().mkpath(archive);
        QElapsedTimer t;
        t.start();
        {
            TJournalConnection c;
            c.file = archive + "/journal.sqlite";
            TJournalStore store(c);
            if (!store.Open() || !FillArchive(store.Database(), runs, points, false)) {
                std::printf("archive not built: %s\n", qPrintable(store.LastError()));
                return 1;
            }
        }
        std::printf("SQLite: archive of %d runs of %d points built in %.1f s, %.0f MB\n", runs, points,
            t.elapsed() / 1000.0, QFileInfo(archive + "/journal.sqlite").size() / 1e6);
        std::vector<double> open, openUnchecked;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer o;
            o.start();
            TJournal j(TJournalOptions::Local(archive));
            j.Open();
            open.push_back(double(o.nsecsElapsed()) / 1e6);
            TJournalOptions quick = TJournalOptions::Local(archive);
            quick.checkIntegrity = false;
            o.restart();
            TJournal k(quick);
            k.Open();
            openUnchecked.push_back(double(o.nsecsElapsed()) / 1e6);
        }
        Print("SQLite: open the archive, with its page check", open, 0);
        Print("SQLite: open the archive, without it", openUnchecked, 0);
        TJournal journal(TJournalOptions::Local(archive));
        journal.Open();
        Archive(journal, 7, "SQLite");
    }

    if (server) {
        TPgServer &pg = TPgServer::Instance();
        if (!pg.Start()) {
            std::printf("PostgreSQL not started: %s\n", qPrintable(pg.Error()));
            return 1;
        }
        {
            TJournalOptions o = TJournalOptions::Local(temporary.path() + "/server-buffer");
            o.server = pg.NewDatabase();
            TJournal journal(o);
            journal.Open();
            PointCost(journal, samples, "PostgreSQL: journal one point (durable commit)");
            LoadCost(journal, 7, "PostgreSQL");
        }
        {
            TJournalOptions o = TJournalOptions::Local(temporary.path() + "/server-archive-buffer");
            o.server = pg.NewDatabase();
            QElapsedTimer t;
            t.start();
            {
                TJournalStore store(*o.server);
                if (!store.Open() || !FillArchive(store.Database(), runs, points, true)) {
                    std::printf("server archive not built: %s\n", qPrintable(store.LastError()));
                    pg.Stop();
                    return 1;
                }
            }
            std::printf(
                "PostgreSQL: archive of %d runs of %d points built in %.1f s\n", runs, points, t.elapsed() / 1000.0);
            TJournal journal(o);
            journal.Open();
            Archive(journal, 7, "PostgreSQL");
        }
        pg.Stop();
    }
    return 0;
}
