#pragma once
// A numeric entry: caption, edit, up/down buttons and an upload button. The step of the buttons
// is kept per caption in the settings ("Increments"); the pop-up menu of the edit opens the step
// setter. The owning window gives one action that runs with the value after a step and on upload;
// typing alone only changes the field.

#include <QFrame>
#include <QPoint>

#include <functional>
#include <limits>

class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class TConfigController;
class TCustomActionButton;
class TForm4;

// The pair of small arrow buttons beside the edit. They repeat while held.
class TUpDownButtons : public QWidget {
    Q_OBJECT
public:
    explicit TUpDownButtons(QWidget *parent = nullptr);
    QToolButton *UpButton() const { return up; }
    QToolButton *DownButton() const { return down; }

signals:
    void Up();
    void Down();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *up;
    QToolButton *down;
};

class TNumericUpDown : public QFrame {
    Q_OBJECT
public:
    using TAction = std::function<void(double)>;
    static constexpr int kWidth = 123;
    static constexpr int kHeight = 36;
    static inline const QString kStepMenuText = QStringLiteral("Изменить шаг...");

    explicit TNumericUpDown(QWidget *parent = nullptr, const QString &caption = QString());
    ~TNumericUpDown() override;

    // The caption is also the key of this entry's step in the settings.
    void SetCaption(const QString &text);
    const QString &Caption() const { return FText; }

    // Stores x limited to the maximum (no lower limit here) and shows it; a value that cannot be
    // shown (not finite) becomes 0.
    void SetValue(double x);
    double Value() const { return FValue; }

    void SetMax(double value) { FMax = value; }
    void SetMin(double value) { FMin = value; }
    double Max() const { return FMax; }
    double Min() const { return FMin; }
    void SetLimit(int value) { FLimit = value; }
    int Limit() const { return FLimit; }
    void SetParamNumber(int value) { FParamNumber = value; }
    int ParamNumber() const { return FParamNumber; }

    void SetAction(TAction action);
    // Enables or disables the edit, the step buttons and the upload button.
    virtual void SetEnabled(bool value);
    void SetEditColor(const QColor &color);

    // Keeps the settings store (it must outlive this control) and creates the step setter.
    void InitAppConfigAndStepSetter(TConfigController *_appConfig);

    // The step of this entry: the stored "Increments" value of its caption, 1 without a settings
    // store. A stored step that is not a positive number counts as 1.
    double Step() const;

    // Takes the typed text as the value: not a number gives 0, anything below the minimum the
    // minimum, anything above the maximum the maximum; the edit then shows the value taken.
    void Commit();
    // What the step buttons and the upload button do (commit first, then run the action).
    void StepUp();
    void StepDown();
    void Upload();

    // Opens the pop-up menu of the edit at a global position (the right mouse button does this).
    void ShowStepMenu(const QPoint &globalPos);

    QLabel *TextControl() const { return textControl; }
    QLineEdit *ValueControl() const { return valueControl; }
    TUpDownButtons *UpDownControl() const { return upDownControl; }
    TCustomActionButton *UploadControl() const { return uploadControl; }
    TForm4 *StepSetter() const { return setter; }
    QMenu *StepMenu() const { return stepMenu; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The typed text as a number: not a number gives 0, anything below the minimum the minimum.
    double TypedValue() const;
    void RunAction();

    QString FText;
    double FValue = 0;
    double FStep = 1;
    double FMax = std::numeric_limits<double>::max();
    double FMin = 0;
    int FLimit = 0;
    int FParamNumber = 0;
    TConfigController *appConfig = nullptr;
    TForm4 *setter = nullptr;
    QLabel *textControl;
    QLineEdit *valueControl;
    TUpDownButtons *upDownControl;
    TCustomActionButton *uploadControl;
    QMenu *stepMenu = nullptr;
    QPoint stepMenuPos;
    TAction actionOnUpDown;
};
