// Bringing back a run from the results journal: the setup panel and the tables as the run had them,
// whether it can go on where it stopped, and (when the user agrees) going on with it.

#include "verification/run/avtopoverkalogic.h"

#include "verification/run/runjournal.h"

#include <algorithm>

bool TAvtopoverkaLogic::ShowJournalledRun(const TJournalRun &run)
{
    if (driver_.IsBusy())
        return false;
    // The setup panel as the run had it: a run that goes on sends what it sent before, and the user
    // sees what will be sent.
    const TJournalSetup &setup = run.header.setup;
    TAvtopoverkaSelections &s = ctx_.selections;
    // The journal keeps the captions the window showed ("0,5A", "380 V").
    QString range = setup.currentRange;
    range.remove(QLatin1Char('A'));
    if (const std::optional<TCurrentRange> stored = CurrentRangeFromCaption(range))
        s.currentRange = *stored;
    QString voltage = setup.voltageRange;
    voltage.remove(QStringLiteral("V"));
    if (const std::optional<TVoltageRange> stored = VoltageRangeFromCaption(voltage))
        s.voltage = *stored;
    s.scheme4 = !setup.scheme.startsWith(QLatin1Char('3'));
    const TJournalKeyValues &o = setup.options;
    s.loadMax = JournalValueOf(o, QStringLiteral("Нагрузка")) != QStringLiteral("Мин.");
    s.aru = JournalValueOf(o, QStringLiteral("АРУ")) == QStringLiteral("да");
    bool ok = false;
    const int rangeIndex = JournalValueOf(o, QStringLiteral("Диапазон")).toInt(&ok);
    if (ok)
        s.range = *URangeFromIndex(std::clamp(rangeIndex, 0, URangeIndex(TURange::R0_500)));
    const int signal = JournalValueOf(o, QStringLiteral("Выходной сигнал")).toInt(&ok);
    if (ok)
        s.outputSignalIndex = std::clamp(signal, 0, 4);
    ctx_.view->ShowSelections(s);
    UpdateNominalCurrent();
    UpdateNominalVoltage();

    const TParameters names;
    std::map<std::pair<int, int>, const TJournalPoint *> last; // the last measurement of each row
    for (const TJournalPoint &p : run.points)
        last[{p.tab, p.row}] = &p;
    for (const TJournalShownTable &shown : run.ShownTables()) {
        const TJournalTable &layout = *shown.layout;
        if (layout.tab < 0 || layout.tab >= TVerificationTabs::kMaxTabs)
            continue;
        while (tabs_.Count() <= layout.tab && tabs_.Count() < TVerificationTabs::kMaxTabs)
            tabs_.AddTab();
        if (layout.tab >= tabs_.Count())
            continue;
        TKestAvtopoverkaGrid &grid = tabs_.Grid(layout.tab);
        TGridUpdate update(grid);
        grid.Title = layout.title;
        // The output columns the run had, whatever the scenario says now.
        QStringList outputs;
        for (int col = layout.inputColumnCount; col < layout.columnNames.size(); ++col)
            if (const TParameter *p = names.GetParameterByName(layout.columnNames[col]))
                outputs << QString::number(p->index);
        if (!outputs.isEmpty())
            grid.UpdateOutputColumns(outputs);
        grid.Clear();
        for (size_t r = 0; r < shown.rows.size(); ++r) {
            const int row = int(r) + 1;
            if (row > 1 && !grid.AddEmptyRow())
                break;
            const TJournalShownRow &cells = shown.rows[r];
            for (int col = 0; col < cells.cells.size(); ++col) {
                const int at = grid.ColumnOf(layout.columnNames.value(col));
                if (at < 0)
                    continue;
                grid.SetCells(at, row, cells.cells[col]);
                grid.SetRedCell(at, row, size_t(col) < cells.marks.size() && cells.marks[size_t(col)]);
            }
            // The errors of the row, for the error chart.
            if (const auto it = last.find({layout.tab, row}); it != last.end()) {
                TSuperAvtopoverkaGrid::TRowResults results;
                results.fromJournal = true;
                TParametersForGridRow rs;
                for (const TJournalError &e : it->second->errors) {
                    const TParameter *named = names.GetParameterByIndex(e.param);
                    if (!named)
                        continue;
                    TParameterForGrid item = layout.rsInterface ? TParameterForGrid(*named, QString(), e.error, *named)
                                                                : TParameterForGrid(*named, 0.0, e.error);
                    item.isBiggerThanThreshold = e.overLimit;
                    if (layout.rsInterface)
                        rs.AddParameter(item);
                    else
                        results.analog[e.param] = item;
                }
                if (rs.arrayLength > 0)
                    results.rs = rs;
                grid.SetRowResults(row, results);
            }
        }
        grid.isFirstRowFilled = !shown.rows.empty();
        grid.SetSelectedRow(1);
    }
    tabs_.RefreshCaptions();
    const int resume = run.ResumePosition();
    const auto &planned = run.header.planned;
    // A run to go on shows the tab of its next point; one only looked at, its first tab.
    const size_t shown = readOnly_ ? 0 : size_t(std::min<int>(resume, int(planned.size()) - 1));
    const int tab = planned.empty() ? 0 : planned[shown].tab;
    if (tab >= 0 && tab < tabs_.Count() && !tabs_.IsHidden(tab)) {
        tabs_.SelectTab(tab);
        ctx_.view->SetActiveTab(tab);
    }
    Lock(readOnly_);
    return true;
}

