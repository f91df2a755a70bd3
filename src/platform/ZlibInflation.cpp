#include "platform/ZlibInflation.h"

#include "platform/WorkerThreads.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace ZlibInflation {

namespace {

// LEN 0 and NLEN 0xffff: the end of an empty stored block, where a flush leaves the stream on
// a byte boundary.
constexpr std::string_view flushMarker("\x00\x00\xff\xff", 4);
// A final block of fixed codes holding only its end: closes a strip inflated on its own.
constexpr std::string_view finalBlock("\x03\x00", 2);
// Below this a stream inflates faster than threads start.
constexpr size_t parallelBytes = size_t(1) << 20;

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};
using Decompressor = std::unique_ptr<libdeflate_decompressor, DecompressorDeleter>;

// Cuts the raw deflate data after flush markers into at most `count` pieces. A stream of no
// more strips than threads is cut at every marker: a parallel encoder's strips hold equal
// numbers of rows, which inflate in about equal times however differently they compress.
// Otherwise the pieces are of similar compressed size.
std::vector<std::string_view> piecesOf(std::string_view raw, size_t count) {
    std::vector<size_t> ends;
    for (size_t at = raw.find(flushMarker); at != std::string_view::npos;
         at = raw.find(flushMarker, at + 1)) {
        if (at + flushMarker.size() < raw.size())
            ends.push_back(at + flushMarker.size());
    }
    const size_t target = ends.size() < count ? 0 : raw.size() / count;
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (const size_t end : ends) {
        if (end - start >= target && pieces.size() + 1 < count) {
            pieces.push_back(raw.substr(start, end - start));
            start = end;
        }
    }
    pieces.push_back(raw.substr(start));
    return pieces;
}

// One piece inflated on its own into memory of its own.
struct Inflated {
    Strip strip;
    uLong adler = 1;
    bool ok = false;
};

Inflated inflatePiece(std::string_view piece, bool last, size_t capacity) {
    Inflated result;
    std::string closed(piece);
    if (!last)
        closed.append(finalBlock);
    Strip& strip = result.strip;
    strip.bytes.reset(static_cast<uchar*>(std::malloc(capacity)));
    const Decompressor decompressor(libdeflate_alloc_decompressor());
    if (!strip.bytes || !decompressor)
        return result;
    size_t consumed = 0;
    result.ok = libdeflate_deflate_decompress_ex(decompressor.get(), closed.data(), closed.size(),
                                                 strip.bytes.get(), capacity, &consumed,
                                                 &strip.size) == LIBDEFLATE_SUCCESS &&
                consumed == closed.size();
    if (result.ok)
        result.adler = libdeflate_adler32(1, strip.bytes.get(), strip.size);
    return result;
}

std::optional<std::vector<Strip>> inflateInPieces(std::string_view raw, quint32 adler,
                                                  size_t size) {
    const size_t threads = static_cast<size_t>(WorkerThreads::count());
    const std::vector<std::string_view> pieces = piecesOf(raw, threads);
    if (pieces.size() < 2)
        return std::nullopt;
    std::vector<Inflated> pending(pieces.size());
    WorkerThreads::runEach(int(pieces.size()), [&](int i) {
        pending[size_t(i)] = inflatePiece(pieces[size_t(i)], size_t(i) + 1 == pieces.size(), size);
    });
    std::vector<Strip> strips;
    size_t total = 0;
    uLong combined = 1;
    bool ok = true;
    for (Inflated& inflated : pending) {
        ok = ok && inflated.ok && inflated.strip.size <= size - total;
        if (ok) {
            combined = adler32_combine(combined, inflated.adler, z_off_t(inflated.strip.size));
            total += inflated.strip.size;
            strips.push_back(std::move(inflated.strip));
        }
    }
    if (!ok || total != size || combined != adler)
        return std::nullopt;
    return strips;
}

} // namespace

void FreeDeleter::operator()(uchar* bytes) const {
    std::free(bytes);
}

std::optional<std::vector<Strip>> inflateStrips(std::string_view zlib, size_t size) {
    if (zlib.size() < parallelBytes)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(zlib.data());
    // Deflate, no preset dictionary, a header whose check holds.
    const bool plainHeader = (bytes[0] & 0x0f) == 8 && (bytes[0] >> 4) <= 7 &&
                             (bytes[1] & 0x20) == 0 && (bytes[0] * 256 + bytes[1]) % 31 == 0;
    if (!plainHeader)
        return std::nullopt;
    const size_t end = zlib.size() - 4;
    const quint32 adler = (quint32(bytes[end]) << 24) | (quint32(bytes[end + 1]) << 16) |
                          (quint32(bytes[end + 2]) << 8) | bytes[end + 3];
    return inflateInPieces(zlib.substr(2, end - 2), adler, size);
}

bool inflateWhole(std::string_view zlib, uchar* out, size_t size) {
    const Decompressor decompressor(libdeflate_alloc_decompressor());
    size_t inflated = 0;
    return decompressor &&
           libdeflate_zlib_decompress(decompressor.get(), zlib.data(), zlib.size(), out, size,
                                      &inflated) == LIBDEFLATE_SUCCESS &&
           inflated == size;
}

bool inflate(std::string_view zlib, uchar* out, size_t size) {
    if (const std::optional<std::vector<Strip>> strips = inflateStrips(zlib, size)) {
        size_t at = 0;
        for (const Strip& strip : *strips) {
            std::memcpy(out + at, strip.bytes.get(), strip.size);
            at += strip.size;
        }
        return true;
    }
    return inflateWhole(zlib, out, size);
}

} // namespace ZlibInflation
