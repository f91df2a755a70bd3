#include "platform/PngDecoder.h"

#include <QColorSpace>
#include <QImageReader>
#include <QtEndian>

#include <libdeflate.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/RowFilters.h"
#include "platform/WorkerThreads.h"
#include "platform/ZlibInflation.h"

namespace PngDecoder {

namespace {

constexpr std::array<uchar, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

enum ColorType : uchar { grey = 0, rgb = 2, palette = 3, greyAlpha = 4, rgba = 6 };

quint32 bigEndianAt(const uchar* at) {
    return qFromBigEndian<quint32>(at);
}

// What the chunks before the pixels say about the image.
struct Layout {
    int width = 0;
    int height = 0;
    ColorType colorType = grey;
    int channels = 1;
    std::vector<QRgb> colors; // the palette, with its transparency
    std::optional<std::pair<int, int>> dotsPerMeter;
    bool sRGB = false;
    std::vector<std::string_view> idats; // the pixels' data, chunk by chunk

    qsizetype rowBytes() const { return qsizetype(width) * channels; }
};

int channelsOf(ColorType type) {
    switch (type) {
    case grey:
    case palette:
        return 1;
    case greyAlpha:
        return 2;
    case rgb:
        return 3;
    case rgba:
        return 4;
    }
    return 0;
}

QImage::Format formatOf(ColorType type) {
    switch (type) {
    case grey:
        return QImage::Format_Grayscale8;
    case palette:
        return QImage::Format_Indexed8;
    case rgb:
        return QImage::Format_RGB32;
    case greyAlpha:
    case rgba:
        return QImage::Format_ARGB32;
    }
    return QImage::Format_Invalid;
}

bool readHeader(std::string_view data, Layout& layout) {
    if (data.size() != 13)
        return false;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const quint32 width = bigEndianAt(bytes);
    const quint32 height = bigEndianAt(bytes + 4);
    const uchar depth = bytes[8], type = bytes[9];
    const uchar compression = bytes[10], filter = bytes[11], interlace = bytes[12];
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
        return false;
    if (depth != 8 || compression != 0 || filter != 0 || interlace != 0)
        return false;
    if (type != grey && type != rgb && type != palette && type != greyAlpha && type != rgba)
        return false;
    layout.width = int(width);
    layout.height = int(height);
    layout.colorType = ColorType(type);
    layout.channels = channelsOf(layout.colorType);
    // Qt refuses images above its allocation limit; so does this path, before allocating.
    // Without a limit, Qt alone decides what it can hold.
    const qint64 limitBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    return limitBytes > 0 && qint64(width) * qint64(height) <= limitBytes / 4;
}

bool readPalette(std::string_view data, Layout& layout) {
    if (data.empty() || data.size() % 3 != 0 || data.size() > 3 * 256 || !layout.colors.empty())
        return false;
    for (size_t i = 0; i < data.size(); i += 3)
        layout.colors.push_back(qRgb(uchar(data[i]), uchar(data[i + 1]), uchar(data[i + 2])));
    return true;
}

bool readTransparency(std::string_view data, Layout& layout) {
    // Grey or RGB with a transparent colour become other formats in Qt's reader.
    if (layout.colorType != palette || data.size() > layout.colors.size())
        return false;
    for (size_t i = 0; i < data.size(); ++i) {
        const QRgb color = layout.colors[i];
        layout.colors[i] = qRgba(qRed(color), qGreen(color), qBlue(color), uchar(data[i]));
    }
    return true;
}

bool readResolution(std::string_view data, Layout& layout) {
    if (data.size() != 9)
        return false;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const quint32 x = bigEndianAt(bytes), y = bigEndianAt(bytes + 4);
    if (x > 0x7fffffff || y > 0x7fffffff)
        return false;
    if (bytes[8] == 1) // per metre; an aspect ratio alone says nothing of the resolution
        layout.dotsPerMeter = {int(x), int(y)};
    return true;
}

// libpng refuses a chunk whose type is not four ASCII letters.
bool isWellFormed(std::string_view type) {
    return std::ranges::all_of(
        type, [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool isCritical(std::string_view type) {
    return (type[0] & 0x20) == 0;
}

// Chunks Qt's reader turns into colour handling, text or offsets: images that carry them are
// left to it.
bool leftToQt(std::string_view type) {
    for (const std::string_view interpreted :
         {"gAMA", "cHRM", "iCCP", "sBIT", "tEXt", "zTXt", "iTXt", "oFFs", "eXIf"})
        if (type == interpreted)
            return true;
    return false;
}

// One chunk between the header and the pixels' data, read once at most. False for what this
// path leaves to Qt.
bool readBeforeData(std::string_view type, std::string_view data, Layout& layout,
                    std::vector<std::string_view>& seen) {
    if (std::ranges::find(seen, type) != seen.end())
        return false;
    seen.push_back(type);
    if (type == "PLTE") // RGB may carry a suggested palette, which Qt's reader ignores
        return layout.colorType == palette ? readPalette(data, layout) : layout.channels >= 3;
    if (type == "tRNS")
        return readTransparency(data, layout);
    if (type == "pHYs")
        return readResolution(data, layout);
    if (type == "sRGB") { // libpng ignores it after a palette
        layout.sRGB = true;
        return data.size() == 1 && uchar(data[0]) <= 3 &&
               std::ranges::find(seen, "PLTE") == seen.end();
    }
    return !leftToQt(type) && !isCritical(type);
}

// Reads the chunks in order, checking each one's CRC as libpng does. False for anything this
// path leaves to Qt: chunks Qt's reader interprets beyond what is read here, a critical chunk
// it does not know, anything out of order, data broken anywhere.
bool readChunks(const QByteArray& bytes, Layout& layout) {
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const size_t size = size_t(bytes.size());
    if (size < signature.size() || !std::equal(signature.begin(), signature.end(), data))
        return false;
    size_t at = signature.size();
    enum { header, beforeData, inData, afterData } part = header;
    std::vector<std::string_view> seen;
    while (true) {
        if (size - at < 12)
            return false;
        const quint32 length = bigEndianAt(data + at);
        if (length > 0x7fffffff || size - at - 12 < length)
            return false;
        const std::string_view type(reinterpret_cast<const char*>(data + at + 4), 4);
        const std::string_view chunk(reinterpret_cast<const char*>(data + at + 8), length);
        const quint32 crc = bigEndianAt(data + at + 8 + length);
        if (!isWellFormed(type) || libdeflate_crc32(0, data + at + 4, size_t(length) + 4) != crc)
            return false;
        at += 12 + size_t(length);

        if (part == header) {
            if (type != "IHDR" || !readHeader(chunk, layout))
                return false;
            part = beforeData;
        } else if (type == "IDAT") {
            if (part == afterData)
                return false;
            part = inData;
            layout.idats.push_back(chunk);
        } else if (part == beforeData) {
            if (!readBeforeData(type, chunk, layout, seen))
                return false;
        } else if (type == "IEND") {
            return layout.colorType != palette || !layout.colors.empty();
        } else {
            // After the pixels' data only chunks every reader ignores may come.
            if (isCritical(type) || leftToQt(type) || type == "pHYs" || type == "sRGB" ||
                type == "tRNS")
                return false;
            part = afterData;
        }
    }
}

// Restores one filtered row in place; `above` is the restored row before it (zeros for the
// first). False for a filter type that does not exist.
bool unfilter(uchar filter, uchar* row, const uchar* above, qsizetype length, int step) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        RowFilters::undoSub(row, length, step);
        return true;
    case 2:
        RowFilters::undoUp(row, above, length);
        return true;
    case 3:
        RowFilters::undoAverage(row, above, length, step);
        return true;
    case 4:
        RowFilters::undoPaeth(row, above, length, step);
        return true;
    }
    return false;
}

// RGBA bytes to Qt's 32-bit pixels, which lie in memory as B, G, R, A: red and blue swap.
void writeRgbaRow(const uchar* row, QRgb* pixels, int width) {
    int x = 0;
#ifdef __SSE2__
    const __m128i alphaAndGreen = _mm_set1_epi32(int(0xff00ff00u));
    for (; x + 4 <= width; x += 4) {
        const __m128i rgba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * x));
        const __m128i redAndBlue = _mm_andnot_si128(alphaAndGreen, rgba);
        const __m128i swapped =
            _mm_or_si128(_mm_slli_epi32(redAndBlue, 16), _mm_srli_epi32(redAndBlue, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + x),
                         _mm_or_si128(_mm_and_si128(rgba, alphaAndGreen), swapped));
    }
#endif
    for (; x < width; ++x)
        pixels[x] = (QRgb(row[4 * x + 3]) << 24) | (QRgb(row[4 * x]) << 16) |
                    (QRgb(row[4 * x + 1]) << 8) | row[4 * x + 2];
}

void writeRow(const Layout& layout, const uchar* row, uchar* out) {
    const int width = layout.width;
    auto* pixels = reinterpret_cast<QRgb*>(out);
    switch (layout.colorType) {
    case grey:
        std::memcpy(out, row, size_t(width));
        break;
    case palette: {
        // Qt's reader maps indices past the palette to its first colour.
        const int count = int(layout.colors.size());
        for (int x = 0; x < width; ++x)
            out[x] = row[x] < count ? row[x] : 0;
        break;
    }
    case greyAlpha:
        for (int x = 0; x < width; ++x)
            pixels[x] = (QRgb(row[2 * x + 1]) << 24) | (QRgb(row[2 * x]) * 0x010101u);
        break;
    case rgb:
        for (int x = 0; x < width; ++x)
            pixels[x] = 0xff000000u | (QRgb(row[3 * x]) << 16) | (QRgb(row[3 * x + 1]) << 8) |
                        row[3 * x + 2];
        break;
    case rgba:
        writeRgbaRow(row, pixels, width);
        break;
    }
}

// One block of memory holds the inflated rows and then the image made of them: fresh pages
// cost a fault each, and a 4K image is tens of megabytes of them.
class PixelBlock {
public:
    // Rows of `imageRow` bytes are written over rows of `filteredRow` bytes, in order, each
    // from a copy of its filtered row: image row y may cover filtered row y, never row y + 1.
    PixelBlock(int height, qsizetype filteredRow, qsizetype imageRow)
        : filteredOffset(size_t(height) * size_t(std::max<qsizetype>(0, imageRow - filteredRow)))
        , filteredSize(size_t(height) * size_t(filteredRow)) {
        block = static_cast<uchar*>(std::malloc(
            std::max(size_t(height) * size_t(imageRow), filteredOffset + filteredSize)));
    }
    ~PixelBlock() { std::free(block); }
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;

