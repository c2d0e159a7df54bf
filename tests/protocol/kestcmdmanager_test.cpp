// The installation's command set: every request byte by byte, which classifiers recognise it,
// and the answer parsers on complete and on short answers.

#include "frametestutil.h"
#include "protocol/kestcmdmanager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace testutil;

namespace {

using Classifier = bool (*)(const TFrame &);

const std::vector<std::pair<const char *, Classifier>> &KestClassifiers()
{
    using K = TKestCmdManager;
    static const std::vector<std::pair<const char *, Classifier>> list = {
        {"Configuration", K::IsCmdConfiguration},
        {"DistantControlEnabled", K::IsDistantControlEnabled},
        {"DisableControl", K::IsCmdDisableControl},
        {"Angle", K::IsCmdAngle},
        {"Frequence", K::IsCmdFrequence},
        {"Amperage", K::IsCmdAmperage},
        {"OffAmplifiers", K::IsCmdOffAmplifiers},
        {"AllParameters", K::IsCmdAllParameters},
        {"ReadParametersAnalog", K::IsCmdReadParametersAnalog},
        {"ReadDeviceInfo", K::IsCmdReadDeviceInfo},
        {"ReadDeviceAddress", K::IsCmdReadDeviceAddress},
        {"WriteDeviceAddress", K::IsCmdWriteDeviceAddress},
        {"AllParametersRS", K::IsCmdAllParametersRS},
        {"SendDeviceMode", K::IsCmdSendDeviceMode},
        {"AmpUa", K::IsCmdSetAmplifierUa},
        {"AmpUb", K::IsCmdSetAmplifierUb},
        {"AmpUc", K::IsCmdSetAmplifierUc},
        {"AmpIa", K::IsCmdSetAmplifierIa},
        {"AmpIb", K::IsCmdSetAmplifierIb},
        {"AmpIc", K::IsCmdSetAmplifierIc},
        {"AmpIa5", K::IsCmdSetAmplifierIa5},
        {"AmpIb5", K::IsCmdSetAmplifierIb5},
        {"AmpIc5", K::IsCmdSetAmplifierIc5},
        {"AmpU650", K::IsCmdSetAmplifierU650},
        {"AmpUaUbUc", K::IsCmdSetAmplifierUaUbUc},
        {"1A5A", K::IsCmdSet1A5A},
        {"UaU650", K::IsCmdSetUaU650},
        {"AmperageIn", K::IsCmdSetAmperageIn},
        {"5mA20mA", K::IsCmdSet5mA20mA},
        {"Rn", K::IsCmdSetRn},
        {"Scheme", K::IsCmdSetScheme},
        {"SpeedIndex", K::IsCmdSetDeviceSpeedIndex},
        {"UOver300", K::IsCmdSetUOver300},
    };
    return list;
}

std::string TrueClassifiers(const TFrame &f)
{
    std::string names;
    for (const auto &[name, fn] : KestClassifiers())
        if (fn(f))
            names += (names.empty() ? "" : " ") + std::string(name);
    return names;
}

std::string OffAmplifiersBytes()
{
    std::string s = "77 10 00 64 00 14 28";
    for (int i = 0; i < 40; ++i)
        s += " 00";
    return s;
}

struct Expected {
    const char *what;
    TFramePtr frame;
    std::string bytes; // without the check bytes
    const char *classifiers; // every classifier that is true for the frame
};

std::vector<Expected> AllRequests(TKestCmdManager &m)
{
    TKestConfiguration conf;
    conf.AmperageMax = 5.0;
    conf.VoltageFlag = true;
    conf.AmperageRangeNum = 2;
    conf.RnFlag = true;
    conf.SchemeFlag = false;
    conf.AnalogInputNum = 1;
    TKestConfiguration small;
    small.AmperageMax = 1.0;
    small.SchemeFlag = true;
    small.AmperageRangeNum = 0x1FF & 0xFF;

    return {
        {"disable control", m.CreateCmdDisableDistantControl(), "77 06 00 00 00 00", "Configuration DisableControl"},
        {"1 A / 5 A on", m.CreateCmdSet1A5A(true), "77 06 00 02 00 01", "1A5A"},
        {"1 A / 5 A off", m.CreateCmdSet1A5A(false), "77 06 00 02 00 00", "DisableControl 1A5A"},
        {"Ua / U650", m.CreateCmdSetUaU650(true), "77 06 00 04 00 01", "UaU650"},
        {"analog input", m.CreateCmdSetAnalogInputNumber(3), "77 06 00 06 00 03", "AmperageIn"},
        {"5 mA / 20 mA", m.CreateCmdSet5mA20mA(true), "77 06 00 08 00 01", "5mA20mA"},
        {"Rn off", m.CreateCmdSetRn(false), "77 06 00 0A 00 00", "DisableControl Rn"},
        {"scheme", m.CreateCmdSetScheme(true), "77 06 00 0C 00 01", "Scheme"},
        {"speed index keeps low byte", m.CreateCmdSetDeviceSpeedIndex(0x105), "77 06 00 0E 00 05",
            "SpeedIndex UOver300"},
        {"U over 300", m.CreateCmdSetUOver300(true), "77 06 00 0E 00 01", "SpeedIndex UOver300"},
        {"RS parameter number", m.CreateCmdSetRsParamNum(2), "77 06 00 10 00 02", ""},
        {"angle", m.CreateCmdSendAngle(-30), "77 06 00 8C FF E2", "Angle"},
        {"amplifier Ua", m.CreateCmdSetAmplifierUa(true), "77 06 00 C8 00 01", "AmpUa"},
        {"amplifier Ub", m.CreateCmdSetAmplifierUb(true), "77 06 00 CA 00 01", "AmpUb"},
        {"amplifier Uc", m.CreateCmdSetAmplifierUc(true), "77 06 00 CC 00 01", "AmpUc"},
        {"amplifier Ia", m.CreateCmdSetAmplifierIa(true), "77 06 00 CE 00 01", "AmpIa"},
        {"amplifier Ib", m.CreateCmdSetAmplifierIb(true), "77 06 00 D0 00 01", "AmpIb"},
        {"amplifier Ic", m.CreateCmdSetAmplifierIc(true), "77 06 00 D2 00 01", "AmpIc"},
        {"amplifier Ia5", m.CreateCmdSetAmplifierIa5(true), "77 06 00 D4 00 01", "AmpIa5"},
        {"amplifier Ib5", m.CreateCmdSetAmplifierIb5(true), "77 06 00 D6 00 01", "AmpIb5"},
        {"amplifier Ic5 off", m.CreateCmdSetAmplifierIc5(false), "77 06 00 D8 00 00", "DisableControl AmpIc5"},
        {"amplifier U650", m.CreateCmdSetAmplifierU650(true), "77 06 00 DA 00 01", "AmpU650"},
        {"auto mode is sent inverted", m.CreateCmdSendAutoMode(true), "77 06 07 CC 00 00",
            "DisableControl SendDeviceMode"},
        {"manual mode", m.CreateCmdSendAutoMode(false), "77 06 07 CC 00 01", "SendDeviceMode"},
        {"transducer address", m.CreateCmdSendAddress(0x11234), "77 06 07 CE 12 34", "WriteDeviceAddress"},
        {"Ua", m.CreateCmdSendUa(100.0), "77 10 00 64 00 02 04 42 C8 00 00", ""},
        {"Ia", m.CreateCmdSendIa(1.0), "77 10 00 70 00 02 04 3F 80 00 00", "Amperage"},
        {"U650", m.CreateCmdSendU650(650.0), "77 10 00 88 00 02 04 44 22 80 00", ""},
        {"frequency", m.CreateCmdSendFrequency(50.0), "77 10 00 8E 00 02 04 42 48 00 00", "Frequence"},
        {"Ua Ub Uc", m.CreateCmdSendUaUbUc(1.0, 2.0, 3.0), "77 10 00 64 00 06 0C 3F 80 00 00 40 00 00 00 40 40 00 00",
            ""},
        {"Ia Ib Ic", m.CreateCmdSendIaIbIc(1.0, 2.0, 3.0), "77 10 00 70 00 06 0C 3F 80 00 00 40 00 00 00 40 40 00 00",
            "Amperage"},
        {"Ia5 Ib5 Ic5", m.CreateCmdSendIa5Ib5Ic5(1.0, 2.0, -3.0),
            "77 10 00 7C 00 06 0C 3F 80 00 00 40 00 00 00 C0 40 00 00", "Amperage"},
        {"Ia Ic", m.CreateCmdSendIaIc(1.0, 2.0), "77 10 00 70 00 06 0C 3F 80 00 00 00 00 00 00 40 00 00 00",
            "Amperage"},
        {"Ia5 Ic5", m.CreateCmdSendIa5Ic5(1.0, 2.0), "77 10 00 7C 00 06 0C 3F 80 00 00 00 00 00 00 40 00 00 00",
            "Amperage"},
        {"Ua Uc", m.CreateCmdSendUaUc(200.0), "77 10 00 64 00 06 0C 43 48 00 00 00 00 00 00 43 48 00 00", ""},
        {"enable control, 5 A", m.CreateCmdEnableDistantControl(conf),
            "77 10 00 00 00 07 0E 00 01 00 01 00 01 00 00 00 02 00 01 00 00", "Configuration DistantControlEnabled"},
        {"enable control, 1 A", m.CreateCmdEnableDistantControl(small),
            "77 10 00 00 00 07 0E 00 01 00 00 00 00 00 00 00 FF 00 00 00 01", "Configuration DistantControlEnabled"},
        {"three voltage amplifiers", m.CreateCmdSetAmplifierUaUbUc(0x101), "77 10 00 C8 00 03 06 00 01 00 01 00 01",
            "AmpUa AmpUaUbUc"},
        {"amplifiers off", m.CreateCmdOffAmplifiers(), OffAmplifiersBytes(), "OffAmplifiers"},
        {"device info", m.CreateCmdReadDeviceInfo(), "77 03 02 BC 00 13", "ReadDeviceInfo"},
        {"status", m.CreateCmdReadDeviceStatusAndAllParameters(), "77 03 03 E2 00 45", "AllParameters"},
        {"RS block", m.CreateCmdReadAllParametersRS(), "77 03 07 CC 00 44", "AllParametersRS"},
        {"transducer address read", m.CreateCmdReadDeviceAddress(), "77 03 07 CE 00 01", "ReadDeviceAddress"},
    };
}

} // namespace

