#pragma once

// The loading overlay paints what lies beneath it from a picture it keeps. What reaches the
// window must be what painting everything beneath on every frame gave: the rounded corners,
// the image, the backdrop and the dimming, at every step of a fade, also after the image
// beneath changed. The tests run offscreen and under X, each program naming its own suite.

#include "EditViewControllerInspector.h"

#include "editor/EditWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <gtest/gtest.h>

namespace loading_overlay_pixels {

using Inspector = EditViewControllerInspector;

// Something like a screenshot: lines of text over panels of colour, and edges that cross the
// view's rounded corners.
inline QImage screenshotLike(QSize size, QColor tone) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(tone);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(0, 0, size.width(), 28), tone.darker(160));
    painter.setBrush(tone.lighter(150));
    painter.drawRoundedRect(QRect(40, 60, size.width() / 2, size.height() / 2), 12, 12);
    painter.setPen(Qt::white);
    for (int line = 0; line < size.height() / 18; ++line)
        painter.drawText(
            12, 44 + line * 18,
            QStringLiteral("%1  pixaloom --edit \"make it pop\" ~/Pictures").arg(line));
    return image;
}

// The window's pixels as they were painted: the backing store offscreen, the X server's
// copy under X.
inline QImage windowPixels(QWidget& window) {
    QTest::qWait(60); // the frame after the last change, flushed
    return window.screen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

inline int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return a.width() * a.height() + 1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* left = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* right = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            count += left[x] != right[x];
    }
    return count;
}

class LoadingOverlayPixels : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<EditWindow>(screenshotLike(captureSize, QColor(40, 90, 140)),
                                              QRectF(QPointF(), QSizeF(captureSize)));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QTest::qWait(400); // the panel's appearance
        EditViewController& controller = *window->editViewController;
        // A loaded machine may take longer than the appearance's 0.2 s.
        const ControlPanel* panel = Inspector::panel(controller);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return panel->alphaValue() == 1.0 && panel->appearanceOffset() == 0.0; }));
        overlay = Inspector::overlay(controller);
        // What showLoading does, without the spinner, whose frames follow the clock.
        overlay->show();
        overlay->raise();
        Inspector::panel(controller)->raise();
    }

    bool pictureTaken() const {
        return QTest::qWaitFor([&] { return overlay->testAttribute(Qt::WA_OpaquePaintEvent); });
    }

    // The window at each fade value, painted from the overlay's picture as it stands, then
    // with everything beneath painted on every frame: both must agree.
    void expectSamePixelsWithAndWithoutPicture(const char* when) {
        std::vector<QImage> pictured;
        for (const qreal alpha : fadeValues) {
            overlay->setAlphaValue(alpha);
            EXPECT_TRUE(pictureTaken()) << when << ", alpha " << alpha;
            overlay->update(); // a frame from the picture, whatever the last one was
            pictured.push_back(windowPixels(*window));
            EXPECT_TRUE(overlay->testAttribute(Qt::WA_OpaquePaintEvent));
        }
        overlay->setKeepsPictureOfBeneath(false);
        for (size_t i = 0; i < fadeValues.size(); ++i) {
            overlay->setAlphaValue(fadeValues[i]);
            const QImage painted = windowPixels(*window);
            EXPECT_EQ(differingPixels(painted, pictured[i]), 0)
                << when << ", alpha " << fadeValues[i];
            if (i == 0)
                clear = painted;
            else
                dimmed = painted;
        }
        overlay->setKeepsPictureOfBeneath(true);
        // The fade is seen at all: the dimmed window differs from the clear one.
        EXPECT_GT(differingPixels(clear, dimmed), 0) << when;
    }

    // The image as last seen through the clear overlay, the control panel over it blacked
    // out (its buttons follow the history).
    QImage shownImagePixels() const {
        const EditViewController& controller = *window->editViewController;
        const ImageView* view = Inspector::imageView(controller);
        const QWidget* panel = Inspector::panel(controller);
        return blackedOut(clear, {panel}).copy(inWindow(view, view->imageRect()));
    }

    void fadeStepsMatchPaintingEverythingBeneath() {
        expectSamePixelsWithAndWithoutPicture("over the capture");
    }

    // An undo or redo beneath the overlay (a result arrives the same way, while it fades
    // out) and the window resized: each is in the next frame, not a stale picture of what was
    // beneath before.
    void changesBeneathReachTheScreenThroughThePicture() {
        EditViewController& controller = *window->editViewController;
        Inspector::addToHistory(controller, screenshotLike(captureSize, QColor(150, 60, 50)));
        expectSamePixelsWithAndWithoutPicture("over a result");
        const QImage result = shownImagePixels();

        controller.performUndo();
        expectSamePixelsWithAndWithoutPicture("after an undo beneath");
        const QImage capture = shownImagePixels();
        EXPECT_GT(differingPixels(capture, result), 0) << "the capture is shown again";
        controller.performRedo();
        expectSamePixelsWithAndWithoutPicture("after a redo beneath");
        EXPECT_EQ(differingPixels(shownImagePixels(), result), 0) << "the result is shown again";

        window->resize(window->size() - QSize(120, 80));
        expectSamePixelsWithAndWithoutPicture("after a resize");
    }

    // An edit shows the overlay through its fade: at the first value (0) the window is what it
    // was, but for the dimmed buttons; at the first visible value the overlay covers all but
    // the panel, exactly as the overlay shown from the start and painted over everything
    // beneath gives.
    void theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed() {
        EditViewController& controller = *window->editViewController;
        QWidget* panel = Inspector::panel(controller);
        overlay->hide();
        const QImage before = windowPixels(*window);

        Inspector::showLoading(controller);
        QAbstractAnimation* fade = Inspector::loadingFade(controller);
        ASSERT_TRUE(fade);
        fade->pause(); // its values are set by hand from here on
        fade->setCurrentTime(0);
        EXPECT_EQ(overlay->alphaValue(), 0.0);
        const QImage atZero = windowPixels(*window);
        EXPECT_EQ(differingPixels(blackedOut(atZero, {panel}), blackedOut(before, {panel})), 0);
        EXPECT_GT(differingPixels(atZero, before), 0) << "the buttons are dimmed at once";

        fade->setCurrentTime(40); // past the fade's frame interval: its first visible value
        const qreal firstVisible = overlay->alphaValue();
        EXPECT_GT(firstVisible, 0.0);
        const QImage shown = windowPixels(*window);
        // The overlay as it used to be shown: from the start, under the panel, every frame
        // painting what lies beneath.
        overlay->setKeepsPictureOfBeneath(false);
        overlay->show();
        overlay->raise();
        panel->raise();
        overlay->setAlphaValue(firstVisible);
        const QImage expected = windowPixels(*window);
        overlay->setKeepsPictureOfBeneath(true);
        // The spinner turns with the clock, whatever the fade does.
        QWidget* spinner = Inspector::spinner(controller);
        EXPECT_EQ(differingPixels(blackedOut(shown, {spinner}), blackedOut(expected, {spinner})),
                  0);
        EXPECT_GT(differingPixels(shown, atZero), 0) << "the fade is seen";
        fade->stop();
    }

    // `image`, a picture of the window, with the places of `widgets` painted black.
    QImage blackedOut(QImage image, std::initializer_list<const QWidget*> widgets) const {
        QPainter painter(&image);
        for (const QWidget* widget : widgets)
            painter.fillRect(inWindow(widget, widget->rect()), Qt::black);
        return image;
    }

    // The pixels of the window that `rect` of `widget` covers.
    QRect inWindow(const QWidget* widget, QRectF rect) const {
        const qreal ratio = window->devicePixelRatioF();
        rect.translate(widget->mapTo(window.get(), QPoint()));
        return QRectF(rect.topLeft() * ratio, rect.size() * ratio).toAlignedRect();
    }

    static inline const std::vector<qreal> fadeValues{0.0, 0.35, 0.8, 1.0};
    // Large enough that a frame over the whole window is painted in bands over several
    // threads; a fixture for other sizes sets it in its constructor.
    QSize captureSize{900, 560};
    TemporarySettings settings;
    std::unique_ptr<EditWindow> window;
    VisualEffectView* overlay = nullptr;
    QImage clear;  // the last window seen through the overlay at alpha 0
    QImage dimmed; // and at its last fade value
};

