// The transducer's command set: every request byte by byte with the classifiers that recognise
// it, the search frame, and the decoders of its own answers.

#include "frametestutil.h"
#include "protocol/qx4cmdmanager.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testutil;

namespace {

using Classifier = bool (*)(const TFrame &);
using Q = TQx4CmdManager;

const std::vector<std::pair<const char *, Classifier>> &Qx4Classifiers()
{
    static const std::vector<std::pair<const char *, Classifier>> list = {
        {"ReadParameters", Q::IsCmdReadParameters},
        {"ReadPa", Q::IsCmdReadPa},
        {"ReadPb", Q::IsCmdReadPb},
        {"ReadPc", Q::IsCmdReadPc},
        {"WriteAdjustingFrequence", Q::IsCmdWriteAdjustingFrequence},
        {"WriteTransfCoefs", Q::IsCmdWriteTransfCoefs},
        {"ReadTransfCoefs", Q::IsCmdReadTransfCoefs},
        {"ShiftAngle", Q::IsCmdShiftAngle},
        {"ShiftAnalogCoef", Q::IsCmdShiftAnalogCoef},
        {"ModeWorking", Q::IsCmdSetAnalogModeWorking},
        {"ModeMiddle", Q::IsCmdSetAnalogModeAdjustingMiddle},
        {"ModeHigh", Q::IsCmdSetAnalogModeAdjustingHigh},
        {"Out1", Q::IsCmdSetAmperageValueForAdjustingAnalogOut1},
        {"Out2", Q::IsCmdSetAmperageValueForAdjustingAnalogOut2},
        {"Out3", Q::IsCmdSetAmperageValueForAdjustingAnalogOut3},
        {"SetAnalogType", Q::IsCmdSetAnalogType},
        {"WriteSaveChanges", Q::IsCmdWriteSaveChanges},
        {"ZeroOutNoise", Q::IsCmdZeroOutNoise},
        {"WriteNetAdr", Q::IsCmdWriteNetAdr},
        {"WriteRsConfig2", Q::IsCmdWriteRsConfig2},
        {"ReadScheme", Q::IsCmdReadScheme},
        {"ReadRsRate1", Q::IsCmdReadRsRate1},
        {"ReadRsRate2", Q::IsCmdReadRsRate2},
        {"ReadRsConfig2", Q::IsCmdReadRsConfig2},
        {"ReadAnalogType", Q::IsCmdReadAnalogType},
        {"ReadAnalogOuts", Q::IsCmdReadAnalogOuts},
        {"ReadExtraSettings1", Q::IsCmdReadExtraSettings1},
        {"ReadExtraSettings2", Q::IsCmdReadExtraSettings2},
        {"FindAddress", Q::IsCmdFindAddress},
    };
    return list;
}

std::string TrueClassifiers(const TFrame &f)
{
    std::string names;
    for (const auto &[name, fn] : Qx4Classifiers())
        if (fn(f))
            names += (names.empty() ? "" : " ") + std::string(name);
    return names;
}

struct Expected {
    const char *what;
    TFramePtr frame;
    const char *bytes; // without the check bytes
    const char *classifiers;
};

std::vector<Expected> AllRequests(const Q &m)
{
    TAdjustingParameters a;
    a.Ua = 100;
    a.Ub = 200;
    a.Uc = 300;
    a.Uab = 1;
    a.Ubc = 2;
    a.Uac = 3;
    a.Ia = 0.5f;
    a.Ib = -1;
    a.Ic = 5;
    a.F = 50;
    TTransfCoefs ones{1, 1, 1, 1};
    TTransfCoefs c;
    c.U1 = 100;
    c.U2 = 2;
    c.I1 = 50;
    c.I2 = 5;
    return {
        {"measured values", m.CreateCmdReadParameters(), "05 03 00 00 00 3E", "ReadParameters"},
        {"Pa", m.CreateCmdReadPa(), "05 03 00 24 00 02", "ReadPa"},
        {"Pb", m.CreateCmdReadPb(), "05 03 00 28 00 02", "ReadPb"},
        {"Pc", m.CreateCmdReadPc(), "05 03 00 2C 00 02", "ReadPc"},
        {"reference Ua", m.CreateCmdWriteAdjustingUa(a), "05 10 07 00 00 02 04 42 C8 00 00", ""},
        {"reference Ub", m.CreateCmdWriteAdjustingUb(a), "05 10 07 04 00 02 04 43 48 00 00", ""},
        {"reference Uc", m.CreateCmdWriteAdjustingUc(a), "05 10 07 08 00 02 04 43 96 00 00", ""},
        {"reference Uab", m.CreateCmdWriteAdjustingUab(a), "05 10 07 0C 00 02 04 3F 80 00 00", ""},
        {"reference Ubc", m.CreateCmdWriteAdjustingUbc(a), "05 10 07 10 00 02 04 40 00 00 00", ""},
        {"reference Uac", m.CreateCmdWriteAdjustingUac(a), "05 10 07 14 00 02 04 40 40 00 00", ""},
        {"reference Ia", m.CreateCmdWriteAdjustingIa(a), "05 10 07 18 00 02 04 3F 00 00 00", ""},
        {"reference Ib", m.CreateCmdWriteAdjustingIb(a), "05 10 07 1C 00 02 04 BF 80 00 00", ""},
        {"reference Ic", m.CreateCmdWriteAdjustingIc(a), "05 10 07 20 00 02 04 40 A0 00 00", ""},
        {"reference F", m.CreateCmdWriteAdjustingFrequence(a), "05 10 07 34 00 02 04 42 48 00 00",
            "WriteAdjustingFrequence"},
        {"coefficients 1", m.CreateCmdWriteTransfCoefs(ones),
            "05 10 08 00 00 08 10 3F 80 00 00 3F 80 00 00 3F 80 00 00 3F 80 00 00", "WriteTransfCoefs"},
        {"coefficients go U1 U2 I1 I2", m.CreateCmdWriteTransfCoefs(c),
            "05 10 08 00 00 08 10 42 C8 00 00 40 00 00 00 42 48 00 00 40 A0 00 00", "WriteTransfCoefs"},
        {"coefficients read", m.CreateCmdReadTransfCoefs(), "05 03 08 00 00 08", "ReadTransfCoefs"},
        {"Ia up 1", m.CreateCmdShiftIaUp1(), "05 06 02 80 00 00", "ShiftAngle"},
        {"Ib up 1", m.CreateCmdShiftIbUp1(), "05 06 02 80 00 01", "ShiftAngle"},
        {"Ic up 1", m.CreateCmdShiftIcUp1(), "05 06 02 80 00 02", "ShiftAngle"},
        {"Ia up 10", m.CreateCmdShiftIaUp10(), "05 06 02 80 00 03", "ShiftAngle"},
        {"Ib up 10", m.CreateCmdShiftIbUp10(), "05 06 02 80 00 04", "ShiftAngle"},
        {"Ic up 10", m.CreateCmdShiftIcUp10(), "05 06 02 80 00 05", "ShiftAngle"},
        {"Ia down 1", m.CreateCmdShiftIaDown1(), "05 06 02 82 00 00", "ShiftAngle"},
        {"Ib down 1", m.CreateCmdShiftIbDown1(), "05 06 02 82 00 01", "ShiftAngle"},
        {"Ic down 1", m.CreateCmdShiftIcDown1(), "05 06 02 82 00 02", "ShiftAngle"},
        {"Ia down 10", m.CreateCmdShiftIaDown10(), "05 06 02 82 00 03", "ShiftAngle"},
        {"Ib down 10", m.CreateCmdShiftIbDown10(), "05 06 02 82 00 04", "ShiftAngle"},
        {"Ic down 10", m.CreateCmdShiftIcDown10(), "05 06 02 82 00 05", "ShiftAngle"},
        {"increase", m.CreateCmdIncreaseAnalogCoef(7), "05 06 02 84 00 07", "ShiftAnalogCoef"},
        {"decrease", m.CreateCmdDecreaseAnalogCoef(300), "05 06 02 86 01 2C", "ShiftAnalogCoef"},
        {"out 1 up 1", m.CreateCmdShiftAnalog1CoefUp1(), "05 06 02 84 00 03", "ShiftAnalogCoef"},
        {"out 1 up 10", m.CreateCmdShiftAnalog1CoefUp10(), "05 06 02 84 00 0A", "ShiftAnalogCoef"},
        {"out 1 up 100", m.CreateCmdShiftAnalog1CoefUp100(), "05 06 02 84 00 14", "ShiftAnalogCoef"},
        {"out 1 down 1", m.CreateCmdShiftAnalog1CoefDown1(), "05 06 02 86 00 03", "ShiftAnalogCoef"},
        {"out 1 down 10", m.CreateCmdShiftAnalog1CoefDown10(), "05 06 02 86 00 0A", "ShiftAnalogCoef"},
        {"out 1 down 100", m.CreateCmdShiftAnalog1CoefDown100(), "05 06 02 86 00 14", "ShiftAnalogCoef"},
        {"out 2 up 1", m.CreateCmdShiftAnalog2CoefUp1(), "05 06 02 84 00 04", "ShiftAnalogCoef"},
        {"out 2 up 10", m.CreateCmdShiftAnalog2CoefUp10(), "05 06 02 84 00 0B", "ShiftAnalogCoef"},
        {"out 2 up 100", m.CreateCmdShiftAnalog2CoefUp100(), "05 06 02 84 00 15", "ShiftAnalogCoef"},
        {"out 2 down 1", m.CreateCmdShiftAnalog2CoefDown1(), "05 06 02 86 00 04", "ShiftAnalogCoef"},
        {"out 2 down 10", m.CreateCmdShiftAnalog2CoefDown10(), "05 06 02 86 00 0B", "ShiftAnalogCoef"},
        {"out 2 down 100", m.CreateCmdShiftAnalog2CoefDown100(), "05 06 02 86 00 15", "ShiftAnalogCoef"},
        {"out 3 up 1", m.CreateCmdShiftAnalog3CoefUp1(), "05 06 02 84 00 05", "ShiftAnalogCoef"},
        {"out 3 up 10", m.CreateCmdShiftAnalog3CoefUp10(), "05 06 02 84 00 0C", "ShiftAnalogCoef"},
        {"out 3 up 100", m.CreateCmdShiftAnalog3CoefUp100(), "05 06 02 84 00 16", "ShiftAnalogCoef"},
        {"out 3 down 1", m.CreateCmdShiftAnalog3CoefDown1(), "05 06 02 86 00 05", "ShiftAnalogCoef"},
        {"out 3 down 10", m.CreateCmdShiftAnalog3CoefDown10(), "05 06 02 86 00 0C", "ShiftAnalogCoef"},
        {"out 3 down 100", m.CreateCmdShiftAnalog3CoefDown100(), "05 06 02 86 00 16", "ShiftAnalogCoef"},
        {"mode working", m.CreateCmdSetAnalogModeWorking(), "05 06 03 1E 00 00", "ModeWorking"},
        {"mode high", m.CreateCmdSetAnalogModeAdjustingHigh(), "05 06 03 1E 00 01", "ModeHigh"},
        {"mode middle", m.CreateCmdSetAnalogModeAdjustingMiddle(), "05 06 03 1E 00 02", "ModeMiddle"},
        {"mode low", m.CreateCmdSetAnalogModeAdjustingLow(), "05 06 03 1E 00 03", ""},
        {"output 1 current", m.CreateCmdSetAmperageValueForAdjustingAnalogOut1(12.5),
            "05 10 07 80 00 02 04 41 48 00 00", "Out1"},
        {"output 2 current", m.CreateCmdSetAmperageValueForAdjustingAnalogOut2(20.0),
            "05 10 07 84 00 02 04 41 A0 00 00", "Out2"},
        {"output 3 current", m.CreateCmdSetAmperageValueForAdjustingAnalogOut3(-5.0),
            "05 10 07 88 00 02 04 C0 A0 00 00", "Out3"},
        {"analog type 5", m.CreateCmdSetAnalogType5(), "05 06 02 12 00 00", "SetAnalogType"},
        {"analog type 20", m.CreateCmdSetAnalogType20(), "05 06 02 12 00 01", "SetAnalogType"},
        {"analog type read", m.CreateCmdReadAnalogType(), "05 03 02 12 00 01", "ReadAnalogType"},
        {"assignments", m.CreateCmdWriteAnalogOuts(1, 2, 0x1234), "05 10 04 00 00 03 06 00 01 00 02 12 34", ""},
        {"reversive indication", m.CreateCmdWriteReversiveIndicationParameters(),
            "05 10 04 00 00 03 06 00 09 00 0A 00 0B", ""},
        {"assignments read", m.CreateCmdReadAnalogOuts(), "05 03 04 00 00 06", "ReadAnalogOuts"},
        {"save", m.CreateCmdSaveChanges(), "05 06 03 20 00 00", "WriteSaveChanges"},
        {"noise on", m.CreateCmdEnableZeroOutNoise(), "05 06 21 00 00 01", "ZeroOutNoise"},
        {"noise off", m.CreateCmdDisableZeroOutNoise(), "05 06 21 00 00 00", "ZeroOutNoise"},
        {"search", Q::CreateCmdFindAddress(), "FF 77 FF FF 00 01", ""},
        {"new address", m.CreateCmdWriteNetAdr(17), "05 06 02 04 00 11", "WriteNetAdr"},
        {"scheme", m.CreateCmdWriteScheme(1), "05 06 02 10 00 01", ""},
        {"scheme read", m.CreateCmdReadScheme(), "05 03 02 10 00 01", "ReadScheme"},
        {"RS 1 rate", m.CreateCmdWriteRsRate1(3), "05 06 02 0C 00 03", ""},
        {"RS 1 rate read", m.CreateCmdReadRsRate1(), "05 03 02 0C 00 01", "ReadRsRate1"},
        {"RS 2 rate", m.CreateCmdWriteRsRate2(5), "05 06 02 1E 00 05", ""},
        {"RS 2 rate read", m.CreateCmdReadRsRate2(), "05 03 02 1E 00 01", "ReadRsRate2"},
        {"RS 2 config", m.CreateCmdWriteRsConfig2(1), "05 06 02 1C 00 01", "WriteRsConfig2"},
        {"RS 2 config read", m.CreateCmdReadRsConfig2(), "05 03 02 1C 00 01", "ReadRsConfig2"},
        {"factory number", m.CreateCmdWriteFactoryNumber(1234, 15), "05 10 02 08 00 02 04 04 D2 00 0F", ""},
        {"modification", m.CreateCmdWriteModificationNumber(705), "05 06 02 16 02 C1", ""},
        {"relays", m.CreateCmdWriteRelayCount(2), "05 06 02 70 00 02", ""},
        {"interfaces", m.CreateCmdWriteInterfaceCount(1), "05 06 02 72 00 01", ""},
        {"extra settings 1", m.CreateCmdReadExtraSettings1(), "05 03 02 08 00 08", "ReadExtraSettings1"},
        {"extra settings 2", m.CreateCmdReadExtraSettings2(), "05 03 02 70 00 02", "ReadExtraSettings2"},
    };
}

} // namespace

