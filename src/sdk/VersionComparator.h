#pragma once

#include <QStringView>

#include <compare>
#include <optional>
#include <vector>

// Orders version strings the way update feeds are published: "1.0a" < "1.0b" < "1.0b2" <
// "1.0b10" < "1.0" < "1.0.1" < "1.1", and "1.2" == "1.2.0". Everything from a "-" on is
// ignored, so "2.0-beta" equals "2.0".
//
// Versions come from the network, so a comparison takes time in proportion to the two texts
// and memory in proportion to at most `maxParts` parts of each.
class VersionComparator {
public:
    // Far more than any published version has; the parts after it are not compared.
    static constexpr std::size_t maxParts = 100;

    enum class PartKind { string, separator, number }; // in rising rank
    // One run of digits, one run of other characters, or one separator character. A number
    // is viewed without its leading zeros.
    struct Part {
        PartKind kind;
        QStringView text;
    };
    // Views into the version's text, which must outlive them.
    using Parts = std::vector<Part>;

    static std::strong_ordering compare(QStringView left, QStringView right);
    // The version's parts once, for one version compared with many; none when it has more
    // than `maxParts`.
    static std::optional<Parts> parts(QStringView version);
    static std::strong_ordering compare(const Parts& left, const Parts& right);
};
