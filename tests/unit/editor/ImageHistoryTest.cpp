#include "EditViewControllerInspector.h"

#include "editor/ImageView.h"
#include "editor/ToolbarButton.h"
#include "sdk/PostHogSDK.h"
#include "LogCapture.h"

#include <QClipboard>
#include <QMimeData>

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

// Entries of noise, so a packing that lost or shifted a byte would show, all packed but the
// newest, larger than the image view so that it draws them reduced.
struct PackedHistoryFixture : HistoryFixture {
    void open(int count, qreal ratio = 1) {
        controller = makeController(solidImage(40, 30, entryColor(0)));
        controller->view()->resize(120, 90);
        controller->view()->show(); // laid out at that size
        added.assign(1, Inspector::history(*controller).front());
        for (int n = 1; n < count; ++n) {
            QImage image(qRound(97 * ratio), qRound(61 * ratio),
                         QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    image.setPixel(x, y,
                                   qPremultiply(qRgba((x * n) % 256, (y * 7 + n) % 256,
                                                      (x * y) % 256, (x + y * n) % 256)));
            image.setDevicePixelRatio(ratio);
            added.push_back(image);
            Inspector::addToHistory(*controller, image);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return othersPacked(); }, 5000));
        EXPECT_FALSE(Inspector::storedHistory(*controller).back().isPacked());
    }
    bool othersPacked() const {
        const auto& stored = Inspector::storedHistory(*controller);
        for (int i = 0; i < int(stored.size()); ++i)
            if (stored[size_t(i)].isPacked() == (i == Inspector::index(*controller)))
                return false;
        return true;
    }
    // Which added entry the view shows, -1 for none of them.
    int shownEntry() const {
        const QImage shown = Inspector::shown(*controller);
        for (int n = 0; n < int(added.size()); ++n)
            if (shown.cacheKey() == added[size_t(n)].cacheKey() || shown == added[size_t(n)])
                return n;
        return -1;
    }
    // What the view paints, against what a view of its size paints of `expected` by itself.
    void expectViewPaints(const QImage& expected) const {
        ImageView* view = Inspector::imageView(*controller);
        QWidget window; // a top-level view may not get every size
        auto* reference = new ImageView(&window);
        reference->resize(view->size());
        reference->setCornerRadius(view->cornerRadius());
        reference->setImage(expected);
        const auto painted = [](ImageView* drawing) {
            QImage out(drawing->size(), QImage::Format_ARGB32_Premultiplied);
            out.fill(Qt::transparent);
            drawing->render(&out, QPoint(), QRegion(), QWidget::DrawChildren);
            return out;
        };
        EXPECT_EQ(painted(view), painted(reference));
    }

    std::vector<QImage> added;
};

TEST_F(PackedHistoryFixture, PackedEntriesComeBackWithTheSamePixelsAtEitherRatio) {
    for (qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        open(6, ratio);
        const auto step = [&](bool back, int expected) {
            SCOPED_TRACE(expected);
            back ? controller->performUndo() : controller->performRedo();
            EXPECT_EQ(Inspector::index(*controller), expected);
            QTRY_COMPARE_WITH_TIMEOUT(shownEntry(), expected, 5000);
            const QImage shown = Inspector::shown(*controller);
            EXPECT_EQ(shown.devicePixelRatio(), added[size_t(expected)].devicePixelRatio());
            EXPECT_EQ(shown, added[size_t(expected)]);
            expectViewPaints(added[size_t(expected)]);
            // The unpacked entry is kept while shown, the one left is packed again.
            EXPECT_TRUE(QTest::qWaitFor([&] { return othersPacked(); }, 5000));
        };
        for (int index = 4; index >= 1; --index)
            step(true, index);
        step(false, 2);
        step(false, 3);
    }
}

