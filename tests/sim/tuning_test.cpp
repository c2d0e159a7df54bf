// The transducer's own port driven the way the tuning procedure drives it, with the program's
// transducer command set: references, angle steps and analog steps must converge.

#include <gtest/gtest.h>

#include <cmath>

#include "kestsimulator.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/qx4cmdmanager.h"
#include "simtestutil.h"
#include "transducer.h"

using namespace simtest;

namespace {
Bytes Of(const TFramePtr &f)
{
    return Bytes(f->data.begin(), f->data.begin() + f->size);
}

TFrame ToFrame(const Bytes &b)
{
    TFrame f;
    std::copy(b.begin(), b.begin() + std::min<size_t>(b.size(), TFrame::kCapacity), f.data.begin());
    f.size = int32_t(b.size());
    return f;
}

struct Tuning : ::testing::Test {
    kestsim::KestSimulator sim{[] {
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        return o;
    }()};
    std::unique_ptr<Line> kestLine, devLine;
    TKestCmdManager kest;
    TQx4CmdManager dev{1};

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        kestLine = std::make_unique<Line>(sim.InstallationPath());
        devLine = std::make_unique<Line>(sim.DevicePath());
        ASSERT_TRUE(kestLine->ok() && devLine->ok());
        TKestConfiguration c;
        c.AmperageMax = 5;
        c.VoltageFlag = true;
        c.SchemeFlag = true;
        c.AmperageRangeNum = 1;
        Kest(kest.CreateCmdEnableDistantControl(c));
        Kest(kest.CreateCmdSendUaUbUc(57.735, 57.735, 57.735));
        Kest(kest.CreateCmdSendIa5Ib5Ic5(5, 5, 5));
        Kest(kest.CreateCmdSendFrequency(51));
        Kest(kest.CreateCmdSendAngle(0));
    }

    Bytes Kest(const TFramePtr &f)
    {
        const Bytes a = kestLine->Exchange(Of(f), 1500, 30);
        EXPECT_TRUE(ValidAnswer(a)) << f->ToHex();
        return a;
    }
    Bytes Dev(const TFramePtr &f)
    {
        const Bytes a = devLine->Exchange(Of(f), 1500, 30);
        EXPECT_TRUE(ValidAnswer(a)) << f->ToHex();
        return a;
    }
    TParametersAndStatusPtr KestStatus()
    {
        return kest.ParseParameters_ConfigurationQX4(ToFrame(Kest(kest.CreateCmdReadDeviceStatusAndAllParameters())));
    }
    // The reduced error of the transducer's primary reading against the installation's secondary one.
    static double Error(int k, double primary, double secondary)
    {
        return (primary / kestsim::FullScale(k, 100, 10000) - secondary / kestsim::FullScale(k, 5, 100)) * 100;
    }
};
} // namespace

TEST_F(Tuning, ReferencesRecalibrate)
{
    ASSERT_EQ(sim.Command("error Ua 2"), "ok");
    ASSERT_EQ(sim.Command("error Ia -1.5 0.1"), "ok");
    ASSERT_EQ(sim.Command("error Uab 0.7"), "ok");
    ASSERT_EQ(sim.Command("error F 0.2"), "ok");
    const TParameters inst = *KestStatus()->Parameters;
    auto readBack
        = [&] { return *kest.GetParametersFromFrame_ConfigurationQX4(ToFrame(Dev(dev.CreateCmdReadParameters())), 4); };
    TParameters before = readBack();
    EXPECT_NEAR(Error(1, before.Ua.value, inst.Ua.value), 2.0, 0.01);
    EXPECT_NEAR(Error(4, before.Ia.value, inst.Ia.value), -1.4, 0.01);

    TAdjustingParameters a;
    a.Ua = float(inst.Ua.value * 100);
    a.Ub = float(inst.Ub.value * 100);
    a.Uc = float(inst.Uc.value * 100);
    a.Uab = float(inst.ULa.value * 100);
    a.Ubc = float(inst.ULb.value * 100);
    a.Uac = float(inst.ULc.value * 100);
    a.Ia = float(inst.Ia.value * 20);
    a.Ib = float(inst.Ib.value * 20);
    a.Ic = float(inst.Ic.value * 20);
    a.F = float(inst.Freq.value);
    for (auto build : {&TQx4CmdManager::CreateCmdWriteAdjustingUa, &TQx4CmdManager::CreateCmdWriteAdjustingUb,
             &TQx4CmdManager::CreateCmdWriteAdjustingUc, &TQx4CmdManager::CreateCmdWriteAdjustingUab,
             &TQx4CmdManager::CreateCmdWriteAdjustingUbc, &TQx4CmdManager::CreateCmdWriteAdjustingUac,
             &TQx4CmdManager::CreateCmdWriteAdjustingIa, &TQx4CmdManager::CreateCmdWriteAdjustingIb,
             &TQx4CmdManager::CreateCmdWriteAdjustingIc, &TQx4CmdManager::CreateCmdWriteAdjustingFrequence})
        Dev((dev.*build)(a));
    const TParameters after = readBack();
    for (int k : {26, 1, 2, 3, 4, 5, 6, 7, 8, 9}) {
        const double e = Error(k, after.GetParameterByIndex(k)->value, inst.GetParameterByIndex(k)->value);
        EXPECT_LT(std::fabs(e), 0.005) << "quantity " << k;
    }
    // What tuning changed is what the installation relays afterwards.
    const auto relayed = kest.ParseParametersRS_ConfigurationQX4(ToFrame(Kest(kest.CreateCmdReadAllParametersRS())));
    EXPECT_NEAR(relayed->Parameters->Ua.value, after.Ua.value, 0.01);
}

