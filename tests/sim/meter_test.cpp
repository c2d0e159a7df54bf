// The installation's outputs and its reference meter at known operating points.

#include <cmath>

#include "modeltestutil.h"

using namespace simtest;
using namespace kestsim;

namespace {
struct Point {
    const char *name;
    std::array<float, 3> u, i;
    int angle;
    std::vector<std::pair<int, double>> expect; // quantity index → value
};
} // namespace

TEST(SimMeter, OperatingPoints)
{
    const double s3 = std::sqrt(3.0);
    const Point points[] = {
        {"balanced", {57.735f, 57.735f, 57.735f}, {5, 5, 5}, 0,
            {{kUab, 100.0}, {kUbc, 100.0}, {kUac, 100.0}, {kPa, 288.675}, {kP, 866.025}, {kQ, 0.0}, {kS, 866.025},
                {kK, 1.0}, {kKb, 1.0}, {kU0, 0.0}, {kI0, 0.0}, {kU, 57.735}, {kI, 5.0}, {kUL, 100.0}, {kF, 50.0}}},
        {"ninety degrees", {57.735f, 57.735f, 57.735f}, {5, 5, 5}, 90,
            {{kP, 0.0}, {kQ, 866.025}, {kQa, 288.675}, {kSa, 288.675}, {kKa, 0.0}, {kK, 0.0}}},
        {"unbalanced at 60 degrees", {100, 50, 50}, {1, 2, 3}, 60,
            {{kPa, 50.0}, {kPb, 50.0}, {kPc, 75.0}, {kP, 175.0}, {kQ, 350.0 * s3 / 2}, {kS, 350.0}, {kK, 0.5},
                {kUab, std::sqrt(17500.0)}, {kUbc, 50.0 * s3}, {kUac, std::sqrt(17500.0)}, {kU0, 50.0 / 3},
                {kI0, s3 / 3}, {kI, 2.0}}},
        {"capacitive", {57.735f, 57.735f, 57.735f}, {1, 1, 1}, 330,
            {{kPa, 57.735 * s3 / 2}, {kQa, -57.735 / 2}, {kQ, -3 * 57.735 / 2}}},
    };
    for (const Point &pt : points) {
        SCOPED_TRACE(pt.name);
        Bench b;
        b.Enable();
        b.Set(pt.u, pt.i, pt.angle);
        const Bytes st = b.Status();
        ASSERT_EQ(st.size(), 5u + 138u);
        ASSERT_TRUE(ValidAnswer(st));
        for (int p = 0; p < 3; ++p) {
            EXPECT_NEAR(Bench::Quantity(st, kUa + p), pt.u[p], 1e-3);
            EXPECT_NEAR(Bench::Quantity(st, kIa + p), pt.i[p], 1e-5);
        }
        for (auto [k, v] : pt.expect)
            EXPECT_NEAR(Bench::Quantity(st, k), v, 1e-3 * std::max(1.0, std::fabs(v))) << "quantity " << k;
    }
}

