#include "platform/PngEncoder.h"

#include <gtest/gtest.h>

namespace {

QImage pattern(QSize size, QImage::Format format) {
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y,
                                QColor((x * 7) % 256, (y * 5) % 256, (x ^ y) % 256,
                                       format == QImage::Format_RGB32 ? 255 : (x + y) % 256));
    return image;
}

TEST(PngEncoder, DecodesBackToTheSamePixels) {
    struct Case {
        QSize size;
        QImage::Format format;
    };
    // One pixel, one strip, many strips with an uneven split, alpha un-premultiplied.
    const Case cases[] = {{{1, 1}, QImage::Format_RGB32},
                          {{37, 20}, QImage::Format_RGB32},
                          {{301, 997}, QImage::Format_RGB32},
                          {{129, 515}, QImage::Format_ARGB32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height());
        const QImage original = pattern(c.size, c.format);
        const QImage decoded = QImage::fromData(PngEncoder::encode(original), "PNG");
        ASSERT_EQ(decoded.size(), original.size());
        EXPECT_EQ(decoded.hasAlphaChannel(), original.hasAlphaChannel());
        const QImage::Format common = QImage::Format_ARGB32;
        EXPECT_EQ(decoded.convertToFormat(common), original.convertToFormat(common));
    }
    EXPECT_TRUE(PngEncoder::encode(QImage()).isEmpty());
}

} // namespace
