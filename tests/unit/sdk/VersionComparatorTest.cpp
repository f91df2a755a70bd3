#include "sdk/VersionComparator.h"

#include <QString>

#include <gtest/gtest.h>

#include <compare>

namespace {

struct Case {
    const char16_t* older;
    const char16_t* newer; // equal to `older` when `equal` is set
    bool equal = false;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << QString::fromUtf16(c.older).toStdString() << (c.equal ? " == " : " < ")
               << QString::fromUtf16(c.newer).toStdString();
}

class VersionComparatorTest : public ::testing::TestWithParam<Case> {};

// The texts, and the same versions split once (as a feed's best item is kept).
TEST_P(VersionComparatorTest, OrdersBothWaysRound) {
    const Case c = GetParam();
    const QString older = QString::fromUtf16(c.older);
    const QString newer = QString::fromUtf16(c.newer);
    const auto olderParts = VersionComparator::parts(older);
    const auto newerParts = VersionComparator::parts(newer);
    ASSERT_TRUE(olderParts && newerParts);
    const auto expected = c.equal ? std::strong_ordering::equal : std::strong_ordering::less;
    EXPECT_EQ(VersionComparator::compare(older, newer), expected);
    EXPECT_EQ(VersionComparator::compare(newer, older), 0 <=> expected);
    EXPECT_EQ(VersionComparator::compare(*olderParts, *newerParts), expected);
    EXPECT_EQ(VersionComparator::compare(*newerParts, *olderParts), 0 <=> expected);
}

INSTANTIATE_TEST_SUITE_P(
    PublishedOrder, VersionComparatorTest,
    ::testing::Values(
        // Pre-releases come before their release, letters and numbers in their own order.
        Case{u"1.0a", u"1.0b"}, Case{u"1.0b", u"1.0b2"}, Case{u"1.0b2", u"1.0b10"},
        Case{u"1.0b10", u"1.0"}, Case{u"1.0rc1", u"1.0"}, Case{u"1.0", u"1.0.1"},
        Case{u"1.0.1", u"1.1"}, Case{u"1.9", u"1.10"}, Case{u"1.1", u"2"}, Case{u"1.0", u"1.0.1b1"},
        Case{u"1.0A", u"1.0a"},
        // Missing trailing zeros and everything from a dash on are not compared.
        Case{u"1.2", u"1.2.0", true}, Case{u"1", u"1.0.0", true}, Case{u"2.0-beta", u"2.0", true},
        Case{u"2.0-beta", u"2.0-rc", true}, Case{u"1.01", u"1.1", true}, Case{u"", u"", true},
        Case{u"1.", u"1.0", true}, Case{u"1", u"1.0.0.0.0.0", true}, Case{u"1.007", u"1.7", true},
        Case{u"1", u"1.0.0.0.1"}, Case{u"1.0.0.0.0b1", u"1"},
        // Numbers of any length compare by value, never overflowing.
        Case{u"99999999999999999999999", u"100000000000000000000000"},
        Case{u"1.0", u"1.00000000000000000000000000000001"}, Case{u"\u0661.\u0662", u"1.3"},
        // A number outranks a separator, a separator outranks a string.
        Case{u"1a", u"1.1"}, Case{u"a", u"1"}, Case{u"1.0 ", u"1.0.1"}, Case{u"", u"1"},
        // Build numbers as this application publishes them.
        Case{u"41", u"42"}, Case{u"42", u"1042"}));

// Versions come from the network. Splitting stops after the parts any release could have, so
// that a version of a million separators costs no more than a short one; a number of any
// length is one part.
TEST(VersionComparatorLimitsTest, SplitsAtMostAHundredParts) {
    const auto partsOf = [](const QString& version) {
        const auto parts = VersionComparator::parts(version);
        return parts ? static_cast<int>(parts->size()) : -1;
    };
    const QString ninetyNine = u'1' + QStringLiteral(".1").repeated(49);
    EXPECT_EQ(partsOf(ninetyNine + u'.'), 100);
    EXPECT_EQ(partsOf(ninetyNine + QStringLiteral(".1")), -1);
    EXPECT_EQ(partsOf(QStringLiteral(".").repeated(4 << 20)), -1);
    EXPECT_EQ(partsOf(QStringLiteral("a.").repeated(1 << 20)), -1);
    EXPECT_EQ(partsOf(u'1' + QString(1 << 20, u'0')), 1);
    EXPECT_EQ(partsOf(QStringLiteral("2.0-") + QStringLiteral(".1").repeated(1 << 20)), 3);

    // Compared texts are read as far as the limit: what follows is not compared.
    EXPECT_EQ(VersionComparator::compare(ninetyNine + QStringLiteral(".1.2"),
                                         ninetyNine + QStringLiteral(".1.3")),
              std::strong_ordering::equal);
    EXPECT_EQ(VersionComparator::compare(u'1' + QString(1 << 20, u'0'), QString(1 << 20, u'9')),
              std::strong_ordering::greater);
}

} // namespace