// Odd widths and heights: bands that end part way, rows of odd length.
class OddSizedLoadingOverlayPixels : public LoadingOverlayPixels {
protected:
    OddSizedLoadingOverlayPixels() { captureSize = QSize(873, 611); }
};

} // namespace loading_overlay_pixels

// The checks, for one place the window's pixels are read from: `Place` ends the suites' names.
#define LOADING_OVERLAY_PIXEL_TESTS(Place)                                                         \
    using LoadingOverlayPixels##Place = loading_overlay_pixels::LoadingOverlayPixels;              \
    using OddSizedLoadingOverlayPixels##Place =                                                    \
        loading_overlay_pixels::OddSizedLoadingOverlayPixels;                                      \
    TEST_F(LoadingOverlayPixels##Place, FadeStepsMatchPaintingEverythingBeneath) {                 \
        fadeStepsMatchPaintingEverythingBeneath();                                                 \
    }                                                                                              \
    TEST_F(LoadingOverlayPixels##Place, ChangesBeneathReachTheScreenThroughThePicture) {           \
        changesBeneathReachTheScreenThroughThePicture();                                           \
    }                                                                                              \
    TEST_F(LoadingOverlayPixels##Place, TheEditsFadeShowsWhatTheOverlayShownFromTheStartShowed) {  \
        theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed();                                  \
    }                                                                                              \
    TEST_F(OddSizedLoadingOverlayPixels##Place, FadeStepsMatchPaintingEverythingBeneath) {         \
        fadeStepsMatchPaintingEverythingBeneath();                                                 \
    }                                                                                              \
    TEST_F(OddSizedLoadingOverlayPixels##Place, ChangesBeneathReachTheScreenThroughThePicture) {   \
        changesBeneathReachTheScreenThroughThePicture();                                           \
    }
