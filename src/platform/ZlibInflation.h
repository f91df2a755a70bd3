#pragma once

#include <QtGlobal>

#include <string_view>

// Inflates a zlib stream of known size. A stream made of strips compressed on their own, each
// ending on a byte boundary with an empty stored block (zlib's full flush, or a parallel
// encoder such as the local edit server's), is inflated strip by strip on several threads:
// one thread inflates a 4K screenshot's 33 MB in about 50 ms, most of a result's decode.
// Whatever the stream, the result is the one inflating it whole gives: a strip that refers
// back into the one before, a marker that was only data, or an Adler-32 that does not match,
// and the stream is inflated whole.
namespace ZlibInflation {
// True when `zlib` inflates to exactly `size` bytes at `out`, its checksum right.
bool inflate(std::string_view zlib, uchar* out, size_t size);
} // namespace ZlibInflation
