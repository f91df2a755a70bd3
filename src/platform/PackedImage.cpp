#include "platform/PackedImage.h"

#include <QtConcurrent/QtConcurrentMap>

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <numeric>

#include "platform/RowFilters.h"

namespace {

// About a megabyte of pixels per strip: enough strips to keep every core busy on a 4K image,
// few enough that each compresses well.
constexpr qsizetype stripBytes = qsizetype(1) << 20;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

int filterDistance(const QImage& image) {
    return std::max(1, image.depth() / 8);
}

} // namespace

PackedImage PackedImage::pack(const QImage& image) {
    PackedImage packed;
    if (image.isNull())
        return packed;
    packed.size = image.size();
    packed.format = image.format();
    packed.devicePixelRatio = image.devicePixelRatio();
    packed.colorTable = image.colorTable();
    packed.bytesPerLine = image.bytesPerLine();
    packed.rowsPerStrip =
        int(std::clamp<qsizetype>(stripBytes / packed.bytesPerLine, 1, image.height()));
    const int stripCount = (image.height() + packed.rowsPerStrip - 1) / packed.rowsPerStrip;
    packed.strips.resize(size_t(stripCount));
    const int distance = filterDistance(image);

    // Packing runs on a pool thread already, strip after strip: a nested parallel map from
    // a pool thread can wait for threads that never come free.
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(1));
    QByteArray filtered;
    for (int strip = 0; strip < stripCount; ++strip) {
        const int first = strip * packed.rowsPerStrip;
        const int end = std::min(image.height(), first + packed.rowsPerStrip);
        filtered.resize(qsizetype(end - first) * packed.bytesPerLine);
        for (int y = first; y < end; ++y) {
            const uchar* in = image.constScanLine(y);
            auto* out = reinterpret_cast<uchar*>(filtered.data()) +
                        qsizetype(y - first) * packed.bytesPerLine;
            std::copy_n(in, distance, out);
            for (qsizetype x = distance; x < packed.bytesPerLine; ++x)
                out[x] = uchar(in[x] - in[x - distance]);
        }
        QByteArray deflated(
            qsizetype(libdeflate_deflate_compress_bound(compressor.get(), size_t(filtered.size()))),
            Qt::Uninitialized);
        const size_t written = libdeflate_deflate_compress(compressor.get(), filtered.constData(),
                                                           size_t(filtered.size()), deflated.data(),
                                                           size_t(deflated.size()));
        deflated.resize(qsizetype(written));
        deflated.squeeze();
        packed.strips[size_t(strip)] = std::move(deflated);
    }
    return packed;
}

QImage PackedImage::unpack() const {
    if (strips.empty())
        return {};
    QImage image(size, format);
    image.setDevicePixelRatio(devicePixelRatio);
    image.setColorTable(colorTable);
    const int distance = filterDistance(image);
    // Taken once: scanLine() on the shared image from several threads would race on its
    // detach bookkeeping.
    uchar* const bits = image.bits();
    std::vector<int> indices(strips.size());
    std::iota(indices.begin(), indices.end(), 0);
    QtConcurrent::blockingMap(indices, [&](int strip) {
        const int first = strip * rowsPerStrip;
        const int end = std::min(size.height(), first + rowsPerStrip);
        const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
            libdeflate_alloc_decompressor());
        const QByteArray& deflated = strips[size_t(strip)];
        // Rows lie one after another in a QImage, so a strip inflates in place.
        uchar* rows = bits + qsizetype(first) * bytesPerLine;
        libdeflate_deflate_decompress(decompressor.get(), deflated.constData(),
                                      size_t(deflated.size()), rows,
                                      size_t(end - first) * size_t(bytesPerLine), nullptr);
        for (int y = first; y < end; ++y)
            RowFilters::undoSub(bits + qsizetype(y) * bytesPerLine, bytesPerLine, distance);
    });
    return image;
}

qsizetype PackedImage::byteSize() const {
    qsizetype total = 0;
    for (const QByteArray& strip : strips)
        total += strip.size();
    return total;
}