TEST_F(Tuning, AngleStepsConverge)
{
    ASSERT_EQ(sim.Command("phase-error A 1.8"), "ok"); // about +3,1 % of P's full scale at 90°
    Kest(kest.CreateCmdSendAngle(90));
    const double instPa = KestStatus()->Parameters->Pa.value;
    // The procedure's loop for phase A: first ten steps, then steps estimated from the last move.
    double previousError = 999;
    int previousCount = 0, reads = 0;
    bool firstShiftSent = false;
    double error = 0;
    for (;;) {
        ++reads;
        ASSERT_LE(reads, 9) << "no convergence";
        error = Error(10, dev.ParseSingleParameter(ToFrame(Dev(dev.CreateCmdReadPa()))), instPa);
        ASSERT_LT(std::fabs(error), 10.0);
        if (std::fabs(error) >= std::fabs(previousError) && previousCount == 1) {
            Dev(previousError > 0 ? dev.CreateCmdShiftIaUp1() : dev.CreateCmdShiftIaDown1());
            error = Error(10, dev.ParseSingleParameter(ToFrame(Dev(dev.CreateCmdReadPa()))), instPa);
            break;
        }
        int n = 10;
        if (firstShiftSent) {
            const double perStep = std::fabs(error - previousError) / previousCount;
            n = perStep > 0 ? std::abs(int(error / perStep)) : 1;
            if (n == 0)
                n = 1;
        }
        firstShiftSent = true;
        previousCount = n;
        previousError = error;
        for (; n >= 10; n -= 10)
            Dev(error > 0 ? dev.CreateCmdShiftIaDown10() : dev.CreateCmdShiftIaUp10());
        for (; n > 0; --n)
            Dev(error > 0 ? dev.CreateCmdShiftIaDown1() : dev.CreateCmdShiftIaUp1());
    }
    EXPECT_LT(std::fabs(error), 0.35); // within about one step of zero
    EXPECT_LE(reads, 6);
}

TEST_F(Tuning, AnalogOffsetAndGain)
{
    ASSERT_EQ(sim.Command("analog-error 1 1.0 0.057"), "ok");
    Dev(dev.CreateCmdSetAnalogType20());
    Dev(dev.CreateCmdSetAnalogModeAdjustingMiddle());
    Kest(kest.CreateCmdSetAnalogInputNumber(1));
    auto measured = [&] { return KestStatus()->AnalogOut; };
    EXPECT_NEAR(measured(), 12.057, 1e-4);

    // Middle point: first a hundred steps, then steps estimated from the last move.
    double previousError = 999;
    int previousCount = 0;
    for (int reads = 0;; ++reads) {
        ASSERT_LT(reads, 9);
        const double error = std::round((measured() - 12.0) * 1e4) / 1e4;
        if (error == 0 || (std::fabs(error) >= std::fabs(previousError) && previousCount == 1))
            break;
        int n = 100;
        if (previousCount) {
            const double perStep = std::fabs(error - previousError) / previousCount;
            n = std::max(1, std::abs(int(error / perStep)));
        }
        previousCount = n;
        previousError = error;
        while (n > 0) {
            const int step = n >= 100 ? 100 : n >= 10 ? 10 : 1;
            n -= step;
            if (error > 0)
                Dev(step == 100      ? dev.CreateCmdShiftAnalog1CoefDown100()
                        : step == 10 ? dev.CreateCmdShiftAnalog1CoefDown10()
                                     : dev.CreateCmdShiftAnalog1CoefDown1());
            else
                Dev(step == 100      ? dev.CreateCmdShiftAnalog1CoefUp100()
                        : step == 10 ? dev.CreateCmdShiftAnalog1CoefUp10()
                                     : dev.CreateCmdShiftAnalog1CoefUp1());
        }
    }
    EXPECT_LT(std::fabs(measured() - 12.0), 0.0011);

    // Top point: the gain error shows, one reference write removes it.
    Dev(dev.CreateCmdSetAnalogModeAdjustingHigh());
    const double top = measured();
    EXPECT_NEAR(top - 20.0, 0.08, 0.002);
    Dev(dev.CreateCmdSetAmperageValueForAdjustingAnalogOut1(top));
    EXPECT_LE(std::fabs(measured() - 20.0), 0.0031);
    // Back in working mode, output 1 (Ua, p = 0,8) delivers 16,8 mA.
    Dev(dev.CreateCmdSetAnalogModeWorking());
    EXPECT_NEAR(measured(), 16.8, 0.002);
}

