// The parameter controllers: which command and which values a request becomes in each configuration.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <cmath>

#include "protocol/kestparametercontroller.h"
#include "pty.h"

namespace {

std::vector<uint8_t> Bytes(const TFramePtr &f)
{
    return std::vector<uint8_t>(f->data.begin(), f->data.begin() + f->size);
}

TKestConfiguration Config(const char *name, bool scheme, double amperageMax, int uRange = 0)
{
    TKestConfiguration c;
    c.ConfigurationName = QString::fromLatin1(name);
    c.SchemeFlag = scheme;
    c.AmperageMax = amperageMax;
    c.URangeIndex = static_cast<uint8_t>(uRange);
    return c;
}

// Frames queued on an engine that is never opened: nothing is sent, the queue is only read back.
struct QueueProbe {
    TCallBackObject callback;
    TDeviceInterface engine{nullptr, &callback};
    std::vector<std::vector<uint8_t>> Drain()
    {
        std::vector<std::vector<uint8_t>> out;
        // SendNextCmd on a closed port records lastCmd and reports "Нет ответа", which is all we need.
        while (!engine.IsQueueEmpty()) {
            engine.SendNextCmd();
            out.push_back(Bytes(engine.GetLastCmd()));
        }
        return out;
    }
};

} // namespace

TEST(InputParamController, CurrentCommandPerSchemeAndRange)
{
    TKestCmdManager cmd;
    struct Case {
        const char *what;
        bool scheme;
        double amperageMax;
        bool optionIb;
        TToggleStates toggles;
        TFramePtr expected;
    };
    const Case cases[] = {
        // Two-element scheme without phase B, 5 A: phase C follows the B toggle, which is off.
        {"2el 5A on-off-on", false, 5.0, false, {true, false, true}, cmd.CreateCmdSendIa5Ic5(1, 0)},
        {"2el 5A all on", false, 5.0, false, {true, true, true}, cmd.CreateCmdSendIa5Ic5(1, 3)},
        {"2el 1A", false, 1.0, false, {true, true, false}, cmd.CreateCmdSendIaIc(1, 3)},
        {"2el phase B asked", false, 5.0, true, {true, false, true}, cmd.CreateCmdSendIa5Ib5Ic5(1, 0, 0)},
        {"3el 1A", true, 1.0, false, {true, false, true}, cmd.CreateCmdSendIaIbIc(1, 0, 3)},
        {"3el 5A", true, 5.0, false, {false, true, true}, cmd.CreateCmdSendIa5Ib5Ic5(0, 2, 3)},
    };
    for (const Case &c : cases) {
        TKestConfiguration conf = Config("PQ", c.scheme, c.amperageMax);
        TKestInputParamCmdController controller(&conf, &cmd);
        TToggleStates toggles = c.toggles;
        EXPECT_EQ(Bytes(controller.CreateCmdSendAmperageAccordingToConfiguration(1, 2, 3, c.optionIb, toggles)),
            Bytes(c.expected))
            << c.what;
        if (!c.scheme) {
            EXPECT_EQ(toggles.Toggle3, c.toggles.Toggle2) << c.what;
        }
    }
}

TEST(InputParamController, VoltageFormsAndTheOver300Flags)
{
    TKestCmdManager cmd;
    // "U" in a higher range: half the voltage on A and C, and the switch must go first.
    TKestConfiguration u4 = Config("U", false, 1.0, 4);
    TKestInputParamCmdController high(&u4, &cmd);
    EXPECT_EQ(Bytes(high.CreateCmdSendVoltageAccordingToConfiguration(400, 0, 0)), Bytes(cmd.CreateCmdSendUaUc(200)));
    EXPECT_TRUE(high.ChangeUFlag);
    EXPECT_TRUE(high.UOver300Flag);
    // The same controller again: no change of form, no switch.
    high.CreateCmdSendVoltageAccordingToConfiguration(300, 0, 0);
    EXPECT_FALSE(high.ChangeUFlag);
    // Back to a lower range with the same controller: the form changes again.
    u4.URangeIndex = 3;
    EXPECT_EQ(Bytes(high.CreateCmdSendVoltageAccordingToConfiguration(100, 0, 0)), Bytes(cmd.CreateCmdSendUa(100)));
    EXPECT_TRUE(high.ChangeUFlag);
    EXPECT_FALSE(high.UOver300Flag);

    // A fresh controller in a lower range never asks for the switch.
    TKestConfiguration u0 = Config("U", false, 1.0, 0);
    TKestInputParamCmdController low(&u0, &cmd);
    low.CreateCmdSendVoltageAccordingToConfiguration(57.7, 0, 0);
    EXPECT_FALSE(low.ChangeUFlag);
    EXPECT_FALSE(low.UOver300Flag);

    // Three-wire: line voltages become phase voltages; four-wire: as given. Flags untouched.
    TKestConfiguration pq3 = Config("PQ", false, 5.0, 4);
    TKestInputParamCmdController three(&pq3, &cmd);
    auto frame = three.CreateCmdSendVoltageAccordingToConfiguration(100, 100, 100);
    const double phase = 100 / std::sqrt(3.0);
    for (int pos : {8, 12, 16})
        EXPECT_NEAR(cmd.ParseFloat(*frame, pos), phase, 1e-4);
    EXPECT_NEAR(cmd.ParseFloat(*frame, 8), 57.735, 1e-3);
    EXPECT_FALSE(three.ChangeUFlag);
    EXPECT_FALSE(three.UOver300Flag);
    TKestConfiguration pq4 = Config("PQ", true, 5.0);
    TKestInputParamCmdController four(&pq4, &cmd);
    EXPECT_EQ(Bytes(four.CreateCmdSendVoltageAccordingToConfiguration(220, 221, 222)),
        Bytes(cmd.CreateCmdSendUaUbUc(220, 221, 222)));
}

