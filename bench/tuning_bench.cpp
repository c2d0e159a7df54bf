// Full tunings against kest-sim's unkind transducer (noise, settling lag, dead band and non-linear steps,
// its errors drawn from a seed; the convergence test's cases in turn, half of them with the analog stage)
// with the real settling times: how many converge, and how long each takes against its floor. The floor
// is what no implementation of the procedure can go below: the prescribed waits, plus every exchange's
// bytes at the line's bit rate, plus what the line's protocol adds to each answer (the simulator's
// turnaround and the 46 ms of silence that end an answer), less the one exchange that runs inside a wait
// (the 90° setting). The analog stage's averaging reads are exchanges like any other: the floor has them,
// and they are shown apart. A run converges when it ends "Готово." with the outputs off and the
// transducer, checked at the simulator afterwards, is within the permissible error.
//
//   tuning_bench [--seeds N] [--parallel K] [--scale S]
//     --seeds N     runs, one seed each (default 50)
//     --parallel K  runs at once, each with its own simulator (default 10)
//     --scale S     the waits and the device's time constant times S (default 1: the real ones)
// (build in a release folder for figures worth quoting)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/configcontroller.h"
#include "kestsimulator.h"
#include "realtransducer.h"
#include "transport/cominterfacewithcallback.h"
#include "transport/waitservice.h"
#include "tuning/autotuning.h"

using namespace realtransducer;

namespace {

constexpr int kRate = 115200;
constexpr int kTurnaround = 5;

struct TQuiet : ITuningView, ITuningObserver {
    std::optional<TTuningOutcome> outcome;
    QStringList log;
    void ClearLog() override { }
    void AddLog(const QString &line) override { log << line; }
    void ShowChoices(const TTuningChoices &) override { }
    void SetCoefficientLabel(const QString &) override { }
    void SetRunning(bool) override { }
    void ShowError(const QString &text) override { log << QStringLiteral("error: ") + text; }
    void TuningEnded(const TTuningOutcome &o) override { outcome = o; }
};

struct Run {
    TuningCase c;
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TConfigController> config;
    TQuiet view;
    std::unique_ptr<TAutoTuning> tuning;
    QElapsedTimer clock;
    double measuredMs = 0;
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

struct Floor {
    double ms = 0;
    double averagingMs = 0; // the analog stage's reads beyond the first of each decision
    long exchanges = 0;
};

Floor FloorOf(kestsim::KestSimulator &sim, double waitMs)
{
    const double byteMs = 10.0 * 1000.0 / kRate;
    const double perAnswer = kTurnaround + TComInterfaceWithCallback::kByteTimeout;
    Floor f;
    double bytes = 0, overlapped = 0, analogReadMs = 0;
    long analogReads = 0;
    int lastRequestBytes = 0;
    bool lastWasAngle90 = false, lastWasRead = false, analogStage = false;
    for (const std::string &line : sim.Log()) {
        for (const char *rx : {" installation rx ", " device rx "}) {
            const int n = FrameBytes(line, rx);
            if (n > 0) {
                bytes += n;
                lastRequestBytes = n;
                lastWasAngle90 = line.find("installation rx 77 06 00 8C 00 5A") != std::string::npos;
                lastWasRead = line.find("installation rx 77 03 03 E2") != std::string::npos;
                // The analog stage begins with the analog type's write and ends with the save.
                if (line.find("device rx") != std::string::npos && line.find(" 06 02 12 ") != std::string::npos)
                    analogStage = true;
                if (line.find("device rx") != std::string::npos && line.find(" 06 03 20 ") != std::string::npos)
                    analogStage = false;
            }
        }
        for (const char *tx : {" installation tx ", " device tx "}) {
            const int n = FrameBytes(line, tx);
            if (n > 0) {
                ++f.exchanges;
                bytes += n;
                const double exchangeMs = (lastRequestBytes + n) * byteMs + perAnswer;
                if (lastWasAngle90)
                    overlapped = exchangeMs;
                if (analogStage && lastWasRead) {
                    ++analogReads;
                    analogReadMs += exchangeMs;
                }
            }
        }
    }
    f.ms = waitMs + bytes * byteMs + f.exchanges * perAnswer - overlapped;
    if (analogReads > 0)
        f.averagingMs = analogReadMs * (TAutoTuning::kAnalogReadings - 1) / TAutoTuning::kAnalogReadings;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seeds = 50, parallel = 10;
    double scale = 1;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--seeds")
            seeds = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--parallel")
            parallel = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--scale")
            scale = std::clamp(args[i + 1].toDouble(), 0.001, 1.0);
    }
    TScopedWaitScale waitScale{scale};

