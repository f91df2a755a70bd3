#include "service/Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint32_t invalid = 0x01000000; // above the 24 bits a quad yields

// One table per position in a quad, each holding the character's six bits already shifted
// into place, so a quad is four loads and three ORs, and any invalid character leaves the
// invalid bit set in the result.
struct Tables {
    std::array<std::array<std::uint32_t, 256>, 4> shifted{};

    constexpr Tables() {
        for (auto& table : shifted)
            table.fill(invalid);
        for (std::uint32_t i = 0; i < alphabet.size(); ++i) {
            const auto c = static_cast<unsigned char>(alphabet[i]);
            shifted[0][c] = i << 18;
            shifted[1][c] = i << 12;
            shifted[2][c] = i << 6;
            shifted[3][c] = i;
        }
    }
};

constexpr Tables tables;

inline std::uint32_t quad(const unsigned char* in) {
    return tables.shifted[0][in[0]] | tables.shifted[1][in[1]] | tables.shifted[2][in[2]] |
           tables.shifted[3][in[3]];
}

} // namespace

namespace Base64 {

std::optional<QByteArray> decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.empty())
        return QByteArray();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t quads = text.size() / 4;
    size_t padding = 0;
    if (text.back() == '=')
        padding = text[text.size() - 2] == '=' ? 2 : 1;

    QByteArray out(static_cast<qsizetype>(quads * 3 - padding), Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    std::uint32_t errors = 0;
    for (size_t i = 0; i + 1 < quads; ++i, in += 4, o += 3) {
        const std::uint32_t v = quad(in);
        errors |= v;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
    }
    if (errors & invalid)
        return std::nullopt;

    // The last quad may end in one or two "=" and nowhere else.
    unsigned char last[4] = {in[0], in[1], in[2], in[3]};
    for (size_t i = 4 - padding; i < 4; ++i)
        last[i] = 'A';
    const std::uint32_t v = quad(last);
    if (v & invalid)
        return std::nullopt;
    const unsigned char bytes[3] = {static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v)};
    for (size_t i = 0; i < 3 - padding; ++i)
        o[i] = bytes[i];
    return out;
}

QByteArray encode(QByteArrayView bytes) {
    return QByteArray::fromRawData(bytes.data(), bytes.size()).toBase64();
}

} // namespace Base64
