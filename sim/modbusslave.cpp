#include "modbusslave.h"

#include <array>
#include <cstring>

namespace kestsim {

namespace {
std::array<uint16_t, 256> MakeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}
} // namespace

uint16_t Crc16(const uint8_t *data, size_t length)
{
    static const std::array<uint16_t, 256> table = MakeTable();
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

void AppendCrc(Bytes &frame)
{
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool HasValidCrc(const uint8_t *data, size_t length)
{
    if (length < 3)
        return false;
    const uint16_t crc = Crc16(data, length - 2);
    return data[length - 2] == (crc & 0xFF) && data[length - 1] == (crc >> 8);
}

void PutU16(Bytes &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void PutFloat(Bytes &out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(bits >> shift));
}

uint16_t GetU16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

float GetFloat(const uint8_t *p)
{
    const uint32_t bits = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

float WordsToFloat(uint16_t high, uint16_t low)
{
    const uint8_t b[4] = {uint8_t(high >> 8), uint8_t(high), uint8_t(low >> 8), uint8_t(low)};
    return GetFloat(b);
}

void FloatToWords(float value, uint16_t &high, uint16_t &low)
{
    Bytes b;
    PutFloat(b, value);
    high = GetU16(&b[0]);
    low = GetU16(&b[2]);
}

std::string ToHex(const uint8_t *data, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i)
            out.push_back(' ');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0xF]);
    }
    return out;
}

void RequestFramer::Feed(const uint8_t *data, size_t length)
{
    buffer_.insert(buffer_.end(), data, data + length);
}

long RequestFramer::CandidateLength() const
{
    if (buffer_.size() < 2)
        return 0;
    switch (buffer_[1]) {
    case 0x01:
    case 0x02:
    case kFnRead:
    case 0x04:
    case 0x05:
    case kFnWriteOne:
    case kFnSearch:
        return 8; // functions 1, 2, 4 and 5 are framed only to be refused with exception 01
    case kFnWriteMany:
        if (buffer_.size() < 7)
            return 0;
        return 9 + long(buffer_[6]);
    default:
        return -1;
    }
}

bool RequestFramer::Next(Request &out, Bytes &skipped)
{
    for (;;) {
        const long len = CandidateLength();
        if (len == 0)
            return false;
        if (len > 0 && buffer_.size() < size_t(len))
            return false;
        if (len > 0 && HasValidCrc(buffer_.data(), size_t(len))) {
            const uint8_t *b = buffer_.data();
            out = Request{};
            out.address = b[0];
            out.function = b[1];
            out.reg = GetU16(b + 2);
            out.raw.assign(b, b + len);
            if (out.function == kFnWriteOne) {
                out.count = 1;
                out.value = GetU16(b + 4);
            } else {
                out.count = GetU16(b + 4);
            }
            if (out.function == kFnWriteMany)
                out.data.assign(b + 7, b + 7 + b[6]);
            buffer_.erase(buffer_.begin(), buffer_.begin() + len);
            return true;
        }
        // Not a frame here: slide by one byte and look again.
        skipped.push_back(buffer_.front());
        buffer_.erase(buffer_.begin());
    }
}

void RequestFramer::DropStale(Bytes &skipped)
{
    skipped.insert(skipped.end(), buffer_.begin(), buffer_.end());
    buffer_.clear();
}

Bytes BuildException(uint8_t address, uint8_t function, uint8_t code)
{
    Bytes b{address, uint8_t(function | 0x80), code};
    AppendCrc(b);
    return b;
}

Bytes BuildReadAnswer(uint8_t address, const std::vector<uint16_t> &words)
{
    Bytes b{address, kFnRead, uint8_t(words.size() * 2)};
    for (uint16_t w : words)
        PutU16(b, w);
    AppendCrc(b);
    return b;
}

Bytes BuildWriteEcho(const Request &request)
{
    Bytes b(request.raw.begin(), request.raw.begin() + 6);
    AppendCrc(b);
    return b;
}

} // namespace kestsim
