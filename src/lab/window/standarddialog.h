#pragma once
// The edit dialog of a reference standard: every field of TStandard. The error limits per kind of
// quantity (0: not stated) are shown only for the installation kind; an auxiliary standard keeps
// none. "ОК" refuses, with a message and the dialog left open as typed, a standard without a name,
// serial, Fund number or certificate, or a ГРСИ number of its type not written as digits-dash-digits.
// Object names for tests: "name", "type", "typeNumber", "serial", "fundNumber", "certificate",
// "validUntil", "kind", "role", "limits" (the group), "limit_<QuantityKindKey>", "outOfTolerance",
// "outOfToleranceSince", "retired", "okButton", "cancelButton".

#include "journal/labrecords.h"

#include <QDialog>

#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLineEdit;
class TFloatSpinEdit;

class TStandardDialog : public QDialog {
    Q_OBJECT
public:
    explicit TStandardDialog(const TStandard &standard, QWidget *parent = nullptr);

    // What "ОК" accepted; the entry given until then.
    const TStandard &Standard() const { return standard_; }
    // Called by "ОК" with the entry typed before the dialog closes; false (having said why) keeps
    // the dialog open with what was typed.
    void SetSaver(std::function<bool(TStandard &)> saver) { saver_ = std::move(saver); }

private:
    void KindChanged();
    void Confirm();

    TStandard standard_;
    std::function<bool(TStandard &)> saver_;
    QLineEdit *name_ = nullptr;
    QLineEdit *type_ = nullptr;
    QLineEdit *typeNumber_ = nullptr;
    QLineEdit *serial_ = nullptr;
    QLineEdit *fundNumber_ = nullptr;
    QLineEdit *certificate_ = nullptr;
    QDateEdit *validUntil_ = nullptr;
    QComboBox *kind_ = nullptr;
    QLineEdit *role_ = nullptr;
    QGroupBox *limits_ = nullptr;
    std::map<TQuantityKind, TFloatSpinEdit *> limitEdits_;
    QCheckBox *outOfTolerance_ = nullptr;
    QDateEdit *outOfToleranceSince_ = nullptr;
    QCheckBox *retired_ = nullptr;
};
