// The laboratory's records in the results journal, on a SQLite file and on a PostgreSQL server of
// its own: the registers, the standards and verdict a run keeps, amendments refused while a run is
// open and recorded after its end, the reverse trace, and the ledger that shows a record changed
// outside the program. On the server also: benches creating the schema at the same moment, and an
// amendment made while the server is stopped.

#include "journaltesthelpers.h"
#include "testhome.h"

#include "journal/journalcodec.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace KestJournalTest;

namespace {

class TPgEnvironment : public ::testing::Environment {
public:
    void TearDown() override { TPgServer::Instance().Stop(); }
};
[[maybe_unused]] const auto *const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new TPgEnvironment);

QDateTime At(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

// Statements run on a journal's database behind its back, as a person with a database tool would.
void Tamper(const TJournalConnection &connection, const QStringList &statements)
{
    TJournalStore store(connection);
    ASSERT_TRUE(store.Open(false)) << store.LastError().toStdString();
    QSqlDatabase db = store.Database();
    for (const QString &sql : statements) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        EXPECT_GE(q.numRowsAffected(), 1) << "changes nothing: " << sql.toStdString();
    }
}

struct TRuns {
    TJournalRunId a, b, c, open;
    TStandard installation, thermometer;
    TInstrumentType type;
};

std::map<TJournalRunId, TJournalRunSummary> ById(const std::vector<TJournalRunSummary> &list)
{
    std::map<TJournalRunId, TJournalRunSummary> out;
    for (const TJournalRunSummary &s : list)
        out[s.id] = s;
    return out;
}

