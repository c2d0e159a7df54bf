// The identity window's logic over the tuning window's link, and the end tone.
#include "tuningtestutil.h"

#include <cmath>

#include "tuning/identitylogic.h"
#include "tuning/soundsignal.h"

using namespace tuningtest;

namespace {
struct TIdentityRecorder : IIdentityView {
    QString factory, modification, relays, interfaces;
    QStringList messages;
    void ShowFactoryNumber(const QString &t) override { factory = t; }
    void ShowModification(const QString &t) override { modification = t; }
    void ShowRelayCount(const QString &t) override { relays = t; }
    void ShowInterfaceCount(const QString &t) override { interfaces = t; }
    void ShowMessage(const QString &t) override { messages << t; }
};
} // namespace

// Written as shown, read back as written (serial 1234 and year 15 from 151234, modification 5 as 705);
// a modification register of 700 or less is shown as it is; a text that is not a number is reported, and
// the values before it are written, those after it not.
TEST_F(TuningTest, IdentityWindowWritesAndReads)
{
    TIdentityRecorder view;
    TIdentityLogic identity(&view);
    tuning->SetIdentityWindow(&identity);
    ASSERT_TRUE(tuning->OpenDevicePortForIdentity());
    identity.InitDeviceInterfaceAndCmdManager(tuning->DeviceInterface(), tuning->DeviceCmdManager());
    auto settle = [&] {
        return PumpUntil(
            [&] { return tuning->DeviceInterface()->IsQueueEmpty() && !tuning->DeviceInterface()->IsWaiting(); },
            10000);
    };
    identity.WriteClicked("151234", "5", "3", "2");
    ASSERT_TRUE(settle());
    auto memory = Fields(sim->Command("memory"));
    EXPECT_EQ(memory.at("serial"), 1234);
    EXPECT_EQ(memory.at("year"), 15);
    EXPECT_EQ(memory.at("modification"), 705);
    EXPECT_EQ(memory.at("relays"), 3);
    EXPECT_EQ(memory.at("interfaces"), 2);
    EXPECT_EQ(Requests(*sim), "D:wserial D:wmod D:wrelays D:wifaces "); // and no save command
    identity.ReadClicked();
    ASSERT_TRUE(settle());
    EXPECT_EQ(QStringList({view.factory, view.modification, view.relays, view.interfaces}),
        QStringList({"151234", "5", "3", "2"}));

    tuning->DeviceInterface()->AddCmd(tuning->DeviceCmdManager()->CreateCmdWriteModificationNumber(12));
    tuning->DeviceInterface()->SendNextCmd();
    ASSERT_TRUE(settle());
    identity.ReadClicked();
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.modification, "12");

    for (const QString &bad : {QString(), QString("15"), QString("15x234")}) {
        const size_t before = RequestCount(*sim);
        identity.WriteClicked(bad, "5", "3", "2");
        PumpFor(100);
        EXPECT_EQ(RequestCount(*sim), before) << bad.toStdString();
    }
    // A bad text further on: what was queued before it goes out, nothing after it.
    struct TPartial {
        const char *modification, *relays, *interfaces, *writes;
    };
    for (const TPartial &p : {TPartial{"пять", "3", "2", "D:wserial "}, TPartial{"6", "три", "2", "D:wserial D:wmod "},
             TPartial{"7", "1", "", "D:wserial D:wmod D:wrelays "}}) {
        SCOPED_TRACE(p.writes);
        const size_t before = RequestCount(*sim);
        identity.WriteClicked("163456", p.modification, p.relays, p.interfaces);
        ASSERT_TRUE(settle());
        EXPECT_EQ(Requests(*sim, before), p.writes);
        memory = Fields(sim->Command("memory"));
        EXPECT_EQ(memory.at("serial"), 3456);
        EXPECT_EQ(memory.at("year"), 16);
    }
    EXPECT_EQ(memory.at("modification"), 707);
    EXPECT_EQ(memory.at("relays"), 1);
    EXPECT_EQ(memory.at("interfaces"), 2);
    EXPECT_EQ(view.messages, QStringList(6, "Неверный формат данных"));

    tuning->CloseDevicePort();
    identity.WriteClicked("151234", "5", "3", "2");
    EXPECT_EQ(view.messages.last(), "Нет связи с устройством");
    EXPECT_TRUE(rec.errors.isEmpty());
}

// The tone: a 1000 Hz sine of 1000 ms without clicks at its ends; ALSA's null device plays it, a device
// that does not exist plays nothing and says nothing.
TEST(SoundSignal, ToneAndDevices)
{
    const std::vector<int16_t> tone = TSoundSignal::Sine(1000, 1000);
    ASSERT_EQ(tone.size(), size_t(TSoundSignal::kSampleRate));
    int crossings = 0;
    int16_t peak = 0;
    for (size_t i = 1; i < tone.size(); ++i) {
        crossings += (tone[i - 1] < 0) != (tone[i] < 0) ? 1 : 0;
        peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(tone[i])));
    }
    EXPECT_NEAR(crossings, 2000, 4);
    EXPECT_GT(peak, 16000);
    EXPECT_LT(std::abs(tone.front()), 10);
    EXPECT_LT(std::abs(tone.back()), 200);
    EXPECT_TRUE(TSoundSignal::PlayBlocking(1000, 50, "null"));
    EXPECT_FALSE(TSoundSignal::PlayBlocking(1000, 50, "hw:97,0"));
    EXPECT_TRUE(TSoundSignal::Sine(0, 1000).empty());
}
