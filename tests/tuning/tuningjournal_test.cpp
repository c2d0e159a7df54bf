// Tuning runs in the results journal: runs against kest-sim read back from a SQLite journal in a
// temporary folder, and the errors kept with a readback.
#include "tuningtestutil.h"

#include <QTemporaryDir>

#include <cmath>
#include <set>

#include "journal/journal.h"
#include "tuning/tuningjournal.h"

using namespace tuningtest;

namespace {

// The readbacks as the tuning reported them, and the identity reads the recorder passed on.
struct TSeen : ITuningObserver, IIdentityWindow {
    std::vector<std::pair<TParameters, TParameters>> found, left;
    std::vector<int> numbers;
    void TuningAsFound(const TParameters &t, const TParameters &i) override { found.emplace_back(t, i); }
    void TuningAsLeft(const TParameters &t, const TParameters &i) override { left.emplace_back(t, i); }
    void SetExtraSettingsObject1(const TExtraSettingsObject &s) override { numbers.push_back(s.FactoryNumber); }
    void SetExtraSettingsObject2(const TExtraSettingsObject &) override { }
};

// "key=value|…", for readable failures.
std::string Text(const TJournalKeyValues &values)
{
    QStringList out;
    for (const auto &[key, value] : values)
        out << key + QLatin1Char('=') + value;
    return out.join(QLatin1Char('|')).toStdString();
}

class TuningJournalTest : public TuningTest {
protected:
    void SetUp() override
    {
        TuningTest::SetUp();
        ASSERT_TRUE(journal.Open());
        tuning->AddObserver(&seen);
        recorder = std::make_unique<TTuningJournalRecorder>(&journal, tuning.get());
        recorder->SetIdentityWindow(&seen);
    }
    // All outlive the tuning, which TearDown ends.
    QTemporaryDir dir;
    TJournal journal{TJournalOptions::Local(dir.path())};
    TSeen seen;
    std::unique_ptr<TTuningJournalRecorder> recorder;
};

} // namespace

// One window, five runs: each journalled one a run of its own that comes back with the lines the
// window logged in order, the first readback as found and the last as left (both sides, the
// coefficient errors, the identity read in that run only), the choices at "Настроить", the verifier
// and how it ended; the run made while the journal was taken away leaves nothing.
TEST_F(TuningJournalTest, RunsOfEveryEndingComeBackFromTheJournal)
{
    const QString coefsDone = QStringLiteral("Погрешности по коэффициентам в порядке.");
    const QString nominal = QStringLiteral("Запись номинальных параметров в KEST...");
    struct Row {
        const char *name;
        std::vector<std::string> sim; // added to what earlier runs corrected
        bool journalled;
        QString stopAt;
        TTuningEnd end;
        QString result; // the archive's text
        bool readback;
        int param = 0; // a quantity off in the first readback, by `error`
        double error = 0;
    } rows[] = {
        {"tuned", {"error Ua 0.8", "reference-response 0.7"}, true, {}, TTuningEnd::Done, "Настроен", true, piUa,
            0.24}, // 30 % left after the first round of references
        {"without a journal", {}, false, nominal, TTuningEnd::Stopped, {}, false},
        {"stopped after the coefficients", {"reference-response 0.5", "error Ib -0.5"}, true, coefsDone,
            TTuningEnd::Stopped, "Остановлена", true, piIb, -0.25},
        {"stopped before any readback", {}, true, nominal, TTuningEnd::Stopped, "Остановлена", false},
        {"failed at the angles", {"phase-error B 9"}, true, {}, TTuningEnd::Failed,
            "Ошибка: Настройка невозможна на фазе B ", true},
    };
    tuning->Rs1Chosen(5);
    tuning->Rs2Toggled(true);
    tuning->Rs2Chosen(2);
    tuning->OutputChosen(3, 25);
    config->ini.WriteString("Report", "Verifier", "Иванов И. И.");
    std::set<TJournalRunId> ids;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        for (const std::string &c : r.sim)
            Sim(c);
        recorder->SetJournal(r.journalled ? &journal : nullptr);
        seen = TSeen();
        recorder->SetExtraSettingsObject1({999999, 9, 0, 0}); // between runs: passed on, not kept
        rec.outcome.reset();
        tuning->StartClicked();
        if (!r.stopAt.isEmpty()) {
            ASSERT_TRUE(PumpUntil([&] { return LogHas(r.stopAt); }, 60000)) << JoinedLog().toStdString();
            tuning->StopClicked();
        }
        ASSERT_TRUE(RunToEnd()) << JoinedLog().toStdString();
        ASSERT_EQ(rec.outcome->end, r.end) << JoinedLog().toStdString();
        EXPECT_EQ(seen.numbers, (std::vector<int>{999999, 151234}));
        TJournalFilter tuningRuns;
        tuningRuns.kind = TJournalRunKind::Tuning;
        const std::vector<TJournalRunSummary> runs = journal.ListRuns(tuningRuns);
        if (!r.journalled) {
            EXPECT_EQ(runs.size(), ids.size());
            continue;
        }
        ASSERT_TRUE(ids.insert(recorder->LastRun()).second);
        ASSERT_EQ(runs.size(), ids.size());
        EXPECT_EQ(runs.front().id, recorder->LastRun());
        EXPECT_EQ(runs.front().ResultText(), r.result);
        const std::optional<TJournalTuningRun> run = journal.LoadTuning(recorder->LastRun());
        ASSERT_TRUE(run.has_value()) << journal.LastReadError().toStdString();
        QStringList lines;
        for (const TJournalLogLine &l : run->lines)
            lines << l.text;
        EXPECT_EQ(lines, rec.log);
        ASSERT_TRUE(run->end.has_value());
        EXPECT_EQ(run->end->error, rec.outcome->reason);
        const TJournalTuningHeader &h = run->header;
        EXPECT_EQ(h.verifier, "Иванов И. И.");
        EXPECT_EQ(h.device.type, "QX4");
        EXPECT_TRUE(h.device.coefficients.U1 == 100 && h.device.coefficients.U2 == 100 && h.device.coefficients.I1 == 5
            && h.device.coefficients.I2 == 5);
        if (r.end == TTuningEnd::Done) { // the nominal values the run sent, taken from KU and KI (100/100, 5/5)
            EXPECT_EQ(Text(h.settings),
                "Напряжение=100 V|Ток=5A|Схема=4-х|Сетевой адрес=1|Новый адрес=1|Скорость RS 1=38400|"
                "Скорость RS 2=4800|Конф-ция RS 2=Информ. канал|Настроить аналоговые выходы=нет|Вых/Инд 1=Ua|"
                "Вых/Инд 2=Ub|Вых/Инд 3=F|Допустимая погрешность, %=0,2");
        }
        ASSERT_EQ(run->asFound.has_value(), r.readback);
        ASSERT_EQ(run->asLeft.has_value(), r.readback);
        if (!r.readback)
            continue;
        ASSERT_FALSE(seen.found.empty());
        ASSERT_EQ(seen.left.size(), 1u);
        EXPECT_EQ(run->asFound->device, TJournalValues::From(seen.found.front().first));
        EXPECT_EQ(run->asFound->installation, TJournalValues::From(seen.found.front().second));
        EXPECT_EQ(run->asLeft->device, TJournalValues::From(seen.left.back().first));
        EXPECT_EQ(run->asLeft->installation, TJournalValues::From(seen.left.back().second));
        for (const TJournalReadback *b : {&*run->asFound, &*run->asLeft}) {
            EXPECT_EQ(Text(b->details), "KU=100/100|KI=5/5|Заводской номер=151234|Модификация=5");
            std::vector<int> params;
            for (const TJournalError &e : b->errors) {
                params.push_back(e.param);
                // The last readback passed the coefficient stage: within the limit. So is the first, but
                // for the one quantity made to be off.
                const bool off = b == &*run->asFound && e.param == r.param;
                EXPECT_EQ(e.overLimit, off) << e.param;
                EXPECT_NEAR(e.error, off ? r.error : 0, off ? 0.06 : 0.2) << e.param;
            }
            EXPECT_EQ(params, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 26}));
        }
    }
}

