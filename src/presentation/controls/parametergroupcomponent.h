#pragma once
// A parameter's readout: its name, the installation's (reference) value, the transducer's value
// and the transducer's error in percent. The error field turns red when the error exceeds the
// permissible error.

#include <QFrame>

class QLabel;
class QLineEdit;
struct TDeviceInfo;

class TParameterGroupComponent : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 108; // the unit column holds "MV·A" in the desktop's font
    static constexpr int kHeight = 71;
    static inline const QString kDashes = QStringLiteral("---");

    explicit TParameterGroupComponent(QWidget *parent = nullptr);

    void SetParameter(const QString &name);
    QString Parameter() const;
    // Unit of the reference row and of the transducer row; SetMeasure sets both.
    void SetMeasure(const QString &unit);
    void SetMeasure1(const QString &unit);
    void SetMeasure2(const QString &unit);
    QString Measure1() const;
    QString Measure2() const;
    void SetRoundValue(int decimals) { RoundValue = decimals; }
    int GetRoundValue() const { return RoundValue; }
    void SetRoundValueError(int decimals) { RoundValueError = decimals; }
    int GetRoundValueError() const { return RoundValueError; }
    void SetParamNumber(int number) { ParamNumber = number; }
    int GetParamNumber() const { return ParamNumber; }
    // Caption of the transducer row, "Rs" unless set.
    void SetInterfaceCaption(const QString &caption);
    QString InterfaceCaption() const;

    // The reference value, rounded to RoundValue decimals, kept and shown with 4 digits.
    void SetValue(double v);
    // Shows v the same way without keeping it.
    void DisplayValue(double v);
    // The transducer's value in primary units with the unit prefix of this parameter (e.g. "kV").
    void SetValueRsAndErrorQX4(const TDeviceInfo &devinfo, double permissibleError, double error, double value);
    // The transducer's value in the unit it reports.
    void SetValueRsAndErrorNotQX4(const TDeviceInfo &devinfo, double permissibleError, double error, double value);
    // The analog output's value (mA) with 4 digits.
    void SetAnalogValueAndError(double permissibleError, double value, double error);
    // Dashes in the transducer row and the error, on white.
    void SetDefaultRs();
    // Dashes in all three rows.
    void SetDashes();

    double Value() const { return value; }
    double ValueRS() const { return valueRS; }

    QLineEdit *ValueField() const { return valueField; }
    QLineEdit *ValueRsField() const { return valueRsField; }
    QLineEdit *ErrorField() const { return errorField; }

private:
    void ShowError(double permissibleError, double error);
    void SetErrorColor(bool exceeded);

    int RoundValue = 2;
    int RoundValueError = 3;
    int ParamNumber = 0;
    double value = 0;
    double valueRS = 0;
    QLabel *parameterLabel;
    QLabel *measure1Label;
    QLabel *measure2Label;
    QLabel *interfaceLabel;
    QLineEdit *valueField;
    QLineEdit *valueRsField;
    QLineEdit *errorField;
};
