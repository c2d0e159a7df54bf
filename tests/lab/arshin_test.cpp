// The upload file for the Federal information fund over hand-built runs: written, checked by an
// independent validator (xmllint) against the shipped schema and read back element by element; what
// keeps a run out; validity dates and sending deadlines.

#include "config/configcontroller.h"
#include "lab/arshinexport.h"
#include "lab/labconfig.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <tuple>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

QDate D(const char *text)
{
    return QDate::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy"));
}

QString SourcePath(const QString &relative)
{
    const QByteArray root = qgetenv("KEST_SOURCE_DIR");
    return QString::fromLocal8Bit(root) + QLatin1Char('/') + relative;
}

TStandard Installation()
{
    TStandard s;
    s.name = QStringLiteral("Установка поверочная KEST-01");
    s.typeNumber = QStringLiteral("51234-12");
    s.serial = QStringLiteral("017");
    s.fundNumber = QStringLiteral("3.1.ZZT.0123.2019");
    s.kind = TStandardKind::Installation;
    return s;
}

TStandard Thermohygrometer()
{
    TStandard s;
    s.name = QStringLiteral("Термогигрометр ИВА-6");
    s.typeNumber = QStringLiteral("46434-11");
    s.serial = QStringLiteral("5521");
    s.kind = TStandardKind::Auxiliary;
    s.role = QStringLiteral("термогигрометр");
    return s;
}

// A finished, fit, periodic verification with all the file needs.
TVerdict Verdict(bool fit, const QStringList &reasons = {})
{
    TVerdict v;
    v.fit = fit;
    v.reasons = reasons;
    return v;
}

TAmendment Amendment(const QString &field, const QString &value, const QString &reason)
{
    TAmendment a;
    a.field = field;
    a.newValue = value;
    a.reason = reason;
    return a;
}

TJournalRun MakeRun(const QString &id, const QDate &date = D("15.03.2026"))
{
    TJournalRun run;
    run.header.id = id;
    run.header.started = QDateTime(date, QTime(10, 30));
    run.header.device.factoryNumber = QStringLiteral("QX-") + id;
    run.header.reportData = {{QStringLiteral("Verifier"), QStringLiteral("Петров П. П.")}};
    TInstrumentType type;
    type.typeNumber = QStringLiteral("74910-19");
    type.procedure = QStringLiteral("МП 206.1-123-2019");
    type.intervalMonths = 12;
    TLabRunRecord &lab = run.header.lab;
    lab.type = type;
    lab.owner = QStringLiteral("ООО «Энергия»");
    lab.kind = TVerificationKind::Periodic;
    lab.manufactureYear = QStringLiteral("2021");
    lab.modification = QStringLiteral("QX4-E");
    lab.conditions.temperature = 21.5;
    lab.conditions.pressure = 101.3;
    lab.conditions.humidity = 55;
    lab.standards = {Installation(), Thermohygrometer()};
    run.end = TJournalRunEnd(TJournalOutcome::Finished);
    run.end->verdict = Verdict(true);
    return run;
}

TArshinLab Lab()
{
    return {QStringLiteral("ГЛБ"), true, false};
}

// A file read back: per result, its leaves as "path=value" in document order (attributes as
// "path@name=value"); the protocol's content decoded separately.
struct TReadBack {
    std::vector<QStringList> results;
    std::vector<QByteArray> protocols;
};
TReadBack ReadBack(const QString &path)
{
    TReadBack back;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList stack;
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            EXPECT_EQ(xml.namespaceUri().toString(),
                QStringLiteral("urn://fgis-arshin.gost.ru/module-verifications/import/2020-06-19"));
            EXPECT_EQ(xml.prefix().toString(), QStringLiteral("gost"));
            stack << xml.name().toString();
            text.clear();
            if (stack.size() == 2) {
                back.results.emplace_back();
                back.protocols.emplace_back();
            }
            for (const QXmlStreamAttribute &a : xml.attributes())
                back.results.back() << stack.mid(2).join(QLatin1Char('/')) + QLatin1Char('@') + a.name().toString()
                        + QLatin1Char('=') + a.value().toString();
        } else if (xml.isCharacters()) {
            text += xml.text().toString();
        } else if (xml.isEndElement()) {
            if (stack.size() > 2 && !text.trimmed().isEmpty()) {
                if (stack.last() == QLatin1String("content"))
                    back.protocols.back() = QByteArray::fromBase64(text.toLatin1());
                else
                    back.results.back() << stack.mid(2).join(QLatin1Char('/')) + QLatin1Char('=') + text;
            }
            text.clear();
            stack.removeLast();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return back;
}

