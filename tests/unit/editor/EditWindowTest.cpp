#include "EditViewControllerInspector.h"

#include "editor/ColorWell.h"
#include "editor/EditWindow.h"
#include "editor/Popover.h"
#include "LogCapture.h"

#include <QApplication>
#include <QColorDialog>
#include <QScreen>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace editor_test;
using Inspector = EditViewControllerInspector;

namespace {

// A window of the application that records the keys that reach it.
class KeyRecorder : public QWidget {
public:
    QList<int> received;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        // QTest presses the modifier keys too; only the chord's key matters here.
        static const QList<int> modifierKeys{Qt::Key_Control, Qt::Key_Shift, Qt::Key_Alt,
                                             Qt::Key_Meta};
        if (!modifierKeys.contains(event->key()))
            received << event->key();
    }
};

struct WindowFixture : ::testing::Test {
    void SetUp() override {
        window = std::make_unique<EditWindow>(solidImage(600, 400, entryColor(0)),
                                              QRectF(10, 20, 600, 400));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    EditViewController& controller() { return *window->editViewController; }
    void addEntries(int count) {
        for (int n = 1; n <= count; ++n)
            Inspector::addToHistory(controller(), solidImage(60, 40, entryColor(n)));
    }
    // Sends the key to another window of the application; true when the editor consumed it.
    bool consumed(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const auto before = recorder.received.size();
        QTest::keyClick(&recorder, key, modifiers);
        return recorder.received.size() == before;
    }

    TemporarySettings settings;
    std::unique_ptr<EditWindow> window;
    KeyRecorder recorder;
};

TEST_F(WindowFixture, SizesToTheCapturePlusThePanelAndCentres) {
    EXPECT_EQ(window->size(), QSize(600, 460));
    EXPECT_EQ(window->windowTitle(), "Pixaloom");
    EXPECT_EQ(window->minimumSize(), QSize(400, 300));
    const QPoint screenCentre = window->screen()->geometry().center();
    // Centred before the frame is known: off by at most the frame's margins.
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 8);
}

TEST_F(WindowFixture, KeysStepTheHistoryByTheirModifiers) {
    addEntries(2); // three entries, the newest shown
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int expectedIndex;
    };
    const Case cases[] = {
        {Qt::Key_Z, Qt::ControlModifier, 1},
        {Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier, 0}, // other modifiers ignored
        {Qt::Key_Z, Qt::ControlModifier, 0},                   // nothing left: consumed anyway
        {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, 1},
        {Qt::Key_Y, Qt::ControlModifier, 2},
        {Qt::Key_Y, Qt::ControlModifier | Qt::ShiftModifier, 2}, // newest: consumed anyway
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " " << c.modifiers.toInt());
        EXPECT_TRUE(consumed(c.key, c.modifiers));
        EXPECT_EQ(Inspector::index(controller()), c.expectedIndex);
    }
}

TEST_F(WindowFixture, KeysAreRecognisedByPositionNotLetter) {
    addEntries(1);
    // German layout: the key at the Z position types Y (keycode 52), the Y position Z (29).
    auto sendNative = [&](Qt::Key key, quint32 scanCode) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::ControlModifier, scanCode, 0, 0);
        QCoreApplication::sendEvent(&recorder, &event);
    };
    sendNative(Qt::Key_Y, 52);
    EXPECT_EQ(Inspector::index(controller()), 0) << "the Z position undoes";
    sendNative(Qt::Key_Z, 29);
    EXPECT_EQ(Inspector::index(controller()), 1) << "the Y position redoes";
    EXPECT_TRUE(recorder.received.isEmpty());
}

TEST_F(WindowFixture, OtherKeysPassOnUnchanged) {
    addEntries(1);
    EXPECT_FALSE(consumed(Qt::Key_Z));
    EXPECT_FALSE(consumed(Qt::Key_Y));
    EXPECT_FALSE(consumed(Qt::Key_X, Qt::ControlModifier));
    EXPECT_FALSE(consumed(Qt::Key_Z, Qt::ShiftModifier));
    EXPECT_EQ(Inspector::index(controller()), 1);
}

