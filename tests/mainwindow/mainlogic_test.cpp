// The main window's logic without any widget: a recording view in place of the screen, the simulated
// installation on the other end of the line.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>

#include "kestsimulator.h"
#include "mainwindow/mainlogic.h"
#include "pty.h"

namespace {

// Remembers what the logic asked the screen to show.
class RecordingView : public IMainView {
public:
    void ShowError(const QString &text) override { messages.push_back(text); }
    void ShowMessage(const QString &text) override { messages.push_back(text); }
    void ShowConnection(bool c) override { connected = c; }
    void SetConnectButtonEnabled(bool) override {}
    void SetPause(bool running, bool enabled) override { pauseRunning = running, pauseEnabled = enabled; }
    void SetOutputControlsEnabled(bool e) override { outputsEnabled = e; }
    void SetConfigurationSettingsEnabled(bool e) override { settingsEnabled = e; }
    void SetReadSettingsEnabled(bool) override {}
    void SetAddressEnabled(bool) override {}
    void ApplyLayout(const TMainLayout &l) override { layout = l; }
    void ShowSelections(const TMainSelections &s) override { shown = s; }
    void SetEntryLimits(const QString &c, double min, double max) override { limits[c] = {min, max}; }
    void SetEntryValue(const QString &c, double v) override { entries[c] = v; }
    void SetCurrentToggles(const QStringList &names) override
    {
        toggles.clear();
        for (const QString &n : names)
            toggles.push_back({n, true});
    }
    void ShowToggleState(const QString &name, bool on) override
    {
        if (name == " ")
            voltageToggle = on;
        for (auto &t : toggles)
            if (t.first == name)
                t.second = on;
    }
    void SetReadoutDecimals(int param, int d) override { decimals[param] = d; }
    void SetReadoutValue(int param, double v) override { values[param] = v; }
    void DisplayReadoutValue(int param, double v) override { displayed[param] = v; }
    void SetReadoutRs(int param, bool, const TDeviceInfo &, double, double error, double value) override
    {
        rsValues[param] = value;
        errors[param] = error;
    }
    void SetReadoutRsDefault(int param) override { rsValues.erase(param); }
    void SetDefaultReadout() override { rsValues.clear(); }
    void SetEnergyErrors(double, double) override {}
    void SetAnalogSelector(int, const QString &, bool) override {}
    void SelectAnalogOutput(int) override {}
    void SetAnalogGroupEnabled(bool) override {}
    void SetAnalogSelectorsEnabled(bool e) override { analogSelectorsEnabled = e; }
    void SetAnalogParameter(const QString &, const QString &, int) override {}
    void SetAnalogReadout(double, double, double, double) override {}
    void SetAnalogDashes() override {}
    void ShowParameterMenu(int) override {}
    void SetCoefficientLabel(const QString &t) override { coefficientLabel = t; }
    void SetCycles(int c) override { cycles = c; }
    void SetAddressColor(uint32_t c) override { addressColor = c; }
    void SetAddressValue(double v) override { address = v; }

    bool connected = false, pauseRunning = false, pauseEnabled = false, outputsEnabled = false;
    bool settingsEnabled = true, voltageToggle = true, analogSelectorsEnabled = true;
    TMainLayout layout;
    TMainSelections shown;
    std::map<QString, std::pair<double, double>> limits;
    std::map<QString, double> entries;
    std::vector<std::pair<QString, bool>> toggles;
    std::map<int, int> decimals;
    std::map<int, double> values, displayed, rsValues, errors;
    QString coefficientLabel;
    int cycles = -1;
    uint32_t addressColor = 0;
    double address = 0;
    std::vector<QString> messages;
};

class MainLogic : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
        qunsetenv("XDG_DOCUMENTS_DIR");
        config = std::make_unique<TConfigController>();
        logic = std::make_unique<TMainLogic>(&view, config.get());
    }
    void TearDown() override
    {
        logic.reset();
        sim.reset();
    }
    void StartSim(const std::string &type)
    {
        kestsim::SimOptions o;
        o.announce = false;
        o.deviceType = type;
        sim = std::make_unique<kestsim::KestSimulator>(o);
        ASSERT_TRUE(sim->Start());
        logic->SetPortOverride(QString::fromStdString(sim->InstallationPath()), QString());
    }

    QTemporaryDir home;
    RecordingView view;
    std::unique_ptr<TConfigController> config;
    std::unique_ptr<TMainLogic> logic;
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::vector<QString> &messages = view.messages;
};

} // namespace

