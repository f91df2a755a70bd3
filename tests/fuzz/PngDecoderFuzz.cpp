// A PNG as an edit result arrives: whatever the bytes, decoding ends, and an image the direct
// path makes is the image Qt's reader makes of the same bytes.
#include "FuzzCheck.h"
#include "platform/PngDecoder.h"

#include <QColorSpace>
#include <QtEndian>

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>

namespace {

// Gives every whole chunk its right CRC: otherwise nearly every mutation ends at the first
// CRC check, and the reading behind it is never reached.
void repairCrcs(QByteArray& bytes) {
    auto* data = reinterpret_cast<uchar*>(bytes.data());
    qsizetype at = 8;
    while (bytes.size() - at >= 12) {
        const quint32 length = qFromBigEndian<quint32>(data + at);
        if (length > quint32(bytes.size() - at - 12))
            return;
        qToBigEndian<quint32>(quint32(libdeflate_crc32(0, data + at + 4, size_t(length) + 4)),
                              data + at + 8 + length);
        at += 12 + qsizetype(length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Inputs of odd length are read as they are, CRC errors included.
    if (size % 2 == 0)
        repairCrcs(bytes);
    const QImage direct = PngDecoder::decodeDirectly(bytes);
    if (direct.isNull())
        return 0;
    const QImage qt = QImage::fromData(bytes);
    FUZZ_CHECK(direct.format() == qt.format());
    FUZZ_CHECK(direct.colorTable() == qt.colorTable());
    FUZZ_CHECK(direct.dotsPerMeterX() == qt.dotsPerMeterX());
    FUZZ_CHECK(direct.colorSpace() == qt.colorSpace());
    FUZZ_CHECK(direct == qt);
    return 0;
}
