// Feeds arbitrary answers to every parser and classifier of both command sets and to the codec's
// readers. The answer is copied into a frame whose size is the input's length and whose buffer
// behind it is filled with a marker, so that AddressSanitizer cannot see an over-read inside the
// 4096-byte buffer: instead every result is computed twice, with two different markers, and must
// not change.

#include "protocol/kestcmdmanager.h"
#include "protocol/numberformat.h"
#include "protocol/qx4cmdmanager.h"
#include "transport/kesterror.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Mix(std::string &out, double v)
{
    char buf[sizeof v];
    std::memcpy(buf, &v, sizeof v);
    out.append(buf, sizeof v);
}

void Mix(std::string &out, long long v)
{
    out += std::to_string(v) + ' ';
}

void Mix(std::string &out, const TParameters &p)
{
    for (const TParameter *x : p.GetParameterArray())
        if (x) {
            Mix(out, x->value);
            out.push_back(x->isDataCorrect ? '1' : '0');
        }
}

void Mix(std::string &out, const TParametersAndStatus &r)
{
    Mix(out, *r.Parameters);
    Mix(out, static_cast<long long>(r.isDeviceDisconnected) * 2 + r.HasAmplifierError);
    Mix(out, static_cast<long long>(r.AmplifierErrorNum));
    Mix(out, r.AnalogOut);
    Mix(out, static_cast<long long>(r.isAutoMode));
    Mix(out, static_cast<long long>(r.DeviceAddress));
}

void Mix(std::string &out, const TDeviceInfo &d)
{
    for (long long v : {d.deviceType, d.deviceSet, d.scheme, d.analogOutputRange, d.IntegerDigitCount, d.UnitCode})
        Mix(out, v);
    for (uint8_t v : d.AnalogOut.OutArray)
        Mix(out, static_cast<long long>(v));
    for (double v : {d.transfCoefs.U1, d.transfCoefs.U2, d.transfCoefs.I1, d.transfCoefs.I2, d.Scale})
        Mix(out, v);
}

