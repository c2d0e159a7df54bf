#pragma once
// The transformation-coefficient window: KU1/KU2 and KI1/KI2 of the transducer, written to the settings
// on "OK". Borderless, modal, opened at the mouse. The main, verification and tuning windows all use it.

#include <QDialog>

#include "protocol/parameters.h"

class TConfigController;
class TFloatSpinEdit;
class QPushButton;

class TForm13 : public QDialog {
    Q_OBJECT
public:
    TForm13(TConfigController *config, const TTransfCoefs &current, QWidget *parent = nullptr);

    TFloatSpinEdit *KU1() const { return ku1; }
    TFloatSpinEdit *KU2() const { return ku2; }
    TFloatSpinEdit *KI1() const { return ki1; }
    TFloatSpinEdit *KI2() const { return ki2; }
    QPushButton *OkButton() const { return ok; }

private:
    void Confirm();

    TConfigController *config;
    TFloatSpinEdit *ku1;
    TFloatSpinEdit *ku2;
    TFloatSpinEdit *ki1;
    TFloatSpinEdit *ki2;
    QPushButton *ok;
};
