// Draws the pictures of the controls and writes them as JPEG files: the upload button at rest
// ("arrow.jpg") and held down ("arrow2.jpg"), 17 × 17, and the phase toggle switched on
// ("on.jpg") and off ("off.jpg"), 10 × 20. The files in assets/ were made with it:
//     kest_draw_pictures assets
#include "presentation/controls/jpegcodec.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <string>

namespace {

QImage DrawArrow(bool pressed)
{
    QImage image(17, 17, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, 17);
    face.setColorAt(0, pressed ? QColor(176, 190, 206) : QColor(252, 252, 252));
    face.setColorAt(1, pressed ? QColor(214, 222, 232) : QColor(206, 212, 220));
    p.setPen(QPen(pressed ? QColor(60, 80, 110) : QColor(120, 128, 140), 1));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(0.5, 0.5, 16, 16), 3, 3);
    // A right-pointing arrow: the value goes out to the installation.
    const qreal d = pressed ? 1 : 0;
    QPainterPath arrow;
    arrow.moveTo(3 + d, 6.5 + d);
    arrow.lineTo(8 + d, 6.5 + d);
    arrow.lineTo(8 + d, 3 + d);
    arrow.lineTo(14 + d, 8.5 + d);
    arrow.lineTo(8 + d, 14 + d);
    arrow.lineTo(8 + d, 10.5 + d);
    arrow.lineTo(3 + d, 10.5 + d);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? QColor(10, 90, 40) : QColor(30, 140, 60));
    p.drawPath(arrow);
    return image;
}

QImage DrawToggle(bool on)
{
    QImage image(10, 20, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(on ? QColor(40, 170, 70) : QColor(150, 150, 150));
    p.drawRoundedRect(QRectF(0.5, 0.5, 9, 19), 3, 3);
    // The knob: up when the phase is on, down when it is off.
    const QRectF knob(1.5, on ? 1.5 : 10.5, 7, 8);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(knob, 2, 2);
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawLine(QPointF(3, knob.center().y()), QPointF(7, knob.center().y()));
    return image;
}

bool Write(const QImage &image, const std::string &path)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    TJpegImage jpeg;
    jpeg.width = rgb.width();
    jpeg.height = rgb.height();
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = rgb.constScanLine(y);
        jpeg.rgb.insert(jpeg.rgb.end(), line, line + rgb.width() * 3);
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!EncodeJpeg(jpeg, 95, bytes, &error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    bool ok = Write(DrawArrow(false), folder + "/arrow.jpg");
    ok = Write(DrawArrow(true), folder + "/arrow2.jpg") && ok;
    ok = Write(DrawToggle(true), folder + "/on.jpg") && ok;
    ok = Write(DrawToggle(false), folder + "/off.jpg") && ok;
    return ok ? 0 : 1;
}
