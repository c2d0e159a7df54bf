// The engine and the codec against an independent Modbus RTU slave: pymodbus's own serial server
// (Debian's python3-pymodbus) on a pseudo-terminal. Reads give the values pymodbus serves, writes land
// in its datastore, and its exception answers come out as the engine's texts after the re-sends.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "protocol/modbuscommands.h"
#include "pty.h"
#include "transport/deviceinterface.h"

#ifndef KEST_PEER_SERVER_SCRIPT
#error KEST_PEER_SERVER_SCRIPT must name rtu_server.py
#endif

namespace {

constexpr int kUnit = 17;
constexpr int kRegisters = 256; // served: 0 .. 255
constexpr int kFaultyRegister = 255; // its store fails on reading
constexpr int kFloatsAt = 100; // 1.5, -273.15, 1e6, big-endian
const char *kDebianPython = "/usr/bin/python3";

// The server's registers are shared by all tests: each test writes only in its own range.
constexpr int kSingleWritesAt = 150; // .. 154 and 199
constexpr int kFloatWriteAt = 160;
constexpr int kThreeFloatsAt = 170; // .. 175

// The two registers of a single-precision float, most significant byte first.
std::pair<int, int> FloatRegisters(double value)
{
    const float f = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return {static_cast<int>(bits >> 16), static_cast<int>(bits & 0xFFFF)};
}

// What the server holds before anything is written.
int ServedValue(int reg)
{
    if (reg >= kFloatsAt && reg < kFloatsAt + 6) {
        static const double floats[3] = {1.5, -273.15, 1000000.0};
        const auto [hi, lo] = FloatRegisters(floats[(reg - kFloatsAt) / 2]);
        return (reg - kFloatsAt) % 2 ? lo : hi;
    }
    return (reg * 257 + 0x1234) & 0xFFFF;
}

std::string Hex(const TFrame &f)
{
    return f.ToHex();
}

// pymodbus's server as a child process; its standard input is the leash: closing it stops the server
// (and a test that dies takes the server with it).
class PeerServer {
public:
    ~PeerServer() { Stop(); }

    // Empty on success, otherwise why the server is not there.
    std::string Start()
    {
        process_.setProgram(kDebianPython);
        process_.setArguments({KEST_PEER_SERVER_SCRIPT, "--unit", QString::number(kUnit)});
        process_.start();
        if (!process_.waitForStarted(10000))
            return std::string(kDebianPython) + " could not be started: " + process_.errorString().toStdString();
        const bool up = PumpUntil([this] { return ReadyPath().has_value() || Exited(); }, 20000);
        if (!up || !ReadyPath()) {
            std::string why = "the pymodbus server did not come up.";
            for (const std::string &l : Lines())
                if (l.rfind("error ", 0) == 0)
                    why += " " + l.substr(6);
            why += " stderr: " + process_.readAllStandardError().toStdString();
            return why + " (python3-pymodbus and socat are test dependencies: ./test.sh installs them)";
        }
        return {};
    }

    void Stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    std::optional<std::string> ReadyPath()
    {
        for (const std::string &l : Lines())
            if (l.rfind("ready ", 0) == 0)
                return l.substr(6);
        return std::nullopt;
    }

    // Every line the server has printed so far.
    const std::vector<std::string> &Lines()
    {
        buffer_ += process_.readAllStandardOutput().toStdString();
        for (size_t eol; (eol = buffer_.find('\n')) != std::string::npos;) {
            lines_.push_back(buffer_.substr(0, eol));
            buffer_.erase(0, eol + 1);
        }
        return lines_;
    }

    // Lines starting with prefix, printed after the mark (an index into Lines()).
    std::vector<std::string> LinesSince(size_t mark, const std::string &prefix)
    {
        std::vector<std::string> out;
        const auto &all = Lines();
        for (size_t i = mark; i < all.size(); ++i)
            if (all[i].rfind(prefix, 0) == 0)
                out.push_back(all[i].substr(prefix.size()));
        return out;
    }
    size_t Mark() { return Lines().size(); }

private:
    bool Exited() const { return process_.state() == QProcess::NotRunning; }

