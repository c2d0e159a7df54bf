#pragma once
// The register maps kest-sim serves, named once: the installation's (address 0x77) and the QX4
// transducer's own (its tuning port). Written from the maps the program's command sets use, so that a
// register number means the same on both sides of the line.

#include <cstdint>

namespace kestsim {

// The installation.
namespace reg {
inline constexpr uint16_t kControl = 0; // 0, 2 … 16: the 16-bit settings (remote control first)
inline constexpr uint16_t kControlEnd = 17;
inline constexpr uint16_t kOutputs = 100; // the output setpoints, floats, up to 143
inline constexpr uint16_t kOutputsEnd = 144;
inline constexpr uint16_t kUa = 100, kUb = 102, kUc = 104;
inline constexpr uint16_t kIa = 112, kIb = 114, kIc = 116; // the 1 A amplifiers
inline constexpr uint16_t kIa5 = 124, kIb5 = 126, kIc5 = 128; // the 5 A amplifiers
inline constexpr uint16_t kU650 = 136; // the 650 V amplifier: another name of phase A's setpoint
inline constexpr uint16_t kAngle = 140; // a 16-bit word among the floats
inline constexpr uint16_t kFrequency = 142;
inline constexpr uint16_t kSwitches = 200; // 200, 202 … 218: one per amplifier, Ua … U650
inline constexpr uint16_t kSwitchesLast = 218;
inline constexpr uint16_t kSwitchesEnd = 220;
inline constexpr uint16_t kDeviceInfo = 700; // the transducer's identity (19 registers, 15 on older ones)
inline constexpr uint16_t kStatus = 994; // status word, analog measurement, the 33 quantities
inline constexpr uint16_t kStatusWords = 69;
inline constexpr uint16_t kRelay = 1996; // the transducer's readings relayed (68 words); writing: mode
inline constexpr uint16_t kRelayWords = 68;
inline constexpr uint16_t kRelayedAddress = 1998; // the transducer's address
} // namespace reg

// The QX4 transducer's own map (offsets as written on its line).
namespace qx4reg {
inline constexpr uint16_t kMeasuredEnd = 124; // the 31 measured floats, 4 offsets each
inline constexpr uint16_t kNetAddress = 0x204;
inline constexpr uint16_t kSerial = 0x208; // factory number, serial part (the extra-settings read 1)
inline constexpr uint16_t kYear = 0x20A;
inline constexpr uint16_t kRs1Speed = 0x20C;
inline constexpr uint16_t kExtra1Word0E = 0x20E; // words of the extra-settings read with nothing behind them
inline constexpr uint16_t kScheme = 0x210;
inline constexpr uint16_t kAnalogRange = 0x212;
inline constexpr uint16_t kExtra1Word14 = 0x214;
inline constexpr uint16_t kModification = 0x216;
inline constexpr uint16_t kExtraWord18 = 0x218;
inline constexpr uint16_t kExtraWord1A = 0x21A;
inline constexpr uint16_t kRs2Config = 0x21C;
inline constexpr uint16_t kRs2Speed = 0x21E;
inline constexpr uint16_t kRelays = 0x270;
inline constexpr uint16_t kInterfaces = 0x272;
inline constexpr uint16_t kAngleUp = 0x280, kAngleDown = 0x282;
inline constexpr uint16_t kAnalogUp = 0x284, kAnalogDown = 0x286;
inline constexpr uint16_t kAnalogMode = 0x31E;
inline constexpr uint16_t kSave = 0x320;
inline constexpr uint16_t kAnalogAssign = 0x400; // 0x400, 0x402, 0x404: outputs 1, 2, 3
inline constexpr uint16_t kAnalogAssignEnd = 0x406;
inline constexpr uint16_t kAnalogAssignExtra1 = 0x406, kAnalogAssignExtra2 = 0x408, kAnalogAssignExtra3 = 0x40A;
inline constexpr uint16_t kReferences = 0x700; // Ua, Ub, Uc, Uab, Ubc, Uac, Ia, Ib, Ic: floats
inline constexpr uint16_t kReferencesEnd = 0x724;
inline constexpr uint16_t kFrequencyReference = 0x734;
inline constexpr uint16_t kFrequencyReferenceEnd = 0x738;
inline constexpr uint16_t kAnalogReferences = 0x780; // measured currents of outputs 1, 2, 3: floats
inline constexpr uint16_t kAnalogReferencesEnd = 0x78C;
inline constexpr uint16_t kCoefficients = 0x800; // U1, U2, I1, I2: floats
inline constexpr uint16_t kU1 = 0x800, kU2 = 0x804, kI1 = 0x808, kI2 = 0x80C;
inline constexpr uint16_t kCoefficientsEnd = 0x810;
inline constexpr uint16_t kNoiseZeroing = 0x2100;
} // namespace qx4reg

} // namespace kestsim
