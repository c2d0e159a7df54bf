// The readout groups: texts of the three rows, unit prefixes, the red error field and the dashes.

#include "presentation/controls/labelanderror.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "presentation/controls/readoutfield.h"
#include "presentation/controls/windowscolor.h"
#include "protocol/parameters.h"

#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

TEST(WindowsColor, NumbersAreBlueGreenRed)
{
    EXPECT_EQ(ColorFromWindows(255), QColor(255, 0, 0));
    EXPECT_EQ(ColorFromWindows(16777215), QColor(255, 255, 255));
    EXPECT_EQ(ColorFromWindows(12639424), QColor(192, 220, 192));
    EXPECT_EQ(ColorFromWindows(7504122), QColor(250, 128, 114));
}

TEST(ParameterGroup, ErrorFieldIsRedOnlyAboveThePermissibleError)
{
    TDeviceInfo devinfo;
    devinfo.transfCoefs = {100, 5, 10000, 100};
    devinfo.UnitCode = 1;
    using Setter = std::function<void(TParameterGroupComponent &, double perm, double error)>;
    const std::pair<const char *, Setter> setters[] = {
        {"QX4", [&](auto &g, double p, double e) { g.SetValueRsAndErrorQX4(devinfo, p, e, 1); }},
        {"not QX4", [&](auto &g, double p, double e) { g.SetValueRsAndErrorNotQX4(devinfo, p, e, 1); }},
        {"analog", [&](auto &g, double p, double e) { g.SetAnalogValueAndError(p, 12, e); }},
    };
    struct Case {
        double permissible, error;
        bool red;
    } cases[] = {
        {0.5, 0.5, false},
        {0.5, 0.5001, true},
        {0.5, -0.5, false},
        {0.5, -0.5001, true},
        {0.5, 0, false},
        {0.2, 0.25, true},
        {1, 123.6, true},
        {1, 0.99, false},
    };
    for (const auto &[name, set] : setters)
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(c.error));
            TParameterGroupComponent group;
            set(group, c.permissible, c.error);
            EXPECT_EQ(FieldColor(group.ErrorField()), c.red ? kRed : kWhite);
        }
}

