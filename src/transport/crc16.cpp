#include "transport/crc16.h"

#include <array>

namespace {

// The two 256-entry tables of the check. `hi` holds the low byte of each table word (it is xored into
// the byte sent first), `lo` the high byte.
struct TCrcTables {
    std::array<uint8_t, 256> hi{};
    std::array<uint8_t, 256> lo{};
};

constexpr TCrcTables MakeCrcTables()
{
    TCrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        t.hi[i] = static_cast<uint8_t>(crc & 0xFF);
        t.lo[i] = static_cast<uint8_t>(crc >> 8);
    }
    return t;
}

constexpr TCrcTables kCrc = MakeCrcTables();
static_assert(kCrc.hi[1] == 0xC1 && kCrc.lo[1] == 0xC0 && kCrc.hi[255] == 0x40 && kCrc.lo[255] == 0x40);

} // namespace

uint16_t ModbusCrc16(const uint8_t *bytes, size_t length)
{
    uint8_t first = 0xFF; // the register's low byte: sent first
    uint8_t second = 0xFF; // the register's high byte: sent last
    for (size_t i = 0; i < length; ++i) {
        const uint8_t index = first ^ bytes[i];
        first = second ^ kCrc.hi[index];
        second = kCrc.lo[index];
    }
    return static_cast<uint16_t>((first << 8) | second);
}
