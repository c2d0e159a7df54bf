#pragma once
// A numeric entry with up to three phase toggles to the right of its upload button, each with a
// small caption under it. Setting a toggle rebuilds all of them: the old ones are destroyed, so
// every state returns to "on".

#include "presentation/controls/numericupdown.h"
#include "presentation/controls/toggle.h"

#include <QList>

#include <array>

class QLabel;

class TNumericUpDownWithToggles : public TNumericUpDown {
    Q_OBJECT
public:
    static constexpr int kToggleGap = 3;
    static constexpr int kLabelHeight = 10;

    explicit TNumericUpDownWithToggles(QWidget *parent = nullptr, const QString &caption = QString());

    void SetToggle1(const QString &text, TToggle::TAction action);
    void SetToggle2(const QString &text, TToggle::TAction action);
    void SetToggle3(const QString &text, TToggle::TAction action);
    // Clear a toggle's name; the toggle goes at the next rebuild.
    void RemoveToggle1();
    void RemoveToggle2();
    void RemoveToggle3();
    // Replace the action of the toggle set with SetToggle1/2/3.
    void SetToggle1Action(TToggle::TAction action);
    void SetToggle2Action(TToggle::TAction action);
    void SetToggle3Action(TToggle::TAction action);
    // The state of the first, second and third toggle shown; false when there are fewer.
    bool IsToggleActive1() const;
    bool IsToggleActive2() const;
    bool IsToggleActive3() const;
    // The toggle captioned `name` (the last one if several), or nullptr.
    TToggle *GetToggle(const QString &name) const;

    // Also enables or disables every toggle, including those of later rebuilds.
    void SetEnabled(bool value) override;

    const QList<TToggle *> &Toggles() const { return toggles; }
    const QList<QLabel *> &Labels() const { return labels; }

private:
    void SetToggle(int slot, const QString &text, TToggle::TAction action);
    void SetToggleAction(int slot, TToggle::TAction action);
    bool IsToggleActive(int index) const;
    void RebuildToggles();

    std::array<QString, 3> names; // ftoggle1–ftoggle3
    std::array<TToggle::TAction, 3> actions; // fAction1–fAction3
    std::array<TToggle *, 3> slotToggles{}; // the toggle built for each name, or nullptr
    QList<TToggle *> toggles;
    QList<QLabel *> labels;
    QList<QString> toggleNames;
    bool enabled = false;
};
