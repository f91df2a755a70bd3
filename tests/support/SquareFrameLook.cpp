#include "SquareFrameLook.h"

#include <QRect>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

bool isPainted(const QColor& pixel) {
    return pixel.alpha() >= 128;
}

// A blended edge, unpremultiplied, is off by a few steps.
bool nearColour(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
           std::abs(a.blue() - b.blue()) <= 3;
}

std::vector<int> stretchesAlong(int length, const std::function<QColor(int)>& pixelAt) {
    std::vector<int> runs{0};
    bool painted = false;
    for (int i = 0; i < length; ++i) {
        if (isPainted(pixelAt(i)) != painted) {
            painted = !painted;
            runs.push_back(0);
        }
        ++runs.back();
    }
    return runs;
}

// The frame's outer square and its hole, as the middle lines show them; empty squares when
// they show no frame.
std::pair<QRect, QRect> frameOf(const std::vector<int>& row, const std::vector<int>& column) {
    if (row.size() != 5 || column.size() != 5)
        return {};
    const QRect outer(row[0], column[0], row[1] + row[2] + row[3],
                      column[1] + column[2] + column[3]);
    return {outer, outer.adjusted(row[1], column[1], -row[3], -column[3])};
}

} // namespace

SquareFrameLook SquareFrameLook::of(const QImage& image, const QColor& colour) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SquareFrameLook look;
    look.middleRow =
        stretchesAlong(argb.width(), [&](int x) { return argb.pixelColor(x, argb.height() / 2); });
    look.middleColumn =
        stretchesAlong(argb.height(), [&](int y) { return argb.pixelColor(argb.width() / 2, y); });
    const auto [outer, hole] = frameOf(look.middleRow, look.middleColumn);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor pixel = argb.pixelColor(x, y);
            const bool onFrame = outer.contains(x, y) && !hole.contains(x, y);
            look.halfTransparent += pixel.alpha() > 0 && pixel.alpha() < 255;
            look.offFrame += isPainted(pixel) != onFrame;
            look.offColour += isPainted(pixel) && !nearColour(pixel, colour);
        }
    return look;
}

bool SquareFrameLook::isFrameOf(double margin, double band, double tolerance) const {
    return std::ranges::all_of(std::array{middleRow, middleColumn}, [&](const auto& line) {
        return line.size() == 5 && line[0] == line[4] && line[1] == line[3] && line[1] >= 1 &&
               std::abs(line[0] - margin) <= tolerance && std::abs(line[1] - band) <= tolerance;
    });
}

std::string SquareFrameLook::stretches() const {
    std::string text;
    for (const auto* line : {&middleRow, &middleColumn}) {
        text += text.empty() ? "row" : ", column";
        for (const int length : *line)
            text += ' ' + std::to_string(length);
    }
    return text;
}
