#pragma once

#include <QColor>
#include <QImage>

#include <string>
#include <vector>

// How an icon drawn as a square frame on a clear canvas looks to a user: the stretches of
// canvas and frame along the lines through its middle, the pixels that are neither clear nor
// opaque, and those that are not where or what the frame is.
struct SquareFrameLook {
    // Lengths of the alternating clear and painted (at least half opaque) stretches, first
    // clear: {margin, band, hole, band, margin} for a frame.
    std::vector<int> middleRow;
    std::vector<int> middleColumn;
    int halfTransparent = 0;
    // Pixels painted outside the frame that the middle lines show, or clear inside it. A frame
    // whose edges fall inside pixels may blend its corner pixels to the other side.
    int offFrame = 0;
    // Painted pixels whose colour, unpremultiplied, is more than rounding away from `colour`.
    int offColour = 0;

    static SquareFrameLook of(const QImage& image, const QColor& colour);
    // Whether both middle lines show a centred frame whose margin and band are within
    // `tolerance` pixels of these, both bands alike and at least a pixel wide.
    bool isFrameOf(double margin, double band, double tolerance) const;
    // The middle lines' stretches, for a failure's message.
    std::string stretches() const;
};
