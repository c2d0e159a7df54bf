#pragma once
// Modbus RTU framing shared by both command sets: the check, the four request builders and the
// readers of 16-bit integers and 32-bit floats in answers.
//
// Builders return a fresh frame (TFramePtr). Parsers take the answer by reference and never read
// at or beyond its `size`: a value the answer does not hold is "missing". The Try… readers report
// it as std::nullopt; the plain readers give 0 (the field's default) for it, and GetValueFromFrame
// raises "FFFFFFFF" for it just as for the device's own missing-value mark.

#include "transport/frame.h"

#include <cstdint>
#include <initializer_list>
#include <optional>

class TModbusCommands {
public:
    TModbusCommands() = default;
    virtual ~TModbusCommands() = default;

    // Float byte order on the wire: the bytes of an IEEE 754 single (0 = most significant) are
    // sent as B[n1], B[n2], B[n3], B[n4]. The base order is low word first; both command sets
    // switch to plain big-endian.
    uint8_t n1 = 2;
    uint8_t n2 = 3;
    uint8_t n3 = 0;
    uint8_t n4 = 1;
    void SetByteOrder(uint8_t o1, uint8_t o2, uint8_t o3, uint8_t o4);

    // The codec's name for the transport's Modbus check (ModbusCrc16): 01 03 00 00 00 01 gives 0x840A.
    static uint16_t Crc16(const uint8_t *bytes, uint16_t length);
    // Appends the check bytes after the first `length` bytes and sets size, crcH and crcL.
    static void CloseFrame(TFrame &frame, int length);

    static TFramePtr CreateCmdSendInt(int value, int adr, int netAdr);
    TFramePtr CreateCmdSendFloat(double value, int adr, int netAdr) const;
    TFramePtr CreateCmdSendFloat3bytes(double value1, double value2, double value3, int adr, int netAdr) const;
    static TFramePtr CreateCmdRead(int adr, int wordCount, int netAdr);
    // Function 0x10 with consecutive floats from `adr` (two registers each).
    TFramePtr CreateCmdSendFloats(std::initializer_list<double> values, int adr, int netAdr) const;

    // The float in bytes 3..6 (the first value of a read answer).
    virtual double ParseSingleParameter(const TFrame &cmd) const;
    // The float whose first byte is at 1-based `position`.
    double ParseFloat(const TFrame &cmd, int position) const;
    std::optional<double> TryParseFloat(const TFrame &cmd, int position) const;
    // Unsigned 16-bit value, high byte first, in bytes 3..4 / at 1-based `position`.
    static int ParseSingleInteger(const TFrame &cmd);
    static int ParseInteger(const TFrame &cmd, int position);
    static std::optional<int> TryParseInteger(const TFrame &cmd, int position);

    // The paramNum-th float (1-based) of a block starting at 1-based `start`, rounded to three
    // decimals (ties to even). Raises EKestError("FFFFFFFF") for a value marked FF FF FF FF or
    // not contained in the answer.
    double GetValueFromFrame(const TFrame &cmd, int paramNum, int start) const;
    std::optional<double> TryGetValueFromFrame(const TFrame &cmd, int paramNum, int start) const;

    // The four wire bytes of `value` (converted to single precision) in this object's order.
    void EncodeFloat(double value, uint8_t *out) const;
    // Decodes four wire bytes. The exponent field is taken literally: 0 keeps the implicit
    // leading 1 and 255 gives a finite number, as the devices' firmware does.
    double DecodeFloat(const uint8_t *wire) const;

    // Byte i of the frame, or nullopt when it lies outside the frame's valid bytes.
    static std::optional<uint8_t> ByteAt(const TFrame &frame, int index);
    // True when byte 1 is the function code and bytes 2..3 the register address given.
    static bool HasFunction(const TFrame &frame, int function);
    static bool HasRegister(const TFrame &frame, int reg);

    static double RoundTo3(double value);
};