TEST(InputParamController, AngleFrequencyAndToggles)
{
    TKestCmdManager cmd;
    TKestConfiguration c = Config("QX4", true, 5.0);
    TKestInputParamCmdController controller(&c, &cmd);
    // Ties to even.
    EXPECT_EQ(Bytes(controller.CreateCmdSendAngleAccordingToConfiguration(29.5)), Bytes(cmd.CreateCmdSendAngle(30)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendAngleAccordingToConfiguration(30.5)), Bytes(cmd.CreateCmdSendAngle(30)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendAngleAccordingToConfiguration(-89.6)), Bytes(cmd.CreateCmdSendAngle(-90)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendFrequencyAccordingToConfiguration(50.5)),
        Bytes(cmd.CreateCmdSendFrequency(50.5)));

    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_Ia(true)),
        Bytes(cmd.CreateCmdSetAmplifierIa5(true)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_Ib(false)),
        Bytes(cmd.CreateCmdSetAmplifierIb5(false)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_Ic(true)),
        Bytes(cmd.CreateCmdSetAmplifierIc5(true)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_U(true)),
        Bytes(cmd.CreateCmdSetAmplifierUaUbUc(1)));
    c.AmperageMax = 1.0;
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_Ia(true)),
        Bytes(cmd.CreateCmdSetAmplifierIa(true)));
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_Ic(false)),
        Bytes(cmd.CreateCmdSetAmplifierIc(false)));
    c.ConfigurationName = "U";
    EXPECT_EQ(Bytes(controller.CreateCmdSendToggleAccordingToConfiguration_U(false)),
        Bytes(cmd.CreateCmdSetAmplifierU650(false)));
}

TEST(ParameterController, QueuesWithoutSending)
{
    TKestCmdManager cmd;
    TKestConfiguration u = Config("U", false, 1.0, 4);
    QueueProbe probe;
    TKestParameterController controller(&probe.engine, &cmd, &u);
    controller.SetVoltage(400, 0, 0);
    controller.SetAngle(30.4);
    controller.SetFrequence(50);
    controller.SetAmperage(1, 2, 3, false);
    EXPECT_TRUE(controller.amperageToggleStates.Toggle1 && controller.amperageToggleStates.Toggle2
        && controller.amperageToggleStates.Toggle3);
    EXPECT_EQ(probe.engine.GetLastCmd(), nullptr); // nothing sent by the controller itself
    const auto frames = probe.Drain();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], Bytes(cmd.CreateCmdSetUOver300(true)));
    EXPECT_EQ(frames[1], Bytes(cmd.CreateCmdSendUaUc(200)));
    EXPECT_EQ(frames[2], Bytes(cmd.CreateCmdSendAngle(30)));
    EXPECT_EQ(frames[3], Bytes(cmd.CreateCmdSendFrequency(50)));
    EXPECT_EQ(frames[4], Bytes(cmd.CreateCmdSendIaIc(1, 3)));

    // A lower range never queues the switch (each call uses a fresh command controller).
    u.URangeIndex = 1;
    controller.SetVoltage(100, 0, 0);
    const auto lower = probe.Drain();
    ASSERT_EQ(lower.size(), 1u);
    EXPECT_EQ(lower[0], Bytes(cmd.CreateCmdSendUa(100)));
}

TEST(ParameterController, AmperageFailureSaysErrorMessage)
{
    TKestCmdManager cmd;
    QueueProbe probe;
    // No configuration to build against: the failure surfaces with the fixed text.
    TKestParameterController controller(&probe.engine, &cmd, nullptr);
    try {
        controller.SetAmperage(1, 1, 1, true);
        FAIL() << "expected an error";
    } catch (const EKestError &e) {
        EXPECT_STREQ(e.what(), "Error Message");
    }
}

TEST(ParameterController, WaitKeepsTheEventLoopRunning)
{
    int fired = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++fired; });
    tick.start(20);
    QElapsedTimer clock;
    clock.start();
    TKestParameterController::WaitBeforeGettingOutput(300);
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 3000);
    EXPECT_GE(fired, 3); // timers ran during the wait

    // A negative wait returns after the first event.
    QTimer::singleShot(50, [] {});
    clock.restart();
    TKestParameterController::WaitBeforeGettingOutput(-1);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(PortInitializer, ReopensOnTheNewPortAndKeepsAKnownRate)
{
    TestPty first, second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    TCallBackObject callback;
    TDeviceInterface engine(nullptr, &callback);
    TPortInitializer init(&engine);
    init.InitPort(first.SlavePath(), "19200");
    EXPECT_TRUE(engine.IsOpen());
    EXPECT_EQ(engine.Rate(), 19200);
    engine.AddCmd(TModbusCommands::CreateCmdRead(0, 1, 0x77));
    init.InitPort(second.SlavePath(), "300");
    EXPECT_TRUE(engine.IsOpen());
    EXPECT_EQ(engine.Port(), second.SlavePath());
    EXPECT_EQ(engine.Rate(), 19200);
    EXPECT_TRUE(engine.IsQueueEmpty()); // closing emptied the queue
    // The first port is free again.
    TCallBackObject cb2;
    TDeviceInterface other(nullptr, &cb2);
    EXPECT_NO_THROW(TPortInitializer(&other).InitPort(first.SlavePath(), "9600"));
    // A missing port: the transport's text reaches the caller.
    try {
        init.InitPort("/dev/kest-missing", "9600");
        FAIL() << "expected an error";
    } catch (const EKestError &e) {
        EXPECT_STREQ(e.what(), "Нет ответа");
    }
    EXPECT_FALSE(engine.IsOpen());
}
