// The main window's logic without any widget: a recording view in place of the screen, the simulated
// installation on the other end of the line.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <optional>

#include "kestsimulator.h"
#include "mainwindow/mainlogic.h"
#include "protocol/numberformat.h"
#include "pty.h"

namespace {

// Remembers what the logic asked the screen to show.
class RecordingView : public IMainView {
public:
    void ShowError(const QString &text) override { messages.push_back(text); }
    void ShowMessage(const QString &text) override { messages.push_back(text); }
    void ShowConnection(bool c) override { connected = c; }
    void SetConnectButtonEnabled(bool) override { }
    void SetPause(bool running, bool enabled) override { pauseRunning = running, pauseEnabled = enabled; }
    void SetOutputControlsEnabled(bool e) override { outputsEnabled = e; }
    void SetConfigurationSettingsEnabled(bool e) override { settingsEnabled = e; }
    void SetReadSettingsEnabled(bool) override { }
    void SetAddressEnabled(bool) override { }
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
    void SetEnergyErrors(double, double) override { }
    void SetAnalogSelector(int, const QString &, bool) override { }
    void SelectAnalogOutput(int) override { }
    void SetAnalogGroupEnabled(bool) override { }
    void SetAnalogSelectorsEnabled(bool e) override { analogSelectorsEnabled = e; }
    void SetAnalogParameter(const QString &, const QString &, int) override { }
    void SetAnalogReadout(double, double, double, double) override { }
    void SetAnalogDashes() override { }
    void ShowParameterMenu(int) override { }
    void ShowInstallationPhasors(const TParameters &, bool scheme4) override { phasorPolls++, phasorScheme4 = scheme4; }
    void ShowTransducerPhasors(const TParameters &, const TTransfCoefs &) override { transducerPhasors++; }
    void ForgetTransducerPhasors() override { transducerPhasors = 0; }
    void ClearPhasors() override { phasorPolls = 0; }
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
    int phasorPolls = 0, transducerPhasors = 0;
    bool phasorScheme4 = false;
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
        EXPECT_EQ(check.ini.ReadString("Launch", "ConfigIndex", ""),
            QString::number(TMainLogic::kConfigurations.indexOf(c.name)));
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

    // A failure of the line: the disconnected state at once, then the switch-off is still tried; the
    // silent installation cannot confirm it, which is said, and the port closes.
    logic->DevInterface()->SetResponseTimeOut(100);
    sim->Command("fault installation:noanswer");
    ASSERT_TRUE(PumpUntil([&] { return !messages.empty(); }, 5000));
    EXPECT_EQ(messages[0], "Нет ответа");
    EXPECT_FALSE(view.connected);
    EXPECT_FALSE(logic->IsDistantControlEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !logic->DevInterface()->IsOpen(); }, 5000));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].startsWith("Выходы установки не удалось выключить: «выключение усилителей»: Нет ответа"))
        << messages[1].toStdString();
    EXPECT_TRUE(view.rsValues.empty());
    EXPECT_EQ(view.coefficientLabel, "---");
    EXPECT_EQ(view.addressColor, TMainLogic::kAddressGrey);
}

TEST_F(MainLogic, ActionsQueueWhatTheConfigurationNeeds)
{
    StartSim("U");
    logic->StartUp();
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("U"));
    logic->URangeChosen(4); // "0..500": the higher ranges, phases A and C in series
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return logic->IsDistantControlEnabled(); }, 5000));
    // Each step waits for the line to fall idle, not for a time: a loaded machine only makes it later.
    auto idle = [&] { return !logic->DevInterface()->IsWaiting() && logic->DevInterface()->IsQueueEmpty(); };
    logic->PollTimer().stop();
    ASSERT_TRUE(PumpUntil(idle, 5000));
    logic->ActionU(400);
    logic->DevInterface()->SendNextCmd();
    ASSERT_TRUE(PumpUntil(idle, 10000));
    // The over-300 V switch first, then half the voltage on A and C.
    const std::string state = sim->Command("state");
    EXPECT_NE(state.find("set-u=200,0,200"), std::string::npos) << state;
    EXPECT_EQ(view.cycles, 0);
    EXPECT_TRUE(messages.empty());
}

