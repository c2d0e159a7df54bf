// The numeric entry: typing rules, taking the typed text, the step buttons with their limits, the
// upload button, the step kept in the settings and the step setter behind the pop-up menu.

#include "config/configcontroller.h"
#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/form4.h"
#include "presentation/controls/numericupdown.h"
#include "testfolder.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class NumericUpDown : public ::testing::Test {
protected:
    TTestFolder home;
    std::unique_ptr<TConfigController> config
        = std::make_unique<TConfigController>(home.dir.path(), "/Valtrix", "KestManager", "/Settings.txt");
    TNumericUpDown entry{nullptr, QStringLiteral("F")};
    std::vector<double> actions;

    void SetUp() override
    {
        entry.InitAppConfigAndStepSetter(config.get());
        entry.SetAction([this](double v) { actions.push_back(v); });
    }
    void Type(const QString &start, const QString &keys)
    {
        entry.ValueControl()->setText(start);
        QTest::keyClicks(entry.ValueControl(), keys);
    }
    void LeaveEdit()
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(entry.ValueControl(), &out);
    }
    void Click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center()); }
};

TEST_F(NumericUpDown, TypingKeepsTheShapeOfANumberWithTwoDecimals)
{
    struct Case {
        const char *start, *keys, *result;
    } cases[] = {
        {"12", "3", "123"}, {"12,5", "3", "12,53"}, {"12,53", "4", "12,53"}, // a third decimal is refused
        {"12", ",", "12,"}, {"12", ".", "12,"}, // the dot stands for the comma
        {"1,5", ",", "1,5"}, // a second separator is refused
        {"12", "a", "12"}, // letters are refused
        {"", "x1y2", "12"}, {"12", "e5", "125"}, // no exponents
        {"", "-", "-"}, // the start of a negative number
        {"-", "4", "-4"}, {"5", "-", "5"}, // a sign after digits is refused
        {"", "--1", "-1"}, {"", " 1", "1"}, // no blanks
        {"7", "\b", ""}, // backspace is always accepted
        {"0,333333333333333", "\b", "0,33333333333333"}, // even from a long text the program wrote
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.start) + " + " + c.keys);
        Type(QString::fromUtf8(c.start), QString::fromUtf8(c.keys));
        EXPECT_EQ(entry.ValueControl()->text().toStdString(), c.result);
    }
    // Pasting goes through the same rules.
    entry.ValueControl()->setText("1");
    entry.ValueControl()->insert("2,345");
    EXPECT_EQ(entry.ValueControl()->text(), "1");
    entry.ValueControl()->insert("2,34");
    EXPECT_EQ(entry.ValueControl()->text(), "12,34");
}

