#pragma once
// What the verification run tests share: a recording view, a recording observer, kest-sim with its
// state and request log, and a settings store of the test's own.

#include "config/configcontroller.h"
#include "kestsimulator.h"
#include "protocol/numberformat.h"
#include "pty.h"
#include "testhome.h"
#include "transport/waitservice.h"
#include "verification/run/avtopoverkalogic.h"

#include <QStringList>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace runtest {

struct TRecordingView : IAvtopoverkaView {
    QStringList errors;
    QStringList messages;
    std::vector<int> activeTabs; // every SetActiveTab, in order
    std::vector<bool> locks; // every SetLocked, in order
    std::map<int, QString> captions;
    std::map<int, bool> visible;
    std::map<int, TKestAvtopoverkaGrid *> pages;
    std::map<TEntry, double> values;
    std::map<TEntry, std::pair<double, double>> limits;
    TAvtopoverkaSelections selections;
    bool plusVisible = true;
    bool pasteEnabled = false;
    bool addressEnabled = true;
    bool readSettingsEnabled = false;
    uint32_t addressColor = 0;
    QString coefficients;
    QStringList progress;

    void ShowError(const QString &text) override { errors << text; }
    void ShowMessage(const QString &text) override { messages << text; }
    bool Confirm(const QString &, const QString &text) override
    {
        questions << text;
        return confirmAnswer;
    }
    QStringList questions;
    bool confirmAnswer = false;
    void ShowSelections(const TAvtopoverkaSelections &s) override { selections = s; }
    void SetEntryLimits(TEntry e, double min, double max) override { limits[e] = {min, max}; }
    void SetEntryValue(TEntry e, double value) override { values[e] = value; }
    void AddTabPage(int tab, TKestAvtopoverkaGrid *grid) override { pages[tab] = grid; }
    void SetTabVisible(int tab, bool v) override { visible[tab] = v; }
    void SetTabCaption(int tab, const QString &caption) override { captions[tab] = caption; }
    void SetActiveTab(int tab) override { activeTabs.push_back(tab); }
    void SetPlusVisible(bool v) override { plusVisible = v; }
    void SetPasteEnabled(bool e) override { pasteEnabled = e; }
    void SetLocked(bool locked) override { locks.push_back(locked); }
    void ShowProgress(const QString &text) override
    {
        if (!text.isEmpty())
            progress << text;
    }
    void SetAddressColor(uint32_t c) override { addressColor = c; }
    void SetAddressEnabled(bool e) override { addressEnabled = e; }
    void SetReadSettingsEnabled(bool e) override { readSettingsEnabled = e; }
    void SetCoefficientLabel(const QString &text) override { coefficients = text; }
    bool Locked() const { return !locks.empty() && locks.back(); }
};

struct TRecordingObserver : IRunObserver {
    std::vector<TRunStart> starts;
    std::vector<TMeasuredPoint> points;
    std::vector<TRunEnd> ends;
    std::vector<TDeviceInfo> identities;
    std::function<void(const TMeasuredPoint &)> onPoint;

    void RunStarted(const TRunStart &s) override { starts.push_back(s); }
    void DeviceIdentified(const TDeviceInfo &d) override { identities.push_back(d); }
    void PointMeasured(const TMeasuredPoint &m) override
    {
        points.push_back(m);
        if (onPoint)
            onPoint(m);
    }
    void RunEnded(const TRunEnd &e) override { ends.push_back(e); }
};

// key=value pairs of kest-sim's `state` answer.
inline std::map<std::string, std::string> SimState(kestsim::KestSimulator &sim)
{
    std::map<std::string, std::string> out;
    std::istringstream in(sim.Command("state"));
    for (std::string word; in >> word;)
        if (const size_t eq = word.find('='); eq != std::string::npos)
            out[word.substr(0, eq)] = word.substr(eq + 1);
    return out;
}

inline int RequestCount(kestsim::KestSimulator &sim)
{
    return std::stoi(SimState(sim)["requests"]);
}