// What both databases must do alike: registers, three ended runs and an open one, a verdict, the
// reverse trace, amendments, and every ended run intact.
TRuns Essentials(TJournal &journal)
{
    TRuns r;
    ILabRegistry &registry = journal.Registry();
    r.installation.name = "Установка поверочная KEST-01";
    r.installation.serial = "0042";
    r.installation.fundNumber = "77050.19.1Р.00123456";
    r.installation.validUntil = QDate(2027, 3, 31);
    r.installation.errorLimits = {{TQuantityKind::Voltage, 0.05}, {TQuantityKind::Current, 0.05}};
    r.thermometer.name = "Гигрометр ИВА-6";
    r.thermometer.kind = TStandardKind::Auxiliary;
    r.thermometer.role = "термогигрометр";
    r.thermometer.validUntil = QDate(2026, 12, 1);
    TStandard retired;
    retired.name = "Барометр БАММ-1";
    for (TStandard *s : {&r.installation, &r.thermometer, &retired})
        EXPECT_TRUE(registry.SaveStandard(*s)) << registry.LastError().toStdString();
    retired.retired = true;
    EXPECT_TRUE(registry.SaveStandard(retired));
    r.type.name = "Преобразователь измерительный QX4";
    r.type.typeNumber = "74910-19";
    r.type.modifications = {"QX4-1", "QX4-7"};
    r.type.procedure = "МП 206.1-123-2019";
    r.type.intervalMonths = 48;
    r.type.permissibleError = 0.2;
    EXPECT_TRUE(registry.SaveType(r.type));
    EXPECT_FALSE(r.type.id.isEmpty());

    const auto shown = registry.Standards(false);
    const auto all = registry.Standards(true);
    EXPECT_TRUE(shown && all);
    if (shown && all) {
        // By name, the retired one only with the retired.
        EXPECT_EQ(*shown, (std::vector<TStandard>{r.thermometer, r.installation}));
        EXPECT_EQ(*all, (std::vector<TStandard>{retired, r.thermometer, r.installation}));
    }
    EXPECT_EQ(registry.Type(r.type.id), r.type);

    // Three ended runs: A with both standards (and the unfit verdict), B with the installation,
    // C with the thermometer the day before A; D stays open.
    auto run = [&](const char *start, std::vector<TStandard> standards, std::optional<TVerdict> verdict) {
        TJournalRunHeader h = SampleHeader(1, 3);
        h.started = At(start);
        h.lab.type = r.type;
        h.lab.owner = "АО «Энергия»";
        h.lab.modification = "QX4-7";
        h.lab.kind = TVerificationKind::Primary;
        h.lab.conditions.temperature = 21.5;
        h.lab.conditions.humidity = 55;
        h.lab.standards = std::move(standards);
        const TJournalRunId id = journal.BeginRun(h);
        for (int k = 1; k <= 3; ++k)
            EXPECT_TRUE(journal.AddPoint(id, SamplePoint(k, h)));
        if (verdict) {
            TJournalRunEnd end(TJournalOutcome::Finished);
            end.verdict = verdict;
            EXPECT_TRUE(journal.EndRun(id, end));
        }
        return id;
    };
    TVerdict unfit;
    unfit.reasons = {"превышение допускаемой основной погрешности: Ia при 5 A (−0,40 % при пределе ±0,2 %)"};
    TVerdict fit;
    fit.fit = true;
    r.a = run("2026-06-01T10:00:00", {r.installation, r.thermometer}, unfit);
    r.b = run("2026-05-20T10:00:00", {r.installation}, fit);
    r.c = run("2026-05-31T23:00:00", {r.thermometer}, fit);
    r.open = run("2026-06-02T10:00:00", {r.installation}, std::nullopt);

    // Amendments: never to an open or unknown run, then two to A.
    TAmendment overridden{0, QDateTime(), "Иванов И. И.", "verdict", "непригоден", "пригоден",
        "повторное измерение Ia при 5 A в пределах допуска"};
    EXPECT_FALSE(journal.AddAmendment(r.open, overridden));
    EXPECT_TRUE(journal.LastError().contains("не завершена")) << journal.LastError().toStdString();
    EXPECT_FALSE(journal.AddAmendment("no-such-run", overridden));
    EXPECT_TRUE(journal.LastError().contains("не найдена")) << journal.LastError().toStdString();
    EXPECT_TRUE(journal.AddAmendment(r.a, overridden)) << journal.LastError().toStdString();
    EXPECT_TRUE(journal.AddAmendment(r.a,
        {0, At("2026-06-03T09:00:00"), "Петров П. П.", "Report/Owner", "АО «Энергия»", "АО «Энергия-2»",
            "опечатка в названии владельца"}));
    // A second end is not an edit of the first.
    EXPECT_TRUE(journal.EndRun(r.a, {TJournalOutcome::Stopped, "позже"}));

    // The standard found out of tolerance from A's day: A is flagged, C (the evening before) is not.
    r.thermometer.outOfToleranceSince = QDate(2026, 6, 1);
    EXPECT_TRUE(registry.SaveStandard(r.thermometer));
    const auto usingThermometer = registry.RunsUsingStandard(r.thermometer.id);
    const auto usingInstallation = registry.RunsUsingStandard(r.installation.id);
    EXPECT_TRUE(usingThermometer && usingInstallation);
    if (usingThermometer && usingInstallation) {
        std::vector<TJournalRunId> ids, ids2;
        for (const auto &s : *usingThermometer)
            ids.push_back(s.id);
        for (const auto &s : *usingInstallation)
            ids2.push_back(s.id);
        EXPECT_EQ(ids, (std::vector<TJournalRunId>{r.a, r.c}));
        EXPECT_EQ(ids2, (std::vector<TJournalRunId>{r.open, r.a, r.b}));
    }

    const auto loaded = journal.LoadRun(r.a);
    EXPECT_TRUE(loaded) << journal.LastReadError().toStdString();
    if (loaded) {
        EXPECT_EQ(loaded->header.lab.type, r.type);
        EXPECT_EQ(loaded->header.lab.owner, "АО «Энергия»");
        EXPECT_EQ(loaded->header.lab.kind, TVerificationKind::Primary);
        EXPECT_EQ(loaded->header.lab.conditions.temperature, 21.5);
        EXPECT_FALSE(loaded->header.lab.conditions.pressure) << "an unset condition stays unset";
        TStandard thermometerAtStart = r.thermometer;
        thermometerAtStart.outOfToleranceSince = QDate(); // the copy is as it was at the start
        EXPECT_EQ(loaded->header.lab.standards, (std::vector<TStandard>{r.installation, thermometerAtStart}));
        EXPECT_TRUE(loaded->end && loaded->end->outcome == TJournalOutcome::Finished);
        EXPECT_EQ(loaded->end ? loaded->end->verdict : std::optional<TVerdict>(), unfit);
        EXPECT_EQ(loaded->amendments.size(), 2u);
        if (loaded->amendments.size() == 2u) {
            EXPECT_EQ(loaded->amendments[0].seq, 1);
            EXPECT_TRUE(loaded->amendments[0].time.isValid()) << "stamped when recorded";
            EXPECT_EQ(loaded->amendments[0].newValue, "пригоден");
            EXPECT_EQ(loaded->amendments[1].seq, 2);
            EXPECT_EQ(loaded->amendments[1].time, At("2026-06-03T09:00:00"));
        }
        EXPECT_EQ(loaded->integrity, TRecordIntegrity::Intact);
    }

    auto list = ById(journal.ListRuns());
    EXPECT_EQ(list[r.a].verdict, "пригоден") << "the amended verdict wins";
    EXPECT_EQ(list[r.a].amendments, 2);
    EXPECT_EQ(list[r.b].verdict, "пригоден");
    EXPECT_EQ(list[r.open].verdict, "");
    EXPECT_EQ(list[r.a].outcome, TJournalOutcome::Finished);
    EXPECT_EQ(std::make_tuple(list[r.a].suspectStandard, list[r.b].suspectStandard, list[r.c].suspectStandard),
        std::make_tuple(true, false, false));
    for (const TJournalRunId &id : {r.a, r.b, r.c})
        EXPECT_EQ(list[id].integrity, TRecordIntegrity::Intact);
    EXPECT_EQ(list[r.open].integrity, TRecordIntegrity::Unchecked);
    return r;
}

