// A full tuning of a mis-calibrated QX4 against kest-sim with the real settling times, without and with
// the analog outputs: how long it takes against its floor. The floor is what no implementation of the
// procedure can go below: the prescribed waits, plus every exchange's bytes at the line's bit rate, plus
// what the line's protocol adds to each answer (the simulator's turnaround and the 46 ms of silence
// that end an answer), less the one exchange that runs inside a wait (the 90° setting).
//
//   tuning_bench [--only-digital]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "config/configcontroller.h"
#include "kestsimulator.h"
#include "transport/cominterfacewithcallback.h"
#include "transport/waitservice.h"
#include "tuning/autotuning.h"

namespace {

struct TQuiet : ITuningView, ITuningObserver {
    std::optional<TTuningOutcome> outcome;
    void ClearLog() override { }
    void AddLog(const QString &) override { }
    void ShowChoices(const TTuningChoices &) override { }
    void SetCoefficientLabel(const QString &) override { }
    void SetRunning(bool) override { }
    void ShowError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void TuningEnded(const TTuningOutcome &o) override { outcome = o; }
};

// Bytes of one log line's frame ("… installation rx 77 03 …").
int FrameBytes(const std::string &line, const char *marker)
{
    const size_t at = line.find(marker);
    if (at == std::string::npos)
        return -1;
    std::istringstream in(line.substr(at + std::string(marker).size()));
    int n = 0;
    for (std::string byte; in >> byte;)
        ++n;
    return n;
}

void Run(bool analog)
{
    constexpr int kRate = 115200;
    constexpr int kTurnaround = 5;
    kestsim::SimOptions o;
    o.announce = false;
    o.rate = kRate;
    o.turnaroundMs = kTurnaround;
    o.commands = {"error Ua 0.8", "error Ib -0.5", "error Uab 0.4", "phase-error A 0.3", "phase-error B 1.5",
        "phase-error C -0.8", "reference-response 0.7", "analog-error 1 0.3 0.021", "analog-error 2 0.4 0.057",
        "analog-error 3 -0.6 -0.0234"};
    kestsim::KestSimulator sim(o);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "kest-sim: %s\n", error.c_str());
        return;
    }
    QTemporaryDir folder;
    TConfigController config(folder.path(), "/Valtrix", "/KestManager", "/Settings.txt");
    config.WritePort("Port1", QString::fromStdString(sim.InstallationPath()));
    config.WritePort("Port2", QString::fromStdString(sim.DevicePath()));

    std::map<QString, std::pair<int, int>> waits; // purpose → count, ms
    long waitMs = 0;
    TWaitService::SetObserver([&](int ms, const QString &purpose) {
        ++waits[purpose].first;
        waits[purpose].second = ms;
        waitMs += ms;
    });
    TQuiet view;
    TAutoTuning tuning(&view);
    tuning.AddObserver(&view);
    tuning.SetBeep(nullptr);
    tuning.InitKestCommunication(&config);
    tuning.InitDeviceCommunication();
    tuning.AnalogToggled(analog);
    QElapsedTimer clock;
    clock.start();
    tuning.StartClicked();
    QEventLoop loop;
    while (!view.outcome)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    const double total = clock.nsecsElapsed() / 1e6;
    TWaitService::SetObserver(nullptr);

    // The exchanges from the simulator's log: request and answer bytes, and which came in a wait.
    long requests = 0, answers = 0, bytes = 0;
    double overlapped = 0;
    const double byteMs = 10.0 * 1000.0 / kRate;
    int lastRequestBytes = 0;
    bool lastWasAngle90 = false;
    for (const std::string &line : sim.Log()) {
        for (const char *rx : {" installation rx ", " device rx "}) {
            const int n = FrameBytes(line, rx);
            if (n > 0) {
                ++requests;
                bytes += n;
                lastRequestBytes = n;
                lastWasAngle90 = line.find("installation rx 77 06 00 8C 00 5A") != std::string::npos;
            }
        }
        for (const char *tx : {" installation tx ", " device tx "}) {
            const int n = FrameBytes(line, tx);
            if (n > 0) {
                ++answers;
                bytes += n;
                if (lastWasAngle90)
                    overlapped
                        = (lastRequestBytes + n) * byteMs + kTurnaround + TComInterfaceWithCallback::kByteTimeout;
            }
        }
    }
    const double lineMs = bytes * byteMs;
    const double protocolMs = answers * double(kTurnaround + TComInterfaceWithCallback::kByteTimeout);
    const double floorBits = waitMs + lineMs;
    const double floor = waitMs + lineMs + protocolMs - overlapped;
    std::printf("\n== full tuning %s analog outputs (%s) ==\n", analog ? "with" : "without",
        view.outcome->end == TTuningEnd::Done && view.outcome->outputsOff ? "Готово., outputs off" : "FAILED");
    for (const auto &[purpose, cw] : waits)
        std::printf("  wait %-42s %3d x %5d ms\n", qPrintable(purpose), cw.first, cw.second);
    std::printf("  exchanges: %ld requests, %ld answers, %ld bytes at %d bit/s\n", requests, answers, bytes, kRate);
    std::printf("  prescribed waits            %10.0f ms\n", double(waitMs));
    std::printf("  bytes on the line           %10.1f ms\n", lineMs);
    std::printf("  turnaround + 46 ms silence  %10.1f ms  (%ld answers x %d ms)\n", protocolMs, answers,
        kTurnaround + TComInterfaceWithCallback::kByteTimeout);
    std::printf("  inside the 90 deg wait      %10.1f ms\n", -overlapped);
    std::printf("  floor                       %10.1f ms\n", floor);
    std::printf(
        "  measured                    %10.1f ms  (%+.2f %% over the floor)\n", total, (total / floor - 1) * 100);
    std::printf("  (waits + bytes only         %10.1f ms: measured %+.2f %% over it)\n", floorBits,
        (total / floorBits - 1) * 100);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool onlyDigital = app.arguments().contains("--only-digital");
    Run(false);
    if (!onlyDigital)
        Run(true);
    return 0;
}
