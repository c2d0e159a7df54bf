#include "lab/labrules.h"

#include "protocol/numberformat.h"

#include <QHash>

#include <cmath>
#include <map>
#include <utility>

namespace {

const QString kDateFormat = QStringLiteral("dd.MM.yyyy");
const QChar kMinus(0x2212);
const QChar kDash(0x2013);

QString ParameterName(int param)
{
    static const TParameters names;
    if (const TParameter *p = names.GetParameterByIndex(param))
        return p->name;
    return QStringLiteral("параметр %1").arg(param);
}

// Two decimals, decimal comma, a true minus; a value that rounds to zero carries no sign.
QString SignedPercent(double value)
{
    if (!std::isfinite(value))
        return FloatToQStr(value);
    QString digits = QString::number(std::fabs(value), 'f', 2).replace(QLatin1Char('.'), QLatin1Char(','));
    const bool zero = digits == QLatin1String("0,00");
    return (value < 0 && !zero ? QString(kMinus) : QString()) + digits;
}

// Temperatures and pressures keep at least one decimal ("27,0"), as thermometers and barometers show them.
QString WithDecimal(double value)
{
    QString text = FloatToQStr(value);
    if (std::isfinite(value) && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('E')))
        text += QStringLiteral(",0");
    return text;
}

QString Range(double from, double to)
{
    return FloatToQStr(from) + kDash + FloatToQStr(to);
}

QString StandardName(const TStandard &s)
{
    QString text = QStringLiteral("Эталон «%1»").arg(s.name);
    if (!s.serial.trimmed().isEmpty())
        text += QStringLiteral(" № ") + s.serial.trimmed();
    return text;
}

} // namespace

