#include "ZlibStreams.h"
#include "platform/ZlibInflation.h"

#include <QByteArray>

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

// A zlib stream of `data` cut into `strips` of equal size, each strip ended by `flush`
// (Z_FINISH on the last); with `separate`, every strip is a deflate stream of its own.
QByteArray zlibOf(const QByteArray& data, int strips, int flush, bool separate, int level = 6) {
    std::vector<qsizetype> ends;
    for (int i = 1; i <= strips; ++i)
        ends.push_back(data.size() * i / strips);
    return ZlibStreams::inStrips(data, ends, flush, separate, level);
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
