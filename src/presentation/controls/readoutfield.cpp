#include "presentation/controls/readoutfield.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

QLineEdit *NewReadoutField(QWidget *parent, const QString &name, int x, int y, int w, int h)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setTextMargins(0, 0, 0, 0);
    field->setGeometry(x, y, w, h);
    return field;
}

QLabel *NewReadoutLabel(QWidget *parent, const QString &name, const QString &text, int x, int y, int w, int h)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    return label;
}

void SetFieldColor(QLineEdit *field, const QColor &color)
{
    QPalette pal = field->palette();
    pal.setColor(QPalette::Base, color);
    field->setPalette(pal);
}

QColor FieldColor(const QLineEdit *field)
{
    return field->palette().color(QPalette::Base);
}

double RoundTo(double x, int decimals)
{
    if (!std::isfinite(x) || decimals > 15 || decimals < -15)
        return x;
    const double scale = std::pow(10.0, decimals);
    const double scaled = x * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.0e15)
        return x;
    return std::round(scaled) / scale;
}
