#pragma once
// The tuning procedure against kest-sim: a recording view and observer, the simulator's request log
// as tokens of the requests' kinds, its state as numbers, and the readings a transducer gives after a
// run when the installation is energised again.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/configcontroller.h"
#include "kestsimulator.h"
#include "pty.h"
#include "realtransducer.h"
#include "syncexchange.h"
#include "testhome.h"
#include "transducer.h"
#include "transport/waitservice.h"
#include "tuning/autotuning.h"

namespace tuningtest {

struct TRecorder : ITuningView, ITuningObserver {
    QStringList log, errors;
    int clears = 0;
    bool running = false;
    TTuningChoices shown;
    QString label;
    std::optional<TTuningOutcome> outcome;
    std::vector<TParameters> asFound, asLeft;
    // Called as each line is logged, before the procedure takes its next step.
    std::function<void(const QString &)> onLog;

    void ClearLog() override
    {
        ++clears;
        log.clear();
    }
    void AddLog(const QString &line) override
    {
        log << line;
        if (onLog)
            onLog(line);
    }
    void ShowChoices(const TTuningChoices &c) override { shown = c; }
    void SetCoefficientLabel(const QString &text) override { label = text; }
    void SetRunning(bool r) override { running = r; }
    void ShowError(const QString &text) override { errors << text; }
    void TuningAsFound(const TParameters &t, const TParameters &) override { asFound.push_back(t); }
    void TuningAsLeft(const TParameters &t, const TParameters &) override { asLeft.push_back(t); }
    void TuningEnded(const TTuningOutcome &o) override { outcome = o; }
};

// One request of the simulator's log as "K:read" (installation) or "D:sh" (transducer).
inline std::string Token(bool installation, const std::vector<int> &b)
{
    if (b.size() < 6)
        return "?";
    const int fn = b[1], reg = b[2] * 256 + b[3], value = b[4] * 256 + b[5];
    if (b[0] == 0xFF && fn == 0x77)
        return "D:find";
    if (installation) {
        static const std::map<std::pair<int, int>, std::string> k
            = {{{0x10, 0}, "cfg"}, {{0x10, 100}, "U"}, {{0x10, 142}, "F"}, {{0x06, 140}, "ang"}, {{0x10, 124}, "I"},
                {{0x10, 112}, "I"}, {{0x03, 994}, "read"}, {{0x06, 6}, "ain"}};
        auto it = k.find({fn, reg});
        return "K:" + (it == k.end() ? std::to_string(fn) + "@" + std::to_string(reg) : it->second);
    }
    if (fn == 0x10 && reg >= 0x700 && reg <= 0x720)
        return "D:ref";
    if (fn == 0x06 && (reg == 0x280 || reg == 0x282))
        return "D:sh";
    if (fn == 0x06 && (reg == 0x284 || reg == 0x286))
        return "D:ash";
    if (fn == 0x06 && reg == 0x31E)
        return "D:mode" + std::to_string(value);
    if (fn == 0x10 && reg >= 0x780 && reg <= 0x788)
        return "D:aref" + std::to_string((reg - 0x780) / 4 + 1);
    static const std::map<std::pair<int, int>, std::string> d = {{{0x06, 0x2100}, "noise"}, {{0x03, 0x208}, "ext1"},
        {{0x10, 0x800}, "coefW"}, {{0x03, 0x800}, "coefR"}, {{0x10, 0x734}, "refF"}, {{0x03, 0x000}, "par"},
        {{0x03, 0x024}, "Pa"}, {{0x03, 0x028}, "Pb"}, {{0x03, 0x02C}, "Pc"}, {{0x06, 0x212}, "atype"},
        {{0x10, 0x400}, "aouts"}, {{0x06, 0x320}, "save"}, {{0x06, 0x20C}, "rs1"}, {{0x06, 0x21E}, "rs2"},
        {{0x06, 0x21C}, "rs2cfg"}, {{0x06, 0x210}, "scheme"}, {{0x06, 0x204}, "adr"}, {{0x03, 0x210}, "rscheme"},
        {{0x03, 0x20C}, "rrs1"}, {{0x03, 0x21E}, "rrs2"}, {{0x03, 0x21C}, "rrs2cfg"}, {{0x03, 0x400}, "raouts"},
        {{0x03, 0x212}, "ratype"}, {{0x03, 0x270}, "ext2"}, {{0x10, 0x208}, "wserial"}, {{0x06, 0x216}, "wmod"},
        {{0x06, 0x270}, "wrelays"}, {{0x06, 0x272}, "wifaces"}};
    auto it = d.find({fn, reg});
    return "D:" + (it == d.end() ? std::to_string(fn) + "@" + std::to_string(reg) : it->second);
}

// The requests the simulator received, in order, as tokens joined by spaces (each followed by one).
inline std::string Requests(kestsim::KestSimulator &sim, size_t from = 0)
{
    std::string out;
    size_t n = 0;
    for (const std::string &line : sim.Log()) {
        const bool inst = line.find(" installation rx ") != std::string::npos;
        const bool dev = line.find(" device rx ") != std::string::npos;
        if (!inst && !dev)
            continue;
        if (n++ < from)
            continue;
        std::istringstream hex(line.substr(line.find(" rx ") + 4));
        std::vector<int> bytes;
        for (std::string byte; hex >> byte;)
            bytes.push_back(std::stoi(byte, nullptr, 16));
        out += Token(inst, bytes) + " ";
    }
    return out;
}

inline size_t RequestCount(kestsim::KestSimulator &sim)
{
    size_t n = 0;
    for (const std::string &line : sim.Log())
        n += line.find(" rx ") != std::string::npos ? 1 : 0;
    return n;
}

using realtransducer::Fields; // "ok a=1 b=2" → {a: 1, b: 2} for the numeric fields

// The requests end with the installation's zero output (voltage, frequency, angle, current).
inline bool EndsWithZeroOutput(const std::string &frames, const std::string &tail = "K:U K:F K:ang K:I K:6@0 ")
{
    return frames.size() >= tail.size() && frames.compare(frames.size() - tail.size(), tail.size(), tail) == 0;
}

inline bool OutputsZero(kestsim::KestSimulator &sim)
{
    auto s = Fields(sim.Command("state"));
    for (const char *k : {"ua", "ub", "uc", "ia", "ib", "ic"})
        if (s[k] != 0)
            return false;
    return true;
}

// Whole-line regular expression over the log, "\n" after each line; `pattern` uses L(…) pieces.
inline QString L(const char16_t *text)
{
    return QRegularExpression::escape(QString::fromUtf16(text)) + QStringLiteral("\\n");
}
inline const QString kErrorLine = QStringLiteral("Текущая погрешность: -?\\d+,\\d{3}\\n");
inline const QString kShiftLine = QStringLiteral("Сдвиг на \\d+( вниз| вверх)?\\n");

struct TuningTest : ::testing::Test {
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<TConfigController> config;
    TRecorder rec;
    std::unique_ptr<TAutoTuning> tuning;
    std::vector<std::pair<int, QString>> waits;
    std::vector<int> beeps;
    TScopedWaitScale scale{0.01};
    TWaitService::TObserver previousObserver;