TEST_F(NumericUpDown, LeavingTheEditTakesTheTypedValueWithinTheLimits)
{
    struct Case {
        double min, max;
        const char *text;
        double value;
        const char *shown;
    } cases[] = {
        {0, 100, "12,5", 12.5, "12,5"},
        {0, 100, "", 0, "0"}, // cleared: 0
        {45, 65, "", 45, "45"}, // … or the minimum when that is larger
        {0, 100, "-", 0, "0"},
        {0, 100, "-3", 0, "0"},
        {-10, 100, "-3", -3, "-3"},
        {45, 65, "3", 45, "45"},
        {0, 6.25, "7", 6.25, "6,25"}, // never above the maximum
        {0, 100, "8,", 8, "8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        entry.SetMin(c.min);
        entry.SetMax(c.max);
        entry.ValueControl()->setText(QString::fromUtf8(c.text));
        LeaveEdit();
        EXPECT_DOUBLE_EQ(entry.Value(), c.value);
        EXPECT_EQ(entry.ValueControl()->text().toStdString(), c.shown);
    }
    EXPECT_TRUE(actions.empty()); // typing and leaving never run the action
}

TEST_F(NumericUpDown, SetValueLimitsFromAboveOnlyAndShowsTheShortestForm)
{
    entry.SetMin(45);
    entry.SetMax(65);
    entry.SetValue(50.25);
    EXPECT_EQ(entry.ValueControl()->text(), "50,25");
    entry.SetValue(70);
    EXPECT_EQ(entry.Value(), 65);
    entry.SetValue(10); // no lower limit here
    EXPECT_EQ(entry.Value(), 10);
    entry.SetValue(0.1 + 0.2);
    EXPECT_EQ(entry.ValueControl()->text(), "0,3");
    entry.SetMax(1e300);
    entry.SetValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(entry.Value(), 0);
    EXPECT_EQ(entry.ValueControl()->text(), "0");
    entry.SetValue(std::numeric_limits<double>::infinity()); // limited to the maximum first
    EXPECT_EQ(entry.Value(), 1e300);
}

TEST_F(NumericUpDown, StepButtonsStayWithinTheLimitsAndRunTheAction)
{
    struct Case {
        const char *what;
        double min, max, step, start;
        bool up;
        double result;
    } cases[] = {
        {"up", 0, 10, 1, 2.5, true, 3.5},
        {"up beyond the maximum", 0, 6.25, 1, 5.5, true, 6.25},
        {"up at the maximum", 0, 6.25, 1, 6.25, true, 6.25},
        {"down", 0, 10, 1, 2.5, false, 1.5},
        {"down from 0,3 with step 1", 0, 10, 1, 0.3, false, 0},
        {"down to exactly zero", 0, 10, 0.1, 0.1, false, 0},
        {"down rounds to two decimals", 0, 10, 0.1, 0.3, false, 0.2},
        {"down below a minimum above zero", 45, 65, 1, 45.5, false, 45},
        {"down far below a minimum above zero", 45, 65, 10, 50, false, 45},
        {"down at the minimum", 45, 65, 1, 45, false, 45},
        {"down below a negative minimum", -10, 10, 1, -9.5, false, -10},
        {"down across zero with a negative minimum", -10, 10, 1, 0.3, false, -0.7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        config->WriteTag("Increments", "F", c.step);
        entry.SetMin(c.min);
        entry.SetMax(1000);
        entry.SetValue(c.start);
        entry.SetMax(c.max);
        actions.clear();
        Click(c.up ? entry.UpDownControl()->UpButton() : entry.UpDownControl()->DownButton());
        EXPECT_DOUBLE_EQ(entry.Value(), c.result);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_DOUBLE_EQ(actions[0], c.result);
    }
}

TEST_F(NumericUpDown, DownFromAboveALoweredMaximumGivesTheMaximum)
{
    entry.SetMax(100);
    entry.SetValue(80);
    entry.SetMax(62.5); // the range changed under the value
    Click(entry.UpDownControl()->DownButton());
    EXPECT_EQ(entry.Value(), 62.5);
}

TEST_F(NumericUpDown, StepsTakeTheTypedTextFirst)
{
    entry.SetMax(100);
    entry.SetValue(10);
    entry.ValueControl()->setText("20,5");
    Click(entry.UpDownControl()->UpButton());
    EXPECT_EQ(entry.Value(), 21.5);
    entry.ValueControl()->setText("");
    Click(entry.UpDownControl()->DownButton());
    EXPECT_EQ(entry.Value(), 0);
    EXPECT_EQ(actions, (std::vector<double>{21.5, 0}));
}

TEST_F(NumericUpDown, StepComesFromTheSettingsPerCaption)
{
    EXPECT_EQ(entry.Step(), 1); // nothing stored
    config->WriteTag("Increments", "F", 0.5);
    config->WriteTag("Increments", "U", 10);
    EXPECT_EQ(entry.Step(), 0.5);
    entry.SetCaption("U");
    EXPECT_EQ(entry.TextControl()->text(), "U");
    EXPECT_EQ(entry.Step(), 10);
    // A stored step that would stop or turn the buttons around counts as 1.
    for (double bad : {0.0, -2.0}) {
        config->WriteTag("Increments", "U", bad);
        EXPECT_EQ(entry.Step(), 1) << bad;
    }
    config->ini.WriteString("Increments", "U", "abc");
    EXPECT_EQ(entry.Step(), 1);

    TNumericUpDown bare(nullptr, "X"); // no settings store: step 1
    bare.SetMax(10);
    bare.SetValue(2);
    Click(bare.UpDownControl()->UpButton());
    EXPECT_EQ(bare.Value(), 3);
}

TEST_F(NumericUpDown, UploadTakesTheTypedTextAndRunsTheAction)
{
    entry.SetMin(45);
    entry.SetMax(65);
    entry.SetValue(50);
    entry.ValueControl()->setText("51,25");
    Click(entry.UploadControl());
    EXPECT_EQ(entry.Value(), 51.25);
    entry.ValueControl()->setText("");
    Click(entry.UploadControl());
    EXPECT_EQ(actions, (std::vector<double>{51.25, 45}));

    // The picture changes while the button is held; releasing outside does not send.
    QTest::mousePress(entry.UploadControl(), Qt::LeftButton);
    EXPECT_TRUE(entry.UploadControl()->IsPressed());
    QTest::mouseRelease(entry.UploadControl(), Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_FALSE(entry.UploadControl()->IsPressed());
    EXPECT_EQ(actions.size(), 2u);
}

TEST_F(NumericUpDown, DisabledEntryRunsNothing)
{
    entry.SetValue(50);
    entry.SetEnabled(false);
    EXPECT_FALSE(entry.ValueControl()->isEnabled());
    Click(entry.UploadControl());
    Click(entry.UpDownControl()->UpButton());
    Click(entry.UpDownControl()->DownButton());
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(entry.Value(), 50);
    entry.SetEnabled(true);
    Click(entry.UploadControl());
    EXPECT_EQ(actions, (std::vector<double>{50}));

    // A button without a value or an action does nothing.
    TCustomActionButton button;
    int calls = 0;
    button.SetAction([&](double) { ++calls; });
    Click(&button);
    double value = 3;
    button.SetValueReference(&value);
    button.SetAction(nullptr);
    Click(&button);
    EXPECT_EQ(calls, 0);
    button.SetAction([&](double v) { calls += static_cast<int>(v); });
    Click(&button);
    EXPECT_EQ(calls, 3);
}

TEST_F(NumericUpDown, EditColourAndSize)
{
    EXPECT_EQ(entry.size(), QSize(TNumericUpDown::kWidth, TNumericUpDown::kHeight));
    entry.SetEditColor(QColor(250, 128, 114));
    EXPECT_EQ(entry.ValueControl()->palette().color(QPalette::Base), QColor(250, 128, 114));
}

TEST_F(NumericUpDown, StepSetterFromThePopUpMenuWritesTheSettings)
{
    config->WriteTag("Increments", "F", 0.5);
    entry.show();
    QContextMenuEvent menuEvent(
        QContextMenuEvent::Mouse, QPoint(5, 5), entry.ValueControl()->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(entry.ValueControl(), &menuEvent);
    QMenu *menu = entry.StepMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Изменить шаг...");
    EXPECT_TRUE(menu->isVisible());
    menu->actions()[0]->trigger();
    menu->close();

    TForm4 *setter = entry.StepSetter();
    ASSERT_NE(setter, nullptr);
    EXPECT_TRUE(setter->isVisible());
    EXPECT_EQ(setter->size(), QSize(137, 37));
    EXPECT_EQ(setter->Parameter(), "F");
    EXPECT_EQ(setter->Edit()->text(), "0,5"); // the stored step
    EXPECT_EQ(setter->pos(), entry.ValueControl()->mapToGlobal(QPoint(5, 5)));

    setter->Edit()->clear();
    QTest::keyClicks(setter->Edit(), "2,555"); // the same typing rules: the third decimal is refused
    EXPECT_EQ(setter->Edit()->text(), "2,55");
    QTest::mouseClick(setter->OkButton(), Qt::LeftButton);
    EXPECT_FALSE(setter->isVisible());
    EXPECT_EQ(config->ReadTag("Increments", "F"), 2.55);
    EXPECT_EQ(config->ini.ReadString("Increments", "F", ""), "2,55");

    entry.SetMax(100);
    entry.SetValue(10);
    Click(entry.UpDownControl()->UpButton());
    EXPECT_EQ(entry.Value(), 12.55);
}

TEST_F(NumericUpDown, StepSetterRefusesAStepThatIsNoPositiveNumber)
{
    struct Beeping : TForm4 {
        using TForm4::TForm4;
        int beeps = 0;
        void Beep() override { ++beeps; }
    } setter(&entry, config.get());
    setter.SetParameterName("Угол");
    EXPECT_EQ(setter.Edit()->text(), "1"); // nothing stored yet
    setter.show();
    for (const char *text : {"", "-", "0", "-1", ","}) {
        SCOPED_TRACE(text);
        setter.Edit()->setText(QString::fromUtf8(text));
        setter.Button1Click();
        EXPECT_TRUE(setter.isVisible());
    }
    EXPECT_EQ(setter.beeps, 5);
    EXPECT_EQ(config->ini.ReadString("Increments", "Угол", "absent"), "absent");
    setter.Edit()->setText("15");
    setter.Button1Click();
    EXPECT_FALSE(setter.isVisible());
    EXPECT_EQ(config->ReadTag("Increments", "Угол"), 15);
}

TEST_F(NumericUpDown, NoStepMenuWithoutASettingsStoreOrWhileDisabled)
{
    TNumericUpDown bare(nullptr, "X");
    bare.ShowStepMenu(QPoint(1, 1));
    EXPECT_EQ(bare.StepMenu(), nullptr);
    entry.SetEnabled(false);
    entry.ShowStepMenu(QPoint(1, 1));
    EXPECT_EQ(entry.StepMenu(), nullptr);
}

} // namespace
