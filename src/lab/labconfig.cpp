#include "lab/labconfig.h"

#include "protocol/numberformat.h"

#include <QSet>

#include <cmath>

namespace {

const QString kSection = QStringLiteral("Lab");
const QString kOverdue = QStringLiteral("OverdueStandards");
const QString kBench = QStringLiteral("BenchStandards");
const QString kRatio = QStringLiteral("MinAccuracyRatio");
constexpr double kDefaultRatio = 3.0;

// The characters that would end a key or be read as another line's start; "%" itself so that the
// encoding stays unambiguous.
QString DeviceKey(const QString &deviceNumber, const QString &prefix = QStringLiteral("TypeForDevice/"))
{
    QString key = prefix;
    for (QChar c : deviceNumber.trimmed()) {
        if (c == u'%' || c == u'=' || c == u'[' || c == u']' || c == u';' || c == u'\n' || c == u'\r')
            key += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            key += c;
    }
    return key;
}

} // namespace

TOverduePolicy TLabConfig::ReadOverdueStandards() const
{
    const QString text = ReadText(kSection, kOverdue, QStringLiteral("warn")).trimmed();
    return text.compare(QLatin1String("block"), Qt::CaseInsensitive) == 0 ? TOverduePolicy::Block
                                                                          : TOverduePolicy::Warn;
}

void TLabConfig::WriteOverdueStandards(TOverduePolicy value)
{
    WriteText(kSection, kOverdue, value == TOverduePolicy::Block ? QStringLiteral("block") : QStringLiteral("warn"));
}

QStringList TLabConfig::ReadBenchStandards() const
{
    QStringList ids;
    QSet<QString> seen;
    for (const QString &part : ReadText(kSection, kBench, QString()).split(QLatin1Char(','))) {
        const QString id = part.trimmed();
        if (!id.isEmpty() && !seen.contains(id)) {
            seen.insert(id);
            ids << id;
        }
    }
    return ids;
}

void TLabConfig::WriteBenchStandards(const QStringList &ids)
{
    QStringList kept;
    for (const QString &id : ids)
        if (!id.trimmed().isEmpty())
            kept << id.trimmed();
    WriteText(kSection, kBench, kept.join(QLatin1Char(',')));
}

std::vector<TStandard> TLabConfig::BenchStandardsOf(
    const std::vector<TStandard> &registered, QStringList *missing) const
{
    std::vector<TStandard> out;
    if (missing)
        missing->clear();
    const QStringList ids = ReadBenchStandards();
    if (ids.isEmpty()) {
        for (const TStandard &s : registered)
            if (!s.retired && s.kind == TStandardKind::Installation)
                out.push_back(s);
        return out;
    }
    for (const QString &id : ids) {
        bool found = false;
        for (const TStandard &s : registered) {
            if (s.id == id && !s.retired) {
                out.push_back(s);
                found = true;
                break;
            }
        }
        if (!found && missing)
            *missing << id;
    }
    return out;
}

double TLabConfig::ReadNumber(const QString &key, double defaultValue) const
{
    return ReadOptionalNumber(key).value_or(defaultValue);
}

std::optional<double> TLabConfig::ReadOptionalNumber(const QString &key) const
{
    double value = 0;
    if (!TryStrToFloat(ReadText(kSection, key, QString()), value))
        return std::nullopt;
    return value;
}

void TLabConfig::WriteNumber(const QString &key, const std::optional<double> &value)
{
    WriteText(kSection, key, value ? FloatToQStr(*value) : QString());
}

double TLabConfig::ReadMinAccuracyRatio() const
{
    const double value = ReadNumber(kRatio, kDefaultRatio);
    return value > 0 ? value : kDefaultRatio;
}

void TLabConfig::WriteMinAccuracyRatio(double value)
{
    WriteNumber(kRatio, value);
}

TNormalConditions TLabConfig::ReadNormalConditions() const
{
    TNormalConditions out;
    const auto pair = [this](const QString &name, double &min, double &max) {
        const double readMin = ReadNumber(name + QStringLiteral("Min"), min);
        const double readMax = ReadNumber(name + QStringLiteral("Max"), max);
        // A range nothing fits would warn about every run; the method's defaults stand instead.
        if (readMin <= readMax) {
            min = readMin;
            max = readMax;
        }
    };
    pair(QStringLiteral("Temperature"), out.temperatureMin, out.temperatureMax);
    pair(QStringLiteral("Humidity"), out.humidityMin, out.humidityMax);
    pair(QStringLiteral("Pressure"), out.pressureMin, out.pressureMax);
    return out;
}

