// The request/response engine against kest-sim over a pseudo-terminal at 115200 bit/s, as the main
// window uses it: how long the status read takes from write to Callback, what an engine polling every
// 2 s costs in CPU, and whether resident memory grows with the number of exchanges.
//
// kest-sim runs as its own process so that the figures are the engine's alone.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/kestcmdmanager.h"
#include "transport/deviceinterface.h"

#ifndef KEST_SIM_EXECUTABLE
#define KEST_SIM_EXECUTABLE "kest-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 115200;
constexpr int kTurnaroundMs = 5;
constexpr int kRequestBytes = 8;
constexpr int kAnswerBytes = 3 + 69 * 2 + 2;
constexpr int kBitsPerByte = 10;
constexpr int kPollMs = 2000;

struct Options {
    long exchanges = 10000;
    double cpuSeconds = 60;
    std::string sim = KEST_SIM_EXECUTABLE;
};

void Usage(FILE *to)
{
    std::fprintf(to,
        "usage: engine_bench [--exchanges N] [--cpu-seconds S] [--sim PATH]\n"
        "  --exchanges N     status reads for the latency and memory figures (default 10000;\n"
        "                    resident memory is also shown after the first 100); 0 skips them\n"
        "  --cpu-seconds S   how long the engine polls every 2 s for the CPU figure (default 60);\n"
        "                    0 skips it\n"
        "  --sim PATH        the kest-sim executable (default: the one built beside this program)\n");
}

bool ParseOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "engine_bench: %s needs a value\n", arg.c_str());
            return false;
        }
        const char *value = argv[++i];
        char *end = nullptr;
        if (arg == "--exchanges") {
            o.exchanges = std::strtol(value, &end, 10);
            if (!*value || *end || o.exchanges < 0)
                return false;
        } else if (arg == "--cpu-seconds") {
            o.cpuSeconds = std::strtod(value, &end);
            if (!*value || *end || !(o.cpuSeconds >= 0))
                return false;
        } else if (arg == "--sim") {
            o.sim = value;
        } else {
            std::fprintf(stderr, "engine_bench: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double CpuSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    auto sec = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(use.ru_utime) + sec(use.ru_stime);
}

double Percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return NAN;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample with at least p of the samples at or below it.
    const size_t rank = size_t(std::ceil(p * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

double WireMs(int bytes)
{
    return 1000.0 * bytes * kBitsPerByte / kRate;
}

// kest-sim as a child process; its installation line is what the engine opens.
class SimProcess {
public:
    ~SimProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }

    std::string Start(const std::string &program)
    {
        process_.setProgram(QString::fromStdString(program));
        process_.setArguments(
            {"--no-announce", "--rate", QString::number(kRate), "--turnaround", QString::number(kTurnaroundMs)});
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000)) {
            std::fprintf(stderr, "engine_bench: cannot start %s: %s\n", program.c_str(),
                process_.errorString().toLocal8Bit().constData());
            return {};
        }
        QElapsedTimer clock;
        clock.start();
        std::string out;
        while (clock.elapsed() < 10000 && process_.state() == QProcess::Running) {
            process_.waitForReadyRead(100);
            out += process_.readAllStandardOutput().toStdString();
            const size_t at = out.find("installation: ");
            if (at != std::string::npos) {
                const size_t eol = out.find('\n', at);
                if (eol != std::string::npos)
                    return out.substr(at + 14, eol - at - 14);
            }
        }
        std::fprintf(stderr, "engine_bench: kest-sim announced no installation line\n");
        return {};
    }

private:
    QProcess process_;
};

class Bench {
public:
    Bench()
    {
        callback_.Callback = [this](const TFramePtr &answer) {
            answeredAt_ = Clock::now();
            answerSize_ = answer ? answer->size : 0;
            done_ = true;
        };
        callback_.ShowError = [this](const std::exception &e) {
            error_ = e.what();
            done_ = true;
        };
        engine_ = std::make_unique<TDeviceInterface>(nullptr, &callback_);
    }
    ~Bench() { engine_->Dispose(); }

    bool Open(const std::string &port)
    {
        engine_->SetPort(port);
        engine_->SetRate(std::to_string(kRate));
        try {
            engine_->OpenPort();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "engine_bench: cannot open %s: %s\n", port.c_str(), e.what());
            return false;
        }
        return true;
    }

    // One status read as the polling tick makes it: a fresh frame, queued, sent.
    void Send()
    {
        done_ = false;
        error_.clear();
        answerSize_ = 0;
        engine_->AddCmd(commands_.CreateCmdReadDeviceStatusAndAllParameters());
        sentAt_ = Clock::now();
        engine_->SendNextCmd();
    }

    // Milliseconds from write to Callback, or a negative value when the exchange failed.
    double Exchange()
    {
        Send();
        QEventLoop loop;
        while (!done_)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        return Outcome();
    }

    double Outcome()
    {
        if (!error_.empty() || answerSize_ != kAnswerBytes) {
            ++failures_;
            if (lastFailure_.empty())
                lastFailure_ = error_.empty() ? "answer of " + std::to_string(answerSize_) + " bytes" : error_;
            return -1;
        }
        return std::chrono::duration<double, std::milli>(answeredAt_ - sentAt_).count();
    }

    bool Done() const { return done_; }
    long Failures() const { return failures_; }
    const std::string &LastFailure() const { return lastFailure_; }

private:
    TCallBackObject callback_;
    std::unique_ptr<TDeviceInterface> engine_;
    TKestCmdManager commands_;
    Clock::time_point sentAt_, answeredAt_;
    int answerSize_ = 0;
    bool done_ = false;
    std::string error_;
    long failures_ = 0;
    std::string lastFailure_;
};