QString TAvtopoverkaLogic::ContinueProblem(const TJournalRun &run)
{
    const auto &planned = run.header.planned;
    const int resume = run.ResumePosition();
    if (planned.empty() || size_t(resume) >= planned.size())
        return QStringLiteral("Все точки поверки уже измерены.");
    const std::optional<TRunScope> scope = KestRunJournal::ScopeOf(run.header.runMode);
    if (!scope)
        return QStringLiteral("Неизвестный вид запуска поверки «%1».").arg(run.header.runMode);
    const int tab = planned.front().tab;
    if (tab < 0 || tab >= tabs_.Count())
        return QStringLiteral("Вкладки поверки нет в окне.");
    // The plan is taken again from the tables as they now stand: it must be the journalled one, or
    // the points would land in other rows.
    if (*scope != TRunScope::AllTabs) {
        tabs_.SelectTab(tab);
        ctx_.view->SetActiveTab(tab);
        if (*scope == TRunScope::SelectedRow)
            tabs_.Grid(tab).SetSelectedRow(planned.front().row);
    }
    const std::vector<TRunPoint> plan = PlanOf(*scope);
    bool same = plan.size() == planned.size();
    for (size_t k = 0; same && k < plan.size(); ++k)
        same = plan[k].tab == planned[k].tab && plan[k].row == planned[k].row;
    if (!same)
        return QStringLiteral("Точки в таблицах не совпадают с точками прерванной поверки.");
    for (const TJournalTable &t : run.header.tables)
        if (t.tab < tabs_.Count() && t.rsInterface == tabs_.IsAnalog(t.tab))
            return QStringLiteral("Интерфейс вкладки «%1» изменён в настройке сценария.").arg(TabName(t.tab));
    if (ConfigurationFromName(run.header.configuration) != ctx_.code)
        return QStringLiteral("Поверка велась в окне конфигурации «%1».").arg(run.header.configuration);
    return QString();
}

bool TAvtopoverkaLogic::ContinueJournalledRun(const TJournalRun &run)
{
    if (readOnly_ || driver_.IsBusy())
        return false;
    if (const QString problem = ContinueProblem(run); !problem.isEmpty()) {
        ctx_.view->ShowError(problem);
        return false;
    }
    if (recorder_)
        recorder_->ContinueWith(run.header.id);
    const bool started = StartFrom(*KestRunJournal::ScopeOf(run.header.runMode), run.ResumePosition());
    if (!started && recorder_)
        recorder_->ContinueWith(TJournalRunId());
    return started;
}

// ---- extra panel ----

bool TAvtopoverkaLogic::OfferToContinue(const TJournalRun &run)
{
    const QString problem = ContinueProblem(run);
    const int next = run.ResumePosition() + 1;
    const int total = int(run.header.planned.size());
    bool continued = false;
    if (problem.isEmpty()) {
        if (ctx_.view->Confirm(QStringLiteral("Восстановление поверки"),
                QStringLiteral("Продолжить поверку с точки %1 из %2?").arg(next).arg(total)))
            continued = ContinueJournalledRun(run);
    } else if (next <= total) {
        ctx_.view->ShowMessage(
            QStringLiteral("Поверку нельзя продолжить: %1 Измеренные точки восстановлены.").arg(problem));
    }
    // A run not taken up again ends here, so that it is offered no more.
    if (!continued && Journal())
        Journal()->EndRun(run.header.id, TJournalRunEnd::Interrupted());
    return continued;
}
