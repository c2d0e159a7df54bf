#include "protocol/modbuscommands.h"

#include "transport/crc16.h"
#include "transport/kesterror.h"

#include <array>
#include <cmath>
#include <cstring>

namespace {

uint8_t Lo(int v)
{
    return static_cast<uint8_t>(v & 0xFF);
}
uint8_t Hi(int v)
{
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}

} // namespace

void TModbusCommands::SetByteOrder(uint8_t o1, uint8_t o2, uint8_t o3, uint8_t o4)
{
    n1 = o1;
    n2 = o2;
    n3 = o3;
    n4 = o4;
}

uint16_t TModbusCommands::Crc16(const uint8_t *bytes, uint16_t length)
{
    return ModbusCrc16(bytes, length);
}

void TModbusCommands::CloseFrame(TFrame &frame, int length)
{
    const uint16_t crc = Crc16(frame.data.data(), static_cast<uint16_t>(length));
    frame.data[length] = static_cast<uint8_t>(crc >> 8);
    frame.data[length + 1] = static_cast<uint8_t>(crc & 0xFF);
    frame.crcH = frame.data[length];
    frame.crcL = frame.data[length + 1];
    frame.size = length + 2;
    frame.isResponseRequired = true;
}

namespace {

// The layout the single-register write and the read share: address, function, register, one word.
TFramePtr RegisterAndWord(int netAdr, uint8_t function, int adr, int word)
{
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    d[0] = Lo(netAdr);
    d[1] = function;
    d[2] = Hi(adr);
    d[3] = Lo(adr);
    d[4] = Hi(word);
    d[5] = Lo(word);
    TModbusCommands::CloseFrame(*f, 6);
    return f;
}

} // namespace

TFramePtr TModbusCommands::CreateCmdSendInt(int value, int adr, int netAdr)
{
    return RegisterAndWord(netAdr, 0x06, adr, value);
}

TFramePtr TModbusCommands::CreateCmdSendFloats(std::initializer_list<double> values, int adr, int netAdr) const
{
    const int registers = 2 * static_cast<int>(values.size());
    TFramePtr f = MakeFrame();
    auto &d = f->data;
    d[0] = Lo(netAdr);
    d[1] = 0x10;
    d[2] = Hi(adr);
    d[3] = Lo(adr);
    d[4] = Hi(registers);
    d[5] = Lo(registers);
    d[6] = static_cast<uint8_t>(2 * registers);
    int at = 7;
    for (double v : values) {
        EncodeFloat(v, &d[at]);
        at += 4;
    }
    CloseFrame(*f, at);
    return f;
}

TFramePtr TModbusCommands::CreateCmdSendFloat(double value, int adr, int netAdr) const
{
    return CreateCmdSendFloats({value}, adr, netAdr);
}

TFramePtr TModbusCommands::CreateCmdSendFloat3bytes(
    double value1, double value2, double value3, int adr, int netAdr) const
{
    return CreateCmdSendFloats({value1, value2, value3}, adr, netAdr);
}

TFramePtr TModbusCommands::CreateCmdRead(int adr, int wordCount, int netAdr)
{
    return RegisterAndWord(netAdr, 0x03, adr, wordCount);
}

