#include "kestctl_lab.h"

#include "protocol/numberformat.h"

#include <QDate>
#include <QRegularExpression>

#include <stdexcept>

const char *const kKestctlLabHelp = R"(
Реестры лаборатории (в журнале результатов; у журнала на сервере — общие для всех стендов):
  kestctl standards add --name TEXT --serial TEXT --fund-number TEXT --certificate TEXT --valid-until dd.MM.yyyy
          [--type TEXT] [--type-number TEXT] [--kind installation|auxiliary] [--role TEXT]
          [--error-limit voltage|current|power|frequency|angle|analog=PCT]...
                             добавить эталон; печатает его ID
  kestctl standards list [--all]
                             эталоны, строка на каждый: ID, наименование, зав. №, рег. № в ФИФ, поверка до
                             (--all — и выведенные из обращения)
  kestctl standards retire ID
                             вывести эталон из обращения (записи о нём остаются)
  kestctl standards out-of-tolerance ID --since dd.MM.yyyy
                             эталон вне допуска с даты: поверки после неё отмечаются в журнале
  kestctl types add --name TEXT --type-number TEXT --procedure TEXT --interval MONTHS [--error PCT]
          [--modifications A,B] [--kind primary|periodic]
                             добавить тип СИ; печатает его ID
  kestctl types list [--all]
                             типы СИ, строка на каждый
)";

namespace {

struct TLabUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString Text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// The words after the subcommand as options and their values; a repeated option keeps every value.
struct TLabOptions {
    QList<QPair<QString, QString>> values;
    QStringList positional;
    QStringList flags;

    QString Value(const QString &name) const
    {
        for (const auto &[k, v] : values)
            if (k == name)
                return v;
        return {};
    }
    QStringList All(const QString &name) const
    {
        QStringList result;
        for (const auto &[k, v] : values)
            if (k == name)
                result << v;
        return result;
    }
    QString Required(const QString &name) const
    {
        const QString v = Value(name).trimmed();
        if (v.isEmpty())
            throw TLabUsage(QStringLiteral("нужен %1").arg(name).toStdString());
        return v;
    }
};

TLabOptions Parse(const QStringList &words, const QStringList &valued, const QStringList &flags)
{
    TLabOptions o;
    for (int i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        if (valued.contains(w)) {
            if (i + 1 >= words.size())
                throw TLabUsage(QStringLiteral("%1: нужно значение").arg(w).toStdString());
            o.values.append({w, words[++i]});
        } else if (flags.contains(w)) {
            o.flags << w;
        } else if (w.startsWith(QLatin1String("--"))) {
            throw TLabUsage(QStringLiteral("неизвестный параметр %1").arg(w).toStdString());
        } else {
            o.positional << w;
        }
    }
    return o;
}

QDate Date(const QString &option, const QString &text)
{
    const QDate date = QDate::fromString(text.trimmed(), QStringLiteral("dd.MM.yyyy"));
    if (!date.isValid())
        throw TLabUsage(QStringLiteral("%1: дата в виде дд.ММ.гггг, а не «%2»").arg(option, text).toStdString());
    return date;
}

double Percent(const QString &option, const QString &text)
{
    bool ok = false;
    const double value = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).trimmed().toDouble(&ok);
    if (!ok || value <= 0 || value > 100)
        throw TLabUsage(QStringLiteral("%1: процент больше 0, а не «%2»").arg(option, text).toStdString());
    return value;
}

QString Number(double value)
{
    return FloatToQStr(value);
}

QString StandardLine(const TStandard &s)
{
    QString line = QStringLiteral("%1\t%2\tзав. № %3\tрег. № %4\tповерка до %5")
                       .arg(s.id, s.name, s.serial, s.fundNumber, s.validUntil.toString(QStringLiteral("dd.MM.yyyy")));
    if (s.kind == TStandardKind::Auxiliary)
        line += QStringLiteral("\tвспомогательный") + (s.role.isEmpty() ? QString() : QStringLiteral(": ") + s.role);
    if (s.outOfToleranceSince.isValid())
        line += QStringLiteral("\tвне допуска с ") + s.outOfToleranceSince.toString(QStringLiteral("dd.MM.yyyy"));
    if (s.retired)
        line += QStringLiteral("\tвыведен из обращения");
    return line;
}

