// A cached envelope file as the crash reporter reads it at every start: what parses writes
// back to bytes that parse to the same items.
#include "FuzzCheck.h"
#include "sdk/SentryEnvelope.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto envelope = SentryEnvelope::parse(bytes);
    if (!envelope)
        return 0;
    const auto again = SentryEnvelope::parse(envelope->serialize());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->items.size() == envelope->items.size());
    for (std::size_t i = 0; i < envelope->items.size(); ++i) {
        FUZZ_CHECK(again->items[i].type == envelope->items[i].type);
        FUZZ_CHECK(again->items[i].payload == envelope->items[i].payload);
    }
    static_cast<void>(envelope->holdsCrash());
    return 0;
}