TEST(Qx4CmdManager, RequestsByteByByteAndTheirClassifiers)
{
    const Q m(0x105); // only the low byte is an address
    EXPECT_EQ(m.netAdr, 5);
    for (const auto &e : AllRequests(m)) {
        SCOPED_TRACE(e.what);
        const auto expected = WithCrc(Hex(e.bytes));
        EXPECT_EQ(HexOf(*e.frame), HexOf(expected));
        EXPECT_EQ(e.frame->size, static_cast<int>(expected.size()));
        EXPECT_EQ(e.frame->crcH, expected[expected.size() - 2]);
        EXPECT_EQ(e.frame->crcL, expected[expected.size() - 1]);
        EXPECT_TRUE(e.frame->isResponseRequired);
        EXPECT_EQ(TrueClassifiers(*e.frame), e.classifiers);
    }
}

TEST(Qx4CmdManager, ClassifiersIgnoreBytesPastTheFrame)
{
    const Q m(5);
    for (const auto &e : AllRequests(m)) {
        for (int n = 0; n < e.frame->size; ++n) {
            TFrame cut = *e.frame;
            cut.size = n;
            TFrame cleared = cut;
            std::fill(cleared.data.begin() + n, cleared.data.end(), 0x00);
            ASSERT_EQ(TrueClassifiers(cut), TrueClassifiers(cleared)) << e.what << " cut at " << n;
        }
    }
}

