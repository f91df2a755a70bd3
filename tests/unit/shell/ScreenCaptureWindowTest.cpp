#include "shell/OverlayView.h"
#include "shell/ScreenCaptureWindow.h"

#include "platform/ApplicationKeyMonitor.h"
#include "platform/CursorStack.h"
#include "platform/MainQueue.h"

#include "CaptureTestDoubles.h"
#include "LogCapture.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void selectArea(QWidget* view, QRectF area) {
    const auto send = [view](QEvent::Type type, QPointF at, Qt::MouseButton button,
                             Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, area.topLeft(), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, area.bottomRight(), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, area.bottomRight(), Qt::LeftButton, Qt::NoButton);
}

QStringList systemLogLines(const LogCapture& log) {
    return log.messages(QStringLiteral("default"));
}

const QStringList captureFailures{QStringLiteral("Error: No app delegate available"),
                                  QStringLiteral("Error: Failed to capture screenshot")};

QStringList onlyCaptureFailures(const QStringList& lines) {
    QStringList failures;
    for (const QString& line : lines)
        if (captureFailures.contains(line))
            failures << line;
    return failures;
}

TEST(ScreenCaptureWindow, CoversTheScreenWithTheCrosshairUntilClosedOnce) {
    // A cursor of someone else's below ours: closing twice must not pop it.
    CursorStack::push(Qt::WaitCursor);
    {
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
        ScreenCaptureWindow window(std::move(grabbers.list));
        EXPECT_EQ(window.geometry(), QGuiApplication::primaryScreen()->geometry());
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);

        window.close();
        window.close();
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(CursorStack::depth(), 1);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(CursorStack::depth(), 1);
    CursorStack::pop();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ScreenCaptureWindow, TeardownWithoutCloseRestoresTheCursor) {
    {
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
        ScreenCaptureWindow window(std::move(grabbers.list));
    }
    EXPECT_EQ(CursorStack::depth(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ScreenCaptureWindow, EscapeFromAnyOfTheApplicationsWindowsClosesIt) {
    const struct {
        const char* name;
        bool typedIntoOtherWindow;
    } cases[] = {{"typed into the overlay", false}, {"typed into another window", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An editor window's Escape monitor, installed before the capture began: one Escape
        // closes one window.
        int escapesSeenBelow = 0;
        auto olderMonitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&](QKeyEvent& e) {
            escapesSeenBelow += e.key() == Qt::Key_Escape;
            return false;
        });
        QLineEdit other;
        other.show();
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
        RecordingCaptureReceiver receiver;
        ScreenCaptureWindow window(std::move(grabbers.list));
        window.setAppDelegate(&receiver);
        QWidget* target = c.typedIntoOtherWindow ? static_cast<QWidget*>(&other)
                                                 : window.findChild<OverlayView*>();
        QTest::keyClick(target, Qt::Key_Escape);
        QCoreApplication::processEvents();
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(escapesSeenBelow, 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(receiver.handOffs.empty());
        EXPECT_TRUE(grabbers.grabbers[0]->requests.empty());
    }
}

TEST(ScreenCaptureWindow, OtherKeysPassThroughAndEscapeIsReleasedOnClose) {
    int escapesSeenBelow = 0;
    auto olderMonitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&](QKeyEvent& event) {
        escapesSeenBelow += event.key() == Qt::Key_Escape;
        return false;
    });
    QLineEdit other;
    other.show();
    ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
    ScreenCaptureWindow window(std::move(grabbers.list));
    QTest::keyClicks(&other, QStringLiteral("ab"));
    EXPECT_EQ(other.text(), QStringLiteral("ab"));
    QTest::keyClick(window.findChild<OverlayView*>(), Qt::Key_A);
    EXPECT_TRUE(window.isVisible());

    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(escapesSeenBelow, 0);
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(escapesSeenBelow, 1);
}

