// The request/response engine end to end over a pseudo-terminal, with a scripted device on the master
// side: answer delimiting by line silence, re-sends, validation texts, the queue after failures.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "protocol/modbuscommands.h"
#include "pty.h"
#include "scripteddevice.h"
#include "transport/crc16.h"
#include "transport/deviceinterface.h"
#include "transport/frametrace.h"

namespace {

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        callback.Callback = [this](const TFramePtr &f) {
            answers.push_back(FrameBytes(*f));
            if (onAnswer)
                onAnswer(f);
        };
        callback.ShowError = [this](const std::exception &e) { errors.push_back(e.what()); };
        engine.SetPort(pty.SlavePath());
        engine.SetRate("115200");
        engine.OpenPort();
    }

    TFramePtr Send(const TFramePtr &cmd)
    {
        engine.AddCmd(cmd);
        engine.SendNextCmd();
        return cmd;
    }

    TestPty pty;
    ScriptedDevice device{pty};
    TCallBackObject callback;
    std::vector<Bytes> answers;
    std::vector<std::string> errors;
    std::function<void(const TFramePtr &)> onAnswer;
    TDeviceInterface engine{nullptr, &callback};
};

const Bytes kRequest = WithCrc({0x77, 0x03, 0x03, 0xE2, 0x00, 0x02});
const Bytes kAnswer = WithCrc({0x77, 0x03, 0x04, 0x42, 0xC8, 0x00, 0x00});

TFramePtr Request()
{
    return TModbusCommands::CreateCmdRead(0x03E2, 2, 0x77);
}

} // namespace

TEST(EngineValidation, TextsOfTheValidationTable)
{
    struct Case {
        Bytes bytes;
        std::string error;
    };
    Bytes corrupted66 = WithCrc({0x77, 0x03, 66, 1, 2, 3});
    corrupted66.back() ^= 0xFF;
    Bytes corrupted70 = WithCrc({0x77, 0x03, 70, 1, 2, 3});
    corrupted70[corrupted70.size() - 2] ^= 0x01;
    Bytes corrupted4 = WithCrc({0x77, 0x03, 4, 1, 2, 3, 4});
    corrupted4.back() ^= 0x01;
    const Case cases[] = {
        {kAnswer, ""},
        {WithCrc({0x01, 0x83, 0x01}), "Принятый код функции не может быть обработан устройством."},
        {WithCrc({0x01, 0x83, 0x02}), "Адрес данных, указанный в запросе, недоступен данному устройству."},
        {WithCrc({0x01, 0x90, 0x03}),
            "Величина, содержащаяся в поле данных запроса, является недопустимой величиной для устройства."},
        {WithCrc({0x01, 0x86, 0x04}),
            "Невосстанавливаемая ошибка имела место, пока устройство пыталось выполнить затребованное действие."},
        {WithCrc({0x01, 0x83, 0x0B}), "Неизвестная ошибка."},
        {corrupted66, ""},
        {corrupted70, ""},
        // A bad check byte on an ordinary answer is judged by its byte count.
        {corrupted4,
            "Невосстанавливаемая ошибка имела место, пока устройство пыталось выполнить затребованное действие."},
        // Exception bit with a count of 66 still passes, as the table says.
        {WithCrc({0x01, 0x83, 66}), ""},
        {Bytes{0x77}, TDeviceInterface::kShortAnswer},
        {Bytes{0x77, 0x03}, TDeviceInterface::kShortAnswer},
        {Bytes{}, TDeviceInterface::kShortAnswer},
    };
    for (const Case &c : cases) {
        TFrame f;
        std::copy(c.bytes.begin(), c.bytes.end(), f.data.begin());
        f.size = static_cast<int32_t>(c.bytes.size());
        EXPECT_EQ(TDeviceInterface::ValidationError(f), c.error) << TFrame(f).ToHex();
    }
}

TEST_F(Engine, AnswerInTwoBurstsCloseTogetherIsOneFrame)
{
    // A 15 ms gap inside an answer. "Close" is relative to the silence that ends an answer, and a thread
    // of the device or of the port descheduled on a loaded machine can stretch 15 ms past the usual
    // 46 ms; with a silence of 400 ms here (the response time-out above it) only the reassembly is
    // judged. The 46 ms themselves are checked from below in the next case.
    engine.SetResponseTimeOut(3000);
    engine.SetByteTimeout(400);
    device.Script(
        {Reply{{5, Bytes(kAnswer.begin(), kAnswer.begin() + 4)}, {15, Bytes(kAnswer.begin() + 4, kAnswer.end())}}});
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 5000));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], kAnswer);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(device.Requests().at(0), kRequest);
    EXPECT_FALSE(engine.IsWaiting());
}