std::string ParseEverything(const TFrame &f, int position)
{
    static const TKestCmdManager kest;
    static const TQx4CmdManager qx4(1);
    static const TModbusCommands base;
    std::string out;

    // Codec readers at every position the input suggests, in both byte orders.
    for (const TModbusCommands *c : {static_cast<const TModbusCommands *>(&kest), &base}) {
        Mix(out, c->ParseFloat(f, position));
        Mix(out, c->ParseSingleParameter(f));
        Mix(out, static_cast<long long>(c->ParseInteger(f, position)));
        Mix(out, static_cast<long long>(c->ParseSingleInteger(f)));
        try {
            Mix(out, c->GetValueFromFrame(f, position / 8 + 1, position % 16));
        } catch (const EKestError &) {
            out += "missing";
        }
    }

    Mix(out, *kest.ParseParameters_ConfigurationQX4(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationQX4(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationI(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationU(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationF(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationP(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationQ(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationPQ(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationPQ_P(f));
    Mix(out, *kest.ParseParametersRS_ConfigurationPQ_Q(f));
    Mix(out, *kest.GetParametersFromFrame_ConfigurationQX4(f, position));
    Mix(out, *kest.GetParametersFromFrame_ConfigurationPQ(f, position));
    Mix(out, *kest.ParseDeviceInfo(f));
    Mix(out, *kest.ParseDeviceInfoNotQx4(f));
    Mix(out, static_cast<long long>(TKestCmdManager::RecieveDeviceAddress(f)));

    const auto e1 = TQx4CmdManager::ParseExtraSettings1(f);
    const auto e2 = TQx4CmdManager::ParseExtraSettings2(f);
    for (long long v : {e1.FactoryNumber, e1.ModificationNumber, e2.RelayCount, e2.InterfaceCount})
        Mix(out, v);
    const auto coefs = qx4.ParseTransfCoefs(f);
    for (double v : {coefs.U1, coefs.U2, coefs.I1, coefs.I2})
        Mix(out, v);
    for (int v : TQx4CmdManager::ParseAnalogOuts(f))
        Mix(out, static_cast<long long>(v));
    Mix(out, static_cast<long long>(TQx4CmdManager::ParseRsRate2Index(f)));

    // Classifiers of both sets, as one bit string.
    using K = TKestCmdManager;
    using Q = TQx4CmdManager;
    for (bool b : {K::IsCmdConfiguration(f), K::IsDistantControlEnabled(f), K::IsCmdDisableControl(f), K::IsCmdAngle(f),
             K::IsCmdFrequence(f), K::IsCmdAmperage(f), K::IsCmdOffAmplifiers(f), K::IsCmdAllParameters(f),
             K::IsCmdReadParametersAnalog(f), K::IsCmdReadDeviceInfo(f), K::IsCmdReadDeviceAddress(f),
             K::IsCmdWriteDeviceAddress(f), K::IsCmdAllParametersRS(f), K::IsCmdSendDeviceMode(f),
             K::IsCmdSetAmplifierUa(f), K::IsCmdSetAmplifierUb(f), K::IsCmdSetAmplifierUc(f), K::IsCmdSetAmplifierIa(f),
             K::IsCmdSetAmplifierIb(f), K::IsCmdSetAmplifierIc(f), K::IsCmdSetAmplifierIa5(f),
             K::IsCmdSetAmplifierIb5(f), K::IsCmdSetAmplifierIc5(f), K::IsCmdSetAmplifierU650(f),
             K::IsCmdSetAmplifierUaUbUc(f), K::IsCmdSet1A5A(f), K::IsCmdSetUaU650(f), K::IsCmdSetAmperageIn(f),
             K::IsCmdSet5mA20mA(f), K::IsCmdSetRn(f), K::IsCmdSetScheme(f), K::IsCmdSetDeviceSpeedIndex(f),
             K::IsCmdSetUOver300(f), Q::IsCmdReadParameters(f), Q::IsCmdReadPa(f), Q::IsCmdReadPb(f), Q::IsCmdReadPc(f),
             Q::IsCmdWriteAdjustingFrequence(f), Q::IsCmdWriteTransfCoefs(f), Q::IsCmdReadTransfCoefs(f),
             Q::IsCmdShiftAngle(f), Q::IsCmdShiftAnalogCoef(f), Q::IsCmdSetAnalogModeWorking(f),
             Q::IsCmdSetAnalogModeAdjustingMiddle(f), Q::IsCmdSetAnalogModeAdjustingHigh(f),
             Q::IsCmdSetAmperageValueForAdjustingAnalogOut1(f), Q::IsCmdSetAmperageValueForAdjustingAnalogOut2(f),
             Q::IsCmdSetAmperageValueForAdjustingAnalogOut3(f), Q::IsCmdSetAnalogType(f), Q::IsCmdWriteSaveChanges(f),
             Q::IsCmdZeroOutNoise(f), Q::IsCmdWriteNetAdr(f), Q::IsCmdWriteRsConfig2(f), Q::IsCmdReadScheme(f),
             Q::IsCmdReadRsRate1(f), Q::IsCmdReadRsRate2(f), Q::IsCmdReadRsConfig2(f), Q::IsCmdReadAnalogType(f),
             Q::IsCmdReadAnalogOuts(f), Q::IsCmdReadExtraSettings1(f), Q::IsCmdReadExtraSettings2(f),
             Q::IsCmdFindAddress(f)})
        out.push_back(b ? '1' : '0');
    return out;
}

} // namespace

// Every input allocates a few dozen parameter sets; with the default 256 MB quarantine each of
// them lands on fresh pages and page faults dominate the run time.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > static_cast<size_t>(TFrame::kCapacity))
        return 0;
    // The first byte also chooses a position for the position-taking readers (may be past the end).
    const int position = size ? static_cast<int>(data[0]) - 8 : 0;

    TFrame a;
    a.data.fill(0x00);
    std::memcpy(a.data.data(), data, size);
    a.size = static_cast<int32_t>(size);
    TFrame b = a;
    std::fill(b.data.begin() + static_cast<long>(size), b.data.end(), 0xFF);

    if (ParseEverything(a, position) != ParseEverything(b, position))
        std::abort(); // a parser looked past the answer

    // The number reader on the same bytes as text: whatever it accepts is finite, and the writer's
    // text of it reads back.
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    double v = 0.0;
    if (TryStrToFloat(text, v)) {
        if (!std::isfinite(v))
            std::abort();
        double back = 0.0;
        if (!TryStrToFloat(FloatToStr(v), back))
            std::abort();
    }
    return 0;
}
