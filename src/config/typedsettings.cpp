#include "config/typedsettings.h"

QString TTypedSettings::ReadText(const QString &section, const QString &key, const QString &defaultValue) const
{
    try {
        return portConfig->ini.ReadString(section, key, defaultValue);
    } catch (...) {
        return defaultValue;
    }
}

void TTypedSettings::WriteText(const QString &section, const QString &key, const QString &value)
{
    try {
        portConfig->ini.WriteString(section, key, value);
    } catch (...) {
    }
}

bool TTypedSettings::ReadFlag(const QString &section, const QString &key, bool defaultValue) const
{
    try {
        return portConfig->ini.ReadBool(section, key, defaultValue);
    } catch (...) {
        return defaultValue;
    }
}

void TTypedSettings::WriteFlag(const QString &section, const QString &key, bool value)
{
    try {
        portConfig->ini.WriteBool(section, key, value);
    } catch (...) {
    }
}