QStringList Leaves(const char *const *lines)
{
    QStringList list;
    for (; *lines; ++lines)
        list << QString::fromUtf8(*lines);
    return list;
}

TEST(Arshin, FileOfFitUnfitAndIncompleteRunsPassesTheSchemaAndReadsBackAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<TJournalRun> runs;
    runs.push_back(MakeRun(QStringLiteral("1")));
    runs[0].header.lab.owner = QStringLiteral("ЗАО \"Щит & Ко\" <Юг>");
    runs[0].header.lab.kind = TVerificationKind::Primary;
    runs.push_back(MakeRun(QStringLiteral("2"), D("31.01.2026")));
    runs[1].end->verdict
        = Verdict(false, {QStringLiteral("превышение: Ia при 5 A"), QStringLiteral("поверка не завершена")});
    runs[1].header.lab.modification.clear();
    runs[1].header.lab.manufactureYear.clear();
    runs[1].header.lab.usedAsStandard = true; // not registered as one yet: still a single instrument
    runs[1].header.lab.standardRegNumber = QStringLiteral(" ");
    runs.push_back(MakeRun(QStringLiteral("3")));
    runs[2].header.lab.type->typeNumber.clear();
    // Fit at its end, found unfit afterwards: the amendment stands.
    runs.push_back(MakeRun(QStringLiteral("4"), D("29.02.2028")));
    runs[3].amendments
        = {Amendment(QStringLiteral("verdict"), QStringLiteral("непригоден"), QStringLiteral("повреждён корпус"))};
    runs[3].header.reportData.clear();
    // Registered as a standard: the Fund knows it by that number alone.
    runs.push_back(MakeRun(QStringLiteral("5")));
    runs[4].header.lab.usedAsStandard = true;
    runs[4].header.lab.standardRegNumber = QStringLiteral(" 3.1.ZZT.0456.2024 ");
    // Sticker numbers entered after the run; the one given with the export wins.
    runs[4].amendments = {Amendment(QStringLiteral("stickerNum"), QStringLiteral(" 22222222222 "), QString())};
    runs[0].amendments = {Amendment(QStringLiteral("stickerNum"), QStringLiteral("11111111111"), QString())};

    const QString protocolPath = dir.filePath(QStringLiteral("протокол 1.pdf"));
    QByteArray protocol;
    for (int i = 0; i < 200001; ++i)
        protocol += char(i * 7);
    {
        QFile f(protocolPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(protocol);
    }
    TArshinOptions options;
    options.protocols[QStringLiteral("1")] = protocolPath;
    options.additionalInfo = {{QStringLiteral("2"), QString(1024, QChar(0x0418))},
        {QStringLiteral("1"), QStringLiteral(" ")}, {QStringLiteral("3"), QString(1025, QLatin1Char('i'))}};
    options.stickers = {{QStringLiteral("1"), QStringLiteral(" 01234567890 ")},
        {QStringLiteral("2"), QStringLiteral("5")}, {QStringLiteral("3"), QStringLiteral("0123456789")}};

    const QString path = dir.filePath(QStringLiteral("выгрузка.xml"));
    QString error;
    std::vector<TArshinSkipped> skipped;
    ASSERT_TRUE(WriteArshinFile(path, runs, Lab(), options, &error, &skipped)) << error.toStdString();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].runId, QStringLiteral("3"));
    EXPECT_EQ(skipped[0].missing,
        (QStringList{QStringLiteral("нет номера типа в реестре"),
            QStringLiteral("номер наклейки «0123456789» не из 11 цифр"),
            QStringLiteral("дополнительные сведения длиннее 1024 знаков")}));

    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"),
        {QStringLiteral("--noout"), QStringLiteral("--schema"),
            SourcePath(QStringLiteral("assets/arshin/arshin-2020-06-19.xsd")), path});
    ASSERT_TRUE(xmllint.waitForFinished(60000)) << "xmllint (libxml2-utils) did not run";
    EXPECT_EQ(xmllint.exitCode(), 0) << xmllint.readAllStandardError().toStdString();

    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(raw.readAll());
    EXPECT_TRUE(
        content.contains(QStringLiteral("<gost:miOwner>ЗАО &quot;Щит &amp; Ко&quot; &lt;Юг&gt;</gost:miOwner>")));

    static const char *const fit[] = {"miInfo/singleMI/mitypeNumber=74910-19", "miInfo/singleMI/manufactureNum=QX-1",
        "miInfo/singleMI/manufactureYear=2021", "miInfo/singleMI/modification=QX4-E", "signCipher=ГЛБ",
        "miOwner=ЗАО \"Щит & Ко\" <Юг>", "vrfDate=2026-03-15", "validDate=2027-03-14", "type=1", "calibration=false",
        "applicable/stickerNum=01234567890", "applicable/signPass=true", "applicable/signMi=false",
        "docTitle=МП 206.1-123-2019", "metrologist=Петров П. П.", "means/mieta/number=3.1.ZZT.0123.2019",
        "means/mis/mi/typeNum=46434-11", "means/mis/mi/manufactureNum=5521", "conditions/temperature=21,5 °C",
        "conditions/pressure=101,3 кПа", "conditions/hymidity=55 %", "protocol@mimetype=application/pdf",
        "protocol@filename=протокол 1.pdf", nullptr};
    static const char *const unfit[] = {"miInfo/singleMI/mitypeNumber=74910-19", "miInfo/singleMI/manufactureNum=QX-2",
        "miInfo/singleMI/modification=-", "signCipher=ГЛБ", "miOwner=ООО «Энергия»", "vrfDate=2026-01-31", "type=2",
        "calibration=false", "inapplicable/reasons=превышение: Ia при 5 A; поверка не завершена",
        "docTitle=МП 206.1-123-2019", "metrologist=Петров П. П.", "means/mieta/number=3.1.ZZT.0123.2019",
        "means/mis/mi/typeNum=46434-11", "means/mis/mi/manufactureNum=5521", "conditions/temperature=21,5 °C",
        "conditions/pressure=101,3 кПа", "conditions/hymidity=55 %", nullptr};
    static const char *const amended[] = {"miInfo/singleMI/mitypeNumber=74910-19",
        "miInfo/singleMI/manufactureNum=QX-4", "miInfo/singleMI/manufactureYear=2021",
        "miInfo/singleMI/modification=QX4-E", "signCipher=ГЛБ", "miOwner=ООО «Энергия»", "vrfDate=2028-02-29", "type=2",
        "calibration=false", "inapplicable/reasons=повреждён корпус", "docTitle=МП 206.1-123-2019",
        "means/mieta/number=3.1.ZZT.0123.2019", "means/mis/mi/typeNum=46434-11", "means/mis/mi/manufactureNum=5521",
        "conditions/temperature=21,5 °C", "conditions/pressure=101,3 кПа", "conditions/hymidity=55 %", nullptr};
    const TReadBack back = ReadBack(path);
    ASSERT_EQ(back.results.size(), 4u);
    EXPECT_EQ(back.results[0], Leaves(fit));
    QStringList standard = Leaves(fit).mid(4);
    standard.replace(standard.indexOf(QStringLiteral("type=1")), QStringLiteral("type=2"));
    standard = QStringList{QStringLiteral("miInfo/etaMI/regNumber=3.1.ZZT.0456.2024")}
        + standard.filter(QRegularExpression(QStringLiteral("^(?!protocol)")));
    standard.replace(standard.indexOf(QStringLiteral("applicable/stickerNum=01234567890")),
        QStringLiteral("applicable/stickerNum=22222222222"));
    standard.replace(
        standard.indexOf(QStringLiteral("miOwner=ЗАО \"Щит & Ко\" <Юг>")), QStringLiteral("miOwner=ООО «Энергия»"));
    EXPECT_EQ(back.results[3], standard);
    EXPECT_EQ(back.results[1], Leaves(unfit) << QStringLiteral("additional_info=") + QString(1024, QChar(0x0418)));
    EXPECT_EQ(back.results[2], Leaves(amended));
    EXPECT_EQ(back.protocols[0], protocol);
    EXPECT_TRUE(back.protocols[1].isEmpty());

    // A file that fails its schema leaves the target as it was and no temporary file behind.
    const QString strict = dir.filePath(QStringLiteral("strict.xsd"));
    {
        QFile shipped(SourcePath(QStringLiteral("assets/arshin/arshin-2020-06-19.xsd")));
        ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
        QByteArray xsd = shipped.readAll();
        xsd.replace(
            "minOccurs=\"0\"/>\n      <xs:element name=\"signPass\"", "/>\n      <xs:element name=\"signPass\"");
        QFile f(strict);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(xsd);
    }
    options.schemaPath = strict; // requires the sticker, which the fit runs now lack
    options.stickers.clear();
    runs[0].amendments.clear();
    runs[4].amendments.clear();
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_FALSE(WriteArshinFile(path, runs, Lab(), options, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("stickerNum")) && error.contains(QStringLiteral("строка")))
        << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), before);
    EXPECT_EQ(ReadBack(path).results.size(), 4u);
    options.schemaPath = dir.filePath(QStringLiteral("нет.xsd"));
    EXPECT_FALSE(WriteArshinFile(path, runs, Lab(), options, &error));
    EXPECT_FALSE(WriteArshinFile(path, {runs[2]}, Lab(), TArshinOptions(), &error));
    for (const QString &bad : {dir.filePath(QStringLiteral("протокол.odt")), dir.filePath(QStringLiteral("нет.pdf")),
             dir.filePath(QString(125, QChar(0x0416)) + QStringLiteral(".pdf"))}) {
        TArshinOptions withBad;
        withBad.protocols[QStringLiteral("1")] = bad;
        QFile(bad).open(QIODevice::WriteOnly);
        if (bad.endsWith(QStringLiteral("нет.pdf")))
            QFile::remove(bad);
        EXPECT_FALSE(WriteArshinFile(path, runs, Lab(), withBad, &error)) << bad.toStdString();
        EXPECT_TRUE(error.contains(QFileInfo(bad).fileName())) << error.toStdString();
        QFile::remove(bad);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), before);
}

