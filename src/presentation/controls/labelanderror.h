#pragma once
// An error-only readout: the parameter's name and its error in percent.

#include <QFrame>

class QLabel;
class QLineEdit;

class TLabelAndError : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 100;
    static constexpr int kHeight = 51;

    explicit TLabelAndError(QWidget *parent = nullptr);

    void SetParamNumber(int number) { ParamNumber = number; }
    int GetParamNumber() const { return ParamNumber; }
    void SetParamName(const QString &text);
    QString ParamName() const;
    // Keeps the error rounded to 3 decimals and shows it with 3 digits.
    void SetError(double v);
    double Error() const { return FError; }

    QLineEdit *ErrorField() const { return errorField; }

private:
    int ParamNumber = 0;
    double FError = 0;
    QLabel *nameLabel;
    QLineEdit *errorField;
};
