#include "config/devicesettingsconfig.h"

#include <QDir>
#include <QFileInfo>

TDeviceSettingsConfig::TDeviceSettingsConfig(TConfigController *configController) : TTypedSettings(configController)
{
    const QString folder = ReportsFolder();
    if (!QFileInfo(folder).isDir())
        QDir().mkdir(folder); // a failure shows later, when a report cannot be saved
}

QString TDeviceSettingsConfig::ReportsFolder() const
{
    return portConfig->programFolder + QStringLiteral("/Отчёты");
}

QString TDeviceSettingsConfig::ReadDeviceConfigurationIndex() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("ConfigIndex"), QStringLiteral("1"));
}

void TDeviceSettingsConfig::WriteDeviceConfigurationIndex(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("ConfigIndex"), value);
}

QString TDeviceSettingsConfig::ReadDeviceSpeedIndex() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("DeviceSpeedIndex"), QStringLiteral("3"));
}

void TDeviceSettingsConfig::WriteDeviceSpeedIndex(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("DeviceSpeedIndex"), value);
}

QString TDeviceSettingsConfig::ReadKU1() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("KU1"), QStringLiteral("100"));
}

void TDeviceSettingsConfig::WriteKU1(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("KU1"), value);
}

QString TDeviceSettingsConfig::ReadKU2() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("KU2"), QStringLiteral("100"));
}

void TDeviceSettingsConfig::WriteKU2(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("KU2"), value);
}

QString TDeviceSettingsConfig::ReadKI1() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("KI1"), QStringLiteral("5"));
}

void TDeviceSettingsConfig::WriteKI1(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("KI1"), value);
}

QString TDeviceSettingsConfig::ReadKI2() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("KI2"), QStringLiteral("5"));
}

void TDeviceSettingsConfig::WriteKI2(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("KI2"), value);
}
