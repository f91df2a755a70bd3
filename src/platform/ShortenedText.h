#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Text cut down for a person to read: at most `limit` UTF-16 code units, ending in "…" when
// something was left out. The cut falls between user-perceived characters, so a surrogate
// pair stays whole and a letter keeps its combining marks; only a single character longer
// than the limit is cut, and then between its code points.
class ShortenedText {
public:
    static QString of(QStringView text, qsizetype limit);
    // The same of valid UTF-8, decoding no more of it than can show.
    static QString ofUtf8(QByteArrayView utf8, qsizetype limit);

    static constexpr QChar ellipsis{0x2026};
};