QString TypeLine(const TInstrumentType &t)
{
    QString line = QStringLiteral("%1\t%2\tГРСИ %3\t%4\tинтервал %5 мес.")
                       .arg(t.id, t.name, t.typeNumber, t.procedure)
                       .arg(t.intervalMonths);
    if (t.permissibleError > 0)
        line += QStringLiteral("\t±%1 %").arg(Number(t.permissibleError));
    if (t.retired)
        line += QStringLiteral("\tвыведен из обращения");
    return line;
}

int Standards(const QStringList &words, ILabRegistry &registry, QTextStream &out, QTextStream &err)
{
    const QString sub = words.value(0);
    const QStringList rest = words.mid(1);
    if (sub == QLatin1String("add")) {
        const TLabOptions o = Parse(rest,
            {"--name", "--serial", "--fund-number", "--certificate", "--valid-until", "--type", "--type-number",
                "--kind", "--role", "--error-limit"},
            {});
        TStandard s;
        s.name = o.Required("--name");
        s.serial = o.Required("--serial");
        s.fundNumber = o.Required("--fund-number");
        s.certificate = o.Required("--certificate");
        s.validUntil = Date("--valid-until", o.Required("--valid-until"));
        s.type = o.Value("--type").trimmed();
        s.typeNumber = o.Value("--type-number").trimmed();
        s.role = o.Value("--role").trimmed();
        const QString kind = o.Value("--kind");
        if (kind.isEmpty() || kind == QLatin1String("installation"))
            s.kind = TStandardKind::Installation;
        else if (kind == QLatin1String("auxiliary"))
            s.kind = TStandardKind::Auxiliary;
        else
            throw TLabUsage("--kind: installation или auxiliary");
        for (const QString &limit : o.All("--error-limit")) {
            const int eq = limit.indexOf(QLatin1Char('='));
            const auto quantity = QuantityKindFromKey(limit.left(eq).trimmed());
            if (eq < 0 || !quantity)
                throw TLabUsage(
                    "--error-limit: ВИД=ПРОЦЕНТ, вид — voltage, current, power, frequency, angle или analog");
            s.errorLimits[*quantity] = Percent("--error-limit", limit.mid(eq + 1));
        }
        if (!o.positional.isEmpty())
            throw TLabUsage(QStringLiteral("лишнее: %1").arg(o.positional.join(' ')).toStdString());
        if (!registry.SaveStandard(s)) {
            err << Text("Эталон не записан: ") << registry.LastError() << '\n';
            return 1;
        }
        out << s.id << '\n';
        return 0;
    }
    if (sub == QLatin1String("list")) {
        const TLabOptions o = Parse(rest, {}, {"--all"});
        const auto all = registry.Standards(o.flags.contains(QStringLiteral("--all")));
        if (!all) {
            err << Text("Реестр эталонов не прочитан: ") << registry.LastError() << '\n';
            return 1;
        }
        for (const TStandard &s : *all)
            out << StandardLine(s) << '\n';
        return 0;
    }
    if (sub == QLatin1String("retire") || sub == QLatin1String("out-of-tolerance")) {
        const TLabOptions o = Parse(rest, {"--since"}, {});
        if (o.positional.size() != 1)
            throw TLabUsage(QStringLiteral("standards %1: нужен один ID").arg(sub).toStdString());
        std::optional<TStandard> s = registry.Standard(o.positional[0]);
        if (!s) {
            err << Text("Эталон ") << o.positional[0] << Text(" не найден")
                << (registry.LastError().isEmpty() ? QString() : QStringLiteral(": ") + registry.LastError()) << '\n';
            return 1;
        }
        if (sub == QLatin1String("retire"))
            s->retired = true;
        else
            s->outOfToleranceSince = Date("--since", o.Required("--since"));
        if (!registry.SaveStandard(*s)) {
            err << Text("Эталон не записан: ") << registry.LastError() << '\n';
            return 1;
        }
        out << StandardLine(*s) << '\n';
        if (sub == QLatin1String("out-of-tolerance")) {
            // The runs to review: every one that used it on or after the day.
            if (const auto runs = registry.RunsUsingStandard(s->id))
                for (const TJournalRunSummary &run : *runs)
                    if (run.started.date() >= s->outOfToleranceSince)
                        out << Text("  поверка после этой даты: ")
                            << run.started.toString(QStringLiteral("dd.MM.yyyy hh:mm")) << '\t' << run.deviceNumber
                            << '\t' << run.id << '\n';
        }
        return 0;
    }
    throw TLabUsage("standards: add, list, retire или out-of-tolerance");
}

