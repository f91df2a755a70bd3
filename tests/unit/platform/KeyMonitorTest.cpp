#include "platform/ApplicationKeyMonitor.h"
#include "platform/KeyIdentity.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(KeyIdentity, RecognisesKeysByPositionNotCharacter) {
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(9), PhysicalKey::escape);
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(52), PhysicalKey::z);
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(29), PhysicalKey::y);
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(11), PhysicalKey::digit2);
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(36), PhysicalKey::returnKey);
    EXPECT_EQ(KeyIdentity::fromNativeScanCode(53), PhysicalKey::other);
    // On a German layout the key at the Z position types Y: its scan code decides.
    const QKeyEvent german(QEvent::KeyPress, Qt::Key_Y, Qt::ControlModifier, 52, 0x79, 0,
                           QStringLiteral("y"));
    EXPECT_EQ(KeyIdentity::fromEvent(german), PhysicalKey::z);
    const QKeyEvent synthetic(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    EXPECT_EQ(KeyIdentity::fromEvent(synthetic), PhysicalKey::escape);
}

TEST(ApplicationKeyMonitor, SeesKeysBeforeTheFocusedWidgetAndConsumesThem) {
    QLineEdit field;
    field.show();
    field.setFocus();
    std::vector<int> seen;
    auto monitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&](QKeyEvent& event) {
        seen.push_back(event.key());
        return event.key() == Qt::Key_A;
    });
    QTest::keyClick(&field, Qt::Key_A);
    QTest::keyClick(&field, Qt::Key_B);
    EXPECT_EQ(field.text(), "b");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), Qt::Key_A);

    monitor.reset();
    seen.clear();
    QTest::keyClick(&field, Qt::Key_A);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(field.text(), "ba");
}

TEST(ApplicationKeyMonitor, NewestMonitorDecidesFirst) {
    QLineEdit field;
    field.show();
    std::vector<std::string> order;
    auto older = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&](QKeyEvent&) {
        order.push_back("older");
        return true;
    });
    auto newer = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&](QKeyEvent&) {
        order.push_back("newer");
        return true;
    });
    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_EQ(order, std::vector<std::string>{"newer"});
}

TEST(ApplicationKeyMonitor, AHandlerMayRemoveItsOwnMonitor) {
    QLineEdit field;
    field.show();
    std::unique_ptr<ApplicationKeyMonitor> monitor;
    auto state = std::make_shared<int>(0);
    monitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown([&monitor, state](QKeyEvent&) {
        monitor.reset(); // as closing a window from its own Escape handler does
        ++*state;        // the handler's captures must still be alive here
        return true;
    });
    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_EQ(monitor, nullptr);
    EXPECT_EQ(*state, 1);
    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_EQ(*state, 1);
}

TEST(ApplicationKeyMonitor, AKeyItClaimsReachesItInsteadOfAShortcutOfThatKey) {
    QWidget window;
    auto* field = new QLineEdit(&window);
    QAction* item = window.addAction(QStringLiteral("Close"));
    item->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    const struct {
        bool claimed;
        int shortcutFires, handlerSees;
    } cases[] = {{true, 0, 1}, {false, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.claimed);
        int fired = 0, seen = 0;
        const auto connection = QObject::connect(item, &QAction::triggered, [&] { ++fired; });
        auto monitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown(
            [&](QKeyEvent& event) {
                seen += event.key() == Qt::Key_W;
                return event.key() == Qt::Key_W;
            },
            [&](const QKeyEvent& event) { return c.claimed && event.key() == Qt::Key_W; });
        QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
        QObject::disconnect(connection);
        EXPECT_EQ(fired, c.shortcutFires);
        EXPECT_EQ(seen, c.handlerSees);
        EXPECT_EQ(field->text(), "") << "a consumed press goes no further";
    }
}

} // namespace
