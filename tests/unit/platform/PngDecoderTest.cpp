#include "platform/PngDecoder.h"
#include "platform/PngEncoder.h"

#include "QtPng.h"
#include "ZlibStreams.h"

#include <QColorSpace>
#include <QtEndian>

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

void appendBigEndian(QByteArray& out, quint32 value) {
    const quint32 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char*>(&big), 4);
}

QByteArray chunk(const char* type, const QByteArray& data) {
    QByteArray out;
    appendBigEndian(out, quint32(data.size()));
    out.append(type, 4);
    out.append(data);
    appendBigEndian(out, quint32(crc32(0, reinterpret_cast<const Bytef*>(out.constData() + 4),
                                       uInt(data.size() + 4))));
    return out;
}

// A PNG written sample by sample, so that every filter type, colour type and chunk order can
// be chosen; Qt's reader is the judge of what it should read as.
struct PngKind {
    int width = 1;
    int height = 1;
    uchar colorType = 2;
    int filter = -1; // -1: each row its own filter, in turn
    int depth = 8;
    uchar interlace = 0;
    int paletteSize = 0;
    int transparentEntries = 0;
    QList<QByteArray> chunksBeforeData = {};
};

int samplesOf(uchar colorType) {
    return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
}

uchar predictor(int filter, int left, int above, int aboveLeft) {
    switch (filter) {
    case 1:
        return uchar(left);
    case 2:
        return uchar(above);
    case 3:
        return uchar((left + above) / 2);
    case 4: {
        const int guess = left + above - aboveLeft;
        const int toLeft = std::abs(guess - left), toAbove = std::abs(guess - above),
                  toCorner = std::abs(guess - aboveLeft);
        if (toLeft <= toAbove && toLeft <= toCorner)
            return uchar(left);
        return uchar(toAbove <= toCorner ? above : aboveLeft);
    }
    default:
        return 0;
    }
}

// Text-like runs and edges over noise, so that each filter meets both.
QByteArray samples(const PngKind& kind) {
    const int rowBytes = kind.width * samplesOf(kind.colorType) * kind.depth / 8;
    QByteArray raw(qsizetype(rowBytes) * kind.height, Qt::Uninitialized);
    quint32 noise = 7;
    for (int y = 0; y < kind.height; ++y)
        for (int i = 0; i < rowBytes; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const bool run = (y / 3 + i / 7) % 3 == 0;
            raw[y * rowBytes + i] = char(run ? (y * 5) & 0xff : (noise >> 24) ^ (i * 3));
        }
    return raw;
}

QByteArray filtered(const PngKind& kind, const QByteArray& raw) {
    const int step = std::max(1, samplesOf(kind.colorType) * kind.depth / 8);
    const int rowBytes = kind.width * samplesOf(kind.colorType) * kind.depth / 8;
    QByteArray out;
    for (int y = 0; y < kind.height; ++y) {
        const int filter = kind.filter >= 0 ? kind.filter : y % 5;
        out.append(char(filter));
        auto at = [&](int row, int i) {
            return row < 0 || i < 0 ? 0 : int(uchar(raw[row * rowBytes + i]));
        };
        for (int i = 0; i < rowBytes; ++i)
            out.append(char(at(y, i) -
                            predictor(filter, at(y, i - step), at(y - 1, i), at(y - 1, i - step))));
    }
    return out;
}

// zlib's stream without qCompress's length in front.
QByteArray zlibOf(const QByteArray& imageData) {
    return qCompress(imageData).mid(4);
}

// The zlib stream a parallel encoder writes: each part of `data` up to the next of `ends`
// compressed on its own, ended on a byte boundary, the last one finished.
QByteArray zlibInStrips(const QByteArray& data, const std::vector<qsizetype>& ends) {
    return ZlibStreams::inStrips(data, ends, Z_SYNC_FLUSH, true, 1);
}

