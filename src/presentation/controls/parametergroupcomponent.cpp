#include "presentation/controls/parametergroupcomponent.h"

#include "presentation/controls/readoutfield.h"
#include "presentation/controls/windowscolor.h"
#include "presentation/parameterscaling.h"
#include "protocol/parameters.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

TParameterGroupComponent::TParameterGroupComponent(QWidget *parent) : QFrame(parent)
{
    setFixedSize(kWidth, kHeight);
    setFrameShape(QFrame::NoFrame);

    parameterLabel = NewReadoutLabel(this, QStringLiteral("Parameter"), QString(), 1, 0, 98, 14);
    QFont bold = parameterLabel->font();
    bold.setBold(true);
    parameterLabel->setFont(bold);

    valueField = NewReadoutField(this, QStringLiteral("ValueField"), 35, 15, 41, 18);
    measure1Label = NewReadoutLabel(this, QStringLiteral("Measure1"), QString(), 77, 15, 31, 18);

    interfaceLabel = NewReadoutLabel(this, QStringLiteral("InterfaceCaption"), QStringLiteral("Rs"), 0, 34, 35, 18);
    valueRsField = NewReadoutField(this, QStringLiteral("ValueRsField"), 35, 34, 41, 18);
    measure2Label = NewReadoutLabel(this, QStringLiteral("Measure2"), QString(), 77, 34, 31, 18);

    NewReadoutLabel(this, QStringLiteral("ErrorCaption"), QStringLiteral("Погр."), 0, 53, 35, 18);
    errorField = NewReadoutField(this, QStringLiteral("ErrorField"), 35, 53, 41, 18);
    NewReadoutLabel(this, QStringLiteral("ErrorUnit"), QStringLiteral("%"), 77, 53, 31, 18);
    SetErrorColor(false);
}

void TParameterGroupComponent::SetParameter(const QString &name)
{
    parameterLabel->setText(name);
}

QString TParameterGroupComponent::Parameter() const
{
    return parameterLabel->text();
}

void TParameterGroupComponent::SetMeasure(const QString &unit)
{
    SetMeasure1(unit);
    SetMeasure2(unit);
}

void TParameterGroupComponent::SetMeasure1(const QString &unit)
{
    measure1Label->setText(unit);
}

void TParameterGroupComponent::SetMeasure2(const QString &unit)
{
    measure2Label->setText(unit);
}

QString TParameterGroupComponent::Measure1() const
{
    return measure1Label->text();
}

QString TParameterGroupComponent::Measure2() const
{
    return measure2Label->text();
}

void TParameterGroupComponent::SetInterfaceCaption(const QString &caption)
{
    interfaceLabel->setText(caption);
}

QString TParameterGroupComponent::InterfaceCaption() const
{
    return interfaceLabel->text();
}

void TParameterGroupComponent::SetValue(double v)
{
    value = RoundTo(v, RoundValue);
    valueField->setText(TParameterScaling::GetStringFromFloat(4, value));
}

void TParameterGroupComponent::DisplayValue(double v)
{
    valueField->setText(TParameterScaling::GetStringFromFloat(4, RoundTo(v, RoundValue)));
}

void TParameterGroupComponent::SetValueRsAndErrorQX4(
    const TDeviceInfo &devinfo, double permissibleError, double error, double v)
{
    const int prefix = TParameterScaling::GetPrefixNum(ParamNumber, devinfo.transfCoefs);
    SetMeasure2(TParameterScaling::GetPrefixName(prefix) + Measure1());
    valueRS = v;
    ShowError(permissibleError, error);
    valueRsField->setText(TParameterScaling::GetValueStringAccordingToPrefix(prefix, valueRS));
}

void TParameterGroupComponent::SetValueRsAndErrorNotQX4(
    const TDeviceInfo &devinfo, double permissibleError, double error, double v)
{
    SetMeasure2(TParameterScaling::GetUnitName(devinfo.UnitCode));
    valueRS = v;
    ShowError(permissibleError, error);
    valueRsField->setText(TParameterScaling::GetStringFromFloat(3, valueRS));
}

void TParameterGroupComponent::SetAnalogValueAndError(double permissibleError, double v, double error)
{
    valueRS = v;
    ShowError(permissibleError, error);
    valueRsField->setText(TParameterScaling::GetStringFromFloat(4, valueRS));
}

void TParameterGroupComponent::SetDefaultRs()
{
    valueRsField->setText(kDashes);
    errorField->setText(kDashes);
    SetErrorColor(false);
}

void TParameterGroupComponent::SetDashes()
{
    SetDefaultRs();
    valueField->setText(kDashes);
}

void TParameterGroupComponent::ShowError(double permissibleError, double error)
{
    errorField->setText(TParameterScaling::GetStringFromFloat(3, error));
    SetErrorColor(std::fabs(error) > permissibleError);
}

void TParameterGroupComponent::SetErrorColor(bool exceeded)
{
    SetFieldColor(errorField, ColorFromWindows(exceeded ? kWindowsRed : kWindowsWhite));
}
