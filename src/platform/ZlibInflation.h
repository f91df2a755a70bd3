#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// Inflates a zlib stream of known size. A stream made of strips compressed on their own, each
// ending on a byte boundary with an empty stored block (zlib's full flush, or a parallel
// encoder such as the local edit server's), is inflated strip by strip on several threads:
// one thread inflates a 4K screenshot's 33 MB in about 50 ms, most of a result's decode.
// Whatever the stream, the result is the one inflating it whole gives: a strip that refers
// back into the one before, a marker that was only data, or an Adler-32 that does not match,
// and the stream is inflated whole.
namespace ZlibInflation {

struct FreeDeleter {
    void operator()(uchar* bytes) const;
};

// One strip of a stream, inflated into memory of its own.
struct Strip {
    std::unique_ptr<uchar, FreeDeleter> bytes;
    size_t size = 0;
};

// True when `zlib` inflates to exactly `size` bytes at `out`, its checksum right.
bool inflate(std::string_view zlib, uchar* out, size_t size);

// As `inflate`, on one thread, for a stream `inflateStrips` has refused.
bool inflateWhole(std::string_view zlib, uchar* out, size_t size);

// The strips of a stream made of them, in order, inflated on several threads, when together
// they are exactly `size` bytes with the stream's checksum. None for a stream too small to be
// worth the threads, or one that is not made of strips: `inflate` takes those whole.
std::optional<std::vector<Strip>> inflateStrips(std::string_view zlib, size_t size);

} // namespace ZlibInflation