    void SetUp() override
    {
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        sim = std::make_unique<kestsim::KestSimulator>(o);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        config = std::make_unique<TConfigController>(
            KestTestHome::NewFolder(), "/Valtrix", "/KestManager", "/Settings.txt");
        config->WritePort("Port1", QString::fromStdString(sim->InstallationPath()));
        config->WritePort("Port2", QString::fromStdString(sim->DevicePath()));
        previousObserver = TWaitService::SetObserver([this](int ms, const QString &p) { waits.emplace_back(ms, p); });
        tuning = std::make_unique<TAutoTuning>(&rec);
        tuning->AddObserver(&rec);
        tuning->SetBeep([this](int hz, int ms) { beeps.push_back(hz * 10000 + ms); });
        tuning->InitKestCommunication(config.get());
        tuning->InitDeviceCommunication();
    }
    void TearDown() override
    {
        tuning.reset();
        TWaitService::SetObserver(previousObserver);
        sim.reset();
    }
    void Sim(const std::string &command) { ASSERT_EQ(sim->Command(command).substr(0, 2), "ok") << command; }
    bool RunToEnd(int ms = 120000)
    {
        return PumpUntil([this] { return rec.outcome.has_value(); }, ms);
    }
    bool LogHas(const QString &line) const { return rec.log.contains(line); }
    QString JoinedLog() const { return rec.log.join(QLatin1Char('\n')) + QLatin1Char('\n'); }
};

// The installation energised again after a run (nominal output, angle φ), for what the transducer
// shows afterwards: its reduced errors per quantity against the reference (coefficients 1:1).
inline std::map<int, double> ErrorsAfterRun(kestsim::KestSimulator &sim, int angle)
{
    TSyncLink link;
    link.Engine().SetPort(sim.InstallationPath());
    link.Engine().SetRate("115200");
    link.Engine().OpenPort();
    const std::map<int, double> errors = realtransducer::PercentErrorsAt(sim, link, 100, 5, angle, 1, 1);
    realtransducer::SwitchOff(link);
    return errors;
}

} // namespace tuningtest
