// The Modbus RTU codec: builders byte by byte, the check against independent implementations,
// float coding in both byte orders, and readers on complete and on short answers.

#include "frametestutil.h"
#include "protocol/modbuscommands.h"
#include "transport/kesterror.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace testutil;

namespace {

TModbusCommands BigEndian()
{
    TModbusCommands c;
    c.SetByteOrder(0, 1, 2, 3);
    return c;
}

struct BuiltFrame {
    const char *what;
    TFramePtr frame;
    const char *expected; // complete frame, check bytes from pymodbus
};

} // namespace

TEST(ModbusCodec, BuildersMatchExpectedFrames)
{
    const TModbusCommands base; // order 2, 3, 0, 1
    const TModbusCommands big = BigEndian();
    const BuiltFrame cases[] = {
        {"read 36 from 0x00E2", TModbusCommands::CreateCmdRead(0x00E2, 36, 1), "01 03 00 E2 00 24 E5 E7"},
        {"read register 0", TModbusCommands::CreateCmdRead(0, 1, 1), "01 03 00 00 00 01 84 0A"},
        {"write -1", TModbusCommands::CreateCmdSendInt(-1, 0x0002, 1), "01 06 00 02 FF FF 29 BA"},
        {"write keeps low 16 bits and low address byte", TModbusCommands::CreateCmdSendInt(0x12345, 0x10203, 0x177),
            "77 06 02 03 23 45 AB E7"},
        {"float big-endian", big.CreateCmdSendFloat(100.0, 0x0070, 1), "01 10 00 70 00 02 04 42 C8 00 00 61 0D"},
        {"float base order", base.CreateCmdSendFloat(100.0, 0x0070, 1), "01 10 00 70 00 02 04 00 00 42 C8 C5 BD"},
        {"three floats big-endian", big.CreateCmdSendFloat3bytes(1.0, -2.0, 0.5, 0x0064, 0x77),
            "77 10 00 64 00 06 0C 3F 80 00 00 C0 00 00 00 3F 00 00 00 0F AD"},
        {"three floats base order", base.CreateCmdSendFloat3bytes(1.0, -2.0, 0.5, 0x0064, 0x77),
            "77 10 00 64 00 06 0C 00 00 3F 80 00 00 C0 00 00 00 3F 00 A3 86"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto expected = Hex(c.expected);
        EXPECT_EQ(HexOf(*c.frame), c.expected);
        ASSERT_EQ(c.frame->size, static_cast<int>(expected.size()));
        EXPECT_EQ(c.frame->crcH, expected[expected.size() - 2]);
        EXPECT_EQ(c.frame->crcL, expected[expected.size() - 1]);
        EXPECT_TRUE(c.frame->isResponseRequired);
    }
}

TEST(ModbusCodec, Crc16PacksFirstSentByteHigh)
{
    const auto bytes = Hex("01 03 00 00 00 01");
    EXPECT_EQ(TModbusCommands::Crc16(bytes.data(), 6), 0x840A);
    EXPECT_EQ(TModbusCommands::Crc16(bytes.data(), 0), 0xFFFF);
}

TEST(ModbusCodec, Crc16AgreesWithBitwiseReference)
{
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> len(0, 300), byte(0, 255);
    for (int i = 0; i < 5000; ++i) {
        std::vector<uint8_t> b(static_cast<size_t>(len(rng)));
        for (auto &x : b)
            x = static_cast<uint8_t>(byte(rng));
        const uint16_t reg = ReferenceCrcRegister(b.data(), b.size());
        const uint16_t packed = static_cast<uint16_t>(((reg & 0xFF) << 8) | (reg >> 8));
        ASSERT_EQ(TModbusCommands::Crc16(b.data(), static_cast<uint16_t>(b.size())), packed) << HexOf(b);
    }
}

// Debian's pymodbus computes the same packed value (first-sent byte high); run it once over a few
// thousand random frames and compare line by line.
TEST(ModbusCodec, Crc16AgreesWithPymodbus)
{
    char path[] = "/tmp/kest-crc-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(1, 256), byte(0, 255);
    std::vector<std::vector<uint8_t>> frames;
    {
        std::ofstream out(path);
        for (int i = 0; i < 3000; ++i) {
            std::vector<uint8_t> b(static_cast<size_t>(len(rng)));
            for (auto &x : b)
                x = static_cast<uint8_t>(byte(rng));
            std::string line = HexOf(b);
            line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
            out << line << '\n';
            frames.push_back(std::move(b));
        }
    }
    const std::string cmd = std::string("/usr/bin/python3 -c \"import sys\nfrom pymodbus.utilities import computeCRC\n"
                                        "for l in open(sys.argv[1]):\n print(computeCRC(bytes.fromhex(l.strip())))\" ")
        + path;
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<unsigned> results;
    unsigned v = 0;
    while (std::fscanf(p, "%u", &v) == 1)
        results.push_back(v);
    const int status = pclose(p);
    std::remove(path);
    ASSERT_EQ(status, 0) << "pymodbus (python3-pymodbus) must be installed for this test";
    ASSERT_EQ(results.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(TModbusCommands::Crc16(frames[i].data(), static_cast<uint16_t>(frames[i].size())), results[i])
            << HexOf(frames[i]);
}

TEST(ModbusCodec, FloatRoundTripsInBothOrders)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<uint32_t> bits;
    std::uniform_real_distribution<double> real(-1e6, 1e6);
    const TModbusCommands base;
    const TModbusCommands big = BigEndian();
    for (const TModbusCommands *c : {&base, &big}) {
        for (int i = 0; i < 20000; ++i) {
            // Every single with an ordinary exponent field decodes to itself.
            uint32_t u = bits(rng);
            const uint32_t exp = (u >> 23) & 0xFF;
            if (exp == 0 || exp == 255)
                u = (u & ~(0xFFu << 23)) | (127u << 23);
            float f;
            std::memcpy(&f, &u, 4);
            uint8_t wire[4];
            c->EncodeFloat(f, wire);
            ASSERT_EQ(c->DecodeFloat(wire), static_cast<double>(f)) << u;
            // A double goes out rounded to the nearest single.
            const double d = real(rng);
            c->EncodeFloat(d, wire);
            ASSERT_EQ(c->DecodeFloat(wire), static_cast<double>(static_cast<float>(d)));
        }
    }
    uint8_t b[4], w[4];
    big.EncodeFloat(-1.5, b);
    base.EncodeFloat(-1.5, w);
    EXPECT_EQ(HexOf({b, b + 4}), "BF C0 00 00");
    EXPECT_EQ(HexOf({w, w + 4}), "00 00 BF C0");
}

TEST(ModbusCodec, ExponentFieldsAreTakenLiterally)
{
    const TModbusCommands big = BigEndian();
    const struct {
        const char *wire;
        double value;
    } cases[] = {
        {"00 00 00 00", std::ldexp(1.0, -127)}, // zero keeps the implicit 1
        {"80 00 00 00", -std::ldexp(1.0, -127)},
        {"00 00 00 01", std::ldexp(1.0 + std::ldexp(1.0, -23), -127)}, // no subnormals
        {"7F 80 00 00", std::ldexp(1.0, 128)}, // "infinity" is finite
        {"7F C0 00 00", std::ldexp(1.5, 128)}, // and so is "NaN"
        {"FF FF FF FF", -std::ldexp(2.0 - std::ldexp(1.0, -23), 128)},
        {"3F 80 00 00", 1.0},
        {"C2 C8 00 00", -100.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wire);
        const auto w = Hex(c.wire);
        EXPECT_EQ(big.DecodeFloat(w.data()), c.value);
        const auto frame = Answer(std::vector<uint8_t>{1, 3, 4, w[0], w[1], w[2], w[3], 0, 0});
        EXPECT_EQ(big.ParseSingleParameter(frame), c.value);
        EXPECT_EQ(big.ParseFloat(frame, 4), c.value);
    }
    EXPECT_NEAR(big.DecodeFloat(Hex("00 00 00 00").data()), 5.877e-39, 1e-42);
}

TEST(ModbusCodec, IntegerReaders)
{
    const auto f = Answer("01 03 04 12 34 FF FE 00 00");
    EXPECT_EQ(TModbusCommands::ParseSingleInteger(f), 0x1234);
    EXPECT_EQ(TModbusCommands::ParseInteger(f, 4), 4660);
    EXPECT_EQ(TModbusCommands::ParseInteger(f, 6), 0xFFFE); // unsigned
    EXPECT_EQ(TModbusCommands::ParseInteger(f, 1), 0x0103);
}

TEST(ModbusCodec, GetValueFromFrameRoundsAndMarksMissing)
{
    const TModbusCommands big = BigEndian();
    // Block from position 4: value 1 at bytes 3..6, value 2 at 7..10, value 3 at 11..14.
    const auto f = Answer("01 03 0C 3F 9D F3 B6 FF FF FF FF 3D 80 00 00 00 00");
    EXPECT_DOUBLE_EQ(big.GetValueFromFrame(f, 1, 4), 1.234);
    EXPECT_EQ(big.GetValueFromFrame(f, 1, 4), 1.234);
    try {
        big.GetValueFromFrame(f, 2, 4);
        FAIL() << "no error for FF FF FF FF";
    } catch (const EKestError &e) {
        EXPECT_STREQ(e.what(), "FFFFFFFF");
    }
    EXPECT_EQ(big.GetValueFromFrame(f, 3, 4), 0.062); // 0.0625: the tie goes to the even 62
    EXPECT_FALSE(big.TryGetValueFromFrame(f, 2, 4).has_value());

    const struct {
        float single;
        double rounded;
    } ties[] = {{0.0625f, 0.062}, {0.1875f, 0.188}, {-0.0625f, -0.062}, {1.0625f, 1.062}, {2.5f, 2.5},
        /* 0.0005f lies just above the tie */ {0.0005f, 0.001}, {0.0015f, 0.002}, {123456.789f, 123456.789}};
    for (const auto &t : ties) {
        uint8_t w[4];
        big.EncodeFloat(t.single, w);
        const auto a = Answer(std::vector<uint8_t>{1, 3, 4, w[0], w[1], w[2], w[3], 0, 0});
        EXPECT_EQ(big.GetValueFromFrame(a, 1, 4), t.rounded) << t.single;
    }
    // Four zero bytes decode to 2^-127, which rounds to 0.
    EXPECT_EQ(big.GetValueFromFrame(Answer("01 03 04 00 00 00 00 00 00"), 1, 4), 0.0);
}

TEST(ModbusCodec, ReadersNeverLookPastTheAnswer)
{
    const TModbusCommands big = BigEndian();
    // "01 03 04 3F 80" is cut inside the float; the buffer behind it holds A5 bytes.
    const auto cut = Answer("01 03 04 3F 80 00");
    EXPECT_FALSE(big.TryParseFloat(cut, 4).has_value());
    EXPECT_EQ(big.ParseFloat(cut, 4), 0.0);
    EXPECT_EQ(big.ParseSingleParameter(cut), 0.0);
    EXPECT_THROW(big.GetValueFromFrame(cut, 1, 4), EKestError);
    EXPECT_TRUE(big.TryParseFloat(Answer("01 03 04 3F 80 00 00"), 4).has_value());

    const auto two = Answer("01 03 02 12");
    EXPECT_FALSE(TModbusCommands::TryParseInteger(two, 4).has_value());
    EXPECT_EQ(TModbusCommands::ParseSingleInteger(two), 0);
    EXPECT_EQ(TModbusCommands::ParseInteger(Answer("01 03 02 12 34"), 4), 0x1234);

    const TFrame empty = Answer(std::vector<uint8_t>{});
    for (int pos : {-5, 0, 1, 4, 4095, 4096, 1 << 30, INT_MAX, INT_MIN}) {
        EXPECT_FALSE(big.TryParseFloat(empty, pos).has_value());
        EXPECT_FALSE(TModbusCommands::TryParseInteger(empty, pos).has_value());
    }
    // Even a frame claiming the whole buffer cannot be read outside it.
    TFrame full;
    full.size = TFrame::kCapacity + 100;
    EXPECT_FALSE(big.TryParseFloat(full, TFrame::kCapacity - 2).has_value());
    EXPECT_TRUE(big.TryParseFloat(full, TFrame::kCapacity - 3).has_value());
    EXPECT_FALSE(big.TryGetValueFromFrame(full, 1 << 29, 4).has_value());
    EXPECT_FALSE(big.TryGetValueFromFrame(full, -(1 << 29), 4).has_value());
    EXPECT_FALSE(TModbusCommands::ByteAt(full, TFrame::kCapacity).has_value());
}