TEST_F(Tuning, IdentityAddressAndMemory)
{
    // The search frame is answered with function 0x77 and the address.
    const Bytes found = Dev(TQx4CmdManager::CreateCmdFindAddress());
    EXPECT_EQ(found, Frame({0x01, 0x77, 0x02, 0x00, 0x01}));

    Dev(dev.CreateCmdWriteFactoryNumber(1234, 15));
    Dev(dev.CreateCmdWriteModificationNumber(705));
    Dev(dev.CreateCmdWriteRelayCount(3));
    Dev(dev.CreateCmdWriteInterfaceCount(2));
    const TExtraSettingsObject one
        = TQx4CmdManager::ParseExtraSettings1(ToFrame(Dev(dev.CreateCmdReadExtraSettings1())));
    const TExtraSettingsObject two
        = TQx4CmdManager::ParseExtraSettings2(ToFrame(Dev(dev.CreateCmdReadExtraSettings2())));
    EXPECT_EQ(one.FactoryNumber, 151234);
    EXPECT_EQ(one.ModificationNumber, 5);
    EXPECT_EQ(two.RelayCount, 3);
    EXPECT_EQ(two.InterfaceCount, 2);

    TTransfCoefs c;
    c.U1 = 6000;
    c.U2 = 100;
    c.I1 = 300;
    c.I2 = 1;
    Dev(dev.CreateCmdWriteTransfCoefs(c));
    const TFrame coefs = ToFrame(Dev(dev.CreateCmdReadTransfCoefs()));
    EXPECT_DOUBLE_EQ(dev.ParseFloat(coefs, 4), 6000);
    EXPECT_DOUBLE_EQ(dev.ParseFloat(coefs, 16), 1);

    // Unknown registers and half a float are refused with exception 02.
    EXPECT_EQ(devLine->Exchange(Read(0x01, 0x0300, 1)), Frame({0x01, 0x83, 0x02}));
    EXPECT_EQ(devLine->Exchange(WriteWords(0x01, 0x0702, {0, 0})), Frame({0x01, 0x90, 0x02}));
    EXPECT_EQ(devLine->Exchange(WriteOne(0x01, 0x0280, 6)), Frame({0x01, 0x86, 0x03}));
    // A coefficient block with a zero in it is refused as a whole.
    c.U1 = 7000;
    c.I2 = 0;
    EXPECT_EQ(devLine->Exchange(Of(dev.CreateCmdWriteTransfCoefs(c))), Frame({0x01, 0x90, 0x03}));
    EXPECT_DOUBLE_EQ(dev.ParseFloat(ToFrame(Dev(dev.CreateCmdReadTransfCoefs())), 4), 6000);
    EXPECT_DOUBLE_EQ(dev.ParseFloat(ToFrame(Dev(dev.CreateCmdReadTransfCoefs())), 16), 1);

    // Saved settings survive unplugging, unsaved ones do not.
    Dev(dev.CreateCmdWriteScheme(0));
    Dev(dev.CreateCmdSaveChanges());
    Dev(dev.CreateCmdWriteRsRate1(6));
    EXPECT_EQ(dev.ParseSingleInteger(ToFrame(Dev(dev.CreateCmdReadRsRate1()))), 6);
    ASSERT_EQ(sim.Command("unplug"), "ok");
    EXPECT_TRUE(devLine->Exchange(Of(dev.CreateCmdReadScheme()), 300).empty());
    ASSERT_EQ(sim.Command("replug"), "ok");
    EXPECT_EQ(dev.ParseSingleInteger(ToFrame(Dev(dev.CreateCmdReadScheme()))), 0);
    EXPECT_EQ(dev.ParseSingleInteger(ToFrame(Dev(dev.CreateCmdReadRsRate1()))), 3);

    // A new address answers from the next request on; the old one goes quiet.
    EXPECT_EQ(Dev(dev.CreateCmdWriteNetAdr(9)), Of(dev.CreateCmdWriteNetAdr(9)));
    EXPECT_TRUE(devLine->Exchange(Of(dev.CreateCmdReadScheme()), 300).empty());
    dev.SetNetAdr(9);
    EXPECT_EQ(Dev(TQx4CmdManager::CreateCmdFindAddress())[0], 9);
    EXPECT_TRUE(ValidAnswer(Dev(dev.CreateCmdReadScheme())));
}
