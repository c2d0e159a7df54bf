// The phase toggle and the numeric entry with toggles: a click asks for the opposite state, only
// SwitchState shows it; toggles are rebuilt, laid out and looked up as the windows expect.

#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/numericupdownwithtoggles.h"
#include "presentation/controls/toggle.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

void Click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

TEST(Toggle, ClickAsksForTheOppositeStateAndOnlySwitchStateShowsIt)
{
    TToggle toggle;
    std::vector<bool> asked;
    toggle.SetAction([&](bool state) { asked.push_back(state); });
    EXPECT_EQ(toggle.size(), QSize(10, 20));
    EXPECT_TRUE(toggle.State());
    EXPECT_FALSE(toggle.IsEnabled());

    // Disabled: a click asks nothing and SwitchState does nothing.
    Click(&toggle);
    toggle.SwitchState();
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(toggle.State());

    toggle.SetEnabled(true);
    const QImage onPicture = toggle.grab().toImage();
    Click(&toggle);
    EXPECT_EQ(asked, (std::vector<bool>{false}));
    EXPECT_TRUE(toggle.State()); // not until the installation confirms
    EXPECT_EQ(toggle.grab().toImage(), onPicture);

    toggle.SwitchState();
    EXPECT_FALSE(toggle.State());
    EXPECT_NE(toggle.grab().toImage(), onPicture);
    Click(&toggle);
    EXPECT_EQ(asked, (std::vector<bool>{false, true}));
    toggle.SwitchState();
    EXPECT_TRUE(toggle.State());
    EXPECT_EQ(toggle.grab().toImage(), onPicture);

    // A right click or a release outside is no click.
    QTest::mouseClick(&toggle, Qt::RightButton);
    QTest::mousePress(&toggle, Qt::LeftButton);
    QTest::mouseRelease(&toggle, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(asked.size(), 2u);
}

TEST(NumericUpDownWithToggles, LayoutGrowsByEachToggle)
{
    TNumericUpDownWithToggles entry(nullptr, "I");
    EXPECT_EQ(entry.size(), QSize(123, 36));
    struct Case {
        int count;
        QSize size;
    } cases[] = {
        {1, QSize(123 + 13, 46)},
        {2, QSize(123 + 26, 46)},
        {3, QSize(123 + 39, 46)},
        {0, QSize(123, 36)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        entry.RemoveToggle1();
        entry.RemoveToggle2();
        entry.RemoveToggle3();
        if (c.count >= 2)
            entry.SetToggle2("Ib", nullptr);
        if (c.count >= 3)
            entry.SetToggle3("Ic", nullptr);
        if (c.count >= 1)
            entry.SetToggle1("Ia", nullptr);
        else
            entry.SetToggle1("", nullptr); // rebuild with no names at all
        EXPECT_EQ(entry.size(), c.size);
        ASSERT_EQ(entry.Toggles().size(), c.count);
        ASSERT_EQ(entry.Labels().size(), c.count);
        const QRect upload = entry.UploadControl()->geometry();
        int x = upload.right() + 1 + 3;
        for (int i = 0; i < c.count; ++i) {
            const QRect t = entry.Toggles()[i]->geometry();
            EXPECT_EQ(t.x(), x);
            EXPECT_EQ(t.size(), QSize(10, 20));
            EXPECT_LE(t.right(), entry.width() - 1);
            const QRect l = entry.Labels()[i]->geometry();
            EXPECT_EQ(l, QRect(t.x(), t.bottom() + 1, 10, 10));
            EXPECT_LE(l.bottom(), entry.height() - 1);
            x += 13;
        }
    }
}

TEST(NumericUpDownWithToggles, StatesByOrderAndLookupByCaption)
{
    TNumericUpDownWithToggles entry(nullptr, "I");
    std::vector<QString> asked;
    auto recorder = [&](const QString &name) {
        return [&asked, name](bool state) { asked.push_back(name + (state ? "+" : "-")); };
    };
    // The three-wire set-up: "Ia" and "Ic" only.
    entry.SetToggle1("Ia", recorder("Ia"));
    entry.SetToggle3("Ic", recorder("Ic"));
    entry.SetEnabled(true);
    EXPECT_TRUE(entry.IsToggleActive1());
    EXPECT_TRUE(entry.IsToggleActive2());
    EXPECT_FALSE(entry.IsToggleActive3()); // there is no third toggle

    TToggle *ic = entry.GetToggle("Ic");
    ASSERT_NE(ic, nullptr);
    EXPECT_EQ(entry.GetToggle("Ib"), nullptr);
    Click(ic);
    EXPECT_EQ(asked, (std::vector<QString>{"Ic-"}));
    ic->SwitchState();
    EXPECT_TRUE(entry.IsToggleActive1());
    EXPECT_FALSE(entry.IsToggleActive2()); // the second toggle shown is "Ic"

    // Replacing an action keeps the toggle and its state.
    entry.SetToggle3Action(recorder("Ic'"));
    Click(ic);
    EXPECT_EQ(asked.back(), "Ic'+");
    EXPECT_EQ(entry.GetToggle("Ic"), ic);
    EXPECT_FALSE(ic->State());

    // Two toggles with one caption: the last one is found.
    entry.SetToggle2("Ic", recorder("second"));
    EXPECT_EQ(entry.Toggles().size(), 3);
    EXPECT_EQ(entry.GetToggle("Ic"), entry.Toggles()[2]);

    // Rebuilding returns every state to "on".
    EXPECT_TRUE(entry.IsToggleActive3());
    entry.RemoveToggle2();
    EXPECT_EQ(entry.Toggles().size(), 3); // effective only at the next rebuild
    entry.SetToggle3("Ic", recorder("Ic"));
    EXPECT_EQ(entry.Toggles().size(), 2);
    EXPECT_TRUE(entry.IsToggleActive1());
    EXPECT_TRUE(entry.IsToggleActive2());
    EXPECT_EQ(entry.Labels()[1]->text(), "Ic");
}

TEST(NumericUpDownWithToggles, EnablingReachesEveryToggleAlsoAfterARebuild)
{
    TNumericUpDownWithToggles entry(nullptr, "U");
    entry.SetToggle1(" ", nullptr);
    EXPECT_FALSE(entry.Toggles()[0]->IsEnabled()); // toggles start disabled
    entry.SetEnabled(true);
    EXPECT_TRUE(entry.Toggles()[0]->IsEnabled());
    entry.SetToggle2("x", nullptr);
    EXPECT_TRUE(entry.Toggles()[0]->IsEnabled());
    EXPECT_TRUE(entry.Toggles()[1]->IsEnabled());
    entry.SetEnabled(false);
    for (TToggle *toggle : entry.Toggles())
        EXPECT_FALSE(toggle->IsEnabled());
    EXPECT_FALSE(entry.ValueControl()->isEnabled());
}

TEST(NumericUpDownWithToggles, ActionMayRebuildTheTogglesUnderItself)
{
    TNumericUpDownWithToggles entry(nullptr, "I");
    int runs = 0;
    entry.SetToggle1("Ia", [&](bool) {
        ++runs;
        entry.SetToggle2("Ic", nullptr); // destroys the toggle that is being clicked
    });
    entry.SetEnabled(true);
    TToggle *ia = entry.Toggles()[0];
    Click(ia);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(entry.Toggles().size(), 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(entry.findChildren<TToggle *>().size(), 2);
}

} // namespace
