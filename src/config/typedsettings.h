#pragma once
// Common ground of the named settings classes: they keep no values of their own, every read goes to
// the file (so a value written through one object is seen at once by all others), and no read or
// write ever raises.

#include "config/configcontroller.h"

class TTypedSettings {
public:
    explicit TTypedSettings(TConfigController *config) : portConfig(config) { }

    TConfigController *const portConfig; // not owned; outlives this object

protected:
    QString ReadText(const QString &section, const QString &key, const QString &defaultValue) const;
    void WriteText(const QString &section, const QString &key, const QString &value);
    bool ReadFlag(const QString &section, const QString &key, bool defaultValue) const;
    void WriteFlag(const QString &section, const QString &key, bool value);
};
