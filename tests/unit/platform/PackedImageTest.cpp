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

// The same kind of content in a format with a colour table: indices into a table of
// `colours` entries.
QImage indexedLike(QSize size, QImage::Format format, int colours) {
    QImage image(size, format);
    QList<QRgb> table;
    for (int i = 0; i < colours; ++i)
        table.append(qRgba(i * 67 % 256, 255 - i * 31 % 256, i * 13 % 256, 255 - i % 3));
    image.setColorTable(table);
    quint32 noise = 6789;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            image.setPixel(x, y, uint((x / 5 + y / 3 + (noise >> 30)) % uint(colours)));
        }
    return image;
}

TEST(PackedImage, UnpacksToTheSamePixelsFormatColourTableAndRatio) {
    struct Case {
        QSize size;
        QImage::Format format;
        qreal ratio;
        int colours = 0; // the colour table's size; 0 for a format without one
    };
    // One pixel, one strip, many strips with a short last one, and every format a PNG reader
    // or Qt hands the editor, at device pixel ratios 1, 1.5 and 2.
    const Case cases[] = {
        {{1, 1}, QImage::Format_RGB32, 1},
        {{37, 20}, QImage::Format_ARGB32_Premultiplied, 2},
        {{1203, 997}, QImage::Format_RGB32, 1},
        {{641, 1543}, QImage::Format_ARGB32, 2},
        {{333, 211}, QImage::Format_RGB888, 1},
        {{101, 57}, QImage::Format_Grayscale8, 1},
        {{99, 61}, QImage::Format_Grayscale16, 1.5},
        {{400, 300}, QImage::Format_Indexed8, 1, 4},
        {{1, 1}, QImage::Format_Indexed8, 1, 1},
        {{1250, 900}, QImage::Format_Indexed8, 2, 256},
        {{203, 77}, QImage::Format_Mono, 1, 2},
        {{75, 33}, QImage::Format_MonoLSB, 2, 2},
        {{321, 123}, QImage::Format_RGBX64, 1},
        {{123, 321}, QImage::Format_RGBA64, 2},
        {{64, 48}, QImage::Format_RGBA64_Premultiplied, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size.width() << "x" << c.size.height() << " format " << c.format);
        QImage original =
            c.colours ? indexedLike(c.size, c.format, c.colours) : screenshotLike(c.size, c.format);
        original.setDevicePixelRatio(c.ratio);
        const PackedImage packed = PackedImage::pack(original);
        const QImage unpacked = packed.unpack();
        ASSERT_EQ(unpacked.format(), original.format());
        EXPECT_EQ(unpacked.devicePixelRatio(), c.ratio);
        // Compared first: QImage compares indexed pixels through both colour tables.
        ASSERT_EQ(unpacked.colorTable(), original.colorTable());
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