int Types(const QStringList &words, ILabRegistry &registry, QTextStream &out, QTextStream &err)
{
    const QString sub = words.value(0);
    const QStringList rest = words.mid(1);
    if (sub == QLatin1String("add")) {
        const TLabOptions o = Parse(
            rest, {"--name", "--type-number", "--procedure", "--interval", "--error", "--modifications", "--kind"}, {});
        TInstrumentType t;
        t.name = o.Required("--name");
        t.typeNumber = o.Required("--type-number");
        static const QRegularExpression kTypeNumber(QStringLiteral("^\\d{1,6}-\\d{2}$"));
        if (!kTypeNumber.match(t.typeNumber).hasMatch())
            throw TLabUsage("--type-number: номер в госреестре вида 74910-19");
        t.procedure = o.Required("--procedure");
        bool ok = false;
        t.intervalMonths = o.Required("--interval").toInt(&ok);
        if (!ok || t.intervalMonths <= 0 || t.intervalMonths > 240)
            throw TLabUsage("--interval: число месяцев от 1 до 240");
        if (!o.Value("--error").isEmpty())
            t.permissibleError = Percent("--error", o.Value("--error"));
        for (const QString &m : o.Value("--modifications").split(QLatin1Char(','), Qt::SkipEmptyParts))
            t.modifications << m.trimmed();
        const QString kind = o.Value("--kind");
        if (kind == QLatin1String("primary"))
            t.defaultKind = TVerificationKind::Primary;
        else if (kind.isEmpty() || kind == QLatin1String("periodic"))
            t.defaultKind = TVerificationKind::Periodic;
        else
            throw TLabUsage("--kind: primary или periodic");
        if (!o.positional.isEmpty())
            throw TLabUsage(QStringLiteral("лишнее: %1").arg(o.positional.join(' ')).toStdString());
        if (!registry.SaveType(t)) {
            err << Text("Тип СИ не записан: ") << registry.LastError() << '\n';
            return 1;
        }
        out << t.id << '\n';
        return 0;
    }
    if (sub == QLatin1String("list")) {
        const TLabOptions o = Parse(rest, {}, {"--all"});
        const auto all = registry.Types(o.flags.contains(QStringLiteral("--all")));
        if (!all) {
            err << Text("Реестр типов СИ не прочитан: ") << registry.LastError() << '\n';
            return 1;
        }
        for (const TInstrumentType &t : *all)
            out << TypeLine(t) << '\n';
        return 0;
    }
    throw TLabUsage("types: add или list");
}

} // namespace

int KestctlLab(const QStringList &args, ILabRegistry &registry, QTextStream &out, QTextStream &err)
{
    try {
        if (args.value(0) == QLatin1String("standards"))
            return Standards(args.mid(1), registry, out, err);
        if (args.value(0) == QLatin1String("types"))
            return Types(args.mid(1), registry, out, err);
        throw TLabUsage("нужна команда standards или types");
    } catch (const TLabUsage &e) {
        err << QStringLiteral("kestctl %1: %2\nСправка: kestctl --help\n")
                   .arg(args.value(0), QString::fromUtf8(e.what()));
        return 2;
    }
}
