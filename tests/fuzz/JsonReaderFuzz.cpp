// The strict JSON reader on any bytes: a value or a DecodingError, nothing else.
#include "service/DecodingError.h"
#include "service/JsonDocument.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        JsonDocument::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const DecodingError&) {
    }
    return 0;
}
