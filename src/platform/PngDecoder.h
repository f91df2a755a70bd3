#pragma once

#include <QByteArray>
#include <QImage>

// A PNG reader for the edit service's results. libpng inflates through zlib and unfilters
// row by row; a 4K result took a good part of the wait for it. The common kinds (8 bits a
// sample, not interlaced: grey, grey with alpha, RGB, RGBA, palette) are inflated at once by
// libdeflate and unfiltered straight into the image; every other PNG goes to Qt's reader, so
// nothing Qt reads is refused.
namespace PngDecoder {
// The image QImage::fromData makes of `bytes`: the same pixels, format, colour table,
// resolution and colour space. Safe on any thread.
QImage decode(const QByteArray& bytes);
// The direct path alone: null for bytes it does not take, which decode() hands to Qt.
QImage decodeDirectly(const QByteArray& bytes);
} // namespace PngDecoder
