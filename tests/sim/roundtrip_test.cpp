// The simulator's answers read back with the program's own command sets: requests built by the
// program's builders, answers decoded by its parsers.

#include <cmath>
#include <functional>

#include "modeltestutil.h"
#include "protocol/kestcmdmanager.h"

using namespace simtest;
using namespace kestsim;

namespace {
Bytes Of(const TFramePtr &f)
{
    return Bytes(f->data.begin(), f->data.begin() + f->size);
}

TFrame ToFrame(const Bytes &b)
{
    TFrame f;
    std::copy(b.begin(), b.end(), f.data.begin());
    f.size = int32_t(b.size());
    return f;
}

struct Rig : Bench {
    TKestCmdManager kest;
    Bytes Ask(const TFramePtr &request) { return Installation(Of(request)); }

    void Nominal(int angle)
    {
        TKestConfiguration c;
        c.AmperageMax = 5;
        c.VoltageFlag = true;
        c.AmperageRangeNum = 1;
        c.RnFlag = true;
        c.SchemeFlag = true;
        ASSERT_TRUE(ValidAnswer(Ask(kest.CreateCmdEnableDistantControl(c))));
        ASSERT_TRUE(ValidAnswer(Ask(kest.CreateCmdSendUaUbUc(57.735, 57.735, 57.735))));
        ASSERT_TRUE(ValidAnswer(Ask(kest.CreateCmdSendIa5Ib5Ic5(5, 5, 5))));
        ASSERT_TRUE(ValidAnswer(Ask(kest.CreateCmdSendAngle(angle))));
        ASSERT_TRUE(ValidAnswer(Ask(kest.CreateCmdSendFrequency(50.0))));
    }
    Quantities Meter() { return Measure(inst.CurrentOutputs()); }
};
} // namespace

TEST(SimRoundTrip, RelayedReadingsPerType)
{
    using Parse = std::function<TParametersAndStatusPtr(const TKestCmdManager &, const TFrame &)>;
    const struct Case {
        const char *type;
        bool modbus;
        int paramNum;
        std::vector<int> quantities; // what the parser must deliver
        Parse parse;
    } cases[] = {
        {"I", true, 1, {kIa}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationI(f); }},
        {"U", true, 1, {kUa}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationU(f); }},
        {"F", true, 1, {kF}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationF(f); }},
        {"P", true, 1, {kP}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationP(f); }},
        {"Q", true, 1, {kQ}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationQ(f); }},
        {"PQ", true, 2, {kP, kQ}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationPQ(f); }},
        {"PQ", false, 1, {kP}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationPQ_P(f); }},
        {"PQ", false, 2, {kQ}, [](auto &k, auto &f) { return k.ParseParametersRS_ConfigurationPQ_Q(f); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.modbus ? " modbus" : " vq") + " " + std::to_string(c.paramNum));
        Rig r;
        r.dev.type = *ParseDeviceType(c.type);
        r.dev.pqModbus = c.modbus;
        for (int k : c.quantities)
            r.dev.errors.gainPct[k - 1] = 1.5; // a known error the verification should find
        r.Nominal(30);
        ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSetRsParamNum(c.paramNum))));
        const Bytes answer = r.Ask(r.kest.CreateCmdReadAllParametersRS());
        ASSERT_EQ(answer.size(), 5u + 136u);
        ASSERT_TRUE(ValidAnswer(answer));
        const auto parsed = c.parse(r.kest, ToFrame(answer));
        const Quantities m = r.Meter();
        for (int k : c.quantities) {
            const double expected = m[k - 1] * 1.015;
            EXPECT_NEAR(parsed->Parameters->GetParameterByIndex(k)->value, expected, 1e-4 * std::fabs(expected))
                << "quantity " << k;
        }
    }
}

