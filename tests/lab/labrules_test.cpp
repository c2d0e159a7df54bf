// The laboratory's rules over hand-built runs and records, and its settings on a real settings file.

#include "config/configcontroller.h"
#include "lab/labconfig.h"
#include "lab/labrules.h"
#include "testhome.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>

// Readable texts in failures.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

QDate D(const char *text)
{
    return QDate::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy"));
}

TEST(LabRules, ValidUntilEndsTheDayBeforeOrOnTheShortMonthsLastDay)
{
    const struct {
        const char *date;
        int months;
        const char *until; // empty: invalid
    } cases[] = {{"15.03.2024", 12, "14.03.2025"}, {"31.01.2025", 1, "28.02.2025"}, {"29.02.2024", 12, "28.02.2025"},
        {"01.01.2024", 12, "31.12.2024"}, {"30.01.2024", 1, "29.02.2024"}, {"31.03.2024", 1, "30.04.2024"},
        {"30.04.2024", 1, "29.05.2024"}, {"29.02.2024", 48, "28.02.2028"}, {"31.12.2024", 2, "28.02.2025"},
        {"28.02.2025", 12, "27.02.2026"}, {"01.01.2000", 1200, "31.12.2099"}, {"01.01.2000", 1201, ""},
        {"15.03.2024", 0, ""}, {"15.03.2024", -12, ""}, {"31.02.2024", 12, ""}};
    for (const auto &c : cases)
        EXPECT_EQ(LabRules::ValidUntil(D(c.date), c.months), D(c.until)) << c.date << " + " << c.months;
}

TJournalPoint Point(int tab, int row, double amps, std::vector<TJournalError> errors)
{
    TJournalPoint p;
    p.tab = tab;
    p.row = row;
    p.input.Ia.value = amps;
    p.input.Ua.value = 220;
    p.errors = std::move(errors);
    return p;
}

TEST(LabRules, VerdictNamesEveryFailedPointOfTheRowsAsTheyStand)
{
    const QString head = QStringLiteral("превышение допускаемой основной погрешности: ");
    using O = TJournalOutcome;
    const struct {
        const char *configuration; // "U": no limits kept either
        std::optional<O> end;
        std::vector<TJournalPoint> points;
        QStringList reasons; // empty: fit
    } cases[] = {
        {"I", O::Finished, {Point(0, 1, 5, {{piIa, -0.19, false}, {piUa, 0.1, false}})}, {}},
        {"I", O::Finished, {Point(0, 1, 5, {{piIa, -0.4, true}}), Point(0, 2, 1, {})},
            {head + QStringLiteral("Ia при 5 A (−0,40 % при пределе ±0,2 %)")}},
        {"I", O::Finished, {Point(0, 1, 5, {{piIa, 0.3, true}}), Point(0, 1, 5, {{piIa, 0.1, false}})}, {}},
        // The standing measurements in their order; F and the analog tab (1) have limits of their own.
        {"I", O::Finished,
            {Point(0, 2, 2.5, {{piIa, 0.25, true}}), Point(1, 1, 0.1, {{piIb, 0.7, true}}),
                Point(0, 1, 1, {{piFreq, -0.06, true}, {piIa, 0.1, false}}), Point(0, 2, 2.5, {{piIa, -0.004, true}})},
            {head + QStringLiteral("Ib при 0,1 A (0,70 % при пределе ±0,5 %)"),
                head + QStringLiteral("F при 1 A (−0,06 % при пределе ±0,05 %)"),
                head + QStringLiteral("Ia при 2,5 A (0,00 % при пределе ±0,2 %)")}},
        {"U", O::Finished, {Point(0, 1, 0, {{piULa, 1.234, true}})}, {head + QStringLiteral("Uab при 220 V (1,23 %)")}},
        {"I", O::Stopped, {Point(0, 1, 5, {})}, {QStringLiteral("поверка не завершена")}},
        {"I", {}, {}, {QStringLiteral("поверка не завершена"), QStringLiteral("нет измеренных точек")}},
    };
    for (const auto &c : cases) {
        TJournalRun run;
        run.header.configuration = QString::fromLatin1(c.configuration);
        if (run.header.configuration != QLatin1String("U"))
            run.header.limits = {0.2, 0.05, 0.5, 0.0};
        run.header.tables.resize(2);
        run.header.tables[1].tab = 1;
        run.header.tables[1].rsInterface = false;
        if (c.end)
            run.end = TJournalRunEnd(*c.end);
        run.points = c.points;
        const TVerdict v = LabRules::Verdict(run);
        EXPECT_EQ(v.fit, c.reasons.isEmpty()) << &c - cases;
        EXPECT_EQ(v.reasons, c.reasons) << &c - cases;
    }
}

