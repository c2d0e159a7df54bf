#pragma once
// The register of reference standards "Эталоны": a table (name, type, serial, Fund number,
// certificate, valid until — red once overdue —, kind, out of tolerance since), "Показать
// выведенные", "Добавить…", "Изменить…", "Вывести из обращения", "Вне допуска с…"; below, the runs
// that used the selected standard (the reverse trace), those on or after its out-of-tolerance day
// flagged. Object names for tests: "standardsTable", "showRetired", "addButton", "editButton",
// "retireButton", "toleranceButton", "runsTable", "runsLabel"; the edit dialog is a child
// TStandardDialog, the date asked by "Вне допуска с…" a child QDialog "toleranceDialog" with
// "sinceDate", "okButton", "clearButton", "cancelButton". All open window-modal without blocking.

#include "journal/labregistry.h"

#include <QDate>
#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

class TStandardsWindow : public QWidget {
    Q_OBJECT
public:
    // `registry` is not owned and outlives the window.
    explicit TStandardsWindow(ILabRegistry *registry, QWidget *parent = nullptr);

    void Reload();
    // The entry of the current row; nullptr when none.
    const TStandard *Selected() const;
    // The day validity is judged against (today unless a test fixes it).
    void SetToday(const QDate &today);

    // A run made on or after the day the standard was found out of tolerance.
    static bool RunSuspect(const TStandard &standard, const TJournalRunSummary &run);

private:
    void Select(const QString &id);
    void SelectionChanged();
    void ShowRuns();
    void Add();
    void Edit();
    void Retire();
    void AskOutOfTolerance();
    void OpenDialog(const TStandard &standard);
    bool Save(TStandard &standard);

    ILabRegistry *registry_;
    std::vector<TStandard> shown_;
    QDate today_;
    QTableWidget *table_ = nullptr;
    QCheckBox *showRetired_ = nullptr;
    QPushButton *edit_ = nullptr;
    QPushButton *retire_ = nullptr;
    QPushButton *tolerance_ = nullptr;
    QLabel *runsLabel_ = nullptr;
    QTableWidget *runs_ = nullptr;
};