TEST_F(Engine, SecondBurstAfterLongSilenceIsAnotherAnswer)
{
    // The default silence: each answer is handed over no sooner than 46 ms after it was written (a
    // shorter or missing silence would cut answers apart), and a burst a second later is an
    // answer of its own. Only lower bounds on time: a loaded machine makes them later, never earlier, and
    // a gap of a whole second cannot be bridged by a late timer.
    using std::chrono::steady_clock;
    std::vector<steady_clock::time_point> deliveredAt;
    onAnswer = [&](const TFramePtr &) { deliveredAt.push_back(steady_clock::now()); };
    const Bytes second = WithCrc({0x77, 0x03, 0x02, 0x12, 0x34});
    device.Script({Reply{{5, kAnswer}, {1000, second}}});
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return answers.size() >= 2 || !errors.empty(); }, 5000));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], kAnswer);
    EXPECT_EQ(answers[1], second);
    EXPECT_EQ(device.RequestCount(), 1u);
    const auto written = device.BurstTimes();
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(deliveredAt.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(deliveredAt[i] - written[i]);
        // Qt's timers round to whole milliseconds.
        EXPECT_GE(silence.count(), TComInterfaceWithCallback::kByteTimeout - 2) << "answer " << i;
    }
}

TEST_F(Engine, NoAnswerMeansFourWritesThenNoAnswerWithTheQueueKept)
{
    engine.AddCmd(Request());
    auto queued = TModbusCommands::CreateCmdRead(0, 1, 0x77);
    engine.AddCmd(queued);
    engine.SendNextCmd();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 6000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(errors, std::vector<std::string>{"Нет ответа"});
    EXPECT_EQ(device.RequestCount(), 4u);
    for (const Bytes &r : device.Requests())
        EXPECT_EQ(r, kRequest);
    // Four response time-outs of 500 ms; generous bounds for a loaded machine.
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 5000);
    EXPECT_FALSE(engine.IsQueueEmpty());
    EXPECT_EQ(engine.EffortsToReconnect(), 0);
    EXPECT_FALSE(engine.HaveError());
    // Nothing more happens afterwards.
    PumpFor(700);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(device.RequestCount(), 4u);
}

TEST_F(Engine, ExceptionAnswerIsReportedAfterThreeResendsAndEmptiesTheQueue)
{
    device.AnswerAlways({{2, WithCrc({0x01, 0x83, 0x02})}});
    engine.SetResponseTimeOut(300);
    engine.AddCmd(Request());
    engine.AddCmd(Request());
    engine.SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    EXPECT_EQ(errors[0], "Адрес данных, указанный в запросе, недоступен данному устройству.");
    EXPECT_EQ(device.RequestCount(), 4u);
    EXPECT_TRUE(answers.empty());
    EXPECT_TRUE(engine.IsQueueEmpty());
    EXPECT_TRUE(engine.HaveError());
    PumpFor(400);
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(Engine, CorruptedAnswerWithCount66ReachesCallbackUnchanged)
{
    Bytes body{0x77, 0x03, 66};
    for (int i = 0; i < 66; ++i)
        body.push_back(static_cast<uint8_t>(i));
    Bytes bad = WithCrc(body);
    bad[bad.size() - 1] ^= 0x5A;
    device.Script({Reply{{5, bad}}});
    Send(TModbusCommands::CreateCmdRead(994, 33, 0x77));
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 3000));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], bad);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(device.RequestCount(), 1u);
}

TEST_F(Engine, SuccessResetsTheResendCounter)
{
    engine.SetResponseTimeOut(250);
    // First command: silent twice, then answered. Second command: never answered.
    device.Script({Reply{}, Reply{}, Reply{{5, kAnswer}}});
    onAnswer = [&](const TFramePtr &) {
        EXPECT_EQ(engine.EffortsToReconnect(), 0);
        engine.AddCmd(Request());
        engine.SendNextCmd();
    };
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 6000));
    EXPECT_EQ(answers.size(), 1u);
    // 3 writes for the first command, then the full 4 for the second.
    EXPECT_EQ(device.RequestCount(), 7u);
    EXPECT_EQ(errors[0], "Нет ответа");
}

TEST_F(Engine, ClosePortWhileWaitingReportsNothingLater)
{
    Send(Request());
    PumpFor(100);
    EXPECT_TRUE(engine.IsWaiting());
    engine.ClosePort();
    EXPECT_FALSE(engine.IsWaiting());
    PumpFor(1500);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(device.RequestCount(), 1u);
}