TEST(KestCmdManager, RequestsByteByByteAndTheirClassifiers)
{
    TKestCmdManager m;
    for (auto &e : AllRequests(m)) {
        SCOPED_TRACE(e.what);
        const auto expected = WithCrc(Hex(e.bytes));
        EXPECT_EQ(HexOf(*e.frame), HexOf(expected));
        EXPECT_EQ(e.frame->size, static_cast<int>(expected.size()));
        EXPECT_EQ(e.frame->crcH, expected[expected.size() - 2]);
        EXPECT_EQ(e.frame->crcL, expected[expected.size() - 1]);
        EXPECT_TRUE(e.frame->isResponseRequired);
        EXPECT_EQ(TrueClassifiers(*e.frame), e.classifiers);
    }
    // The sizes named for the block writes.
    EXPECT_EQ(m.CreateCmdEnableDistantControl(TKestConfiguration())->size, 23);
    EXPECT_EQ(m.CreateCmdSetAmplifierUaUbUc(1)->size, 15);
    EXPECT_EQ(m.CreateCmdOffAmplifiers()->size, 49);
    // Register 996 is only ever recognised, never built.
    EXPECT_EQ(TrueClassifiers(Answer(WithCrc(Hex("77 03 03 E4 00 02")))), "ReadParametersAnalog");
}