    bool isNull() const { return !block; }
    uchar* filtered() const { return block + filteredOffset; }
    size_t filteredBytes() const { return filteredSize; }
    uchar* pixels() const { return block; }
    // The block, from now on owned by the image made on it.
    uchar* release() { return std::exchange(block, nullptr); }

private:
    uchar* block = nullptr;
    size_t filteredOffset = 0;
    size_t filteredSize = 0;
};

qsizetype bytesPerLineOf(const Layout& layout) {
    const int depth = layout.colorType == grey || layout.colorType == palette ? 8 : 32;
    return ((qsizetype(layout.width) * depth + 31) / 32) * 4;
}

// Restores the rows in `block` and writes the image over them.
bool restoreRows(const Layout& layout, PixelBlock& block, qsizetype bytesPerLine) {
    const qsizetype rowBytes = layout.rowBytes();
    // The restored row before, kept aside: the image's rows overwrite the filtered ones.
    std::vector<uchar> restored(size_t(rowBytes), 0);
    uchar* row = block.filtered();
    for (int y = 0; y < layout.height; ++y, row += rowBytes + 1) {
        if (!unfilter(row[0], row + 1, restored.data(), rowBytes, std::max(1, layout.channels)))
            return false;
        std::memcpy(restored.data(), row + 1, size_t(rowBytes));
        writeRow(layout, restored.data(), block.pixels() + qsizetype(y) * bytesPerLine);
    }
    return true;
}

// Whether each strip holds whole rows and, after the first, starts with a row that needs
// nothing from the row above it: then the strips can be restored side by side.
bool stripsStandAlone(const Layout& layout, const std::vector<ZlibInflation::Strip>& strips) {
    const size_t filteredRow = size_t(layout.rowBytes()) + 1;
    for (size_t i = 0; i < strips.size(); ++i) {
        const ZlibInflation::Strip& strip = strips[i];
        if (strip.size == 0 || strip.size % filteredRow != 0)
            return false;
        const uchar firstFilter = strip.bytes.get()[0];
        if (i > 0 && firstFilter != 0 && firstFilter != 1)
            return false;
    }
    return true;
}

// Restores one strip's rows in place and writes them to the image from `firstRow` on.
bool restoreStrip(const Layout& layout, const ZlibInflation::Strip& strip, int firstRow,
                  uchar* pixels, qsizetype bytesPerLine) {
    const qsizetype rowBytes = layout.rowBytes();
    const std::vector<uchar> zeros(size_t(rowBytes), 0);
    const uchar* above = zeros.data();
    const int rows = int(strip.size / size_t(rowBytes + 1));
    uchar* row = strip.bytes.get();
    for (int y = 0; y < rows; ++y, row += rowBytes + 1) {
        if (!unfilter(row[0], row + 1, above, rowBytes, std::max(1, layout.channels)))
            return false;
        writeRow(layout, row + 1, pixels + qsizetype(firstRow + y) * bytesPerLine);
        above = row + 1;
    }
    return true;
}

// The image of strips that stand alone, each restored on a thread of its own, which also
// brings in the fresh pages of its part of the image.
bool restoreStrips(const Layout& layout, const std::vector<ZlibInflation::Strip>& strips,
                   uchar* pixels, qsizetype bytesPerLine) {
    std::vector<int> firstRows;
    int firstRow = 0;
    for (const ZlibInflation::Strip& strip : strips) {
        firstRows.push_back(firstRow);
        firstRow += int(strip.size / size_t(layout.rowBytes() + 1));
    }
    std::atomic<bool> ok = true;
    WorkerThreads::runEach(int(strips.size()), [&](int i) {
        if (!restoreStrip(layout, strips[size_t(i)], firstRows[size_t(i)], pixels, bytesPerLine))
            ok = false;
    });
    return ok;
}

void setMetadata(const Layout& layout, QImage& image) {
    if (layout.colorType == palette)
        image.setColorTable(QList<QRgb>(layout.colors.begin(), layout.colors.end()));
    if (layout.dotsPerMeter) {
        image.setDotsPerMeterX(layout.dotsPerMeter->first);
        image.setDotsPerMeterY(layout.dotsPerMeter->second);
    }
    if (layout.sRGB)
        image.setColorSpace(QColorSpace::SRgb);
}

} // namespace

