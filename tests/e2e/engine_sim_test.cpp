// The engine against the simulated installation's injectable faults: the answer-delimiting rule, re-sends,
// validation and line loss with a real device model on the other end of the pty.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "kestsimulator.h"
#include "protocol/kestcmdmanager.h"
#include "pty.h"
#include "transport/deviceinterface.h"

namespace {

class EngineAgainstSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestsim::SimOptions options;
        options.announce = false;
        options.deviceType = "QX4";
        sim = std::make_unique<kestsim::KestSimulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        callback.Callback = [this](const TFramePtr &f) {
            answers.push_back(f);
            if (onAnswer)
                onAnswer(f);
        };
        callback.ShowError = [this](const std::exception &e) { errors.push_back(e.what()); };
        engine = std::make_unique<TDeviceInterface>(nullptr, &callback);
        engine->SetPort(sim->InstallationPath());
        engine->SetRate("115200");
        engine->OpenPort();
    }
    void TearDown() override
    {
        engine.reset();
        sim.reset();
    }
    void Send(const TFramePtr &f)
    {
        engine->AddCmd(f);
        engine->SendNextCmd();
    }
    bool WaitForOutcome(int ms)
    {
        return PumpUntil([&] { return !answers.empty() || !errors.empty(); }, ms);
    }
    // Requests the simulator logged for the installation since start.
    int RequestsLogged()
    {
        int n = 0;
        for (const std::string &line : sim->Log())
            if (line.find("installation rx ") != std::string::npos)
                ++n;
        return n;
    }

    std::unique_ptr<kestsim::KestSimulator> sim;
    TCallBackObject callback;
    std::unique_ptr<TDeviceInterface> engine;
    std::vector<TFramePtr> answers;
    std::vector<std::string> errors;
    std::function<void(const TFramePtr &)> onAnswer;
    TKestCmdManager cmd;
};

} // namespace

TEST_F(EngineAgainstSim, StatusReadParsesIntoTheModel)
{
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(WaitForOutcome(3000));
    ASSERT_EQ(answers.size(), 1u) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(answers[0]->size, 5 + 138);
    auto status = cmd.ParseParameters_ConfigurationQX4(*answers[0]);
    EXPECT_FALSE(status->isDeviceDisconnected);
    EXPECT_TRUE(status->Parameters->GetParameterByName("Ua")->isDataCorrect);
}

TEST_F(EngineAgainstSim, SplitAnswerWellInsideTheSilenceIsOneFrame)
{
    // Gaps of 15 and 250 ms stand for the 30 and 100 ms of the rule's examples, with room on either side of
    // the 46 ms silence for a loaded machine.
    ASSERT_EQ(sim->Command("fault installation:split:20:15#1"), "ok");
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(WaitForOutcome(3000));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]->size, 143);
    EXPECT_TRUE(errors.empty());
}

TEST_F(EngineAgainstSim, SplitAnswerWellBeyondTheSilenceGivesTheFirstBurstOnly)
{
    // The first 20 bytes form no valid frame: with a count byte of 138 and a bad check it is refused and
    // re-sent; the re-send's purge drops the late second burst. Every transmission is split the same way,
    // so the owner finally hears the validation text, not a stitched frame.
    ASSERT_EQ(sim->Command("fault installation:split:20:250"), "ok");
    engine->SetResponseTimeOut(400);
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 8000));
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(errors[0], "Неизвестная ошибка.");
    EXPECT_EQ(RequestsLogged(), 4);
}

TEST_F(EngineAgainstSim, NoAnswerKeepsTheQueue)
{
    ASSERT_EQ(sim->Command("fault installation:noanswer"), "ok");
    engine->SetResponseTimeOut(200);
    engine->AddCmd(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    engine->AddCmd(cmd.CreateCmdReadDeviceInfo());
    engine->SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    EXPECT_EQ(errors[0], "Нет ответа");
    EXPECT_EQ(RequestsLogged(), 4);
    EXPECT_FALSE(engine->IsQueueEmpty());
}

TEST_F(EngineAgainstSim, ExceptionAndCorruptAnswers)
{
    ASSERT_EQ(sim->Command("fault installation:exception:2#4"), "ok");
    engine->SetResponseTimeOut(300);
    Send(cmd.CreateCmdReadDeviceInfo());
    ASSERT_TRUE(WaitForOutcome(5000));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Адрес данных, указанный в запросе, недоступен данному устройству.");
    EXPECT_EQ(RequestsLogged(), 4);

    // Two corrupt answers, then a good one: delivered after two re-sends, and the counter is reset.
    errors.clear();
    ASSERT_EQ(sim->Command("fault installation:crc#2"), "ok");
    Send(cmd.CreateCmdReadDeviceInfo());
    ASSERT_TRUE(WaitForOutcome(5000));
    ASSERT_EQ(answers.size(), 1u) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(engine->EffortsToReconnect(), 0);
}

TEST_F(EngineAgainstSim, GarbageAfterTheAnswerIsJudgedWithIt)
{
    // Extra bytes make the check fail; the byte-count rule decides what the owner hears.
    ASSERT_EQ(sim->Command("fault installation:garbage:3"), "ok");
    engine->SetResponseTimeOut(300);
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(WaitForOutcome(5000));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Неизвестная ошибка."); // byte count 138: not 66 or 70
}

TEST_F(EngineAgainstSim, BabblingLineLeavesNothingForTheNextExchange)
{
    // 9000 bytes paced at 115200 bit/s keep the line busy for most of a second. However the engine judges
    // that (frames cut at 4096 bytes, re-sends, a final error), nothing of it may reach a later exchange.
    ASSERT_EQ(sim->Command("fault installation:babble:9000#1"), "ok");
    engine->SetResponseTimeOut(1000);
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 8000));
    for (const TFramePtr &f : answers)
        EXPECT_LE(f->size, TFrame::kCapacity);
    PumpFor(1500); // the babble ends and whatever re-sends it caused are settled
    answers.clear();
    errors.clear();
    Send(cmd.CreateCmdReadDeviceAddress());
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 4000));
    PumpFor(300);
    ASSERT_EQ(answers.size(), 1u) << (errors.empty() ? "" : errors[0]);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(answers[0]->size, 7);
    EXPECT_EQ(TKestCmdManager::RecieveDeviceAddress(*answers[0]), 1);
}

TEST_F(EngineAgainstSim, LineHungUpIsReportedOnceAndNothingSpins)
{
    engine->SetResponseTimeOut(300);
    ASSERT_EQ(sim->Command("hangup installation 5000"), "ok");
    PumpFor(200);
    Send(cmd.CreateCmdReadDeviceStatusAndAllParameters());
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    PumpFor(1000);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(engine->IsWaiting());
}
