// The float spin edit: limits, precision, units in the text, parsing on leaving, keys and steps.

#include "presentation/controls/floatspinedit.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class CountingSpinEdit : public TFloatSpinEdit {
public:
    int beeps = 0;
    QLineEdit *Line() const { return lineEdit(); }
    void Leave()
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(this, &out);
    }

protected:
    void Beep() override { ++beeps; }
};

TEST(UnitCalculator, TriplesWithIntegerFactorsOnly)
{
    TUnitCalculator units;
    units.SetUnits("A|1|1|mA|1000|1|kA|1|1000|bad|1,5|1|zero|0|1|neg|-1|1|tail|2");
    ASSERT_EQ(units.Count(), 3);
    EXPECT_EQ(units.Unit(1).name, "mA");
    EXPECT_EQ(units.Unit(1).mult, 1000);
    EXPECT_EQ(units.Unit(1).divi, 1);
    EXPECT_EQ(units.IndexOf("kA"), 2);
    EXPECT_EQ(units.IndexOf("bad"), -1);
    EXPECT_EQ(units.IndexOf("tail"), -1);
    EXPECT_DOUBLE_EQ(units.ToUnit(1.5, 1), 1500);
    EXPECT_DOUBLE_EQ(units.ToUnit(1500, 2), 1.5);
    EXPECT_DOUBLE_EQ(units.FromUnit(1500, 1), 1.5);
    EXPECT_DOUBLE_EQ(units.ToUnit(7, -1), 7);
    EXPECT_DOUBLE_EQ(units.FromUnit(7, 9), 7);
    units.SetUnits("");
    EXPECT_EQ(units.Count(), 0);
}

TEST(FloatSpinEdit, ValueIsLimitedRoundedAndShownWithTheComma)
{
    struct Case {
        double min, max;
        int precision;
        double set, value;
        const char *text;
    } cases[] = {
        {0, 0, -2, 1.2345, 1.23, "1,23"}, // equal limits: no limit
        {0, 0, -2, -1e6, -1e6, "-1000000"}, {0, 10, -2, 12, 10, "10"}, {0, 10, -2, -1, 0, "0"},
        {0, 10, -1, 2.46, 2.5, "2,5"}, {0, 10, 0, 2.5, 3, "3"},
        {0, 1000, 1, 123, 120, "120"}, // positive precision rounds to tens
        {0.5, 5, -2, std::nan(""), 0.5, "0,5"}, // not a number: the minimum
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.set);
        CountingSpinEdit edit;
        edit.SetMinValue(c.min);
        edit.SetMaxValue(c.max);
        edit.SetPrecision(c.precision);
        edit.SetValue(c.set);
        EXPECT_DOUBLE_EQ(edit.Value(), c.value);
        EXPECT_EQ(edit.Line()->text().toStdString(), c.text);
    }
}

TEST(FloatSpinEdit, UnitsInTheText)
{
    CountingSpinEdit edit;
    edit.SetUnites("A|1|1|mA|1000|1");
    edit.SetValue(1.5);
    EXPECT_EQ(edit.Line()->text(), "1,5");
    edit.SetCurrentUnit(1);
    EXPECT_EQ(edit.Line()->text(), "1500 mA");
    EXPECT_DOUBLE_EQ(edit.Value(), 1.5);
    edit.SetCurrentUnit(5); // no such unit
    EXPECT_EQ(edit.CurrentUnit(), -1);
    EXPECT_EQ(edit.Line()->text(), "1,5");
}

TEST(FloatSpinEdit, LeavingParsesNumberAndUnit)
{
    struct Case {
        const char *text;
        int defaultUnit;
        double value;
        int unit;
        const char *shown;
    } cases[] = {
        {"2,5", -1, 2.5, -1, "2,5"}, {"2.5", -1, 2.5, -1, "2,5"}, {"  7 ", -1, 7, -1, "7"},
        {"750 mA", -1, 0.75, 1, "750 mA"}, {"750mA", -1, 0.75, 1, "750 mA"}, {"2,5 A", 1, 2.5, 0, "2,5 A"},
        {"300 xyz", 1, 0.3, 1, "300 mA"}, // an unknown name means the default unit
        {"3 xyz", -1, 3, -1, "3"}, {"400", 1, 0.4, 1, "400 mA"},
        {"4", 1, 0.1, 1, "100 mA"}, // 0,004 A is below the minimum      // no name: the default unit too
        {"abc", -1, 0.1, -1, "0,1"}, // no number: the minimum
        {"", -1, 0.1, -1, "0,1"}, {"-", -1, 0.1, -1, "0,1"}, {"1,2,3", -1, 0.1, -1, "0,1"},
        {"99 A", -1, 50, 0, "50 A"}, // still limited
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        CountingSpinEdit edit;
        edit.SetUnites("A|1|1|mA|1000|1");
        edit.SetMinValue(0.1);
        edit.SetMaxValue(50);
        edit.SetPrecision(-4);
        edit.SetDefaultUnit(c.defaultUnit);
        edit.SetValue(1);
        edit.Line()->setText(QString::fromUtf8(c.text));
        edit.Leave();
        EXPECT_DOUBLE_EQ(edit.Value(), c.value);
        EXPECT_EQ(edit.CurrentUnit(), c.unit);
        EXPECT_EQ(edit.Line()->text().toStdString(), c.shown);
    }
}

TEST(FloatSpinEdit, KeysAndSteps)
{
    CountingSpinEdit edit;
    edit.SetIncrement(0.5);
    edit.SetValue(0.5);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.Value(), 1);
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.Value(), 0);
    edit.stepBy(3);
    EXPECT_EQ(edit.Value(), 1.5);

    // "," and "." both enter the comma; Enter is refused with a beep.
    edit.Line()->setText("2");
    edit.Line()->end(false);
    QTest::keyClicks(&edit, ".");
    QTest::keyClicks(&edit, "7");
    EXPECT_EQ(edit.Line()->text(), "2,7");
    QTest::keyClick(&edit, Qt::Key_Return);
    QTest::keyClick(&edit, Qt::Key_Enter);
    EXPECT_EQ(edit.beeps, 2);
    EXPECT_EQ(edit.Value(), 1.5); // Enter took nothing
    QTest::keyClick(&edit, Qt::Key_Up); // steps from the typed value
    EXPECT_DOUBLE_EQ(edit.Value(), 3.2);

    // Without the editor only the steps change the value.
    edit.SetEditorEnabled(false);
    edit.Line()->selectAll();
    QTest::keyClicks(&edit, "9,");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.Line()->text(), "3,2");
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_DOUBLE_EQ(edit.Value(), 3.7);

    // Read-only: steps beep and change nothing.
    edit.setReadOnly(true);
    const int beeps = edit.beeps;
    QTest::keyClick(&edit, Qt::Key_Up);
    edit.stepBy(1);
    EXPECT_DOUBLE_EQ(edit.Value(), 3.7);
    EXPECT_EQ(edit.beeps, beeps + 2);
}

TEST(FloatSpinEdit, ValueChangedOnlyOnChange)
{
    TFloatSpinEdit edit;
    int changes = 0;
    QObject::connect(&edit, &TFloatSpinEdit::valueChanged, [&](double) { ++changes; });
    edit.SetValue(2);
    edit.SetValue(2);
    edit.SetValue(2.001); // rounds to the same value
    edit.stepBy(1);
    EXPECT_EQ(changes, 2);
}

} // namespace