TEST(ScreenCaptureWindow, HandsOnTheImageAfterTheReleaseAndThenCloses) {
    ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::blue, 2.0)}};
    ScriptedScreenGrabber& grabber = *grabbers.grabbers[0];
    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window(std::move(grabbers.list));
    grabber.watchedWindow = &window;
    window.setAppDelegate(&receiver);
    bool visibleAtHandOff = false;
    receiver.onHandOff = [&] {
        visibleAtHandOff = window.isVisible();
    };

    selectArea(window.findChild<OverlayView*>(), QRectF(40, 30, 120, 80));
    // The release has been handled; the editor opens from the next turn of the event loop.
    EXPECT_TRUE(receiver.handOffs.empty());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(grabber.windowVisibleDuringGrab, std::vector<bool>{false});

    QCoreApplication::processEvents();
    ASSERT_EQ(receiver.handOffs.size(), 1u);
    const auto& handOff = receiver.handOffs[0];
    EXPECT_EQ(handOff.frame, QRectF(40, 30, 120, 80));
    EXPECT_EQ(handOff.image.deviceIndependentSize(), QSizeF(120, 80));
    EXPECT_EQ(handOff.image.size(), QSize(240, 160));
    EXPECT_EQ(handOff.image.pixel(10, 10), qRgb(0, 0, 255));
    EXPECT_TRUE(visibleAtHandOff);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ScreenCaptureWindow, FallsBackToTheNextGrabberAndFailsWhenNoneAnswers) {
    const struct {
        const char* name;
        bool firstAnswers, secondAnswers;
        size_t secondAsked;
        bool handedOn;
    } cases[] = {{"first grab answers", true, true, 0, true},
                 {"first grab yields nothing", false, true, 1, true},
                 {"no grab answers", false, false, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedGrabbers grabbers{{c.firstAnswers ? ScriptedScreenGrabber::solid(Qt::red)
                                                  : ScriptedScreenGrabber::failing(),
                                   c.secondAnswers ? ScriptedScreenGrabber::solid(Qt::green)
                                                   : ScriptedScreenGrabber::failing()}};
        auto* first = grabbers.grabbers[0];
        auto* second = grabbers.grabbers[1];
        RecordingCaptureReceiver receiver;
        ScreenCaptureWindow window(std::move(grabbers.list));
        window.setAppDelegate(&receiver);
        selectArea(window.findChild<OverlayView*>(), QRectF(10, 20, 50, 40));
        QCoreApplication::processEvents();

        EXPECT_EQ(first->requests, std::vector<QRect>{QRect(10, 20, 50, 40)});
        EXPECT_EQ(second->requests.size(), c.secondAsked);
        if (c.secondAsked) {
            EXPECT_EQ(second->requests[0], QRect(10, 20, 50, 40));
        }
        EXPECT_EQ(receiver.handOffs.size(), c.handedOn ? 1u : 0u);
        if (c.handedOn) {
            EXPECT_EQ(receiver.handOffs[0].image.pixel(0, 0),
                      c.firstAnswers ? qRgb(255, 0, 0) : qRgb(0, 255, 0));
        }
        EXPECT_EQ(onlyCaptureFailures(systemLogLines(log)),
                  c.handedOn ? QStringList() : QStringList{captureFailures[1]});
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

TEST(ScreenCaptureWindow, CapturesNothingWhenItsReceiverIsGone) {
    const struct {
        const char* name;
        bool everSet;
    } cases[] = {{"never set", false}, {"destroyed before the release", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
        auto* grabber = grabbers.grabbers[0];
        ScreenCaptureWindow window(std::move(grabbers.list));
        if (c.everSet) {
            auto receiver = std::make_unique<RecordingCaptureReceiver>();
            window.setAppDelegate(receiver.get());
        }
        selectArea(window.findChild<OverlayView*>(), QRectF(10, 20, 50, 40));
        QCoreApplication::processEvents();
        EXPECT_TRUE(grabber->requests.empty());
        EXPECT_EQ(onlyCaptureFailures(systemLogLines(log)), QStringList{captureFailures[0]});
        EXPECT_FALSE(window.isVisible());
    }
}

TEST(ScreenCaptureWindow, EndingDuringTheGrabsWaitHandsNothingOnAndStaysClosed) {
    const struct {
        const char* name;
        bool destroyed;
    } cases[] = {{"closed by Escape", false}, {"destroyed by its owner", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
        auto* grabber = grabbers.grabbers[0];
        RecordingCaptureReceiver receiver;
        auto window = std::make_unique<ScreenCaptureWindow>(std::move(grabbers.list));
        window->setAppDelegate(&receiver);
        // Queued before the release, so it runs inside the wait after the window hides.
        MainQueue::async([&window, destroy = c.destroyed] {
            if (destroy)
                window.reset();
            else
                QTest::keyClick(window.get(), Qt::Key_Escape);
        });
        selectArea(window->findChild<OverlayView*>(), QRectF(10, 20, 50, 40));
        QCoreApplication::processEvents();

        EXPECT_TRUE(receiver.handOffs.empty());
        if (!c.destroyed) {
            EXPECT_TRUE(grabber->requests.empty());
            EXPECT_FALSE(window->isVisible());
        }
        EXPECT_EQ(CursorStack::depth(), 0);
    }
}

TEST(ScreenCaptureWindow, EndingWhileAGrabberWaitsForTheDesktopStaysEndedAndUntouched) {
    for (const auto& c : captureWindowEndings()) {
        SCOPED_TRACE(c.name);
        RecordingCaptureReceiver receiver;
        std::unique_ptr<ScreenCaptureWindow> window;
        QPointer<ScreenCaptureWindow> watched;
        auto destroyedWhileWaiting = std::make_shared<bool>(false);
        std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
        grabbers.push_back(
            std::make_unique<WaitingScreenGrabber>([&] { c.end(window); }, destroyedWhileWaiting));
        window = std::make_unique<ScreenCaptureWindow>(std::move(grabbers));
        watched = window.get();
        window->setAppDelegate(&receiver);
        selectArea(window->findChild<OverlayView*>(), QRectF(10, 20, 50, 40));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        EXPECT_TRUE(receiver.handOffs.empty());
        EXPECT_FALSE(*destroyedWhileWaiting);
        if (watched) {
            EXPECT_FALSE(watched->isVisible());
        }
        EXPECT_EQ(CursorStack::depth(), 0);
    }
}

TEST(ScreenCaptureWindow, TheImageMeasuresTheSelectionOnTheDevicePixelGrid) {
    const struct {
        const char* name;
        QRectF selection;
        QRect grabbed;
        QSize pixels;
    } cases[] = {
        {"whole pixels", {40, 30, 120, 80}, {40, 30, 120, 80}, {120, 80}},
        {"fractional corner", {101.34, 83.67, 300, 200}, {101, 84, 300, 200}, {300, 200}},
        {"fractional corner and size", {10.4, 20.6, 50.2, 40.7}, {10, 21, 50, 41}, {50, 41}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::blue)}};
        auto* grabber = grabbers.grabbers[0];
        RecordingCaptureReceiver receiver;
        ScreenCaptureWindow window(std::move(grabbers.list));
        window.setAppDelegate(&receiver);
        window.captureSelectedArea(c.selection);
        QCoreApplication::processEvents();

        EXPECT_EQ(grabber->requests, std::vector<QRect>{c.grabbed});
        ASSERT_EQ(receiver.handOffs.size(), 1u);
        const QImage& image = receiver.handOffs[0].image;
        EXPECT_EQ(image.size(), c.pixels);
        EXPECT_EQ(image.devicePixelRatio(), 1.0);
        EXPECT_EQ(image.pixel(image.width() - 1, image.height() - 1), qRgb(0, 0, 255));
        EXPECT_EQ(receiver.handOffs[0].frame, c.selection);
    }
}

TEST(ScreenCaptureWindow, ReceiverGoneBeforeTheHandOffIsNotCalled) {
    ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
    auto receiver = std::make_unique<RecordingCaptureReceiver>();
    ScreenCaptureWindow window(std::move(grabbers.list));
    window.setAppDelegate(receiver.get());
    selectArea(window.findChild<OverlayView*>(), QRectF(10, 20, 50, 40));
    receiver.reset(); // ASan reports a call into the destroyed receiver
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
}

} // namespace

namespace {

TEST(ScreenCaptureWindow, ReadsTheDesktopUnderTheWindowWhereverItLies) {
    // A window on a second screen to the right of the first: the pixels come from beside
    // the window, not from the same place on the first screen.
    ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::red)}};
    auto* grabber = grabbers.grabbers[0];
    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window(std::move(grabbers.list));
    window.setAppDelegate(&receiver);
    window.move(1920, 40);
    selectArea(window.findChild<OverlayView*>(), QRectF(40, 30, 50, 40));
    QCoreApplication::processEvents();
    EXPECT_EQ(grabber->requests, std::vector<QRect>{QRect(1960, 70, 50, 40)});
    ASSERT_EQ(receiver.handOffs.size(), 1u);
    EXPECT_EQ(receiver.handOffs[0].frame, QRectF(40, 30, 50, 40));
}

} // namespace
