#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

// The TIFF form of an image, as the edit server receives it: 8-bit RGB (RGBA, unassociated,
// when a pixel is not opaque), Adobe Deflate with the horizontal predictor, 72 dpi per device
// pixel ratio, in tiles. Tiles are compressed in parallel, since a 4K screenshot on one core
// would take a good part of the edit's waiting time. The image itself is never written to.
class TiffRepresentation {
public:
    // None for an empty (null or 0×0) image, or if the TIFF cannot be written.
    static std::optional<QByteArray> of(const QImage& image);
    // Appends the TIFF to `out`, with room reserved for `spareAfter` more bytes, so that a
    // request body is written once. False, with `out` as it was, where `of` gives none.
    static bool appendTo(QByteArray& out, const QImage& image, qsizetype spareAfter = 0);
};