TEST_F(PackedHistoryFixture, QuickStepsEndOnTheLastStepsEntryWithoutShowingAnOvertakenOne) {
    struct Case {
        const char* steps; // u = undo, r = redo, from the newest of six entries
        int expected;
        int taken; // steps that had somewhere to go
    };
    const Case cases[] = {
        {"uuu", 2, 3}, {"uuru", 3, 4}, {"uurr", 5, 4}, {"ur", 5, 2}, {"uuuuuuu", 0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        open(6);
        LogCapture logs;
        for (const char* s = c.steps; *s; ++s)
            *s == 'u' ? controller->performUndo() : controller->performRedo();
        EXPECT_EQ(Inspector::index(*controller), c.expected);
        // The view goes from the newest entry straight to the last step's, nothing between.
        std::vector<int> seen{shownEntry()};
        for (int turn = 0; turn < 500 && seen.back() != c.expected; ++turn) {
            QTest::qWait(5);
            if (shownEntry() != seen.back())
                seen.push_back(shownEntry());
        }
        Inspector::finishPendingWork(*controller);
        if (shownEntry() != seen.back())
            seen.push_back(shownEntry());
        EXPECT_EQ(seen, (c.expected == 5 ? std::vector<int>{5} : std::vector<int>{5, c.expected}));
        EXPECT_EQ(Inspector::shown(*controller), added[size_t(c.expected)]);
        EXPECT_EQ(logs.messages("com.app.pixaloom.EditViewController").size(), c.taken);
        EXPECT_TRUE(QTest::qWaitFor([&] { return othersPacked(); }, 5000));
    }
}

TEST_F(PackedHistoryFixture, WhatTakesTheShownImageDuringAStepGetsTheSteppedToEntry) {
    enum class Action { copy, background };
    for (Action action : {Action::copy, Action::background}) {
        SCOPED_TRACE(int(action));
        open(4);
        controller->performUndo(); // to entry 2, which is still being unpacked
        auto* panel = Inspector::panel(*controller);
        if (action == Action::copy) {
            controller->controlPanelDidClickCopy(panel);
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            ASSERT_TRUE(data && data->hasFormat("image/png"));
            EXPECT_EQ(QImage::fromData(data->data("image/png"))
                          .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                      added[2]);
            EXPECT_EQ(Inspector::shown(*controller), added[2]);
        } else {
            controller->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
                panel, Qt::blue, 5, 5);
            EXPECT_EQ(Inspector::shown(*controller).copy(5, 5, 97, 61), added[2]);
        }
        // The step's own result, when it comes, does not replace what was shown since.
        const qint64 shownKey = Inspector::shown(*controller).cacheKey();
        const int index = Inspector::index(*controller);
        Inspector::finishPendingWork(*controller);
        EXPECT_EQ(Inspector::shown(*controller).cacheKey(), shownKey);
        EXPECT_EQ(Inspector::index(*controller), index);
        EXPECT_EQ(Inspector::index(*controller), action == Action::copy ? 2 : 3);
    }
}

TEST_F(PackedHistoryFixture, EveryStepCopiesItsEntryWhateverComesBeforeItIsUnpacked) {
    struct Case {
        const char* steps; // u = undo, r = redo, from the newest of four entries
        bool closeAtOnce;  // the editor goes right after the steps
        std::vector<int> copied;
    };
    const Case cases[] = {
        {"u", false, {2}}, {"uu", false, {2, 1}}, {"uur", false, {2, 1, 2}}, {"u", true, {2}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.steps << (c.closeAtOnce ? " and close" : ""));
        open(4);
        settings.setAutoCopy(true);
        // Each copy as a paste would read it the moment it was made.
        std::vector<QImage> pasted;
        const QMetaObject::Connection watch =
            QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, [&] {
                const QMimeData* data = QGuiApplication::clipboard()->mimeData();
                pasted.push_back(QImage::fromData(data->data("image/png"), "PNG")
                                     .convertToFormat(QImage::Format_ARGB32));
            });
        LogCapture logs;
        for (const char* s = c.steps; *s; ++s)
            *s == 'u' ? controller->performUndo() : controller->performRedo();
        if (c.closeAtOnce)
            controller.reset();
        else
            Inspector::finishPendingWork(*controller);
        QTest::qWait(50);
        QObject::disconnect(watch);
        EXPECT_EQ(pasted.size(), c.copied.size());
        for (size_t i = 0; i < std::min(pasted.size(), c.copied.size()); ++i) {
            // The PNG holds straight alpha.
            EXPECT_EQ(pasted[i], added[size_t(c.copied[i])].convertToFormat(QImage::Format_ARGB32))
                << i;
        }
        EXPECT_EQ(logs.messages("com.app.pixaloom.EditViewController")
                      .filter("Auto-copied image to clipboard")
                      .size(),
                  qsizetype(c.copied.size()));
    }
}

} // namespace
