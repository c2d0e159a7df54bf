#pragma once
// "Условия поверки", asked once at the start of a run: temperature (°C), relative humidity (%),
// pressure (kPa), supply voltage (V) and frequency (Hz), offered with the last values. The first
// three are required. Conditions the checker finds outside the method's normal ones are named in a
// question; "Нет" leaves the dialog open as typed. Object names for tests: "temperature", "humidity",
// "pressure", "supplyVoltage", "supplyFrequency", "okButton", "cancelButton".

#include "journal/labrecords.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QLineEdit;

class TConditionsDialog : public QDialog {
    Q_OBJECT
public:
    // Sentences naming the conditions outside the normal ones; empty when all are within.
    using TChecker = std::function<QStringList(const TRunConditions &)>;

    // `last` fills the fields; `checker` may be empty (nothing judged).
    TConditionsDialog(const TRunConditions &last, TChecker checker, QWidget *parent = nullptr);

    // What "ОК" accepted; the values given until then.
    const TRunConditions &Conditions() const { return conditions_; }

private:
    void Confirm();

    TRunConditions conditions_;
    TChecker checker_;
    QLineEdit *temperature_ = nullptr;
    QLineEdit *humidity_ = nullptr;
    QLineEdit *pressure_ = nullptr;
    QLineEdit *supplyVoltage_ = nullptr;
    QLineEdit *supplyFrequency_ = nullptr;
};