TStandard Standard(
    const char *name, const char *serial, const char *until, TStandardKind kind = TStandardKind::Installation)
{
    TStandard s;
    s.name = QString::fromUtf8(name);
    s.serial = QString::fromUtf8(serial);
    s.validUntil = D(until);
    s.kind = kind;
    return s;
}

TEST(LabRules, KindsRatiosConditionsStandardsAndReportFields)
{
    using K = TQuantityKind;
    const std::map<int, std::optional<K>> kinds{{0, {}}, {1, K::Voltage}, {2, K::Voltage}, {3, K::Voltage},
        {4, K::Current}, {5, K::Current}, {6, K::Current}, {7, K::Voltage}, {8, K::Voltage}, {9, K::Voltage},
        {10, K::Power}, {11, K::Power}, {12, K::Power}, {13, K::Power}, {14, K::Power}, {15, K::Power}, {16, K::Power},
        {17, K::Power}, {18, K::Power}, {19, {}}, {20, {}}, {21, {}}, {22, K::Power}, {23, K::Power}, {24, K::Power},
        {25, {}}, {26, K::Frequency}, {27, K::Voltage}, {28, K::Current}, {29, K::Voltage}, {30, K::Voltage},
        {31, K::Current}, {32, K::Power}, {33, K::Power}, {34, {}}};
    for (const auto &[param, kind] : kinds)
        EXPECT_EQ(LabRules::KindOfParameter(param), kind) << param;

    TStandard a = Standard("KEST", "1", "01.06.2025"), b = Standard("KEST-2", "2", "01.06.2025"),
              aux = Standard("Термогигрометр", "", "31.05.2025", TStandardKind::Auxiliary);
    a.errorLimits = {{K::Current, 0.05}, {K::Voltage, 0.0}};
    b.errorLimits = {{K::Current, 0.04}, {K::Power, 0.1}};
    aux.errorLimits = {{K::Current, 1.0}, {K::Frequency, 0.01}};
    EXPECT_DOUBLE_EQ(LabRules::AccuracyRatio({a, b, aux}, K::Current, 0.2).value_or(0), 4.0);
    EXPECT_DOUBLE_EQ(LabRules::AccuracyRatio({b}, K::Power, 0.5).value_or(0), 5.0);
    for (const auto &[kind, permissible] :
        {std::pair{K::Voltage, 0.2}, std::pair{K::Frequency, 0.2}, std::pair{K::Current, 0.0}})
        EXPECT_EQ(LabRules::AccuracyRatio({a, b, aux}, kind, permissible), std::nullopt) << int(kind);

    TRunConditions c;
    EXPECT_TRUE(LabRules::ConditionsOutside(c, {}).isEmpty());
    c = {15.0, 80.0, 106.0, 500.0, 70.0}; // bounds are normal; the supply is not judged
    EXPECT_TRUE(LabRules::ConditionsOutside(c, {}).isEmpty());
    c = {27.0, 85.0, 83.5, {}, {}};
    EXPECT_EQ(LabRules::ConditionsOutside(c, {15.5, 25, 30, 80, 84, 106}),
        QStringList({QStringLiteral("температура 27,0 °C вне 15,5–25 °C"),
            QStringLiteral("относительная влажность 85 % вне 30–80 %"),
            QStringLiteral("атмосферное давление 83,5 кПа вне 84–106 кПа")}));

    TStandard late = Standard("Барометр", "B-7", "14.05.2025", TStandardKind::Auxiliary), undated = b,
              lastDay = Standard("Вольтметр", "V-1", "15.05.2025");
    undated.validUntil = {};
    b.outOfToleranceSince = D("15.05.2025");
    a.outOfToleranceSince = D("16.05.2025");
    EXPECT_EQ(LabRules::StandardsNotValid({a, late, b, lastDay, undated, aux}, D("15.05.2025")),
        QStringList({QStringLiteral("Эталон «Барометр» № B-7: поверка действительна до 14.05.2025"),
            QStringLiteral("Эталон «KEST-2» № 2: вне допуска с 15.05.2025"),
            QStringLiteral("Эталон «KEST-2» № 2: срок действия поверки не указан")}));

    TLabRunRecord record;
    TInstrumentType type;
    type.typeNumber = QStringLiteral("74910-19");
    type.procedure = QStringLiteral("МП 123");
    type.intervalMonths = 12;
    record.type = type;
    record.modification = QStringLiteral("QX4-5");
    record.owner = QStringLiteral("АО «Сети»");
    record.manufactureYear = QStringLiteral("2023");
    record.kind = TVerificationKind::Primary;
    record.conditions = {21.5, 55.0, 101.3, {}, {}};
    a.fundNumber = QStringLiteral("3.1.ABC.0001.2020");
    record.standards = {a, aux};
    TAmendment change{1, QDateTime(D("16.03.2024"), QTime(9, 5)), QStringLiteral("Иванов"),
        QStringLiteral("Report/Owner"), QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("опечатка")};
    TAmendment bare{2, {}, QStringLiteral("Петров"), QStringLiteral("verdict"), QStringLiteral("пригоден"),
        QStringLiteral("непригоден"), {}};
    TVerdict fitVerdict;
    fitVerdict.fit = true;
    const TJournalKeyValues fit = LabRules::ReportFields(record, fitVerdict, D("29.02.2024"), {change, bare});
    const TJournalKeyValues expected{{"TypeNumber", "74910-19"}, {"Modification", "QX4-5"}, {"Owner", "АО «Сети»"},
        {"ManufactureYear", "2023"}, {"VerificationKind", "первичная"}, {"Procedure", "МП 123"},
        {"Temperature", "21,5 °C"}, {"Humidity", "55 %"}, {"Pressure", "101,3 кПа"},
        {"Standards",
            "KEST, зав. № 1, рег. № 3.1.ABC.0001.2020, действителен до 01.06.2025\nТермогигрометр, действителен до "
            "31.05.2025"},
        {"Verdict", "пригоден"}, {"ValidUntil", "28.02.2025"},
        {"Amendments",
            "Изменения после поверки: 16.03.2024 09:05, Иванов: Report/Owner «А» → «Б» (опечатка); Петров: verdict "
            "«пригоден» → «непригоден»"}};
    EXPECT_EQ(fit, expected);

    TVerdict unfit;
    unfit.reasons = {QStringLiteral("r1"), QStringLiteral("r2")};
    const TJournalKeyValues failed = LabRules::ReportFields(record, unfit, D("29.02.2024"), {});
    EXPECT_EQ(JournalValueOf(failed, "Verdict"), QStringLiteral("непригоден\nr1; r2"));
    EXPECT_EQ(JournalValueOf(failed, "ValidUntil"), QString());
    EXPECT_EQ(JournalValueOf(failed, "Amendments"), QString());
    const TJournalKeyValues none = LabRules::ReportFields({}, std::nullopt, D("29.02.2024"), {});
    ASSERT_EQ(none.size(), expected.size());
    for (int i = 0; i < none.size(); ++i)
        EXPECT_EQ(none[i], qMakePair(expected[i].first, QString())) << i;
}