TEST(Qx4CmdManager, AddressAndSearchFrame)
{
    Q m(1);
    const TFramePtr before = m.CreateCmdSaveChanges();
    m.SetNetAdr(0x42);
    EXPECT_EQ(m.CreateCmdSaveChanges()->data[0], 0x42);
    EXPECT_EQ(before->data[0], 1); // frames already built keep their address
    EXPECT_EQ(m.CreateCmdWriteNetAdr(9)->data[0], 0x42); // sent to the current address
    // The search frame is fixed, whatever the address.
    EXPECT_EQ(HexOf(*Q::CreateCmdFindAddress()), "FF 77 FF FF 00 01 21 FB");
    EXPECT_EQ(HexOf(*m.CreateCmdFindAddress()), "FF 77 FF FF 00 01 21 FB");
    // Its answer: function 0x77, the transducer's address in byte 0.
    EXPECT_TRUE(Q::IsCmdFindAddress(Answer(WithCrc(Hex("2A 77 02 00 2A")))));
    EXPECT_FALSE(Q::IsCmdFindAddress(Answer(WithCrc(Hex("2A 77 02 01 2A")))));
    EXPECT_FALSE(Q::IsCmdFindAddress(Answer("2A 77 02")));
    // The coefficient write and read share a register.
    EXPECT_FALSE(Q::IsCmdReadTransfCoefs(*m.CreateCmdWriteTransfCoefs(TTransfCoefs())));
    EXPECT_TRUE(Q::IsCmdReadTransfCoefs(*m.CreateCmdReadTransfCoefs()));
    // A mode write with value 1 is not the working mode.
    EXPECT_FALSE(Q::IsCmdSetAnalogModeWorking(*m.CreateCmdSetAnalogModeAdjustingHigh()));
    EXPECT_EQ(m.CreateCmdWriteTransfCoefs(TTransfCoefs())->size, 25);
    EXPECT_EQ(m.CreateCmdWriteAnalogOuts(0, 0, 0)->size, 15);
    EXPECT_EQ(m.CreateCmdWriteFactoryNumber(0, 0)->size, 13);
}

