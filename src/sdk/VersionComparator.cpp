#include "sdk/VersionComparator.h"

#include <QString>

#include <algorithm>

namespace {

using Part = VersionComparator::Part;
using PartKind = VersionComparator::PartKind;
using Parts = VersionComparator::Parts;

PartKind kindOf(QChar character) {
    if (character.isDigit())
        return PartKind::number;
    if (character.isPunct() || character.isSpace())
        return PartKind::separator;
    return PartKind::string;
}

// Where the part that starts at `start` ends: a separator is a part of its own.
qsizetype partEnd(QStringView version, qsizetype start, PartKind kind) {
    qsizetype end = start + 1;
    if (kind == PartKind::separator)
        return end;
    while (end < version.size() && kindOf(version[end]) == kind)
        ++end;
    return end;
}

// "007" as "7", "00" as "0".
QStringView withoutLeadingZeros(QStringView digits) {
    qsizetype first = 0;
    while (first + 1 < digits.size() && digits[first].digitValue() == 0)
        ++first;
    return digits.sliced(first);
}

// At most `limit` parts, so that a version of a million separators costs no more than a
// short one. Digits of any script count by their value.
Parts split(QStringView version, std::size_t limit) {
    if (const qsizetype dash = version.indexOf(u'-'); dash >= 0)
        version = version.first(dash);
    Parts parts;
    for (qsizetype start = 0; start < version.size() && parts.size() < limit;) {
        const PartKind kind = kindOf(version[start]);
        const qsizetype end = partEnd(version, start, kind);
        const QStringView text = version.sliced(start, end - start);
        parts.push_back({kind, kind == PartKind::number ? withoutLeadingZeros(text) : text});
        start = end;
    }
    return parts;
}

bool isPeriod(const Part& part) {
    return part.kind == PartKind::separator && part.text == u".";
}

std::size_t leadingNumberSection(const Parts& parts) {
    const auto end = std::find_if(parts.begin(), parts.end(), [](const Part& part) {
        return part.kind != PartKind::number && !isPeriod(part);
    });
    return static_cast<std::size_t>(end - parts.begin());
}

// A version's parts as if its leading section of numbers and periods went on for `padding`
// parts more of ".0", so that "1.0" reads as "1.0.0": read in place, never copied.
struct PaddedParts {
    const Parts& parts;
    std::size_t sectionEnd;
    std::size_t padding;

    std::size_t size() const { return parts.size() + padding; }
    Part operator[](std::size_t index) const {
        if (index < sectionEnd)
            return parts[index];
        if (index >= sectionEnd + padding)
            return parts[index - padding];
        const bool afterNumber = parts[sectionEnd - 1].kind == PartKind::number;
        const bool period = ((index - sectionEnd) % 2 == 0) == afterNumber;
        return period ? Part{PartKind::separator, u"."} : Part{PartKind::number, u"0"};
    }
};

// "1.0" against "1.0.0": the shorter leading number section is padded so that both read
// alike. Versions without such a section are compared as they are.
std::pair<PaddedParts, PaddedParts> balanced(const Parts& left, const Parts& right) {
    const std::size_t leftCount = leadingNumberSection(left);
    const std::size_t rightCount = leadingNumberSection(right);
    if (leftCount == 0 || rightCount == 0)
        return {{left, leftCount, 0}, {right, rightCount, 0}};
    return {{left, leftCount, rightCount - std::min(leftCount, rightCount)},
            {right, rightCount, leftCount - std::min(leftCount, rightCount)}};
}

std::strong_ordering compareNumbers(QStringView left, QStringView right) {
    if (left.size() != right.size())
        return left.size() <=> right.size();
    for (qsizetype i = 0; i < left.size(); ++i)
        if (const int order = left[i].digitValue() - right[i].digitValue(); order != 0)
            return order <=> 0;
    return std::strong_ordering::equal;
}

std::strong_ordering compareParts(const Part& left, const Part& right) {
    if (left.kind != right.kind)
        return left.kind <=> right.kind;
    switch (left.kind) {
    case PartKind::number:
        return compareNumbers(left.text, right.text);
    case PartKind::string:
        return left.text.compare(right.text, Qt::CaseSensitive) <=> 0;
    case PartKind::separator:
        return std::strong_ordering::equal;
    }
    return std::strong_ordering::equal;
}

} // namespace

std::strong_ordering VersionComparator::compare(QStringView left, QStringView right) {
    return compare(split(left, maxParts), split(right, maxParts));
}

std::optional<VersionComparator::Parts> VersionComparator::parts(QStringView version) {
    Parts parts = split(version, maxParts + 1);
    if (parts.size() > maxParts)
        return std::nullopt;
    return parts;
}

std::strong_ordering VersionComparator::compare(const Parts& leftParts, const Parts& rightParts) {
    const auto [left, right] = balanced(leftParts, rightParts);
    const std::size_t shared = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < shared; ++i)
        if (const auto order = compareParts(left[i], right[i]); order != 0)
            return order;
    if (left.size() == right.size())
        return std::strong_ordering::equal;
    // One has more parts: a following string marks a pre-release ("1.0b1" < "1.0"), anything
    // else a later release ("1.0.1" > "1.0").
    const bool leftLonger = left.size() > right.size();
    const Part extra = leftLonger ? left[shared] : right[shared];
    const bool longerIsNewer = extra.kind != PartKind::string;
    return leftLonger == longerIsNewer ? std::strong_ordering::greater : std::strong_ordering::less;
}