TEST_F(MainLogic, StartUpLimitsAndLayouts)
{
    logic->StartUp();
    // A fresh start: "U", nominal 5 A and 219,39 V (four-wire 380 V), limits at 1,25 times those.
    EXPECT_EQ(logic->ConfigurationName(), "U");
    EXPECT_DOUBLE_EQ(view.limits["I"].second, 1.25 * logic->NominalI());
    EXPECT_DOUBLE_EQ(view.limits["U"].second, 1.25 * logic->NominalU());
    EXPECT_EQ(view.limits["F"], std::make_pair(45.0, 65.0));
    EXPECT_EQ(view.entries["F"], 51);
    EXPECT_FALSE(view.connected);
    EXPECT_FALSE(view.pauseEnabled);

    struct Case {
        const char *name;
        bool scheme4;
        QStringList outputs;
        int width;
        size_t groups;
        QStringList toggles;
    };
    const Case cases[] = {
        {"I", true, {"I", "F"}, 290, 1, {"Ia"}},
        {"F", true, {"U", "F"}, 290, 1, {"Ia"}},
        {"PQ", false, {"U", "I", "Угол", "F"}, 580, 2, {"Ia", "Ic"}},
        {"QX4", true, {"U", "I", "Угол", "F"}, 580, 9, {"Ia", "Ib", "Ic"}},
        {"QX4", false, {"U", "I", "Угол", "F"}, 580, 8, {"Ia", "Ic"}},
    };
    for (const Case &c : cases) {
        logic->SchemeChosen(c.scheme4);
        logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf(c.name));
        EXPECT_EQ(view.layout.outputControls, c.outputs) << c.name;
        EXPECT_EQ(view.layout.outputGroupWidth, c.width) << c.name;
        EXPECT_EQ(view.layout.groups.size(), c.groups) << c.name << " scheme4 " << c.scheme4;
        QStringList names;
        for (const auto &t : view.toggles)
            names << t.first;
        EXPECT_EQ(names, c.toggles) << c.name;
        TConfigController check;
        EXPECT_EQ(check.ini.ReadString("Launch", "ConfigIndex", ""), QString::number(TMainLogic::kConfigurations.indexOf(c.name)));
    }
    // "75..125" in "U": the voltage limit becomes 156,25.
    logic->ConfigurationChosen(1);
    logic->URangeChosen(1);
    EXPECT_DOUBLE_EQ(view.limits["U"].second, 156.25);
}

TEST_F(MainLogic, ConnectPollAndTheErrorHandlerWithoutAScreen)
{
    StartSim("QX4");
    logic->StartUp();
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("QX4"));
    logic->PollTimer().setInterval(200);
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return logic->IsDistantControlEnabled(); }, 5000));
    EXPECT_TRUE(view.connected);
    EXPECT_TRUE(view.pauseRunning);
    EXPECT_FALSE(view.settingsEnabled);
    ASSERT_TRUE(PumpUntil([&] { return logic->DevInfo().has_value() && !view.rsValues.empty(); }, 6000));
    // The installation's readings arrived and the transducer's were compared with them.
    EXPECT_TRUE(view.values.count(26));
    EXPECT_NEAR(view.errors[26], 0.0, 0.05);
    EXPECT_EQ(view.addressColor, TMainLogic::kGreen);

    // The pause button stops and restarts the polling.
    logic->PauseClicked();
    EXPECT_FALSE(logic->IsPolling());
    logic->PauseClicked();
    EXPECT_TRUE(logic->IsPolling());

    // A failure of the line: one message, the disconnected state, the port closed.
    logic->DevInterface()->SetResponseTimeOut(100);
    sim->Command("fault installation:noanswer");
    ASSERT_TRUE(PumpUntil([&] { return !messages.empty(); }, 5000));
    EXPECT_EQ(messages, std::vector<QString>{"Нет ответа"});
    EXPECT_FALSE(view.connected);
    EXPECT_FALSE(logic->IsDistantControlEnabled());
    EXPECT_FALSE(logic->DevInterface()->IsOpen());
    EXPECT_TRUE(view.rsValues.empty());
    EXPECT_EQ(view.coefficientLabel, "---");
    EXPECT_EQ(view.addressColor, TMainLogic::kAddressGrey);
}

TEST_F(MainLogic, ActionsQueueWhatTheConfigurationNeeds)
{
    StartSim("U");
    logic->StartUp();
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("U"));
    logic->URangeChosen(4);   // "0..500": the higher ranges, phases A and C in series
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return logic->IsDistantControlEnabled(); }, 5000));
    logic->PollTimer().stop();
    PumpFor(500);
    logic->ActionU(400);
    logic->DevInterface()->SendNextCmd();
    PumpFor(600);
    // The over-300 V switch first, then half the voltage on A and C.
    const std::string state = sim->Command("state");
    EXPECT_NE(state.find("set-u=200,0,200"), std::string::npos) << state;
    EXPECT_EQ(view.cycles, 0);
    EXPECT_TRUE(messages.empty());
}