TEST(Arshin, WhatKeepsARunOutIsListedAndLongValuesAreRefusedNotCut)
{
    const struct {
        const char *what;
        std::function<void(TJournalRun &, TArshinLab &)> change;
        const char *missing; // nullptr: nothing
    } cases[] = {
        {"complete", [](TJournalRun &, TArshinLab &) {}, nullptr},
        {"no type", [](TJournalRun &r, TArshinLab &) { r.header.lab.type.reset(); },
            "не выбран тип средства измерений"},
        {"no method", [](TJournalRun &r, TArshinLab &) { r.header.lab.type->procedure = QStringLiteral(" "); },
            "нет методики поверки"},
        {"no serial", [](TJournalRun &r, TArshinLab &) { r.header.device.factoryNumber.clear(); },
            "нет заводского номера"},
        {"no owner", [](TJournalRun &r, TArshinLab &) { r.header.lab.owner = QStringLiteral("  "); }, "нет владельца"},
        {"no temperature", [](TJournalRun &r, TArshinLab &) { r.header.lab.conditions.temperature.reset(); },
            "не введена температура"},
        {"no pressure", [](TJournalRun &r, TArshinLab &) { r.header.lab.conditions.pressure.reset(); },
            "не введено атмосферное давление"},
        {"no humidity", [](TJournalRun &r, TArshinLab &) { r.header.lab.conditions.humidity.reset(); },
            "не введена относительная влажность"},
        {"no Fund number", [](TJournalRun &r, TArshinLab &) { r.header.lab.standards[0].fundNumber.clear(); },
            "нет эталона с регистрационным номером в Фонде"},
        {"auxiliary unnamed", [](TJournalRun &r, TArshinLab &) { r.header.lab.standards[1].serial.clear(); },
            "у эталона «Термогигрометр ИВА-6» нет ни регистрационного номера, ни номера типа с заводским номером"},
        {"stopped", [](TJournalRun &r, TArshinLab &) { r.end->outcome = TJournalOutcome::Stopped; },
            "поверка не завершена"},
        {"no verdict", [](TJournalRun &r, TArshinLab &) { r.end->verdict.reset(); }, "нет заключения о пригодности"},
        {"unfit, no reasons", [](TJournalRun &r, TArshinLab &) { r.end->verdict->fit = false; },
            "не указаны причины непригодности"},
        {"latin cipher", [](TJournalRun &, TArshinLab &l) { l.signCipher = QStringLiteral("ABC"); },
            "шифр знака поверки «ABC» не из 1–3 заглавных русских букв"},
        {"four letters", [](TJournalRun &, TArshinLab &l) { l.signCipher = QStringLiteral("АБВГ"); },
            "шифр знака поверки «АБВГ» не из 1–3 заглавных русских букв"},
        {"lower case", [](TJournalRun &, TArshinLab &l) { l.signCipher = QStringLiteral("аб"); },
            "шифр знака поверки «аб» не из 1–3 заглавных русских букв"},
        {"year not a year", [](TJournalRun &r, TArshinLab &) { r.header.lab.manufactureYear = QStringLiteral("21"); },
            "год выпуска «21» не год"},
        {"owner of 512", [](TJournalRun &r, TArshinLab &) { r.header.lab.owner = QString(512, QChar(0x0416)); },
            nullptr},
        {"owner of 513", [](TJournalRun &r, TArshinLab &) { r.header.lab.owner = QString(513, QChar(0x0416)); },
            "владелец длиннее 512 знаков"},
        {"type number of 33",
            [](TJournalRun &r, TArshinLab &) { r.header.lab.type->typeNumber = QString(33, QLatin1Char('7')); },
            "номер типа длиннее 32 знаков"},
        {"reasons of 1024",
            [](TJournalRun &r, TArshinLab &) {
                r.end->verdict = Verdict(false, {QString(510, QLatin1Char('a')), QString(512, QLatin1Char('b'))});
            },
            nullptr},
        {"reasons of 1025",
            [](TJournalRun &r, TArshinLab &) {
                r.end->verdict = Verdict(false, {QString(511, QLatin1Char('a')), QString(512, QLatin1Char('b'))});
            },
            "причины непригодности длиннее 1024 знаков"},
        {"method of 129",
            [](TJournalRun &r, TArshinLab &) { r.header.lab.type->procedure = QString(129, QChar(0x041C)); },
            "методика поверки длиннее 128 знаков"},
        {"verifier of 129",
            [](TJournalRun &r, TArshinLab &) {
                r.header.reportData = {{QStringLiteral("Verifier"), QString(129, QLatin1Char('x'))}};
            },
            "поверитель длиннее 128 знаков"},
        {"Fund number of 33",
            [](TJournalRun &r, TArshinLab &) { r.header.lab.standards[0].fundNumber = QString(33, QLatin1Char('1')); },
            "регистрационный номер эталона «111111111111111111111111111111111» длиннее 32 знаков"},
        {"own registration as a standard of 33",
            [](TJournalRun &r, TArshinLab &) {
                r.header.lab.usedAsStandard = true;
                r.header.lab.standardRegNumber = QString(33, QLatin1Char('2'));
            },
            "рег. номер эталона длиннее 32 знаков"},
        {"sticker of 10 digits",
            [](TJournalRun &r, TArshinLab &) {
                r.amendments = {Amendment(QStringLiteral("stickerNum"), QStringLiteral("0123456789"), QString())};
            },
            "номер наклейки «0123456789» не из 11 цифр"},
        {"sticker of an unfit one, not sent",
            [](TJournalRun &r, TArshinLab &) {
                r.end->verdict = Verdict(false, {QStringLiteral("обрыв цепи")});
                r.amendments = {Amendment(QStringLiteral("stickerNum"), QStringLiteral("нет"), QString())};
            },
            nullptr},
        {"registration number without the mark",
            [](TJournalRun &r, TArshinLab &) { r.header.lab.standardRegNumber = QString(33, QLatin1Char('2')); },
            nullptr},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        TJournalRun run = MakeRun(QStringLiteral("7"));
        TArshinLab lab = Lab();
        c.change(run, lab);
        const QStringList missing = ArshinMissing(run, lab);
        EXPECT_EQ(missing, c.missing ? QStringList{QString::fromUtf8(c.missing)} : QStringList()) << c.what;
        // What is listed is exactly what the schema would refuse: nothing written is ever cut or rejected.
        QString error;
        const QString path = dir.filePath(QString::fromLatin1(c.what) + QStringLiteral(".xml"));
        EXPECT_EQ(WriteArshinFile(path, {run}, lab, TArshinOptions(), &error), missing.isEmpty())
            << c.what << ": " << error.toStdString();
    }
}