namespace {

// The scheme flag of the last scheme command waiting in the queue; none when there is none.
std::optional<bool> LastQueuedScheme(TMainLogic &logic)
{
    std::optional<bool> scheme;
    for (const TFramePtr &f : logic.DevInterface()->QueuedCmds())
        if (f && TKestCmdManager::IsCmdSetScheme(*f))
            scheme = f->data[5] != 0;
    return scheme;
}

double StateValue(const std::string &state, const std::string &key)
{
    const size_t at = state.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::stod(state.substr(at + key.size() + 2));
}

} // namespace

// One scheme, the scheme selector's, decides the layout, the toggles, the nominal key, the limits and
// the scheme command, whatever voltage is chosen; connecting then configures the installation in it.
TEST_F(MainLogic, SchemeSelectorGovernsWhateverTheVoltage)
{
    StartSim("QX4");
    logic->StartUp();
    TGlobalConfig &g = logic->GlobalConfig();
    struct Key {
        const char *voltage;
        bool scheme4;
        QString (TGlobalConfig::*read)() const;
    };
    const Key keys[] = {
        {"100", false, &TGlobalConfig::ReadU100_3},
        {"100", true, &TGlobalConfig::ReadU100_4},
        {"380", false, &TGlobalConfig::ReadU380_3},
        {"380", true, &TGlobalConfig::ReadU380_4},
        {"400", false, &TGlobalConfig::ReadU400_3},
        {"400", true, &TGlobalConfig::ReadU400_4},
    };
    for (const char *name : {"P", "Q", "PQ", "QX4", "QX4E"}) {
        logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf(name));
        const bool qx4 = QString(name).startsWith("QX4");
        for (const Key &k : keys) {
            // Both orders of choosing: the voltage last and the scheme last.
            for (bool schemeLast : {false, true}) {
                logic->DevInterface()->CleaerQueue();
                if (schemeLast) {
                    logic->VoltageChosen(*VoltageRangeFromCaption(k.voltage));
                    logic->SchemeChosen(k.scheme4);
                } else {
                    logic->SchemeChosen(k.scheme4);
                    logic->VoltageChosen(*VoltageRangeFromCaption(k.voltage));
                }
                const std::string where = std::string(name) + " " + k.voltage + (k.scheme4 ? " 4-x" : " 3-x");
                EXPECT_EQ(logic->Selections().scheme4, k.scheme4) << where;
                EXPECT_EQ(view.shown.scheme4, k.scheme4) << where;
                EXPECT_EQ(Caption(view.shown.voltage), k.voltage) << where;
                EXPECT_EQ(LastQueuedScheme(*logic), k.scheme4) << where;
                EXPECT_DOUBLE_EQ(logic->NominalU(), StrToFloat((g.*k.read)())) << where;
                EXPECT_DOUBLE_EQ(view.limits["U"].second, 1.25 * logic->NominalU()) << where;
                QStringList toggles;
                for (const auto &t : view.toggles)
                    toggles << t.first;
                EXPECT_EQ(toggles, k.scheme4 ? QStringList({"Ia", "Ib", "Ic"}) : QStringList({"Ia", "Ic"})) << where;
                if (qx4) {
                    EXPECT_EQ(view.layout.groups.size(), k.scheme4 ? 9u : 8u) << where;
                }
            }
        }
    }
    EXPECT_TRUE(messages.empty());

    // The case that put 100 V on every phase of a 57,74 V transducer: "4-x" with "100".
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("QX4"));
    logic->SchemeChosen(true);
    logic->VoltageChosen(TVoltageRange::V100);
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return logic->IsDistantControlEnabled(); }, 5000));
    EXPECT_TRUE(logic->KestConfiguration().SchemeFlag);
    logic->PollTimer().stop();
    ASSERT_TRUE(
        PumpUntil([&] { return !logic->DevInterface()->IsWaiting() && logic->DevInterface()->IsQueueEmpty(); }, 5000));
    logic->ActionU(logic->NominalU());
    logic->DevInterface()->SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return StateValue(sim->Command("state"), "ua") > 1; }, 5000));
    const std::string state = sim->Command("state");
    EXPECT_NE(state.find("scheme=4"), std::string::npos) << state;
    EXPECT_NEAR(StateValue(state, "ua"), 57.74, 0.01) << state;
    EXPECT_NEAR(StateValue(state, "ub"), 57.74, 0.01) << state;

    // Closing: amplifiers off and remote control off, both confirmed, before the port goes.
    logic->Shutdown();
    EXPECT_FALSE(logic->DevInterface()->IsOpen());
    const std::string after = sim->Command("state");
    EXPECT_NE(after.find("remote=0"), std::string::npos) << after;
    EXPECT_EQ(StateValue(after, "ua"), 0) << after;
    EXPECT_EQ(StateValue(after, "ia"), 0) << after;
}

