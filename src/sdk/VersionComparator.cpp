#include "sdk/VersionComparator.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace {

// A number outranks a separator, a separator outranks a string.
enum class PartKind { string, separator, number };

struct Part {
    PartKind kind;
    QString text; // for a number: its decimal digits without leading zeros
};

PartKind kindOf(QChar character) {
    if (character.isDigit())
        return PartKind::number;
    if (character.isPunct() || character.isSpace())
        return PartKind::separator;
    return PartKind::string;
}

// Runs of digits and runs of other characters are one part each; every separator character
// is a part of its own. Digits of any script are kept as their ASCII value, so that numbers
// compare by length and then digit by digit and never overflow.
std::vector<Part> split(QStringView version) {
    std::vector<Part> parts;
    for (const QChar character : version) {
        if (character == u'-')
            break;
        const PartKind kind = kindOf(character);
        const QChar stored =
            kind == PartKind::number ? QChar(u'0' + character.digitValue()) : character;
        if (parts.empty() || parts.back().kind != kind || kind == PartKind::separator)
            parts.push_back({kind, QString()});
        Part& part = parts.back();
        if (kind == PartKind::number && part.text == u"0")
            part.text.clear();
        part.text.append(stored);
    }
    return parts;
}

bool isPeriod(const Part& part) {
    return part.kind == PartKind::separator && part.text == u".";
}

std::size_t leadingNumberSection(const std::vector<Part>& parts) {
    const auto end = std::find_if(parts.begin(), parts.end(), [](const Part& part) {
        return part.kind != PartKind::number && !isPeriod(part);
    });
    return static_cast<std::size_t>(end - parts.begin());
}

// "1.0" against "1.0.0": the shorter leading number section is padded with ".0" so that
// both read alike. Versions without such a section are compared as they are.
void balance(std::vector<Part>& left, std::vector<Part>& right) {
    std::size_t leftCount = leadingNumberSection(left);
    std::size_t rightCount = leadingNumberSection(right);
    if (leftCount == 0 || rightCount == 0)
        return;
    auto pad = [](std::vector<Part>& parts, std::size_t count, std::size_t target) {
        for (; count < target; ++count) {
            const bool afterNumber = parts[count - 1].kind == PartKind::number;
            parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(count),
                         afterNumber ? Part{PartKind::separator, QStringLiteral(".")}
                                     : Part{PartKind::number, QStringLiteral("0")});
        }
    };
    pad(left, leftCount, rightCount);
    pad(right, rightCount, leftCount);
}

std::strong_ordering compareNumbers(const QString& left, const QString& right) {
    if (left.size() != right.size())
        return left.size() <=> right.size();
    return left.compare(right) <=> 0;
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
    auto leftParts = split(left);
    auto rightParts = split(right);
    balance(leftParts, rightParts);
    const std::size_t shared = std::min(leftParts.size(), rightParts.size());
    for (std::size_t i = 0; i < shared; ++i)
        if (const auto order = compareParts(leftParts[i], rightParts[i]); order != 0)
            return order;
    if (leftParts.size() == rightParts.size())
        return std::strong_ordering::equal;
    // One has more parts: a following string marks a pre-release ("1.0b1" < "1.0"), anything
    // else a later release ("1.0.1" > "1.0").
    const bool leftLonger = leftParts.size() > rightParts.size();
    const Part& extra = leftLonger ? leftParts[shared] : rightParts[shared];
    const bool longerIsNewer = extra.kind != PartKind::string;
    return leftLonger == longerIsNewer ? std::strong_ordering::greater : std::strong_ordering::less;
}