// The installation requests kest-sim received, oldest first, as bytes (from its request log).
inline std::vector<std::vector<uint8_t>> InstallationRequests(kestsim::KestSimulator &sim)
{
    std::vector<std::vector<uint8_t>> frames;
    for (const std::string &line : sim.Log()) {
        const size_t at = line.find("installation rx ");
        if (at == std::string::npos)
            continue;
        std::istringstream hex(line.substr(at + 16));
        std::vector<uint8_t> bytes;
        for (std::string b; hex >> b;)
            bytes.push_back(uint8_t(std::stoi(b, nullptr, 16)));
        frames.push_back(bytes);
    }
    return frames;
}

inline int Register(const std::vector<uint8_t> &frame)
{
    return frame.size() >= 4 ? frame[2] * 256 + frame[3] : -1;
}

// Zero delivered and zero set on every output, remote control released.
inline ::testing::AssertionResult OutputsOff(kestsim::KestSimulator &sim)
{
    auto s = SimState(sim);
    for (const char *key : {"ua", "ub", "uc", "ia", "ib", "ic"})
        if (s[key].empty() || std::stod(s[key]) != 0)
            return ::testing::AssertionFailure() << key << "=" << s[key];
    for (const char *key : {"set-u", "set-i", "set-i5"}) {
        std::istringstream list(s[key]);
        for (std::string item; std::getline(list, item, ',');)
            if (std::stod(item) != 0)
                return ::testing::AssertionFailure() << key << "=" << s[key];
    }
    if (s["remote"] != "0")
        return ::testing::AssertionFailure() << "remote=" << s["remote"];
    return ::testing::AssertionSuccess();
}

// A verification window's logic on kest-sim with a settings file of its own.
struct TBench {
    explicit TBench(const std::string &simType, TConfigurationCode code)
    {
        kestsim::SimOptions options;
        options.announce = false;
        options.deviceType = simType;
        sim = std::make_unique<kestsim::KestSimulator>(options);
        std::string error;
        started = sim->Start(&error);
        startError = error;
        store = std::make_unique<TConfigController>(KestTestHome::NewFolder(), QStringLiteral("/Valtrix"),
            QStringLiteral("KestManager"), QStringLiteral("/Settings.txt"));
        TGlobalConfig g(store.get());
        g.WriteWaitingTime(QStringLiteral("1"));
        this->code = code;
    }
    ~TBench()
    {
        logic.reset();
        sim.reset();
    }
    // The logic, after the settings have been written.
    TAvtopoverkaLogic &Open()
    {
        logic = std::make_unique<TAvtopoverkaLogic>(&view, store.get(), code);
        logic->SetPortOverride(QString::fromStdString(sim->InstallationPath()), QStringLiteral("115200"));
        logic->AddRunObserver(&observer);
        logic->Init();
        PumpUntil([&] { return !logic->Driver().IsBusy(); }, 5000);
        return *logic;
    }
    bool RunToEnd(int ms = 60000)
    {
        return PumpUntil([&] { return !logic->Driver().IsBusy(); }, ms);
    }
    void AddPoints(int tab, const std::vector<std::array<double, 4>> &points) // current, voltage, angle, frequency
    {
        logic->TabSelected(tab);
        for (const auto &p : points) {
            TEntryValues v;
            v.current = p[0];
            v.voltage = p[1];
            v.angle = p[2];
            v.frequency = p[3];
            logic->AutoIncrementChosen(false, 0.5);
            logic->AddRowClicked(v);
        }
    }

    std::unique_ptr<kestsim::KestSimulator> sim;
    bool started = false;
    std::string startError;
    std::unique_ptr<TConfigController> store;
    TConfigurationCode code = TConfigurationCode::QX4;
    TRecordingView view;
    TRecordingObserver observer;
    std::unique_ptr<TAvtopoverkaLogic> logic;
};

} // namespace runtest
