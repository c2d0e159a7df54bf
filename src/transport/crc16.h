#pragma once
// The Modbus RTU check (CRC-16, reflected polynomial 0xA001, start 0xFFFF). It lives with the transport
// because the engine judges every answer by it; the codec above builds its frames with the same function.

#include <cstddef>
#include <cstdint>

// The check of the first `length` bytes, packed so that the high byte is the one sent first (the low
// byte of the CRC register): 01 03 00 00 00 01 gives 0x840A.
uint16_t ModbusCrc16(const uint8_t *bytes, size_t length);
