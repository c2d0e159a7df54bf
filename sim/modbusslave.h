#pragma once
// The slave side of Modbus RTU as the simulated devices see it: the frame check, big-endian
// fields, and cutting requests out of the byte stream that arrives on a line.
//
// This is deliberately independent of the program's own codec, so that a fault in the program's
// frame builders shows up as a refused or misread request instead of being mirrored here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestsim {

using Bytes = std::vector<uint8_t>;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF); the low byte of the result goes first on the line.
uint16_t Crc16(const uint8_t *data, size_t length);
void AppendCrc(Bytes &frame);
bool HasValidCrc(const uint8_t *data, size_t length);

void PutU16(Bytes &out, uint16_t value);
void PutFloat(Bytes &out, float value); // IEEE 754 single, most significant byte first
uint16_t GetU16(const uint8_t *p);
float GetFloat(const uint8_t *p);
float WordsToFloat(uint16_t high, uint16_t low);
void FloatToWords(float value, uint16_t &high, uint16_t &low);

std::string ToHex(const uint8_t *data, size_t length);
inline std::string ToHex(const Bytes &b)
{
    return ToHex(b.data(), b.size());
}

inline constexpr uint8_t kFnRead = 0x03;
inline constexpr uint8_t kFnWriteOne = 0x06;
inline constexpr uint8_t kFnWriteMany = 0x10;
inline constexpr uint8_t kFnSearch = 0x77; // the transducer's vendor search frame

// One request as a slave understands it.
struct Request {
    uint8_t address = 0;
    uint8_t function = 0;
    uint16_t reg = 0; // start register
    uint16_t count = 0; // registers (reads, block writes); 1 for a single write
    uint16_t value = 0; // single-register write
    Bytes data; // block-write data bytes
    Bytes raw; // the whole frame, check bytes included
};

// Cuts requests out of the received byte stream. Request lengths follow from the function code,
// so a request is recognised as soon as its last byte is in; a stream that does not start with a
// request whose check bytes match is resynchronised one byte at a time, and a stale fragment is
// dropped after a pause on the line (DropStale).
class RequestFramer {
public:
    void Feed(const uint8_t *data, size_t length);
    // The next complete request, if any; discarded bytes are appended to `skipped`.
    bool Next(Request &out, Bytes &skipped);
    void DropStale(Bytes &skipped);
    bool Empty() const { return buffer_.empty(); }
    static constexpr size_t kMaxBuffer = 512;

private:
    // 0: need more bytes; >0: length of a candidate frame; <0: cannot be a frame start
    long CandidateLength() const;
    Bytes buffer_;
};

Bytes BuildException(uint8_t address, uint8_t function, uint8_t code);
Bytes BuildReadAnswer(uint8_t address, const std::vector<uint16_t> &words);
// The echo of a single or block write (first six bytes of the request, new check bytes).
Bytes BuildWriteEcho(const Request &request);

} // namespace kestsim
