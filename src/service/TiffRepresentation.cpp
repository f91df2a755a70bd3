#include "service/TiffRepresentation.h"

#include "platform/WorkerThreads.h"

#include <QtEndian>

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Tiles of about 256 pixels compress a screenshot better than full-width strips: the rows
// of a tile are close enough for Deflate's 32 KB window to find text and chrome repeated a
// row or two below, and each tile's Huffman codes fit its own content (a photo, a panel,
// text).
constexpr int smallestTileSide = 192;
constexpr int largestTileSide = 288;

// A growable in-memory file for libtiff's client interface, written at the end of a buffer
// that may already hold other bytes before it.
struct MemoryFile {
    QByteArray& data;
    const qint64 base;
    qint64 position = 0;

    explicit MemoryFile(QByteArray& buffer)
        : data(buffer)
        , base(buffer.size()) {}

    qint64 length() const { return data.size() - base; }

    static tmsize_t read(thandle_t handle, void* buffer, tmsize_t size) {
        auto* file = static_cast<MemoryFile*>(handle);
        const qint64 available = std::max<qint64>(0, file->length() - file->position);
        const qint64 count = std::min<qint64>(available, size);
        std::memcpy(buffer, file->data.constData() + file->base + file->position,
                    static_cast<size_t>(count));
        file->position += count;
        return static_cast<tmsize_t>(count);
    }

    static tmsize_t write(thandle_t handle, void* buffer, tmsize_t size) {
        auto* file = static_cast<MemoryFile*>(handle);
        const qint64 end = file->position + size;
        if (end > file->length())
            file->data.resize(file->base + end);
        std::memcpy(file->data.data() + file->base + file->position, buffer,
                    static_cast<size_t>(size));
        file->position = end;
        return size;
    }

    static toff_t seek(thandle_t handle, toff_t offset, int whence) {
        auto* file = static_cast<MemoryFile*>(handle);
        qint64 origin = 0;
        if (whence == SEEK_CUR)
            origin = file->position;
        else if (whence == SEEK_END)
            origin = file->length();
        file->position = origin + static_cast<qint64>(offset);
        return static_cast<toff_t>(file->position);
    }

    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t handle) {
        return static_cast<toff_t>(static_cast<MemoryFile*>(handle)->length());
    }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

struct Layout {
    int width = 0;
    int height = 0;
    int samplesPerPixel = 3;
    int tileWidth = 16;
    int tileHeight = 16;
    int tilesAcross = 1;
    int tilesDown = 1;

    int tiles() const { return tilesAcross * tilesDown; }
};

// Tile sides must be multiples of 16, and edge tiles are padded to the full side. Of the
// sides near 256 the one that pads least is taken (240 for 2160 or 1920 pixels, 272 for 1080),
// since padding is compressed like pixels; a small image gets one tile just big enough.
int tileSideFor(int imageSide) {
    const auto roundUp16 = [](int side) {
        return (side + 15) / 16 * 16;
    };
    if (imageSide <= largestTileSide)
        return roundUp16(imageSide);
    int best = largestTileSide;
    int leastPadding = imageSide;
    for (int side = largestTileSide; side >= smallestTileSide; side -= 16) {
        const int padding = (imageSide + side - 1) / side * side - imageSide;
        if (padding < leastPadding) {
            best = side;
            leastPadding = padding;
        }
    }
    return best;
}

// Every byte of a minus the same byte of b, modulo 256, in one step for all four.
quint32 byteDifferences(quint32 a, quint32 b) {
    constexpr quint32 high = 0x80808080u;
    return ((a | high) - (b & ~high)) ^ ((a ^ ~b) & high);
}

// The differences of one (A)RGB pixel as R, G, B (and A) bytes in the file's order, the bytes
// of the returned word from its lowest up.
quint32 rgbaOrder(quint32 differences) {
    return (differences & 0xff00ff00u) | ((differences >> 16) & 0xffu) |
           ((differences & 0xffu) << 16);
}

// One row of a tile through the horizontal predictor. Each pixel is stored as a whole word;
// with three samples a pixel's fourth byte is overwritten by the next pixel's first, so `out`
// must have one byte to spare after the row.
void predictRow(const QRgb* row, int columns, int samplesPerPixel, unsigned char* out) {
    quint32 previous = 0;
    for (int x = 0; x < columns; ++x) {
        const quint32 word = qToLittleEndian(rgbaOrder(byteDifferences(row[x], previous)));
        std::memcpy(out, &word, sizeof word);
        out += samplesPerPixel;
        previous = row[x];
    }
}

// One tile as 8-bit samples with the horizontal predictor applied, read from a 32-bit (A)RGB
// image. Past the right edge the last pixel repeats and past the bottom the rows are zero,
// so the padding every edge tile must carry predicts to zeros and costs next to nothing.
// `out` ends with one spare byte that is not part of the tile.
void predictTile(const QImage& source, const Layout& layout, int tile,
                 std::vector<unsigned char>& out) {
    const int spp = layout.samplesPerPixel;
    const int left = tile % layout.tilesAcross * layout.tileWidth;
    const int top = tile / layout.tilesAcross * layout.tileHeight;
    const int columns = std::min(layout.tileWidth, layout.width - left);
    const int rows = std::min(layout.tileHeight, layout.height - top);
    const size_t rowBytes = static_cast<size_t>(layout.tileWidth) * spp;
    const size_t usedBytes = static_cast<size_t>(columns) * spp;
    out.resize(rowBytes * layout.tileHeight + 1);
    for (int y = 0; y < rows; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(top + y)) + left;
        unsigned char* o = out.data() + rowBytes * y;
        predictRow(row, columns, spp, o);
        std::memset(o + usedBytes, 0, rowBytes - usedBytes);
    }
    std::memset(out.data() + rowBytes * rows, 0, rowBytes * (layout.tileHeight - rows));
}

