#include "editor/FadeAnimation.h"
#include "editor/VisualEffectView.h"

#include <QEasingCurve>

#include <gtest/gtest.h>

namespace {

// The fade's clock stepped by hand: a step closer than the frame interval to the last drawn
// frame leaves the view as it was; every other step, and the end, sets the eased value.
TEST(FadeAnimation, SetsTheEasedValueAtMostOncePerFrameIntervalAndAlwaysAtTheEnd) {
    VisualEffectView view(Qt::black);
    view.setAlphaValue(0.0);
    FadeAnimation fade(&view, "alphaValue", 32);
    fade.setDuration(200);
    const QEasingCurve curve(QEasingCurve::InOutCubic);
    fade.setEasingCurve(curve);
    fade.setStartValue(0.0);
    fade.setEndValue(1.0);
    // Paused, the property is still written on every step; only the clock is the test's.
    fade.start();
    fade.pause();
    const struct {
        int time;
        int shownFrom; // the step whose value the view shows afterwards
    } steps[] = {{0, 0}, {16, 0}, {33, 33}, {48, 33}, {64, 33}, {66, 66}, {190, 190}, {200, 200}};
    for (const auto& step : steps) {
        fade.setCurrentTime(step.time);
        EXPECT_DOUBLE_EQ(view.alphaValue(), curve.valueForProgress(step.shownFrom / 200.0))
            << "at " << step.time << " ms";
    }
    EXPECT_DOUBLE_EQ(view.alphaValue(), 1.0);
}

} // namespace
