#include "protocol/kestcmdmanager.h"

namespace {

// Register numbers of the installation's map.
enum : int {
    kRegControl = 0,
    kReg1A5A = 2,
    kRegUaU650 = 4,
    kRegAnalogInput = 6,
    kReg5mA20mA = 8,
    kRegRn = 10,
    kRegScheme = 12,
    kRegSpeedOrUOver300 = 14,
    kRegRsParamNum = 16,
    kRegUa = 100,
    kRegIa = 112,
    kRegIa5 = 124,
    kRegU650 = 136,
    kRegAngle = 140,
    kRegFrequency = 142,
    kRegAmplifierUa = 200,
    kRegAmplifierUb = 202,
    kRegAmplifierUc = 204,
    kRegAmplifierIa = 206,
    kRegAmplifierIb = 208,
    kRegAmplifierIc = 210,
    kRegAmplifierIa5 = 212,
    kRegAmplifierIb5 = 214,
    kRegAmplifierIc5 = 216,
    kRegAmplifierU650 = 218,
    kRegDeviceInfo = 700,
    kRegStatus = 994,
    kRegAnalogParameters = 996,
    kRegRsBlock = 1996,
    kRegDeviceAddress = 1998,
};

constexpr int kStatusCount = 69;
constexpr int kRsBlockCount = 68;

bool Reg(const TFrame &f, int reg)
{
    return TModbusCommands::HasRegister(f, reg);
}
bool Fn(const TFrame &f, int fn)
{
    return TModbusCommands::HasFunction(f, fn);
}
bool ByteIs(const TFrame &f, int index, int value)
{
    const auto b = TModbusCommands::ByteAt(f, index);
    return b && *b == value;
}

} // namespace

TKestCmdManager::TKestCmdManager()
{
    SetByteOrder(0, 1, 2, 3);
}

