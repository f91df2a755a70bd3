#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

#include <vector>

// An image kept losslessly compressed in memory: rows with the Sub filter (each byte minus
// the one a pixel before), deflated at the fastest level in strips, which unpack in parallel.
// Screenshots shrink to a fraction of their pixels, and a 4K image unpacks in milliseconds.
// Immutable. pack() is meant for a worker thread; unpack() for any thread but a pool thread.
class PackedImage {
public:
    PackedImage() = default;
    static PackedImage pack(const QImage& image);

    // The same pixels, format, colour table and device pixel ratio as the packed image; null
    // for a null one.
    QImage unpack() const;
    // Bytes held by the packed form.
    qsizetype byteSize() const;

private:
    QSize size;
    QImage::Format format = QImage::Format_Invalid;
    qreal devicePixelRatio = 1.0;
    // An indexed or one-bit image's pixels mean nothing without it.
    QList<QRgb> colorTable;
    qsizetype bytesPerLine = 0;
    int rowsPerStrip = 0;
    std::vector<QByteArray> strips;
};