    QProcess process_;
    std::string buffer_;
    std::vector<std::string> lines_;
};

struct Outcome {
    TFramePtr answer;
    std::string error;
    int callbacks = 0;
    int errors = 0;
};

class PymodbusPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new PeerServer;
        startError_ = server_->Start();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(startError_.empty()) << startError_;
        callback_.Callback = [this](const TFramePtr &answer) {
            ++outcome_.callbacks;
            outcome_.answer = answer;
        };
        callback_.ShowError = [this](const std::exception &e) {
            ++outcome_.errors;
            outcome_.error = e.what();
        };
        engine_ = std::make_unique<TDeviceInterface>(nullptr, &callback_);
        engine_->SetPort(*server_->ReadyPath());
        engine_->SetRate("115200");
        // Python on a busy machine can be slow to answer; a re-send here would only blur the counts.
        engine_->SetResponseTimeOut(2000);
        ASSERT_NO_THROW(engine_->OpenPort());
        codec_.SetByteOrder(0, 1, 2, 3);
    }
    void TearDown() override
    {
        if (engine_)
            engine_->Dispose();
    }

    // One exchange through the queue, as the windows do it; long enough for all four transmissions.
    Outcome Exchange(const TFramePtr &request, int timeoutMs = 12000)
    {
        outcome_ = {};
        engine_->AddCmd(request);
        engine_->SendNextCmd();
        PumpUntil([this] { return outcome_.callbacks + outcome_.errors > 0; }, timeoutMs);
        // Anything the engine might still report (a late second answer or error) shows up here.
        PumpFor(150);
        return outcome_;
    }

    std::vector<int> ReadRegisters(int adr, int count)
    {
        std::vector<int> out;
        const Outcome o = Exchange(TModbusCommands::CreateCmdRead(adr, count, kUnit));
        EXPECT_EQ(o.errors, 0) << o.error;
        EXPECT_EQ(o.callbacks, 1);
        if (!o.answer)
            return out;
        EXPECT_EQ(o.answer->size, 5 + 2 * count) << Hex(*o.answer);
        EXPECT_EQ(o.answer->data[2], 2 * count);
        for (int i = 0; i < count; ++i)
            out.push_back(TModbusCommands::ParseInteger(*o.answer, 4 + 2 * i));
        return out;
    }

    static inline PeerServer *server_ = nullptr;
    static inline std::string startError_;
    TCallBackObject callback_;
    std::unique_ptr<TDeviceInterface> engine_;
    TModbusCommands codec_;
    Outcome outcome_;
};

TEST_F(PymodbusPeer, ReadsGiveTheServedRegisters)
{
    struct Case {
        int adr, count;
    };
    // One register, a run, the longest read pymodbus allows (125, through the floats) and the last
    // registers before the faulty one.
    for (const Case c : {Case{0, 1}, Case{7, 10}, Case{0, 125}, Case{kFaultyRegister - 3, 3}, Case{200, 1}}) {
        SCOPED_TRACE("read " + std::to_string(c.count) + " from " + std::to_string(c.adr));
        const std::vector<int> got = ReadRegisters(c.adr, c.count);
        ASSERT_EQ(got.size(), size_t(c.count));
        for (int i = 0; i < c.count; ++i)
            EXPECT_EQ(got[i], ServedValue(c.adr + i)) << "register " << c.adr + i;
    }
}

TEST_F(PymodbusPeer, FloatsWrittenByAnotherEncoderReadBackInTheDevicesOrder)
{
    const Outcome o = Exchange(TModbusCommands::CreateCmdRead(kFloatsAt, 6, kUnit));
    ASSERT_TRUE(o.answer) << o.error;
    EXPECT_EQ(codec_.ParseSingleParameter(*o.answer), 1.5);
    EXPECT_FLOAT_EQ(float(codec_.ParseFloat(*o.answer, 8)), -273.15f);
    EXPECT_EQ(codec_.GetValueFromFrame(*o.answer, 3, 4), 1000000.0);
    EXPECT_EQ(codec_.GetValueFromFrame(*o.answer, 2, 4), -273.15);
}

