#pragma once
// Whether another process has a handler installed for a signal yet, from /proc/PID/status. A test that
// signals a program "as it starts" waits for this rather than for a fixed time: a program started on a
// loaded machine (or under the sanitizers) can take longer than any fixed time to reach its main(), and a
// signal before its handler is there kills it instead of stopping it.

#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

inline bool CatchesSignal(long long pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
            return (caught >> (sig - 1)) & 1ULL;
        }
    }
    return false;
}

// Waits (without an event loop) until pid catches sig or limitMs pass; returns whether it does.
inline bool WaitUntilCatching(long long pid, int sig, int limitMs = 60000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!CatchesSignal(pid, sig) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return CatchesSignal(pid, sig);
}
