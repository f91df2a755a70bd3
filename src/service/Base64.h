#pragma once

#include <QByteArray>

#include <optional>
#include <string_view>

// Standard base64 (RFC 4648 alphabet, "=" padding to a multiple of four characters), read
// strictly: white space, line breaks, missing padding or any other character make the
// whole text invalid.
namespace Base64 {
std::optional<QByteArray> decode(std::string_view text);
// The same for `text` that lies within `buffer` (a reply holding the base64 text, say):
// `buffer` is left empty, the bytes being decoded in place and returned in the buffer's own
// memory, or, for a text of megabytes, which several threads decode, in a block of their own. When
// `text` is not valid base64 `buffer` is left untouched; when it lies elsewhere it is decoded as by
// decode().
std::optional<QByteArray> decodeTaking(QByteArray& buffer, QByteArrayView text);
QByteArray encode(QByteArrayView bytes);
} // namespace Base64
