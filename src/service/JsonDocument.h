#pragma once

#include "service/JsonValue.h"

#include <deque>
#include <memory>
#include <string>
#include <string_view>

// A strict JSON parser (RFC 8259): UTF-8 only, no trailing commas, comments or bare
// values beyond JSON's own, numbers that fit a double, nesting at most maxDepth deep.
// Unescaped texts are not copied: the document's values point into the input, which must
// outlive the document. Long texts are scanned eight bytes at a time, which keeps an image
// reply of many megabytes within a few memory passes.
class JsonDocument {
public:
    static constexpr int maxDepth = 512;

    // Throws DecodingError (dataCorrupted) for anything that is not one valid JSON value.
    static std::unique_ptr<JsonDocument> parse(std::string_view input);

    const JsonValue& root() const { return rootValue; }

private:
    friend class JsonParser;

    JsonValue rootValue;
    std::deque<std::string> unescapedTexts; // stable addresses for texts that had escapes
};
