// The spinner inside the loading overlay: while the overlay fades, the fade's frames (each a
// repaint of the whole overlay) carry the spinner's turning, and it asks for no frames of its
// own in between; once the fade is over, it turns by itself again.
#include "EditViewControllerInspector.h"
#include "LoadingOverlayPixels.h"

#include "editor/EditWindow.h"

#include <QPaintEvent>

#include <gtest/gtest.h>

namespace {

using Inspector = EditViewControllerInspector;

// The overlay's paints, each marked whole (a fade frame) or not, and whether its fade ran.
class OverlayPaints : public QObject {
public:
    OverlayPaints(QWidget* overlay, std::function<bool()> fading)
        : overlay(overlay)
        , fading(std::move(fading)) {
        overlay->installEventFilter(this);
    }
    int wholeWhileFading = 0;
    int partWhileFading = 0;
    int partAfterFade = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        // QRegion::contains(QRect) holds for any overlap.
        const bool whole =
            (QRegion(overlay->rect()) - static_cast<QPaintEvent*>(event)->region()).isEmpty();
        if (fading())
            ++(whole ? wholeWhileFading : partWhileFading);
        else if (!whole)
            ++partAfterFade;
        return false;
    }

private:
    QWidget* overlay;
    std::function<bool()> fading;
};

TEST(LoadingSpinnerFrames, RideOnTheFadesFramesAndTurnByThemselvesAfterIt) {
    TemporarySettings settings;
    const QImage capture = loading_overlay_pixels::screenshotLike({900, 560}, QColor(40, 90, 140));
    EditWindow window(capture, QRectF(QPointF(), QSizeF(capture.size())));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(400); // the panel's appearance
    EditViewController& controller = *window.editViewController;
    QWidget* overlay = Inspector::overlay(controller);
    OverlayPaints paints(overlay, [&] {
        const QAbstractAnimation* fade = Inspector::loadingFade(controller);
        return fade && fade->state() == QAbstractAnimation::Running;
    });

    for (const bool in : {true, false}) {
        in ? Inspector::showLoading(controller) : Inspector::hideLoading(controller);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Inspector::loadingFade(controller); }, 5000));
        if (in) {
            // The spinner turns on its own once the fade is over.
            EXPECT_TRUE(QTest::qWaitFor([&] { return paints.partAfterFade >= 3; }, 5000));
        }
    }
    EXPECT_GE(paints.wholeWhileFading, 4);
    EXPECT_EQ(paints.partWhileFading, 0) << "frames of the spinner's own between fade frames";
}

} // namespace