TEST(KestCmdManager, DeviceInfoLengthFallsBackTo15)
{
    TKestCmdManager m;
    EXPECT_EQ(HexOf(*m.CreateCmdReadDeviceInfo()).substr(0, 17), "77 03 02 BC 00 13");
    m.SetOldDevInfoLength();
    EXPECT_EQ(HexOf(*m.CreateCmdReadDeviceInfo()).substr(0, 17), "77 03 02 BC 00 0F");
    EXPECT_EQ(m.deviceInfoLengthInWords, 15);
    EXPECT_EQ(TKestCmdManager::GetDeviceSpeedList(),
        QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(TKestCmdManager::GetDeviceSpeedList()[TKestCmdManager::GetDefaultDeviceSpeedIndex()], "9600");
}

TEST(KestCmdManager, ClassifiersIgnoreBytesPastTheFrame)
{
    TKestCmdManager m;
    for (auto &e : AllRequests(m)) {
        for (int n = 0; n < e.frame->size; ++n) {
            TFrame cut = *e.frame; // the original bytes stay behind the cut
            cut.size = n;
            TFrame cleared = cut;
            std::fill(cleared.data.begin() + n, cleared.data.end(), 0x00);
            ASSERT_EQ(TrueClassifiers(cut), TrueClassifiers(cleared)) << e.what << " cut at " << n;
        }
    }
}

// --- answers -----------------------------------------------------------------------------------

namespace {

void PutFloat(std::vector<uint8_t> &b, float v)
{
    uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(u >> s));
}

float ValueOf(int k)
{
    return static_cast<float>(k * 1.5 + 0.125);
}

// Answer to the status read: error number 5, status bits, analog output 12.5, quantities k*1.5+0.125
// with index 26 marked missing.
std::vector<uint8_t> StatusAnswer(uint8_t bits)
{
    std::vector<uint8_t> b = {0x77, 0x03, 138, 5, bits};
    PutFloat(b, 12.5f);
    for (int k = 1; k <= 33; ++k) {
        if (k == 26)
            b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF});
        else
            PutFloat(b, ValueOf(k));
    }
    return WithCrc(b);
}

