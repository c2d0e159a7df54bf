#include "presentation/controls/form4.h"

#include "config/configcontroller.h"
#include "presentation/controls/numberentryvalidator.h"
#include "protocol/numberformat.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

TForm4::TForm4(QWidget *owner, TConfigController *ini)
    : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint), appConfig(ini)
{
    setObjectName(QStringLiteral("StepSetter"));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);

    label = new QLabel(QStringLiteral("Шаг"), this);
    label->setObjectName(QStringLiteral("StepLabel"));
    label->setGeometry(4, 10, 28, 17);

    edit = new QLineEdit(FloatToQStr(value), this);
    edit->setObjectName(QStringLiteral("StepEdit"));
    edit->setGeometry(32, 8, 56, 21);
    edit->setValidator(new TNumberEntryValidator(edit));

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("OkButton"));
    okButton->setGeometry(92, 6, 41, 25);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(edit, &QLineEdit::returnPressed, this, &TForm4::Button1Click);
}

void TForm4::SetParameterName(const QString &param)
{
    parameter = param;
    value = appConfig ? appConfig->ReadTag(kIncrements, parameter) : 1.0;
    edit->setText(FloatToQStr(value));
    edit->selectAll();
}

void TForm4::Button1Click()
{
    double typed = 0;
    if (!TryStrToFloat(edit->text(), typed) || !std::isfinite(typed) || typed <= 0) {
        Beep();
        edit->setFocus();
        return;
    }
    value = typed;
    if (appConfig)
        appConfig->WriteTag(kIncrements, parameter, value);
    close();
}

void TForm4::Beep()
{
    QApplication::beep();
}
