#pragma once
// The tone at the end of a tuning: a sine of the given pitch and length through ALSA's default device,
// played on a thread of its own so that the window and both lines go on meanwhile. Where there is no
// sound device nothing happens and nothing is said: a bench without speakers is normal.

#include <cstdint>
#include <string>
#include <vector>

class TSoundSignal {
public:
    static constexpr int kSampleRate = 48000;

    // Starts the tone and returns at once; a tone still sounding makes this one do nothing.
    static void Play(int hz, int ms);

    // The tone on `device`, returning when it has been played; false when the device cannot be
    // opened or refuses the format (nothing is printed).
    static bool PlayBlocking(int hz, int ms, const std::string &device = "default");

    // Signed 16-bit mono samples of the tone, with 5 ms fades at both ends so that it starts and stops
    // without a click.
    static std::vector<int16_t> Sine(int hz, int ms, int sampleRate = kSampleRate);
};