std::vector<uint8_t> RsAnswer(uint8_t mode, uint16_t address)
{
    std::vector<uint8_t> b
        = {0x77, 0x03, 136, 0, mode, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    for (int k = 1; k <= 33; ++k)
        PutFloat(b, ValueOf(k));
    return WithCrc(b);
}

std::vector<uint8_t> DeviceInfoAnswer(int registers)
{
    std::vector<uint8_t> b = {0x77, 0x03, static_cast<uint8_t>(2 * registers), 0x01, 0x07, 0x02, 0x03};
    PutFloat(b, 100.0f); // U1
    PutFloat(b, 10.0f); // U2
    PutFloat(b, 50.0f); // I1
    PutFloat(b, 5.0f); // I2
    b.insert(b.end(), {0x00, 0x01, 0x00, 0x02, 0x00, 0x09, 0x00, 0x0A, 0x00, 0x0B});
    if (registers == 19) {
        PutFloat(b, 0.25f); // Scale
        b.insert(b.end(), {0x00, 0x04, 0x00, 0x06});
    }
    return WithCrc(b);
}

std::string Describe(const TParameters &p)
{
    std::string s;
    for (const TParameter *x : p.GetParameterArray())
        if (x)
            s += std::to_string(x->index) + "=" + std::to_string(x->value) + (x->isDataCorrect ? "" : "!") + " ";
    return s;
}

std::string Describe(const TParametersAndStatus &r)
{
    return Describe(*r.Parameters) + "| " + std::to_string(r.isDeviceDisconnected) + std::to_string(r.HasAmplifierError)
        + " " + std::to_string(r.AmplifierErrorNum) + " " + std::to_string(r.AnalogOut) + " "
        + std::to_string(r.isAutoMode) + " " + std::to_string(r.DeviceAddress);
}

std::string Describe(const TDeviceInfo &d)
{
    return std::to_string(d.deviceType) + " " + std::to_string(d.deviceSet) + " " + std::to_string(d.scheme) + " "
        + std::to_string(d.analogOutputRange) + " " + std::to_string(d.AnalogOut.OutArray[0]) + ","
        + std::to_string(d.AnalogOut.OutArray[1]) + "," + std::to_string(d.AnalogOut.OutArray[2]) + " "
        + std::to_string(d.transfCoefs.U1) + " " + std::to_string(d.transfCoefs.U2) + " "
        + std::to_string(d.transfCoefs.I1) + " " + std::to_string(d.transfCoefs.I2) + " " + std::to_string(d.Scale)
        + " " + std::to_string(d.IntegerDigitCount) + " " + std::to_string(d.UnitCode);
}

// Every parser of the set, as text, so that results can be compared wholesale.
std::vector<std::pair<std::string, std::function<std::string(const TFrame &)>>> Parsers(const TKestCmdManager &m)
{
    return {
        {"ParseParameters_ConfigurationQX4",
            [&](const TFrame &f) { return Describe(*m.ParseParameters_ConfigurationQX4(f)); }},
        {"ParseParametersRS_ConfigurationQX4",
            [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationQX4(f)); }},
        {"RS I", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationI(f)); }},
        {"RS U", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationU(f)); }},
        {"RS F", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationF(f)); }},
        {"RS P", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationP(f)); }},
        {"RS Q", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationQ(f)); }},
        {"RS PQ", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationPQ(f)); }},
        {"RS PQ_P", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationPQ_P(f)); }},
        {"RS PQ_Q", [&](const TFrame &f) { return Describe(*m.ParseParametersRS_ConfigurationPQ_Q(f)); }},
        {"QX4 block from 4",
            [&](const TFrame &f) { return Describe(*m.GetParametersFromFrame_ConfigurationQX4(f, 4)); }},
        {"ParseDeviceInfo", [&](const TFrame &f) { return Describe(*m.ParseDeviceInfo(f)); }},
        {"ParseDeviceInfoNotQx4", [&](const TFrame &f) { return Describe(*m.ParseDeviceInfoNotQx4(f)); }},
        {"RecieveDeviceAddress",
            [&](const TFrame &f) { return std::to_string(TKestCmdManager::RecieveDeviceAddress(f)); }},
    };
}

} // namespace

