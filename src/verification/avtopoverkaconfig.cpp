#include "verification/avtopoverkaconfig.h"

#include "config/inidocument.h"
#include "presentation/configurationrow.h"

#include <cstdint>

namespace {

const QString kLaunch = QStringLiteral("Launch");

QString TabKey(int tabNum)
{
    return QString::number(tabNum);
}

} // namespace

bool TStringManager::DoesListContainValue(const QString &value, const QStringList &list)
{
    for (const QString &item : list)
        if (item == value)
            return true;
    return false;
}

bool InterfaceValueIsAnalog(const QString &text, bool *ok)
{
    const QString s = text.trimmed();
    bool converted = false;
    bool result = false;
    if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        converted = result = true;
    } else if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
        converted = true;
    } else {
        int v = 0;
        converted = TryParseStoredNumber(s, v);
        result = converted && v != 0;
    }
    if (ok)
        *ok = converted;
    return result;
}

bool TryParseStoredNumber(const QString &text, int &value)
{
    QStringView s = QStringView(text).trimmed();
    bool negative = false;
    if (!s.isEmpty() && (s[0] == u'-' || s[0] == u'+')) {
        negative = s[0] == u'-';
        s = s.sliced(1);
    }
    if (s.isEmpty() || s.size() > 10)
        return false;
    qint64 v = 0;
    for (const QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    value = int(v);
    return true;
}

QString InterfaceValueText(bool analog)
{
    return analog ? QStringLiteral("-1") : QStringLiteral("0");
}

// ---- base ----

QStringList TSuperAvtopoverkaConfig::ReadList(const QString &section, const QString &key) const
{
    try {
        return KestSettingsList::Split(portConfig->ini.ReadString(section, key, QString()));
    } catch (...) {
        return {};
    }
}

void TSuperAvtopoverkaConfig::WriteList(const QString &section, const QString &key, const QStringList &value)
{
    try {
        portConfig->ini.WriteString(section, key, KestSettingsList::Join(value));
    } catch (...) {
        // The file stays as it was.
    }
}

QStringList TSuperAvtopoverkaConfig::ReadNames(const QString &section, const QString &key) const
{
    QStringList names;
    for (int i = 1; i <= kTabCount; ++i)
        names << QString::number(i);
    const QStringList stored = ReadList(section, key);
    for (int i = 0; i < stored.size() && i < kTabCount; ++i)
        names[i] = stored[i];
    return names;
}

QStringList TSuperAvtopoverkaConfig::ReadTabNames() const
{
    return ReadNames(QStringLiteral("Settings"), QStringLiteral("TabNames"));
}

void TSuperAvtopoverkaConfig::WriteTabNames(const QStringList &value)
{
    WriteList(QStringLiteral("Settings"), QStringLiteral("TabNames"), value);
}

void TSuperAvtopoverkaConfig::WriteRemovedTabInputSet(int tabNum, const QStringList &paramNums)
{
    WriteList(QStringLiteral("RemovedInputColNums"), TabKey(tabNum), paramNums);
}

QStringList TSuperAvtopoverkaConfig::ReadRemovedTabInputSet(int tabNum) const
{
    return ReadList(QStringLiteral("RemovedInputColNums"), TabKey(tabNum));
}

void TSuperAvtopoverkaConfig::WriteTabOutputSet(int tabNum, const QStringList &paramNums)
{
    WriteList(QStringLiteral("OutputCols"), TabKey(tabNum), paramNums);
}

QStringList TSuperAvtopoverkaConfig::ReadTabOutputSet(int tabNum) const
{
    return ReadList(QStringLiteral("OutputCols"), TabKey(tabNum));
}

int TSuperAvtopoverkaConfig::ReadAvtopoverkaWindowCoordX() const
{
    try {
        return portConfig->ini.ReadInteger(kLaunch, QStringLiteral("AvtopoverkaWindowCoordX"), 100);
    } catch (...) {
        return 0;
    }
}

int TSuperAvtopoverkaConfig::ReadAvtopoverkaWindowCoordY() const
{
    try {
        return portConfig->ini.ReadInteger(kLaunch, QStringLiteral("AvtopoverkaWindowCoordY"), 100);
    } catch (...) {
        return 0;
    }
}

void TSuperAvtopoverkaConfig::WriteAvtopoverkaWindowCoordX(int value)
{
    try {
        portConfig->ini.WriteInteger(kLaunch, QStringLiteral("AvtopoverkaWindowCoordX"), value);
    } catch (...) {
    }
}

void TSuperAvtopoverkaConfig::WriteAvtopoverkaWindowCoordY(int value)
{
    try {
        portConfig->ini.WriteInteger(kLaunch, QStringLiteral("AvtopoverkaWindowCoordY"), value);
    } catch (...) {
    }
}

// ---- device configurations ----

const char *TAvtopoverkaConfig::AnalogParamSection() const
{
    return code_ == TConfigurationCode::I ? "ScenarioOutputParamNums" : "ScenarioAnalogOutputParamNums";
}

QStringList TAvtopoverkaConfig::ReadTabNames() const
{
    return ReadNames(QStringLiteral("ScenarioTabNames"), Code());
}

void TAvtopoverkaConfig::WriteTabNames(const QStringList &value)
{
    WriteList(QStringLiteral("ScenarioTabNames"), Code(), value);
}

void TAvtopoverkaConfig::WriteRemovedTabInputSet(int tabNum, const QStringList &paramNums)
{
    WriteList(Section("ScenarioRemovedInputColNumsTag"), TabKey(tabNum), paramNums);
}

QStringList TAvtopoverkaConfig::ReadRemovedTabInputSet(int tabNum) const
{
    return ReadList(Section("ScenarioRemovedInputColNumsTag"), TabKey(tabNum));
}

void TAvtopoverkaConfig::WriteTabOutputSet(int tabNum, const QStringList &paramNums)
{
    WriteList(Section("ScenarioOutputColNums"), TabKey(tabNum), paramNums);
}

QStringList TAvtopoverkaConfig::ReadTabOutputSet(int tabNum) const
{
    return ReadList(Section("ScenarioOutputColNums"), TabKey(tabNum));
}

void TAvtopoverkaConfig::WriteTabOutputAnalogPortSet(int tabNum, const QStringList &paramNums)
{
    WriteList(Section("ScenarioAnalogOutputColNums"), TabKey(tabNum), paramNums);
}

QStringList TAvtopoverkaConfig::ReadTabOutputAnalogPortSet(int tabNum) const
{
    return ReadList(Section("ScenarioAnalogOutputColNums"), TabKey(tabNum));
}

void TAvtopoverkaConfig::WriteTabOutputAnalogParamSet(int tabNum, const QStringList &paramNums)
{
    WriteList(Section(AnalogParamSection()), TabKey(tabNum), paramNums);
}

QStringList TAvtopoverkaConfig::ReadTabOutputAnalogParamSet(int tabNum) const
{
    return ReadList(Section(AnalogParamSection()), TabKey(tabNum));
}

void TAvtopoverkaConfig::WriteInterfaceValues(const QStringList &value)
{
    WriteTabRsOrAnalog(Code(), value);
}

QStringList TAvtopoverkaConfig::ReadInterfaceValues() const
{
    return ReadTabRsOrAnalog(Code(), kTabCount);
}

QStringList TAvtopoverkaConfig::ReadTabRsOrAnalog(const QString &configuration, int tabCount) const
{
    const QString zero = QStringLiteral("0");
    QStringList values;
    try {
        values = KestSettingsList::Split(
            portConfig->ini.ReadString(QStringLiteral("ScenarioTabInterface"), configuration, zero));
    } catch (...) {
        values.clear();
    }
    // One more than asked for, as the stored lists have always been read.
    if (values.size() <= tabCount)
        while (values.size() < tabCount + 1)
            values << zero;
    return values;
}

void TAvtopoverkaConfig::WriteTabRsOrAnalog(const QString &configuration, const QStringList &values)
{
    WriteList(QStringLiteral("ScenarioTabInterface"), configuration, values);
}

std::unique_ptr<TAvtopoverkaConfig> CreateAvtopoverkaConfig(TConfigurationCode code, TConfigController *portConfig)
{
    return std::make_unique<TAvtopoverkaConfig>(portConfig, ConfigurationRow(code).settingsCode);
}
