#include "platform/ShortenedText.h"

#include <gtest/gtest.h>

namespace {

const QString ellipsis(ShortenedText::ellipsis);

TEST(ShortenedText, CutsBetweenCharactersAndMarksTheCut) {
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two code units
    const QString eAcute = QStringLiteral("e\u0301");           // a letter and its combining mark
    struct Case {
        const char* name;
        QString text;
        qsizetype limit;
        QString expected;
    };
    const Case cases[] = {
        {"short enough", "abc", 3, "abc"},
        {"empty", "", 5, ""},
        {"plain text", "abcdefgh", 5, "abcd" + ellipsis},
        {"a surrogate pair across the cut stays whole", "abc" + grin + "def", 5, "abc" + ellipsis},
        {"a surrogate pair just before the cut is kept", "ab" + grin + "cdef", 5,
         "ab" + grin + ellipsis},
        {"a combining mark stays with its letter", "abc" + eAcute + "fg", 5, "abc" + ellipsis},
        {"a letter with its mark before the cut is kept", "ab" + eAcute + "fgh", 5,
         "ab" + eAcute + ellipsis},
        {"one character longer than the limit is cut between code points",
         "e" + QString(10, QChar(0x0301)), 4, "e" + QString(2, QChar(0x0301)) + ellipsis},
        {"the same never splits a surrogate pair", grin + QString(10, QChar(0xFE0F)) + grin, 3,
         grin + ellipsis},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString shortened = ShortenedText::of(c.text, c.limit);
        EXPECT_EQ(shortened, c.expected);
        EXPECT_LE(shortened.size(), c.limit);
        EXPECT_EQ(ShortenedText::ofUtf8(c.text.toUtf8(), c.limit), c.expected);
    }
}

TEST(ShortenedText, ReadsOnlyTheBeginningOfAHugeText) {
    // Fifty megabytes of multi-byte text: the cut looks at a few hundred characters of it.
    const QByteArray huge = QString(50 * 1000 * 1000, QChar(0x00E9)).toUtf8();
    const QString shortened = ShortenedText::ofUtf8(huge, 300);
    EXPECT_EQ(shortened, QString(299, QChar(0x00E9)) + ellipsis);
    EXPECT_EQ(ShortenedText::ofUtf8("\xEF\xBB\xBF"
                                    "abc",
                                    3),
              "abc")
        << "a byte order mark is dropped";
}

} // namespace
