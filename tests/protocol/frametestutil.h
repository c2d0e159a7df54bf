#pragma once
// Helpers shared by the protocol tests: frames from hex text, and a bit-by-bit Modbus CRC written
// from the standard's description (independent of the table-driven one under test).

#include "transport/frame.h"

#include <QString>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace testutil {

inline std::vector<uint8_t> Hex(const std::string &text)
{
    std::vector<uint8_t> out;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}

inline std::string HexOf(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s.push_back(' ');
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0xF]);
    }
    return s;
}

inline std::string HexOf(const TFrame &f)
{
    return HexOf(std::vector<uint8_t>(f.data.begin(), f.data.begin() + f.size));
}

// CRC register after the bytes, processed bit by bit: xor the byte into the low half, then eight
// times shift right, xoring 0xA001 whenever a 1 falls out.
inline uint16_t ReferenceCrcRegister(const uint8_t *bytes, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The bytes with their two check bytes appended, low byte of the register first.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> bytes)
{
    const uint16_t crc = ReferenceCrcRegister(bytes.data(), bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

// An answer frame holding exactly these bytes. The rest of the buffer is filled with 0xA5 so that
// a parser reading past `size` would see a recognisable value instead of zeros.
inline TFrame Answer(const std::vector<uint8_t> &bytes)
{
    TFrame f;
    f.data.fill(0xA5);
    for (size_t i = 0; i < bytes.size(); ++i)
        f.data[i] = bytes[i];
    f.size = static_cast<int32_t>(bytes.size());
    return f;
}

inline TFrame Answer(const std::string &hex)
{
    return Answer(Hex(hex));
}

} // namespace testutil