// The errors of a readback: reduced to the full scales of the coefficients (primary units on the
// transducer's side), signed, over the limit only beyond it, none where a side gave no value or a
// full scale is zero (the other judged quantities read 0 on both sides).
TEST(TuningJournalErrors, ReducedToTheFullScales)
{
    struct Row {
        TTransfCoefs coefs; // I1, I2, U1, U2
        int param;
        double transducer, installation;
        bool given;
        std::optional<double> limit, error;
        bool over;
    } rows[] = {
        {{5, 5, 6000, 100}, piUa, 6000 / std::sqrt(3.0) * 1.01, 100 / std::sqrt(3.0), true, 0.5, 1.0, true},
        {{300, 5, 100, 100}, piIc, 300 * 0.995, 5, true, 0.6, -0.5, false},
        {{5, 5, 100, 100}, piFreq, 50.05, 50, true, 0.05, 0.1, true},
        {{5, 5, 100, 100}, piIa, 6, 5, true, std::nullopt, 20.0, false},
        {{5, 5, 100, 100}, piUb, 1, 57, false, 0.2, std::nullopt, false},
        {{0, 0, 100, 100}, piIa, 5, 5, true, 0.2, std::nullopt, false},
        {{5, 5, 100, 100}, piPa, 600, 500, true, 0.2, std::nullopt, false}, // not judged by the tuning
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.param);
        TParameters t, i;
        t.GetParameterByIndex(r.param)->value = r.transducer;
        t.GetParameterByIndex(r.param)->isDataCorrect = r.given;
        i.GetParameterByIndex(r.param)->value = r.installation;
        int found = 0;
        for (const TJournalError &e : TTuningJournalRecorder::Errors(t, i, r.coefs, r.limit)) {
            const bool mine = e.param == r.param;
            found += mine;
            EXPECT_NEAR(e.error, mine ? r.error.value_or(NAN) : 0, 1e-9) << e.param;
            EXPECT_EQ(e.overLimit, mine && r.over) << e.param;
        }
        EXPECT_EQ(found, r.error ? 1 : 0);
    }
}
