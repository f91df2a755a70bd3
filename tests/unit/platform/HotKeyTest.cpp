#include "platform/HotKey.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

TEST(HotKey, RegistrationFailsWithoutAnX11Display) {
    ASSERT_NE(QGuiApplication::platformName(), QLatin1String("xcb"));
    int calls = 0;
    const HotKey::Registration registration =
        HotKey::registerEventHotKey(11, Qt::ControlModifier | Qt::ShiftModifier, [&] { ++calls; });
    EXPECT_EQ(registration.status, HotKey::noX11Display);
    EXPECT_EQ(registration.hotKey, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

} // namespace
