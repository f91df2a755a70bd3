#include "platform/ShortenedText.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {
// Characters past the cut that the boundary search may look at; the text itself may be
// hundreds of megabytes, and none of the rest matters to where the cut falls.
constexpr qsizetype lookahead = 8;
} // namespace

QString ShortenedText::of(QStringView text, qsizetype limit) {
    if (text.size() <= limit)
        return text.toString();
    const qsizetype room = std::max<qsizetype>(limit - 1, 0);
    const QStringView around = text.first(std::min(text.size(), room + lookahead));
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, around.data(), around.size());
    characters.setPosition(room);
    qsizetype end = characters.isAtBoundary() ? room : characters.toPreviousBoundary();
    if (end <= 0) {
        end = room;
        if (end > 0 && text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
            --end;
    }
    return text.first(end).toString() + ellipsis;
}

QString ShortenedText::ofUtf8(QByteArrayView utf8, qsizetype limit) {
    // A character takes at most four bytes; a byte order mark, which is dropped, three more.
    const qsizetype enough = (std::max<qsizetype>(limit, 0) + lookahead) * 4 + 3;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString leading = decoder(utf8.first(std::min(utf8.size(), enough)));
    return of(leading, limit);
}
