// A verification run against kest-sim with "WaitingTime" 1 s: a 20-point RS tab, then a 10-point analog
// tab reading two analog inputs. Prints each run's duration against its floor — the waits the program
// prescribes (the measuring time, 2000 ms per analog input, the 46 ms of line silence that ends every
// answer), the answers' time on the wire at the line's bit rate and the simulated installation's
// turnaround — the heap in use after each round of both tabs (what one round leaves behind shows as growth
// from round to round; kest-sim runs in this process and its request log is part of it, about a hundred
// kilobytes a round), and the resident memory at the start and the end.
//
//   verification_run_bench [--rate BPS] [--rounds N] [--requests]   (--rounds: how many times both tabs are
//   run, default 2; --requests: the requests by function and register) (build in a release folder for
//   figures worth quoting)

#include "config/configcontroller.h"
#include "kestsimulator.h"
#include "transport/cominterfacewithcallback.h"
#include "verification/run/avtopoverkalogic.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#define KEST_BENCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEST_BENCH_ASAN 1
#endif
#endif
#ifdef KEST_BENCH_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

// Bytes the program holds on the heap now (the sanitizer's count in a sanitized build).
size_t HeapInUse()
{
#ifdef KEST_BENCH_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

long RssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

struct TNullView : IAvtopoverkaView {
    void ShowError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void ShowMessage(const QString &) override { }
    bool Confirm(const QString &, const QString &) override { return false; }
    void ShowSelections(const TAvtopoverkaSelections &) override { }
    void SetEntryLimits(TEntry, double, double) override { }
    void SetEntryValue(TEntry, double) override { }
    void AddTabPage(int, TKestAvtopoverkaGrid *) override { }
    void SetTabVisible(int, bool) override { }
    void SetTabCaption(int, const QString &) override { }
    void SetActiveTab(int) override { }
    void SetPlusVisible(bool) override { }
    void SetPasteEnabled(bool) override { }
    void SetLocked(bool) override { }
    void ShowProgress(const QString &) override { }
    void SetAddressColor(uint32_t) override { }
    void SetAddressEnabled(bool) override { }
    void SetReadSettingsEnabled(bool) override { }
    void SetCoefficientLabel(const QString &) override { }
};

struct TTiming : IRunObserver {
    QElapsedTimer clock;
    qint64 endedAt = -1;
    void RunEnded(const TRunEnd &) override { endedAt = clock.elapsed(); }
};

// Requests and answers on the installation's line since `from` log lines, from kest-sim's request log.
struct TWire {
    int requests = 0, answers = 0;
    long requestBytes = 0, answerBytes = 0;
    std::map<int, int> perRegister; // requests by function and register (function × 100000 + register)
};

TWire Count(const std::vector<std::string> &log, size_t from)
{
    TWire w;
    for (size_t k = from; k < log.size(); ++k) {
        const std::string &line = log[k];
        for (const char *dir : {"installation rx ", "installation tx "}) {
            const size_t at = line.find(dir);
            if (at == std::string::npos)
                continue;
            std::istringstream hex(line.substr(at + 16));
            long n = 0;
            for (std::string b; hex >> b;)
                ++n;
            if (dir[13] == 'r') {
                std::istringstream again(line.substr(at + 16));
                std::string addr, fn, hi, lo;
                again >> addr >> fn >> hi >> lo;
                ++w.perRegister[std::stoi(fn, nullptr, 16) * 100000 + std::stoi(hi, nullptr, 16) * 256
                    + std::stoi(lo, nullptr, 16)];
                ++w.requests;
                w.requestBytes += n;
            } else {
                ++w.answers;
                w.answerBytes += n;
            }
        }
    }
    return w;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rate = 115200;
    bool verbose = false;
    int rounds = 2;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--rate" && i + 1 < argc)
            rate = QByteArray(argv[i + 1]).toInt();
        if (QByteArray(argv[i]) == "--rounds" && i + 1 < argc)
            rounds = std::max(1, QByteArray(argv[i + 1]).toInt());
        if (QByteArray(argv[i]) == "--requests")
            verbose = true;
    }
    const long rssStart = RssKb();

    QTemporaryDir home;
    kestsim::SimOptions options;
    options.announce = false;
    options.deviceType = "QX4";
    options.rate = rate;
    kestsim::KestSimulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "kest-sim: %s\n", error.c_str());
        return 1;
    }
    TConfigController store(
        home.path(), QStringLiteral("/Valtrix"), QStringLiteral("KestManager"), QStringLiteral("/Settings.txt"));
    TGlobalConfig(&store).WriteWaitingTime(QStringLiteral("1"));
    TDeviceSettingsConfig d(&store);
    d.WriteKU1(QStringLiteral("10000"));
    d.WriteKU2(QStringLiteral("100"));
    d.WriteKI1(QStringLiteral("100"));
    d.WriteKI2(QStringLiteral("5"));
    TConfigQX4 config(&store);
    config.WriteTabOutputSet(0, {"1", "4", "22", "26"});
    config.WriteInterfaceValues({"0", "-1"});
    config.WriteTabOutputAnalogPortSet(1, {"1", "3"});
    config.WriteTabOutputAnalogParamSet(1, {"1", "2", "3"});

    TNullView view;
    TTiming timing;
    TAvtopoverkaLogic logic(&view, &store, TConfigurationCode::QX4);
    logic.SetPortOverride(QString::fromStdString(sim.InstallationPath()), QString::number(rate));
    logic.AddRunObserver(&timing);
    logic.Init();
    logic.VoltageChosen(TVoltageRange::V100);
    logic.OutputSignalChosen(1);
    logic.AutoIncrementChosen(false, 0);
    logic.PlusClicked();
    for (int k = 0; k < 20; ++k) {
        logic.TabSelected(0);
        logic.AddRowClicked({0.25 * (k + 1), 57.74 - k, double(k % 4) * 15, 50, 1});
    }
    for (int k = 0; k < 10; ++k) {
        logic.TabSelected(1);
        logic.AddRowClicked({5, 57.74 - 3 * k, 0, 50, 1});
    }

    std::printf("verification run, WaitingTime 1 s, %d bit/s, kest-sim turnaround 5 ms\n", rate);
    std::printf("%-22s %8s %8s %9s %9s %9s %9s %9s %8s\n", "tab", "points", "answers", "waits ms", "wire ms", "turn ms",
        "floor ms", "run ms", "over");
    const struct {
        const char *name;
        int tab;
        int points;
        int analogInputs;
    } tabs[] = {{"RS, 4 columns", 0, 20, 0}, {"analog, inputs 1 and 3", 1, 10, 2}};
    bool ok = true;
    size_t heapBefore = 0;
    for (int round = 1; round <= rounds; ++round) {
        for (const auto &t : tabs) {
            logic.TabSelected(t.tab);
            const size_t logFrom = sim.Log().size();
            timing.endedAt = -1;
            timing.clock.start();
            if (!logic.StartCurrentTab()) {
                std::fprintf(stderr, "the run did not start\n");
                return 1;
            }
            while (logic.Driver().IsBusy())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const qint64 run = timing.endedAt;
            const TWire w = Count(sim.Log(), logFrom);
            // The measuring time per point, 2000 ms per analog input, 46 ms of silence after every answer.
            const double waits = t.points * (1000.0 + 2000.0 * t.analogInputs)
                + double(w.answers) * TComInterfaceWithCallback::kByteTimeout;
            const double wire = double(w.answerBytes) * 10.0 * 1000.0 / rate;
            const double turn = 5.0 * w.answers;
            const double floor = waits + wire + turn;
            const double over = (double(run) - floor) / floor * 100.0;
            std::printf("%-22s %8d %8d %9.0f %9.1f %9.0f %9.0f %9lld %+7.2f%%\n", t.name, t.points, w.answers, waits,
                wire, turn, floor, static_cast<long long>(run), over);
            std::printf("%-22s requests %d, %ld bytes (on a pty they take no line time; %.1f ms at the bit rate)\n", "",
                w.requests, w.requestBytes, double(w.requestBytes) * 10.0 * 1000.0 / rate);
            if (verbose) {
                std::printf("%-22s", "");
                for (const auto &[key, n] : w.perRegister)
                    std::printf(" %d:%d×%d", key / 100000, key % 100000, n);
                std::printf("\n");
            }
            ok = ok && run > 0;
        }
        QCoreApplication::processEvents();
        const size_t heap = HeapInUse();
        std::printf("heap in use after round %d: %zu bytes", round, heap);
        if (round > 1)
            std::printf(" (%+ld since round %d)", long(heap) - long(heapBefore), round - 1);
        std::printf("\n");
        heapBefore = heap;
    }
    const long rssEnd = RssKb();
    std::printf("resident memory: %ld kB at the start, %ld kB at the end\n", rssStart, rssEnd);
    return ok ? 0 : 1;
}
