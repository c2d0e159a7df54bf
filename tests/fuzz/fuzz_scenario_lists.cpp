// Arbitrary text as the stored scenario lists of one tab (output set, removed inputs, analog ports,
// analog parameters, interface values, tab names) of any configuration: opening the scenario
// settings never crashes, never shows a box the configuration does not allow, and what OK stores
// opens again exactly as it was shown.

#include "config/configcontroller.h"
#include "verification/scenariosettingslogic.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

class TView : public IScenarioSettingsView {
public:
    void ShowState() override { }
    void ShowError(const QString &) override { ++errors; }
    void ShowMessage(const QString &) override { }
    void ShowAnalogMenu(int, const std::vector<std::pair<int, QString>> &) override { }
    void CloseWindow() override { }
    int errors = 0;
};

struct TState {
    std::vector<bool> checked;
    std::vector<bool> inputs;
    std::vector<bool> ports;
    std::array<uint8_t, 3> analog;
    bool analogInterface;
    bool operator==(const TState &) const = default;
};

TState StateOf(const TScenarioSettingsLogic &logic)
{
    TState s;
    for (const TCheckState &b : logic.Parameters())
        s.checked.push_back(b.checked);
    for (const TCheckState &b : logic.Inputs())
        s.inputs.push_back(b.checked);
    for (const TCheckState &b : logic.AnalogBoxes())
        s.ports.push_back(b.checked);
    s.analog = logic.AnalogOut.OutArray;
    s.analogInterface = logic.IsAnalog();
    return s;
}

TConfigController &Store()
{
    static QTemporaryDir dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/kest-fuzz-XXXXXX")
                                                       : QDir::tempPath() + "/kest-fuzz-XXXXXX");
    static TConfigController store(dir.path(), "/Valtrix", "KestManager", "/Settings.txt");
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const TConfigurationCode codes[] = {TConfigurationCode::QX4, TConfigurationCode::QX4E,
        TConfigurationCode::PQ, TConfigurationCode::I, TConfigurationCode::U, TConfigurationCode::F};
    const TConfigurationCode code = codes[data[0] % 6];
    const int tab = (data[0] / 6) % 10;
    const QStringList parts
        = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1).split(u'\n');
    TConfigController &store = Store();
    const TScenarioSetup &setup = TScenarioSettingsLogic::Setup(code);
    const QString c = ConfigurationName(setup.window);
    {
        TIniBatch batch(store.ini);
        for (const QString &section : store.ini.ReadSections())
            store.ini.EraseSection(section);
        const QString t = QString::number(tab);
        store.ini.WriteString("ScenarioOutputColNums" + c, t, parts.value(0));
        store.ini.WriteString("ScenarioRemovedInputColNumsTag" + c, t, parts.value(1));
        store.ini.WriteString("ScenarioAnalogOutputColNums" + c, t, parts.value(2));
        store.ini.WriteString(
            (c == "I" ? "ScenarioOutputParamNums" : "ScenarioAnalogOutputParamNums") + c, t, parts.value(3));
        store.ini.WriteString("ScenarioTabInterface", c, parts.value(4));
        store.ini.WriteString("ScenarioTabNames", c, parts.value(5));
    }

    TView view;
    TScenarioSettingsLogic logic(code, &view);
    logic.Init(&store, tab);
    if (logic.TabNames().size() != 10)
        std::abort();
    for (int k = 1; k <= int(logic.Parameters().size()); ++k) {
        const TCheckState &box = logic.Parameters()[size_t(k - 1)];
        const bool allowed = setup.fixedOutput == piNone
            && (setup.onlyOutputs[0] == piNone || k == setup.onlyOutputs[0] || k == setup.onlyOutputs[1]);
        if (box.enabled && !allowed)
            std::abort();
    }
    for (const uint8_t n : logic.AnalogOut.OutArray)
        if (n > TParameters::kCount)
            std::abort();
    logic.AnalogRightClicked(1);
    if (view.errors > 0)
        return 0;

    const TState shown = StateOf(logic);
    logic.OkClicked();
    TScenarioSettingsLogic again(code, &view);
    again.Init(&store, tab);
    if (view.errors > 0 || !(StateOf(again) == shown))
        std::abort();
    return 0;
}
