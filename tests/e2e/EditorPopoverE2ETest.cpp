// The editor's popovers, alerts and colour dialog on a real X server, driven by xdotool:
// what stacks above what, where the keyboard focus goes, and what a close leaves behind.
// Faults here came in about one run of four, so each check repeats.
#include "editor/ColorWell.h"
#include "editor/ControlPanel.h"
#include "editor/EditViewController.h"
#include "editor/EditWindow.h"
#include "editor/PaddingSlider.h"
#include "editor/Popover.h"
#include "editor/ToolbarButton.h"
#include "LogCapture.h"
#include "ScreenTestTools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyleOptionSlider>
#include <QTemporaryDir>

namespace {

const QColor captureColour(20, 90, 200);

QImage solidCapture(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(captureColour);
    return image;
}

int pixelsMatching(const QImage& image, const std::function<bool(QColor)>& wanted) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += wanted(image.pixelColor(x, y));
    return count;
}

bool isCapture(QColor colour) {
    return colour.rgb() == captureColour.rgb();
}

bool isOrange(QColor colour) {
    return colour.red() > 200 && colour.green() < 150 && colour.blue() < 90;
}

struct EditorPopovers : ::testing::Test {
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        window = std::make_unique<EditWindow>(solidCapture(captureSize),
                                              QRectF(QPointF(), QSizeF(captureSize)));
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get(), 2000)) {
            // A window manager may keep the focus where the last input went and refuse an
            // application's own request; a taskbar's request, as a user's click there sends,
            // it honours.
            runToolToItsEnd(QStringLiteral("xdotool"),
                            {QStringLiteral("windowactivate"), QString::number(window->winId())});
        }
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), screenTestTimeoutMs));
        panel = window->findChild<ControlPanel*>();
        ASSERT_NE(panel, nullptr);
        // The panel has risen into place once its 0.2 s appearance is over.
        QTest::qWait(400);
    }
    EditViewController& controller() { return *window->editViewController; }

    // Clicks the button and waits until its popover shows, feedback included.
    void openPopover(ToolbarButton* button, const QPointer<Popover>& popover) {
        clickAt(centreOf(button));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return popover && popover->isVisible(); }, screenTestTimeoutMs));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popover, screenTestTimeoutMs));
        // Long enough for anything the opening queued and for the 0.2 s feedback.
        QTest::qWait(300);
    }
    void closeWithItsButton(Popover* popover) {
        for (const auto* button : popover->findChildren<ToolbarButton*>())
            if (button->accessibleName() == "Close")
                clickAt(centreOf(button));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !popover->isVisible(); }, screenTestTimeoutMs));
    }
    void openPromptPopover() { openPopover(panel->editButton, panel->promptPopover); }
    void openBackgroundPopover() { openPopover(panel->bgSettingsButton, panel->bgSettingsPopover); }
    void expectEditorHasKeyFocus() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return focusedWindow() == window->winId(); }, 3000))
            << "X gave the focus to " << focusedWindow();
    }
    // Ctrl+Z with the pointer away from the editor undoes one background change.
    void expectUndoByKeyWithPointerAway() {
        controller().controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
            nullptr, Qt::red, 5, 5);
        ASSERT_FALSE(controller().canRedo());
        xdotool({"mousemove", "--sync", "3", "3", "key", "--clearmodifiers", "ctrl+z"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return controller().canRedo(); }, 3000));
        controller().performRedo();
    }
    void clickAwayAnAlert(int round) {
        controller().showError(QStringLiteral("Round %1").arg(round));
        QMessageBox* alert = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (alert = window->findChild<QMessageBox*>()) && alert->isVisible(); },
            screenTestTimeoutMs));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(alert, screenTestTimeoutMs));
        clickAt(centreOf(alert->button(QMessageBox::Ok)));
    }
    int historyLength() {
        int steps = 1;
        for (; controller().canUndo(); ++steps)
            controller().performUndo();
        return steps;
    }

    QSize captureSize{700, 450};
    QTemporaryDir config;
    std::unique_ptr<EditWindow> window;
    ControlPanel* panel = nullptr;
};

// The editor pushed down to the bottom of the screen until only its top with the panel
// shows, as a user parks it: neither popover fits below its button.
using EditorDockedAtTheBottom = EditorPopovers;

TEST_F(EditorPopovers, PromptPopoverOpensAboveWithActiveLookAndFocusComesBack) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        if (round % 4 == 1) {
            // Dismissing an alert makes the editor key again as the popover opens.
            clickAwayAnAlert(round);
        } else if (round % 4 == 2) {
            clickAwayAnAlert(round);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QMessageBox*>(); },
                                        screenTestTimeoutMs));
            expectEditorHasKeyFocus();
            expectUndoByKeyWithPointerAway();
        }
        openPromptPopover();
        Popover* popover = panel->promptPopover;
        if (round % 4 == 1) {
            // The editor made key again while the popover shows (as a window manager does
            // once an alert has gone): the popover stays on top.
            xdotool({"windowfocus", "--sync", QString::number(window->winId())});
            QTest::qWait(200);
        }
        EXPECT_EQ(pixelsMatching(onScreen(popover, 8), isCapture), 0) << "the editor covers it";
        EXPECT_GT(pixelsMatching(onScreen(panel->promptTextField),
                                 [](QColor c) { return c == QColor(45, 45, 45); }),
                  100);
        // The pointer rests on the button: orange symbol on the light circle.
        EXPECT_EQ(panel->editButton->contentTintColor(), panel->primaryColor);
        EXPECT_GT(pixelsMatching(onScreen(panel->editButton), isOrange), 10);
        if (round % 4 == 3) {
            // A theme picked from the selector's own popup list, then the popover checked again.
            clickAt(centreOf(panel->promptThemeSelector));
            QAbstractItemView* list = panel->promptThemeSelector->view();
            ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, screenTestTimeoutMs));
            QTest::qWait(200);
            const QRect item = list->visualRect(list->model()->index(round % 7 + 1, 0));
            clickAt(list->viewport()->mapToGlobal(item.center()));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, screenTestTimeoutMs));
            QTest::qWait(300);
            EXPECT_EQ(panel->promptThemeSelector->currentIndex(), round % 7 + 1);
            EXPECT_EQ(pixelsMatching(onScreen(popover, 8), isCapture), 0) << "covered after theme";
        }

        closeWithItsButton(popover);
        expectEditorHasKeyFocus();
    }
    expectUndoByKeyWithPointerAway();
}