// Changes made behind the journal's back, one after the other, and which runs then show Changed.
void ExpectTamperingSeen(TJournal &journal, const TJournalConnection &connection, const TRuns &r)
{
    const struct {
        const char *what;
        QStringList sql;
        std::vector<TJournalRunId> changed; // A, B, C not listed are still Intact
    } cases[] = {
        {"a point's cell",
            {QString("UPDATE journal_points SET cells = '[\"0,1\"]' WHERE run = '%1' AND seq = 2").arg(r.b)}, {r.b}},
        {"an amendment's new value",
            {QString("UPDATE journal_amendments SET new_value = 'непригоден' WHERE run = '%1' AND seq = 1").arg(r.a)},
            {r.a, r.b}},
        {"a header",
            {QString("UPDATE journal_headers SET header = REPLACE(header, '21.5', '20.5') WHERE run = '%1'").arg(r.c)},
            {r.a, r.b, r.c}},
    };
    for (const auto &c : cases) {
        Tamper(connection, c.sql);
        auto list = ById(journal.ListRuns());
        for (const TJournalRunId &id : {r.a, r.b, r.c}) {
            const bool changed = std::find(c.changed.begin(), c.changed.end(), id) != c.changed.end();
            EXPECT_EQ(list[id].integrity, changed ? TRecordIntegrity::Changed : TRecordIntegrity::Intact)
                << c.what << ", run "
                << (id == r.a          ? "A"
                           : id == r.b ? "B"
                                       : "C");
        }
    }
}

// Only the ledger touched, on a journal fresh from Essentials: an entry in the middle of the chain
// (B's seal) or its last one (A's second amendment) deleted shows on that run, not on the others.
void ExpectLedgerDeletionSeen(TJournal &journal, const TJournalConnection &connection, const TRuns &r, bool last)
{
    const TJournalRunId &victim = last ? r.a : r.b;
    const TJournalRunId &untouched = last ? r.b : r.a;
    Tamper(connection,
        {last ? QString("DELETE FROM journal_ledger WHERE seq = (SELECT MAX(seq) FROM journal_ledger)")
              : QString("DELETE FROM journal_ledger WHERE run = '%1'").arg(victim)});
    const auto checked = journal.CheckIntegrity();
    ASSERT_TRUE(checked) << journal.LastReadError().toStdString();
    EXPECT_EQ(checked->at(victim), TRecordIntegrity::Changed) << (last ? "the last entry" : "a middle entry");
    EXPECT_EQ(checked->at(untouched), TRecordIntegrity::Intact) << (last ? "the last entry" : "a middle entry");
    EXPECT_EQ(checked->at(r.open), TRecordIntegrity::Unchecked);
    EXPECT_EQ(ById(journal.ListRuns())[victim].integrity, TRecordIntegrity::Changed);
}