TEST(Arshin, ValidityDatesVerdictAmendmentsDeadlinesAndHolidays)
{
    const struct {
        const char *date;
        int months;
        bool fit;
        const char *valid; // "": left out
    } validity[] = {{"31.01.2026", 1, true, "28.02.2026"}, {"30.01.2028", 1, true, "29.02.2028"},
        {"29.02.2028", 12, true, "28.02.2029"}, {"01.01.2026", 12, true, "31.12.2026"},
        {"31.12.2026", 2, true, "28.02.2027"}, {"15.03.2026", 12, false, ""}, {"15.03.2026", 0, true, ""}};
    for (const auto &c : validity) {
        TJournalRun run = MakeRun(QStringLiteral("v"), D(c.date));
        run.header.lab.type->intervalMonths = c.months;
        run.end->verdict->fit = c.fit;
        run.end->verdict->reasons = {QStringLiteral("r")};
        EXPECT_EQ(ArshinEntryOf(run, Lab()).validUntil, D(c.valid)) << c.date << " + " << c.months;
    }

    const struct {
        const char *end; // "": no verdict at the end, "+" fit, "-" unfit with reason "e"
        std::vector<std::pair<const char *, const char *>> amendments; // field, new value (reason "a" when unfit)
        const char *verdict; // "", "+", "-e", "-a"
    } verdicts[] = {{"+", {}, "+"}, {"-", {}, "-e"}, {"", {}, ""}, {"+", {{"verdict", "непригоден"}}, "-a"},
        {"-", {{"verdict", "пригоден"}}, "+"}, {"-", {{"verdict", "пригоден"}, {"verdict", "непригоден"}}, "-a"},
        {"+", {{"verdict", "годен"}}, "+"}, {"+", {{"Report/Owner", "непригоден"}}, "+"},
        {"", {{"verdict", " пригоден "}}, "+"}};
    for (const auto &c : verdicts) {
        TJournalRun run = MakeRun(QStringLiteral("a"));
        run.end->verdict.reset();
        if (*c.end)
            run.end->verdict = Verdict(*c.end == '+', {QStringLiteral("e")});
        for (const auto &[field, value] : c.amendments)
            run.amendments.push_back(
                Amendment(QString::fromUtf8(field), QString::fromUtf8(value), QStringLiteral("a")));
        const std::optional<TVerdict> v = ArshinVerdict(run);
        const QString got = !v ? QString()
            : v->fit           ? QStringLiteral("+")
                               : QStringLiteral("-") + v->reasons.join(QLatin1Char('|'));
        EXPECT_EQ(got, QString::fromLatin1(c.verdict)) << c.end << " with " << c.amendments.size() << " amendments";
    }

    const QSet<QDate> none;
    const QSet<QDate> may = ArshinHolidays(QStringLiteral("01.05.2026; 11.05.2026,12.06.2026"));
    const struct {
        const char *date;
        bool standard;
        const QSet<QDate> *holidays;
        const char *deadline;
    } deadlines[] = {{"02.03.2026", false, &none, "27.04.2026"}, {"06.03.2026", false, &none, "01.05.2026"},
        {"06.03.2026", true, &none, "03.04.2026"}, {"07.03.2026", true, &none, "03.04.2026"},
        {"08.03.2026", true, &none, "03.04.2026"}, {"06.03.2026", false, &may, "04.05.2026"},
        {"20.04.2026", true, &may, "20.05.2026"}, {"15.12.2026", true, nullptr, "21.01.2027"},
        {"31.12.2026", false, nullptr, "09.03.2027"}, {"", false, &none, ""}};
    const QSet<QDate> defaults = ArshinHolidays(QString());
    for (const auto &c : deadlines)
        EXPECT_EQ(ArshinDeadline(D(c.date), c.standard, c.holidays ? *c.holidays : defaults), D(c.deadline))
            << c.date << (c.standard ? " standard" : "");

    const struct {
        const char *today;
        const char *deadline;
        int left;
        bool red;
    } left[] = {{"04.05.2026", "13.05.2026", 6, false}, {"05.05.2026", "13.05.2026", 5, true},
        {"12.05.2026", "12.05.2026", 0, true}, {"09.05.2026", "11.05.2026", 0, true},
        {"13.05.2026", "12.05.2026", -1, true}, {"16.05.2026", "15.05.2026", -1, true},
        {"19.05.2026", "12.05.2026", -5, true}};
    for (const auto &c : left) {
        const int got = WorkingDaysLeft(D(c.today), D(c.deadline), may);
        EXPECT_EQ(got, c.left) << c.today << " → " << c.deadline;
        EXPECT_EQ(ArshinDeadlineNear(got), c.red) << c.today << " → " << c.deadline;
    }

    QStringList invalid;
    EXPECT_EQ(ArshinHolidays(QStringLiteral(" 09.01.2026 31.02.2026;x ,, 04.11.2026"), &invalid),
        (QSet<QDate>{D("09.01.2026"), D("04.11.2026")}));
    EXPECT_EQ(invalid, (QStringList{QStringLiteral("31.02.2026"), QStringLiteral("x")}));
    EXPECT_EQ(defaults, ArshinDefaultHolidays());
    EXPECT_EQ(defaults.size(), 26);
    for (const QDate &day : defaults)
        EXPECT_LT(day.dayOfWeek(), 6) << day.toString().toStdString();
}