TEST(KestCmdManager, StatusBlock)
{
    const TKestCmdManager m;
    const auto r = m.ParseParameters_ConfigurationQX4(Answer(StatusAnswer(0x03)));
    EXPECT_TRUE(r->isDeviceDisconnected);
    EXPECT_TRUE(r->HasAmplifierError);
    EXPECT_EQ(r->AmplifierErrorNum, 5);
    EXPECT_EQ(r->AnalogOut, 12.5);
    for (int k = 1; k <= 33; ++k) {
        const TParameter *p = r->Parameters->GetParameterByIndex(k);
        if (k == 26) {
            EXPECT_EQ(p->value, 0.0);
            EXPECT_FALSE(p->isDataCorrect);
        } else {
            EXPECT_EQ(p->value, ValueOf(k)) << k;
            EXPECT_TRUE(p->isDataCorrect) << k;
        }
    }
    EXPECT_EQ(r->Parameters->S.value, ValueOf(24));
    EXPECT_EQ(r->Parameters->Q.value, ValueOf(23));
    const auto bits = m.ParseParameters_ConfigurationQX4(Answer(StatusAnswer(0x02)));
    EXPECT_FALSE(bits->isDeviceDisconnected);
    EXPECT_TRUE(bits->HasAmplifierError);
    // Each parse gives a new object.
    EXPECT_NE(m.ParseParameters_ConfigurationQX4(Answer(StatusAnswer(0))).get(), bits.get());
}

TEST(KestCmdManager, TransducerInterfaceBlock)
{
    const TKestCmdManager m;
    const struct {
        uint8_t mode;
        bool autoMode;
    } modes[] = {{0, true}, {1, false}};
    for (const auto &mode : modes) {
        const auto r = m.ParseParametersRS_ConfigurationQX4(Answer(RsAnswer(mode.mode, 0x0102)));
        EXPECT_EQ(r->isAutoMode, mode.autoMode);
        EXPECT_EQ(r->DeviceAddress, 258);
        EXPECT_EQ(r->Parameters->Freq.value, ValueOf(26));
        EXPECT_EQ(r->Parameters->Er.value, ValueOf(33));
    }
    const TFrame rs = Answer(RsAnswer(0, 1));
    // The single-quantity readers take bytes 7..10 (P and Q configurations: 3..6), PQ takes 7..14.
    const float first = ValueOf(1), second = ValueOf(2);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationI(rs)->Parameters->Ia.value, first);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationU(rs)->Parameters->Ua.value, first);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationF(rs)->Parameters->Freq.value, first);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationPQ_P(rs)->Parameters->P.value, first);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationPQ_Q(rs)->Parameters->Q.value, first);
    const auto pq = m.ParseParametersRS_ConfigurationPQ(rs);
    EXPECT_EQ(pq->Parameters->P.value, first);
    EXPECT_EQ(pq->Parameters->Q.value, second);
    // Everything else stays at zero, flagged correct; status fields stay at their defaults.
    EXPECT_EQ(pq->Parameters->Ia.value, 0.0);
    EXPECT_TRUE(pq->Parameters->Ia.isDataCorrect);
    EXPECT_FALSE(pq->isAutoMode);
    EXPECT_EQ(pq->DeviceAddress, 0);
    const TFrame single = Answer(WithCrc(Hex("77 03 04 42 C8 00 00")));
    EXPECT_EQ(m.ParseParametersRS_ConfigurationP(single)->Parameters->P.value, 100.0);
    EXPECT_EQ(m.ParseParametersRS_ConfigurationQ(single)->Parameters->Q.value, 100.0);
    // These readers do not round, unlike the 33-value block.
    const TFrame odd = Answer(WithCrc(Hex("77 03 04 3F 9D F3 B6")));
    EXPECT_EQ(m.ParseParametersRS_ConfigurationP(odd)->Parameters->P.value, static_cast<double>(1.234f));
    EXPECT_EQ(m.GetParametersFromFrame_ConfigurationQX4(odd, 4)->Ua.value, 1.234);
    EXPECT_EQ(TKestCmdManager::RecieveDeviceAddress(Answer(WithCrc(Hex("77 03 02 01 F4")))), 500);
    EXPECT_EQ(TKestCmdManager::MergeBytesToInteger(0xFF, 0xFE), 65534);
}