TEST_F(EditorPopovers, EscapeAndUndoReachTheEditorWhileThePromptFieldHasFocus) {
    controller().controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        nullptr, Qt::red, 5, 5);
    openPromptPopover();
    xdotool({"type", "--delay", "20", "sky"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->promptTextField->text() == "sky"; }, 3000));

    xdotool({"key", "--clearmodifiers", "ctrl+z"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !controller().canUndo(); }, 3000));
    EXPECT_EQ(panel->promptTextField->text(), "sky") << "the field saw the undo key";
    xdotool({"key", "--clearmodifiers", "ctrl+y"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller().canUndo(); }, 3000));
    EXPECT_EQ(panel->promptTextField->text(), "sky") << "the field saw the redo key";

    LogCapture logs;
    xdotool({"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 3000));
    EXPECT_TRUE(logs.messages("default").contains("Preparing edit window for close"));
    // Closing the editor closes its popover too: nothing of it stays on the screen.
    EXPECT_FALSE(panel->promptPopover->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !isMappedOnX(panel->promptPopover->winId()); }, 3000));
}

TEST_F(EditorPopovers, ClosingTheEditorClosesTheColourDialogAndItsPopover) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            SetUp();
            if (HasFatalFailure())
                return;
        }
        openBackgroundPopover();
        clickAt(centreOf(panel->colorWell));
        QColorDialog* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (dialog = panel->colorWell->dialog()) && dialog->isVisible(); },
            screenTestTimeoutMs));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog, screenTestTimeoutMs));

        // Escape closes the editor whichever of its windows has the focus.
        xdotool({"key", "Escape"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 3000));
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_FALSE(panel->bgSettingsPopover->isVisible());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return !isMappedOnX(dialog->winId()) &&
                       !isMappedOnX(panel->bgSettingsPopover->winId());
            },
            3000));
    }
}

TEST_F(EditorPopovers, OneSliderDragIsOneHistoryEntryAndEachKeyStepAnother) {
    openBackgroundPopover();
    PaddingSlider* slider = panel->horizontalPaddingSlider;
    LogCapture logs;
    for (int drag = 0; drag < 3; ++drag) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                             QStyle::SC_SliderHandle, slider);
        const QPoint start = slider->mapToGlobal(handle.center());
        QStringList steps{
            "mousemove", "--sync", QString::number(start.x()), QString::number(start.y()),
            "mousedown", "1"};
        for (int step = 1; step <= 10; ++step)
            steps += {"mousemove",
                      "--sync",
                      QString::number(start.x() + 8 * step),
                      QString::number(start.y()),
                      "sleep",
                      "0.02"};
        steps += {"mouseup", "1"};
        xdotool(steps);
        QTest::qWait(100);
    }
    // Each change was still reported and shown as the slider moved.
    EXPECT_GE(
        logs.messages("com.app.pixaloom.EditViewController").filter("Applying background").size(),
        15);
    EXPECT_GT(slider->doubleValue(), 40);

    const qsizetype reportsAfterDrags = logs.messages("com.app.pixaloom.EditViewController").size();
    xdotool({"key", "Right", "Right"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return logs.messages("com.app.pixaloom.EditViewController").size() ==
                   reportsAfterDrags + 2;
        },
        3000));
    EXPECT_EQ(historyLength(), 1 + 3 + 2) << "the capture, three drags and two key steps";
}

TEST_F(EditorDockedAtTheBottom, EachPopoverOpensAboveItsButtonLeavingItInSight) {
    const QRect screen = window->screen()->availableGeometry();
    const int buttonTop = panel->editButton->mapToGlobal(QPoint()).y();
    const int dockedTop = window->frameGeometry().top() + screen.bottom() - 100 - buttonTop;
    window->move(window->frameGeometry().left(), dockedTop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->frameGeometry().top() == dockedTop; },
                                screenTestTimeoutMs))
        << window->frameGeometry().top();
    QTest::qWait(200);
    const std::pair<ToolbarButton*, QPointer<Popover>*> openings[] = {
        {panel->editButton, &panel->promptPopover},
        {panel->bgSettingsButton, &panel->bgSettingsPopover},
    };
    for (const auto& [button, popover] : openings) {
        SCOPED_TRACE(button->accessibleName().toStdString());
        openPopover(button, *popover);
        if (HasFatalFailure())
            return;
        const QRect buttonArea(button->mapToGlobal(QPoint()), button->size());
        const QRect placed = (*popover)->frameGeometry();
        ASSERT_GT(buttonArea.bottom() + Popover::gap + placed.height(), screen.bottom())
            << "the scene does not test what it says";
        EXPECT_EQ(placed.bottom(), buttonArea.top() - 1 - Popover::gap);
        EXPECT_TRUE(screen.contains(placed));
        // What the screen shows there is the button, lit under the pointer: not the popover.
        EXPECT_GT(pixelsMatching(onScreen(button), isOrange), 10);
        closeWithItsButton(*popover);
    }
}

} // namespace