TEST(Qx4CmdManager, ExtraSettings)
{
    const struct {
        const char *answer;
        int factory, modification;
    } rows[] = {
        // serial 1234, year 15, five other registers, modification register
        {"05 03 10 04 D2 00 0F 00 00 00 00 00 00 00 00 00 00 02 C1", 151234, 5},
        {"05 03 10 04 D2 01 0F 00 00 00 00 00 00 00 00 00 00 00 0C", 151234, 12}, // year high byte ignored
        {"05 03 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 02 BC", 0, 700}, // 700 itself stays
        {"05 03 10 FF FF 00 FF 00 00 00 00 00 00 00 00 00 00 FF FF", 65535 + 2550000, 65535 - 700},
    };
    for (const auto &r : rows) {
        const auto s = Q::ParseExtraSettings1(Answer(WithCrc(Hex(r.answer))));
        EXPECT_EQ(s.FactoryNumber, r.factory) << r.answer;
        EXPECT_EQ(s.ModificationNumber, r.modification) << r.answer;
        EXPECT_EQ(s.RelayCount, 0);
        EXPECT_EQ(s.InterfaceCount, 0);
    }
    const auto s2 = Q::ParseExtraSettings2(Answer(WithCrc(Hex("05 03 04 00 03 00 02"))));
    EXPECT_EQ(s2.RelayCount, 3);
    EXPECT_EQ(s2.InterfaceCount, 2);
    EXPECT_EQ(s2.FactoryNumber, 0);
    // Short answers: whatever is not in the answer stays 0.
    const auto cut1 = Q::ParseExtraSettings1(Answer("05 03 10 04 D2 00"));
    EXPECT_EQ(cut1.FactoryNumber, 0);
    EXPECT_EQ(cut1.ModificationNumber, 0);
    const auto cut2 = Q::ParseExtraSettings1(Answer("05 03 10 04 D2 00 0F 00 00"));
    EXPECT_EQ(cut2.FactoryNumber, 151234);
    EXPECT_EQ(cut2.ModificationNumber, 0);
    const auto cut3 = Q::ParseExtraSettings2(Answer("05 03 04 00 03 00"));
    EXPECT_EQ(cut3.RelayCount, 3);
    EXPECT_EQ(cut3.InterfaceCount, 0);
}

