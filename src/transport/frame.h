#pragma once
// One Modbus RTU frame, outgoing command or received answer.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct TFrame {
    static constexpr int kCapacity = 4096;

    std::array<uint8_t, kCapacity> data{};
    uint16_t crcH = 0; // first check byte (the byte before the last)
    uint16_t crcL = 0; // second check byte (the last byte)
    int32_t size = 0; // valid bytes in data, check bytes included
    bool isResponseRequired = true;

    // Bytes as "01 03 00 E2" for traces and messages.
    std::string ToHex() const;
};

// Frames are shared: a command may at once be queued, be the engine's lastCmd and be held by the
// window that built it; an answer lives as long as whoever is still looking at it.
using TFramePtr = std::shared_ptr<TFrame>;

inline TFramePtr MakeFrame()
{
    return std::make_shared<TFrame>();
}

inline std::string TFrame::ToHex() const
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const int n = size < 0 ? 0 : (size > kCapacity ? kCapacity : size);
    out.reserve(static_cast<size_t>(n) * 3);
    for (int i = 0; i < n; ++i) {
        if (i)
            out.push_back(' ');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0xF]);
    }
    return out;
}