TEST(LabConfig, DefaultsRoundTripAndWhatAHandEditedFileHolds)
{
    TConfigController store(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TLabConfig lab(&store);
    EXPECT_EQ(lab.ReadOverdueStandards(), TOverduePolicy::Warn);
    EXPECT_TRUE(lab.ReadBenchStandards().isEmpty());
    EXPECT_EQ(lab.ReadMinAccuracyRatio(), 3.0);
    const auto bounds = [](const TNormalConditions &n) {
        return std::vector{
            n.temperatureMin, n.temperatureMax, n.humidityMin, n.humidityMax, n.pressureMin, n.pressureMax};
    };
    EXPECT_EQ(bounds(lab.ReadNormalConditions()), std::vector<double>({15, 25, 30, 80, 84, 106}));
    EXPECT_TRUE(lab.ReadLastConditions().IsEmpty());

    lab.WriteOverdueStandards(TOverduePolicy::Block);
    EXPECT_EQ(lab.ReadOverdueStandards(), TOverduePolicy::Block);
    for (const auto &[text, policy] :
        {std::pair{"Block ", TOverduePolicy::Block}, std::pair{"stop", TOverduePolicy::Warn}}) {
        store.ini.WriteString("Lab", "OverdueStandards", text);
        EXPECT_EQ(lab.ReadOverdueStandards(), policy) << text;
    }
    lab.WriteMinAccuracyRatio(2.5);
    EXPECT_EQ(store.ini.ReadString("Lab", "MinAccuracyRatio", ""), QStringLiteral("2,5"));
    store.ini.WriteString("Lab", "MinAccuracyRatio", "4.5");
    EXPECT_EQ(lab.ReadMinAccuracyRatio(), 4.5);
    store.ini.WriteString("Lab", "MinAccuracyRatio", "-1");
    EXPECT_EQ(lab.ReadMinAccuracyRatio(), 3.0);

    lab.WriteNormalConditions({10.5, 30, 20, 90, 80, 110});
    store.ini.WriteString("Lab", "HumidityMin", "95"); // above its maximum: the defaults stand
    EXPECT_EQ(bounds(lab.ReadNormalConditions()), std::vector<double>({10.5, 30, 30, 80, 80, 110}));

    const TRunConditions last{21.5, {}, 99.25, 230.0, {}};
    lab.WriteLastConditions(last);
    EXPECT_EQ(lab.ReadLastConditions(), last);
    store.ini.WriteString("Lab", "LastHumidity", "55.5");
    EXPECT_EQ(lab.ReadLastConditions().humidity, 55.5);

    lab.WriteBenchStandards({" s2", "", "s1", "s2 "});
    EXPECT_EQ(lab.ReadBenchStandards(), QStringList({"s2", "s1"}));
    TStandard s1 = Standard("A", "1", "01.01.2030"), s2 = s1, s3 = s1, old = s1;
    s1.id = "s1", s2.id = "s2", s3.id = "s3", old.id = "old", old.retired = true;
    s2.kind = TStandardKind::Auxiliary;
    QStringList missing{"stale"};
    lab.WriteBenchStandards({"s2", "old", "gone", "s1"});
    const auto listed = lab.BenchStandardsOf({s1, s2, s3, old}, &missing);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].id + listed[1].id, QStringLiteral("s2s1"));
    EXPECT_EQ(missing, QStringList({"old", "gone"}));
    lab.WriteBenchStandards({});
    const auto installations = lab.BenchStandardsOf({s1, s2, s3, old}, &missing);
    ASSERT_EQ(installations.size(), 2u);
    EXPECT_EQ(installations[0].id + installations[1].id, QStringLiteral("s1s3"));
    EXPECT_TRUE(missing.isEmpty());

    for (const QString number : {"12345", "A=1]", "A", "[;%41"})
        lab.WriteTypeForDevice(number, "type-" + number);
    lab.WriteTypeForDevice(" ", "nobody");
    for (const QString number : {"12345", "A=1]", " A ", "[;%41"})
        EXPECT_EQ(lab.ReadTypeForDevice(number), "type-" + number.trimmed()) << number.toStdString();
    EXPECT_EQ(lab.ReadTypeForDevice(" "), QString());
    lab.WriteTypeForDevice("A", "");
    EXPECT_EQ(lab.ReadTypeForDevice("A"), QString());
    EXPECT_EQ(lab.ReadTypeForDevice("A=1]"), QStringLiteral("type-A=1]"));

    lab.WriteSignCipher("c");
    lab.WriteSignPass("p");
    lab.WriteSignMi("m");
    EXPECT_EQ(lab.ReadSignCipher() + lab.ReadSignPass() + lab.ReadSignMi(), QStringLiteral("cpm"));
}

