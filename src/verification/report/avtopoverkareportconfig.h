#pragma once
// The protocol data and the two template paths in the settings (section "Report"), and the
// reports folder ("Отчёты" beside the settings file). Reads never raise: a failed read gives the
// default, a failed write is dropped.

#include "config/configcontroller.h"
#include "verification/report/reportdata.h"

#include <QDate>
#include <QString>

#include <optional>

class TAvtopoverkaReportConfig {
public:
    // Makes sure the reports folder exists and holds the templates shipped with the program.
    explicit TAvtopoverkaReportConfig(TConfigController *configController);

    TConfigController *const appConfig; // not owned; outlives this object

    // The stored fields; the transformation coefficients come from the device settings.
    TReportData ReadReportData() const;
    // Stores every field except the transformation coefficients.
    void WriteReportData(const TReportData &value);
    QString ReadWordTemplatePath() const;
    void WriteWordTemplatePath(const QString &value);
    QString ReadExcelTemplatePath() const;
    void WriteExcelTemplatePath(const QString &value);

    QString ReportsFolder() const;

    // Dates are written and read in the Russian short format.
    static QString FormatDate(const QDate &date);
    // nullopt for text that is not a date in that format.
    static std::optional<QDate> ParseDate(const QString &text);

private:
    QString Read(const char *key, const QString &defaultValue = QString()) const;
    void Write(const char *key, const QString &value);
};
