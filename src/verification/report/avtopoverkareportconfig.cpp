#include "verification/report/avtopoverkareportconfig.h"

#include "config/devicesettingsconfig.h"
#include "verification/report/reporttemplates.h"

namespace {
const QString kSection = QStringLiteral("Report");
const QString kDateFormat = QStringLiteral("dd.MM.yyyy");
} // namespace

TAvtopoverkaReportConfig::TAvtopoverkaReportConfig(TConfigController *configController) : appConfig(configController)
{
    const TDeviceSettingsConfig device(appConfig); // creates the reports folder when it is missing
    TReportTemplates::InstallInto(device.ReportsFolder());
}

QString TAvtopoverkaReportConfig::ReportsFolder() const
{
    return TDeviceSettingsConfig(appConfig).ReportsFolder();
}

QString TAvtopoverkaReportConfig::Read(const char *key, const QString &defaultValue) const
{
    try {
        return appConfig->ini.ReadString(kSection, QString::fromLatin1(key), defaultValue);
    } catch (...) {
        return defaultValue;
    }
}

void TAvtopoverkaReportConfig::Write(const char *key, const QString &value)
{
    try {
        appConfig->ini.WriteString(kSection, QString::fromLatin1(key), value);
    } catch (...) {
    }
}

QString TAvtopoverkaReportConfig::FormatDate(const QDate &date)
{
    return date.toString(kDateFormat);
}

std::optional<QDate> TAvtopoverkaReportConfig::ParseDate(const QString &text)
{
    const QDate date = QDate::fromString(text.trimmed(), kDateFormat);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

TReportData TAvtopoverkaReportConfig::ReadReportData() const
{
    TReportData data;
    data.ProtocolNum = Read("ProtocolNum");
    data.DeviceName = Read("DeviceName");
    data.DeviceNum = Read("DeviceNum");
    data.Date = Read("Date", FormatDate(QDate::currentDate()));
    data.FactoryNum = Read("FactoryNum");
    data.Conditions = Read("Conditions");
    data.EquipmentName = Read("EquipmentName");
    data.PoverkaDoc = Read("PoverkaDoc");
    data.Inspection = Read("Inspection");
    data.ElectricityStrength = Read("ElectricityStrength");
    data.Pulsation = Read("Pulsation");
    data.Conclusion = Read("Conclusion");
    data.Verifier = Read("Verifier");
    data.LabName = Read("LabName");
    data.LabAccreditation = Read("LabAccreditation");
    data.DeviceOwner = Read("DeviceOwner");
    data.DeviceType = Read("DeviceType");
    data.RegistryNum = Read("RegistryNum");
    data.PoverkaMethod = Read("PoverkaMethod");
    data.Checker = Read("Checker");
    const TDeviceSettingsConfig device(appConfig);
    data.KU1 = device.ReadKU1();
    data.KU2 = device.ReadKU2();
    data.KI1 = device.ReadKI1();
    data.KI2 = device.ReadKI2();
    return data;
}

void TAvtopoverkaReportConfig::WriteReportData(const TReportData &value)
{
    // One write of the file for the whole header (either all fields reach it or none).
    std::optional<TIniBatch> batch;
    try {
        batch.emplace(appConfig->ini);
    } catch (...) {
    }
    Write("ProtocolNum", value.ProtocolNum);
    Write("DeviceName", value.DeviceName);
    Write("DeviceNum", value.DeviceNum);
    Write("Date", value.Date);
    Write("FactoryNum", value.FactoryNum);
    Write("Conditions", value.Conditions);
    Write("EquipmentName", value.EquipmentName);
    Write("PoverkaDoc", value.PoverkaDoc);
    Write("Inspection", value.Inspection);
    Write("ElectricityStrength", value.ElectricityStrength);
    Write("Pulsation", value.Pulsation);
    Write("Conclusion", value.Conclusion);
    Write("Verifier", value.Verifier);
    Write("LabName", value.LabName);
    Write("LabAccreditation", value.LabAccreditation);
    Write("DeviceOwner", value.DeviceOwner);
    Write("DeviceType", value.DeviceType);
    Write("RegistryNum", value.RegistryNum);
    Write("PoverkaMethod", value.PoverkaMethod);
    Write("Checker", value.Checker);
    try {
        if (batch)
            batch->Commit();
    } catch (...) {
    }
}

QString TAvtopoverkaReportConfig::ReadWordTemplatePath() const
{
    return Read("TemplateWordPath");
}

void TAvtopoverkaReportConfig::WriteWordTemplatePath(const QString &value)
{
    Write("TemplateWordPath", value);
}

QString TAvtopoverkaReportConfig::ReadExcelTemplatePath() const
{
    return Read("TemplateExcelPath");
}

void TAvtopoverkaReportConfig::WriteExcelTemplatePath(const QString &value)
{
    Write("TemplateExcelPath", value);
}
