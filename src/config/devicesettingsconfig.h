#pragma once
// The main window's device configuration and RS-485 speed selections and the transformation
// coefficients, kept as texts.

#include "config/typedsettings.h"

class TDeviceSettingsConfig : public TTypedSettings {
public:
    // Also makes sure the reports folder exists in the program folder.
    explicit TDeviceSettingsConfig(TConfigController *configController);

    // The folder the verification windows save their reports in ("Отчёты" in the program folder).
    QString ReportsFolder() const;

    QString ReadDeviceConfigurationIndex() const;
    void WriteDeviceConfigurationIndex(const QString &value);
    QString ReadDeviceSpeedIndex() const;
    void WriteDeviceSpeedIndex(const QString &value);
    QString ReadKU1() const;
    void WriteKU1(const QString &value);
    QString ReadKU2() const;
    void WriteKU2(const QString &value);
    QString ReadKI1() const;
    void WriteKI1(const QString &value);
    QString ReadKI2() const;
    void WriteKI2(const QString &value);
};
