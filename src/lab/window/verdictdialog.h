#pragma once
// "Заключение" at the end of a run: the computed conclusion with its reasons, and the verifier's
// replacement of it (пригоден / непригоден) with a reason that "ОК" requires. Object names for
// tests: "verdictText", "reasons", "fitButton", "unfitButton", "overrideReason", "okButton",
// "cancelButton".

#include "journal/labrecords.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QRadioButton;

class TVerdictDialog : public QDialog {
    Q_OBJECT
public:
    // `who` is the verifier recorded as the one who replaced it.
    TVerdictDialog(const TVerdict &computed, const QString &who, QWidget *parent = nullptr);

    // After "ОК": the replacing conclusion (overridden, by, at and reason set; an unfit one's reasons
    // are the verifier's reason); nothing when the conclusion was kept or the dialog cancelled.
    const std::optional<TVerdict> &Result() const { return result_; }

private:
    void Confirm();

    TVerdict computed_;
    QString who_;
    std::optional<TVerdict> result_;
    QRadioButton *fit_ = nullptr;
    QRadioButton *unfit_ = nullptr;
    QPlainTextEdit *reason_ = nullptr;
};
