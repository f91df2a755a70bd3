// The capture under a real X server: a window of known colours, a selection dragged with
// xdotool, Escape typed into another X client, and the raw key monitor on its own.

#include "shell/OverlayView.h"
#include "shell/ScreenCaptureWindow.h"

#include "platform/GlobalKeyMonitor.h"
#include "platform/QtScreenGrabber.h"

#include "CaptureTestDoubles.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int timeoutMs = 10000;
const char* focusHolderVariable = "PIXALOOM_FOCUS_HOLDER";
const QString focusHolderTitle = QStringLiteral("pixaloom-focus-holder");

// Runs xdotool while this process keeps handling its events; its standard output.
QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    EXPECT_TRUE(process.waitForStarted()) << "xdotool is not installed";
    const bool finished =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    EXPECT_TRUE(finished && process.exitCode() == 0)
        << "xdotool " << arguments.join(' ').toStdString() << " failed";
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Four quadrants of known colours, placed exactly (no window manager runs under Xvfb).
class KnownColours : public QWidget {
public:
    static constexpr QRect area{200, 150, 400, 300};
    static constexpr QRgb topLeft = qRgb(220, 20, 60), topRight = qRgb(20, 200, 90),
                          bottomLeft = qRgb(30, 60, 230), bottomRight = qRgb(250, 210, 10);

    KnownColours()
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setGeometry(area);
    }

    static QRgb colourAt(QPoint global) {
        const QPoint centre = area.center() + QPoint(1, 1);
        if (global.y() < centre.y())
            return global.x() < centre.x() ? topLeft : topRight;
        return global.x() < centre.x() ? bottomLeft : bottomRight;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int w = width() / 2, h = height() / 2;
        painter.fillRect(0, 0, w, h, QColor(topLeft));
        painter.fillRect(w, 0, w, h, QColor(topRight));
        painter.fillRect(0, h, w, h, QColor(bottomLeft));
        painter.fillRect(w, h, w, h, QColor(bottomRight));
    }
};

void showAndWait(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, timeoutMs));
}

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
        EXPECT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::focusWindow(); }, timeoutMs));
    }

    QProcess process;
    QString windowId;
};

void giveFocusTo(QWidget& window) {
    xdotool({"windowfocus", "--sync", QString::number(window.winId())});
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }, timeoutMs));
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
        KnownColours colours;
        showAndWait(colours);

        std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
        if (c.firstGrabFails)
            grabbers.push_back(
                std::make_unique<ScriptedScreenGrabber>(ScriptedScreenGrabber::failing()));
        grabbers.push_back(std::make_unique<QtScreenGrabber>());
        RecordingCaptureReceiver receiver;
        xdotool({"mousemove", "250", "180"});
        ScreenCaptureWindow window(std::move(grabbers));
        window.setAppDelegate(&receiver);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, timeoutMs));
        EXPECT_EQ(window.geometry(), QRect(0, 0, 1920, 1080));

        const QRect selection(300, 200, 200, 150);
        xdotool({"mousemove", "--sync", "500", "350", "mousedown", "1", "mousemove", "--sync",
                 "400", "280", "mousemove", "--sync", "300", "200", "mouseup", "1"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !receiver.handOffs.empty(); }, timeoutMs));

        const auto& handOff = receiver.handOffs[0];
        EXPECT_EQ(handOff.frame, QRectF(selection));
        EXPECT_EQ(handOff.image.deviceIndependentSize(), QSizeF(selection.size()));
        // Every pixel is the screen's, with no dimming, border, label or crosshair.
        int wrong = 0;
        for (int y = 0; y < handOff.image.height(); ++y)
            for (int x = 0; x < handOff.image.width(); ++x)
                wrong += handOff.image.pixel(x, y) !=
                         KnownColours::colourAt(selection.topLeft() + QPoint(x, y));
        EXPECT_EQ(wrong, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, timeoutMs));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

TEST(CaptureE2E, EscapeTypedIntoAnotherClientClosesTheWindow) {
    FocusHolder holder;
    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window;
    window.setAppDelegate(&receiver);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, timeoutMs));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);

    holder.takeFocus();
    xdotool({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, timeoutMs));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(receiver.handOffs.empty());
}

TEST(GlobalKeyMonitorE2E, ReportsKeysOfOtherClientsWithTheirModifiersOnly) {
    FocusHolder holder;
    QWidget own;
    own.setGeometry(100, 100, 200, 100);
    showAndWait(own);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return keys.size() >= 2; }, timeoutMs));

    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keycode, 38u); // a
    EXPECT_EQ(keys[0].modifiers, Qt::NoModifier);
    EXPECT_EQ(keys[1].keycode, 11u); // 2
    EXPECT_EQ(keys[1].modifiers, Qt::ControlModifier | Qt::ShiftModifier);
}

} // namespace
