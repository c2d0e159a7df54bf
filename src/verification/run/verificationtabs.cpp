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
        const std::array<int, 3> params = ctx_.AnalogParams(tab);
        for (const QString &input : ctx_.AnalogInputs(tab)) {
            const int param = params[size_t(input.toInt() - 1)];
            if (param != 0)
                columns << QString::number(param);
        }
        return columns;
    }
    if (!ctx_.type.fixedOutputs.empty()) {
        for (const int p : ctx_.type.fixedOutputs)
            columns << QString::number(p);
        return columns;
    }
    return ctx_.avtopoverkaConfig->ReadTabOutputSet(tab);
}

void TVerificationTabs::AfterScenarioChanged()
{
    UpdateTabInterface();
    const QStringList names = ctx_.avtopoverkaConfig->ReadTabNames();
    for (int tab = 0; tab < Count(); ++tab) {
        TKestAvtopoverkaGrid &grid = Grid(tab);
        grid.UpdateOutputColumns(OutputColumns(tab));
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
