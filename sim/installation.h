#pragma once
// The KEST installation at Modbus address 0x77: its control registers, its outputs, the reference
// meter's status block, the analog input and the RS-485 relay to the transducer under test.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>

#include "modbusslave.h"
#include "referencemeter.h"
#include "transducer.h"

namespace kestsim {

class Installation {
public:
    static constexpr uint8_t kAddress = 0x77;

    Installation();

    // Control registers 0, 2, … 16 (remote control, 1 A/5 A, voltage flag, analog input, analog range,
    // Rn, scheme, speed index / over-300 V switch, RS parameter number) at index register / 2.
    std::array<uint16_t, 9> control{};
    std::array<uint16_t, 44> outputWords{}; // registers 100 … 143: setpoints, angle (140), frequency (142)
    std::array<uint16_t, 10> switches{}; // registers 200 … 218: amplifier switches
    uint16_t mode = 0; // 1996: 0 automatic address search, 1 manual
    uint16_t address = 1; // 1998: the transducer's address in manual mode
    int amplifierFailure = 0; // 1 … 10 in switch order; 0 none
    bool oldDevInfo = false; // identity block of 15 registers only
    double noise = 0; // relative measurement noise (standard deviation)
    double energyA = 0, energyR = 0; // W·h, var·h

    Outputs CurrentOutputs() const;
    float OutputSetpoint(int reg) const { return OutputFloat(reg); } // the float at 100 … 142
    Quantities Meter(const Transducer &t); // with noise when enabled
    double MeasuredAnalog(const Transducer &t); // mA, with noise when enabled
    bool TransducerConnected(const Transducer &t) const;
    uint16_t StatusWord(const Transducer &t) const;
    std::vector<uint16_t> DeviceInfoBlock(const Transducer &t) const;
    std::vector<uint16_t> RelayBlock(const Transducer &t) const;
    uint16_t RelayedAddress(const Transducer &t) const;

    // Accumulates energy up to `now` at the present outputs.
    void Tick(std::chrono::steady_clock::time_point now);
    void Seed(uint64_t seed) { rng_.seed(seed); }

    // nullopt: not for this device, or a broadcast (done, never answered).
    std::optional<Bytes> Handle(const Request &request, Transducer &t);

private:
    float OutputFloat(int reg) const;
    uint8_t WriteControl(uint16_t reg, uint16_t value);
    double Noisy(double v);
    std::mt19937_64 rng_{1};
    std::normal_distribution<double> normal_{0.0, 1.0};
    std::chrono::steady_clock::time_point lastTick_{};
    bool ticking_ = false;
};

} // namespace kestsim