TEST(KestCmdManager, DeviceInformationLayouts)
{
    const TKestCmdManager m;
    const TFrame full = Answer(DeviceInfoAnswer(19));
    const TFrame old = Answer(DeviceInfoAnswer(15));
    ASSERT_EQ(full.size, 3 + 38 + 2);
    ASSERT_EQ(old.size, 3 + 30 + 2);
    for (const TFrame *f : {&full, &old}) {
        const auto d = m.ParseDeviceInfo(*f);
        EXPECT_EQ(Describe(*d), "7 3 1 2 9,10,11 100.000000 10.000000 50.000000 5.000000 0.000000 0 0");
    }
    EXPECT_EQ(
        Describe(*m.ParseDeviceInfoNotQx4(full)), "7 3 0 0 0,0,0 0.000000 0.000000 0.000000 0.000000 0.250000 4 6");
    // The 15-register block lacks the scale, digits and unit: they stay at their defaults.
    EXPECT_EQ(
        Describe(*m.ParseDeviceInfoNotQx4(old)), "7 3 0 0 0,0,0 0.000000 0.000000 0.000000 0.000000 0.000000 0 0");
}

TEST(KestCmdManager, ShortAnswersLeaveMissingValuesMissing)
{
    const TKestCmdManager m;
    // The status block cut after quantity 10: 11..33 are missing, the rest intact.
    auto bytes = StatusAnswer(0x01);
    bytes.resize(9 + 4 * 10);
    const auto r = m.ParseParameters_ConfigurationQX4(Answer(bytes));
    EXPECT_EQ(r->AnalogOut, 12.5);
    EXPECT_TRUE(r->isDeviceDisconnected);
    for (int k = 1; k <= 33; ++k) {
        const TParameter *p = r->Parameters->GetParameterByIndex(k);
        EXPECT_EQ(p->isDataCorrect, k <= 10) << k;
        EXPECT_EQ(p->value, k <= 10 ? ValueOf(k) : 0.0) << k;
    }
    // Cut inside the analog-output float: it stays 0, the status bytes are still read.
    const auto cut = m.ParseParameters_ConfigurationQX4(Answer(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7)));
    EXPECT_EQ(cut->AnalogOut, 0.0);
    EXPECT_EQ(cut->AmplifierErrorNum, 5);
    EXPECT_FALSE(cut->Parameters->Ua.isDataCorrect);
    // A one-value reader on an answer without its value.
    const auto none = m.ParseParametersRS_ConfigurationI(Answer("77 03 02 00 00"));
    EXPECT_FALSE(none->Parameters->Ia.isDataCorrect);
    EXPECT_EQ(none->Parameters->Ia.value, 0.0);
    EXPECT_TRUE(none->Parameters->Ua.isDataCorrect);
    auto rs = RsAnswer(0, 1);
    rs.resize(13); // P at bytes 7..10 complete, Q at 11..14 cut
    const auto half = m.ParseParametersRS_ConfigurationPQ(Answer(rs));
    EXPECT_TRUE(half->Parameters->P.isDataCorrect);
    EXPECT_FALSE(half->Parameters->Q.isDataCorrect);
    EXPECT_EQ(TKestCmdManager::RecieveDeviceAddress(Answer("77 03 02 01")), 0);
}

// Whatever is cut off, no parser's result depends on the bytes behind the answer's size.
TEST(KestCmdManager, ParsersNeverReadPastTheAnswer)
{
    const TKestCmdManager m;
    const std::vector<std::vector<uint8_t>> answers
        = {StatusAnswer(3), RsAnswer(0, 0x1234), DeviceInfoAnswer(19), DeviceInfoAnswer(15)};
    for (const auto &full : answers) {
        for (size_t n = 0; n <= full.size(); ++n) {
            TFrame kept = Answer(full); // the rest of the answer stays behind the cut
            kept.size = static_cast<int32_t>(n);
            TFrame other = kept;
            std::fill(other.data.begin() + static_cast<long>(n), other.data.end(), 0xFF);
            for (const auto &[name, parse] : Parsers(m))
                ASSERT_EQ(parse(kept), parse(other)) << name << " cut at " << n;
        }
    }
}