TEST(SimRoundTrip, Qx4BlockInPrimaryUnits)
{
    for (const char *type : {"QX4", "QX4E"}) {
        SCOPED_TRACE(type);
        Rig r;
        r.dev.type = *ParseDeviceType(type);
        r.dev.errors.gainPct[kUab - 1] = -0.5;
        r.Nominal(30);
        r.inst.energyA = 12.5;
        const Bytes answer = r.Ask(r.kest.CreateCmdReadAllParametersRS());
        ASSERT_TRUE(ValidAnswer(answer));
        const auto parsed = r.kest.ParseParametersRS_ConfigurationQX4(ToFrame(answer));
        EXPECT_TRUE(parsed->isAutoMode);
        EXPECT_EQ(parsed->DeviceAddress, 1);
        const Quantities m = r.Meter();
        const TParameters &p = *parsed->Parameters;
        // Coefficients 10000/100 V and 100/5 A.
        EXPECT_NEAR(p.GetParameterByIndex(kUa)->value, m[kUa - 1] * 100, 0.01);
        EXPECT_NEAR(p.GetParameterByIndex(kUab)->value, m[kUab - 1] * 100 * 0.995, 0.01);
        EXPECT_NEAR(p.GetParameterByIndex(kIb)->value, m[kIb - 1] * 20, 1e-3);
        EXPECT_NEAR(p.GetParameterByIndex(kP)->value, m[kP - 1] * 2000, 0.5);
        EXPECT_NEAR(p.GetParameterByIndex(kKa)->value, m[kKa - 1], 1e-3);
        EXPECT_NEAR(p.GetParameterByIndex(kF)->value, 50.0, 1e-3);
        const bool energy = std::string(type) == "QX4E";
        EXPECT_EQ(p.GetParameterByIndex(kWa)->isDataCorrect, energy);
        if (energy) {
            EXPECT_NEAR(p.GetParameterByIndex(kWa)->value, 12.5 * 2000, 0.5);
        }
        EXPECT_TRUE(p.GetParameterByIndex(kI0)->isDataCorrect);
    }
}

TEST(SimRoundTrip, IdentityBlocks)
{
    Rig r;
    r.Nominal(0);
    auto info = r.kest.ParseDeviceInfo(ToFrame(r.Ask(r.kest.CreateCmdReadDeviceInfo())));
    EXPECT_EQ(info->deviceType, 1);
    EXPECT_DOUBLE_EQ(info->transfCoefs.U1, 10000);
    EXPECT_DOUBLE_EQ(info->transfCoefs.U2, 100);
    EXPECT_DOUBLE_EQ(info->transfCoefs.I1, 100);
    EXPECT_DOUBLE_EQ(info->transfCoefs.I2, 5);
    EXPECT_EQ(info->scheme, 0); // four-wire
    EXPECT_EQ(info->analogOutputRange, 1);
    EXPECT_EQ(info->AnalogOut.OutArray, (std::array<uint8_t, 3>{1, 2, 3}));

    r.dev.type = DeviceType::I;
    r.dev.scale = 100;
    r.dev.unitCode = 21; // "%"
    info = r.kest.ParseDeviceInfoNotQx4(ToFrame(r.Ask(r.kest.CreateCmdReadDeviceInfo())));
    EXPECT_EQ(info->deviceType, 2);
    EXPECT_DOUBLE_EQ(info->Scale, 100);
    EXPECT_EQ(info->UnitCode, 21);
    // With a scale of 100 % the current of 5 A (the nominal) reads 100.
    const auto rs = r.kest.ParseParametersRS_ConfigurationI(ToFrame(r.Ask(r.kest.CreateCmdReadAllParametersRS())));
    EXPECT_NEAR(rs->Parameters->Ia.value, 100.0, 1e-3);

    // An older installation refuses the long identity read; the short one works.
    r.inst.oldDevInfo = true;
    const Bytes refused = r.Ask(r.kest.CreateCmdReadDeviceInfo());
    ASSERT_EQ(refused.size(), 5u);
    EXPECT_EQ(refused[2], 2);
    r.kest.SetOldDevInfoLength();
    const Bytes shortBlock = r.Ask(r.kest.CreateCmdReadDeviceInfo());
    EXPECT_EQ(shortBlock.size(), 5u + 30u);
    EXPECT_TRUE(ValidAnswer(shortBlock));
}