TEST(Qx4CmdManager, RsRate2ReadRule)
{
    const struct {
        int raw, index;
    } rows[] = {{9600, 3}, {5, 5}, {1200, 0}, {2400, 1}, {4800, 2}, {19200, 4}, {38400, 5}, {0, 0}, {7, 7}, {8, 8},
        {300, 44}, {57600, 0}};
    for (const auto &r : rows) {
        EXPECT_EQ(Q::RsRate2ToIndex(r.raw), r.index) << r.raw;
        const std::vector<uint8_t> answer = {5, 3, 2, static_cast<uint8_t>(r.raw >> 8), static_cast<uint8_t>(r.raw)};
        EXPECT_EQ(Q::ParseRsRate2Index(Answer(WithCrc(answer))), r.index) << r.raw;
    }
    EXPECT_EQ(Q::RsRateFromIndex(3), 9600);
    EXPECT_EQ(Q::RsRateFromIndex(7), 115200);
    EXPECT_EQ(Q::RsRateFromIndex(8), 0);
}

TEST(Qx4CmdManager, CoefficientsAssignmentsAndMeasuredValues)
{
    const Q m(5);
    const auto coefs
        = m.ParseTransfCoefs(Answer(WithCrc(Hex("05 03 10 42 C8 00 00 40 00 00 00 42 48 00 00 40 A0 00 00"))));
    EXPECT_EQ(coefs.U1, 100.0);
    EXPECT_EQ(coefs.U2, 2.0);
    EXPECT_EQ(coefs.I1, 50.0);
    EXPECT_EQ(coefs.I2, 5.0);
    const auto cut = m.ParseTransfCoefs(Answer("05 03 10 42 C8 00 00 40 00 00 00 42 48 00"));
    EXPECT_EQ(cut.U2, 2.0);
    EXPECT_EQ(cut.I1, 0.0);
    EXPECT_EQ(cut.I2, 0.0);
    const auto outs = Q::ParseAnalogOuts(Answer(WithCrc(Hex("05 03 0C 00 09 00 0A 00 0B 00 00 00 00 00 00"))));
    EXPECT_EQ(outs, (std::array<int, 3>{9, 10, 11}));
    EXPECT_EQ(Q::ParseAnalogOuts(Answer("05 03 0C 00 09 00")), (std::array<int, 3>{9, 0, 0}));
    // A single P read.
    EXPECT_EQ(m.ParseSingleParameter(Answer(WithCrc(Hex("05 03 04 C2 C8 00 00")))), -100.0);
}

