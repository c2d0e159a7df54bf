#include "journal/journalrecords.h"

#include <map>

QString JournalValueOf(const TJournalKeyValues &values, const QString &key)
{
    for (const auto &[k, v] : values)
        if (k == key)
            return v;
    return QString();
}

TJournalValues TJournalValues::From(const TParameters &parameters)
{
    TJournalValues out;
    for (int index = 1; index <= TParameters::kCount; ++index) {
        const TParameter *p = parameters.GetParameterByIndex(index);
        out.values[index - 1] = p ? p->value : 0.0;
        out.valid[index - 1] = p && p->isDataCorrect;
    }
    return out;
}

void TJournalValues::ApplyTo(TParameters &parameters) const
{
    for (int index = 1; index <= TParameters::kCount; ++index) {
        if (TParameter *p = parameters.GetParameterByIndex(index)) {
            p->value = values[index - 1];
            p->isDataCorrect = valid[index - 1];
        }
    }
}

QString TJournalRunHeader::DeviceNumber() const
{
    if (!device.factoryNumber.trimmed().isEmpty())
        return device.factoryNumber.trimmed();
    const QString number = JournalValueOf(reportData, QStringLiteral("DeviceNum")).trimmed();
    if (!number.isEmpty())
        return number;
    return JournalValueOf(reportData, QStringLiteral("FactoryNum")).trimmed();
}

QString TJournalRunHeader::Verifier() const
{
    return JournalValueOf(reportData, QStringLiteral("Verifier")).trimmed();
}

bool TJournalPoint::HasOverLimit() const
{
    for (const TJournalError &e : errors)
        if (e.overLimit)
            return true;
    return false;
}

std::vector<TJournalShownTable> TJournalRun::ShownTables() const
{
    std::vector<TJournalShownTable> out;
    std::map<int, size_t> byTab;
    for (const TJournalTable &t : header.tables) {
        TJournalShownTable shown;
        shown.layout = &t;
        for (const QStringList &cells : t.rows) {
            TJournalShownRow row;
            row.cells = cells;
            row.marks.assign(size_t(cells.size()), false);
            shown.rows.push_back(std::move(row));
        }
        byTab[t.tab] = out.size();
        out.push_back(std::move(shown));
    }
    for (const TJournalPoint &p : points) {
        const auto it = byTab.find(p.tab);
        if (it == byTab.end() || p.row < 1 || p.row > 1000)
            continue;
        auto &rows = out[it->second].rows;
        // A row beyond the table of the start (the table grew after the header was written).
        if (size_t(p.row) > rows.size()) {
            rows.resize(size_t(p.row));
        }
        TJournalShownRow &row = rows[size_t(p.row) - 1];
        row.cells = p.cells;
        row.marks = p.marks;
        row.marks.resize(size_t(p.cells.size()), false);
        row.measured = true;
    }
    return out;
}

int TJournalRun::ResumePosition() const
{
    size_t at = 0;
    for (const TJournalPoint &p : points) {
        for (size_t i = at; i < header.planned.size(); ++i) {
            if (header.planned[i] == TJournalPointRef{p.tab, p.row}) {
                at = i + 1;
                break;
            }
        }
    }
    return int(at);
}

QString TJournalRunSummary::ResultText() const
{
    switch (outcome) {
    case TJournalOutcome::Open:
        return QStringLiteral("Не завершена");
    case TJournalOutcome::Stopped:
        return QStringLiteral("Остановлена");
    case TJournalOutcome::Failed:
        return error.isEmpty() ? QStringLiteral("Ошибка") : QStringLiteral("Ошибка: ") + error;
    case TJournalOutcome::Finished:
        if (kind == TJournalRunKind::Tuning)
            return QStringLiteral("Настроен");
        if (failedPoints > 0)
            return QStringLiteral("Не пройдена: точек с превышением %1").arg(failedPoints);
        return QStringLiteral("Пройдена");
    }
    return QString();
}
