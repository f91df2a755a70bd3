// A PNG as an edit result arrives: whatever the bytes, decoding ends, and an image the direct
// path makes is the image Qt's reader makes of the same bytes.
#include "FuzzCheck.h"
#include "platform/PngDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QImage direct = PngDecoder::decodeDirectly(bytes);
    if (direct.isNull())
        return 0;
    const QImage qt = QImage::fromData(bytes);
    FUZZ_CHECK(direct.format() == qt.format());
    FUZZ_CHECK(direct.colorTable() == qt.colorTable());
    FUZZ_CHECK(direct == qt);
    return 0;
}
