#pragma once
// What the verification windows keep per device configuration in the settings file: the names of
// the ten tabs and, per tab, the output columns, the input columns left out, RS or analog reading,
// the analog outputs used and the parameter each carries; and the verification window's position.
//
// Every list is one value of the settings file in the store's list encoding (items joined by
// commas, an item with a comma or a double quote quoted). Reads and writes never raise: a store
// that cannot be read gives empty lists (tab names: the defaults), a failed write leaves the file
// as it was. Stored items are returned as text; converting them is the caller's business.
//
// The five configuration classes differ only in their settings code, which also names their sections.

#include "config/configcontroller.h"
#include "protocol/configuration.h"

#include <QString>
#include <QStringList>

#include <memory>

class TStringManager {
public:
    // True when some item equals `value` exactly (case-sensitive); false for an empty list.
    static bool DoesListContainValue(const QString &value, const QStringList &list);
};

// The usual text-to-Boolean conversion of the interface values: "0" is false, any other integer
// text is true, "True"/"False" (any case) are accepted. False for anything else (`ok` says which).
bool InterfaceValueIsAnalog(const QString &text, bool *ok = nullptr);
// "-1" for analog, "0" for RS: how interface values are written.
QString InterfaceValueText(bool analog);
// A stored number item (a parameter, input or output number): optional blanks and sign, decimal
// digits, within int. False for anything else, `value` untouched.
bool TryParseStoredNumber(const QString &text, int &value);

class TSuperAvtopoverkaConfig {
public:
    static constexpr int kTabCount = 10;

    explicit TSuperAvtopoverkaConfig(TConfigController *portConfig_) : portConfig(portConfig_) { }
    virtual ~TSuperAvtopoverkaConfig() = default;
    TSuperAvtopoverkaConfig(const TSuperAvtopoverkaConfig &) = delete;
    TSuperAvtopoverkaConfig &operator=(const TSuperAvtopoverkaConfig &) = delete;

    // Ten names: "1" … "10" with the stored names put over the first ones (beyond ten ignored).
    virtual QStringList ReadTabNames() const;
    virtual void WriteTabNames(const QStringList &value);
    // Input columns not shown on tab `tabNum` (0–9): 100 current, 101 voltage, 102 angle, 103 frequency.
    virtual void WriteRemovedTabInputSet(int tabNum, const QStringList &paramNums);
    virtual QStringList ReadRemovedTabInputSet(int tabNum) const;
    // Measured parameters (1–33) shown as output columns of the tab, ascending.
    virtual void WriteTabOutputSet(int tabNum, const QStringList &paramNums);
    virtual QStringList ReadTabOutputSet(int tabNum) const;

    // The analog and interface entries exist only for a device configuration; the base keeps none.
    virtual void WriteTabOutputAnalogPortSet(int, const QStringList &) { }
    virtual QStringList ReadTabOutputAnalogPortSet(int) const { return {}; }
    virtual void WriteTabOutputAnalogParamSet(int, const QStringList &) { }
    virtual QStringList ReadTabOutputAnalogParamSet(int) const { return {}; }
    virtual void WriteInterfaceValues(const QStringList &) { }
    virtual QStringList ReadInterfaceValues() const { return {}; }

    // Position of the verification window: default 100; 0 when the store cannot be read.
    int ReadAvtopoverkaWindowCoordX() const;
    int ReadAvtopoverkaWindowCoordY() const;
    void WriteAvtopoverkaWindowCoordX(int value);
    void WriteAvtopoverkaWindowCoordY(int value);

    // The configuration code ("QX4", "I", "U", "PQ", "QX4E"); empty for the base.
    virtual QString Code() const { return {}; }

    TConfigController *const portConfig; // not owned; outlives this object

protected:
    // The list under `key` of `section`; empty when absent or when the store cannot be read.
    QStringList ReadList(const QString &section, const QString &key) const;
    void WriteList(const QString &section, const QString &key, const QStringList &value);
    QStringList ReadNames(const QString &section, const QString &key) const;
};

// The verification sections of one settings code ("QX4", "I", "U", "PQ", "QX4E": the configurations
// without a window of their own use the PQ ones).
class TAvtopoverkaConfig : public TSuperAvtopoverkaConfig {
public:
    // `settingsCode` is the configuration row's settings code.
    TAvtopoverkaConfig(TConfigController *portConfig_, TConfigurationCode settingsCode)
        : TSuperAvtopoverkaConfig(portConfig_), code_(settingsCode)
    {
    }

    QStringList ReadTabNames() const override;
    void WriteTabNames(const QStringList &value) override;
    void WriteRemovedTabInputSet(int tabNum, const QStringList &paramNums) override;
    QStringList ReadRemovedTabInputSet(int tabNum) const override;
    void WriteTabOutputSet(int tabNum, const QStringList &paramNums) override;
    QStringList ReadTabOutputSet(int tabNum) const override;
    // The analog outputs (1, 2, 3) used on the tab.
    void WriteTabOutputAnalogPortSet(int tabNum, const QStringList &paramNums) override;
    QStringList ReadTabOutputAnalogPortSet(int tabNum) const override;
    // Three entries, one per analog output: the parameter (1–33) it carries, "0" for none.
    void WriteTabOutputAnalogParamSet(int tabNum, const QStringList &paramNums) override;
    QStringList ReadTabOutputAnalogParamSet(int tabNum) const override;
    // One Boolean per tab ("0" RS, "-1" analog); the read gives at least eleven items.
    void WriteInterfaceValues(const QStringList &value) override;
    QStringList ReadInterfaceValues() const override;

    // The interface values of any configuration code: at least `tabCount` + 1 items when at most
    // `tabCount` are stored, padded with "0".
    QStringList ReadTabRsOrAnalog(const QString &configuration, int tabCount) const;
    void WriteTabRsOrAnalog(const QString &configuration, const QStringList &values);

    QString Code() const override { return ConfigurationName(code_); }

private:
    QString Section(const char *prefix) const { return QString::fromLatin1(prefix) + Code(); }
    // The "I" sections of the analog parameter sets have always lacked the word "Analog".
    const char *AnalogParamSection() const;

    const TConfigurationCode code_;
};

// Named after the window each is written for.
class TConfigQX4 : public TAvtopoverkaConfig {
public:
    explicit TConfigQX4(TConfigController *c) : TAvtopoverkaConfig(c, TConfigurationCode::QX4) { }
};
class TConfigI : public TAvtopoverkaConfig {
public:
    explicit TConfigI(TConfigController *c) : TAvtopoverkaConfig(c, TConfigurationCode::I) { }
};
class TConfigU : public TAvtopoverkaConfig {
public:
    explicit TConfigU(TConfigController *c) : TAvtopoverkaConfig(c, TConfigurationCode::U) { }
};
class TConfigPQ : public TAvtopoverkaConfig {
public:
    explicit TConfigPQ(TConfigController *c) : TAvtopoverkaConfig(c, TConfigurationCode::PQ) { }
};
class TConfigQX4E : public TAvtopoverkaConfig {
public:
    explicit TConfigQX4E(TConfigController *c) : TAvtopoverkaConfig(c, TConfigurationCode::QX4E) { }
};

// The configuration object of a device configuration: the sections of its row's settings code.
std::unique_ptr<TAvtopoverkaConfig> CreateAvtopoverkaConfig(TConfigurationCode code, TConfigController *portConfig);