TEST_F(PymodbusPeer, SingleRegisterWritesLandAndEcho)
{
    struct Case {
        int adr, value, stored;
    };
    // Zero, the top of the range, a negative value and one too wide, both sent as their low 16 bits.
    const int at = kSingleWritesAt;
    for (const Case c : {Case{at, 0, 0}, Case{at + 1, 0xABCD, 0xABCD}, Case{at + 2, 0xFFFF, 0xFFFF},
             Case{at + 3, -1, 0xFFFF}, Case{at + 4, 0x10000 + 0x1234, 0x1234}, Case{199, 1, 1}}) {
        SCOPED_TRACE("write " + std::to_string(c.value) + " to " + std::to_string(c.adr));
        const size_t mark = server_->Mark();
        const TFramePtr request = TModbusCommands::CreateCmdSendInt(c.value, c.adr, kUnit);
        const Outcome o = Exchange(request);
        ASSERT_TRUE(o.answer) << o.error;
        EXPECT_EQ(o.callbacks, 1);
        // A 0x06 answer echoes the request.
        EXPECT_EQ(Hex(*o.answer), Hex(*request));
        EXPECT_EQ(server_->LinesSince(mark, "write "),
            std::vector<std::string>{std::to_string(c.adr) + " " + std::to_string(c.stored)});
        EXPECT_EQ(ReadRegisters(c.adr, 1), std::vector<int>{c.stored});
    }
}

TEST_F(PymodbusPeer, FloatWritesLandBigEndian)
{
    // Values whose four bytes all differ, a negative, a tiny and a huge one, zero.
    for (const double value : {1.2339999, -0.1, 1e-30, 3.0e38, 0.0, 100.0}) {
        SCOPED_TRACE("float " + std::to_string(value));
        const size_t mark = server_->Mark();
        const Outcome o = Exchange(codec_.CreateCmdSendFloat(value, kFloatWriteAt, kUnit));
        ASSERT_TRUE(o.answer) << o.error;
        // addr, 0x10, the register, two registers
        EXPECT_EQ(Hex(*o.answer).substr(0, 17), "11 10 00 A0 00 02");
        const auto [hi, lo] = FloatRegisters(value);
        EXPECT_EQ(server_->LinesSince(mark, "write "),
            std::vector<std::string>{
                std::to_string(kFloatWriteAt) + " " + std::to_string(hi) + " " + std::to_string(lo)});
        EXPECT_EQ(ReadRegisters(kFloatWriteAt, 2), (std::vector<int>{hi, lo}));
        const Outcome back = Exchange(TModbusCommands::CreateCmdRead(kFloatWriteAt, 2, kUnit));
        ASSERT_TRUE(back.answer);
        if (value != 0.0)
            EXPECT_EQ(float(codec_.ParseSingleParameter(*back.answer)), float(value));
        else // the devices' decoding keeps the implicit 1 even for a zero exponent field
            EXPECT_EQ(codec_.GetValueFromFrame(*back.answer, 1, 4), 0.0);
    }
}

TEST_F(PymodbusPeer, ThreeFloatWritesLandInOrder)
{
    const double values[3] = {220.5, -57.7, 0.001};
    const size_t mark = server_->Mark();
    const Outcome o = Exchange(codec_.CreateCmdSendFloat3bytes(values[0], values[1], values[2], kThreeFloatsAt, kUnit));
    ASSERT_TRUE(o.answer) << o.error;
    EXPECT_EQ(Hex(*o.answer).substr(0, 17), "11 10 00 AA 00 06");
    std::string expected = std::to_string(kThreeFloatsAt);
    std::vector<int> registers;
    for (const double v : values) {
        const auto [hi, lo] = FloatRegisters(v);
        expected += " " + std::to_string(hi) + " " + std::to_string(lo);
        registers.push_back(hi);
        registers.push_back(lo);
    }
    EXPECT_EQ(server_->LinesSince(mark, "write "), std::vector<std::string>{expected});
    EXPECT_EQ(ReadRegisters(kThreeFloatsAt, 6), registers);
    // The neighbours are untouched.
    EXPECT_EQ(ReadRegisters(kThreeFloatsAt - 1, 1), std::vector<int>{ServedValue(kThreeFloatsAt - 1)});
    EXPECT_EQ(ReadRegisters(kThreeFloatsAt + 6, 1), std::vector<int>{ServedValue(kThreeFloatsAt + 6)});
}