TEST(LabJournalTest, FileKeepsRegistersVerdictAmendmentsAndSeesChangesMadeBehindItsBack)
{
    // A header written before the laboratory's records gives an empty record, and what does not
    // decode is refused, whatever the types inside.
    TJournalRunHeader old = SampleHeader(1, 2);
    QJsonObject object = QJsonDocument::fromJson(KestJournalCodec::EncodeRunHeader(old).toUtf8()).object();
    ASSERT_EQ(object.take("lab").toObject().value("owner"), QString());
    const QString json = QString::fromUtf8(QJsonDocument(object).toJson());
    ASSERT_FALSE(json.contains("\"lab\""));
    const auto oldHeader = KestJournalCodec::DecodeRunHeader(json);
    ASSERT_TRUE(oldHeader);
    EXPECT_TRUE(oldHeader->lab.IsEmpty());
    EXPECT_FALSE(KestJournalCodec::DecodeStandard("[1]"));
    EXPECT_FALSE(KestJournalCodec::DecodeVerdict("{"));
    const auto odd = KestJournalCodec::DecodeStandard(
        R"({"validUntil":5,"kind":"x","errorLimits":{"bogus":1,"voltage":"abc","current":"inf"},"retired":"yes"})");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->validUntil.isValid());
    EXPECT_EQ(odd->kind, TStandardKind::Installation);
    EXPECT_EQ(odd->errorLimits.size(), 2u);
    const auto oddType = KestJournalCodec::DecodeType(R"({"interval":1e300,"kind":2,"modifications":"QX4"})");
    ASSERT_TRUE(oddType);
    EXPECT_EQ(oddType->intervalMonths, 0);
    EXPECT_TRUE(oddType->modifications.isEmpty());

    for (int step = 0; step < 3; ++step) {
        TJournalOptions options = TJournalOptions::Local(KestTestHome::NewFolder());
        TJournal journal(options);
        ASSERT_TRUE(journal.Open());
        const TRuns r = Essentials(journal);
        TJournalConnection file;
        file.file = options.localFile;
        if (step == 0)
            ExpectTamperingSeen(journal, file, r);
        else
            ExpectLedgerDeletionSeen(journal, file, r, step == 2);
    }
}

