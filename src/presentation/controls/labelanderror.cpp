#include "presentation/controls/labelanderror.h"

#include "presentation/controls/readoutfield.h"
#include "presentation/parameterscaling.h"

#include <QLabel>
#include <QLineEdit>

TLabelAndError::TLabelAndError(QWidget *parent) : QFrame(parent)
{
    setFixedSize(kWidth, kHeight);
    setFrameShape(QFrame::NoFrame);
    nameLabel = NewReadoutLabel(this, QStringLiteral("ParamName"), QString(), 1, 2, 98, 16);
    QFont bold = nameLabel->font();
    bold.setBold(true);
    nameLabel->setFont(bold);
    NewReadoutLabel(this, QStringLiteral("ErrorCaption"), QStringLiteral("Погр."), 0, 24, 35, 18);
    errorField = NewReadoutField(this, QStringLiteral("ErrorField"), 35, 24, 44, 18);
    NewReadoutLabel(this, QStringLiteral("ErrorUnit"), QStringLiteral("%"), 81, 24, 19, 18);
}

void TLabelAndError::SetParamName(const QString &text)
{
    nameLabel->setText(text);
}

QString TLabelAndError::ParamName() const
{
    return nameLabel->text();
}

void TLabelAndError::SetError(double v)
{
    FError = RoundTo(v, 3);
    errorField->setText(TParameterScaling::GetStringFromFloat(3, FError));
}
