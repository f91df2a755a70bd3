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

TEST_P(VersionComparatorTest, OrdersBothWaysRound) {
    const Case c = GetParam();
    const QString older = QString::fromUtf16(c.older);
    const QString newer = QString::fromUtf16(c.newer);
    if (c.equal) {
        EXPECT_EQ(VersionComparator::compare(older, newer), std::strong_ordering::equal);
        EXPECT_EQ(VersionComparator::compare(newer, older), std::strong_ordering::equal);
    } else {
        EXPECT_EQ(VersionComparator::compare(older, newer), std::strong_ordering::less);
        EXPECT_EQ(VersionComparator::compare(newer, older), std::strong_ordering::greater);
    }
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
        Case{u"1.", u"1.0", true},
        // Numbers of any length compare by value, never overflowing.
        Case{u"99999999999999999999999", u"100000000000000000000000"},
        Case{u"1.0", u"1.00000000000000000000000000000001"}, Case{u"\u0661.\u0662", u"1.3"},
        // A number outranks a separator, a separator outranks a string.
        Case{u"1a", u"1.1"}, Case{u"a", u"1"}, Case{u"1.0 ", u"1.0.1"}, Case{u"", u"1"},
        // Build numbers as this application publishes them.
        Case{u"41", u"42"}, Case{u"42", u"1042"}));

} // namespace