TEST_F(PymodbusPeer, ExceptionAnswersGiveTheTextsAfterThreeResends)
{
    // A function pymodbus does not know: address, function, one byte, check.
    auto unknownFunction = [] {
        TFramePtr f = MakeFrame();
        f->data[0] = kUnit;
        f->data[1] = 0x41;
        f->data[2] = 0x00;
        TModbusCommands::CloseFrame(*f, 3);
        return f;
    };
    struct Case {
        const char *what;
        TFramePtr request;
        const char *text;
    };
    const Case cases[] = {
        {"unknown function", unknownFunction(), "Принятый код функции не может быть обработан устройством."},
        {"read past the served registers", TModbusCommands::CreateCmdRead(kRegisters - 2, 4, kUnit),
            "Адрес данных, указанный в запросе, недоступен данному устройству."},
        {"write to an unserved register", TModbusCommands::CreateCmdSendInt(7, kRegisters, kUnit),
            "Адрес данных, указанный в запросе, недоступен данному устройству."},
        {"float write past the end", codec_.CreateCmdSendFloat(1.0, kRegisters - 1, kUnit),
            "Адрес данных, указанный в запросе, недоступен данному устройству."},
        {"read of no registers", TModbusCommands::CreateCmdRead(0, 0, kUnit),
            "Величина, содержащаяся в поле данных запроса, является недопустимой величиной для устройства."},
        {"read of 126 registers", TModbusCommands::CreateCmdRead(0, 126, kUnit),
            "Величина, содержащаяся в поле данных запроса, является недопустимой величиной для устройства."},
        {"store failure", TModbusCommands::CreateCmdRead(kFaultyRegister, 1, kUnit),
            "Невосстанавливаемая ошибка имела место, пока устройство пыталось выполнить затребованное действие."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const size_t mark = server_->Mark();
        engine_->AddCmd(c.request);
        // Queued behind the failing request: a failed exchange gives up on the queue.
        engine_->AddCmd(TModbusCommands::CreateCmdRead(0, 1, kUnit));
        outcome_ = {};
        engine_->SendNextCmd();
        PumpUntil([this] { return outcome_.errors > 0; }, 12000);
        PumpFor(200);
        EXPECT_EQ(outcome_.error, c.text);
        EXPECT_EQ(outcome_.errors, 1);
        EXPECT_EQ(outcome_.callbacks, 0);
        EXPECT_TRUE(engine_->IsQueueEmpty());
        // The first transmission and three re-sends, all of the same frame, all seen by pymodbus.
        const std::vector<std::string> seen = server_->LinesSince(mark, "request ");
        EXPECT_EQ(seen, std::vector<std::string>(4, Hex(*c.request)));
        EXPECT_TRUE(server_->LinesSince(mark, "write ").empty());
        // The next exchange starts clean.
        EXPECT_EQ(ReadRegisters(3, 1), std::vector<int>{ServedValue(3)});
    }
}

TEST_F(PymodbusPeer, AnotherUnitGetsNoAnswerAndTheQueueIsKept)
{
    engine_->SetResponseTimeOut(250);
    const TFramePtr request = TModbusCommands::CreateCmdRead(0, 1, kUnit + 1);
    const TFramePtr queued = TModbusCommands::CreateCmdRead(0, 1, kUnit);
    engine_->AddCmd(request);
    engine_->AddCmd(queued);
    outcome_ = {};
    engine_->SendNextCmd();
    ASSERT_TRUE(PumpUntil([this] { return outcome_.errors > 0; }, 10000));
    PumpFor(300);
    EXPECT_EQ(outcome_.error, "Нет ответа");
    EXPECT_EQ(outcome_.errors, 1);
    EXPECT_EQ(outcome_.callbacks, 0);
    ASSERT_FALSE(engine_->IsQueueEmpty());
    // The kept command goes out next and is answered.
    engine_->SendNextCmd();
    ASSERT_TRUE(PumpUntil([this] { return outcome_.callbacks > 0; }, 5000));
    ASSERT_TRUE(outcome_.answer);
    EXPECT_EQ(TModbusCommands::ParseSingleInteger(*outcome_.answer), ServedValue(0));
}

} // namespace
