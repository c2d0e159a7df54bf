#pragma once
// Small helpers shared by the readout groups: read-only fields, their labels, their colour, and
// rounding to a number of decimals.

#include <QString>

class QColor;
class QLabel;
class QLineEdit;
class QWidget;

QLineEdit *NewReadoutField(QWidget *parent, const QString &name, int x, int y, int w, int h);
QLabel *NewReadoutLabel(QWidget *parent, const QString &name, const QString &text, int x, int y, int w, int h);
void SetFieldColor(QLineEdit *field, const QColor &color);
QColor FieldColor(const QLineEdit *field);

// x rounded half away from zero to `decimals` places (negative: to tens, hundreds …). Values too
// large for the scaling stay as they are.
double RoundTo(double x, int decimals);