std::vector<QByteArray> compressTiles(const QImage& source, const Layout& layout) {
    std::vector<QByteArray> tiles(static_cast<size_t>(layout.tiles()));
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
            libdeflate_alloc_compressor(1));
        if (!compressor) {
            failed = true;
            return;
        }
        // Scratch buffers live as long as the thread: a fresh worst-case buffer for every tile
        // is a block large enough to be mapped anew, and its pages faulted in, each time.
        std::vector<unsigned char> predicted;
        std::vector<unsigned char> deflated;
        for (int tile = next++; tile < layout.tiles(); tile = next++) {
            predictTile(source, layout, tile, predicted);
            const size_t tileBytes = predicted.size() - 1;
            const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), tileBytes);
            deflated.resize(bound);
            const size_t written = libdeflate_zlib_compress(compressor.get(), predicted.data(),
                                                            tileBytes, deflated.data(), bound);
            if (written == 0)
                failed = true;
            tiles[static_cast<size_t>(tile)] = QByteArray(
                reinterpret_cast<const char*>(deflated.data()), static_cast<qsizetype>(written));
        }
    };
    WorkerThreads::runEach(std::min(WorkerThreads::count(), layout.tiles()), [&work](int thread) {
        // The threads started only to help; the caller's own keeps its priority.
        if (thread > 0)
            WorkerThreads::yieldToInteractiveThreads();
        work();
    });
    if (failed)
        return {};
    return tiles;
}

bool writeTiff(MemoryFile& file, const Layout& layout, const std::vector<QByteArray>& tiles,
               double devicePixelRatio) {
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpen(
        "image.tiff", "w", &file, MemoryFile::read, MemoryFile::write, MemoryFile::seek,
        MemoryFile::close, MemoryFile::size, MemoryFile::map, MemoryFile::unmap));
    if (!tiff)
        return false;
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(layout.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(layout.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (layout.samplesPerPixel == 4) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(layout.tileWidth));
    TIFFSetField(t, TIFFTAG_TILELENGTH, static_cast<uint32_t>(layout.tileHeight));
    const float resolution = static_cast<float>(72.0 * devicePixelRatio);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, resolution);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, resolution);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    for (size_t i = 0; i < tiles.size(); ++i) {
        // The tiles are compressed already; libtiff only places them and records offsets.
        auto* data = const_cast<char*>(tiles[i].constData());
        if (TIFFWriteRawTile(t, static_cast<uint32_t>(i), data, tiles[i].size()) < 0)
            return false;
    }
    return TIFFWriteDirectory(t) != 0;
}

// An image with an alpha channel whose every pixel is opaque (a decoded PNG, a composed
// canvas) is sent as RGB: a fourth sample that is always 255 only adds to the body.
bool everyPixelOpaque(const QImage& argb) {
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        if (std::any_of(row, row + argb.width(), [](QRgb pixel) { return qAlpha(pixel) != 255; }))
            return false;
    }
    return true;
}

} // namespace

std::optional<QByteArray> TiffRepresentation::of(const QImage& image) {
    QByteArray tiff;
    if (!appendTo(tiff, image))
        return std::nullopt;
    return tiff;
}

bool TiffRepresentation::appendTo(QByteArray& out, const QImage& image, qsizetype spareAfter) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return false;

    // Screenshots already come as 32-bit RGB, so this is usually a shallow copy; other
    // formats (and premultiplied alpha) are converted once into a scratch image.
    const QImage::Format wanted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const QImage source = image.format() == wanted ? image : image.convertToFormat(wanted);
    if (source.isNull())
        return false;

    Layout layout;
    layout.width = image.width();
    layout.height = image.height();
    layout.samplesPerPixel = image.hasAlphaChannel() && !everyPixelOpaque(source) ? 4 : 3;
    layout.tileWidth = tileSideFor(layout.width);
    layout.tileHeight = tileSideFor(layout.height);
    layout.tilesAcross = (layout.width + layout.tileWidth - 1) / layout.tileWidth;
    layout.tilesDown = (layout.height + layout.tileHeight - 1) / layout.tileHeight;

    const std::vector<QByteArray> tiles = compressTiles(source, layout);
    if (tiles.empty())
        return false;
    qsizetype compressed = 0;
    for (const QByteArray& tile : tiles)
        compressed += tile.size();
    const qsizetype before = out.size();
    out.reserve(before + compressed + 16 * static_cast<qsizetype>(tiles.size()) + 4096 +
                spareAfter);
    MemoryFile file(out);
    if (!writeTiff(file, layout, tiles, image.devicePixelRatio())) {
        out.truncate(before);
        return false;
    }
    return true;
}
