// Draws the application icon, the orange square frame, as a PNG of the given side:
// render-icon <side> <output.png>. The build makes each hicolor size with it, so that small
// sizes are drawn for their pixel grid rather than scaled down from a large picture.
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage drawFrame(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const qreal w = side;
    QPainterPath frame;
    frame.setFillRule(Qt::OddEvenFill);
    frame.addRect(0.2 * w, 0.2 * w, 0.6 * w, 0.6 * w);
    frame.addRect(0.3 * w, 0.3 * w, 0.4 * w, 0.4 * w);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(frame, QColor::fromRgbF(1.0, 92.0 / 255.0, 0.0));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    const int side = argc == 3 ? std::atoi(argv[1]) : 0;
    if (side <= 0) {
        std::fprintf(stderr, "usage: %s <side> <output.png>\n", argv[0]);
        return 2;
    }
    if (!drawFrame(side).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
