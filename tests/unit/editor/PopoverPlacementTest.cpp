#include "ControlPanelRecorder.h"

#include "editor/ControlPanel.h"
#include "editor/Popover.h"
#include "editor/ToolbarButton.h"

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(PopoverPlacement, BelowItsButtonAboveWhereNoRoomAndClampedOnlyWhereNeitherFits) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(350, 450);
    const int gap = Popover::gap;
    struct Case {
        const char* name;
        QRect anchor;
        QRect available;
        QPoint expected;
    };
    const Case cases[] = {
        {"room below", {800, 100, 32, 32}, screen, {641, 132 + gap}},
        {"just fits below", {800, 1080 - 450 - gap - 32, 32, 32}, screen, {641, 1080 - 450}},
        {"one pixel short below: above",
         {800, 1080 - 450 - gap - 31, 32, 32},
         screen,
         {641, 1080 - 450 - gap - 31 - gap - 450}},
        {"docked at the bottom", {800, 1040, 32, 32}, screen, {641, 1040 - gap - 450}},
        {"just fits above", {800, 450 + gap, 32, 32}, {0, 0, 1920, 900}, {641, 0}},
        {"fits neither way: kept on the screen",
         {800, 400, 32, 32},
         {0, 0, 1920, 800},
         {641, 800 - 450}},
        {"screen shorter than the popover", {800, 100, 32, 32}, {0, 0, 1920, 300}, {641, 0}},
        {"at the right edge", {1900, 1040, 20, 20}, screen, {1920 - 350, 1040 - gap - 450}},
        {"a second screen beside and below the first",
         {2900, 2100, 32, 32},
         {1920, 1080, 1280, 1024},
         {2741, 2100 - gap - 450}},
        {"no screen: below as asked", {800, 1040, 32, 32}, {}, {641, 1072 + gap}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Popover::placement(c.anchor, size, c.available), c.expected);
    }
}

// Both of the panel's popovers, opened from their buttons with the panel near the bottom of
// the screen, near its top and in the middle of a screen too short for either side.
TEST(PopoverPlacement, ThePanelsPopoversNeverCoverTheirButtonsWhereTheyFit) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    enum class Side { below, above, clamped };
    struct Opening {
        const char* name;
        QPointer<ToolbarButton> ControlPanel::*button;
        void (ControlPanel::*show)();
        QPointer<Popover> ControlPanel::*popover;
        Side inTheMiddle; // of the 800-pixel screen
    };
    const Opening openings[] = {
        {"prompt", &ControlPanel::editButton, &ControlPanel::showPromptPopover,
         &ControlPanel::promptPopover, Side::below},
        {"background", &ControlPanel::bgSettingsButton, &ControlPanel::showBgSettingsPopover,
         &ControlPanel::bgSettingsPopover, Side::clamped},
    };
    ASSERT_EQ(available.height(), 800) << "the offscreen platform's screen";
    for (const Opening& opening : openings) {
        PanelInView scene({600, 100});
        ControlPanel& panel = *scene.panel;
        ToolbarButton* button = panel.*opening.button;
        const int buttonTop = button->mapTo(&scene.view, QPoint()).y();
        const struct {
            const char* where;
            int viewTop;
            Side side;
        } places[] = {
            {"bottom", available.bottom() - buttonTop - 40, Side::above},
            {"top", available.top(), Side::below},
            {"middle", available.center().y(), opening.inTheMiddle},
        };
        for (const auto& [where, viewTop, expected] : places) {
            SCOPED_TRACE(std::string(opening.name) + " at the " + where);
            scene.view.move(available.left() + 50, viewTop);
            QTest::qWait(0);
            (panel.*opening.show)();
            Popover* popover = panel.*opening.popover;
            ASSERT_TRUE(popover && popover->isVisible());
            const QRect placed = popover->geometry();
            const QRect buttonArea(button->mapToGlobal(QPoint()), button->size());
            const bool fitsBelow =
                buttonArea.bottom() + Popover::gap + placed.height() <= available.bottom();
            const bool fitsAbove =
                buttonArea.top() - Popover::gap - placed.height() >= available.top();
            const Side side = fitsBelow ? Side::below : fitsAbove ? Side::above : Side::clamped;
            ASSERT_EQ(side, expected) << "the scene does not test what it says";
            if (side == Side::below)
                EXPECT_EQ(placed.top(), buttonArea.bottom() + 1 + Popover::gap);
            else if (side == Side::above)
                EXPECT_EQ(placed.bottom(), buttonArea.top() - 1 - Popover::gap);
            if (side != Side::clamped)
                EXPECT_FALSE(placed.intersects(buttonArea));
            EXPECT_TRUE(available.contains(placed)) << placed.y() << " " << placed.height();
            popover->close();
        }
    }
}

} // namespace