TEST(Qx4CmdManager, PreparedFrameSets)
{
    const Q m(5);
    const auto up1 = m.CreateCmdShiftAnalog1CoefUp1(), up10 = m.CreateCmdShiftAnalog1CoefUp10(),
               up100 = m.CreateCmdShiftAnalog1CoefUp100(), down1 = m.CreateCmdShiftAnalog1CoefDown1(),
               down10 = m.CreateCmdShiftAnalog1CoefDown10(), down100 = m.CreateCmdShiftAnalog1CoefDown100();
    const TShiftAnalogOutCmdSet analog(up1, up10, up100, down1, down10, down100);
    EXPECT_EQ(analog.cmdShiftUp1, up1);
    EXPECT_EQ(analog.cmdShiftUp10, up10);
    EXPECT_EQ(analog.cmdShiftUp100, up100);
    EXPECT_EQ(analog.cmdShiftDown1, down1);
    EXPECT_EQ(analog.cmdShiftDown10, down10);
    EXPECT_EQ(analog.cmdShiftDown100, down100);
    const auto a1 = m.CreateCmdShiftIaUp1(), a10 = m.CreateCmdShiftIaUp10(), d1 = m.CreateCmdShiftIaDown1(),
               d10 = m.CreateCmdShiftIaDown10(), p = m.CreateCmdReadPa();
    const TShiftAngleCmdSet angle(a1, a10, d1, d10, p);
    EXPECT_EQ(angle.cmdShiftUp1, a1);
    EXPECT_EQ(angle.cmdShiftUp10, a10);
    EXPECT_EQ(angle.cmdShiftDown1, d1);
    EXPECT_EQ(angle.cmdShiftDown10, d10);
    EXPECT_EQ(angle.cmdReadNextP, p);
}

