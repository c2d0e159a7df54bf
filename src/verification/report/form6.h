#pragma once
// The report header window "Отчёт" (modeless): the protocol data, the date picker and the two
// template paths. Thin: TReportHeaderLogic loads and stores.

#include "journal/labrecords.h"
#include "verification/report/reportheaderlogic.h"

#include <QWidget>

#include <functional>
#include <map>
#include <vector>

class ILabRegistry;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;

class TForm6 : public QWidget, private IReportHeaderView {
    Q_OBJECT
public:
    // Loads the stored data at once; `parent` may be null (the window is top-level either way). With a
    // register of instrument types, "Тип СИ из реестра" fills the type, its register number and method,
    // and the choice is remembered for the device number, as is whether the device is used as a
    // standard (its record is due at the Fund sooner) with its registration number as one.
    explicit TForm6(TConfigController *settings, QWidget *parent = nullptr, ILabRegistry *registry = nullptr);
    ~TForm6() override;

    // Chooses a template file starting in a folder; the file dialog unless replaced (tests).
    using TFileChooser = std::function<QString(QWidget *parent, const QString &folder)>;
    void SetFileChooser(TFileChooser chooser) { chooser_ = std::move(chooser); }

private:
    void ShowFields(
        const TReportData &data, const QDate &date, const QString &wordTemplate, const QString &excelTemplate) override;
    void ShowError(const QString &text) override;
    void CloseWindow() override;
    void ChooseTemplate(QLineEdit *field);
    void Confirm();
    QLineEdit *Field(const char *name) const;
    void TypeChosen(int index);
    void SelectRememberedType();
    void ShowStandardUse(bool used);

    TReportHeaderLogic logic_;
    std::map<std::string, QLineEdit *> fields_;
    QDateEdit *date_ = nullptr;
    QLineEdit *wordTemplate_ = nullptr;
    QLineEdit *excelTemplate_ = nullptr;
    QLabel *nameEcho_ = nullptr;
    QLabel *numberEcho_ = nullptr;
    TFileChooser chooser_;
    TConfigController *settings_ = nullptr;
    QComboBox *type_ = nullptr; // null without a register, as the two below
    QCheckBox *usedAsStandard_ = nullptr;
    QLineEdit *standardRegNumber_ = nullptr;
    std::vector<TInstrumentType> types_;
};
