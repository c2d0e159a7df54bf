#include "presentation/controls/numericupdownwithtoggles.h"

#include "presentation/controls/customactionbutton.h"

#include <QLabel>
#include <QLineEdit>

TNumericUpDownWithToggles::TNumericUpDownWithToggles(QWidget *parent, const QString &caption)
    : TNumericUpDown(parent, caption)
{
}

void TNumericUpDownWithToggles::SetToggle1(const QString &text, TToggle::TAction action)
{
    SetToggle(0, text, std::move(action));
}

void TNumericUpDownWithToggles::SetToggle2(const QString &text, TToggle::TAction action)
{
    SetToggle(1, text, std::move(action));
}

void TNumericUpDownWithToggles::SetToggle3(const QString &text, TToggle::TAction action)
{
    SetToggle(2, text, std::move(action));
}

void TNumericUpDownWithToggles::RemoveToggle1()
{
    names[0].clear();
}

void TNumericUpDownWithToggles::RemoveToggle2()
{
    names[1].clear();
}

void TNumericUpDownWithToggles::RemoveToggle3()
{
    names[2].clear();
}

void TNumericUpDownWithToggles::SetToggle1Action(TToggle::TAction action)
{
    SetToggleAction(0, std::move(action));
}

void TNumericUpDownWithToggles::SetToggle2Action(TToggle::TAction action)
{
    SetToggleAction(1, std::move(action));
}

void TNumericUpDownWithToggles::SetToggle3Action(TToggle::TAction action)
{
    SetToggleAction(2, std::move(action));
}

bool TNumericUpDownWithToggles::IsToggleActive1() const
{
    return IsToggleActive(0);
}

bool TNumericUpDownWithToggles::IsToggleActive2() const
{
    return IsToggleActive(1);
}

bool TNumericUpDownWithToggles::IsToggleActive3() const
{
    return IsToggleActive(2);
}

TToggle *TNumericUpDownWithToggles::GetToggle(const QString &name) const
{
    for (qsizetype i = toggles.size() - 1; i >= 0; --i)
        if (toggleNames[i] == name)
            return toggles[i];
    return nullptr;
}

void TNumericUpDownWithToggles::SetEnabled(bool value)
{
    TNumericUpDown::SetEnabled(value);
    enabled = value;
    for (TToggle *toggle : toggles)
        toggle->SetEnabled(value);
}

void TNumericUpDownWithToggles::SetToggle(int slot, const QString &text, TToggle::TAction action)
{
    names[slot] = text;
    actions[slot] = std::move(action);
    RebuildToggles();
}

void TNumericUpDownWithToggles::SetToggleAction(int slot, TToggle::TAction action)
{
    actions[slot] = action;
    if (slotToggles[slot])
        slotToggles[slot]->SetAction(std::move(action));
}

bool TNumericUpDownWithToggles::IsToggleActive(int index) const
{
    return index < toggles.size() && toggles[index]->State();
}

void TNumericUpDownWithToggles::RebuildToggles()
{
    // A toggle may be rebuilt from inside its own click action (the window reconfigures itself),
    // so the old ones are deleted later, once control has left them.
    for (TToggle *toggle : toggles) {
        toggle->hide();
        toggle->SetAction(nullptr);
        toggle->deleteLater();
    }
    for (QLabel *label : labels) {
        label->hide();
        label->deleteLater();
    }
    toggles.clear();
    labels.clear();
    toggleNames.clear();
    slotToggles.fill(nullptr);

    int width = kWidth;
    int height = kHeight;
    const QRect upload = UploadControl()->geometry();
    int x = upload.x() + upload.width() + kToggleGap;
    const int y = ValueControl()->geometry().y();
    QFont small = font();
    small.setPixelSize(8);
    for (int slot = 0; slot < 3; ++slot) {
        if (names[slot].isEmpty())
            continue;
        if (toggles.isEmpty())
            height += kLabelHeight;
        auto *toggle = new TToggle(this);
        toggle->setObjectName(QStringLiteral("Toggle%1").arg(slot + 1));
        toggle->move(x, y);
        toggle->SetAction(actions[slot]);
        toggle->SetEnabled(enabled);
        toggle->show();
        auto *label = new QLabel(names[slot], this);
        label->setObjectName(QStringLiteral("ToggleLabel%1").arg(slot + 1));
        label->setFont(small);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(x, y + TToggle::kHeight, TToggle::kWidth, kLabelHeight);
        label->show();
        toggles.append(toggle);
        labels.append(label);
        toggleNames.append(names[slot]);
        slotToggles[slot] = toggle;
        x += TToggle::kWidth + kToggleGap;
        width += TToggle::kWidth + kToggleGap;
    }
    setFixedSize(width, height);
}
