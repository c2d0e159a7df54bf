#include "presentation/controls/floatspinedit.h"

#include "presentation/controls/readoutfield.h"
#include "protocol/numberformat.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <cmath>

TFloatSpinEdit::TFloatSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    ShowValue();
}

void TFloatSpinEdit::SetMinValue(double value)
{
    FMinValue = value;
    SetValue(FValue);
}

void TFloatSpinEdit::SetMaxValue(double value)
{
    FMaxValue = value;
    SetValue(FValue);
}

void TFloatSpinEdit::SetPrecision(int value)
{
    FPrecision = value;
    SetValue(FValue);
}

void TFloatSpinEdit::SetEditorEnabled(bool value)
{
    FEditorEnabled = value;
    // A read-only line still lets the text be selected and copied; only changing it is refused.
    lineEdit()->setReadOnly(!value);
}

void TFloatSpinEdit::SetValue(double value)
{
    if (std::isnan(value))
        value = FMinValue;
    if (FMinValue != FMaxValue) {
        if (value < FMinValue)
            value = FMinValue;
        if (value > FMaxValue)
            value = FMaxValue;
    }
    if (!std::isfinite(value))
        value = 0;
    value = RoundTo(value, -FPrecision);
    const bool changed = value != FValue;
    FValue = value;
    ShowValue();
    if (changed)
        emit valueChanged(FValue);
}

void TFloatSpinEdit::SetUnites(const QString &text)
{
    Funites = text;
    FUnitList.SetUnits(text);
    if (!FUnitList.IsValid(FCurrentUnit))
        FCurrentUnit = -1;
    if (!FUnitList.IsValid(FDefaultUnit))
        FDefaultUnit = -1;
    ShowValue();
}

void TFloatSpinEdit::SetCurrentUnit(int index)
{
    FCurrentUnit = FUnitList.IsValid(index) ? index : -1;
    ShowValue();
}

void TFloatSpinEdit::SetDefaultUnit(int index)
{
    FDefaultUnit = FUnitList.IsValid(index) ? index : -1;
}

void TFloatSpinEdit::ShowValue()
{
    QString text = FloatToQStr(FUnitList.ToUnit(FValue, FCurrentUnit));
    if (FUnitList.IsValid(FCurrentUnit))
        text += u' ' + FUnitList.Unit(FCurrentUnit).name;
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TFloatSpinEdit::ParseText()
{
    const QString text = lineEdit()->text().trimmed();
    qsizetype last = -1;
    for (qsizetype i = 0; i < text.size(); ++i)
        if ((text[i].isDigit() && text[i].unicode() < 128) || text[i] == u',' || text[i] == u'.')
            last = i;
    double number = 0;
    if (!TryStrToFloat(text.left(last + 1).trimmed(), number)) {
        SetValue(FMinValue);
        ShowValue(); // the value may be unchanged while the text was not
        return;
    }
    int unit = FUnitList.IndexOf(text.mid(last + 1).trimmed());
    if (unit < 0)
        unit = FDefaultUnit;
    FCurrentUnit = unit;
    SetValue(FUnitList.FromUnit(number, unit));
    ShowValue();
}

void TFloatSpinEdit::stepBy(int steps)
{
    if (isReadOnly()) {
        Beep();
        return;
    }
    // A typed but not yet taken text counts before stepping from it.
    if (lineEdit()->isModified())
        ParseText();
    SetValue(FValue + steps * FIncrement);
}

QAbstractSpinBox::StepEnabled TFloatSpinEdit::stepEnabled() const
{
    // Read-only spin edits still take the steps, to answer them with a beep.
    return StepUpEnabled | StepDownEnabled;
}

void TFloatSpinEdit::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Beep();
        event->accept();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (isReadOnly()) {
            Beep();
            event->accept();
            return;
        }
        break;
    default:
        if (event->text() == QStringLiteral(",") || event->text() == QStringLiteral(".")) {
            if (FEditorEnabled && !isReadOnly())
                lineEdit()->insert(QStringLiteral(","));
            event->accept();
            return;
        }
        break;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TFloatSpinEdit::mousePressEvent(QMouseEvent *event)
{
    if (isReadOnly() && event->button() == Qt::LeftButton) {
        QStyleOptionSpinBox opt;
        initStyleOption(&opt);
        const QStyle::SubControl hit
            = style()->hitTestComplexControl(QStyle::CC_SpinBox, &opt, event->position().toPoint(), this);
        if (hit == QStyle::SC_SpinBoxUp || hit == QStyle::SC_SpinBoxDown)
            Beep();
    }
    QAbstractSpinBox::mousePressEvent(event);
}

void TFloatSpinEdit::focusOutEvent(QFocusEvent *event)
{
    ParseText();
    QAbstractSpinBox::focusOutEvent(event);
}

void TFloatSpinEdit::Beep()
{
    QApplication::beep();
}

QSize TFloatSpinEdit::sizeHint() const
{
    ensurePolished();
    const QFontMetrics fm(font());
    QString widest = FloatToQStr(FMaxValue == FMinValue ? -99999.99 : FMaxValue);
    const QString low = FloatToQStr(FMinValue);
    if (low.size() > widest.size())
        widest = low;
    int unitWidth = 0;
    for (qsizetype i = 0; i < FUnitList.Count(); ++i)
        unitWidth = std::max(unitWidth, fm.horizontalAdvance(u' ' + FUnitList.Unit(i).name));
    const int w = fm.horizontalAdvance(widest) + unitWidth + 8;
    const int h = lineEdit()->sizeHint().height();
    QStyleOptionSpinBox opt;
    initStyleOption(&opt);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &opt, QSize(w, h), this);
}

QSize TFloatSpinEdit::minimumSizeHint() const
{
    return sizeHint();
}
