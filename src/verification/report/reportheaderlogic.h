#pragma once
// The report header window's logic: loads the protocol data and the template paths into the view,
// stores what the user confirms. No widgets here; TForm6 is the view.

#include "config/configcontroller.h"
#include "verification/report/reportdata.h"

#include <QDate>
#include <QString>

class IReportHeaderView {
public:
    virtual ~IReportHeaderView() = default;
    virtual void ShowFields(
        const TReportData &data, const QDate &date, const QString &wordTemplate, const QString &excelTemplate)
        = 0;
    virtual void ShowError(const QString &text) = 0;
    virtual void CloseWindow() = 0;
};

class TReportHeaderLogic {
public:
    TReportHeaderLogic(TConfigController *settings, IReportHeaderView *view);

    // On creation: the stored data into the fields. A stored date that is not a date shows today
    // and says so, instead of leaving the window closed.
    void Load();
    // "ОК": the fields (the date from the picker) and both template paths stored, the window closed.
    void Confirm(TReportData fields, const QDate &date, const QString &wordTemplate, const QString &excelTemplate);
    // Where the template dialogs open: the current template's folder, else the reports folder.
    QString TemplateFolder(const QString &currentTemplate) const;

    // The echo of the device name and number as typed; the dashes while empty.
    static QString Echo(const QString &typed, const QString &dashes);
    static constexpr const char *kNameDashes = "---";
    static constexpr const char *kNumberDashes = "----------";

private:
    TConfigController *settings_;
    IReportHeaderView *view_;
};
