#pragma once

#include <QStringView>

#include <compare>

// Orders version strings the way update feeds are published: "1.0a" < "1.0b" < "1.0b2" <
// "1.0b10" < "1.0" < "1.0.1" < "1.1", and "1.2" == "1.2.0". Everything from a "-" on is
// ignored, so "2.0-beta" equals "2.0".
class VersionComparator {
public:
    static std::strong_ordering compare(QStringView left, QStringView right);
};