// No decoder's result depends on the bytes behind the answer's size.
TEST(Qx4CmdManager, DecodersNeverReadPastTheAnswer)
{
    const Q m(5);
    const std::vector<std::pair<std::string, std::function<std::string(const TFrame &)>>> decoders = {
        {"extra 1",
            [](const TFrame &f) {
                auto s = Q::ParseExtraSettings1(f);
                return std::to_string(s.FactoryNumber) + " " + std::to_string(s.ModificationNumber);
            }},
        {"extra 2",
            [](const TFrame &f) {
                auto s = Q::ParseExtraSettings2(f);
                return std::to_string(s.RelayCount) + " " + std::to_string(s.InterfaceCount);
            }},
        {"coefs",
            [&](const TFrame &f) {
                auto c = m.ParseTransfCoefs(f);
                return std::to_string(c.U1) + std::to_string(c.U2) + std::to_string(c.I1) + std::to_string(c.I2);
            }},
        {"outs",
            [](const TFrame &f) {
                auto o = Q::ParseAnalogOuts(f);
                return std::to_string(o[0]) + std::to_string(o[1]) + std::to_string(o[2]);
            }},
        {"rate 2", [](const TFrame &f) { return std::to_string(Q::ParseRsRate2Index(f)); }},
        {"P", [&](const TFrame &f) { return std::to_string(m.ParseSingleParameter(f)); }},
    };
    const auto full = WithCrc(Hex("05 03 10 04 D2 00 0F 42 C8 00 00 40 00 00 00 42 48 02 C1"));
    for (size_t n = 0; n <= full.size(); ++n) {
        TFrame kept = Answer(full);
        kept.size = static_cast<int32_t>(n);
        TFrame other = kept;
        std::fill(other.data.begin() + static_cast<long>(n), other.data.end(), 0xFF);
        for (const auto &[name, decode] : decoders)
            ASSERT_EQ(decode(kept), decode(other)) << name << " cut at " << n;
    }
}
