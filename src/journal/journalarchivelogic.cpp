#include "journal/journalarchivelogic.h"

#include "journal/journalexport.h"
#include "protocol/numberformat.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kFit = QStringLiteral("пригоден");
const QString kUnfit = QStringLiteral("непригоден");
const QString kVerdict = QStringLiteral("verdict");
const QString kReport = QStringLiteral("Report/");
const QString kConditions = QStringLiteral("conditions/");

QString When(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QStringLiteral("—");
}

QString Outcome(TJournalOutcome outcome)
{
    switch (outcome) {
    case TJournalOutcome::Open:
        return QStringLiteral("не завершена");
    case TJournalOutcome::Finished:
        return QStringLiteral("завершена");
    case TJournalOutcome::Stopped:
        return QStringLiteral("остановлена");
    case TJournalOutcome::Failed:
        return QStringLiteral("ошибка");
    }
    return QString();
}

void AddKeyValues(QStringList &lines, const TJournalKeyValues &values)
{
    for (const auto &[key, value] : values)
        if (!value.isEmpty())
            lines << QStringLiteral("  %1: %2").arg(key, value);
}

void AddDevice(QStringList &lines, const TJournalDevice &d)
{
    lines << QStringLiteral("Прибор: %1, заводской № %2, модификация %3")
                 .arg(d.type.isEmpty() ? QStringLiteral("—") : d.type,
                     d.factoryNumber.isEmpty() ? QStringLiteral("—") : d.factoryNumber,
                     d.modification.isEmpty() ? QStringLiteral("—") : d.modification);
    lines << QStringLiteral("Коэффициенты трансформации: KU = %1/%2, KI = %3/%4")
                 .arg(FloatToQStr(d.coefficients.U1), FloatToQStr(d.coefficients.U2), FloatToQStr(d.coefficients.I1),
                     FloatToQStr(d.coefficients.I2));
    AddKeyValues(lines, d.details);
}

void AddEnd(QStringList &lines, const std::optional<TJournalRunEnd> &end, bool endBuffered = false)
{
    if (!end) {
        lines << (endBuffered ? QStringLiteral("Окончание: конец в буфере стенда (ещё не передан на сервер)")
                              : QStringLiteral("Окончание: нет (запуск прерван или ещё идёт)"));
        return;
    }
    lines << QStringLiteral("Окончание: %1, %2%3")
                 .arg(When(end->time), Outcome(end->outcome),
                     end->error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(end->error));
}

QString Condition(const std::optional<double> &value)
{
    return value ? FloatToQStr(*value) : QString();
}

bool IsVerdictText(const QString &value)
{
    return value == kFit || value == kUnfit;
}

// A verdict amendment that names neither conclusion never took effect: it is listed, but does not count.
bool Counts(const TAmendment &a, const QString &field)
{
    return a.field.trimmed() == field && (field != kVerdict || IsVerdictText(a.newValue.trimmed()));
}

const TAmendment *LastAmendment(const TJournalRun &run, const QString &field)
{
    for (auto it = run.amendments.rbegin(); it != run.amendments.rend(); ++it)
        if (Counts(*it, field))
            return &*it;
    return nullptr;
}

QString StoredValue(const TJournalRun &run, const QString &field)
{
    const TLabRunRecord &lab = run.header.lab;
    if (field.startsWith(kReport))
        return JournalValueOf(run.header.reportData, field.mid(kReport.size()));
    if (field.startsWith(kConditions)) {
        const QString which = field.mid(kConditions.size());
        const std::pair<const char *, const std::optional<double> *> conditions[]
            = {{"temperature", &lab.conditions.temperature}, {"humidity", &lab.conditions.humidity},
                {"pressure", &lab.conditions.pressure}, {"supplyVoltage", &lab.conditions.supplyVoltage},
                {"supplyFrequency", &lab.conditions.supplyFrequency}};
        for (const auto &[name, value] : conditions)
            if (which == QLatin1String(name))
                return Condition(*value);
        return QString();
    }
    if (field == QLatin1String("owner"))
        return lab.owner;
    if (field == QLatin1String("modification"))
        return lab.modification;
    if (field == QLatin1String("manufactureYear"))
        return lab.manufactureYear;
    if (field == kVerdict)
        return run.end && run.end->verdict ? run.end->verdict->Text() : QString();
    return QString();
}

QString Dash(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("—") : text;
}

