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
// the offscreen platform's 800-pixel screen, near its top, and in its middle, where the
// background popover fits on neither side.
TEST(PopoverPlacement, ThePanelsPopoversNeverCoverTheirButtonsWhereTheyFit) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(available.height(), 800);
    enum class Side { below, above, clamped };
    const struct {
        QPointer<ToolbarButton> ControlPanel::*button;
        void (ControlPanel::*show)();
        QPointer<Popover> ControlPanel::*popover;
        Side inTheMiddle;
    } openings[] = {
        {&ControlPanel::editButton, &ControlPanel::showPromptPopover, &ControlPanel::promptPopover,
         Side::below},
        {&ControlPanel::bgSettingsButton, &ControlPanel::showBgSettingsPopover,
         &ControlPanel::bgSettingsPopover, Side::clamped},
    };
    for (const auto& opening : openings) {
        PanelInView scene({600, 100});
        ToolbarButton* button = scene.panel->*opening.button;
        const int buttonTop = button->mapTo(&scene.view, QPoint()).y();
        for (const auto& [viewTop, side] :
             {std::pair{available.bottom() - buttonTop - 40, Side::above},
              std::pair{available.top(), Side::below},
              std::pair{available.center().y(), opening.inTheMiddle}}) {
            SCOPED_TRACE(button->accessibleName().toStdString() + " " + std::to_string(viewTop));
            scene.view.move(available.left() + 50, viewTop);
            (scene.panel->*opening.show)();
            Popover* popover = scene.panel->*opening.popover;
            ASSERT_TRUE(popover && popover->isVisible());
            const QRect placed = popover->geometry();
            const QRect buttonArea(button->mapToGlobal(QPoint()), button->size());
            if (side == Side::below)
                EXPECT_EQ(placed.top(), buttonArea.bottom() + 1 + Popover::gap);
            else if (side == Side::above)
                EXPECT_EQ(placed.bottom(), buttonArea.top() - 1 - Popover::gap);
            else
                EXPECT_EQ(placed.bottom(), available.bottom()) << "pushed up into the screen";
            EXPECT_EQ(placed.intersects(buttonArea), side == Side::clamped);
            EXPECT_TRUE(available.contains(placed));
            popover->close();
        }
    }
}

} // namespace