TEST_F(Engine, OneByteAnswerIsAnInvalidAnswer)
{
    engine.SetResponseTimeOut(250);
    device.AnswerAlways({{2, Bytes{0x77}}});
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    EXPECT_EQ(errors[0], TDeviceInterface::kShortAnswer);
    EXPECT_EQ(device.RequestCount(), 4u);
    EXPECT_TRUE(answers.empty());
}

TEST_F(Engine, BabblingAnswerKeepsOneFrameAndLeavesNothingStale)
{
    // Far more than a frame: bytes with a count of 66 in byte 2, so that the first 4096 are accepted as
    // they are and judged like any other answer.
    Bytes babble(9000, 0x55);
    babble[0] = 0x77;
    babble[1] = 0x03;
    babble[2] = 66;
    device.Script({Reply{{5, babble}}, Reply{{5, kAnswer}}});
    Send(TModbusCommands::CreateCmdRead(994, 33, 0x77));
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 4000));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_LE(answers[0].size(), static_cast<size_t>(TFrame::kCapacity));
    EXPECT_GT(answers[0].size(), 3000u);
    PumpFor(300);
    // The next exchange sees only its own answer.
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return answers.size() >= 2 || !errors.empty(); }, 4000));
    PumpFor(200);
    ASSERT_EQ(answers.size(), 2u) << "stale babble reached the owner";
    EXPECT_EQ(answers[1], kAnswer);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Engine, LineHungUpMidExchangeIsReportedOnce)
{
    engine.SetResponseTimeOut(250);
    device.HangUpOnNextRequest();
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }, 5000));
    PumpFor(1200);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Нет ответа");
    EXPECT_FALSE(engine.IsWaiting());
}

TEST(EngineReadFailure, StopsBothTimersBeforeTheResend)
{
    // The device answers every request 150 ms after it ends: far beyond the 46 ms of silence, so a
    // silence timer left running after a failed read would take the empty line for an answer and
    // re-send again, and the answer to the first re-send would then arrive twice.
    const struct {
        const char *name;
        int failingReads;
        size_t requests;
        size_t answers;
        const char *error;
    } cases[] = {
        {"one failed read: one re-send, one answer", 1, 2, 1, ""},
        {"every read fails: four writes, the port's text", 1000, 4, 0, "Ошибка чтения из порта"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestPty pty;
        ASSERT_TRUE(pty.Ok());
        ScriptedDevice device(pty);
        device.AnswerAlways({{150, kAnswer}});
        TCallBackObject callback;
        std::vector<Bytes> answers;
        std::vector<std::string> errors;
        callback.Callback = [&](const TFramePtr &f) { answers.push_back(FrameBytes(*f)); };
        callback.ShowError = [&](const std::exception &e) { errors.push_back(e.what()); };
        TDeviceInterface engine(nullptr, &callback);
        engine.SetPort(pty.SlavePath());
        engine.SetRate("115200");
        engine.OpenPort();
        engine.SetResponseTimeOut(2000);
        int failures = c.failingReads;
        engine.SerialPort()->SetReadFaultHookForTesting([&] { return failures-- > 0; });
        engine.AddCmd(Request());
        engine.AddCmd(Request());
        engine.SendNextCmd();
        ASSERT_TRUE(PumpUntil([&] { return !answers.empty() || !errors.empty(); }, 15000));
        PumpFor(1500); // room for a stray answer or re-send to show
        EXPECT_EQ(device.RequestCount(), c.requests);
        EXPECT_EQ(answers.size(), c.answers);
        if (*c.error) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0], c.error);
            EXPECT_TRUE(engine.IsQueueEmpty()) << "a failed exchange gives up on the queue";
        } else {
            EXPECT_TRUE(errors.empty()) << errors[0];
            EXPECT_EQ(answers[0], kAnswer);
            EXPECT_FALSE(engine.IsQueueEmpty()) << "the second command waits for the owner";
        }
        EXPECT_EQ(engine.EffortsToReconnect(), 0);
        EXPECT_FALSE(engine.IsWaiting());
    }
}

TEST_F(Engine, TraceRecordsFramesBothWays)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("trace.txt").toStdString();
    ASSERT_TRUE(TFrameTrace::Instance().Open(path));
    device.Script({Reply{{5, kAnswer}}});
    Send(Request());
    ASSERT_TRUE(PumpUntil([&] { return !answers.empty(); }, 3000));
    TFrameTrace::Instance().Close();
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains(QString::fromStdString(" TX " + TFrame(*Request()).ToHex()))) << text.toStdString();
    EXPECT_TRUE(text.contains(" RX 77 03 04 42 C8 00 00")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(pty.SlavePath())));
}