// Amendments change a copy, in order, each field where it lives; the stored run stays as it was.
TEST(LabRules, AmendedRunCarriesEachAmendmentInOrder)
{
    TJournalRun run;
    run.header.started = QDateTime(D("05.03.2024"), QTime(10, 0));
    run.header.reportData = {{"ProtocolNum", "П-1"}, {"Verifier", "Петров"}};
    run.header.lab.owner = "АО «Сеть»";
    run.header.lab.conditions.temperature = 21.5;
    run.end = TJournalRunEnd(TJournalOutcome::Finished);
    run.end->verdict = TVerdict{true, {}};
    const QDateTime when(D("06.03.2024"), QTime(9, 30));
    auto amend = [&](const char *field, const char *value, const char *why) {
        run.amendments.push_back({int(run.amendments.size()) + 1, when, "Сидоров", field, "", value, why});
    };
    amend("Report/ProtocolNum", "П-2", "опечатка");
    amend("Report/Checker", "Иванов", "не был указан");
    amend("conditions/temperature", "22,5", "термометр");
    amend("conditions/humidity", "", "не измерялась");
    amend("owner", "ООО «Свет»", "смена владельца");
    amend("verdict", "непригоден", "повреждён корпус");
    amend("verdict", "годен", "не слово заключения: ничего не меняет");
    amend("unknown", "x", "");

    const TJournalRun amended = LabRules::Amended(run);
    EXPECT_EQ(amended.header.reportData,
        (TJournalKeyValues{{"ProtocolNum", "П-2"}, {"Verifier", "Петров"}, {"Checker", "Иванов"}}));
    EXPECT_EQ(amended.header.lab.conditions.temperature, 22.5);
    EXPECT_FALSE(amended.header.lab.conditions.humidity.has_value());
    EXPECT_EQ(amended.header.lab.owner, "ООО «Свет»");
    ASSERT_TRUE(amended.end && amended.end->verdict);
    const TVerdict &v = *amended.end->verdict;
    EXPECT_FALSE(v.fit);
    EXPECT_EQ(v.reasons, QStringList{"повреждён корпус"});
    EXPECT_TRUE(v.overridden);
    EXPECT_EQ(v.overriddenBy, "Сидоров");
    EXPECT_EQ(v.overriddenAt, when);
    EXPECT_EQ(run.header.lab.owner, "АО «Сеть»"); // the record itself is untouched
    EXPECT_TRUE(run.end->verdict->fit);
    // The report lists them.
    const TJournalKeyValues fields = LabRules::ReportFields(amended.header.lab, v, D("05.03.2024"), run.amendments);
    EXPECT_TRUE(JournalValueOf(fields, "Amendments").startsWith("Изменения после поверки: 06.03.2024 09:30, Сидоров"))
        << JournalValueOf(fields, "Amendments").toStdString();
    EXPECT_TRUE(JournalValueOf(fields, "Verdict").startsWith("непригоден"));
    EXPECT_EQ(JournalValueOf(fields, "ValidUntil"), "");
}

} // namespace
