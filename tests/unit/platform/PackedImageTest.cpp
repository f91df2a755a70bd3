#include "platform/PackedImage.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

// Text-like strokes over a noisy gradient: runs, edges and photo-like noise in one image.
QImage screenshotLike(QSize size, QImage::Format format) {
    QImage image(size, format);
    quint32 noise = 12345;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            image.setPixelColor(x, y,
                                QColor((x * 3 + int(noise >> 29)) % 256, (y * 2) % 256,
                                       (x ^ y) % 256,
                                       image.hasAlphaChannel() ? (x + y) % 256 : 255));
        }
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(), size), Qt::AlignCenter, QStringLiteral("ls -la ~/src"));
    return image;
}

TEST(PackedImage, UnpacksToTheSamePixelsFormatAndRatio) {
    struct Case {
        QSize size;
        QImage::Format format;
        qreal ratio;
    };
    // One pixel, one strip, many strips with a short last one, and the formats the editor
    // holds: opaque and translucent 32-bit, 24-bit, 8-bit grey, at device pixel ratios 1 and 2.
    const Case cases[] = {
        {{1, 1}, QImage::Format_RGB32, 1},      {{37, 20}, QImage::Format_ARGB32_Premultiplied, 2},
        {{1203, 997}, QImage::Format_RGB32, 1}, {{641, 1543}, QImage::Format_ARGB32, 2},
        {{333, 211}, QImage::Format_RGB888, 1}, {{101, 57}, QImage::Format_Grayscale8, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size.width() << "x" << c.size.height() << " format " << c.format);
        QImage original = screenshotLike(c.size, c.format);
        original.setDevicePixelRatio(c.ratio);
        const PackedImage packed = PackedImage::pack(original);
        const QImage unpacked = packed.unpack();
        EXPECT_EQ(unpacked.format(), original.format());
        EXPECT_EQ(unpacked.devicePixelRatio(), c.ratio);
        EXPECT_EQ(unpacked, original);
        EXPECT_GT(packed.byteSize(), 0);
    }
    EXPECT_TRUE(PackedImage::pack(QImage()).unpack().isNull());
    EXPECT_TRUE(PackedImage().unpack().isNull());
}

TEST(PackedImage, ScreenContentShrinksWellBelowItsPixels) {
    QImage window(1600, 900, QImage::Format_RGB32);
    window.fill(QColor(30, 30, 30));
    QPainter painter(&window);
    painter.setPen(QColor(220, 220, 220));
    for (int line = 0; line < 50; ++line)
        painter.drawText(10, 18 * (line + 1),
                         QStringLiteral("drwxr-xr-x 2 user user 4096 %1").arg(line));
    painter.end();
    EXPECT_LT(PackedImage::pack(window).byteSize(), window.sizeInBytes() / 10);
}

} // namespace
