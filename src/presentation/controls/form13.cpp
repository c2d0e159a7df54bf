#include "presentation/controls/form13.h"

#include <QLabel>
#include <QPushButton>

#include "config/devicesettingsconfig.h"
#include "presentation/controls/floatspinedit.h"
#include "protocol/numberformat.h"

TForm13::TForm13(TConfigController *config, const TTransfCoefs &current, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), config(config)
{
    setObjectName(QStringLiteral("Form13"));
    setFixedSize(230, 110);
    TDeviceSettingsConfig settings(config);
    auto make = [this](const QString &caption, int x, int y, const QString &stored) {
        auto *label = new QLabel(caption, this);
        label->setGeometry(x, y, 30, 22);
        auto *edit = new TFloatSpinEdit(this);
        edit->setObjectName(caption);
        edit->setGeometry(x + 32, y, 70, 22);
        // Four decimals. (A precision of +4 would round to tens of thousands and turn a secondary
        // coefficient of 100 into 0.)
        edit->SetPrecision(-4);
        edit->SetIncrement(1);
        edit->SetValue(StrToFloatDef(stored, 0));
        return edit;
    };
    ku1 = make(QStringLiteral("KU1"), 8, 8, settings.ReadKU1());
    ku2 = make(QStringLiteral("KU2"), 118, 8, settings.ReadKU2());
    ki1 = make(QStringLiteral("KI1"), 8, 40, settings.ReadKI1());
    ki2 = make(QStringLiteral("KI2"), 118, 40, settings.ReadKI2());
    // What the window uses now wins over what is stored.
    ku1->SetValue(current.U1);
    ku2->SetValue(current.U2);
    ki1->SetValue(current.I1);
    ki2->SetValue(current.I2);
    ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(75, 76, 80, 26);
    connect(ok, &QPushButton::clicked, this, &TForm13::Confirm);
}

void TForm13::Confirm()
{
    for (TFloatSpinEdit *e : {ku1, ku2, ki1, ki2})
        e->ParseText();
    TDeviceSettingsConfig settings(config);
    settings.WriteKU1(FloatToQStr(ku1->Value()));
    settings.WriteKU2(FloatToQStr(ku2->Value()));
    settings.WriteKI1(FloatToQStr(ki1->Value()));
    settings.WriteKI2(FloatToQStr(ki2->Value()));
    accept();
}
