// Draws the application icon, the orange square frame, as a PNG of the given side:
// render-icon <side> <output.png>. The build makes each hicolor size with it, so that small
// sizes are drawn for their pixel grid rather than scaled down from a large picture.
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Up to this side a pixel is a large share of the frame's band, and an edge that falls inside
// a pixel shows as a blurred, half-transparent line: there the frame is put on whole pixels,
// its band rounded first so that it keeps its weight. Larger sides keep the exact
// proportions, which the scalable icon has too.
constexpr int largestPixelGridSide = 48;

struct Frame {
    QRectF outer;
    QRectF inner;
};

Frame frameOf(int side) {
    const qreal w = side;
    if (side > largestPixelGridSide)
        return {{0.2 * w, 0.2 * w, 0.6 * w, 0.6 * w}, {0.3 * w, 0.3 * w, 0.4 * w, 0.4 * w}};
    const qreal margin = std::round(0.2 * w);
    const qreal band = std::max(1.0, std::round(0.1 * w));
    const QRectF outer(margin, margin, w - 2 * margin, w - 2 * margin);
    return {outer, outer.adjusted(band, band, -band, -band)};
}

QImage drawFrame(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainterPath frame;
    frame.setFillRule(Qt::OddEvenFill);
    const Frame square = frameOf(side);
    frame.addRect(square.outer);
    frame.addRect(square.inner);
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
