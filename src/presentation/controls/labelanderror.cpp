#include "labelanderror.h"

#include "parameterscaling.h"
#include "readoutfield.h"

#include <QLabel>
#include <QLineEdit>

TLabelAndError::TLabelAndError(QWidget *parent) : QFrame(parent)
{
    setFixedSize(kWidth, kHeight);
    setFrameShape(QFrame::NoFrame);
    nameLabel = NewReadoutLabel(this, QStringLiteral("ParamName"), QString(), 2, 2, 96, 16);
    QFont bold = nameLabel->font();
    bold.setBold(true);
    nameLabel->setFont(bold);
    NewReadoutLabel(this, QStringLiteral("ErrorCaption"), QStringLiteral("Погр."), 2, 24, 30, 18);
    errorField = NewReadoutField(this, QStringLiteral("ErrorField"), 32, 24, 46, 18);
    NewReadoutLabel(this, QStringLiteral("ErrorUnit"), QStringLiteral("%"), 80, 24, 20, 18);
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