    // The convergence test's 32 cases in turn: coefficients × modification × range pair × analog stage.
    const std::pair<double, double> ranges[] = {{100, 0.5}, {380, 1}, {400, 2.5}, {100, 5}};
    std::vector<std::unique_ptr<Run>> runs;
    for (int i = 0; i < seeds; ++i) {
        auto r = std::make_unique<Run>();
        r->c.analog = i % 2 == 1;
        r->c.lineVoltage = ranges[(i / 2) % 4].first;
        r->c.current = ranges[(i / 2) % 4].second;
        r->c.analogType = (i / 2) % 2;
        r->c.modification = (i / 8) % 2 ? 10 : 9;
        r->c.ratio = (i / 16) % 2 == 0;
        r->c.seed = 5000 + uint64_t(i);
        runs.push_back(std::move(r));
    }

    std::printf("%d runs, %d at once, waits and device lag x %.3g, %d bit/s, %d analog readings per decision\n", seeds,
        parallel, scale, kRate, TAutoTuning::kAnalogReadings);
    std::printf(
        "%-4s %-70s %-10s %10s %10s %8s %9s\n", "seed", "case", "result", "measured", "floor", "over", "averaging");
    int converged = 0, within3 = 0;
    std::vector<double> overs;
    size_t next = 0;
    std::vector<Run *> active;
    QElapsedTimer wall;
    wall.start();
    while (next < runs.size() || !active.empty()) {
        while (active.size() < size_t(parallel) && next < runs.size()) {
            Run &r = *runs[next++];
            kestsim::SimOptions o;
            o.announce = false;
            o.rate = kRate;
            o.turnaroundMs = kTurnaround;
            o.seed = r.c.seed;
            o.commands = SimCommands(r.c, kRealLagMs * scale);
            r.sim = std::make_unique<kestsim::KestSimulator>(o);
            std::string error;
            if (!r.sim->Start(&error)) {
                std::fprintf(stderr, "kest-sim: %s\n", error.c_str());
                return 1;
            }
            r.folder = std::make_unique<QTemporaryDir>();
            r.config
                = std::make_unique<TConfigController>(r.folder->path(), "/Valtrix", "/KestManager", "/Settings.txt");
            r.config->WritePort("Port1", QString::fromStdString(r.sim->InstallationPath()));
            r.config->WritePort("Port2", QString::fromStdString(r.sim->DevicePath()));
            WriteCoefficients(*r.config, r.c);
            r.tuning = std::make_unique<TAutoTuning>(&r.view);
            r.tuning->AddObserver(&r.view);
            r.tuning->SetBeep(nullptr);
            r.tuning->InitKestCommunication(r.config.get());
            r.tuning->InitDeviceCommunication();
            r.tuning->CoefficientsEdited();
            r.tuning->AnalogToggled(r.c.analog);
            r.tuning->AnalogTypeChosen(r.c.analogType);
            r.clock.start();
            r.tuning->StartClicked();
            active.push_back(&r);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        for (auto it = active.begin(); it != active.end();) {
            Run &r = **it;
            if (!r.view.outcome) {
                ++it;
                continue;
            }
            r.measuredMs = r.clock.nsecsElapsed() / 1e6;
            const Floor f = FloorOf(*r.sim, r.view.outcome->waitedMs);
            const bool done = r.view.outcome->end == TTuningEnd::Done && r.view.outcome->outputsOff;
            const std::string faults = done ? MeasureAtSimulator(*r.sim, r.c).Faults() : "not ended \"Готово.\"";
            const bool ok = faults.empty();
            converged += ok ? 1 : 0;
            const double over = (r.measuredMs / f.ms - 1) * 100;
            overs.push_back(over);
            within3 += over <= 3 ? 1 : 0;
            std::printf("%-4llu %-70s %-10s %8.0f ms %8.0f ms %+7.2f%% %7.0f ms\n",
                static_cast<unsigned long long>(r.c.seed), r.c.Name().substr(0, 70).c_str(),
                ok ? "converged" : "FAILED", r.measuredMs, f.ms, over, f.averagingMs);
            if (!ok) {
                std::printf("     %s\n", faults.c_str());
                for (const QString &line : r.view.log.mid(std::max<qsizetype>(0, r.view.log.size() - 12)))
                    std::printf("       %s\n", qPrintable(line));
            }
            std::fflush(stdout);
            r.tuning.reset();
            r.sim.reset();
            it = active.erase(it);
        }
    }
    std::sort(overs.begin(), overs.end());
    std::printf("\nconverged: %d of %d\n", converged, seeds);
    std::printf("over the floor: median %+.2f %%, worst %+.2f %%; within 3 %%: %d of %d\n", overs[overs.size() / 2],
        overs.back(), within3, seeds);
    std::printf("wall time %.0f s\n", wall.elapsed() / 1000.0);
    return converged == seeds ? 0 : 1;
}
