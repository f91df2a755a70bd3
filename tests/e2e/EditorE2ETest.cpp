// The editor on a real X server: the clipboard read back by another X client, the share menu
// and the panel's placement.
#include "editor/ControlPanel.h"
#include "editor/EditWindow.h"
#include "editor/ToolbarButton.h"
#include "platform/ClipboardWriter.h"
#include "LogCapture.h"
#include "ScreenTestTools.h"

#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage pastedImage() {
    return QImage::fromData(runTool("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"}),
                            "PNG");
}

QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(x % 256, y % 256, (x + y) % 256));
    return image;
}

struct EditorOnX11 : ::testing::Test {
    EditorOnX11() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    }
    QTemporaryDir config;
};

TEST_F(EditorOnX11, AnotherClientPastesTheImageEvenBeforeItIsEncoded) {
    const QImage image = gradient(1600, 900);
    // The paste is requested at once, while the PNG is still being encoded.
    ClipboardWriter::writeImage(image);
    const QImage pasted = pastedImage();
    ASSERT_EQ(pasted.size(), image.size());
    EXPECT_EQ(pasted.pixelColor(300, 200), image.pixelColor(300, 200));
    // A second paste of the same contents is served from the finished bytes.
    EXPECT_EQ(pastedImage().size(), image.size());
}

TEST_F(EditorOnX11, ShareWithNoApplicationForImagesSaysSo) {
    // No desktop entries at all: no application takes images.
    QTemporaryDir noApplications;
    qputenv("XDG_DATA_HOME", noApplications.path().toUtf8());
    qputenv("XDG_DATA_DIRS", noApplications.path().toUtf8());
    EditWindow window(gradient(500, 300), QRectF(0, 0, 500, 300));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* panel = window.findChild<ControlPanel*>();
    QTest::qWait(400); // the panel's appearance

    LogCapture logs;
    const QPoint share = panel->shareButton->mapToGlobal(panel->shareButton->rect().center());
    xdotool({"mousemove", "--sync", QString::number(share.x()), QString::number(share.y()), "click",
             "1"});
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 5000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "No application can share this image");
    EXPECT_FALSE(menu->actions().first()->isEnabled());
    EXPECT_TRUE(logs.messages("com.app.pixaloom.SharingServicePicker")
                    .contains("No application can take images"));

    // A click beside the menu dismisses it, as any menu.
    const QPoint beside = window.mapToGlobal(QPoint(40, window.height() - 40));
    clickAt(beside);
    QTRY_VERIFY_WITH_TIMEOUT(
        logs.messages("com.app.pixaloom.EditViewController").contains("User canceled sharing"),
        5000);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(EditorOnX11, PanelKeepsItsDistanceFromTheBottomWhenTheWindowGrowsWhileItAppears) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        EditWindow window(gradient(500, 300), QRectF(0, 0, 500, 300));
        window.show();
        auto* panel = window.findChild<ControlPanel*>();
        // The panel starts its rise 20 points below its place; the window grows meanwhile.
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel->y() > 35; }, 5000));
        window.resize(window.width(), window.height() + 100);
        QTRY_COMPARE_WITH_TIMEOUT(window.height(), 460, 5000);
        QTest::qWait(400);
        EXPECT_EQ(panel->y(), 135);
        EXPECT_EQ(panel->x(), (window.width() - panel->width()) / 2);
    }
}

} // namespace
