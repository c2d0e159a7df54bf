#pragma once
// The edit dialog of an instrument type: every field of TInstrumentType. "ОК" refuses, with a
// message and the dialog left open as typed, a type without a name, a ГРСИ number not written as
// digits-dash-digits ("74910-19"), an interval that is not positive or an error that is no number.
// Object names for tests: "name", "typeNumber", "modifications", "procedure", "interval",
// "permissibleError", "kind", "pointsSet", "retired", "okButton", "cancelButton".

#include "journal/labrecords.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

class TInstrumentTypeDialog : public QDialog {
    Q_OBJECT
public:
    // `type` is the entry edited (its id kept); a default one for a new entry.
    explicit TInstrumentTypeDialog(const TInstrumentType &type, QWidget *parent = nullptr);

    // What "ОК" accepted; the entry given until then.
    const TInstrumentType &Type() const { return type_; }
    // Called by "ОК" with the entry typed before the dialog closes; false (having said why) keeps
    // the dialog open with what was typed, so a failed write loses nothing.
    void SetSaver(std::function<bool(TInstrumentType &)> saver) { saver_ = std::move(saver); }

    // Why these texts make no type; empty when they make one. `errorText` is the permissible error
    // as typed (empty: 0, the settings' limit).
    static QString Refusal(
        const QString &name, const QString &typeNumber, int intervalMonths, const QString &errorText);

private:
    void Confirm();

    TInstrumentType type_;
    std::function<bool(TInstrumentType &)> saver_;
    QLineEdit *name_ = nullptr;
    QLineEdit *typeNumber_ = nullptr;
    QLineEdit *modifications_ = nullptr;
    QLineEdit *procedure_ = nullptr;
    QSpinBox *interval_ = nullptr;
    QLineEdit *error_ = nullptr;
    QComboBox *kind_ = nullptr;
    QLineEdit *pointsSet_ = nullptr;
    QCheckBox *retired_ = nullptr;
};