TFramePtr TKestCmdManager::Write(int reg, int value) const
{
    return CreateCmdSendInt(value, reg, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdDisableDistantControl() const
{
    return Write(kRegControl, 0);
}
TFramePtr TKestCmdManager::CreateCmdSet1A5A(bool value) const
{
    return Write(kReg1A5A, value);
}
TFramePtr TKestCmdManager::CreateCmdSetUaU650(bool value) const
{
    return Write(kRegUaU650, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAnalogInputNumber(uint8_t value) const
{
    return Write(kRegAnalogInput, value);
}
TFramePtr TKestCmdManager::CreateCmdSet5mA20mA(bool value) const
{
    return Write(kReg5mA20mA, value);
}
TFramePtr TKestCmdManager::CreateCmdSetRn(bool value) const
{
    return Write(kRegRn, value);
}
TFramePtr TKestCmdManager::CreateCmdSetScheme(bool value) const
{
    return Write(kRegScheme, value);
}
TFramePtr TKestCmdManager::CreateCmdSetDeviceSpeedIndex(int value) const
{
    return Write(kRegSpeedOrUOver300, value & 0xFF);
}
TFramePtr TKestCmdManager::CreateCmdSetUOver300(bool value) const
{
    return Write(kRegSpeedOrUOver300, static_cast<int>(value) & 0x7F);
}
TFramePtr TKestCmdManager::CreateCmdSetRsParamNum(int value) const
{
    return Write(kRegRsParamNum, value);
}
TFramePtr TKestCmdManager::CreateCmdSendAngle(int angle) const
{
    return Write(kRegAngle, angle);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierUa(bool value) const
{
    return Write(kRegAmplifierUa, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierUb(bool value) const
{
    return Write(kRegAmplifierUb, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierUc(bool value) const
{
    return Write(kRegAmplifierUc, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIa(bool value) const
{
    return Write(kRegAmplifierIa, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIb(bool value) const
{
    return Write(kRegAmplifierIb, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIc(bool value) const
{
    return Write(kRegAmplifierIc, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIa5(bool value) const
{
    return Write(kRegAmplifierIa5, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIb5(bool value) const
{
    return Write(kRegAmplifierIb5, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierIc5(bool value) const
{
    return Write(kRegAmplifierIc5, value);
}
TFramePtr TKestCmdManager::CreateCmdSetAmplifierU650(bool value) const
{
    return Write(kRegAmplifierU650, value);
}
TFramePtr TKestCmdManager::CreateCmdSendAutoMode(bool value) const
{
    return Write(kRegRsBlock, value ? 0 : 1);
}
TFramePtr TKestCmdManager::CreateCmdSendAddress(int value) const
{
    return Write(kRegDeviceAddress, value);
}

TFramePtr TKestCmdManager::CreateCmdSendUa(double value) const
{
    return CreateCmdSendFloat(value, kRegUa, kNetAdr);
}
TFramePtr TKestCmdManager::CreateCmdSendIa(double value) const
{
    return CreateCmdSendFloat(value, kRegIa, kNetAdr);
}
TFramePtr TKestCmdManager::CreateCmdSendU650(double u) const
{
    return CreateCmdSendFloat(u, kRegU650, kNetAdr);
}
TFramePtr TKestCmdManager::CreateCmdSendFrequency(double freq) const
{
    return CreateCmdSendFloat(freq, kRegFrequency, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendUaUbUc(double Ua, double Ub, double Uc) const
{
    return CreateCmdSendFloat3bytes(Ua, Ub, Uc, kRegUa, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendIaIbIc(double Ia, double Ib, double Ic) const
{
    return CreateCmdSendFloat3bytes(Ia, Ib, Ic, kRegIa, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendIa5Ib5Ic5(double Ia, double Ib, double Ic) const
{
    return CreateCmdSendFloat3bytes(Ia, Ib, Ic, kRegIa5, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendIaIc(double Ia, double Ic) const
{
    return CreateCmdSendFloat3bytes(Ia, 0.0, Ic, kRegIa, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendIa5Ic5(double Ia, double Ic) const
{
    return CreateCmdSendFloat3bytes(Ia, 0.0, Ic, kRegIa5, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdSendUaUc(double value) const
{
    return CreateCmdSendFloat3bytes(value, 0.0, value, kRegUa, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdEnableDistantControl(const TKestConfiguration &configuration) const
{
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    const uint8_t header[] = {kNetAdr, 0x10, 0x00, 0x00, 0x00, 0x07, 0x0E};
    std::copy(std::begin(header), std::end(header), d.begin());
    // The seven registers mirror the single writes to 0, 2, 4, 6, 8, 10, 12. The analog input
    // register is sent as 0: the input is selected by its own command.
    const int registers[7] = {1, configuration.GetAmperageFlag() ? 1 : 0, configuration.VoltageFlag ? 1 : 0, 0,
        configuration.AmperageRangeNum, configuration.RnFlag ? 1 : 0, configuration.SchemeFlag ? 1 : 0};
    for (int i = 0; i < 7; ++i) {
        d[static_cast<size_t>(7 + 2 * i)] = static_cast<uint8_t>(registers[i] >> 8);
        d[static_cast<size_t>(8 + 2 * i)] = static_cast<uint8_t>(registers[i] & 0xFF);
    }
    CloseFrame(*f, 21);
    return f;
}

TFramePtr TKestCmdManager::CreateCmdSetAmplifierUaUbUc(int value) const
{
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    const uint8_t v = static_cast<uint8_t>(value & 0xFF);
    const uint8_t bytes[] = {kNetAdr, 0x10, 0x00, 0xC8, 0x00, 0x03, 0x06, 0x00, v, 0x00, v, 0x00, v};
    std::copy(std::begin(bytes), std::end(bytes), d.begin());
    CloseFrame(*f, 13);
    return f;
}

TFramePtr TKestCmdManager::CreateCmdOffAmplifiers() const
{
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    const uint8_t header[] = {kNetAdr, 0x10, 0x00, 0x64, 0x00, 0x14, 0x28};
    std::copy(std::begin(header), std::end(header), d.begin());
    std::fill(d.begin() + 7, d.begin() + 47, 0); // registers 100..119
    CloseFrame(*f, 47);
    return f;
}

TFramePtr TKestCmdManager::CreateCmdReadDeviceInfo() const
{
    return CreateCmdRead(kRegDeviceInfo, deviceInfoLengthInWords, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdReadDeviceStatusAndAllParameters() const
{
    return CreateCmdRead(kRegStatus, kStatusCount, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdReadAllParametersRS() const
{
    return CreateCmdRead(kRegRsBlock, kRsBlockCount, kNetAdr);
}

TFramePtr TKestCmdManager::CreateCmdReadDeviceAddress() const
{
    return CreateCmdRead(kRegDeviceAddress, 1, kNetAdr);
}

// --- classifiers -------------------------------------------------------------------------------

bool TKestCmdManager::IsCmdConfiguration(const TFrame &cmd)
{
    return Reg(cmd, kRegControl);
}
bool TKestCmdManager::IsDistantControlEnabled(const TFrame &cmd)
{
    return ByteIs(cmd, 5, 7);
}
bool TKestCmdManager::IsCmdDisableControl(const TFrame &cmd)
{
    return Fn(cmd, 0x06) && ByteIs(cmd, 5, 0);
}
bool TKestCmdManager::IsCmdAngle(const TFrame &cmd)
{
    return ByteIs(cmd, 3, kRegAngle);
}
bool TKestCmdManager::IsCmdFrequence(const TFrame &cmd)
{
    return ByteIs(cmd, 3, kRegFrequency);
}
bool TKestCmdManager::IsCmdAmperage(const TFrame &cmd)
{
    return ByteIs(cmd, 3, kRegIa) || ByteIs(cmd, 3, kRegIa5);
}
bool TKestCmdManager::IsCmdOffAmplifiers(const TFrame &cmd)
{
    return ByteIs(cmd, 3, kRegUa) && ByteIs(cmd, 6, 40);
}
bool TKestCmdManager::IsCmdAllParameters(const TFrame &cmd)
{
    return Reg(cmd, kRegStatus);
}
bool TKestCmdManager::IsCmdReadParametersAnalog(const TFrame &cmd)
{
    return Reg(cmd, kRegAnalogParameters);
}
bool TKestCmdManager::IsCmdReadDeviceInfo(const TFrame &cmd)
{
    return Reg(cmd, kRegDeviceInfo);
}
bool TKestCmdManager::IsCmdReadDeviceAddress(const TFrame &cmd)
{
    return Fn(cmd, 0x03) && Reg(cmd, kRegDeviceAddress);
}
bool TKestCmdManager::IsCmdWriteDeviceAddress(const TFrame &cmd)
{
    return Fn(cmd, 0x06) && Reg(cmd, kRegDeviceAddress);
}
bool TKestCmdManager::IsCmdAllParametersRS(const TFrame &cmd)
{
    return Fn(cmd, 0x03) && Reg(cmd, kRegRsBlock);
}
bool TKestCmdManager::IsCmdSendDeviceMode(const TFrame &cmd)
{
    return Fn(cmd, 0x06) && Reg(cmd, kRegRsBlock);
}
bool TKestCmdManager::IsCmdSetAmplifierUa(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierUa);
}
bool TKestCmdManager::IsCmdSetAmplifierUb(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierUb);
}
bool TKestCmdManager::IsCmdSetAmplifierUc(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierUc);
}
bool TKestCmdManager::IsCmdSetAmplifierIa(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIa);
}
bool TKestCmdManager::IsCmdSetAmplifierIb(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIb);
}
bool TKestCmdManager::IsCmdSetAmplifierIc(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIc);
}
bool TKestCmdManager::IsCmdSetAmplifierIa5(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIa5);
}
bool TKestCmdManager::IsCmdSetAmplifierIb5(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIb5);
}
bool TKestCmdManager::IsCmdSetAmplifierIc5(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierIc5);
}
bool TKestCmdManager::IsCmdSetAmplifierU650(const TFrame &cmd)
{
    return Reg(cmd, kRegAmplifierU650);
}
bool TKestCmdManager::IsCmdSetAmplifierUaUbUc(const TFrame &cmd)
{
    return Fn(cmd, 0x10) && Reg(cmd, kRegAmplifierUa);
}
bool TKestCmdManager::IsCmdSet1A5A(const TFrame &cmd)
{
    return Reg(cmd, kReg1A5A);
}
bool TKestCmdManager::IsCmdSetUaU650(const TFrame &cmd)
{
    return Reg(cmd, kRegUaU650);
}
bool TKestCmdManager::IsCmdSetAmperageIn(const TFrame &cmd)
{
    return Reg(cmd, kRegAnalogInput);
}
bool TKestCmdManager::IsCmdSet5mA20mA(const TFrame &cmd)
{
    return Reg(cmd, kReg5mA20mA);
}
bool TKestCmdManager::IsCmdSetRn(const TFrame &cmd)
{
    return Reg(cmd, kRegRn);
}
bool TKestCmdManager::IsCmdSetScheme(const TFrame &cmd)
{
    return Reg(cmd, kRegScheme);
}
bool TKestCmdManager::IsCmdSetDeviceSpeedIndex(const TFrame &cmd)
{
    return Reg(cmd, kRegSpeedOrUOver300);
}
bool TKestCmdManager::IsCmdSetUOver300(const TFrame &cmd)
{
    return Reg(cmd, kRegSpeedOrUOver300);
}

// --- parsers -----------------------------------------------------------------------------------

void TKestCmdManager::ReadOne(const TFrame &answer, int position, TParameter &target) const
{
    if (const auto v = TryParseFloat(answer, position)) {
        target.value = *v;
    } else {
        target.value = 0.0;
        target.isDataCorrect = false;
    }
}

TParametersAndStatusPtr TKestCmdManager::WithStatus(TParametersPtr parameters) const
{
    return std::make_shared<TParametersAndStatus>(std::move(parameters));
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationQX4(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    const TParamArray &array = params->GetParameterArray();
    for (int k = 1; k <= TParameters::kCount; ++k) {
        TParameter &p = *array[static_cast<size_t>(k - 1)];
        if (const auto v = TryGetValueFromFrame(answer, k, start)) {
            p.value = *v;
        } else {
            p.value = 0.0;
            p.isDataCorrect = false;
        }
    }
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationI(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->Ia);
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationU(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->Ua);
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationF(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->Freq);
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationP(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->P);
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationQ(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->Q);
    return params;
}

TParametersPtr TKestCmdManager::GetParametersFromFrame_ConfigurationPQ(const TFrame &answer, int start) const
{
    auto params = std::make_shared<TParameters>();
    ReadOne(answer, start, params->P);
    ReadOne(answer, start <= TFrame::kCapacity ? start + 4 : start, params->Q);
    return params;
}

TParametersAndStatusPtr TKestCmdManager::ParseParameters_ConfigurationQX4(const TFrame &answer) const
{
    auto result = WithStatus(GetParametersFromFrame_ConfigurationQX4(answer, 10));
    if (const auto b = ByteAt(answer, 3))
        result->AmplifierErrorNum = *b;
    if (const auto b = ByteAt(answer, 4)) {
        result->isDeviceDisconnected = (*b & 0x01) != 0;
        result->HasAmplifierError = (*b & 0x02) != 0;
    }
    result->AnalogOut = ParseFloat(answer, 6); // bytes 5..8
    return result;
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationI(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationI(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationU(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationU(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationF(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationF(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationP(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationP(answer, 4));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationQ(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationQ(answer, 4));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationPQ(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationPQ(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationPQ_P(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationP(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationPQ_Q(const TFrame &answer) const
{
    return WithStatus(GetParametersFromFrame_ConfigurationQ(answer, 8));
}

TParametersAndStatusPtr TKestCmdManager::ParseParametersRS_ConfigurationQX4(const TFrame &answer) const
{
    auto result = WithStatus(GetParametersFromFrame_ConfigurationQX4(answer, 8));
    if (const auto mode = ByteAt(answer, 4))
        result->isAutoMode = (*mode ^ 1) != 0; // the mode register is 0 in automatic mode
    const auto h = ByteAt(answer, 5);
    const auto l = ByteAt(answer, 6);
    if (h && l)
        result->DeviceAddress = MergeBytesToInteger(*h, *l);
    return result;
}

TDeviceInfoPtr TKestCmdManager::ParseDeviceInfo(const TFrame &answer) const
{
    auto info = std::make_shared<TDeviceInfo>();
    info->deviceType = ByteAt(answer, 4).value_or(0);
    info->deviceSet = ByteAt(answer, 6).value_or(0);
    info->transfCoefs.U1 = ParseFloat(answer, 8); // bytes 7..10
    info->transfCoefs.U2 = ParseFloat(answer, 12); // bytes 11..14
    info->transfCoefs.I1 = ParseFloat(answer, 16); // bytes 15..18
    info->transfCoefs.I2 = ParseFloat(answer, 20); // bytes 19..22
    info->scheme = ByteAt(answer, 24).value_or(0);
    info->analogOutputRange = ByteAt(answer, 26).value_or(0);
    info->AnalogOut.OutArray[0] = ByteAt(answer, 28).value_or(0);
    info->AnalogOut.OutArray[1] = ByteAt(answer, 30).value_or(0);
    info->AnalogOut.OutArray[2] = ByteAt(answer, 32).value_or(0);
    return info;
}

TDeviceInfoPtr TKestCmdManager::ParseDeviceInfoNotQx4(const TFrame &answer) const
{
    auto info = std::make_shared<TDeviceInfo>();
    info->deviceType = ByteAt(answer, 4).value_or(0);
    info->deviceSet = ByteAt(answer, 6).value_or(0);
    info->Scale = ParseFloat(answer, 34); // bytes 33..36
    info->IntegerDigitCount = ByteAt(answer, 38).value_or(0);
    info->UnitCode = ByteAt(answer, 40).value_or(0);
    return info;
}

int TKestCmdManager::RecieveDeviceAddress(const TFrame &answer)
{
    const auto h = ByteAt(answer, 3);
    const auto l = ByteAt(answer, 4);
    return h && l ? MergeBytesToInteger(*h, *l) : 0;
}

QStringList TKestCmdManager::GetDeviceSpeedList()
{
    return {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
}
