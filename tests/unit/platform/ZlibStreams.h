#pragma once

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace ZlibStreams {

// A zlib stream of `data` in strips, each up to the next of `ends` and ended by `flush`
// (Z_FINISH on the last). With `separate`, every strip is a deflate stream of its own, as a
// parallel encoder makes it; otherwise one stream runs through, flushed between strips.
inline QByteArray inStrips(const QByteArray& data, const std::vector<qsizetype>& ends, int flush,
                           bool separate, int level) {
    QByteArray out("\x78\x9c", 2);
    z_stream stream{};
    std::vector<char> buffer(size_t(data.size()) * 2 + 1024);
    qsizetype first = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const bool last = i + 1 == ends.size();
        if (separate || i == 0)
            deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + first));
        stream.avail_in = uInt(ends[i] - first);
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        deflate(&stream, last ? Z_FINISH : (separate ? Z_SYNC_FLUSH : flush));
        out.append(buffer.data(), qsizetype(buffer.size() - stream.avail_out));
        if (separate || last)
            deflateEnd(&stream);
        first = ends[i];
    }
    const quint32 adler = qToBigEndian(
        quint32(adler32(1, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()))));
    out.append(reinterpret_cast<const char*>(&adler), 4);
    return out;
}

} // namespace ZlibStreams
