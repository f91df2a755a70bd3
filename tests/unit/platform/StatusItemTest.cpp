#include "platform/StatusItem.h"

#include <gtest/gtest.h>

namespace {

// The tray menu opens beside its icon, wherever the tray sits, and stays on the screen.
TEST(StatusItem, MenuOpensBelowOrAboveTheIconAndInsideTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize menu(160, 90);
    const struct {
        const char* where;
        QRect icon;
        QPoint expected;
    } cases[] = {
        {"top bar, left", QRect(100, 0, 24, 24), QPoint(100, 24)},
        {"top bar, right edge", QRect(1896, 0, 24, 24), QPoint(1760, 24)},
        {"bottom bar", QRect(800, 1056, 24, 24), QPoint(800, 966)},
        {"bottom bar, right edge", QRect(1900, 1056, 20, 24), QPoint(1760, 966)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusItem::menuPosition(c.icon, menu, screen), c.expected) << c.where;
    // On a second screen to the right, the menu stays on that screen.
    EXPECT_EQ(StatusItem::menuPosition(QRect(3830, 0, 24, 24), menu, QRect(1920, 0, 1920, 1080)),
              QPoint(3680, 24));
}

} // namespace
