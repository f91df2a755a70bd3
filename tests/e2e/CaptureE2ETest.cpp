// The capture under a real X server: a window of known colours, a selection dragged with
// xdotool, Escape typed into another X client, and the raw key monitor on its own.

#include "shell/OverlayView.h"
#include "shell/ScreenCaptureWindow.h"

#include "platform/GlobalKeyMonitor.h"
#include "platform/QtScreenGrabber.h"

#include "CaptureTestDoubles.h"
#include "ScreenTestTools.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const char* focusHolderVariable = "PIXALOOM_FOCUS_HOLDER";
const QString focusHolderTitle = QStringLiteral("pixaloom-focus-holder");

// Another X client with a window of its own: this test program, started again to run only
// FocusHolderProcess.
class FocusHolder {
public:
    FocusHolder() {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(focusHolderVariable), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=FocusHolderProcess.*")});
        windowId = xdotool({"search", "--sync", "--name", "^" + focusHolderTitle + "$"})
                       .split('\n')
                       .value(0);
    }
    ~FocusHolder() {
        process.kill();
        process.waitForFinished();
    }
    void takeFocus() {
        xdotool({"windowfocus", "--sync", windowId});
        // Qt learns of the lost focus a moment after the server moves it.
        EXPECT_TRUE(
            QTest::qWaitFor([] { return !QGuiApplication::focusWindow(); }, screenTestTimeoutMs));
    }

    QProcess process;
    QString windowId;
};

void giveFocusTo(QWidget& window) {
    xdotool({"windowfocus", "--sync", QString::number(window.winId())});
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }, screenTestTimeoutMs));
}

TEST(FocusHolderProcess, HoldsAWindowWhenStartedByAnotherTest) {
    if (!qEnvironmentVariableIsSet(focusHolderVariable))
        GTEST_SKIP() << "runs only as the helper process of the focus tests";
    QWidget window;
    window.setWindowTitle(focusHolderTitle);
    window.setGeometry(1500, 800, 200, 100);
    window.show();
    // The starting test ends this process; the bound only guards against a lost parent.
    QTest::qWait(60000);
}

TEST(CaptureE2E, DraggedSelectionHandsOnTheScreenPixels) {
    const struct {
        const char* name;
        bool firstGrabFails;
    } cases[] = {{"the screen grab answers", false}, {"the first grab yields nothing", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KnownColours colours(QRect(200, 150, 400, 300));
        showAndWaitForExposure(colours);

        std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
        if (c.firstGrabFails)
            grabbers.push_back(
                std::make_unique<ScriptedScreenGrabber>(ScriptedScreenGrabber::failing()));
        grabbers.push_back(std::make_unique<QtScreenGrabber>());
        RecordingCaptureReceiver receiver;
        xdotool({"mousemove", "250", "180"});
        ScreenCaptureWindow window(std::move(grabbers));
        window.setAppDelegate(&receiver);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));
        EXPECT_EQ(window.geometry(), QRect(0, 0, 1920, 1080));
        // No compositor runs here: the overlay shows the screen beneath, dimmed, not black.
        const QRgb dimmedTopLeft =
            qRgb(qRed(KnownColours::topLeft) / 2, qGreen(KnownColours::topLeft) / 2,
                 qBlue(KnownColours::topLeft) / 2);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const QRgb shown = QtScreenGrabber().grab(QRect(270, 190, 1, 1)).pixel(0, 0);
                return std::abs(qRed(shown) - qRed(dimmedTopLeft)) <= 1 &&
                       std::abs(qGreen(shown) - qGreen(dimmedTopLeft)) <= 1 &&
                       std::abs(qBlue(shown) - qBlue(dimmedTopLeft)) <= 1;
            },
            screenTestTimeoutMs));

        const QRect selection(300, 200, 200, 150);
        xdotool({"mousemove", "--sync", "500", "350", "mousedown", "1", "mousemove", "--sync",
                 "400", "280", "mousemove", "--sync", "300", "200", "mouseup", "1"});
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !receiver.handOffs.empty(); }, screenTestTimeoutMs));

        const auto& handOff = receiver.handOffs[0];
        EXPECT_EQ(handOff.frame, QRectF(selection));
        EXPECT_EQ(handOff.image.deviceIndependentSize(), QSizeF(selection.size()));
        // Every pixel is the screen's, with no dimming, border, label or crosshair.
        EXPECT_EQ(pixelsUnlike(handOff.image, selection.topLeft(), colours), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, screenTestTimeoutMs));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

