#pragma once
// The tabs of a verification window and their tables: up to ten, each with its table of test points,
// its title, whether it is shown, and whether it reads the transducer over RS or through its analog
// outputs. Sets up each table's output columns from the configuration (or the fixed set of the current
// and voltage windows) and collects the points of a run.

#include "verification/avtopoverkagrid.h"
#include "verification/run/avtopoverkacontext.h"
#include "verification/run/runobserver.h"

#include <memory>
#include <utility>
#include <vector>

class TVerificationTabs {
public:
    static constexpr int kMaxTabs = TSuperAvtopoverkaConfig::kTabCount;

    explicit TVerificationTabs(TAvtopoverkaContext &ctx);

    int Count() const { return int(grids_.size()); }
    int Active() const { return active_; }
    TKestAvtopoverkaGrid &Grid(int tab) { return *grids_[size_t(tab)]; }
    const TKestAvtopoverkaGrid &Grid(int tab) const { return *grids_[size_t(tab)]; }
    TKestAvtopoverkaGrid &Current() { return Grid(active_); }
    bool IsHidden(int tab) const { return hidden_[size_t(tab)]; }
    int HiddenCount() const;
    int VisibleCount() const { return Count() - HiddenCount(); }
    // Whether the tab reads analog outputs, by the interface values read last (UpdateTabInterface).
    bool IsAnalog(int tab) const;

    // "+": a new tab (with ten, a closed one shown again where the window does that).
    void AddTab();
    // "Закрыть вкладку": hides the active tab while another is shown; its table and data stay.
    void CloseTab();
    // The user (or a run) made a tab active.
    void SelectTab(int tab);
    // After the scenario window: interfaces, columns, titles and captions from the configuration again.
    void AfterScenarioChanged();
    void UpdateTabInterface();

    // The output columns a tab's table should have: parameter numbers as text.
    QStringList OutputColumns(int tab) const;
    // An analog tab's (input 1–3, parameter) pairs by the assignment in force now (the device's, the
    // window's fixed one or the stored one), in the order of the tab's inputs; empty for an RS tab.
    std::vector<std::pair<int, int>> AnalogPlan(int tab) const;
    // The pairs the tab's columns were built from: what a run fills, cell by cell.
    std::vector<std::pair<int, int>> ShownAnalogPlan(int tab) const;
    // Empty when the tab's columns show what the assignment in force puts on its inputs; otherwise the
    // two assignments, for the user.
    QString AnalogMismatch(int tab) const;

    // Rows 1 and up of a tab that has data, as points of a run.
    std::vector<TRunPoint> RowsOf(int tab) const;

    // "Копировать из вкладки" / "Вставить".
    void CopyFromActive();
    void PasteIntoActive();
    bool HasCopy() const { return !rowBuffer_.empty(); }

    void RefreshCaptions();

private:
    void AfterTabAdded(int tab);
    void UpdatePlus();
    void SetColumns(int tab, bool update);

    TAvtopoverkaContext &ctx_;
    std::vector<std::unique_ptr<TKestAvtopoverkaGrid>> grids_;
    std::vector<bool> hidden_;
    int active_ = 0;
    QStringList interfaces_; // one per tab, as stored ("0" RS, "-1" analog)
    std::vector<TInputData> rowBuffer_;
    std::vector<std::vector<std::pair<int, int>>> shownPlans_; // per tab, as its columns were built
};
