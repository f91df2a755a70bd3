#include "service/Base64.h"

#include "platform/WorkerThreads.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

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

// Decodes the `quads` whole quads at `in` (the last one excluded by the caller) into `out`,
// or, without `out`, only checks them. `out` may be `in` itself or any place before it: each
// quad is read before its three bytes are written, and they land no later than it was.
// Returns the OR of all quads: the invalid bit says whether any character was not base64.
std::uint32_t decodeQuads(const unsigned char* in, unsigned char* out, size_t quads) {
    std::uint32_t errors = 0;
    for (size_t i = 0; i < quads; ++i, in += 4) {
        const std::uint32_t v = quad(in);
        errors |= v;
        if (out) {
            out[0] = static_cast<unsigned char>(v >> 16);
            out[1] = static_cast<unsigned char>(v >> 8);
            out[2] = static_cast<unsigned char>(v);
            out += 3;
        }
    }
    return errors;
}

// Below this many quads a share (1 MB of text), one thread decodes faster than others start.
constexpr size_t quadsPerThread = 256 * 1024;

// decodeQuads() over several threads, each on its own run of quads: a reply's image is
// megabytes of text, and one core takes tens of milliseconds for it. Not for decoding in
// place, where a run's bytes land on text an earlier run may not have read yet.
std::uint32_t decodeQuadsInParallel(const unsigned char* in, unsigned char* out, size_t quads) {
    const size_t threads =
        std::clamp<size_t>(quads / quadsPerThread, 1, static_cast<size_t>(WorkerThreads::count()));
    if (threads == 1)
        return decodeQuads(in, out, quads);
    const size_t share = quads / threads;
    std::vector<std::uint32_t> errors(threads, 0);
    WorkerThreads::runEach(int(threads), [&](int thread) {
        const size_t t = size_t(thread);
        const size_t first = t * share;
        const size_t count = t + 1 == threads ? quads - first : share;
        errors[t] = decodeQuads(in + first * 4, out + first * 3, count);
    });
    std::uint32_t all = 0;
    for (const std::uint32_t e : errors)
        all |= e;
    return all;
}

size_t paddingOf(std::string_view text) {
    if (text.back() != '=')
        return 0;
    return text[text.size() - 2] == '=' ? 2 : 1;
}

// The last quad, which may end in one or two "=" and nowhere else: its value, with the
// invalid bit when it is not valid.
std::uint32_t lastQuad(std::string_view text, size_t padding) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data() + text.size() - 4);
    unsigned char last[4] = {in[0], in[1], in[2], in[3]};
    for (size_t i = 4 - padding; i < 4; ++i)
        last[i] = 'A';
    return quad(last);
}

void writeLast(std::uint32_t v, size_t padding, unsigned char* out) {
    const unsigned char bytes[3] = {static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v)};
    for (size_t i = 0; i < 3 - padding; ++i)
        out[i] = bytes[i];
}

} // namespace

namespace Base64 {

std::optional<QByteArray> decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.empty())
        return QByteArray();
    const size_t quads = text.size() / 4;
    const size_t padding = paddingOf(text);
    QByteArray out(static_cast<qsizetype>(quads * 3 - padding), Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::uint32_t last = lastQuad(text, padding);
    if ((decodeQuadsInParallel(in, o, quads - 1) | last) & invalid)
        return std::nullopt;
    writeLast(last, padding, o + (quads - 1) * 3);
    return out;
}

std::optional<QByteArray> decodeTaking(QByteArray& buffer, QByteArrayView text) {
    const char* begin = buffer.constData();
    const std::string_view view(text.data(), static_cast<size_t>(text.size()));
    if (text.empty() || text.data() < begin || text.data() + text.size() > begin + buffer.size())
        return decode(view);
    if (text.size() % 4 != 0)
        return std::nullopt;
    const size_t quads = view.size() / 4;
    // Large enough to spread over threads, which cannot share the text's memory: a fresh
    // block costs less than the decoding on one core.
    if (quads >= 2 * quadsPerThread) {
        std::optional<QByteArray> image = decode(view);
        if (image)
            buffer = QByteArray();
        return image;
    }
    const size_t padding = paddingOf(view);
    const std::uint32_t last = lastQuad(view, padding);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    // Checked whole first: on failure the buffer must be left as it was.
    if ((decodeQuads(in, nullptr, quads - 1) | last) & invalid)
        return std::nullopt;
    const qsizetype offset = text.data() - begin;
    auto* out = reinterpret_cast<unsigned char*>(buffer.data()); // detaches only if shared
    decodeQuads(out + offset, out, quads - 1);
    writeLast(last, padding, out + (quads - 1) * 3);
    QByteArray image = std::move(buffer);
    image.truncate(static_cast<qsizetype>(quads * 3 - padding));
    image.squeeze(); // shrinks in place: a large block gives its tail back
    return image;
}

QByteArray encode(QByteArrayView bytes) {
    return QByteArray::fromRawData(bytes.data(), bytes.size()).toBase64();
}

} // namespace Base64
