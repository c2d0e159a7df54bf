#include "protocol/qx4cmdmanager.h"

#include <algorithm>

namespace {

// Angle-shift codes: phase A/B/C by one step, then by ten steps.
enum : int { kShiftA1 = 0, kShiftB1 = 1, kShiftC1 = 2, kShiftA10 = 3, kShiftB10 = 4, kShiftC10 = 5 };

// Analog-coefficient codes by output (1..3) and step (1, 10, 100).
constexpr int kAnalogCode[3][3] = {{3, 10, 20}, {4, 11, 21}, {5, 12, 22}};

enum : int { kModeWorking = 0, kModeHigh = 1, kModeMiddle = 2, kModeLow = 3 };

constexpr int kRates[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

bool Reg(const TFrame &f, int reg)
{
    return TModbusCommands::HasRegister(f, reg);
}
bool Fn(const TFrame &f, int fn)
{
    return TModbusCommands::HasFunction(f, fn);
}
bool FnNot(const TFrame &f, int fn)
{
    const auto b = TModbusCommands::ByteAt(f, 1);
    return b && *b != fn;
}
bool ByteIs(const TFrame &f, int index, int value)
{
    const auto b = TModbusCommands::ByteAt(f, index);
    return b && *b == value;
}
bool ValueIs(const TFrame &f, int value)
{
    const auto v = TModbusCommands::TryParseInteger(f, 5); // bytes 4..5 of a single write
    return v && *v == value;
}

void Put16(TFrame &f, int index, int value)
{
    f.data[static_cast<size_t>(index)] = static_cast<uint8_t>((value >> 8) & 0xFF);
    f.data[static_cast<size_t>(index + 1)] = static_cast<uint8_t>(value & 0xFF);
}

} // namespace

TQx4CmdManager::TQx4CmdManager(int netAdr_)
{
    SetNetAdr(netAdr_);
    SetByteOrder(0, 1, 2, 3);
}

TFramePtr TQx4CmdManager::Write(int reg, int value) const
{
    return CreateCmdSendInt(value, reg, netAdr);
}
TFramePtr TQx4CmdManager::Read(int reg, int count) const
{
    return CreateCmdRead(reg, count, netAdr);
}
TFramePtr TQx4CmdManager::WriteFloat(int reg, double value) const
{
    return CreateCmdSendFloat(value, reg, netAdr);
}

TFramePtr TQx4CmdManager::CreateCmdReadParameters() const
{
    return Read(kRegParameters, 62);
}
TFramePtr TQx4CmdManager::CreateCmdReadPa() const
{
    return Read(kRegPa, 2);
}
TFramePtr TQx4CmdManager::CreateCmdReadPb() const
{
    return Read(kRegPb, 2);
}
TFramePtr TQx4CmdManager::CreateCmdReadPc() const
{
    return Read(kRegPc, 2);
}

TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUa(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0700, p.Ua);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUb(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0704, p.Ub);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUc(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0708, p.Uc);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUab(const TAdjustingParameters &p) const
{
    return WriteFloat(0x070C, p.Uab);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUbc(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0710, p.Ubc);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingUac(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0714, p.Uac);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingIa(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0718, p.Ia);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingIb(const TAdjustingParameters &p) const
{
    return WriteFloat(0x071C, p.Ib);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingIc(const TAdjustingParameters &p) const
{
    return WriteFloat(0x0720, p.Ic);
}
TFramePtr TQx4CmdManager::CreateCmdWriteAdjustingFrequence(const TAdjustingParameters &p) const
{
    return WriteFloat(kRegAdjustingFrequence, p.F);
}

TFramePtr TQx4CmdManager::CreateCmdWriteTransfCoefs(const TTransfCoefs &transfCoefs) const
{
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    const uint8_t header[] = {netAdr, 0x10, 0x08, 0x00, 0x00, 0x08, 0x10};
    std::copy(std::begin(header), std::end(header), d.begin());
    EncodeFloat(transfCoefs.U1, &d[7]);
    EncodeFloat(transfCoefs.U2, &d[11]);
    EncodeFloat(transfCoefs.I1, &d[15]);
    EncodeFloat(transfCoefs.I2, &d[19]);
    CloseFrame(*f, 23);
    return f;
}

TFramePtr TQx4CmdManager::CreateCmdReadTransfCoefs() const
{
    return Read(kRegTransfCoefs, 8);
}

TFramePtr TQx4CmdManager::CreateCmdShiftIaUp1() const
{
    return Write(kRegShiftAngleUp, kShiftA1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIbUp1() const
{
    return Write(kRegShiftAngleUp, kShiftB1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIcUp1() const
{
    return Write(kRegShiftAngleUp, kShiftC1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIaUp10() const
{
    return Write(kRegShiftAngleUp, kShiftA10);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIbUp10() const
{
    return Write(kRegShiftAngleUp, kShiftB10);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIcUp10() const
{
    return Write(kRegShiftAngleUp, kShiftC10);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIaDown1() const
{
    return Write(kRegShiftAngleDown, kShiftA1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIbDown1() const
{
    return Write(kRegShiftAngleDown, kShiftB1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIcDown1() const
{
    return Write(kRegShiftAngleDown, kShiftC1);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIaDown10() const
{
    return Write(kRegShiftAngleDown, kShiftA10);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIbDown10() const
{
    return Write(kRegShiftAngleDown, kShiftB10);
}
TFramePtr TQx4CmdManager::CreateCmdShiftIcDown10() const
{
    return Write(kRegShiftAngleDown, kShiftC10);
}

TFramePtr TQx4CmdManager::CreateCmdIncreaseAnalogCoef(int argOutAndShift) const
{
    return Write(kRegAnalogCoefIncrease, argOutAndShift);
}
TFramePtr TQx4CmdManager::CreateCmdDecreaseAnalogCoef(int argOutAndShift) const
{
    return Write(kRegAnalogCoefDecrease, argOutAndShift);
}

TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefUp1() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[0][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefUp10() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[0][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefUp100() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[0][2]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefDown1() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[0][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefDown10() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[0][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog1CoefDown100() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[0][2]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefUp1() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[1][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefUp10() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[1][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefUp100() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[1][2]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefDown1() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[1][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefDown10() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[1][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog2CoefDown100() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[1][2]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefUp1() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[2][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefUp10() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[2][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefUp100() const
{
    return CreateCmdIncreaseAnalogCoef(kAnalogCode[2][2]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefDown1() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[2][0]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefDown10() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[2][1]);
}
TFramePtr TQx4CmdManager::CreateCmdShiftAnalog3CoefDown100() const
{
    return CreateCmdDecreaseAnalogCoef(kAnalogCode[2][2]);
}

TFramePtr TQx4CmdManager::CreateCmdSetAnalogModeWorking() const
{
    return Write(kRegAnalogMode, kModeWorking);
}
TFramePtr TQx4CmdManager::CreateCmdSetAnalogModeAdjustingHigh() const
{
    return Write(kRegAnalogMode, kModeHigh);
}
TFramePtr TQx4CmdManager::CreateCmdSetAnalogModeAdjustingMiddle() const
{
    return Write(kRegAnalogMode, kModeMiddle);
}
TFramePtr TQx4CmdManager::CreateCmdSetAnalogModeAdjustingLow() const
{
    return Write(kRegAnalogMode, kModeLow);
}

TFramePtr TQx4CmdManager::CreateCmdSetAmperageValueForAdjustingAnalogOut1(double value) const
{
    return WriteFloat(kRegAnalogOut1Current, value);
}
TFramePtr TQx4CmdManager::CreateCmdSetAmperageValueForAdjustingAnalogOut2(double value) const
{
    return WriteFloat(kRegAnalogOut2Current, value);
}
TFramePtr TQx4CmdManager::CreateCmdSetAmperageValueForAdjustingAnalogOut3(double value) const
{
    return WriteFloat(kRegAnalogOut3Current, value);
}

TFramePtr TQx4CmdManager::CreateCmdSetAnalogType5() const
{
    return Write(kRegAnalogType, 0);
}
TFramePtr TQx4CmdManager::CreateCmdSetAnalogType20() const
{
    return Write(kRegAnalogType, 1);
}
TFramePtr TQx4CmdManager::CreateCmdReadAnalogType() const
{
    return Read(kRegAnalogType, 1);
}

TFramePtr TQx4CmdManager::CreateCmdWriteAnalogOuts(int out1, int out2, int out3) const
{
    TFramePtr f = MakeFrame();
    const uint8_t header[] = {netAdr, 0x10, 0x04, 0x00, 0x00, 0x03, 0x06};
    std::copy(std::begin(header), std::end(header), f->data.begin());
    Put16(*f, 7, out1);
    Put16(*f, 9, out2);
    Put16(*f, 11, out3);
    CloseFrame(*f, 13);
    return f;
}

TFramePtr TQx4CmdManager::CreateCmdWriteReversiveIndicationParameters() const
{
    return CreateCmdWriteAnalogOuts(kCodePa, kCodePb, kCodePc);
}

TFramePtr TQx4CmdManager::CreateCmdReadAnalogOuts() const
{
    return Read(kRegAnalogOuts, 6);
}
TFramePtr TQx4CmdManager::CreateCmdSaveChanges() const
{
    return Write(kRegSaveChanges, 0);
}
TFramePtr TQx4CmdManager::CreateCmdEnableZeroOutNoise() const
{
    return Write(kRegZeroOutNoise, 1);
}
TFramePtr TQx4CmdManager::CreateCmdDisableZeroOutNoise() const
{
    return Write(kRegZeroOutNoise, 0);
}

TFramePtr TQx4CmdManager::CreateCmdFindAddress()
{
    // Broadcast of the vendor function 0x77 to "register" 0xFFFF, count 1.
    TFramePtr f = MakeFrame();
    const uint8_t bytes[] = {0xFF, 0x77, 0xFF, 0xFF, 0x00, 0x01};
    std::copy(std::begin(bytes), std::end(bytes), f->data.begin());
    CloseFrame(*f, 6);
    return f;
}

TFramePtr TQx4CmdManager::CreateCmdWriteNetAdr(int adr) const
{
    return Write(kRegNetAdr, adr);
}
TFramePtr TQx4CmdManager::CreateCmdWriteScheme(int value) const
{
    return Write(kRegScheme, value);
}
TFramePtr TQx4CmdManager::CreateCmdReadScheme() const
{
    return Read(kRegScheme, 1);
}
TFramePtr TQx4CmdManager::CreateCmdWriteRsRate1(int index) const
{
    return Write(kRegRsRate1, index);
}
TFramePtr TQx4CmdManager::CreateCmdReadRsRate1() const
{
    return Read(kRegRsRate1, 1);
}
TFramePtr TQx4CmdManager::CreateCmdWriteRsRate2(int index) const
{
    return Write(kRegRsRate2, index);
}
TFramePtr TQx4CmdManager::CreateCmdReadRsRate2() const
{
    return Read(kRegRsRate2, 1);
}
TFramePtr TQx4CmdManager::CreateCmdWriteRsConfig2(int number) const
{
    return Write(kRegRsConfig2, number);
}
TFramePtr TQx4CmdManager::CreateCmdReadRsConfig2() const
{
    return Read(kRegRsConfig2, 1);
}

TFramePtr TQx4CmdManager::CreateCmdWriteFactoryNumber(int factoryNumber, int year) const
{
    TFramePtr f = MakeFrame();
    const uint8_t header[] = {netAdr, 0x10, 0x02, 0x08, 0x00, 0x02, 0x04};
    std::copy(std::begin(header), std::end(header), f->data.begin());
    Put16(*f, 7, factoryNumber);
    Put16(*f, 9, year);
    CloseFrame(*f, 11);
    return f;
}

TFramePtr TQx4CmdManager::CreateCmdWriteModificationNumber(int modificationNumber) const
{
    return Write(kRegModification, modificationNumber);
}
TFramePtr TQx4CmdManager::CreateCmdWriteRelayCount(int relayCount) const
{
    return Write(kRegRelayCount, relayCount);
}
TFramePtr TQx4CmdManager::CreateCmdWriteInterfaceCount(int interfaceCount) const
{
    return Write(kRegInterfaceCount, interfaceCount);
}
TFramePtr TQx4CmdManager::CreateCmdReadExtraSettings1() const
{
    return Read(kRegFactoryNumber, 8);
}
TFramePtr TQx4CmdManager::CreateCmdReadExtraSettings2() const
{
    return Read(kRegRelayCount, 2);
}

// --- classifiers -------------------------------------------------------------------------------

bool TQx4CmdManager::IsCmdReadParameters(const TFrame &cmd)
{
    return Reg(cmd, kRegParameters);
}
bool TQx4CmdManager::IsCmdReadPa(const TFrame &cmd)
{
    return Reg(cmd, kRegPa);
}
bool TQx4CmdManager::IsCmdReadPb(const TFrame &cmd)
{
    return Reg(cmd, kRegPb);
}
bool TQx4CmdManager::IsCmdReadPc(const TFrame &cmd)
{
    return Reg(cmd, kRegPc);
}
bool TQx4CmdManager::IsCmdWriteAdjustingFrequence(const TFrame &cmd)
{
    return Fn(cmd, 16) && Reg(cmd, kRegAdjustingFrequence);
}
bool TQx4CmdManager::IsCmdWriteTransfCoefs(const TFrame &cmd)
{
    return Fn(cmd, 16) && Reg(cmd, kRegTransfCoefs);
}
bool TQx4CmdManager::IsCmdReadTransfCoefs(const TFrame &cmd)
{
    return FnNot(cmd, 16) && Reg(cmd, kRegTransfCoefs);
}
bool TQx4CmdManager::IsCmdShiftAngle(const TFrame &cmd)
{
    return Reg(cmd, kRegShiftAngleUp) || Reg(cmd, kRegShiftAngleDown);
}
bool TQx4CmdManager::IsCmdShiftAnalogCoef(const TFrame &cmd)
{
    return Fn(cmd, 6) && (Reg(cmd, kRegAnalogCoefIncrease) || Reg(cmd, kRegAnalogCoefDecrease));
}
bool TQx4CmdManager::IsCmdSetAnalogModeWorking(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegAnalogMode) && ValueIs(cmd, kModeWorking);
}
bool TQx4CmdManager::IsCmdSetAnalogModeAdjustingMiddle(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegAnalogMode) && ValueIs(cmd, kModeMiddle);
}
bool TQx4CmdManager::IsCmdSetAnalogModeAdjustingHigh(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegAnalogMode) && ValueIs(cmd, kModeHigh);
}
bool TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut1(const TFrame &cmd)
{
    return Fn(cmd, 16) && Reg(cmd, kRegAnalogOut1Current);
}
bool TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut2(const TFrame &cmd)
{
    return Fn(cmd, 16) && Reg(cmd, kRegAnalogOut2Current);
}
bool TQx4CmdManager::IsCmdSetAmperageValueForAdjustingAnalogOut3(const TFrame &cmd)
{
    return Fn(cmd, 16) && Reg(cmd, kRegAnalogOut3Current);
}
bool TQx4CmdManager::IsCmdSetAnalogType(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegAnalogType);
}
bool TQx4CmdManager::IsCmdWriteSaveChanges(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegSaveChanges);
}
bool TQx4CmdManager::IsCmdZeroOutNoise(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegZeroOutNoise);
}
bool TQx4CmdManager::IsCmdWriteNetAdr(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegNetAdr);
}
bool TQx4CmdManager::IsCmdWriteRsConfig2(const TFrame &cmd)
{
    return Fn(cmd, 6) && Reg(cmd, kRegRsConfig2);
}
bool TQx4CmdManager::IsCmdReadScheme(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegScheme);
}
bool TQx4CmdManager::IsCmdReadRsRate1(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegRsRate1);
}
bool TQx4CmdManager::IsCmdReadRsRate2(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegRsRate2);
}
bool TQx4CmdManager::IsCmdReadRsConfig2(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegRsConfig2);
}
bool TQx4CmdManager::IsCmdReadAnalogType(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegAnalogType);
}
bool TQx4CmdManager::IsCmdReadAnalogOuts(const TFrame &cmd)
{
    return Fn(cmd, 3) && Reg(cmd, kRegAnalogOuts);
}
bool TQx4CmdManager::IsCmdReadExtraSettings1(const TFrame &cmd)
{
    return FnNot(cmd, 16) && Reg(cmd, kRegFactoryNumber);
}
bool TQx4CmdManager::IsCmdReadExtraSettings2(const TFrame &cmd)
{
    return FnNot(cmd, 6) && Reg(cmd, kRegRelayCount);
}
bool TQx4CmdManager::IsCmdFindAddress(const TFrame &answer)
{
    return ByteIs(answer, 1, 0x77) && ByteIs(answer, 2, 2) && ByteIs(answer, 3, 0);
}

// --- decoders ----------------------------------------------------------------------------------

TExtraSettingsObject TQx4CmdManager::ParseExtraSettings1(const TFrame &data)
{
    TExtraSettingsObject result;
    const auto serial = TryParseInteger(data, 4); // bytes 3..4
    const auto year = ByteAt(data, 6); // low byte of the year register
    if (serial && year)
        result.FactoryNumber = *serial + *year * 10000;
    if (const auto modification = TryParseInteger(data, 18)) { // bytes 17..18
        result.ModificationNumber = *modification > 700 ? *modification - 700 : *modification;
    }
    return result;
}

TExtraSettingsObject TQx4CmdManager::ParseExtraSettings2(const TFrame &data)
{
    TExtraSettingsObject result;
    result.RelayCount = ParseInteger(data, 4);
    result.InterfaceCount = ParseInteger(data, 6);
    return result;
}

TTransfCoefs TQx4CmdManager::ParseTransfCoefs(const TFrame &answer) const
{
    TTransfCoefs c;
    c.U1 = ParseFloat(answer, 4);
    c.U2 = ParseFloat(answer, 8);
    c.I1 = ParseFloat(answer, 12);
    c.I2 = ParseFloat(answer, 16);
    return c;
}

std::array<int, 3> TQx4CmdManager::ParseAnalogOuts(const TFrame &answer)
{
    return {ParseInteger(answer, 4), ParseInteger(answer, 6), ParseInteger(answer, 8)};
}

int TQx4CmdManager::RsRate2ToIndex(int value)
{
    // Some firmware keeps the bit rate itself in this register rather than its index.
    for (int i = 0; i <= 5; ++i)
        if (value == kRates[i])
            return i;
    if (value >= 0 && value <= 7)
        return value;
    return value & 0xFF;
}

int TQx4CmdManager::RsRateFromIndex(int index)
{
    return index >= 0 && index < 8 ? kRates[index] : 0;
}
