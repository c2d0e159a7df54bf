#include "presentation/controls/toggle.h"

#include "presentation/controls/controlpictures.h"

#include <QMouseEvent>
#include <QPainter>

TToggle::TToggle(QWidget *parent)
    : QWidget(parent), pictureOn(ControlPictures::Load(ControlPictures::kOn)),
      pictureOff(ControlPictures::Load(ControlPictures::kOff))
{
    setFixedSize(kWidth, kHeight);
}

void TToggle::SetEnabled(bool value)
{
    isEnabled = value;
    setCursor(value ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void TToggle::SetAction(TAction action)
{
    fAction = std::move(action);
}

void TToggle::SwitchState()
{
    if (!isEnabled)
        return;
    state = !state;
    update();
}

void TToggle::ShowState(bool on)
{
    if (state == on)
        return;
    state = on;
    update();
}

void TToggle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!isEnabled)
        painter.setOpacity(0.5);
    const QImage &image = state ? pictureOn : pictureOff;
    if (!image.isNull()) {
        painter.drawImage(rect(), image);
        return;
    }
    // No picture: a plain slot with the knob up for on and down for off.
    const QPalette &pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Mid));
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect knob(1, state ? 1 : height() / 2, width() - 2, height() / 2 - 1);
    painter.fillRect(knob, pal.color(QPalette::Button));
}

void TToggle::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (isEnabled && fAction) {
        const TAction action = fAction;
        action(!state);
    }
}
