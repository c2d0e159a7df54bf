#include "journal/journalarchivelogic.h"

#include "journal/journalexport.h"
#include "protocol/numberformat.h"

namespace {

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

void AddEnd(QStringList &lines, const std::optional<TJournalRunEnd> &end)
{
    if (!end) {
        lines << QStringLiteral("Окончание: нет (запуск прерван или ещё идёт)");
        return;
    }
    lines << QStringLiteral("Окончание: %1, %2%3")
                 .arg(When(end->time), Outcome(end->outcome),
                     end->error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(end->error));
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
    filter_ = TJournalFilter();
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
        view_->SetActionsEnabled(false, false, false);
        return;
    }
    if (s->kind == TJournalRunKind::Tuning) {
        const auto tuning = journal_->LoadTuning(run);
        view_->ShowDetails(tuning ? DetailsText(*tuning) : journal_->LastReadError());
        view_->SetActionsEnabled(false, false, false);
        return;
    }
    const auto loaded = journal_->LoadRun(run);
    view_->ShowDetails(loaded ? DetailsText(*loaded) : journal_->LastReadError());
    view_->SetActionsEnabled(bool(openHandler_) && loaded, bool(loaded), bool(reportHandler_) && loaded);
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

QString TJournalArchiveLogic::DetailsText(const TJournalRun &run)
{
    const TJournalRunHeader &h = run.header;
    QStringList lines;
    lines << QStringLiteral("Поверка, конфигурация %1, начата %2").arg(h.configuration, When(h.started));
    AddEnd(lines, run.end);
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
    if (!h.reportData.isEmpty()) {
        lines << QStringLiteral("Данные отчёта:");
        AddKeyValues(lines, h.reportData);
    }
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
