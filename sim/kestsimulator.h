#pragma once
// kest-sim as a library: the simulated installation and transducer, each on its own
// pseudo-terminal, served by one thread until Stop().
//
//   kestsim::SimOptions options;            // links, type, address, rate, faults, start-up commands
//   kestsim::KestSimulator sim(options);
//   std::string error;
//   if (!sim.Start(&error)) …
//   open(sim.InstallationPath()) …          // the slave side of the installation's line
//   sim.Command("fault noanswer#1");        // the control-channel language, answers "ok …"/"error …"
//   sim.Stop();                             // also done by the destructor

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestsim {

struct SimOptions {
    std::string installationLink; // symbolic link made to the installation's pty (optional)
    std::string deviceLink; // the same for the transducer's own port
    std::string deviceType = "QX4"; // "I", "U", "F", "P", "Q", "PQ", "QX4", "QX4E" or "none"
    int deviceAddress = 1;
    int rate = 115200; // bit/s the answers are paced at (10 bits per character)
    int turnaroundMs = 5;
    std::string controlSocket; // Unix socket path for the control channel (optional)
    std::vector<std::string> faults; // faults applied at start
    std::vector<std::string> commands; // control commands applied at start
    uint64_t seed = 1;
    std::string logFile; // request log (optional)
    bool announce = true; // symlinks in ${XDG_RUNTIME_DIR:-/tmp}/kest-sim/
    std::string announceDir; // overrides that folder when not empty
};

class KestSimulator {
public:
    explicit KestSimulator(SimOptions options);
    ~KestSimulator();
    KestSimulator(const KestSimulator &) = delete;
    KestSimulator &operator=(const KestSimulator &) = delete;

    bool Start(std::string *error = nullptr);
    void Stop();
    bool Running() const;

    // The current slave paths (they change after a hang-up fault; the links follow them).
    std::string InstallationPath() const;
    std::string DevicePath() const;
    std::string AnnouncedInstallation() const; // the entries made in the announce folder
    std::string AnnouncedDevice() const;

    // One control command (see README); thread-safe. Answers "ok[ …]" or "error …".
    std::string Command(const std::string &line);

    // The request log, oldest first (at most the last 2000 lines).
    std::vector<std::string> Log() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

} // namespace kestsim