TEST(SimRoundTrip, AddressModesAndPresence)
{
    Rig r;
    r.dev.mem.netAddress = 17;
    r.dev.mem.rs1Speed = 5;
    auto status = [&] {
        return r.kest.ParseParameters_ConfigurationQX4(
            ToFrame(r.Ask(r.kest.CreateCmdReadDeviceStatusAndAllParameters())));
    };
    EXPECT_FALSE(status()->isDeviceDisconnected);
    EXPECT_EQ(TKestCmdManager::RecieveDeviceAddress(ToFrame(r.Ask(r.kest.CreateCmdReadDeviceAddress()))), 17);

    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSendAutoMode(false))));
    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSendAddress(16))));
    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSetDeviceSpeedIndex(5))));
    EXPECT_TRUE(status()->isDeviceDisconnected); // wrong address
    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSendAddress(17))));
    EXPECT_FALSE(status()->isDeviceDisconnected);
    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSetDeviceSpeedIndex(3))));
    EXPECT_TRUE(status()->isDeviceDisconnected); // wrong speed
    const auto rs = r.kest.ParseParametersRS_ConfigurationQX4(ToFrame(r.Ask(r.kest.CreateCmdReadAllParametersRS())));
    EXPECT_FALSE(rs->isAutoMode);
    EXPECT_EQ(rs->DeviceAddress, 17);
    EXPECT_FALSE(rs->Parameters->Ua.isDataCorrect); // nothing relayed from a silent transducer

    ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSendAutoMode(true))));
    EXPECT_FALSE(status()->isDeviceDisconnected);
    r.dev.plugged = false;
    EXPECT_TRUE(status()->isDeviceDisconnected);
    r.dev.plugged = true;
    r.inst.amplifierFailure = 4;
    const auto st = status();
    EXPECT_TRUE(st->HasAmplifierError);
    EXPECT_EQ(st->AmplifierErrorNum, 4);
}

TEST(SimRoundTrip, AnalogCurrentsPerRange)
{
    const struct Case {
        const char *type;
        int range;
        int input;
        float current; // per phase, A (5 A range)
        int angle;
        double expectedMa;
        double gainPct = 0, offsetMa = 0;
    } cases[] = {
        {"I", 1, 1, 2.5f, 0, 12.0},
        {"I", 0, 1, 2.5f, 0, 2.5},
        {"I", 2, 1, 2.5f, 0, 3.75},
        {"I", 4, 1, 5.0f, 0, 20.0},
        {"I", 1, 1, 5.0f, 0, 20.1, 1.0, 0.02}, // own errors: 12 + 8·1.01 + 0.02
        {"P", 1, 1, 5.0f, 120, 8.0}, // −0.5 of full scale on the signed scale
        {"P", 0, 1, 5.0f, 120, -2.5},
        {"F", 0, 1, 5.0f, 0, 2.5}, // 50 Hz in the 45 … 55 Hz band
        {"PQ", 1, 2, 5.0f, 90, 20.0}, // output 2 is Q
        {"PQ", 1, 3, 5.0f, 90, 0.0}, // no third output
        {"QX4", 1, 1, 5.0f, 0, 16.8}, // Ua at the secondary full scale: p = 0,8
        {"QX4", 1, 2, 5.0f, 0, 16.8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.type) + " range " + std::to_string(c.range) + " input " + std::to_string(c.input));
        Rig r;
        r.dev.type = *ParseDeviceType(c.type);
        r.dev.mem.analogRange = c.range;
        r.dev.errors.analogGainPct[c.input - 1] = c.gainPct;
        r.dev.errors.analogOffsetMa[c.input - 1] = c.offsetMa;
        r.Nominal(c.angle);
        ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSendIa5Ib5Ic5(c.current, c.current, c.current))));
        ASSERT_TRUE(ValidAnswer(r.Ask(r.kest.CreateCmdSetAnalogInputNumber(uint8_t(c.input)))));
        const auto st = r.kest.ParseParameters_ConfigurationQX4(
            ToFrame(r.Ask(r.kest.CreateCmdReadDeviceStatusAndAllParameters())));
        EXPECT_NEAR(st->AnalogOut, c.expectedMa, 2e-4);
    }
}
