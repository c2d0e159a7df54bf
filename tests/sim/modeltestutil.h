#pragma once
// Drives the installation and transducer models directly, through the same request parser the
// simulator's line uses.

#include <gtest/gtest.h>

#include "installation.h"
#include "simtestutil.h"
#include "transducer.h"

namespace simtest {

struct Bench {
    kestsim::Installation inst;
    kestsim::Transducer dev;

    Bytes Installation(const Bytes &request)
    {
        kestsim::RequestFramer f;
        f.Feed(request.data(), request.size());
        kestsim::Request rq;
        Bytes skipped;
        if (!f.Next(rq, skipped))
            return {};
        auto a = inst.Handle(rq, dev);
        return a ? *a : Bytes{};
    }

    Bytes Device(const Bytes &request)
    {
        kestsim::RequestFramer f;
        f.Feed(request.data(), request.size());
        kestsim::Request rq;
        Bytes skipped;
        if (!f.Next(rq, skipped))
            return {};
        auto a = dev.Handle(rq, inst.CurrentOutputs(), inst.energyA, inst.energyR);
        return a ? *a : Bytes{};
    }

    // Remote control on: 7 registers 1, range flag, voltage flag, 0, analog range, Rn, scheme.
    void Enable(bool fiveAmp = true, bool fourWire = true, int analogRange = 1)
    {
        ASSERT_TRUE(ValidAnswer(Installation(
            WriteWords(0x77, 0, {1, uint16_t(fiveAmp), 1, 0, uint16_t(analogRange), 1, uint16_t(fourWire)}))));
    }

    void Set(const std::array<float, 3> &u, const std::array<float, 3> &i, int angle, float freq = 50.0f)
    {
        const bool fiveAmp = inst.control[1] != 0;
        ASSERT_TRUE(ValidAnswer(Installation(WriteFloats(0x77, 100, {u[0], u[1], u[2]}))));
        ASSERT_TRUE(ValidAnswer(Installation(WriteFloats(0x77, fiveAmp ? 124 : 112, {i[0], i[1], i[2]}))));
        ASSERT_TRUE(ValidAnswer(Installation(WriteOne(0x77, 140, uint16_t(angle)))));
        ASSERT_TRUE(ValidAnswer(Installation(WriteFloats(0x77, 142, {freq}))));
    }

    // The status block: quantity k at frame byte 9 + 4(k − 1).
    Bytes Status() { return Installation(Read(0x77, 994, 69)); }
    static float Quantity(const Bytes &status, int k) { return FloatAt(status, size_t(9 + 4 * (k - 1))); }
};

} // namespace simtest