TEST(LabJournalTest, ServerSharedByBenchesKeepsTheSameAndTakesAnAmendmentMadeWhileItWasAway)
{
    TPgServer &pg = TPgServer::Instance();
    ASSERT_TRUE(pg.Start()) << pg.Error().toStdString();

    // Benches starting together on an empty server all end up writing to it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const TJournalConnection empty = pg.NewDatabase();
        ASSERT_TRUE(pg.Error().isEmpty()) << pg.Error().toStdString();
        constexpr int kBenches = 4;
        std::atomic<int> ready{0};
        std::array<TJournalBackend, kBenches> backends{};
        std::vector<std::thread> benches;
        std::vector<QString> folders;
        for (int i = 0; i < kBenches; ++i)
            folders.push_back(KestTestHome::NewFolder());
        for (int i = 0; i < kBenches; ++i) {
            benches.emplace_back([&, i] {
                TJournalOptions o = TJournalOptions::Local(folders[size_t(i)]);
                o.server = empty;
                TJournal bench(o);
                ++ready;
                while (ready.load() < kBenches)
                    std::this_thread::yield();
                bench.Open();
                backends[size_t(i)] = bench.State().backend;
            });
        }
        for (std::thread &t : benches)
            t.join();
        for (int i = 0; i < kBenches; ++i)
            EXPECT_EQ(backends[size_t(i)], TJournalBackend::Server) << "bench " << i << ", attempt " << attempt;
    }

    const TJournalConnection connection = pg.NewDatabase();
    TJournalOptions options = TJournalOptions::Local(KestTestHome::NewFolder());
    options.server = connection;
    options.retrySeconds = 0;
    TJournal journal(options);
    ASSERT_TRUE(journal.Open());
    ASSERT_EQ(journal.State().backend, TJournalBackend::Server);
    const TRuns r = Essentials(journal);

    // The server stopped: the registers refuse rather than part, amendments wait in the buffer (one
    // to a run this journal wrote, one from another bench's archive that never saw the run), and a
    // run made meanwhile is sealed by the server once it takes it.
    TJournalOptions otherBench = options;
    otherBench.bufferFile = KestTestHome::NewFolder() + "/buffer.sqlite";
    TJournal archive(otherBench);
    ASSERT_TRUE(archive.Open());
    ASSERT_TRUE(pg.Pause()) << pg.Error().toStdString();
    TStandard spare;
    spare.name = "Барометр";
    EXPECT_FALSE(journal.Registry().SaveStandard(spare));
    EXPECT_TRUE(journal.Registry().LastError().startsWith("Сервер журнала недоступен: "))
        << journal.Registry().LastError().toStdString();
    EXPECT_TRUE(spare.id.isEmpty());
    EXPECT_TRUE(journal.AddAmendment(
        r.b, {0, At("2026-06-05T12:00:00"), "Сидоров С. С.", "conditions/temperature", "21,5", "22,5", "описка"}))
        << journal.LastError().toStdString();
    EXPECT_TRUE(archive.AddAmendment(
        r.c, {0, At("2026-06-05T12:30:00"), "Сидоров С. С.", "Report/Owner", "", "ООО «Свет»", "не был указан"}))
        << archive.LastError().toStdString();
    TJournalRunHeader h = SampleHeader(1, 2);
    h.lab.standards = {r.installation};
    const TJournalRunId away = journal.BeginRun(h);
    EXPECT_TRUE(journal.AddPoint(away, SamplePoint(1, h)));
    EXPECT_TRUE(journal.EndRun(away, {TJournalOutcome::Finished}));
    EXPECT_EQ(journal.State().backend, TJournalBackend::ServerBuffered);
    EXPECT_EQ(journal.FlushBeforeExit(1000), 2) << "B's amendment and the run made meanwhile stay buffered";
    ASSERT_TRUE(pg.Resume()) << pg.Error().toStdString();
    EXPECT_EQ(journal.FlushBeforeExit(5000), 0);
    EXPECT_EQ(archive.FlushBeforeExit(5000), 0);
    const auto c = journal.LoadRun(r.c);
    ASSERT_TRUE(c && c->amendments.size() == 1u);
    EXPECT_EQ(c->amendments[0].newValue, "ООО «Свет»");
    EXPECT_EQ(c->integrity, TRecordIntegrity::Intact);

    const auto b = journal.LoadRun(r.b);
    ASSERT_TRUE(b) << journal.LastReadError().toStdString();
    ASSERT_EQ(b->amendments.size(), 1u);
    EXPECT_EQ(b->amendments[0].newValue, "22,5");
    EXPECT_EQ(b->amendments[0].seq, 1);
    EXPECT_EQ(b->integrity, TRecordIntegrity::Intact);
    auto list = ById(journal.ListRuns());
    EXPECT_EQ(list[away].integrity, TRecordIntegrity::Intact) << "sealed on the server";
    EXPECT_EQ(list[away].points, 1);
    const auto trace = journal.Registry().RunsUsingStandard(r.installation.id);
    ASSERT_TRUE(trace);
    EXPECT_EQ(trace->size(), 4u);

    // A run whose end waits in this bench's buffer (the server refuses its second point for now) is
    // shown as such, not as unfinished; once the server takes it, it is an ended run.
    const TJournalRunId late = journal.BeginRun(h);
    EXPECT_TRUE(journal.AddPoint(late, SamplePoint(1, h)));
    ASSERT_TRUE(pg.Pause());
    EXPECT_TRUE(journal.AddPoint(late, SamplePoint(2, h)));
    EXPECT_TRUE(journal.EndRun(late, {TJournalOutcome::Finished}));
    ASSERT_TRUE(pg.Resume());
    TJournalStore admin(connection);
    ASSERT_TRUE(admin.Open(false));
    QSqlQuery alter(admin.Database());
    ASSERT_TRUE(alter.exec("ALTER TABLE journal_points ADD CONSTRAINT not_yet CHECK (seq < 2) NOT VALID"));
    list = ById(journal.ListRuns());
    EXPECT_EQ(std::make_pair(list[late].outcome, list[late].endBuffered), std::make_pair(TJournalOutcome::Open, true));
    EXPECT_FALSE(list[away].endBuffered);
    ASSERT_TRUE(alter.exec("ALTER TABLE journal_points DROP CONSTRAINT not_yet"));
    list = ById(journal.ListRuns());
    EXPECT_EQ(
        std::make_pair(list[late].outcome, list[late].endBuffered), std::make_pair(TJournalOutcome::Finished, false));
    EXPECT_EQ(list[late].integrity, TRecordIntegrity::Intact);

    ExpectTamperingSeen(journal, connection, r);

    const TJournalConnection fresh = pg.NewDatabase();
    options.server = fresh;
    options.bufferFile = KestTestHome::NewFolder() + "/buffer.sqlite";
    TJournal another(options);
    ASSERT_TRUE(another.Open());
    ExpectLedgerDeletionSeen(another, fresh, Essentials(another), false);
}

} // namespace

