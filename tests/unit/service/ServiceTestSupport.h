#pragma once

#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "sdk/SentrySDK.h"
#include "service/PixaloomError.h"
#include "service/PixaloomService.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QPainter>
#include <QTemporaryFile>

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <variant>
#include <vector>

// What an edit call ended with: the image bytes or the error it threw.
using EditOutcome = std::variant<QByteArray, PixaloomError>;

inline QCoro::Task<EditOutcome> outcomeOf(QCoro::Task<QByteArray> call) {
    try {
        co_return co_await std::move(call);
    } catch (const PixaloomError& error) {
        co_return error;
    }
}

// Runs one edit to its end in a nested event loop, as the GUI thread would.
inline EditOutcome runEdit(PixaloomService& service, const QString& prompt, const QImage& image,
                           std::optional<QString> theme = std::nullopt,
                           bool improvePrompt = false) {
    return QCoro::waitFor(
        outcomeOf(service.generateImage(prompt, image, std::move(theme), improvePrompt)));
}

// A small image with distinct pixels in every row and column, so that a row or channel
// mix-up shows.
inline QImage patternImage(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba((x * 7 + y) & 0xFF, (y * 13) & 0xFF, (x ^ y) & 0xFF,
                                 format == QImage::Format_RGB32 ? 255 : (x * 3 + 40) & 0xFF));
    return image;
}

// One edit against a loopback server that gives `reply`: its outcome, the crash reports it
// made and the service's log lines.
struct EditRun {
    EditOutcome outcome;
    std::vector<SentrySDK::Report> reports;
    QStringList lines;
};

inline const QString serviceLogCategory = QStringLiteral("com.app.pixaloom.PixaloomService");

inline EditRun editAgainst(LoopbackHttpServer::Reply reply,
                           std::chrono::milliseconds idleLimit = std::chrono::seconds(10)) {
    LoopbackHttpServer server;
    server.enqueue(std::move(reply));
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, idleLimit});
    LogCapture logs;
    EditOutcome outcome = runEdit(service, "prompt", patternImage(8, 8));
    return {std::move(outcome), crashReports.reports(), logs.messages(serviceLogCategory)};
}

// Every pixel's samples, row by row, from a striped or a tiled TIFF; empty when one does not
// read.
inline std::vector<unsigned char> storedSamples(TIFF* tiff, uint32_t width, uint32_t height,
                                                uint16_t samples) {
    const size_t pixelBytes = samples;
    std::vector<unsigned char> all(size_t(width) * height * pixelBytes);
    if (!TIFFIsTiled(tiff)) {
        for (uint32_t y = 0; y < height; ++y)
            if (TIFFReadScanline(tiff, all.data() + size_t(y) * width * pixelBytes, y, 0) < 0)
                return {};
        return all;
    }
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    std::vector<unsigned char> tile(size_t(TIFFTileSize(tiff)));
    for (uint32_t top = 0; top < height; top += tileHeight)
        for (uint32_t left = 0; left < width; left += tileWidth) {
            if (TIFFReadTile(tiff, tile.data(), left, top, 0, 0) < 0)
                return {};
            for (uint32_t y = top; y < std::min(height, top + tileHeight); ++y)
                std::memcpy(all.data() + (size_t(y) * width + left) * pixelBytes,
                            tile.data() + size_t(y - top) * tileWidth * pixelBytes,
                            std::min(tileWidth, width - left) * pixelBytes);
        }
    return all;
}

// Reads a TIFF with libtiff into non-premultiplied ARGB32, and tells how many samples a pixel
// was stored in; a null image when it does not read.
inline QImage decodeTiff(const QByteArray& tiff, uint16_t* storedSamplesPerPixel = nullptr) {
    QTemporaryFile file;
    if (!file.open() || file.write(tiff) != tiff.size() || !file.flush())
        return {};
    TIFF* tiffFile = TIFFOpen(QFile::encodeName(file.fileName()).constData(), "r");
    if (!tiffFile)
        return {};
    uint32_t width = 0, height = 0;
    uint16_t samples = 0, bits = 0, compression = 0;
    TIFFGetField(tiffFile, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiffFile, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiffFile, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (storedSamplesPerPixel)
        *storedSamplesPerPixel = samples;
    TIFFGetField(tiffFile, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiffFile, TIFFTAG_COMPRESSION, &compression);
    QImage image;
    // Samples as stored (libtiff undoes Deflate and the predictor), never premultiplied.
    if (bits == 8 && (samples == 3 || samples == 4) && compression == COMPRESSION_ADOBE_DEFLATE) {
        const std::vector<unsigned char> stored = storedSamples(tiffFile, width, height, samples);
        if (!stored.empty()) {
            image = QImage(int(width), int(height), QImage::Format_ARGB32);
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < width; ++x) {
                    const unsigned char* p = stored.data() + (size_t(y) * width + x) * samples;
                    image.setPixel(int(x), int(y),
                                   qRgba(p[0], p[1], p[2], samples == 4 ? p[3] : 255));
                }
        }
    }
    TIFFClose(tiffFile);
    return image;
}