TEST(SimMeter, SwitchesRangesAndRemoteControl)
{
    Bench b;
    b.Set({57.735f, 57.735f, 57.735f}, {1, 1, 1}, 0);
    // Setpoints are kept, but nothing comes out before remote control is on.
    EXPECT_EQ(Bench::Quantity(b.Status(), kUa), 0.0f);
    b.Enable(/*fiveAmp=*/false);
    b.Set({57.735f, 57.735f, 57.735f}, {1, 1, 1}, 0);
    EXPECT_NEAR(Bench::Quantity(b.Status(), kIa), 1.0f, 1e-6);

    // Phase B's current amplifier off: one phase missing from the sums and the zero sequence.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 208, 0))));
    Bytes st = b.Status();
    EXPECT_EQ(Bench::Quantity(st, kIb), 0.0f);
    EXPECT_NEAR(Bench::Quantity(st, kP), 2 * 57.735, 1e-3);
    EXPECT_NEAR(Bench::Quantity(st, kI0), 1.0 / 3, 1e-5);

    // The 5 A range takes its setpoints from registers 124…, which are still zero.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 2, 1))));
    EXPECT_EQ(Bench::Quantity(b.Status(), kIa), 0.0f);

    // The three voltage switches in one block write, registers 200, 202, 204.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteWords(0x77, 200, {0, 0, 0}))));
    st = b.Status();
    EXPECT_EQ(Bench::Quantity(st, kUa), 0.0f);
    EXPECT_EQ(Bench::Quantity(st, kUc), 0.0f);
    EXPECT_EQ(Bench::Quantity(st, kF), 0.0f); // no voltage, no frequency

    // Amplifiers off (registers 100 … 119 zeroed), then remote control released.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteWords(0x77, 200, {1, 1, 1}))));
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteWords(0x77, 100, std::vector<uint16_t>(20, 0)))));
    EXPECT_EQ(Bench::Quantity(b.Status(), kUa), 0.0f);
    const Bytes echo = b.Installation(WriteOne(0x77, 0, 0));
    EXPECT_EQ(echo, WriteOne(0x77, 0, 0));
    EXPECT_EQ(b.inst.control[0], 0);
}

TEST(SimMeter, VoltageChannelOver300)
{
    Bench b;
    b.Enable();
    // The voltage transducer's set-up: the 650 V amplifier on phase A, then A and C in series.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 4, 0))));
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 14, 1))));
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteFloats(0x77, 100, {200, 0, 200}))));
    Bytes st = b.Status();
    EXPECT_NEAR(Bench::Quantity(st, kUa), 400.0, 1e-3);
    EXPECT_EQ(Bench::Quantity(st, kUc), 0.0f);
    // Its own switch (218) governs phase A now.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 218, 0))));
    EXPECT_EQ(Bench::Quantity(b.Status(), kUa), 0.0f);
    // With the ordinary phase-A amplifier the series connection works the same way.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 4, 1))));
    EXPECT_NEAR(Bench::Quantity(b.Status(), kUa), 400.0, 1e-3);
    // Speed index 3 (the usual 9600 bit/s) is not the switch.
    ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 14, 3))));
    st = b.Status();
    EXPECT_NEAR(Bench::Quantity(st, kUa), 200.0, 1e-3);
    EXPECT_NEAR(Bench::Quantity(st, kUc), 200.0, 1e-3);
}

// A phase amplifier gives at most 300 V (hence the series connection above that), the 650 V amplifier
// 650 V; asked for more, each stops at its top. Register 14 is one word: whatever wrote it last decides.
TEST(SimMeter, AmplifierTopsAndTheSharedRegister14)
{
    const struct {
        const char *name;
        uint16_t flag; // register 4: 1 the phase-A amplifier, 0 the 650 V one
        uint16_t reg14;
        std::array<float, 3> u;
        double ua, ub, uc;
    } cells[] = {
        {"phase amplifiers up to their top", 1, 3, {300, 250, 299}, 300, 250, 299},
        {"phase amplifiers stop at 300 V", 1, 3, {500, 301, 1000}, 300, 300, 300},
        {"650 V amplifier on A", 0, 3, {500, 0, 0}, 500, 0, 0},
        {"650 V amplifier stops at 650 V", 0, 3, {700, 0, 0}, 650, 0, 0},
        {"series: 300 V on A and C make 600 V", 1, 1, {300, 0, 300}, 600, 0, 0},
        {"series: each half still stops at 300 V", 1, 1, {312.5, 0, 312.5}, 600, 0, 0},
        {"series undone by speed index 3", 1, 3, {150, 0, 150}, 150, 0, 150},
        {"speed index 1 (2400 bit/s) is the switch", 1, 1, {150, 0, 150}, 300, 0, 0},
    };
    for (const auto &c : cells) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.Enable();
        ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 4, c.flag))));
        ASSERT_TRUE(ValidAnswer(b.Installation(WriteOne(0x77, 14, c.reg14))));
        ASSERT_TRUE(ValidAnswer(b.Installation(WriteFloats(0x77, 100, {c.u[0], c.u[1], c.u[2]}))));
        const Bytes st = b.Status();
        EXPECT_NEAR(Bench::Quantity(st, kUa), c.ua, 1e-3);
        EXPECT_NEAR(Bench::Quantity(st, kUb), c.ub, 1e-3);
        EXPECT_NEAR(Bench::Quantity(st, kUc), c.uc, 1e-3);
    }
}