// The pixels' data as one stream: in place when it came in one chunk, else joined.
std::string_view joined(const std::vector<std::string_view>& idats, QByteArray& storage) {
    if (idats.size() == 1)
        return idats.front();
    size_t total = 0;
    for (const std::string_view idat : idats)
        total += idat.size();
    storage.reserve(qsizetype(total));
    for (const std::string_view idat : idats)
        storage.append(idat.data(), qsizetype(idat.size()));
    return {storage.constData(), size_t(storage.size())};
}

// An image on pixels from malloc, which it frees; the pixels are freed here if it cannot be
// made.
QImage imageOn(const Layout& layout, uchar* pixels, qsizetype bytesPerLine) {
    QImage image(
        pixels, layout.width, layout.height, bytesPerLine, formatOf(layout.colorType),
        [](void* block) { std::free(block); }, pixels);
    if (image.isNull()) {
        std::free(pixels);
        return {};
    }
    setMetadata(layout, image);
    return image;
}

QImage decodeDirectly(const QByteArray& bytes) {
    Layout layout;
    if (!readChunks(bytes, layout))
        return {};
    const qsizetype bytesPerLine = bytesPerLineOf(layout);
    const size_t filteredBytes = size_t(layout.height) * size_t(layout.rowBytes() + 1);
    QByteArray storage;
    const std::string_view deflated = joined(layout.idats, storage);
    std::optional<std::vector<ZlibInflation::Strip>> strips =
        ZlibInflation::inflateStrips(deflated, filteredBytes);
    if (strips && stripsStandAlone(layout, *strips)) {
        auto* pixels = static_cast<uchar*>(std::malloc(size_t(layout.height) * bytesPerLine));
        if (!pixels)
            return {};
        if (!restoreStrips(layout, *strips, pixels, bytesPerLine)) {
            std::free(pixels);
            return {};
        }
        return imageOn(layout, pixels, bytesPerLine);
    }
    PixelBlock block(layout.height, layout.rowBytes() + 1, bytesPerLine);
    if (block.isNull())
        return {};
    if (strips) {
        uchar* at = block.filtered();
        for (const ZlibInflation::Strip& strip : *strips)
            at = std::copy_n(strip.bytes.get(), strip.size, at);
        strips.reset();
    } else if (!ZlibInflation::inflateWhole(deflated, block.filtered(), block.filteredBytes())) {
        return {};
    }
    if (!restoreRows(layout, block, bytesPerLine))
        return {};
    return imageOn(layout, block.release(), bytesPerLine);
}

QImage decode(const QByteArray& bytes) {
    QImage image = decodeDirectly(bytes);
    return image.isNull() ? QImage::fromData(bytes) : image;
}

} // namespace PngDecoder
