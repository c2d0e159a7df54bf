#pragma once
// The small picture button beside a numeric entry that sends its value: "arrow.jpg", and
// "arrow2.jpg" while the mouse button is held down. A click runs the action with the value the
// button refers to, provided both are set and the button is enabled.

#include <QImage>
#include <QWidget>

#include <functional>

class TCustomActionButton : public QWidget {
    Q_OBJECT
public:
    using TAction = std::function<void(double)>;
    static constexpr int kWidth = 17;
    static constexpr int kHeight = 17;

    explicit TCustomActionButton(QWidget *parent = nullptr);

    // `ref` must outlive the button (it is a field of the owning control).
    void SetValueReference(const double *ref);
    void SetAction(TAction action);

    bool IsPressed() const { return pressed; }
    // Whether the pictures were found and decoded (otherwise the button is drawn plainly).
    bool HasPictures() const { return !picture.isNull() && !picturePressed.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    const double *ValueRef = nullptr;
    TAction ActionProcedure;
    bool isActionProcedureSet = false;
    bool pressed = false;
    QImage picture;
    QImage picturePressed;
};
