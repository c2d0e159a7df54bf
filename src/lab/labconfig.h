#pragma once
// The laboratory's settings (section "Lab"):
//   OverdueStandards  "warn" (default) or "block": what a standard out of its verification does to a
//                     run's start; any other text reads as "warn"
//   BenchStandards    ids of the standards this bench uses, comma-separated; empty: the registered
//                     installation-kind standards
//   MinAccuracyRatio  the lowest ratio of the permissible error to the reference's limit (default 3;
//                     a value that is not positive reads as the default)
//   TemperatureMin/Max, HumidityMin/Max, PressureMin/Max
//                     the method's normal conditions (defaults 15/25 °C, 30/80 %, 84/106 kPa; a pair
//                     whose minimum exceeds its maximum reads as the defaults)
//   LastTemperature, LastHumidity, LastPressure, LastSupplyVoltage, LastSupplyFrequency
//                     the conditions entered last, offered at the next run (empty: not entered)
//   TypeForDevice/<number>
//                     the instrument type's id last chosen for a device number (the number trimmed,
//                     with "%", "=", "[", "]" and ";" written as %XX so that any number makes a key;
//                     as every key, without regard to the letters' case)
//   StandardForDevice/<number>
//                     the device is used as a standard: its registration number as a standard in the
//                     Fund, or "1" when it has none yet; absent: not a standard (the number encoded
//                     as for TypeForDevice)
//   SignCipher, SignPass, SignMi
//                     the laboratory's data for signing its uploads to the Fund (plain texts)
// Numbers are written with the decimal comma and read with either separator.

#include "config/typedsettings.h"
#include "journal/labrecords.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class TOverduePolicy { Warn, Block };

// Whether a device is itself used as a standard, and its registration number as one.
struct TStandardUse {
    bool used = false;
    QString regNumber;
    bool operator==(const TStandardUse &) const = default;
};

class TLabConfig : public TTypedSettings {
public:
    explicit TLabConfig(TConfigController *config) : TTypedSettings(config) { }

    TOverduePolicy ReadOverdueStandards() const;
    void WriteOverdueStandards(TOverduePolicy value);

    // Trimmed, without empty entries and repeats, in the stored order.
    QStringList ReadBenchStandards() const;
    void WriteBenchStandards(const QStringList &ids);
    // The standards this bench uses out of the register: the listed ones in the listed order, or all
    // installation-kind ones when none are listed; retired ones never. Listed ids not found among the
    // unretired go to `missing` (when given), for the caller to tell.
    std::vector<TStandard> BenchStandardsOf(
        const std::vector<TStandard> &registered, QStringList *missing = nullptr) const;

    double ReadMinAccuracyRatio() const;
    void WriteMinAccuracyRatio(double value);

    TNormalConditions ReadNormalConditions() const;
    void WriteNormalConditions(const TNormalConditions &value);

    TRunConditions ReadLastConditions() const;
    void WriteLastConditions(const TRunConditions &value);

    // Empty when none is remembered or the number is empty; writing for an empty number does nothing,
    // an empty id forgets the choice.
    QString ReadTypeForDevice(const QString &deviceNumber) const;
    void WriteTypeForDevice(const QString &deviceNumber, const QString &typeId);

    // Not used for an empty number; writing for an empty number does nothing. A registration number
    // of just "1" cannot be kept (it reads as none).
    TStandardUse ReadStandardUseForDevice(const QString &deviceNumber) const;
    void WriteStandardUseForDevice(const QString &deviceNumber, const TStandardUse &use);

    QString ReadSignCipher() const;
    void WriteSignCipher(const QString &value);
    QString ReadSignPass() const;
    void WriteSignPass(const QString &value);
    QString ReadSignMi() const;
    void WriteSignMi(const QString &value);

private:
    double ReadNumber(const QString &key, double defaultValue) const;
    std::optional<double> ReadOptionalNumber(const QString &key) const;
    void WriteNumber(const QString &key, const std::optional<double> &value);
};