// "PQ" with "VQ": the protocol chosen stays what is shown and what parses the answers, also across a
// range change; the transducer's P is read as P.
TEST_F(MainLogic, PqProtocolSurvivesRangeChangesAndParsesTheAnswers)
{
    StartSim("PQ");
    sim->Command("protocol vq");
    sim->Command("coefs 100 100 5 5"); // as the settings' defaults, so that the errors are the meter's
    logic->StartUp();
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("PQ"));
    logic->ProtocolChosen(1);
    logic->RsParamNumChosen(1);
    logic->VoltageChosen(TVoltageRange::V100); // full scale 5 A · 100 V · √3, as the transducer's
    logic->CurrentRangeChosen(TCurrentRange::A1);
    logic->CurrentRangeChosen(TCurrentRange::A5);
    EXPECT_EQ(logic->Selections().protocolIndex, 1);
    EXPECT_EQ(view.shown.protocolIndex, 1);
    logic->SchemeChosen(true);
    EXPECT_EQ(view.shown.protocolIndex, 1);
    EXPECT_EQ(view.shown.rsParamNum, 1);
    logic->PollTimer().setInterval(300);
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return logic->IsDistantControlEnabled(); }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return logic->DevInfo().has_value(); }, 6000));
    logic->ActionU(57.74);
    logic->ActionI(1);
    view.rsValues.clear();
    ASSERT_TRUE(PumpUntil([&] { return view.values[piP] > 100 && view.rsValues.count(piP); }, 8000));
    ASSERT_TRUE(PumpUntil([&] { return view.rsValues.count(piP) && std::abs(view.errors[piP]) < 0.5; }, 6000))
        << "P error " << view.errors[piP];
    EXPECT_EQ(view.rsValues.count(piQ), 0u); // Q not read under number 1: dashes
    // A configuration chosen anew starts at "Modbus" again, shown as it is held.
    logic->ConnectClicked();
    ASSERT_TRUE(PumpUntil([&] { return !logic->DevInterface()->IsOpen(); }, 5000));
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("QX4"));
    logic->ConfigurationChosen(TMainLogic::kConfigurations.indexOf("PQ"));
    EXPECT_EQ(view.shown.protocolIndex, 0);
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
}

// Each stored value on its own at start-up: a bad one gives its message once and its default, without
// keeping a good one from being read; the analog selectors stay off while disconnected.
TEST_F(MainLogic, StartUpReadsEachValueOnItsOwn)
{
    struct Case {
        const char *error;
        const char *i5;
        double permissible;
        size_t messages;
    };
    const Case cases[] = {{"abc", "5", 0.2, 1}, {"0,5", "x", 0.5, 1}, {"NAN", "", 0.2, 2}, {"0,3", "5", 0.3, 0}};
    for (const Case &c : cases) {
        logic.reset();
        view.messages.clear();
        config->ini.WriteString("Launch", "Error", c.error);
        config->ini.WriteString("Parameters", "I5", c.i5);
        logic = std::make_unique<TMainLogic>(&view, config.get());
        logic->StartUp();
        EXPECT_DOUBLE_EQ(logic->PermissibleError(), c.permissible) << c.error;
        EXPECT_EQ(view.messages.size(), c.messages) << c.error << " " << c.i5;
        EXPECT_GT(logic->NominalU(), 200) << c.error; // 380 V four-wire, read whatever the others
    }
    EXPECT_FALSE(view.analogSelectorsEnabled);
    view.messages.clear();
    logic->EnableAnalogChosen(true);
    EXPECT_FALSE(view.analogSelectorsEnabled);
    logic->AnalogSelectorClicked(1); // nothing to command while disconnected, and no "Нет ответа"
    EXPECT_TRUE(view.messages.empty());
}
