#pragma once
// The step setter: a small borderless window with "Шаг", an edit and "OK" that stores the step
// of one numeric entry in the settings ("Increments", key = the entry's caption). It closes when
// the user clicks elsewhere, without storing anything.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class TConfigController;

class TForm4 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 137;
    static constexpr int kHeight = 37;
    static inline const QString kIncrements = QStringLiteral("Increments");

    // `ini` must outlive the window; the window belongs to `owner`.
    TForm4(QWidget *owner, TConfigController *ini);

    // Shows the stored step of `param`.
    void SetParameterName(const QString &param);
    const QString &Parameter() const { return parameter; }
    double Value() const { return value; }

    QLineEdit *Edit() const { return edit; }
    QPushButton *OkButton() const { return okButton; }

    // "OK": stores the edit's number as the step and closes. A text that is not a number, or a
    // step of zero or less (which would turn the step buttons around), is refused with a beep
    // and the window stays open.
    void Button1Click();

protected:
    virtual void Beep();

private:
    QString parameter;
    TConfigController *appConfig;
    double value = 1;
    QLabel *label;
    QLineEdit *edit;
    QPushButton *okButton;
};