TEST(ParameterGroup, ReferenceRowRoundsAndShowsFourDigits)
{
    TParameterGroupComponent group;
    EXPECT_EQ(group.size(), QSize(TParameterGroupComponent::kWidth, 71));
    struct Case {
        int round;
        double v;
        double kept;
        const char *text;
    } cases[] = {
        {2, 57.7350, 57.74, "57,74"},
        {3, 57.7350, 57.735, "57,73"},
        {0, 219.6, 220, "220"},
        {2, 0.5, 0.5, "0,500"},
        {4, -12.5, -12.5, "-12,50"},
        {2, 0.00004, 0, "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.v);
        group.SetRoundValue(c.round);
        group.SetValue(c.v);
        EXPECT_DOUBLE_EQ(group.Value(), c.kept);
        EXPECT_EQ(group.ValueField()->text().toStdString(), c.text);
    }
    group.SetRoundValue(2);
    group.SetValue(1);
    group.DisplayValue(3.14159); // shown, not kept
    EXPECT_EQ(group.ValueField()->text(), "3,140");
    EXPECT_EQ(group.Value(), 1);
}

TEST(ParameterGroup, TransducerRowTextsAndUnits)
{
    TParameterGroupComponent group;
    group.SetParameter("Uab");
    group.SetMeasure("V");
    EXPECT_EQ(group.Measure1(), "V");
    EXPECT_EQ(group.Measure2(), "V");
    EXPECT_EQ(group.InterfaceCaption(), "Rs");
    EXPECT_TRUE(group.findChild<QLabel *>("Parameter")->font().bold());

    // A line voltage with U1 = 10000 is shown in kV.
    TDeviceInfo devinfo;
    devinfo.transfCoefs = {100, 5, 10000, 100};
    group.SetParamNumber(7);
    group.SetValueRsAndErrorQX4(devinfo, 0.5, 0.123456, 10012.3);
    EXPECT_EQ(group.Measure2(), "kV");
    EXPECT_EQ(group.Measure1(), "V");
    EXPECT_EQ(group.ValueRsField()->text(), "10,01");
    EXPECT_EQ(group.ErrorField()->text(), "0,12");
    EXPECT_EQ(group.ValueRS(), 10012.3);

    // A phase voltage with U1 = 1000 keeps no prefix.
    devinfo.transfCoefs = {100, 5, 1000, 100};
    group.SetParamNumber(1);
    group.SetValueRsAndErrorQX4(devinfo, 0.5, -1.234, 577.35);
    EXPECT_EQ(group.Measure2(), "V");
    EXPECT_EQ(group.ValueRsField()->text(), "577,3");
    EXPECT_EQ(group.ErrorField()->text(), "-1,23");

    // Other transducers report their unit by code; values with 3 digits.
    devinfo.UnitCode = 5;
    group.SetValueRsAndErrorNotQX4(devinfo, 0.5, 0.25, 1.23456);
    EXPECT_EQ(group.Measure2(), "kV");
    EXPECT_EQ(group.ValueRsField()->text(), "1,23");
    devinfo.UnitCode = 99;
    group.SetValueRsAndErrorNotQX4(devinfo, 0.5, 0.25, 1);
    EXPECT_EQ(group.Measure2(), "");

    // The analog row keeps the unit and shows 4 digits.
    group.SetMeasure2("mA");
    group.SetAnalogValueAndError(0.5, 12.04, 0.2);
    EXPECT_EQ(group.Measure2(), "mA");
    EXPECT_EQ(group.ValueRsField()->text(), "12,04");
    EXPECT_EQ(group.ErrorField()->text(), "0,20");
    EXPECT_EQ(group.ValueRS(), 12.04);

    group.SetInterfaceCaption("Ан.");
    EXPECT_EQ(group.InterfaceCaption(), "Ан.");
}

TEST(ParameterGroup, DashesAndDefaultRs)
{
    TParameterGroupComponent group;
    group.SetValue(5);
    group.SetAnalogValueAndError(0.5, 12.5, 3); // red
    ASSERT_EQ(FieldColor(group.ErrorField()), kRed);
    group.SetDefaultRs();
    EXPECT_EQ(group.ValueField()->text(), "5,00");
    EXPECT_EQ(group.ValueRsField()->text(), "---");
    EXPECT_EQ(group.ErrorField()->text(), "---");
    EXPECT_EQ(FieldColor(group.ErrorField()), kWhite);

    group.SetAnalogValueAndError(0.5, 12.5, 3);
    group.SetDashes();
    EXPECT_EQ(group.ValueField()->text(), "---");
    EXPECT_EQ(group.ValueRsField()->text(), "---");
    EXPECT_EQ(group.ErrorField()->text(), "---");
    EXPECT_EQ(FieldColor(group.ErrorField()), kWhite);
    EXPECT_TRUE(group.ErrorField()->isReadOnly());
}

TEST(LabelAndError, KeepsTheErrorToThreeDecimals)
{
    TLabelAndError group;
    EXPECT_EQ(group.size(), QSize(100, 51));
    group.SetParamName("Ia");
    EXPECT_EQ(group.ParamName(), "Ia");
    struct Case {
        double v, kept;
        const char *text;
    } cases[] = {
        {1.23456, 1.235, "1,23"},
        {-0.0004, 0, "0"},
        {0.0005, 0.001, "0"},
        {0.0096, 0.01, "0,01"},
        {-12.3456, -12.346, "-12,3"},
        {150, 150, "150"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.v);
        group.SetError(c.v);
        EXPECT_DOUBLE_EQ(group.Error(), c.kept);
        EXPECT_EQ(group.ErrorField()->text().toStdString(), c.text);
    }
}

TEST(RoundTo, HalfAwayFromZeroAndSafeForHugeValues)
{
    EXPECT_DOUBLE_EQ(RoundTo(2.345, 2), 2.35);
    EXPECT_DOUBLE_EQ(RoundTo(-2.5, 0), -3);
    EXPECT_DOUBLE_EQ(RoundTo(1234, -2), 1200);
    EXPECT_DOUBLE_EQ(RoundTo(1e300, 2), 1e300);
    EXPECT_TRUE(std::isnan(RoundTo(std::nan(""), 2)));
}

} // namespace