TEST(SimMeter, AmplifierFailureAndEnergy)
{
    Bench b;
    b.Enable();
    b.Set({57.735f, 57.735f, 57.735f}, {5, 5, 5}, 0);
    b.inst.amplifierFailure = 8; // the phase B 5 A amplifier
    Bytes st = b.Status();
    EXPECT_EQ(st[3], 8);
    EXPECT_EQ(st[4] & 2, 2);
    EXPECT_EQ(Bench::Quantity(st, kIb), 0.0f);
    EXPECT_NEAR(Bench::Quantity(st, kIa), 5.0, 1e-6);

    const auto t0 = std::chrono::steady_clock::now();
    b.inst.Tick(t0);
    b.inst.Tick(t0 + std::chrono::seconds(36)); // 0.01 h at 2 × 288.675 W
    st = b.Status();
    EXPECT_NEAR(Bench::Quantity(st, kWa), 5.7735, 1e-3);
    EXPECT_NEAR(Bench::Quantity(st, kWr), 0.0, 1e-6);
}

TEST(SimMeter, NoiseIsSmallAndSeeded)
{
    auto sample = [](uint64_t seed) {
        Bench b;
        b.inst.noise = 1e-4;
        b.inst.Seed(seed);
        b.Enable();
        b.Set({57.735f, 57.735f, 57.735f}, {5, 5, 5}, 0);
        return Bench::Quantity(b.Status(), kUa);
    };
    const float a = sample(7), again = sample(7), other = sample(8);
    EXPECT_EQ(a, again);
    EXPECT_NE(a, other);
    EXPECT_NEAR(a, 57.735, 57.735 * 1e-3);
    EXPECT_NE(a, 57.735f);
}

TEST(SimInstallation, RefusesWhatItDoesNotHave)
{
    Bench b;
    const struct {
        Bytes request;
        uint8_t code;
    } cases[] = {
        {Read(0x77, 300, 1), 2},
        {Read(0x77, 994, 70), 2}, // beyond the status block
        {Read(0x77, 1997, 1), 2},
        {Read(0x77, 994, 0), 3},
        {WriteOne(0x77, 3, 1), 2}, // odd register
        {WriteOne(0x77, 206, 2), 3}, // a switch is 0 or 1
        {WriteWords(0x77, 0, std::vector<uint16_t>(10, 0)), 2},
        {WriteFloats(0x77, 142, {50, 50}), 2}, // past the frequency
        {Frame({0x77, 0x04, 0x03, 0xE2, 0x00, 0x01}), 1},
    };
    for (const auto &c : cases) {
        const Bytes a = b.Installation(c.request);
        ASSERT_EQ(a.size(), 5u) << ToHex(c.request);
        EXPECT_EQ(a[1], c.request[1] | 0x80);
        EXPECT_EQ(a[2], c.code) << ToHex(c.request);
        EXPECT_TRUE(ValidAnswer(a));
    }
    // Other addresses and broadcasts are never answered.
    EXPECT_TRUE(b.Installation(Read(0x01, 994, 69)).empty());
    EXPECT_TRUE(b.Installation(WriteOne(0x00, 140, 45)).empty());
    EXPECT_EQ(b.inst.outputWords[40], 45);
}
