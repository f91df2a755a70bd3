#include "editor/BandedPainting.h"

#include "LoadingOverlayPixels.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using loading_overlay_pixels::differingPixels;
using loading_overlay_pixels::screenshotLike;

// What a frame of the loading overlay paints: a picture, then a translucent fill.
void pictureAndTint(QPainter& painter, const QImage& picture, QPoint at, const QRect& rect) {
    painter.drawImage(rect.topLeft(), picture, rect.translated(-at));
    painter.setOpacity(0.35);
    painter.fillRect(rect, QColor(20, 20, 30));
    painter.setOpacity(1);
}

// Painted in bands over several threads, the target's pixels are those of one painter
// painting the whole area at once, clipped to it: inside the area and, untouched, outside it.
TEST(BandedPainting, GivesThePixelsOfOnePainterOverTheWholeArea) {
    const struct {
        const char* name;
        QImage::Format format;
        QSize size;
        QRegion area;
    } cases[] = {
        {"the whole of a window's image",
         QImage::Format_ARGB32_Premultiplied,
         {901, 613},
         QRegion(0, 0, 901, 613)},
        {"an opaque image, rows not a whole number of bands",
         QImage::Format_RGB32,
         {640, 347},
         QRegion(0, 0, 640, 347)},
        {"several rectangles, one part way down",
         QImage::Format_ARGB32_Premultiplied,
         {700, 500},
         QRegion(0, 0, 700, 33) + QRegion(13, 101, 517, 399) + QRegion(650, 40, 50, 17)},
        {"an area reaching past the image",
         QImage::Format_RGB32,
         {300, 200},
         QRegion(-20, 150, 400, 90)},
    };
    for (const auto& c : cases) {
        const QImage picture = screenshotLike(c.size, QColor(90, 140, 40));
        QImage before(c.size, c.format);
        before.fill(QColor(200, 30, 60));
        const QPoint at(0, 0);

        QImage expected = before.copy();
        {
            QPainter painter(&expected);
            painter.setClipRegion(c.area);
            pictureAndTint(painter, picture, at, expected.rect());
        }
        QImage banded = before.copy();
        BandedPainting::paint(banded, c.area, [&](QPainter& painter, const QRect& rect) {
            pictureAndTint(painter, picture, at, rect);
        });
        EXPECT_EQ(differingPixels(banded.convertToFormat(QImage::Format_RGB32),
                                  expected.convertToFormat(QImage::Format_RGB32)),
                  0)
            << c.name;
        EXPECT_EQ(banded.format(), c.format) << c.name;
    }
}

} // namespace
