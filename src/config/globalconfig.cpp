#include "config/globalconfig.h"

#include "protocol/numberformat.h"

QString TGlobalConfig::ReadI1() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("I1"), QStringLiteral("1"));
}

void TGlobalConfig::WriteI1(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("I1"), value);
}

QString TGlobalConfig::ReadI5() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("I5"), QStringLiteral("5"));
}

void TGlobalConfig::WriteI5(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("I5"), value);
}

QString TGlobalConfig::ReadI0_5() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("I0,5"), QStringLiteral("0,5"));
}

void TGlobalConfig::WriteI0_5(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("I0,5"), value);
}

QString TGlobalConfig::ReadI2_5() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("I2.5"), QStringLiteral("2,5"));
}

void TGlobalConfig::WriteI2_5(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("I2.5"), value);
}

QString TGlobalConfig::ReadU100_3() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U100_3"), QStringLiteral("100"));
}

void TGlobalConfig::WriteU100_3(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U100_3"), value);
}

QString TGlobalConfig::ReadU100_4() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U100_4"), QStringLiteral("57,74"));
}

void TGlobalConfig::WriteU100_4(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U100_4"), value);
}

QString TGlobalConfig::ReadU380_3() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U380_3"), QStringLiteral("380"));
}

void TGlobalConfig::WriteU380_3(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U380_3"), value);
}

QString TGlobalConfig::ReadU380_4() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U380_4"), QStringLiteral("219,39"));
}

void TGlobalConfig::WriteU380_4(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U380_4"), value);
}

QString TGlobalConfig::ReadU400_3() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U400_3"), QStringLiteral("400"));
}

void TGlobalConfig::WriteU400_3(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U400_3"), value);
}

QString TGlobalConfig::ReadU400_4() const
{
    return ReadText(QStringLiteral("Parameters"), QStringLiteral("U400_4"), QStringLiteral("230,94"));
}

void TGlobalConfig::WriteU400_4(const QString &value)
{
    WriteText(QStringLiteral("Parameters"), QStringLiteral("U400_4"), value);
}

QString TGlobalConfig::ReadError() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("Error"), FloatToQStr(0.2));
}

void TGlobalConfig::WriteError(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("Error"), value);
}

QString TGlobalConfig::ReadFreqError() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("FreqError"), FloatToQStr(0.05));
}

void TGlobalConfig::WriteFreqError(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("FreqError"), value);
}

QString TGlobalConfig::ReadAnalogError() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("AnalogError"), FloatToQStr(0.5));
}

void TGlobalConfig::WriteAnalogError(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("AnalogError"), value);
}

QString TGlobalConfig::ReadAruError() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("AruError"), FloatToQStr(1.0));
}

void TGlobalConfig::WriteAruError(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("AruError"), value);
}

QString TGlobalConfig::ReadDeviceNetAdr() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("DeviceNetAdr"), QStringLiteral("100"));
}

void TGlobalConfig::WriteDeviceNetAdr(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("DeviceNetAdr"), value);
}

QString TGlobalConfig::ReadWaitingTime() const
{
    return ReadText(QStringLiteral("Launch"), QStringLiteral("WaitingTime"), QStringLiteral("9"));
}

void TGlobalConfig::WriteWaitingTime(const QString &value)
{
    WriteText(QStringLiteral("Launch"), QStringLiteral("WaitingTime"), value);
}

bool TGlobalConfig::ReadOptionIb() const
{
    return ReadFlag(QStringLiteral("Launch"), QStringLiteral("OptionIb"), false);
}

void TGlobalConfig::WriteOptionIb(bool value)
{
    WriteFlag(QStringLiteral("Launch"), QStringLiteral("OptionIb"), value);
}

bool TGlobalConfig::ReadUseTransfCoefsForKestParams() const
{
    return ReadFlag(QStringLiteral("Launch"), QStringLiteral("UseTransfCoefsForKestParams"), false);
}

void TGlobalConfig::WriteUseTransfCoefsForKestParams(bool value)
{
    WriteFlag(QStringLiteral("Launch"), QStringLiteral("UseTransfCoefsForKestParams"), value);
}

bool TGlobalConfig::ReadAnalogValuesAsMiliAmpers() const
{
    return ReadFlag(QStringLiteral("Launch"), QStringLiteral("AnalogValuesAsMiliAmpers"), false);
}

void TGlobalConfig::WriteAnalogValuesAsMiliAmpers(bool value)
{
    WriteFlag(QStringLiteral("Launch"), QStringLiteral("AnalogValuesAsMiliAmpers"), value);
}

bool TGlobalConfig::ReadEnableAnalog() const
{
    return ReadFlag(QStringLiteral("Launch"), QStringLiteral("EnableAnalog"), false);
}

void TGlobalConfig::WriteEnableAnalog(bool value)
{
    WriteFlag(QStringLiteral("Launch"), QStringLiteral("EnableAnalog"), value);
}

QString TGlobalConfig::ReadNominalCurrent(TCurrentRange range) const
{
    switch (range) {
    case TCurrentRange::A0_5:
        return ReadI0_5();
    case TCurrentRange::A1:
        return ReadI1();
    case TCurrentRange::A2_5:
        return ReadI2_5();
    case TCurrentRange::A5:
        break;
    }
    return ReadI5();
}

QString TGlobalConfig::ReadNominalVoltage(TVoltageRange voltage, bool scheme4) const
{
    switch (voltage) {
    case TVoltageRange::V100:
        return scheme4 ? ReadU100_4() : ReadU100_3();
    case TVoltageRange::V400:
        return scheme4 ? ReadU400_4() : ReadU400_3();
    case TVoltageRange::V380:
        break;
    }
    return scheme4 ? ReadU380_4() : ReadU380_3();
}
