#pragma once

#include <QImage>
#include <QSize>

// Qt's smooth scaling (an average of the source area for a reduction: the high-quality
// filter), kept in premultiplied pixels. Qt scales premultiplied pixels: an image with
// straight alpha is converted to them and back around the scaling, and the way back, a
// division per pixel on one thread, took longer than the whole reduction of a 4K image.
namespace SmoothScaling {
// `image` at `size` pixels, as image.scaled(size, Qt::IgnoreAspectRatio,
// Qt::SmoothTransformation) gives it, except that an image with straight alpha comes back as
// Format_ARGB32_Premultiplied: the same colours, in the format QPainter draws fastest. Safe on
// any thread.
QImage scaled(const QImage& image, QSize size);
} // namespace SmoothScaling