void TModbusCommands::EncodeFloat(double value, uint8_t *out) const
{
    // Annex F conversion: rounds to nearest, out-of-range values become infinities.
    const float single = static_cast<float>(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &single, sizeof bits);
    const uint8_t b[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
        static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    out[0] = b[n1 & 3];
    out[1] = b[n2 & 3];
    out[2] = b[n3 & 3];
    out[3] = b[n4 & 3];
}

double TModbusCommands::DecodeFloat(const uint8_t *wire) const
{
    uint8_t b[4] = {0, 0, 0, 0};
    b[n1 & 3] = wire[0];
    b[n2 & 3] = wire[1];
    b[n3 & 3] = wire[2];
    b[n4 & 3] = wire[3];
    const bool negative = (b[0] & 0x80) != 0;
    const int exponent = (((b[0] & 0x7F) << 1) | (b[1] >> 7)) - 127;
    const uint32_t mantissa = (static_cast<uint32_t>(b[1] & 0x7F) << 16) | (b[2] << 8) | b[3];
    // 1 + mantissa / 2^23 is exact in a double, and so is the scaling by 2^exponent.
    const double fraction = 1.0 + std::ldexp(static_cast<double>(mantissa), -23);
    const double value = std::ldexp(fraction, exponent);
    return negative ? -value : value;
}

std::optional<uint8_t> TModbusCommands::ByteAt(const TFrame &frame, int index)
{
    if (index < 0 || index >= frame.size || index >= TFrame::kCapacity)
        return std::nullopt;
    return frame.data[static_cast<size_t>(index)];
}

bool TModbusCommands::HasFunction(const TFrame &frame, int function)
{
    const auto b = ByteAt(frame, 1);
    return b && *b == function;
}

bool TModbusCommands::HasRegister(const TFrame &frame, int reg)
{
    const auto h = ByteAt(frame, 2);
    const auto l = ByteAt(frame, 3);
    return h && l && *h == Hi(reg) && *l == Lo(reg);
}

std::optional<double> TModbusCommands::TryParseFloat(const TFrame &cmd, int position) const
{
    // Bytes position-1 .. position+2 must all be inside the answer.
    if (position < 1 || position > TFrame::kCapacity || !ByteAt(cmd, position + 2))
        return std::nullopt;
    return DecodeFloat(&cmd.data[static_cast<size_t>(position - 1)]);
}

double TModbusCommands::ParseFloat(const TFrame &cmd, int position) const
{
    return TryParseFloat(cmd, position).value_or(0.0);
}

double TModbusCommands::ParseSingleParameter(const TFrame &cmd) const
{
    return ParseFloat(cmd, 4);
}

std::optional<int> TModbusCommands::TryParseInteger(const TFrame &cmd, int position)
{
    if (position < 1 || !ByteAt(cmd, position))
        return std::nullopt;
    return (cmd.data[static_cast<size_t>(position - 1)] << 8) | cmd.data[static_cast<size_t>(position)];
}

int TModbusCommands::ParseInteger(const TFrame &cmd, int position)
{
    return TryParseInteger(cmd, position).value_or(0);
}

int TModbusCommands::ParseSingleInteger(const TFrame &cmd)
{
    return ParseInteger(cmd, 4);
}

double TModbusCommands::RoundTo3(double value)
{
    // A decoded single times 1000 is exact in a double, so the tie test below is exact too; it
    // does not depend on the thread's rounding mode.
    const double scaled = value * 1000.0;
    if (!std::isfinite(scaled))
        return value;
    const double below = std::floor(scaled);
    const double rest = scaled - below;
    double r = below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))
        r = below + 1.0;
    return r / 1000.0;
}

std::optional<double> TModbusCommands::TryGetValueFromFrame(const TFrame &cmd, int paramNum, int start) const
{
    const long long first = static_cast<long long>(start) + 4LL * (static_cast<long long>(paramNum) - 1);
    if (first < 1 || first + 2 >= cmd.size || first + 2 >= TFrame::kCapacity)
        return std::nullopt;
    const uint8_t *wire = &cmd.data[static_cast<size_t>(first - 1)];
    if (wire[0] == 0xFF && wire[1] == 0xFF && wire[2] == 0xFF && wire[3] == 0xFF)
        return std::nullopt;
    return RoundTo3(DecodeFloat(wire));
}

double TModbusCommands::GetValueFromFrame(const TFrame &cmd, int paramNum, int start) const
{
    const auto v = TryGetValueFromFrame(cmd, paramNum, start);
    if (!v)
        throw EKestError("FFFFFFFF");
    return *v;
}
