#pragma once

#include <QByteArray>

#include <optional>
#include <string_view>

// Standard base64 (RFC 4648 alphabet, "=" padding to a multiple of four characters), read
// strictly: white space, line breaks, missing padding or any other character make the
// whole text invalid.
namespace Base64 {
std::optional<QByteArray> decode(std::string_view text);
QByteArray encode(QByteArrayView bytes);
} // namespace Base64
