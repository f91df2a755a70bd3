#include "platform/PngEncoder.h"

#include "platform/WorkerThreads.h"

#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace PngEncoder {

namespace {

constexpr std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char subFilter = 1;

void appendBigEndian(QByteArray& out, quint32 value) {
    const quint32 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char*>(&big), 4);
}

void appendChunk(QByteArray& out, const char type[4], const QByteArray& data) {
    appendBigEndian(out, static_cast<quint32>(data.size()));
    const qsizetype typeStart = out.size();
    out.append(type, 4);
    out.append(data);
    const auto* crcStart = reinterpret_cast<const Bytef*>(out.constData() + typeStart);
    appendBigEndian(out,
                    static_cast<quint32>(crc32(0, crcStart, static_cast<uInt>(data.size() + 4))));
}

QByteArray header(const QImage& image, bool alpha) {
    QByteArray data;
    appendBigEndian(data, static_cast<quint32>(image.width()));
    appendBigEndian(data, static_cast<quint32>(image.height()));
    data.append(char(8));             // bits per sample
    data.append(char(alpha ? 6 : 2)); // RGBA or RGB
    data.append(3, char(0));          // deflate, adaptive filtering, no interlace
    return data;
}

// One horizontal strip of the image, filtered and compressed on its own. Rows are filtered
// within themselves, so strips are independent; a strip that is not the last ends on a byte
// boundary (sync flush) so that the raw deflate streams join into one.
struct Strip {
    QByteArray deflated;
    uLong adler = 1;
    uLong length = 0;
    bool ok = false;
};

Strip compressStrip(const QImage& pixels, int bytesPerPixel, int firstRow, int endRow, bool last) {
    Strip strip;
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK)
        return strip;
    const qsizetype rowBytes = qsizetype(pixels.width()) * bytesPerPixel;
    strip.length = uLong((rowBytes + 1) * (endRow - firstRow));
    strip.deflated.resize(qsizetype(deflateBound(&stream, strip.length)) + 64);
    stream.next_out = reinterpret_cast<Bytef*>(strip.deflated.data());
    stream.avail_out = static_cast<uInt>(strip.deflated.size());
    std::vector<unsigned char> row(static_cast<size_t>(rowBytes) + 1);
    bool ok = true;
    for (int y = firstRow; y < endRow && ok; ++y) {
        const uchar* source = pixels.constScanLine(y);
        row[0] = subFilter;
        std::copy(source, source + bytesPerPixel, row.begin() + 1);
        for (qsizetype i = bytesPerPixel; i < rowBytes; ++i)
            row[size_t(i) + 1] = static_cast<unsigned char>(source[i] - source[i - bytesPerPixel]);
        strip.adler = adler32(strip.adler, row.data(), static_cast<uInt>(row.size()));
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 < endRow ? Z_NO_FLUSH : (last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = deflate(&stream, flush) != Z_STREAM_ERROR && stream.avail_in == 0;
    }
    strip.deflated.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    strip.ok = ok;
    return strip;
}

// The zlib stream of all rows, its strips compressed in parallel.
std::optional<QByteArray> compressedRows(const QImage& pixels, int bytesPerPixel) {
    const int height = pixels.height();
    const int threads = WorkerThreads::count();
    const int strips = std::clamp(height / 64, 1, threads);
    std::vector<Strip> compressed(static_cast<size_t>(strips));
    WorkerThreads::runEach(strips, [&](int i) {
        compressed[size_t(i)] = compressStrip(pixels, bytesPerPixel, height * i / strips,
                                              height * (i + 1) / strips, i + 1 == strips);
    });
    QByteArray out("\x78\x01", 2); // deflate, 32K window, fastest level
    uLong adler = 1;
    bool ok = true;
    for (const Strip& strip : compressed) {
        ok = ok && strip.ok;
        out.append(strip.deflated);
        adler = adler32_combine(adler, strip.adler, z_off_t(strip.length));
    }
    if (!ok)
        return std::nullopt;
    appendBigEndian(out, static_cast<quint32>(adler));
    return out;
}

} // namespace

QByteArray encode(const QImage& image) {
    if (image.isNull())
        return {};
    const bool alpha = image.hasAlphaChannel();
    const QImage pixels =
        image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const auto idat = compressedRows(pixels, alpha ? 4 : 3);
    if (!idat)
        return {};
    QByteArray png(reinterpret_cast<const char*>(signature.data()), signature.size());
    appendChunk(png, "IHDR", header(pixels, alpha));
    appendChunk(png, "IDAT", *idat);
    appendChunk(png, "IEND", {});
    return png;
}

} // namespace PngEncoder