void LatencyAndMemory(Bench &bench, long exchanges)
{
    const double floor
        = WireMs(kRequestBytes) + WireMs(kAnswerBytes) + kTurnaroundMs + TComInterfaceWithCallback::kByteTimeout;
    std::printf("status read (69 registers from 994), %d bit/s, %ld exchanges\n", kRate, exchanges);
    std::printf("  floor: request %.3f ms + answer %.3f ms (%d bytes) + turnaround %d ms + silence %d ms = %.3f ms\n",
        WireMs(kRequestBytes), WireMs(kAnswerBytes), kAnswerBytes, kTurnaroundMs,
        TComInterfaceWithCallback::kByteTimeout, floor);
    std::fflush(stdout);

    // The samples' storage is touched in full before the first reading, so that its pages do not
    // count as growth.
    std::vector<double> samples(size_t(exchanges), 0.0);
    size_t sampled = 0;
    const long before = ResidentKiB();
    long after100 = -1;
    std::vector<std::pair<long, long>> checkpoints;
    checkpoints.reserve(size_t(exchanges / 1000 + 2));
    QElapsedTimer progress;
    progress.start();
    for (long i = 1; i <= exchanges; ++i) {
        const double ms = bench.Exchange();
        if (ms >= 0)
            samples[sampled++] = ms;
        if (i == 100 || i % 1000 == 0 || i == exchanges) {
            checkpoints.emplace_back(i, ResidentKiB());
            if (i == 100)
                after100 = checkpoints.back().second;
        }
        if (progress.elapsed() > 30000) {
            std::fprintf(stderr, "  ... %ld of %ld exchanges\n", i, exchanges);
            progress.restart();
        }
    }
    const long afterAll = ResidentKiB();
    samples.resize(sampled);
    const std::vector<double> &latencies = samples;

    const double median = Percentile(latencies, 0.5);
    const double p99 = Percentile(latencies, 0.99);
    std::printf("  latency write -> Callback: median %.3f ms (%+.1f %% of floor), 99th percentile %.3f ms "
                "(%+.1f %%), min %.3f ms, max %.3f ms\n",
        median, 100.0 * (median / floor - 1), p99, 100.0 * (p99 / floor - 1),
        latencies.empty() ? NAN : *std::min_element(latencies.begin(), latencies.end()),
        latencies.empty() ? NAN : *std::max_element(latencies.begin(), latencies.end()));
    // An answer later than the response time-out means the request went out more than once.
    const long resent = std::count_if(latencies.begin(), latencies.end(),
        [](double ms) { return ms > TComInterfaceWithCallback::kDefaultResponseTimeout; });
    std::printf("  answered only after a re-send: %ld; failed exchanges: %ld%s%s\n", resent, bench.Failures(),
        bench.Failures() ? ", last: " : "", bench.LastFailure().c_str());
    std::printf("  resident memory (VmRSS): %ld KiB before", before);
    if (after100 >= 0)
        std::printf(", %ld KiB after 100 exchanges", after100);
    std::printf(", %ld KiB after %ld exchanges", afterAll, exchanges);
    if (after100 >= 0)
        std::printf(" (%+ld KiB since the 100th)", afterAll - after100);
    std::printf("\n  VmRSS by exchanges:");
    for (const auto &[n, kib] : checkpoints)
        std::printf(" %ld: %ld KiB;", n, kib);
    std::printf("\n");
    std::fflush(stdout);
}

void PollingCpu(Bench &bench, double seconds)
{
    std::printf("engine polling every %d ms for %.1f s\n", kPollMs, seconds);
    std::fflush(stdout);
    long polls = 0;
    long skipped = 0;
    std::vector<double> latencies;
    QTimer poll;
    poll.setInterval(kPollMs);
    bool outstanding = false;
    auto tick = [&] {
        // Like the main window: a tick while the previous exchange is still running sends nothing.
        if (outstanding && !bench.Done()) {
            ++skipped;
            return;
        }
        if (outstanding) {
            const double ms = bench.Outcome();
            if (ms >= 0)
                latencies.push_back(ms);
        }
        ++polls;
        outstanding = true;
        bench.Send();
    };
    QObject::connect(&poll, &QTimer::timeout, tick);

    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    poll.start();
    tick();
    loop.exec();
    poll.stop();
    const double cpu = CpuSeconds() - cpuBefore;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    // Let the last exchange end before the engine goes away.
    while (outstanding && !bench.Done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (outstanding) {
        const double ms = bench.Outcome();
        if (ms >= 0)
            latencies.push_back(ms);
    }

    std::printf("  %ld polls (%ld ticks found the previous exchange running), median latency %.3f ms\n", polls, skipped,
        Percentile(latencies, 0.5));
    std::printf("  CPU time %.3f s in %.3f s = %.3f %% of one core (the whole process: engine, port thread, "
                "Qt event loop)\n",
        cpu, elapsed, 100.0 * cpu / elapsed);
    std::printf("  failed exchanges so far: %ld\n", bench.Failures());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage(stderr);
        return 2;
    }

    SimProcess sim;
    const std::string line = sim.Start(options.sim);
    if (line.empty())
        return 1;
    Bench bench;
    if (!bench.Open(line))
        return 1;

    if (options.exchanges > 0)
        LatencyAndMemory(bench, options.exchanges);
    if (options.cpuSeconds > 0)
        PollingCpu(bench, options.cpuSeconds);
    return bench.Failures() ? 1 : 0;
}
