// kest-sim: the simulated KEST installation and transducer on pseudo-terminals.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestsimulator.h"

namespace {
void Usage(FILE *to)
{
    std::fputs(
        "usage: kest-sim [--installation LINK] [--device LINK] [--device-type TYPE] [--device-address N]\n"
        "                [--rate BPS] [--turnaround MS] [--control SOCKET] [--fault FAULT]... [--command CMD]...\n"
        "                [--seed N] [--log FILE] [--no-announce]\n"
        "Serves until SIGINT or SIGTERM. TYPE: I U F P Q PQ QX4 QX4E none. See sim/README.md.\n",
        to);
}

bool ToInt(const char *s, long min, long max, long &out)
{
    char *end = nullptr;
    out = std::strtol(s, &end, 0);
    return *s && *end == '\0' && out >= min && out <= max;
}
} // namespace

int main(int argc, char **argv)
{
    kestsim::SimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kest-sim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        long n;
        if (arg == "--installation") {
            options.installationLink = value();
        } else if (arg == "--device") {
            options.deviceLink = value();
        } else if (arg == "--device-type") {
            options.deviceType = value();
        } else if (arg == "--device-address") {
            if (!ToInt(value(), 0, 255, n)) {
                std::fprintf(stderr, "kest-sim: --device-address takes 0..255\n");
                return 2;
            }
            options.deviceAddress = int(n);
        } else if (arg == "--rate") {
            if (!ToInt(value(), 50, 4000000, n)) {
                std::fprintf(stderr, "kest-sim: bad --rate\n");
                return 2;
            }
            options.rate = int(n);
        } else if (arg == "--turnaround") {
            if (!ToInt(value(), 0, 60000, n)) {
                std::fprintf(stderr, "kest-sim: bad --turnaround\n");
                return 2;
            }
            options.turnaroundMs = int(n);
        } else if (arg == "--control") {
            options.controlSocket = value();
        } else if (arg == "--fault") {
            options.faults.push_back(value());
        } else if (arg == "--command") {
            options.commands.push_back(value());
        } else if (arg == "--seed") {
            if (!ToInt(value(), 0, 0x7FFFFFFFL, n)) {
                std::fprintf(stderr, "kest-sim: bad --seed\n");
                return 2;
            }
            options.seed = uint64_t(n);
        } else if (arg == "--log") {
            options.logFile = value();
        } else if (arg == "--no-announce") {
            options.announce = false;
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "kest-sim: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Block the stop signals before the serving thread exists, so that only sigwait() sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    kestsim::KestSimulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "kest-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("installation: %s\ndevice: %s\n", sim.InstallationPath().c_str(), sim.DevicePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stop, &sig);
    sim.Stop();
    return 0;
}