TEST(Arshin, SettingsGiveTheLabsSignsTheSchemaAndTheHolidays)
{
    TConfigController store(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TArshinConfig arshin(&store);
    EXPECT_EQ(ArshinSchemaPath(arshin.ReadSchema()), ArshinShippedSchemaPath());
    EXPECT_EQ(arshin.ReadHolidays(), ArshinDefaultHolidays());
    store.ini.WriteString("Arshin", "Schema", " /srv/lab/official.xsd ");
    store.ini.WriteString("Arshin", "Holidays", "30.12.2026");
    EXPECT_EQ(ArshinSchemaPath(arshin.ReadSchema()), QStringLiteral("/srv/lab/official.xsd"));
    EXPECT_EQ(arshin.ReadHolidays(), QSet<QDate>{D("30.12.2026")});

    TLabConfig lab(&store);
    for (const auto &[cipher, pass, mi, expected] :
        {std::tuple{" ГЛБ ", "Да", "0", TArshinLab{QStringLiteral("ГЛБ"), true, false}},
            std::tuple{"", "", "TRUE", TArshinLab{QString(), false, true}},
            std::tuple{"А", "yes", "нет", TArshinLab{QStringLiteral("А"), true, false}}}) {
        store.ini.WriteString("Lab", "SignCipher", cipher);
        store.ini.WriteString("Lab", "SignPass", pass);
        store.ini.WriteString("Lab", "SignMi", mi);
        const TArshinLab got = ArshinLabOf(lab);
        EXPECT_EQ(got.signCipher, expected.signCipher) << cipher;
        EXPECT_EQ(got.signPass, expected.signPass) << pass;
        EXPECT_EQ(got.signMi, expected.signMi) << mi;
    }

    // The shipped schema is found inside the program and checks a file on its own.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.xml"));
    QString error;
    ASSERT_TRUE(WriteArshinFile(path, {MakeRun(QStringLiteral("s"))}, Lab(), TArshinOptions(), &error))
        << error.toStdString();
    EXPECT_TRUE(ValidateArshinFile(path, ArshinShippedSchemaPath(), &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray text = file.readAll().replace("ГЛБ", "GLB");
    file.resize(0);
    file.write(text);
    file.close();
    EXPECT_FALSE(ValidateArshinFile(path, ArshinShippedSchemaPath(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("signCipher")) && error.contains(QStringLiteral("GLB")))
        << error.toStdString();
}

} // namespace