QByteArray pngWithStream(const PngKind& kind, const QByteArray& deflated) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, quint32(kind.width));
    appendBigEndian(header, quint32(kind.height));
    header.append(char(kind.depth)).append(char(kind.colorType)).append(2, char(0));
    header.append(char(kind.interlace));
    png.append(chunk("IHDR", header));
    for (const QByteArray& extra : kind.chunksBeforeData)
        png.append(extra);
    if (kind.paletteSize > 0) {
        QByteArray palette, alphas;
        for (int i = 0; i < kind.paletteSize; ++i)
            palette.append(char(i * 7)).append(char(255 - i)).append(char(i * 13));
        png.append(chunk("PLTE", palette));
        for (int i = 0; i < kind.transparentEntries; ++i)
            alphas.append(char(i * 9));
        if (kind.transparentEntries > 0)
            png.append(chunk("tRNS", alphas));
    }
    // Over several IDAT chunks.
    for (qsizetype at = 0; at < deflated.size(); at += 1000)
        png.append(chunk("IDAT", deflated.mid(at, 1000)));
    png.append(chunk("IEND", {}));
    return png;
}

QByteArray pngOf(const PngKind& kind, const QByteArray& imageData) {
    return pngWithStream(kind, zlibOf(imageData));
}

QByteArray pngOf(const PngKind& kind) {
    return pngOf(kind, filtered(kind, samples(kind)));
}

QByteArray physicalSize(quint32 x, quint32 y, uchar unit) {
    QByteArray data;
    appendBigEndian(data, x);
    appendBigEndian(data, y);
    data.append(char(unit));
    return chunk("pHYs", data);
}

void expectSameAsQt(const QImage& decoded, const QByteArray& png) {
    const QImage qt = QImage::fromData(png);
    EXPECT_EQ(decoded.isNull(), qt.isNull());
    EXPECT_EQ(decoded.format(), qt.format());
    EXPECT_EQ(decoded.size(), qt.size());
    EXPECT_EQ(decoded.colorTable(), qt.colorTable());
    EXPECT_EQ(decoded.dotsPerMeterX(), qt.dotsPerMeterX());
    EXPECT_EQ(decoded.dotsPerMeterY(), qt.dotsPerMeterY());
    EXPECT_EQ(decoded.colorSpace(), qt.colorSpace());
    EXPECT_TRUE(decoded == qt) << "the pixels differ from Qt's";
}

QImage screenLike(QImage::Format format) {
    QImage image(67, 41, format);
    if (format == QImage::Format_Indexed8) {
        for (int i = 0; i < 40; ++i)
            image.setColor(i, qRgb(i * 6, 200 - i, i * 3));
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (format == QImage::Format_Indexed8)
                image.setPixel(x, y, uint((x * y) % 40));
            else
                image.setPixelColor(
                    x, y, QColor((x * 37) % 256, (y * 11) % 256, (x ^ y) % 256, (x + y * 3) % 256));
        }
    return image;
}

} // namespace

