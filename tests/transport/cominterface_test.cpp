// The queue transport: frames in order, one per send, over a pseudo-terminal.
#include <gtest/gtest.h>

#include <termios.h>

#include "pty.h"
#include "transport/cominterface.h"

namespace {

TFramePtr Frame(std::initializer_list<uint8_t> bytes)
{
    auto f = MakeFrame();
    for (uint8_t b : bytes)
        f->data[f->size++] = b;
    return f;
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        callback.ShowError = [this](const std::exception &e) { errors.push_back(e.what()); };
        link.SetPort(pty.SlavePath());
    }
    TestPty pty;
    TCallBackObject callback;
    std::vector<std::string> errors;
    TComInterface link{nullptr, &callback};
};

} // namespace

TEST(FrameQueue, FirstInFirstOutAndClear)
{
    TFrameQueue q;
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Get(), nullptr);
    auto a = Frame({1}), b = Frame({2}), c = Frame({3});
    q.Add(a);
    q.Add(b);
    EXPECT_EQ(q.Get(), a);
    q.Add(c);
    EXPECT_EQ(q.Get(), b);
    EXPECT_EQ(q.Get(), c);
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Get(), nullptr);

    // Clearing forgets the elements; frames held elsewhere live on, the rest are freed.
    std::weak_ptr<TFrame> dropped;
    {
        auto tmp = Frame({4});
        dropped = tmp;
        q.Add(tmp);
    }
    q.Add(a);
    q.Clear();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_TRUE(dropped.expired());
    EXPECT_EQ(a->data[0], 1);
    q.Add(b); // usable after a clear
    EXPECT_EQ(q.Count(), 1);
}

TEST_F(Transport, SendsQueuedFramesOneAtATime)
{
    link.OpenPort();
    auto a = Frame({0x77, 0x03, 0x00, 0x01});
    auto b = Frame({0x77, 0x06, 0x00, 0x02});
    link.AddCmd(a);
    link.AddCmd(b);
    EXPECT_EQ(link.GetLastCmd(), nullptr);
    link.SendNextCmd();
    EXPECT_EQ(pty.Receive(), std::vector<uint8_t>({0x77, 0x03, 0x00, 0x01}));
    EXPECT_EQ(link.GetLastCmd(), a);
    EXPECT_FALSE(link.IsQueueEmpty());
    link.SendNextCmd();
    EXPECT_EQ(pty.Receive(), std::vector<uint8_t>({0x77, 0x06, 0x00, 0x02}));
    EXPECT_EQ(link.GetLastCmd(), b);
    EXPECT_TRUE(link.IsQueueEmpty());

    // Nothing queued: nothing written, the last command stays.
    link.SendNextCmd();
    EXPECT_TRUE(pty.Receive(200).empty());
    EXPECT_EQ(link.GetLastCmd(), b);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Transport, CloseEmptiesTheQueueButKeepsTheLastCommand)
{
    link.OpenPort();
    auto a = Frame({1, 2});
    link.AddCmd(a);
    link.SendNextCmd();
    for (int i = 0; i < 3; ++i)
        link.AddCmd(Frame({3}));
    link.ClosePort();
    EXPECT_TRUE(link.IsQueueEmpty());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.GetLastCmd(), a);
    link.AddCmd(Frame({4}));
    link.CleaerQueue();
    EXPECT_TRUE(link.IsQueueEmpty());
}

TEST_F(Transport, RatesAcceptedAndRefused)
{
    struct Case {
        const char *text;
        int expected;
    };
    const Case cases[] = {{"19200", 19200}, {"300", 19200}, {"115200", 115200}, {"", 115200}, {"9600 ", 115200},
        {"1200", 1200}, {"abc", 1200}, {"57600", 57600}};
    link.OpenPort();
    for (const Case &c : cases) {
        link.SetRate(c.text);
        EXPECT_EQ(link.Rate(), c.expected) << c.text;
    }
    // Applied to the open line at once.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B57600);
}

TEST_F(Transport, PortFailuresSayNoAnswer)
{
    // A write to a closed port is reported, not raised.
    link.WriteBytes(Frame({1, 2, 3}));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Нет ответа");

    link.OpenPort();
    try {
        link.SetPort("/dev/ttyS9");
        FAIL() << "SetPort on an open port must raise";
    } catch (const EKestError &e) {
        EXPECT_STREQ(e.what(), "Нет ответа");
    }
    EXPECT_EQ(link.Port(), pty.SlavePath());
    link.ClosePort();

    TComInterface missing(nullptr, &callback);
    missing.SetPort("/dev/kest-no-such-port");
    try {
        missing.OpenPort();
        FAIL() << "OpenPort on a missing device must raise";
    } catch (const EKestError &e) {
        EXPECT_STREQ(e.what(), "Нет ответа");
    }
    EXPECT_FALSE(missing.IsOpen());
}

TEST(TransportLineErrors, LastErrorPresentWins)
{
    EXPECT_EQ(TComInterface::LineErrorText({}), "");
    EXPECT_EQ(TComInterface::LineErrorText({ceBreak}), "Обнаружено состояние разрыва связи");
    EXPECT_EQ(TComInterface::LineErrorText({ceBreak, ceFrame}), "Ошибка формата кадра");
    EXPECT_EQ(TComInterface::LineErrorText({ceIO, ceRxParity}), "Ошибка четности");
    EXPECT_EQ(TComInterface::LineErrorText({ceTxFull, ceBreak}), "Переполнение буфера передачи драйвера порта");
    EXPECT_EQ(TComInterface::LineErrorText({ceRxOver}), "Переполнение приемного буфера драйвера порта");
}
