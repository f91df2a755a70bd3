#pragma once

#include <QRegion>

#include <functional>

class QImage;
class QPainter;

namespace BandedPainting {

// Paints `area` of `target` in bands of a few rows, spread over several threads: each band is
// painted by one call of `paintBand`, with a painter on `target` and the band's rectangle in
// `target`'s pixels. Painting a band whole while it sits in the cache, then the next, costs
// one trip through memory instead of one per step, which at 4K is what a frame waits for.
// `paintBand` runs on several threads at once and must only read what no one changes.
void paint(QImage& target, const QRegion& area,
           const std::function<void(QPainter&, const QRect&)>& paintBand);

} // namespace BandedPainting
