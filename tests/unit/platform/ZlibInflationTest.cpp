#include "platform/ZlibInflation.h"

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Rows of noise and runs: big enough, compressed, for the inflation to use several threads,
// with the bytes of a flush marker among them.
QByteArray samples() {
    QByteArray data(3 << 20, Qt::Uninitialized);
    quint32 noise = 5;
    for (qsizetype i = 0; i < data.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        data[i] = (i / 4096) % 3 == 0 ? char(i / 8192) : char(noise >> 24);
    }
    for (qsizetype at = 1000; at + 4 < data.size(); at += 100000)
        data.replace(at, 4, QByteArray("\x00\x00\xff\xff", 4));
    return data;
}

// A zlib stream of `data` cut into `strips`, each strip ended by `flush` (Z_FINISH on the last).
// With `separate`, every strip is a deflate stream of its own, as a parallel encoder makes it.
QByteArray zlibOf(const QByteArray& data, int strips, int flush, bool separate, int level = 6) {
    QByteArray out("\x78\x9c", 2);
    z_stream stream{};
    std::vector<char> buffer(size_t(data.size()) * 2 + 1024);
    for (int i = 0; i < strips; ++i) {
        if (separate || i == 0)
            deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        const qsizetype first = data.size() * i / strips, end = data.size() * (i + 1) / strips;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + first));
        stream.avail_in = uInt(end - first);
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        deflate(&stream, i + 1 == strips ? Z_FINISH : (separate ? Z_SYNC_FLUSH : flush));
        out.append(buffer.data(), qsizetype(buffer.size() - stream.avail_out));
        if (separate || i + 1 == strips)
            deflateEnd(&stream);
    }
    const quint32 adler = qToBigEndian(
        quint32(adler32(1, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()))));
    out.append(reinterpret_cast<const char*>(&adler), 4);
    return out;
}

std::string_view viewOf(const QByteArray& bytes) {
    return {bytes.constData(), size_t(bytes.size())};
}

} // namespace

TEST(ZlibInflation, GivesWhatInflatingWholeGivesForEveryKindOfStream) {
    const QByteArray data = samples();
    struct Case {
        const char* name;
        QByteArray zlib;
    };
    const Case cases[] = {
        {"one stream", zlibOf(data, 1, Z_FINISH, false)},
        {"separate strips after flushes", zlibOf(data, 6, Z_SYNC_FLUSH, true)},
        {"more strips than threads", zlibOf(data, 37, Z_SYNC_FLUSH, true)},
        {"one stream with full flushes", zlibOf(data, 5, Z_FULL_FLUSH, false)},
        {"one stream with sync flushes, referring back", zlibOf(data, 5, Z_SYNC_FLUSH, false)},
        {"stored, the marker's bytes in the data", zlibOf(data, 3, Z_SYNC_FLUSH, true, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray out(data.size(), '\x55');
        EXPECT_TRUE(ZlibInflation::inflate(viewOf(c.zlib), reinterpret_cast<uchar*>(out.data()),
                                           size_t(out.size())));
        EXPECT_TRUE(out == data);
    }
}

TEST(ZlibInflation, RefusesBrokenStreamsAndWrongSizes) {
    const QByteArray data = samples();
    const QByteArray strips = zlibOf(data, 6, Z_SYNC_FLUSH, true);
    QByteArray wrongChecksum = strips;
    wrongChecksum[wrongChecksum.size() - 1] = char(wrongChecksum.back() ^ 1);
    QByteArray brokenStrip = strips;
    brokenStrip[brokenStrip.size() / 2] = char(brokenStrip[brokenStrip.size() / 2] ^ 0x5a);
    struct Case {
        const char* name;
        QByteArray zlib;
        qsizetype size;
    };
    const Case cases[] = {
        {"wrong checksum", wrongChecksum, data.size()},
        {"a strip broken", brokenStrip, data.size()},
        {"cut short", strips.left(strips.size() - 1000), data.size()},
        {"more than room", strips, data.size() - 1},
        {"less than expected", strips, data.size() + 1},
        {"nothing", QByteArray(), data.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray out(c.size, '\0');
        EXPECT_FALSE(ZlibInflation::inflate(viewOf(c.zlib), reinterpret_cast<uchar*>(out.data()),
                                            size_t(out.size())));
    }
}
