#pragma once
// What may be typed into a numeric entry and the step setter: digits, "-" and the decimal comma
// (a dot is taken as the comma), only while the text keeps the shape of a number with at most two
// digits after the comma. Removing characters (backspace, delete, cut) is always accepted, even
// from a longer text that the program itself put there.

#include <QPointer>
#include <QValidator>

class QLineEdit;

class TNumberEntryValidator : public QValidator {
    Q_OBJECT
public:
    // `edit` is the field this validator guards: its current text tells a deletion from typing.
    explicit TNumberEntryValidator(QLineEdit *edit);

    State validate(QString &input, int &pos) const override;

    // Whether `text` is something a user may type: an optional leading "-", digits, at most one
    // comma and at most two digits after it. The empty text and a lone "-" or "," are the
    // beginnings of numbers and accepted; they commit as no number.
    static bool IsTypable(const QString &text);

private:
    QPointer<QLineEdit> edit;
};