// Where runs stand with the Federal information fund: the last "arshin/…" amendment of each, and the list of
// verification runs not yet in an upload file (tuning runs never are).
TEST(LabJournalTest, ArchiveKnowsWhatWasSentToTheFund)
{
    const TJournalOptions options = TJournalOptions::Local(KestTestHome::NewFolder());
    TJournal journal(options);
    ASSERT_TRUE(journal.Open());
    std::vector<TJournalRunId> runs;
    for (const char *start : {"2026-05-20T10:00:00", "2026-05-21T10:00:00", "2026-05-22T10:00:00"}) {
        TJournalRunHeader h = SampleHeader(1, 2);
        h.started = At(start);
        h.lab.usedAsStandard = runs.size() == 1; // its record is due sooner
        runs.push_back(journal.BeginRun(h));
        EXPECT_TRUE(journal.AddPoint(runs.back(), SamplePoint(1, h)));
        EXPECT_TRUE(journal.EndRun(runs.back(), TJournalRunEnd(TJournalOutcome::Finished)));
    }
    const struct {
        int run;
        const char *field, *value, *shown;
    } steps[] = {
        {0, "arshin/exported", "/tmp/a.xml; 03.06.2026", "выгружено: /tmp/a.xml; 03.06.2026"},
        {0, "arshin/record", "принято, № записи 1-2", "принято, № записи 1-2"},
        {1, "arshin/exported", "/tmp/b.xml; 04.06.2026", "выгружено: /tmp/b.xml; 04.06.2026"},
        {1, "arshin/rejected", "нет типа", "отказ: нет типа"},
        {1, "Report/Owner", "АО «Энергия-2»", "отказ: нет типа"}, // another field leaves the status
    };
    for (const auto &step : steps) {
        ASSERT_TRUE(journal.AddAmendment(runs[size_t(step.run)], {0, {}, "Иванов", step.field, "", step.value, "—"}));
        for (const TJournalRunSummary &s : journal.ListRuns())
            if (s.id == runs[size_t(step.run)])
                EXPECT_EQ(s.arshinStatus, QString::fromUtf8(step.shown)) << step.field;
    }
    TJournalFilter notExported;
    notExported.notExported = true;
    std::vector<TJournalRunId> unsent;
    for (const TJournalRunSummary &s : journal.ListRuns(notExported))
        unsent.push_back(s.id);
    EXPECT_EQ(unsent, std::vector<TJournalRunId>{runs[2]});

    // The mark lives in the archive's rows, sealed like the rest: set behind the journal's back on the
    // last run, it shows there and on no other.
    auto marks = [&] {
        std::vector<std::pair<bool, TRecordIntegrity>> out;
        for (const TJournalRunId &id : runs)
            out.emplace_back(ById(journal.ListRuns())[id].usedAsStandard, ById(journal.ListRuns())[id].integrity);
        return out;
    };
    using P = std::pair<bool, TRecordIntegrity>;
    EXPECT_EQ(marks(),
        (std::vector<P>{
            {false, TRecordIntegrity::Intact}, {true, TRecordIntegrity::Intact}, {false, TRecordIntegrity::Intact}}));
    TJournalConnection file;
    file.file = options.localFile;
    Tamper(file, {QString("UPDATE journal_runs SET used_as_standard = 1 WHERE id = '%1'").arg(runs[2])});
    EXPECT_EQ(marks(),
        (std::vector<P>{
            {false, TRecordIntegrity::Intact}, {true, TRecordIntegrity::Intact}, {true, TRecordIntegrity::Changed}}));
}