void AddLab(QStringList &lines, const TJournalRun &run)
{
    const TLabRunRecord &lab = run.header.lab;
    const auto current
        = [&](const char *field) { return TJournalArchiveLogic::CurrentValue(run, QString::fromLatin1(field)); };
    if (lab.type) {
        QString line = QStringLiteral("Тип СИ: %1, № в ГРСИ %2").arg(Dash(lab.type->name), Dash(lab.type->typeNumber));
        if (!lab.type->procedure.isEmpty())
            line += QStringLiteral(", методика поверки %1").arg(lab.type->procedure);
        lines << line;
    }
    const std::pair<const char *, const char *> texts[]
        = {{"Модификация", "modification"}, {"Владелец", "owner"}, {"Год выпуска", "manufactureYear"}};
    for (const auto &[caption, field] : texts)
        if (const QString value = current(field); !value.isEmpty())
            lines << QStringLiteral("%1: %2").arg(QString::fromUtf8(caption), value);
    if (!lab.IsEmpty())
        lines << QStringLiteral("Вид поверки: %1%2")
                     .arg(VerificationKindText(lab.kind),
                         !lab.usedAsStandard ? QString()
                             : lab.standardRegNumber.isEmpty()
                             ? QStringLiteral(", прибор применяется как эталон")
                             : QStringLiteral(", прибор применяется как эталон, рег. № %1").arg(lab.standardRegNumber));

    QStringList conditions;
    const std::pair<const char *, const char *> units[] = {{"температура %1 °C", "conditions/temperature"},
        {"относительная влажность %1 %", "conditions/humidity"}, {"атмосферное давление %1 кПа", "conditions/pressure"},
        {"напряжение питания %1 V", "conditions/supplyVoltage"},
        {"частота питания %1 Hz", "conditions/supplyFrequency"}};
    for (const auto &[format, field] : units)
        if (const QString value = current(field); !value.isEmpty())
            conditions << QString::fromUtf8(format).arg(value);
    if (!conditions.isEmpty())
        lines << QStringLiteral("Условия: ") + conditions.join(QStringLiteral(", "));

    if (!lab.standards.empty()) {
        lines << QStringLiteral("Эталоны:");
        for (const TStandard &s : lab.standards) {
            QStringList parts{Dash(s.name)};
            if (!s.typeNumber.trimmed().isEmpty())
                parts << QStringLiteral("№ в ГРСИ ") + s.typeNumber.trimmed();
            if (!s.serial.trimmed().isEmpty())
                parts << QStringLiteral("зав. № ") + s.serial.trimmed();
            if (!s.fundNumber.trimmed().isEmpty())
                parts << QStringLiteral("рег. № ") + s.fundNumber.trimmed();
            if (!s.certificate.trimmed().isEmpty())
                parts << QStringLiteral("поверка № ") + s.certificate.trimmed();
            parts << (s.validUntil.isValid()
                    ? QStringLiteral("действителен до ") + s.validUntil.toString(QStringLiteral("dd.MM.yyyy"))
                    : QStringLiteral("срок действия поверки не указан"));
            lines << QStringLiteral("  ") + parts.join(QStringLiteral(", "));
        }
    }
    if (lab.lowestAccuracyRatio > 0)
        lines << QStringLiteral("Соотношение погрешностей эталона и поверяемого СИ: наименьшее %1")
                     .arg(FloatToQStr(std::round(lab.lowestAccuracyRatio * 10) / 10));
    for (const QString &note : lab.lowRatioNotes)
        lines << QStringLiteral("  ") + note;
}

void AddVerdict(QStringList &lines, const TJournalRun &run)
{
    const QString current = TJournalArchiveLogic::CurrentValue(run, kVerdict);
    if (current.isEmpty())
        return;
    const std::optional<TVerdict> stored = run.end ? run.end->verdict : std::nullopt;
    const auto reasons = [](const TVerdict &v) {
        return v.fit || v.reasons.isEmpty() ? QString() : QStringLiteral(": ") + v.reasons.join(QStringLiteral("; "));
    };
    lines << QStringLiteral("Заключение: ") + current
            + (stored && stored->Text() == current && !stored->overridden ? reasons(*stored) : QString());
    const TAmendment *amended = LastAmendment(run, kVerdict);
    const auto replaced = [&](const QString &who, const QDateTime &when, const QString &why) {
        lines << QStringLiteral("  заменено: %1, %2, %3").arg(Dash(who), When(when), Dash(why));
    };
    if (amended)
        replaced(amended->who, amended->time, amended->reason);
    else if (stored && stored->overridden)
        replaced(stored->overriddenBy, stored->overriddenAt, stored->overrideReason);
    if (stored && (amended || stored->overridden))
        lines << QStringLiteral("  %1: %2%3")
                     .arg(amended ? QStringLiteral("при поверке") : QStringLiteral("вычислено"), stored->Text(),
                         reasons(*stored));
}

