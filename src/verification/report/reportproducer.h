#pragma once
// Producing a verification protocol from the tables of a verification window: the header data
// from the settings, every tab with data as a numbered table (without the input columns the tab
// leaves out, with its marked cells shaded), written through the Word or the Excel back end, and
// optionally turned into PDF. The window (or the command line) only calls Produce; what it shows
// goes through IReportView.

#include "config/configcontroller.h"
#include "verification/report/reportdata.h"
#include "verification/report/reportmanager.h"
#include "verification/report/reporttable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class IReportView {
public:
    virtual ~IReportView() = default;
    // The hourglass cursor on while a report is produced, off afterwards.
    virtual void SetBusy(bool busy) = 0;
    // false: the menu items "Отчёт", "Настройка отчёта" and "Закрыть вкладку" are disabled;
    // true: they are restored as they were. Always called in pairs, also after a failure.
    virtual void SetReportCommandsEnabled(bool enabled) = 0;
    virtual void ShowError(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;
    // The finished report, to be opened with the desktop's default application.
    virtual void OpenDocument(const QString &path) = 0;
};

enum class TReportFormat { Word, Excel, Pdf };

// One tab of the verification window.
struct TReportTab {
    TReportTable table;
    bool hasData = false; // the tab's table holds measured rows
    QStringList removedInputs; // the tab's removed input set as stored ("100" … "103")
};

struct TReportRequest {
    TReportRequest(TReportFormat format_ = TReportFormat::Word, QString templatePath_ = QString(),
        QString outputPath_ = QString(), bool openWhenDone_ = true)
        : format(format_), templatePath(std::move(templatePath_)), outputPath(std::move(outputPath_)),
          openWhenDone(openWhenDone_)
    {
    }
    TReportFormat format = TReportFormat::Word;
    QString templatePath; // empty: the template of the settings, else the shipped one
    QString outputPath; // empty: "Отчёт", "Отчёт1" … in the reports folder; else exactly this file
    bool openWhenDone = true;
    // The header data to write instead of the settings' (a journalled run's, as they were when it ran).
    std::optional<TReportData> headerData;
    // The laboratory's placeholders of the run ("TypeNumber", "Temperature", "Standards", "Verdict" …),
    // filled after the header's. "Conditions", "EquipmentName" and "Conclusion" of the header are made
    // from them where the header leaves those empty; "TypeNumber", "Procedure" and "Owner" left empty
    // by the records take the header's register number, method and owner.
    QList<QPair<QString, QString>> labFields;
};

class TReportProducer {
public:
    TReportProducer(TConfigController *settings, IReportView *view);

    // The finished report's path, or empty when nothing was produced (the view was told why).
    QString Produce(const TReportRequest &request, const QList<TReportTab> &tabs);

    // The table as reported: the tab's removed input columns left out, every other column and
    // row (header included) as it is, widths 40 for the quantities of the program, and every mark
    // carried into the column its cell moved to.
    static TReportTable ReportTable(const TReportTab &tab);
    static TReportMarks ReportMarks(const TReportTab &tab);
    static void FillReportHeader(const TReportData &data, TReportManager &manager);
    // The header with the laboratory's records standing in for what it leaves empty, and the records'
    // placeholders with the header standing in for theirs (see TReportRequest::labFields).
    static TReportData WithLabFields(TReportData data, QList<QPair<QString, QString>> &labFields);
    // The laboratory's placeholders, in the order they are filled.
    static const QStringList &LabFieldNames();
    static void AddTablesToReport(const QList<TReportTab> &tabs, TReportManager &manager);

    // The permissible error as written beside a table: "±0,2 %" for 0.2; empty for none (0).
    static QString PermissibleText(double percent);

    // Empty when PDF can be written; otherwise what to install.
    static QString PdfUnavailableReason();

    // The names of the input columns, by input number (100 "Ток" … 103 "Частота").
    static QString InputColumnName(int number);

private:
    TConfigController *settings_;
    IReportView *view_;
};
