#pragma once
// The register of instrument types "Типы СИ": a table (name, ГРСИ number, МП, interval, permissible
// error, verification kind), "Показать выведенные", and "Добавить…", "Изменить…", "Вывести из
// обращения". Entries are saved through the registry at once; retired ones are kept, greyed, and
// shown only on request. Object names for tests: "typesTable", "showRetired", "addButton",
// "editButton", "retireButton"; the edit dialog opens window-modal as a child TInstrumentTypeDialog.

#include "journal/labregistry.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class QPushButton;
class QTableWidget;

class TInstrumentTypesWindow : public QWidget {
    Q_OBJECT
public:
    // `registry` is not owned and outlives the window.
    explicit TInstrumentTypesWindow(ILabRegistry *registry, QWidget *parent = nullptr);

    // Reads the register again, keeping the selected entry selected.
    void Reload();
    // The entry of the current row; nullptr when none.
    const TInstrumentType *Selected() const;

private:
    void Select(const QString &id);
    void UpdateButtons();
    void Add();
    void Edit();
    void Retire();
    void OpenDialog(const TInstrumentType &type);
    bool Save(TInstrumentType &type);

    ILabRegistry *registry_;
    std::vector<TInstrumentType> shown_;
    QTableWidget *table_ = nullptr;
    QCheckBox *showRetired_ = nullptr;
    QPushButton *edit_ = nullptr;
    QPushButton *retire_ = nullptr;
};