namespace LabRules {

TVerdict Verdict(const TJournalRun &run)
{
    TVerdict verdict;
    if (!run.end || run.end->outcome != TJournalOutcome::Finished)
        verdict.reasons << QStringLiteral("поверка не завершена");
    if (run.points.empty())
        verdict.reasons << QStringLiteral("нет измеренных точек");

    // A row measured again stands with its last measurement, as the tables show it.
    std::map<std::pair<int, int>, size_t> last;
    for (size_t i = 0; i < run.points.size(); ++i)
        last[{run.points[i].tab, run.points[i].row}] = i;
    QHash<int, bool> analogTab;
    for (const TJournalTable &t : run.header.tables)
        analogTab.insert(t.tab, !t.rsInterface);

    const TJournalLimits &limits = run.header.limits;
    const bool voltageInput = run.header.configuration == QLatin1String("U");
    for (size_t i = 0; i < run.points.size(); ++i) {
        const TJournalPoint &p = run.points[i];
        if (last[{p.tab, p.row}] != i)
            continue;
        const bool analog = analogTab.value(p.tab, !p.input.IsRsInterface);
        const QString input = voltageInput ? FloatToQStr(p.input.Ua.value) + QStringLiteral(" V")
                                           : FloatToQStr(p.input.Ia.value) + QStringLiteral(" A");
        for (const TJournalError &e : p.errors) {
            if (!e.overLimit)
                continue;
            const double limit = analog ? limits.analogError : (e.param == piFreq ? limits.freqError : limits.error);
            QString detail = SignedPercent(e.error) + QStringLiteral(" %");
            // Runs journalled before the limits were kept have none to name.
            if (limit > 0)
                detail += QStringLiteral(" при пределе ±") + FloatToQStr(limit) + QStringLiteral(" %");
            verdict.reasons << QStringLiteral("превышение допускаемой основной погрешности: %1 при %2 (%3)")
                                   .arg(ParameterName(e.param), input, detail);
        }
    }
    verdict.fit = verdict.reasons.isEmpty();
    return verdict;
}

QDate ValidUntil(const QDate &date, int months)
{
    // Beyond a hundred years no term is meant; the bound also keeps the month arithmetic in range.
    if (!date.isValid() || months <= 0 || months > 1200)
        return QDate();
    const QDate same = date.addMonths(months);
    // addMonths moves a day the target month lacks to its last day: that day is then the term's end.
    if (same.day() != date.day())
        return same;
    return same.addDays(-1);
}

std::optional<TQuantityKind> KindOfParameter(int param)
{
    switch (ParamKind(param)) {
    case TParamKind::PhaseVoltage:
    case TParamKind::LineVoltage:
        return TQuantityKind::Voltage;
    case TParamKind::Current:
        return TQuantityKind::Current;
    case TParamKind::Power:
    case TParamKind::Energy: // the installation's energy is its power over a measured time
        return TQuantityKind::Power;
    case TParamKind::Frequency:
        return TQuantityKind::Frequency;
    case TParamKind::Factor:
    case TParamKind::None:
        break;
    }
    return std::nullopt;
}

std::optional<double> AccuracyRatio(const std::vector<TStandard> &standards, TQuantityKind kind, double permissible)
{
    if (!(permissible > 0) || !std::isfinite(permissible))
        return std::nullopt;
    // With several installations the coarsest one answers for the run.
    std::optional<double> worst;
    for (const TStandard &s : standards) {
        if (s.kind != TStandardKind::Installation)
            continue;
        const auto it = s.errorLimits.find(kind);
        if (it == s.errorLimits.end() || !(it->second > 0) || !std::isfinite(it->second))
            continue;
        if (!worst || it->second > *worst)
            worst = it->second;
    }
    if (!worst)
        return std::nullopt;
    return permissible / *worst;
}

QStringList ConditionsOutside(const TRunConditions &conditions, const TNormalConditions &normal)
{
    QStringList out;
    const auto judge = [&out](const std::optional<double> &value, double min, double max, const QString &what,
                           const QString &unit, bool decimal) {
        if (!value)
            return;
        const double v = *value;
        if (std::isfinite(v) && v >= min && v <= max)
            return;
        out << QStringLiteral("%1 %2 %3 вне %4 %3")
                   .arg(what, decimal ? WithDecimal(v) : FloatToQStr(v), unit, Range(min, max));
    };
    judge(conditions.temperature, normal.temperatureMin, normal.temperatureMax, QStringLiteral("температура"),
        QStringLiteral("°C"), true);
    judge(conditions.humidity, normal.humidityMin, normal.humidityMax, QStringLiteral("относительная влажность"),
        QStringLiteral("%"), false);
    judge(conditions.pressure, normal.pressureMin, normal.pressureMax, QStringLiteral("атмосферное давление"),
        QStringLiteral("кПа"), true);
    return out;
}

QStringList StandardsNotValid(const std::vector<TStandard> &standards, const QDate &runDate)
{
    const QDate day = runDate.isValid() ? runDate : QDate::currentDate();
    QStringList out;
    for (const TStandard &s : standards) {
        if (!s.validUntil.isValid())
            out << StandardName(s) + QStringLiteral(": срок действия поверки не указан");
        else if (s.validUntil < day)
            out << StandardName(s) + QStringLiteral(": поверка действительна до ") + s.validUntil.toString(kDateFormat);
        if (s.outOfToleranceSince.isValid() && s.outOfToleranceSince <= day)
            out << StandardName(s) + QStringLiteral(": вне допуска с ") + s.outOfToleranceSince.toString(kDateFormat);
    }
    return out;
}

TJournalKeyValues ReportFields(const TLabRunRecord &record, const std::optional<TVerdict> &verdict,
    const QDate &verificationDate, const std::vector<TAmendment> &amendments)
{
    const auto number = [](const std::optional<double> &value, const QString &unit, bool decimal) {
        if (!value)
            return QString();
        return (decimal ? WithDecimal(*value) : FloatToQStr(*value)) + QLatin1Char(' ') + unit;
    };

    QStringList standards;
    for (const TStandard &s : record.standards) {
        QStringList parts{s.name};
        if (!s.serial.trimmed().isEmpty())
            parts << QStringLiteral("зав. № ") + s.serial.trimmed();
        if (!s.fundNumber.trimmed().isEmpty())
            parts << QStringLiteral("рег. № ") + s.fundNumber.trimmed();
        if (s.validUntil.isValid())
            parts << QStringLiteral("действителен до ") + s.validUntil.toString(kDateFormat);
        standards << parts.join(QStringLiteral(", "));
    }

    QString verdictText, validUntil;
    if (verdict) {
        verdictText = verdict->Text();
        QStringList reasons = verdict->reasons;
        if (reasons.isEmpty() && verdict->overridden && !verdict->overrideReason.isEmpty())
            reasons << verdict->overrideReason;
        if (!verdict->fit && !reasons.isEmpty())
            verdictText += QLatin1Char('\n') + reasons.join(QStringLiteral("; "));
        if (verdict->fit && record.type)
            validUntil = ValidUntil(verificationDate, record.type->intervalMonths).toString(kDateFormat);
    }

    QStringList changes;
    for (const TAmendment &a : amendments) {
        QString entry;
        if (a.time.isValid())
            entry = a.time.toString(QStringLiteral("dd.MM.yyyy hh:mm")) + QStringLiteral(", ");
        entry += QStringLiteral("%1: %2 «%3» → «%4»").arg(a.who, a.field, a.oldValue, a.newValue);
        if (!a.reason.isEmpty())
            entry += QStringLiteral(" (%1)").arg(a.reason);
        changes << entry;
    }

    const std::optional<TInstrumentType> &type = record.type;
    return {
        {QStringLiteral("TypeNumber"), type ? type->typeNumber : QString()},
        {QStringLiteral("Modification"), record.modification},
        {QStringLiteral("Owner"), record.owner},
        {QStringLiteral("ManufactureYear"), record.manufactureYear},
        // A run journalled without the laboratory's record has no kind to tell.
        {QStringLiteral("VerificationKind"), record.IsEmpty() ? QString() : VerificationKindText(record.kind)},
        {QStringLiteral("Procedure"), type ? type->procedure : QString()},
        {QStringLiteral("Temperature"), number(record.conditions.temperature, QStringLiteral("°C"), true)},
        {QStringLiteral("Humidity"), number(record.conditions.humidity, QStringLiteral("%"), false)},
        {QStringLiteral("Pressure"), number(record.conditions.pressure, QStringLiteral("кПа"), true)},
        {QStringLiteral("Standards"), standards.join(QLatin1Char('\n'))},
        {QStringLiteral("Verdict"), verdictText},
        {QStringLiteral("ValidUntil"), validUntil},
        {QStringLiteral("Amendments"),
            changes.isEmpty() ? QString()
                              : QStringLiteral("Изменения после поверки: ") + changes.join(QStringLiteral("; "))},
    };
}

QString KindCaption(TQuantityKind kind)
{
    switch (kind) {
    case TQuantityKind::Voltage:
        return QStringLiteral("напряжение");
    case TQuantityKind::Current:
        return QStringLiteral("ток");
    case TQuantityKind::Power:
        return QStringLiteral("мощность");
    case TQuantityKind::Frequency:
        return QStringLiteral("частота");
    case TQuantityKind::Angle:
        return QStringLiteral("угол");
    case TQuantityKind::AnalogCurrent:
        return QStringLiteral("аналоговый ток");
    }
    return {};
}

TJournalRun Amended(const TJournalRun &run)
{
    TJournalRun result = run;
    TLabRunRecord &lab = result.header.lab;
    for (const TAmendment &a : run.amendments) {
        const QString field = a.field.trimmed();
        if (field.startsWith(QLatin1String("Report/"))) {
            const QString key = field.mid(7);
            bool replaced = false;
            for (auto &[k, v] : result.header.reportData)
                if (k == key) {
                    v = a.newValue;
                    replaced = true;
                }
            if (!replaced)
                result.header.reportData.append({key, a.newValue});
        } else if (field.startsWith(QLatin1String("conditions/"))) {
            std::optional<double> value;
            double number = 0;
            if (TryStrToFloat(QString(a.newValue).replace(QLatin1Char(','), QLatin1Char('.')).trimmed(), number))
                value = number;
            const QString which = field.mid(11);
            if (which == QLatin1String("temperature"))
                lab.conditions.temperature = value;
            else if (which == QLatin1String("humidity"))
                lab.conditions.humidity = value;
            else if (which == QLatin1String("pressure"))
                lab.conditions.pressure = value;
            else if (which == QLatin1String("supplyVoltage"))
                lab.conditions.supplyVoltage = value;
            else if (which == QLatin1String("supplyFrequency"))
                lab.conditions.supplyFrequency = value;
        } else if (field == QLatin1String("owner")) {
            lab.owner = a.newValue;
        } else if (field == QLatin1String("modification")) {
            lab.modification = a.newValue;
        } else if (field == QLatin1String("manufactureYear")) {
            lab.manufactureYear = a.newValue;
        } else if (field == QLatin1String("verdict") && result.end) {
            const QString value = a.newValue.trimmed();
            if (value != QStringLiteral("пригоден") && value != QStringLiteral("непригоден"))
                continue;
            TVerdict v = result.end->verdict.value_or(TVerdict());
            v.fit = value == QStringLiteral("пригоден");
            if (v.fit)
                v.reasons.clear();
            else if (v.reasons.isEmpty() && !a.reason.isEmpty())
                v.reasons << a.reason;
            v.overridden = true;
            v.overriddenBy = a.who;
            v.overriddenAt = a.time;
            v.overrideReason = a.reason;
            result.end->verdict = v;
        }
    }
    return result;
}

} // namespace LabRules