void TLabConfig::WriteNormalConditions(const TNormalConditions &value)
{
    WriteNumber(QStringLiteral("TemperatureMin"), value.temperatureMin);
    WriteNumber(QStringLiteral("TemperatureMax"), value.temperatureMax);
    WriteNumber(QStringLiteral("HumidityMin"), value.humidityMin);
    WriteNumber(QStringLiteral("HumidityMax"), value.humidityMax);
    WriteNumber(QStringLiteral("PressureMin"), value.pressureMin);
    WriteNumber(QStringLiteral("PressureMax"), value.pressureMax);
}

TRunConditions TLabConfig::ReadLastConditions() const
{
    TRunConditions out;
    out.temperature = ReadOptionalNumber(QStringLiteral("LastTemperature"));
    out.humidity = ReadOptionalNumber(QStringLiteral("LastHumidity"));
    out.pressure = ReadOptionalNumber(QStringLiteral("LastPressure"));
    out.supplyVoltage = ReadOptionalNumber(QStringLiteral("LastSupplyVoltage"));
    out.supplyFrequency = ReadOptionalNumber(QStringLiteral("LastSupplyFrequency"));
    return out;
}

void TLabConfig::WriteLastConditions(const TRunConditions &value)
{
    WriteNumber(QStringLiteral("LastTemperature"), value.temperature);
    WriteNumber(QStringLiteral("LastHumidity"), value.humidity);
    WriteNumber(QStringLiteral("LastPressure"), value.pressure);
    WriteNumber(QStringLiteral("LastSupplyVoltage"), value.supplyVoltage);
    WriteNumber(QStringLiteral("LastSupplyFrequency"), value.supplyFrequency);
}

QString TLabConfig::ReadTypeForDevice(const QString &deviceNumber) const
{
    if (deviceNumber.trimmed().isEmpty())
        return QString();
    return ReadText(kSection, DeviceKey(deviceNumber), QString()).trimmed();
}

void TLabConfig::WriteTypeForDevice(const QString &deviceNumber, const QString &typeId)
{
    if (deviceNumber.trimmed().isEmpty())
        return;
    if (typeId.trimmed().isEmpty()) {
        try {
            portConfig->ini.DeleteKey(kSection, DeviceKey(deviceNumber));
        } catch (...) {
        }
        return;
    }
    WriteText(kSection, DeviceKey(deviceNumber), typeId.trimmed());
}

TStandardUse TLabConfig::ReadStandardUseForDevice(const QString &deviceNumber) const
{
    TStandardUse use;
    if (deviceNumber.trimmed().isEmpty())
        return use;
    const QString text = ReadText(kSection, DeviceKey(deviceNumber, QStringLiteral("StandardForDevice/")), QString());
    // "1" alone marks the use without a number; anything else is the number itself.
    use.used = !text.trimmed().isEmpty();
    if (text.trimmed() != QLatin1String("1"))
        use.regNumber = text.trimmed();
    return use;
}

void TLabConfig::WriteStandardUseForDevice(const QString &deviceNumber, const TStandardUse &use)
{
    if (deviceNumber.trimmed().isEmpty())
        return;
    const QString key = DeviceKey(deviceNumber, QStringLiteral("StandardForDevice/"));
    if (!use.used) {
        try {
            portConfig->ini.DeleteKey(kSection, key);
        } catch (...) {
        }
        return;
    }
    WriteText(kSection, key, use.regNumber.trimmed().isEmpty() ? QStringLiteral("1") : use.regNumber.trimmed());
}

QString TLabConfig::ReadSignCipher() const
{
    return ReadText(kSection, QStringLiteral("SignCipher"), QString());
}
void TLabConfig::WriteSignCipher(const QString &value)
{
    WriteText(kSection, QStringLiteral("SignCipher"), value);
}
QString TLabConfig::ReadSignPass() const
{
    return ReadText(kSection, QStringLiteral("SignPass"), QString());
}
void TLabConfig::WriteSignPass(const QString &value)
{
    WriteText(kSection, QStringLiteral("SignPass"), value);
}
QString TLabConfig::ReadSignMi() const
{
    return ReadText(kSection, QStringLiteral("SignMi"), QString());
}
void TLabConfig::WriteSignMi(const QString &value)
{
    WriteText(kSection, QStringLiteral("SignMi"), value);
}