void AddAmendments(QStringList &lines, const std::vector<TAmendment> &amendments)
{
    if (amendments.empty())
        return;
    lines << QStringLiteral("Изменения после поверки:");
    for (const TAmendment &a : amendments)
        lines << QStringLiteral("  %1, %2: %3 «%4» → «%5» (%6)")
                     .arg(When(a.time), Dash(a.who), a.field, a.oldValue, a.newValue, Dash(a.reason));
}

QString IntegrityText(TRecordIntegrity integrity)
{
    switch (integrity) {
    case TRecordIntegrity::Unchecked:
        return QStringLiteral("Запись: не проверена (поверка не завершена или записана до защиты записей)");
    case TRecordIntegrity::Intact:
        return QStringLiteral("Запись: не изменялась вне программы");
    case TRecordIntegrity::Changed:
        return QStringLiteral("Внимание: запись изменена вне программы (не совпадает с контрольной суммой, "
                              "записанной при её сохранении)");
    }
    return QString();
}

} // namespace

TJournalArchiveLogic::TJournalArchiveLogic(TJournal *journal, IJournalArchiveView *view)
    : journal_(journal), view_(view)
{
}

void TJournalArchiveLogic::Start()
{
    JournalStateChanged();
    Refresh();
}

void TJournalArchiveLogic::JournalStateChanged()
{
    view_->ShowJournalState(journal_->State().Text(), journal_->State().journalling);
}

void TJournalArchiveLogic::ApplyFilter(bool byDate, const QDate &from, const QDate &to, const QString &deviceNumber)
{
    const bool notExported = filter_.notExported;
    filter_ = TJournalFilter();
    filter_.notExported = notExported;
    if (byDate) {
        QDate first = from, last = to;
        if (first.isValid() && last.isValid() && last < first)
            std::swap(first, last);
        if (first.isValid())
            filter_.from = QDateTime(first, QTime(0, 0));
        if (last.isValid())
            filter_.to = QDateTime(last.addDays(1), QTime(0, 0));
    }
    filter_.deviceNumber = deviceNumber.trimmed();
    Refresh();
}

void TJournalArchiveLogic::SetNotExportedOnly(bool on)
{
    filter_.notExported = on;
    Refresh();
}

void TJournalArchiveLogic::Refresh()
{
    runs_ = journal_->ListRuns(filter_);
    view_->ShowRuns(runs_);
    if (!journal_->LastReadError().isEmpty())
        view_->ShowError(QStringLiteral("Журнал не читается: ") + journal_->LastReadError());
    JournalStateChanged();
    Select(QString());
}

const TJournalRunSummary *TJournalArchiveLogic::Find(const TJournalRunId &run) const
{
    for (const TJournalRunSummary &s : runs_)
        if (s.id == run)
            return &s;
    return nullptr;
}

void TJournalArchiveLogic::Select(const TJournalRunId &run)
{
    const TJournalRunSummary *s = run.isEmpty() ? nullptr : Find(run);
    if (!s) {
        view_->ShowDetails(QString());
        view_->SetActionsEnabled(false, false, false, false);
        return;
    }
    if (s->kind == TJournalRunKind::Tuning) {
        const auto tuning = journal_->LoadTuning(run);
        view_->ShowDetails(tuning ? DetailsText(*tuning) : journal_->LastReadError());
        view_->SetActionsEnabled(false, false, false, false);
        return;
    }
    const auto loaded = journal_->LoadRun(run);
    view_->ShowDetails(loaded ? DetailsText(*loaded, s->endBuffered) : journal_->LastReadError());
    // "Изменить запись…" stays offered for an open run, so that asking says why it is refused.
    view_->SetActionsEnabled(bool(openHandler_) && loaded, bool(loaded), bool(reportHandler_) && loaded, bool(loaded));
}

void TJournalArchiveLogic::Open(const TJournalRunId &run)
{
    const TJournalRunSummary *s = Find(run);
    if (!s || s->kind != TJournalRunKind::Verification || !openHandler_)
        return;
    openHandler_(run);
}

void TJournalArchiveLogic::Report(const TJournalRunId &run)
{
    const TJournalRunSummary *s = Find(run);
    if (!s || s->kind != TJournalRunKind::Verification || !reportHandler_)
        return;
    reportHandler_(run);
}

