#pragma once
// A spin edit for reals with the decimal comma: limits, an increment, a precision, and
// optionally units written after the number ("12,5 mA").

#include "presentation/controls/unitcalculator.h"

#include <QAbstractSpinBox>

class TFloatSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TFloatSpinEdit(QWidget *parent = nullptr);

    // Equal limits (the default 0 and 0) mean no limit.
    void SetMinValue(double value);
    void SetMaxValue(double value);
    double MinValue() const { return FMinValue; }
    double MaxValue() const { return FMaxValue; }
    void SetIncrement(double value) { FIncrement = value; }
    double Increment() const { return FIncrement; }
    // Decimals as a negative power of ten: −2 keeps two decimals.
    void SetPrecision(int value);
    int Precision() const { return FPrecision; }
    // Clear: the text cannot be typed into, only stepped.
    void SetEditorEnabled(bool value);
    bool EditorEnabled() const { return FEditorEnabled; }

    // Limits (unless both limits are equal), rounds to the precision and shows the value in the
    // current unit. A value that is not a number becomes the minimum.
    void SetValue(double value);
    double Value() const { return FValue; }

    // Units as "name|mult|divi|name|mult|divi…"; indices select them, −1 is no unit.
    void SetUnites(const QString &text);
    const QString &Unites() const { return Funites; }
    void SetCurrentUnit(int index);
    int CurrentUnit() const { return FCurrentUnit; }
    void SetDefaultUnit(int index);
    int DefaultUnit() const { return FDefaultUnit; }
    const TUnitCalculator &UnitList() const { return FUnitList; }

    // Takes the typed text: the number up to its last digit or separator, then an optional unit
    // name (a name not in the list means the default unit). Text that is no number gives the
    // minimum. Leaving the control does this.
    void ParseText();

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valueChanged(double value);

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    virtual void Beep();

private:
    void ShowValue();

    double FMinValue = 0;
    double FMaxValue = 0;
    double FIncrement = 1;
    int FPrecision = -2;
    bool FEditorEnabled = true;
    double FValue = 0;
    QString Funites;
    int FCurrentUnit = -1;
    int FDefaultUnit = -1;
    TUnitCalculator FUnitList;
};