TEST(PngDecoder, ReadsCommonKindsAsQtDoes) {
    struct Case {
        const char* name;
        PngKind kind;
    };
    const QByteArray unknownAncillary = chunk("teSt", "ignored by every reader");
    const Case cases[] = {
        {"RGB, no filter", {37, 23, 2, 0}},
        {"RGB, Sub", {37, 23, 2, 1}},
        {"RGB, Up", {37, 23, 2, 2}},
        {"RGB, Average", {37, 23, 2, 3}},
        {"RGB, Paeth", {37, 23, 2, 4}},
        {"RGBA, each filter", {64, 17, 6}},
        {"RGBA, Paeth", {33, 12, 6, 4}},
        {"grey, each filter", {45, 31, 0}},
        {"grey and alpha, each filter", {33, 9, 4}},
        {"grey and alpha, Average", {33, 9, 4, 3}},
        {"palette", {17, 13, 3, -1, 8, 0, 256}},
        {"palette with transparency", {17, 13, 3, -1, 8, 0, 256, 100}},
        {"palette smaller than its indices", {29, 7, 3, -1, 8, 0, 90, 3}},
        {"one column", {1, 40, 2}},
        {"one row", {41, 1, 6}},
        {"one pixel", {1, 1, 0}},
        {"resolution per metre", {5, 5, 2, -1, 8, 0, 0, 0, {physicalSize(5669, 2835, 1)}}},
        {"aspect ratio only", {5, 5, 2, -1, 8, 0, 0, 0, {physicalSize(3, 2, 0)}}},
        {"sRGB", {5, 5, 6, -1, 8, 0, 0, 0, {chunk("sRGB", QByteArray(1, '\0'))}}},
        {"unknown ancillary chunk", {9, 4, 2, -1, 8, 0, 0, 0, {unknownAncillary}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray png = pngOf(c.kind);
        const QImage decoded = PngDecoder::decodeDirectly(png);
        ASSERT_FALSE(decoded.isNull()) << "left to Qt";
        expectSameAsQt(decoded, png);
    }
}

TEST(PngDecoder, ReadsQtsAndOurEncodersPngsAsQtDoes) {
    for (const QImage::Format format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
          QImage::Format_Grayscale8, QImage::Format_Indexed8}) {
        SCOPED_TRACE(format);
        QImage image = screenLike(format);
        image.setDotsPerMeterX(3780);
        image.setDotsPerMeterY(7559);
        for (const QByteArray& png : {qtPngOf(image), PngEncoder::encode(image)}) {
            const QImage decoded = PngDecoder::decodeDirectly(png);
            ASSERT_FALSE(decoded.isNull()) << "left to Qt";
            expectSameAsQt(decoded, png);
            expectSameAsQt(PngDecoder::decode(png), png);
        }
    }
}

// Large images whose rows come in strips compressed on their own, as the edit server sends
// them: strips that stand alone are restored side by side, the others in one pass, and either
// way the pixels are Qt's.
TEST(PngDecoder, ReadsLargeStripMadePngsAsQtDoes) {
    // Strips of about equal rows; a strip's first row is a multiple of five plus `remainder`
    // (with each row's filter in turn, a row of that filter), or `extra` bytes into a row.
    const auto rowEnds = [](const PngKind& kind, int strips, int remainder, qsizetype extra) {
        const qsizetype rowBytes = qsizetype(kind.width) * samplesOf(kind.colorType) + 1;
        std::vector<qsizetype> ends;
        for (int i = 1; i < strips; ++i)
            ends.push_back(rowBytes * (kind.height * i / strips / 5 * 5 + remainder) + extra);
        ends.push_back(rowBytes * kind.height);
        return ends;
    };
    const PngKind rgba{1500, 500, 6, 1};
    const PngKind rgb{1500, 700, 2, 1};
    const PngKind grey{3000, 900, 0, 1};
    const PngKind palette{3000, 900, 3, 1, 8, 0, 256, 40};
    const PngKind eachFilter{1500, 500, 6, -1};
    const QByteArray eachFilterRows = filtered(eachFilter, samples(eachFilter));
    QByteArray badFilterLate = filtered(rgba, samples(rgba));
    badFilterLate[(qsizetype(rgba.width) * 4 + 1) * 450] = '\x09';
    struct Case {
        const char* name;
        QByteArray png;
        bool readsDirectly;
    };
    const Case cases[] = {
        {"RGBA, Sub rows, 8 strips",
         pngWithStream(rgba, zlibInStrips(filtered(rgba, samples(rgba)), rowEnds(rgba, 8, 0, 0))),
         true},
        {"RGB, Sub rows, 3 strips",
         pngWithStream(rgb, zlibInStrips(filtered(rgb, samples(rgb)), rowEnds(rgb, 3, 0, 0))),
         true},
        {"grey, Sub rows, more strips than threads",
         pngWithStream(grey, zlibInStrips(filtered(grey, samples(grey)), rowEnds(grey, 23, 0, 0))),
         true},
        {"palette, Sub rows",
         pngWithStream(
             palette, zlibInStrips(filtered(palette, samples(palette)), rowEnds(palette, 5, 0, 0))),
         true},
        {"each filter, strips starting on rows without the row above",
         pngWithStream(eachFilter, zlibInStrips(eachFilterRows, rowEnds(eachFilter, 7, 1, 0))),
         true},
        {"strips starting on rows that need the row above",
         pngWithStream(eachFilter, zlibInStrips(eachFilterRows, rowEnds(eachFilter, 7, 2, 0))),
         true},
        {"strips cut inside rows",
         pngWithStream(rgba, zlibInStrips(filtered(rgba, samples(rgba)), rowEnds(rgba, 6, 0, 37))),
         true},
        {"an unknown filter type in a later strip",
         pngWithStream(rgba, zlibInStrips(badFilterLate, rowEnds(rgba, 8, 0, 0))), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.png.size(), 1 << 20) << "too small to be inflated in strips";
        EXPECT_EQ(PngDecoder::decodeDirectly(c.png).isNull(), !c.readsDirectly);
        expectSameAsQt(PngDecoder::decode(c.png), c.png);
    }
    // Our own encoder's strips, from a screen-sized image.
    QImage screen(1600, 1000, QImage::Format_ARGB32);
    quint32 noise = 3;
    for (int y = 0; y < screen.height(); ++y) {
        auto* pixels = reinterpret_cast<QRgb*>(screen.scanLine(y));
        for (int x = 0; x < screen.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            pixels[x] = (x / 64 + y / 16) % 3 ? noise : qRgba(x % 256, y % 256, 40, 200);
        }
    }
    const QByteArray ours = PngEncoder::encode(screen);
    ASSERT_GT(ours.size(), 1 << 20);
    const QImage decoded = PngDecoder::decodeDirectly(ours);
    ASSERT_FALSE(decoded.isNull());
    expectSameAsQt(decoded, ours);
}

TEST(PngDecoder, LeavesOtherAndBrokenPngsToQt) {
    const PngKind rgb{23, 11, 2};
    const QByteArray good = pngOf(rgb);
    QByteArray badCrc = good;
    badCrc[good.indexOf("IDAT") + 10] = char(badCrc[good.indexOf("IDAT") + 10] ^ 0x40);
    QByteArray tooLong = filtered(rgb, samples(rgb));
    tooLong.append(tooLong.left(70));
    const QByteArray gamma = chunk("gAMA", QByteArray::fromHex("0000b18f"));
    const QByteArray text = chunk("tEXt", QByteArray("Software\0test", 13));
    const QByteArray greyTransparent = chunk("tRNS", QByteArray::fromHex("0010"));
    const QByteArray resolution = physicalSize(5669, 5669, 1);
    const QByteArray end = chunk("IEND", {});

    struct Case {
        const char* name;
        QByteArray png;
    };
    const Case cases[] = {
        {"sixteen bits a sample", pngOf({9, 7, 6, -1, 16})},
        {"interlaced", pngOf({9, 7, 2, 0, 8, 1})},
        {"gamma", pngOf({9, 7, 2, -1, 8, 0, 0, 0, {gamma}})},
        {"text", pngOf({9, 7, 2, -1, 8, 0, 0, 0, {text}})},
        {"grey with a transparent value", pngOf({9, 7, 0, -1, 8, 0, 0, 0, {greyTransparent}})},
        {"palette without PLTE", pngOf({9, 7, 3})},
        {"resolution twice", pngOf({9, 7, 2, -1, 8, 0, 0, 0, {resolution, resolution}})},
        {"resolution after the pixels", good.left(good.size() - end.size()) + resolution + end},
        {"CRC error", badCrc},
        {"unknown filter type",
         pngOf(rgb, QByteArray(1, '\x07') + filtered(rgb, samples(rgb)).mid(1))},
        {"too few rows", pngOf(rgb, filtered(rgb, samples(rgb)).left(3 * (23 * 3 + 1)))},
        {"too many rows", pngOf(rgb, tooLong)},
        {"far too large", pngOf({100000, 100000, 6}, QByteArray(10, '\0'))},
        {"not a PNG", QByteArray("GIF89a")},
        {"nothing", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(PngDecoder::decodeDirectly(c.png).isNull());
        expectSameAsQt(PngDecoder::decode(c.png), c.png);
    }
    // Cut anywhere, a PNG gives what Qt gives for it, and never a crash.
    for (qsizetype length = 0; length < good.size(); length += 7) {
        SCOPED_TRACE(length);
        expectSameAsQt(PngDecoder::decode(good.left(length)), good.left(length));
    }
}
