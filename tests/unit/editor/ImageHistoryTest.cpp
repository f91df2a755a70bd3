#include "EditViewControllerInspector.h"

#include "editor/ToolbarButton.h"
#include "sdk/PostHogSDK.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

using namespace editor_test;
using Inspector = EditViewControllerInspector;

namespace {

struct HistoryFixture : ::testing::Test {
    void SetUp() override { PostHogSDK::shared().clearEvents(); }

    // An editor whose history holds `count` distinct entries, the last one shown.
    void open(int count) {
        controller = makeController(solidImage(40, 30, entryColor(0)));
        for (int n = 1; n < count; ++n)
            Inspector::addToHistory(*controller, solidImage(40, 30, entryColor(n)));
    }
    void stepTo(int index) {
        while (Inspector::index(*controller) > index)
            controller->performUndo();
    }
    QColor shownColor() const { return Inspector::shown(*controller).pixelColor(0, 0); }
    QColor entry(int n) const { return Inspector::history(*controller).at(n).pixelColor(0, 0); }

    TemporarySettings settings;
    std::shared_ptr<EditViewController> controller;
};

TEST_F(HistoryFixture, OpensWithTheCaptureAsOnlyEntryAndNothingToStepTo) {
    open(1);
    EXPECT_EQ(Inspector::history(*controller).size(), 1u);
    EXPECT_EQ(Inspector::index(*controller), 0);
    auto* panel = Inspector::panel(*controller);
    ASSERT_TRUE(panel->undoButton && panel->redoButton);
    for (ToolbarButton* button : {panel->undoButton.data(), panel->redoButton.data()}) {
        EXPECT_FALSE(button->isEnabled());
        EXPECT_DOUBLE_EQ(button->alphaValue(), 0.5);
    }
    controller->controlPanelDidClickUndo(panel);
    controller->controlPanelDidClickRedo(panel);
    EXPECT_EQ(Inspector::index(*controller), 0);
    EXPECT_TRUE(PostHogSDK::shared().events().empty());
}

TEST_F(HistoryFixture, NewImageAfterUndoDropsTheRedoTail) {
    open(3);
    stepTo(0);
    Inspector::addToHistory(*controller, solidImage(40, 30, Qt::blue));
    ASSERT_EQ(Inspector::history(*controller).size(), 2u);
    EXPECT_EQ(Inspector::index(*controller), 1);
    EXPECT_EQ(entry(0), entryColor(0));
    EXPECT_EQ(entry(1), QColor(Qt::blue));
    EXPECT_TRUE(controller->canUndo());
    EXPECT_FALSE(controller->canRedo());
    auto* panel = Inspector::panel(*controller);
    EXPECT_TRUE(panel->undoButton->isEnabled());
    EXPECT_DOUBLE_EQ(panel->undoButton->alphaValue(), 1.0);
    EXPECT_FALSE(panel->redoButton->isEnabled());
}

TEST_F(HistoryFixture, FullHistoryKeepsTwentyEntries) {
    struct Case {
        int indexBeforeAdding;
        std::size_t expectedCount;
        int expectedIndex;
        int expectedFirstEntry; // which of the original entries stays first
    };
    // At the newest entry the oldest makes room; further back, the dropped tail does.
    const Case cases[] = {{19, 20, 19, 1}, {5, 7, 6, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.indexBeforeAdding);
        open(20);
        stepTo(c.indexBeforeAdding);
        Inspector::addToHistory(*controller, solidImage(40, 30, Qt::magenta));
        const auto& history = Inspector::history(*controller);
        EXPECT_EQ(history.size(), c.expectedCount);
        EXPECT_EQ(Inspector::index(*controller), c.expectedIndex);
        EXPECT_EQ(entry(0), entryColor(c.expectedFirstEntry));
        EXPECT_EQ(history.back().pixelColor(0, 0), QColor(Qt::magenta));
        EXPECT_TRUE(controller->canUndo());
        EXPECT_FALSE(controller->canRedo());
    }
}

TEST_F(HistoryFixture, StepsShowTheStoredEntryAndReportIndexAndSize) {
    open(5);
    stepTo(3);
    PostHogSDK::shared().clearEvents();
    LogCapture logs;
    controller->performUndo();
    EXPECT_EQ(shownColor(), entryColor(2));
    controller->performRedo();
    EXPECT_EQ(shownColor(), entryColor(3));
    const std::vector<PostHogSDK::Event> expected = {
        {"edit_undone", AnalyticsProperties{{"history_index", 2LL}, {"history_size", 5LL}}},
        {"edit_redone", AnalyticsProperties{{"history_index", 3LL}, {"history_size", 5LL}}}};
    EXPECT_EQ(PostHogSDK::shared().events(), expected);
    EXPECT_EQ(logs.messages("com.app.pixaloom.EditViewController"),
              QStringList({"Reverted to previous edit (history index: 2)",
                           "Restored to next edit (history index: 3)"}));
    // The shown image is the history's own entry, not a copy.
    EXPECT_EQ(Inspector::shown(*controller).constBits(),
              Inspector::history(*controller).at(3).constBits());
}

TEST_F(HistoryFixture, EntriesNotShownArePackedAndComeBackWithTheSamePixels) {
    // Entries with noise, so a packing that lost or shifted a byte would show.
    std::vector<QImage> added;
    controller = makeController(solidImage(40, 30, entryColor(0)));
    for (int n = 1; n < 6; ++n) {
        QImage image(97, 61, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qPremultiply(qRgba((x * n) % 256, (y * 7 + n) % 256, (x * y) % 256,
                                                  (x + y * n) % 256)));
        added.push_back(image);
        Inspector::addToHistory(*controller, image);
    }
    const auto& stored = Inspector::storedHistory(*controller);
    const auto othersPacked = [&] {
        for (int i = 0; i < int(stored.size()); ++i)
            if (stored[size_t(i)].isPacked() == (i == Inspector::index(*controller)))
                return false;
        return true;
    };
    ASSERT_TRUE(QTest::qWaitFor(othersPacked, 5000));
    EXPECT_FALSE(stored.back().isPacked());

    for (int index = 4; index >= 1; --index) {
        controller->performUndo();
        SCOPED_TRACE(index);
        EXPECT_EQ(Inspector::shown(*controller), added[size_t(index - 1)]);
        ASSERT_TRUE(QTest::qWaitFor(othersPacked, 5000));
    }
    controller->performRedo();
    EXPECT_EQ(Inspector::shown(*controller), added[1]);
}

} // namespace
