#include "presentation/controls/customactionbutton.h"

#include "presentation/controls/controlpictures.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

TCustomActionButton::TCustomActionButton(QWidget *parent)
    : QWidget(parent), picture(ControlPictures::Load(ControlPictures::kArrow)),
      picturePressed(ControlPictures::Load(ControlPictures::kArrowPressed))
{
    setFixedSize(kWidth, kHeight);
    setCursor(Qt::PointingHandCursor);
}

void TCustomActionButton::SetValueReference(const double *ref)
{
    ValueRef = ref;
}

void TCustomActionButton::SetAction(TAction action)
{
    ActionProcedure = std::move(action);
    isActionProcedureSet = static_cast<bool>(ActionProcedure);
}

void TCustomActionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage &image = pressed ? picturePressed : picture;
    if (!image.isNull()) {
        if (!isEnabled())
            painter.setOpacity(0.4);
        painter.drawImage(rect(), image);
        return;
    }
    // No picture: a plain bevelled square with a right-pointing triangle.
    const QPalette &pal = palette();
    painter.fillRect(rect(), pressed ? pal.color(QPalette::Mid) : pal.color(QPalette::Button));
    painter.setPen(pressed ? pal.color(QPalette::Dark) : pal.color(QPalette::Light));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(pressed ? pal.color(QPalette::Light) : pal.color(QPalette::Dark));
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    const int shift = pressed ? 1 : 0;
    QPainterPath arrow;
    arrow.moveTo(5 + shift, 4 + shift);
    arrow.lineTo(12 + shift, 8.5 + shift);
    arrow.lineTo(5 + shift, 13 + shift);
    arrow.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(
        arrow, isEnabled() ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Disabled, QPalette::ButtonText));
}

void TCustomActionButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed = true;
    update();
}

void TCustomActionButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !pressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    pressed = false;
    update();
    if (rect().contains(event->position().toPoint()) && isEnabled() && ValueRef && isActionProcedureSet) {
        // The action may replace this button's action; run a copy.
        const TAction action = ActionProcedure;
        action(*ValueRef);
    }
}

void TCustomActionButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        pressed = false;
        update();
    }
    QWidget::changeEvent(event);
}
