// The strict base64 reader against Qt's: whatever it takes, Qt reads the same way, and the
// in-place reading of the same text inside a larger buffer gives the same bytes.
#include "FuzzCheck.h"
#include "service/Base64.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto decoded = Base64::decode(std::string_view(text.constData(), text.size()));
    if (decoded) {
        const auto qt =
            QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        FUZZ_CHECK(qt.decodingStatus == QByteArray::Base64DecodingStatus::Ok);
        FUZZ_CHECK(qt.decoded == *decoded);
    }
    QByteArray buffer = "{\"content\":\"" + text + "\"}";
    const QByteArray before = buffer;
    const auto inPlace =
        Base64::decodeTaking(buffer, QByteArrayView(buffer).sliced(12, text.size()));
    FUZZ_CHECK(inPlace == decoded);
    if (!inPlace)
        FUZZ_CHECK(buffer == before);
    return 0;
}