// Four benches, each a process of its own, journal runs to one server that stops for a few seconds in the
// middle of them: each goes on into its buffer, sends it when the server is back (or tries once more as it
// ends), and afterwards the server holds every run finished and every point.
TEST(LabJournalTest, FourBenchesLoseNothingWhenTheServerStopsInTheMiddle)
{
    TPgServer &pg = TPgServer::Instance();
    ASSERT_TRUE(pg.Start()) << pg.Error().toStdString();
    const TJournalConnection server = pg.NewDatabase();
    ASSERT_TRUE(pg.Error().isEmpty()) << pg.Error().toStdString();
    constexpr int kBenches = 4, kPoints = 24;
    std::vector<std::unique_ptr<QProcess>> benches;
    std::vector<QString> said(kBenches);
    for (int b = 0; b < kBenches; ++b) {
        benches.push_back(std::make_unique<QProcess>());
        benches.back()->start(QString::fromLocal8Bit(KEST_JOURNAL_HELPER),
            {"--folder", KestTestHome::NewFolder(), "--points", QString::number(kPoints), "--interval", "300", "--host",
                server.host, "--database", server.database, "--user", server.user});
        ASSERT_TRUE(benches.back()->waitForStarted(10000));
    }
    auto pump = [&](const std::function<bool()> &done, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < timeoutMs)
            for (int b = 0; b < kBenches; ++b) {
                benches[size_t(b)]->waitForReadyRead(20);
                said[size_t(b)] += QString::fromUtf8(benches[size_t(b)]->readAllStandardOutput());
            }
        return done();
    };
    // Every bench has points on the server, then the server stops for 4 s while they go on.
    ASSERT_TRUE(pump(
        [&] { return std::all_of(said.begin(), said.end(), [](const QString &s) { return s.contains("point 3 "); }); },
        60000));
    ASSERT_TRUE(pg.Pause()) << pg.Error().toStdString();
    pump([] { return false; }, 4000);
    ASSERT_TRUE(pg.Resume()) << pg.Error().toStdString();
    ASSERT_TRUE(pump(
        [&] {
            return std::all_of(
                benches.begin(), benches.end(), [](const auto &p) { return p->state() == QProcess::NotRunning; });
        },
        120000));
    for (int b = 0; b < kBenches; ++b) {
        said[size_t(b)] += QString::fromUtf8(benches[size_t(b)]->readAllStandardOutput());
        EXPECT_EQ(benches[size_t(b)]->exitCode(), 0) << said[size_t(b)].toStdString();
        EXPECT_TRUE(said[size_t(b)].contains("buffered 0")) << said[size_t(b)].toStdString();
        EXPECT_TRUE(said[size_t(b)].contains(QString("stored %1").arg(kPoints))) << said[size_t(b)].toStdString();
    }
    // Read by another bench: four finished runs, every point.
    TJournalOptions reader = TJournalOptions::Local(KestTestHome::NewFolder());
    reader.server = server;
    TJournal journal(reader);
    ASSERT_TRUE(journal.Open());
    const std::vector<TJournalRunSummary> runs = journal.ListRuns();
    ASSERT_EQ(runs.size(), size_t(kBenches));
    for (const TJournalRunSummary &run : runs) {
        EXPECT_EQ(run.outcome, TJournalOutcome::Finished);
        EXPECT_EQ(run.points, kPoints);
        const std::optional<TJournalRun> loaded = journal.LoadRun(run.id);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->points.size(), size_t(kPoints));
    }
}
