#include "tuning/soundsignal.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <mutex>
#include <thread>

namespace {

// ALSA prints its complaints (no card, no such device) on stderr unless told otherwise.
void Quiet(const char *, int, const char *, int, const char *, ...) { }

// The one thread that plays; joined when the program ends so that no tone outlives its sound library.
struct TPlayer {
    std::mutex mu;
    std::thread thread;
    std::atomic<bool> busy{false};
    ~TPlayer()
    {
        std::lock_guard<std::mutex> lock(mu);
        if (thread.joinable())
            thread.join();
    }
};

TPlayer &Player()
{
    static TPlayer player;
    return player;
}

} // namespace

std::vector<int16_t> TSoundSignal::Sine(int hz, int ms, int sampleRate)
{
    if (hz <= 0 || ms <= 0 || sampleRate <= 0)
        return {};
    const size_t count = static_cast<size_t>(static_cast<int64_t>(sampleRate) * ms / 1000);
    const size_t fade = std::min(count / 2, static_cast<size_t>(sampleRate / 200));
    const double step = 2.0 * M_PI * hz / sampleRate;
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        double gain = 0.5;
        if (fade > 0 && i < fade)
            gain *= static_cast<double>(i) / fade;
        else if (fade > 0 && count - i <= fade)
            gain *= static_cast<double>(count - 1 - i) / fade;
        samples[i] = static_cast<int16_t>(std::lround(32767.0 * gain * std::sin(step * static_cast<double>(i))));
    }
    return samples;
}

bool TSoundSignal::PlayBlocking(int hz, int ms, const std::string &device)
{
    const std::vector<int16_t> samples = Sine(hz, ms);
    if (samples.empty())
        return false;
    snd_lib_error_set_handler(&Quiet);
    snd_pcm_t *pcm = nullptr;
    if (snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0) < 0)
        return false;
    bool played = false;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate, 1, 100000) >= 0) {
        size_t done = 0;
        played = true;
        while (done < samples.size()) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
            if (n < 0)
                n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (n < 0) {
                played = false;
                break;
            }
            done += static_cast<size_t>(n);
        }
        if (played)
            snd_pcm_drain(pcm);
    }
    snd_pcm_close(pcm);
    return played;
}

void TSoundSignal::Play(int hz, int ms)
{
    TPlayer &player = Player();
    if (player.busy.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(player.mu);
    if (player.thread.joinable())
        player.thread.join(); // the last tone has ended (busy was clear), so this is immediate
    player.thread = std::thread([hz, ms, &player] {
        PlayBlocking(hz, ms);
        player.busy = false;
    });
}