// Reads the screen as the overlay's first frame left it: when a second frame begins, or
// else once the frames have settled.
class FirstFrameWatch : public QObject {
public:
    explicit FirstFrameWatch(QRect screen)
        : screen(screen) {
        qApp->installEventFilter(this);
    }
    ~FirstFrameWatch() override { qApp->removeEventFilter(this); }

    QImage firstFrame() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return frames > 0; }, screenTestTimeoutMs));
        QTest::qWait(200);
        if (frame.isNull())
            frame = plainScreenRead(qtXConnection(), screen);
        return frame;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<OverlayView*>(watched) && ++frames == 2)
            frame = plainScreenRead(qtXConnection(), screen);
        return false;
    }

private:
    QRect screen;
    int frames = 0;
    QImage frame;
};

// The first frame, read back from the X server, is the screen as it was beneath, dimmed as a
// frame dimmed while painting shows it: on a screen read in strips, the window's memory holds
// that frame before the window is on the screen.
TEST(CaptureE2E, FirstFrameIsTheScreenBeneathDimmed) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    VariedPicture picture(screen);
    showAndWaitForExposure(picture);
    const QPoint pointerBefore = pointerPosition();
    const QPoint pointer(screen.width() - 1, screen.height() - 1);
    xdotool({"mousemove", "--sync", QString::number(pointer.x()), QString::number(pointer.y())});
    QTest::qWait(50);
    const QImage beneath = plainScreenRead(qtXConnection(), screen);
    ASSERT_FALSE(beneath.isNull());
    QImage expected = beneath.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter(&expected).fillRect(expected.rect(), QColor(0, 0, 0, 128));

    FirstFrameWatch watch(screen);
    ScreenCaptureWindow window;
    const QImage shown = watch.firstFrame();
    ASSERT_EQ(shown.size(), screen.size());
    int differing = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            // The crosshair may follow the pointer.
            differing +=
                x != pointer.x() && y != pointer.y() && shown.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differing, 0);
    window.close();
    xdotool({"mousemove", QString::number(pointerBefore.x()), QString::number(pointerBefore.y())});
}

TEST(CaptureE2E, EscapeTypedIntoAnotherClientClosesTheWindow) {
    FocusHolder holder;
    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window;
    window.setAppDelegate(&receiver);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);

    holder.takeFocus();
    xdotool({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, screenTestTimeoutMs));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(receiver.handOffs.empty());
}

TEST(GlobalKeyMonitorE2E, ReportsKeysOfOtherClientsWithTheirModifiersOnly) {
    FocusHolder holder;
    QWidget own;
    own.setGeometry(100, 100, 200, 100);
    showAndWaitForExposure(own);
    std::vector<GlobalKeyMonitor::KeyPress> keys;
    auto monitor = GlobalKeyMonitor::addGlobalMonitorForKeyDown(
        [&](const GlobalKeyMonitor::KeyPress& key) { keys.push_back(key); });
    ASSERT_TRUE(monitor->isWatching());

    giveFocusTo(own);
    xdotool({"key", "b"});
    // Let the raw event of the key typed into our own window arrive while we still have
    // the focus.
    QTest::qWait(150);
    holder.takeFocus();
    xdotool({"key", "a", "ctrl+shift+2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return keys.size() >= 2; }, screenTestTimeoutMs));

    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keycode, 38u); // a
    EXPECT_EQ(keys[0].modifiers, Qt::NoModifier);
    EXPECT_EQ(keys[1].keycode, 11u); // 2
    EXPECT_EQ(keys[1].modifiers, Qt::ControlModifier | Qt::ShiftModifier);
}

} // namespace
