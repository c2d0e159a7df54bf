// The scenario settings: the rules driven through the logic with a recording view, and the windows
// offscreen (layout, clicks, the pop-up menu, OK).

#include "config/configcontroller.h"
#include "presentation/controls/messageservice.h"
#include "testhome.h"
#include "verification/scenariosettings.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

#include <memory>

namespace {

class TRecordingView : public IScenarioSettingsView {
public:
    void ShowState() override { ++shown; }
    void ShowError(const QString &text) override { errors << text; }
    void ShowMessage(const QString &text) override { messages << text; }
    void ShowAnalogMenu(int output, const std::vector<std::pair<int, QString>> &items) override
    {
        menuOutput = output;
        menu = items;
    }
    void CloseWindow() override { closed = true; }

    QStringList MenuNames() const
    {
        QStringList names;
        for (const auto &item : menu)
            names << item.second;
        return names;
    }

    int shown = 0;
    QStringList errors, messages;
    int menuOutput = 0;
    std::vector<std::pair<int, QString>> menu;
    bool closed = false;
};

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TConfigurationCode Code(const QString &name)
{
    const std::optional<TConfigurationCode> code = ConfigurationFromName(name);
    if (!code)
        throw std::invalid_argument(name.toStdString());
    return *code;
}

struct TBench {
    TBench() : store(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt") { }
    std::unique_ptr<TScenarioSettingsLogic> Open(const QString &code, int tab = 0)
    {
        auto logic = std::make_unique<TScenarioSettingsLogic>(Code(code), &view);
        logic->Init(&store, tab);
        return logic;
    }
    QString Text() const { return QString::fromUtf8(ReadAll(store.settingsPath)); }
    TConfigController store;
    TRecordingView view;
};

std::vector<int> Checked(const TScenarioSettingsLogic &logic)
{
    std::vector<int> checked;
    for (size_t i = 0; i < logic.Parameters().size(); ++i)
        if (logic.Parameters()[i].checked)
            checked.push_back(int(i + 1));
    return checked;
}

int EnabledCount(const TScenarioSettingsLogic &logic)
{
    return int(std::count_if(
        logic.Parameters().begin(), logic.Parameters().end(), [](const TCheckState &b) { return b.enabled; }));
}

TEST(ScenarioSettingsLogic, NeverSavedConfigurationAndTheLimitOfFive)
{
    TBench bench;
    auto logic = bench.Open("QX4");
    EXPECT_EQ(logic->TabNames(), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_TRUE(Checked(*logic).empty());
    for (const TCheckState &box : logic->Inputs())
        EXPECT_TRUE(box.checked && box.enabled) << box.caption.toStdString();
    EXPECT_FALSE(logic->IsAnalog());
    for (const TCheckState &box : logic->AnalogBoxes())
        EXPECT_EQ(box.caption, "Analog");
    EXPECT_EQ(logic->LimitText(), "Максимум параметров на вкладку: 5");
    EXPECT_EQ(logic->Parameters().size(), 31u);
    EXPECT_EQ(logic->Parameters()[25].caption, "Частота");

    for (int k : {1, 4, 22, 23})
        logic->ParameterClicked(k, true);
    EXPECT_EQ(EnabledCount(*logic), 31);
    logic->ParameterClicked(26, true);
    EXPECT_EQ(EnabledCount(*logic), 5) << "the fifth box disables the unchecked ones";
    logic->ParameterClicked(2, true); // disabled: nothing happens
    EXPECT_EQ(Checked(*logic), std::vector<int>({1, 4, 22, 23, 26}));
    logic->ParameterClicked(4, false);
    EXPECT_EQ(EnabledCount(*logic), 31);

    // Five stored entries open with the unchecked boxes disabled; a change of tab stores the tab left.
    logic->ParameterClicked(4, true);
    logic->TabSelected(1);
    EXPECT_TRUE(Checked(*logic).empty());
    EXPECT_EQ(EnabledCount(*logic), 31);
    EXPECT_TRUE(bench.Text().contains("[ScenarioOutputColNumsQX4]\n0=1,4,22,23,26\n"));
    auto again = bench.Open("QX4", 0);
    EXPECT_EQ(Checked(*again), std::vector<int>({1, 4, 22, 23, 26}));
    EXPECT_EQ(EnabledCount(*again), 5);
    EXPECT_TRUE(bench.view.errors.isEmpty());
}

TEST(ScenarioSettingsLogic, AnalogMenuSavingRulesAndClosingWithoutOk)
{
    TBench bench;
    auto logic = bench.Open("QX4", 2);
    logic->InterfaceChosen(true);
    logic->AnalogRightClicked(1);
    EXPECT_EQ(bench.view.menuOutput, 1);
    ASSERT_EQ(bench.view.menu.size(), 33u);
    EXPECT_EQ(bench.view.menu[21], std::make_pair(22, QString("P")));
    logic->AnalogParameterChosen(22);
    logic->AnalogRightClicked(3);
    logic->AnalogParameterChosen(26);
    logic->AnalogRightClicked(2);
    EXPECT_EQ(bench.view.menu.size(), 31u);
    EXPECT_FALSE(bench.view.MenuNames().contains("P"));
    EXPECT_FALSE(bench.view.MenuNames().contains("F"));
    EXPECT_EQ(logic->AnalogBoxes()[0].caption, "P");
    EXPECT_EQ(logic->AnalogOut.OutArray, (std::array<uint8_t, 3>{22, 0, 26}));
    logic->AnalogClicked(1, true);
    logic->AnalogClicked(3, true);
    logic->InputClicked(2, false); // "Частота"
    logic->InputClicked(3, false); // "Угол"
    logic->TabNameEdited("Аналог, \"P\"");
    EXPECT_EQ(logic->TabNames()[2], "Аналог, \"P\"");

    // Closing without OK: nothing is written.
    const QByteArray untouched = ReadAll(bench.store.settingsPath);
    logic.reset();
    EXPECT_EQ(ReadAll(bench.store.settingsPath), untouched);

    logic = bench.Open("QX4", 2);
    logic->InterfaceChosen(true);
    logic->AnalogRightClicked(1);
    logic->AnalogParameterChosen(22);
    logic->AnalogClicked(1, true);
    logic->InputClicked(2, false);
    logic->InputClicked(3, false);
    logic->ParameterClicked(4, true);
    logic->OkClicked();
    EXPECT_TRUE(bench.view.closed);
    const QString text = bench.Text();
    EXPECT_TRUE(text.contains("[ScenarioRemovedInputColNumsTagQX4]\n2=103,102\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[ScenarioAnalogOutputColNumsQX4]\n2=1\n"));
    EXPECT_TRUE(text.contains("[ScenarioAnalogOutputParamNumsQX4]\n2=22,0,0\n"));
    EXPECT_TRUE(text.contains("[ScenarioOutputColNumsQX4]\n2=4\n"));
    EXPECT_TRUE(text.contains("QX4=0,0,-1,0,0,0,0,0,0,0\n"));

    // A tab change writes the output and input sets and the names, never the interface choice.
    auto next = bench.Open("QX4", 2);
    EXPECT_TRUE(next->IsAnalog());
    EXPECT_EQ(next->AnalogBoxes()[0].caption, "P");
    EXPECT_TRUE(next->AnalogBoxes()[0].checked);
    next->InterfaceChosen(false);
    next->TabSelected(5);
    next->TabSelected(2);
    EXPECT_TRUE(next->IsAnalog()) << "re-read from the file";
}

TEST(ScenarioSettingsLogic, FixedSetupsOfTheIAndUWindows)
{
    struct TCase {
        const char *code;
        int fixedParam;
        const char *caption;
        int removedBox;
        const char *removedNumber;
    };
    for (const TCase &c : {TCase{"I", 4, "Ia", 1, "101"}, TCase{"U", 1, "Ua", 0, "100"}}) {
        SCOPED_TRACE(c.code);
        TBench bench;
        const auto config = CreateAvtopoverkaConfig(Code(c.code), &bench.store);
        config->WriteTabOutputSet(0, {"22", "23"}); // never shown by these windows
        auto logic = bench.Open(c.code);
        EXPECT_EQ(Checked(*logic), std::vector<int>{c.fixedParam});
        EXPECT_EQ(EnabledCount(*logic), 0);
        EXPECT_FALSE(logic->Inputs()[size_t(c.removedBox)].checked);
        EXPECT_FALSE(logic->Inputs()[size_t(c.removedBox)].enabled);
        EXPECT_EQ(logic->AnalogBoxes()[0].caption, c.caption);
        EXPECT_TRUE(logic->AnalogBoxes()[0].checked);
        for (const TCheckState &box : logic->AnalogBoxes())
            EXPECT_FALSE(box.enabled);
        logic->InputClicked(c.removedBox, true);
        logic->AnalogRightClicked(2);
        EXPECT_TRUE(bench.view.menu.empty()) << "a disabled box opens no menu";
        logic->InputClicked(3, false);
        logic->TabSelected(4);
        EXPECT_FALSE(logic->Inputs()[size_t(c.removedBox)].checked);
        logic->InterfaceChosen(true);
        logic->OkClicked();
        const QString text = bench.Text();
        const QString code = c.code;
        EXPECT_TRUE(text.contains(
            "[ScenarioRemovedInputColNumsTag" + code + "]\n0=" + c.removedNumber + ",102\n4=" + c.removedNumber + "\n"))
            << text.toStdString();
        EXPECT_TRUE(text.contains(code + "=0,0,0,0,-1,0,0,0,0,0\n"));
        EXPECT_TRUE(text.contains("[ScenarioOutputColNums" + code + "]\n0=22,23\n")) << "output set untouched";
        EXPECT_FALSE(text.contains("ParamNums"));
        EXPECT_FALSE(text.contains("ScenarioAnalogOutputColNums"));
    }
}

TEST(ScenarioSettingsLogic, PqForcedAssignmentAndBadStoredEntries)
{
    TBench bench;
    TConfigPQ pq(&bench.store);
    pq.WriteTabOutputAnalogParamSet(0, {"4", "5", "6"});
    pq.WriteTabOutputAnalogParamSet(1, {"1", "2", "3"});
    // The single-quantity transducers open the same window but offer their own quantity alone.
    for (const auto &[code, param, caption] : {std::tuple{"F", 26, "F"}, {"P", 22, "P"}, {"Q", 23, "Q"}}) {
        SCOPED_TRACE(code);
        auto logic = bench.Open(code);
        EXPECT_EQ(Checked(*logic), std::vector<int>{param});
        EXPECT_EQ(EnabledCount(*logic), 0);
        EXPECT_EQ(logic->AnalogBoxes()[0].caption, caption);
        EXPECT_EQ(logic->AnalogOut.OutArray[0], param);
    }
    for (const char *code : {"PQ"}) {
        auto logic = bench.Open(code);
        EXPECT_EQ(logic->AnalogOut.OutArray, (std::array<uint8_t, 3>{22, 23, 6}));
        EXPECT_EQ(logic->AnalogBoxes()[1].caption, "Q");
        EXPECT_FALSE(logic->AnalogBoxes()[2].enabled);
        // Both at first; the second opening finds Q alone, as the first one left tab 1.
        EXPECT_EQ(Checked(*logic), QString(code) == "PQ" ? std::vector<int>({22, 23}) : std::vector<int>({23}));
        EXPECT_EQ(EnabledCount(*logic), 2);
        EXPECT_FALSE(logic->setup().limitLabelVisible);
        logic->ParameterClicked(22, false);
        EXPECT_EQ(EnabledCount(*logic), 2) << "the limit rule never enables the fixed boxes";
        logic->TabSelected(1);
        EXPECT_EQ(logic->AnalogOut.OutArray, (std::array<uint8_t, 3>{1, 2, 3})) << "other tabs as stored";
    }

    // A bad entry shows its message; loading stops there, the boxes already set stay.
    struct TCase {
        const char *code;
        const char *section;
        const char *value;
        const char *bad; // the entry the message names; none when the list is good
        std::vector<int> checked;
        std::array<bool, 3> ports;
        std::array<uint8_t, 3> analog;
    };
    const TCase cases[] = {
        {"QX4", "ScenarioOutputColNumsQX4", "4,abc,22", "abc", {4}, {}, {}},
        {"QX4", "ScenarioOutputColNumsQX4", "4,32", "32", {4}, {}, {}},
        {"QX4E", "ScenarioOutputColNumsQX4E", "4,32,33", nullptr, {4, 32, 33}, {}, {}},
        {"QX4", "ScenarioAnalogOutputColNumsQX4", "1,4,2", "4", {}, {true, false, false}, {}},
        {"QX4", "ScenarioAnalogOutputParamNumsQX4", "22,x,23", "x", {}, {}, {22, 0, 0}},
        {"QX4", "ScenarioAnalogOutputParamNumsQX4", "22,99,23", "99", {}, {}, {22, 0, 0}},
        {"QX4", "ScenarioAnalogOutputParamNumsQX4", "22", nullptr, {}, {}, {22, 0, 0}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.value);
        TBench b;
        b.store.ini.WriteString(c.section, "6", c.value);
        auto logic = b.Open(c.code, 6);
        ASSERT_EQ(b.view.errors.size(), c.bad ? 1 : 0);
        if (c.bad) {
            EXPECT_TRUE(b.view.errors[0].contains(QString("«%1»").arg(c.bad))) << b.view.errors[0].toStdString();
        }
        EXPECT_EQ(Checked(*logic), c.checked);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(logic->AnalogBoxes()[size_t(k)].checked, c.ports[size_t(k)]);
        EXPECT_EQ(logic->AnalogOut.OutArray, c.analog);
    }

    // A PQ tab saved with P alone opens with P alone, and OK keeps it so; a never-saved one gets both.
    for (const QStringList &stored : {QStringList{"22"}, QStringList{"23"}, QStringList{}}) {
        SCOPED_TRACE(stored.join(",").toStdString());
        TBench b;
        TConfigPQ(&b.store).WriteTabOutputSet(0, stored);
        auto logic = b.Open("PQ");
        const std::vector<int> expected
            = stored.isEmpty() ? std::vector<int>{22, 23} : std::vector<int>{stored[0].toInt()};
        EXPECT_EQ(Checked(*logic), expected);
        logic->OkClicked();
        EXPECT_EQ(TConfigPQ(&b.store).ReadTabOutputSet(0).size(), qsizetype(expected.size()));
    }

    // A bad output entry stops the tab's loading, yet nothing of the tab shown before stays on it:
    // leaving it (or OK) writes nothing of the other tab into it.
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "tab change");
        TBench b;
        b.store.ini.WriteString("ScenarioOutputColNumsQX4", "1", "4,x");
        auto logic = b.Open("QX4", 0);
        logic->InputClicked(2, false); // "Частота" left out on tab 1
        logic->InterfaceChosen(true);
        logic->AnalogClicked(2, true);
        logic->AnalogRightClicked(2);
        logic->AnalogParameterChosen(22);
        logic->TabSelected(1);
        ASSERT_EQ(b.view.errors.size(), 1);
        for (const TCheckState &box : logic->Inputs())
            EXPECT_TRUE(box.checked) << box.caption.toStdString();
        for (const TCheckState &box : logic->AnalogBoxes())
            EXPECT_FALSE(box.checked) << box.caption.toStdString();
        EXPECT_EQ(logic->AnalogOut.OutArray, (std::array<uint8_t, 3>{0, 0, 0}));
        EXPECT_FALSE(logic->IsAnalog()) << "interfaces as stored";
        if (ok)
            logic->OkClicked();
        else
            logic->TabSelected(0);
        TConfigQX4 qx4(&b.store);
        EXPECT_TRUE(qx4.ReadRemovedTabInputSet(1).isEmpty());
        EXPECT_TRUE(qx4.ReadTabOutputAnalogPortSet(1).isEmpty());
        EXPECT_NE(qx4.ReadTabOutputAnalogParamSet(1).value(1), "22");
    }
}

TEST(ScenarioSettingsWindow, OffscreenWindowsShowAndForwardTheLogic)
{
    QStringList boxes;
    TScopedMessageHandler handler([&](QWidget *, const TMessageService::TMessage &m) {
        boxes << m.caption + ": " + m.text;
        return QMessageBox::Ok;
    });
    TConfigController store(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    store.ini.WriteString("ScenarioAnalogOutputParamNumsQX4E", "1", "22,q");

    auto window = CreateScenarioSettings(TConfigurationCode::QX4E);
    window->Init(&store, 1);
    auto *kest = dynamic_cast<TScenarioSettingsKest *>(window.get());
    ASSERT_NE(kest, nullptr);
    EXPECT_EQ(window->windowTitle(), "Настройки сценария");
    EXPECT_TRUE(window->isModal());
    ASSERT_EQ(boxes.size(), 1) << "the bad stored entry is shown";
    EXPECT_TRUE(boxes[0].startsWith("Ошибка: ")) << boxes[0].toStdString();
    window->show();

    ASSERT_EQ(window->CheckBoxesParams.size(), 33u);
    EXPECT_EQ(window->CheckBoxesParams[32]->text(), "Энергия реакт.");
    const int left = window->CheckBoxesParams[0]->x();
    EXPECT_EQ(window->CheckBoxesParams[14]->x(), left);
    EXPECT_GT(window->CheckBoxesParams[15]->x(), left) << "16 and up in the right column";
    EXPECT_EQ(window->CheckBoxesParams[15]->y(), window->CheckBoxesParams[0]->y());
    EXPECT_EQ(window->ComboBox1->currentIndex(), 1);
    EXPECT_EQ(window->findChild<QLabel *>("LimitLabel")->text(), "Максимум параметров на вкладку: 5");

    const auto click = [](QAbstractButton *box) { QTest::mouseClick(box, Qt::LeftButton, {}, {6, box->height() / 2}); };
    click(window->CheckBoxesParams[31]);
    EXPECT_TRUE(window->Logic().Parameters()[31].checked);
    click(kest->RadioAnalog);
    EXPECT_TRUE(window->Logic().IsAnalog());
    EXPECT_FALSE(window->CheckBoxesParams[0]->isVisible());
    ASSERT_TRUE(kest->CheckBoxesAnalog[0]->isVisible());
    EXPECT_EQ(kest->CheckBoxesAnalog[0]->text(), "P");
    emit kest->CheckBoxesAnalog[1]->customContextMenuRequested({5, 5});
    ASSERT_NE(window->AnalogMenu, nullptr);
    const auto actions = window->AnalogMenu->actions();
    ASSERT_EQ(actions.size(), 32) << "all but P";
    actions[3]->trigger(); // "Ia"
    EXPECT_EQ(kest->CheckBoxesAnalog[1]->text(), "Ia");
    click(kest->CheckBoxesAnalog[1]);

    window->Edit1->setFocus();
    window->Edit1->selectAll();
    QTest::keyClicks(window->Edit1, "Energy, W");
    EXPECT_EQ(window->ComboBox1->itemText(1), "Energy, W");
    QTest::mouseClick(window->OkButton, Qt::LeftButton);
    EXPECT_EQ(window->result(), QDialog::Accepted);
    const QString text = QString::fromUtf8(ReadAll(store.settingsPath));
    EXPECT_TRUE(text.contains("[ScenarioAnalogOutputParamNumsQX4E]\n1=22,4,0\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[ScenarioAnalogOutputColNumsQX4E]\n1=2\n"));
    EXPECT_TRUE(text.contains("[ScenarioOutputColNumsQX4E]\n1=32\n"));
    EXPECT_TRUE(text.contains("QX4E=1,\"Energy, W\",3"));
}

} // namespace