TEST_F(WindowFixture, EscapeAnywhereClosesThroughTheOneClosingPath) {
    LogCapture logs;
    QSignalSpy willClose(window.get(), &EditWindow::windowWillClose);
    EXPECT_TRUE(consumed(Qt::Key_Escape));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->hasKeyMonitor());
    EXPECT_EQ(willClose.count(), 1);
    EXPECT_EQ(logs.messages("default"), QStringList{"Preparing edit window for close"});
    // Its monitor is gone: the next Escape reaches the other window.
    EXPECT_FALSE(consumed(Qt::Key_Escape));
    EXPECT_FALSE(window->testAttribute(Qt::WA_DeleteOnClose));
}

TEST_F(WindowFixture, ClosingClosesItsPopoversAndTheColourDialog) {
    ControlPanel* panel = Inspector::panel(controller());
    for (const bool promptFirst : {true, false}) {
        SCOPED_TRACE(promptFirst);
        if (!window->isVisible()) {
            SetUp();
            panel = Inspector::panel(controller());
        }
        if (promptFirst)
            panel->showPromptPopover();
        panel->showBgSettingsPopover();
        QTest::mouseClick(panel->colorWell, Qt::LeftButton);
        QColorDialog* dialog = panel->colorWell->dialog();
        ASSERT_TRUE(dialog && dialog->isVisible());
        const auto entries = Inspector::history(controller()).size();

        window->close();
        EXPECT_FALSE(panel->bgSettingsPopover->isVisible());
        EXPECT_FALSE(dialog->isVisible());
        if (promptFirst) {
            EXPECT_FALSE(panel->promptPopover->isVisible());
        }
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(Inspector::history(controller()).size(), entries);
    }
}

TEST(EditWindowPlacement, PanelIsCentredBelowTheTopAndKeepsItsDistanceFromTheBottom) {
    for (const bool turnBeforeShowing : {false, true}) {
        SCOPED_TRACE(turnBeforeShowing);
        TemporarySettings settings;
        EditWindow window(solidImage(600, 400, entryColor(0)), QRectF(10, 20, 600, 400));
        if (turnBeforeShowing)
            QCoreApplication::processEvents(); // the panel's placement runs before the window
        window.show();
        ControlPanel* panel = Inspector::panel(*window.editViewController);
        QTRY_COMPARE(panel->y(), 35);
        EXPECT_EQ(panel->x(), (window.width() - panel->width()) / 2);
        EXPECT_GE(panel->width(), 280);
        window.resize(window.width(), window.height() + 100);
        QTRY_COMPARE(panel->y(), 135);
    }
}

TEST(EditWindowFit, StaysInsideTheScreenForCapturesOfEverySize) {
    TemporarySettings settings;
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSizeF screenSize = screen->geometry().size();
    const QSizeF room(screenSize.width() - 80, screenSize.height() - 140);
    const QSizeF captures[] = {
        {120, 80},
        {600, 400},
        room,
        room + QSizeF(1, 1),
        screenSize,
        screenSize * 2.5,
        {screenSize.width() * 4, 90},
        {150, screenSize.height() * 4},
    };
    for (const qreal ratio : {1.0, 2.0}) {
        for (const QSizeF& points : captures) {
            SCOPED_TRACE(testing::Message()
                         << points.width() << "x" << points.height() << " @" << ratio);
            QImage capture = solidImage(qRound(points.width() * ratio),
                                        qRound(points.height() * ratio), entryColor(1));
            capture.setDevicePixelRatio(ratio);
            EditWindow window(capture, QRectF(QPointF(30, 40), points));
            window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

            EXPECT_TRUE(screen->availableGeometry().contains(window.frameGeometry()));
            // The view shows the capture reduced by the fit rule, and the window is that
            // image plus the panel's height (or its minimum size).
            const qreal scale =
                std::min({1.0, room.width() / points.width(), room.height() / points.height()});
            const QSizeF shown = points * scale;
            const QImage first = Inspector::history(*window.editViewController).front();
            EXPECT_NEAR(first.deviceIndependentSize().width(), shown.width(), 1.0);
            EXPECT_NEAR(first.deviceIndependentSize().height(), shown.height(), 1.0);
            EXPECT_EQ(first.devicePixelRatio(), ratio);
            const QSize expected =
                QSize(qRound(shown.width()), qRound(shown.height()) + 60).expandedTo({400, 300});
            EXPECT_EQ(window.size(), expected);
        }
    }
}

} // namespace
