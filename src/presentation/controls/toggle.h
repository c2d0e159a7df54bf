#pragma once
// A phase switch shown as a picture ("on.jpg" / "off.jpg"). A click does not switch it: it asks
// the action for the opposite state, and the toggle shows the new state only when the caller
// confirms with SwitchState (the installation has answered). While disabled it neither asks nor
// switches.

#include <QImage>
#include <QWidget>

#include <functional>

class TToggle : public QWidget {
    Q_OBJECT
public:
    using TAction = std::function<void(bool)>;
    static constexpr int kWidth = 10;
    static constexpr int kHeight = 20;

    explicit TToggle(QWidget *parent = nullptr);

    void SetEnabled(bool value);
    bool IsEnabled() const { return isEnabled; }
    void SetAction(TAction action);
    void SwitchState();
    // Shows a state known elsewhere (the logic's, confirmed by the installation), enabled or not.
    void ShowState(bool on);
    bool State() const { return state; }
    bool HasPictures() const { return !pictureOn.isNull() && !pictureOff.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    TAction fAction;
    bool isEnabled = false;
    bool state = true;
    QImage pictureOn;
    QImage pictureOff;
};
