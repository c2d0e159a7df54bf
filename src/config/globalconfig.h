#pragma once
// Settings several windows share: nominal values of the installation's ranges, permissible errors
// and measurement options. Numbers are kept as the texts the user typed (decimal comma); their
// users convert them and report text that is not a number.

#include "config/typedsettings.h"
#include "protocol/ranges.h"

class TGlobalConfig : public TTypedSettings {
public:
    explicit TGlobalConfig(TConfigController *_portConfig) : TTypedSettings(_portConfig) { }

    QString ReadI1() const;
    void WriteI1(const QString &value);
    // The nominal of a current range ("0,5", "1", "2,5", anything else "5") and of a voltage range
    // ("100", "400", anything else "380") in the three- or four-wire scheme, as stored (decimal comma).
    QString ReadNominalCurrent(TCurrentRange range) const;
    QString ReadNominalVoltage(TVoltageRange voltage, bool scheme4) const;
    QString ReadI5() const;
    void WriteI5(const QString &value);
    QString ReadI0_5() const;
    void WriteI0_5(const QString &value);
    QString ReadI2_5() const;
    void WriteI2_5(const QString &value);
    QString ReadU100_3() const;
    void WriteU100_3(const QString &value);
    QString ReadU100_4() const;
    void WriteU100_4(const QString &value);
    QString ReadU380_3() const;
    void WriteU380_3(const QString &value);
    QString ReadU380_4() const;
    void WriteU380_4(const QString &value);
    QString ReadU400_3() const;
    void WriteU400_3(const QString &value);
    QString ReadU400_4() const;
    void WriteU400_4(const QString &value);
    QString ReadError() const;
    void WriteError(const QString &value);
    QString ReadFreqError() const;
    void WriteFreqError(const QString &value);
    QString ReadAnalogError() const;
    void WriteAnalogError(const QString &value);
    QString ReadAruError() const;
    void WriteAruError(const QString &value);
    QString ReadDeviceNetAdr() const;
    void WriteDeviceNetAdr(const QString &value);
    QString ReadWaitingTime() const;
    void WriteWaitingTime(const QString &value);
    bool ReadOptionIb() const;
    void WriteOptionIb(bool value);
    bool ReadUseTransfCoefsForKestParams() const;
    void WriteUseTransfCoefsForKestParams(bool value);
    bool ReadAnalogValuesAsMiliAmpers() const;
    void WriteAnalogValuesAsMiliAmpers(bool value);
    bool ReadEnableAnalog() const;
    void WriteEnableAnalog(bool value);
};
