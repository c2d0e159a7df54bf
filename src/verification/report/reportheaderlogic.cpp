#include "verification/report/reportheaderlogic.h"

#include "verification/report/avtopoverkareportconfig.h"

#include <QDir>
#include <QFileInfo>

TReportHeaderLogic::TReportHeaderLogic(TConfigController *settings, IReportHeaderView *view)
    : settings_(settings), view_(view)
{
}

void TReportHeaderLogic::Load()
{
    const TAvtopoverkaReportConfig config(settings_);
    const TReportData data = config.ReadReportData();
    QDate date = QDate::currentDate();
    if (const auto stored = TAvtopoverkaReportConfig::ParseDate(data.Date))
        date = *stored;
    view_->ShowFields(data, date, config.ReadWordTemplatePath(), config.ReadExcelTemplatePath());
    if (!TAvtopoverkaReportConfig::ParseDate(data.Date))
        view_->ShowError(QStringLiteral("Дата поверки «%1» в настройках не является датой (ожидается ДД.ММ.ГГГГ); "
                                        "показана сегодняшняя дата.")
                             .arg(data.Date));
}

void TReportHeaderLogic::Confirm(
    TReportData fields, const QDate &date, const QString &wordTemplate, const QString &excelTemplate)
{
    TAvtopoverkaReportConfig config(settings_);
    fields.Date = TAvtopoverkaReportConfig::FormatDate(date.isValid() ? date : QDate::currentDate());
    config.WriteReportData(fields);
    config.WriteWordTemplatePath(wordTemplate);
    config.WriteExcelTemplatePath(excelTemplate);
    view_->CloseWindow();
}

QString TReportHeaderLogic::TemplateFolder(const QString &currentTemplate) const
{
    if (!currentTemplate.isEmpty()) {
        const QFileInfo current(currentTemplate);
        if (current.absoluteDir().exists())
            return current.absolutePath();
    }
    return TAvtopoverkaReportConfig(settings_).ReportsFolder();
}

QString TReportHeaderLogic::Echo(const QString &typed, const QString &dashes)
{
    return typed.isEmpty() ? dashes : typed;
}