bool TJournalArchiveLogic::ExportCsv(const TJournalRunId &run, const QString &path)
{
    if (path.trimmed().isEmpty())
        return false;
    const auto loaded = journal_->LoadRun(run);
    if (!loaded) {
        view_->ShowError(QStringLiteral("Поверка не читается из журнала: ") + journal_->LastReadError());
        return false;
    }
    QString error;
    if (!KestJournalExport::WriteScenario(*loaded, path, &error)) {
        view_->ShowError(QStringLiteral("Файл %1 не записан: %2").arg(KestJournalExport::CorrectFileName(path), error));
        return false;
    }
    view_->ShowMessage(
        QStringLiteral("Таблицы поверки записаны в файл %1").arg(KestJournalExport::CorrectFileName(path)));
    return true;
}

QString TJournalArchiveLogic::SuggestedFileName(const TJournalRunId &run) const
{
    const TJournalRunSummary *s = Find(run);
    if (!s)
        return QStringLiteral("Поверка.csv");
    QString device = s->deviceNumber;
    for (QChar &c : device)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            c = QLatin1Char('-');
    return QStringLiteral("Поверка %1%2.csv")
        .arg(device.isEmpty() ? QString() : device + QLatin1Char(' '),
            s->started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH-mm")));
}

QString TJournalArchiveLogic::CurrentValue(const TJournalRun &run, const QString &field)
{
    const QString name = field.trimmed();
    const TAmendment *last = LastAmendment(run, name);
    return last ? last->newValue.trimmed() : StoredValue(run, name);
}

TJournalKeyValues TJournalArchiveLogic::AmendableFields(const TJournalRun &run)
{
    TJournalKeyValues out;
    for (const auto &entry : run.header.reportData)
        out.append({kReport + entry.first, CurrentValue(run, kReport + entry.first)});
    // The Fund's answer is entered here too: the record number it gave, or the text of its refusal; and the
    // number of the sticker put on a fit instrument, which its upload carries.
    for (const char *field : {"conditions/temperature", "conditions/humidity", "conditions/pressure", "owner",
             "modification", "manufactureYear", "verdict", "stickerNum", "arshin/record", "arshin/rejected"})
        out.append({QString::fromLatin1(field), CurrentValue(run, QString::fromLatin1(field))});
    return out;
}

std::optional<TJournalArchiveLogic::TAmendmentForm> TJournalArchiveLogic::AmendmentForm(const TJournalRunId &run)
{
    const TJournalRunSummary *s = Find(run);
    if (!s)
        return std::nullopt;
    if (s->kind != TJournalRunKind::Verification) {
        view_->ShowError(QStringLiteral("Изменения записываются только для поверок"));
        return std::nullopt;
    }
    const auto loaded = journal_->LoadRun(run);
    if (!loaded) {
        view_->ShowError(QStringLiteral("Поверка не читается из журнала: ") + journal_->LastReadError());
        return std::nullopt;
    }
    if (!loaded->end && !s->endBuffered) {
        view_->ShowError(QStringLiteral("Поверка не завершена: изменения записываются только после её окончания"));
        return std::nullopt;
    }
    return TAmendmentForm{run, AmendableFields(*loaded), loaded->header.Verifier()};
}

bool TJournalArchiveLogic::Amend(
    const TJournalRunId &run, const QString &field, const QString &newValue, const QString &reason, const QString &who)
{
    const QString name = field.trimmed(), value = newValue.trimmed();
    if (reason.trimmed().isEmpty()) {
        view_->ShowError(QStringLiteral("Укажите причину изменения"));
        return false;
    }
    if (who.trimmed().isEmpty()) {
        view_->ShowError(QStringLiteral("Укажите, кто вносит изменение"));
        return false;
    }
    const auto loaded = journal_->LoadRun(run);
    if (!loaded) {
        view_->ShowError(QStringLiteral("Поверка не читается из журнала: ") + journal_->LastReadError());
        return false;
    }
    const TJournalKeyValues fields = AmendableFields(*loaded);
    const auto known = std::find_if(fields.begin(), fields.end(), [&](const auto &f) { return f.first == name; });
    if (known == fields.end()) {
        view_->ShowError(QStringLiteral("Поле «%1» не изменяется").arg(name));
        return false;
    }
    double number = 0;
    if (name == kVerdict && !IsVerdictText(value)) {
        view_->ShowError(QStringLiteral("Заключение: «пригоден» или «непригоден»"));
        return false;
    }
    if (name.startsWith(kConditions) && !value.isEmpty()
        && !TryStrToFloat(QString(value).replace(QLatin1Char(','), QLatin1Char('.')), number)) {
        view_->ShowError(QStringLiteral("«%1» — не число").arg(value));
        return false;
    }
    if (value == known->second) {
        view_->ShowError(QStringLiteral("Новое значение совпадает с прежним"));
        return false;
    }
    TAmendment amendment;
    amendment.who = who.trimmed();
    amendment.field = name;
    amendment.oldValue = known->second;
    amendment.newValue = value;
    amendment.reason = reason.trimmed();
    const int heldBefore = journal_->State().unwritten;
    const bool written = journal_->AddAmendment(run, amendment);
    // Not durable yet but held by the journal: it is recorded, and asking again would record it twice.
    const bool held = !written && journal_->State().unwritten > heldBefore;
    if (!written && !held) {
        view_->ShowError(QStringLiteral("Изменение не записано: ") + journal_->LastError());
        return false;
    }
    Refresh();
    view_->SelectRun(run);
    if (held)
        view_->ShowMessage(journal_->LastError());
    return true;
}

QString TJournalArchiveLogic::DetailsText(const TJournalRun &run, bool endBuffered)
{
    const TJournalRunHeader &h = run.header;
    QStringList lines;
    lines << QStringLiteral("Поверка, конфигурация %1, начата %2").arg(h.configuration, When(h.started));
    AddEnd(lines, run.end, endBuffered);
    lines << IntegrityText(run.integrity);
    lines << QStringLiteral("Программа %1, место %2").arg(h.programVersion, h.bench);
    AddDevice(lines, h.device);
    lines << QStringLiteral("Допустимая погрешность: базовая %1 %, частота %2 %, аналог. %3 %, АРУ %4 %")
                 .arg(FloatToQStr(h.limits.error), FloatToQStr(h.limits.freqError), FloatToQStr(h.limits.analogError),
                     FloatToQStr(h.limits.aruError));
    lines << QStringLiteral("Диапазоны: %1, %2; схема %3")
                 .arg(h.setup.currentRange, h.setup.voltageRange, h.setup.scheme);
    AddKeyValues(lines, h.setup.options);
    int measured = 0, failed = 0;
    for (const TJournalPoint &p : run.points) {
        ++measured;
        failed += p.HasOverLimit() ? 1 : 0;
    }
    lines << QStringLiteral("Точек измерено: %1 из %2, с превышением погрешности: %3")
                 .arg(measured)
                 .arg(h.planned.size())
                 .arg(failed);
    for (const TJournalShownTable &t : run.ShownTables()) {
        int rows = 0;
        for (const TJournalShownRow &r : t.rows)
            rows += r.measured ? 1 : 0;
        lines << QStringLiteral("  Вкладка %1 \"%2\": строк %3, измерено %4")
                     .arg(t.layout->tab + 1)
                     .arg(t.layout->title)
                     .arg(t.rows.size())
                     .arg(rows);
    }
    AddLab(lines, run);
    AddVerdict(lines, run);
    if (!h.reportData.isEmpty()) {
        lines << QStringLiteral("Данные отчёта:");
        AddKeyValues(lines, h.reportData);
    }
    AddAmendments(lines, run.amendments);
    return lines.join(QLatin1Char('\n'));
}

QString TJournalArchiveLogic::DetailsText(const TJournalTuningRun &run)
{
    const TJournalTuningHeader &h = run.header;
    QStringList lines;
    lines << QStringLiteral("Настройка, конфигурация %1, начата %2").arg(h.configuration, When(h.started));
    AddEnd(lines, run.end);
    lines << QStringLiteral("Программа %1, место %2").arg(h.programVersion, h.bench);
    AddDevice(lines, h.device);
    AddKeyValues(lines, h.settings);
    auto readback = [&](const char *what, const std::optional<TJournalReadback> &r) {
        if (!r) {
            lines << QStringLiteral("%1: нет").arg(QString::fromUtf8(what));
            return;
        }
        static const TParameters names;
        QStringList errors;
        for (const TJournalError &e : r->errors) {
            const TParameter *p = names.GetParameterByIndex(e.param);
            errors << (p ? p->name : QString::number(e.param)) + QStringLiteral(" ") + FloatToQStr(e.error)
                    + QStringLiteral(" %") + (e.overLimit ? QStringLiteral(" (превышение)") : QString());
        }
        lines << QStringLiteral("%1 (%2): %3")
                     .arg(QString::fromUtf8(what), When(r->time), errors.join(QStringLiteral("; ")));
    };
    readback("До настройки", run.asFound);
    readback("После настройки", run.asLeft);
    lines << QStringLiteral("Протокол:");
    for (const TJournalLogLine &l : run.lines)
        lines << QStringLiteral("  %1  %2").arg(l.time.toLocalTime().toString(QStringLiteral("HH:mm:ss")), l.text);
    return lines.join(QLatin1Char('\n'));
}
