#include "verification/run/verificationtabs.h"

TVerificationTabs::TVerificationTabs(TAvtopoverkaContext &ctx) : ctx_(ctx) { }

int TVerificationTabs::HiddenCount() const
{
    int n = 0;
    for (const bool h : hidden_)
        n += h ? 1 : 0;
    return n;
}

bool TVerificationTabs::IsAnalog(int tab) const
{
    return InterfaceValueIsAnalog(interfaces_.value(tab, QStringLiteral("0")));
}

void TVerificationTabs::UpdateTabInterface()
{
    interfaces_ = ctx_.avtopoverkaConfig->ReadInterfaceValues();
}

void TVerificationTabs::AddTab()
{
    if (Count() >= kMaxTabs) {
        if (!ctx_.type.reshowHiddenTabs)
            return;
        for (int tab = 0; tab < Count(); ++tab) {
            if (hidden_[size_t(tab)]) {
                hidden_[size_t(tab)] = false;
                ctx_.view->SetTabVisible(tab, true);
                break;
            }
        }
        UpdatePlus();
        return;
    }
    auto grid = std::make_unique<TKestAvtopoverkaGrid>();
    IAvtopoverkaView *view = ctx_.view;
    grid->SetMessageHandler([view](const QString &text) { view->ShowMessage(text); });
    grid->AddColumnI();
    grid->AddColumnU();
    grid->AddColumnAngle();
    grid->AddColumnFreq();
    const int tab = Count();
    grid->Title = ctx_.avtopoverkaConfig->ReadTabNames().value(tab);
    grids_.push_back(std::move(grid));
    hidden_.push_back(false);
    ctx_.view->AddTabPage(tab, grids_.back().get());
    active_ = tab;
    ctx_.view->SetActiveTab(tab);
    RefreshCaptions();
    UpdatePlus();
    AfterTabAdded(tab);
}

void TVerificationTabs::AfterTabAdded(int tab)
{
    UpdateTabInterface();
    SetColumns(tab, false);
}

void TVerificationTabs::SetColumns(int tab, bool update)
{
    if (shownPlans_.size() < size_t(Count()))
        shownPlans_.resize(size_t(Count()));
    shownPlans_[size_t(tab)] = AnalogPlan(tab);
    if (update)
        Grid(tab).UpdateOutputColumns(OutputColumns(tab));
    else
        Grid(tab).SetOutputColumns(OutputColumns(tab));
}

void TVerificationTabs::CloseTab()
{
    if (VisibleCount() < 2)
        return;
    hidden_[size_t(active_)] = true;
    ctx_.view->SetTabVisible(active_, false);
    // The first tab still shown (the first one may itself be closed).
    for (int tab = 0; tab < Count(); ++tab) {
        if (!hidden_[size_t(tab)]) {
            SelectTab(tab);
            ctx_.view->SetActiveTab(tab);
            break;
        }
    }
    UpdatePlus();
}

void TVerificationTabs::SelectTab(int tab)
{
    if (tab < 0 || tab >= Count())
        return;
    active_ = tab;
    UpdateTabInterface();
}

void TVerificationTabs::UpdatePlus()
{
    ctx_.view->SetPlusVisible(Count() < kMaxTabs || (ctx_.type.reshowHiddenTabs && HiddenCount() > 0));
}

QStringList TVerificationTabs::OutputColumns(int tab) const
{
    QStringList columns;
    if (IsAnalog(tab)) {
        for (const auto &[input, param] : AnalogPlan(tab))
            columns << QString::number(param);
        return columns;
    }
    if (!ctx_.type.fixedOutputs.empty()) {
        for (const int p : ctx_.type.fixedOutputs)
            columns << QString::number(p);
        return columns;
    }
    return ctx_.avtopoverkaConfig->ReadTabOutputSet(tab);
}

std::vector<std::pair<int, int>> TVerificationTabs::AnalogPlan(int tab) const
{
    std::vector<std::pair<int, int>> plan;
    if (!IsAnalog(tab))
        return plan;
    const std::array<int, 3> params = ctx_.AnalogParams(tab);
    for (const QString &text : ctx_.AnalogInputs(tab)) {
        const int input = text.toInt();
        if (input >= 1 && input <= 3 && params[size_t(input - 1)] != 0)
            plan.emplace_back(input, params[size_t(input - 1)]);
    }
    return plan;
}

std::vector<std::pair<int, int>> TVerificationTabs::ShownAnalogPlan(int tab) const
{
    return size_t(tab) < shownPlans_.size() ? shownPlans_[size_t(tab)] : std::vector<std::pair<int, int>>();
}

QString TVerificationTabs::AnalogMismatch(int tab) const
{
    const std::vector<std::pair<int, int>> now = AnalogPlan(tab);
    const std::vector<std::pair<int, int>> shown = ShownAnalogPlan(tab);
    if (now == shown)
        return QString();
    static const TParameters names;
    auto text = [](const std::vector<std::pair<int, int>> &plan) {
        QStringList items;
        for (const auto &[input, param] : plan) {
            const TParameter *p = names.GetParameterByIndex(param);
            items << QStringLiteral("выход %1 — %2").arg(input).arg(p ? p->name : QString::number(param));
        }
        return items.isEmpty() ? QStringLiteral("нет") : items.join(QStringLiteral(", "));
    };
    const QString &title = Grid(tab).Title;
    return QStringLiteral("Аналоговые выходы прибора назначены не так, как показывают столбцы вкладки «%1»: "
                          "прибор — %2; вкладка — %3.")
        .arg(title.isEmpty() ? QString::number(tab + 1) : title, text(now), text(shown));
}

void TVerificationTabs::AfterScenarioChanged()
{
    UpdateTabInterface();
    const QStringList names = ctx_.avtopoverkaConfig->ReadTabNames();
    for (int tab = 0; tab < Count(); ++tab) {
        SetColumns(tab, true);
        TKestAvtopoverkaGrid &grid = Grid(tab);
        grid.Title = names.value(tab);
        grid.RepopulateGrid();
    }
    RefreshCaptions();
}

void TVerificationTabs::RefreshCaptions()
{
    for (int tab = 0; tab < Count(); ++tab)
        ctx_.view->SetTabCaption(tab, Grid(tab).Title.isEmpty() ? QString::number(tab + 1) : Grid(tab).Title);
}

std::vector<TRunPoint> TVerificationTabs::RowsOf(int tab) const
{
    std::vector<TRunPoint> points;
    const TKestAvtopoverkaGrid &grid = Grid(tab);
    if (!grid.isFirstRowFilled)
        return points;
    const bool rs = !IsAnalog(tab);
    for (int row = 1; row < grid.RowCount(); ++row) {
        TRunPoint p;
        p.tab = tab;
        p.row = row;
        p.input = grid.GetRowInputData(row);
        p.input.IsRsInterface = rs;
        points.push_back(p);
    }
    return points;
}

void TVerificationTabs::CopyFromActive()
{
    rowBuffer_.clear();
    for (const TRunPoint &p : RowsOf(active_))
        rowBuffer_.push_back(p.input);
    ctx_.view->SetPasteEnabled(!rowBuffer_.empty());
}

void TVerificationTabs::PasteIntoActive()
{
    TKestAvtopoverkaGrid &grid = Current();
    TGridUpdate update(grid);
    grid.Clear();
    for (const TInputData &input : rowBuffer_)
        if (!grid.AddRow(input))
            break;
}
