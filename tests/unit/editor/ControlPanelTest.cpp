#include "ControlPanelRecorder.h"
#include "LogCapture.h"

#include "editor/ControlPanel.h"
#include "editor/LayerView.h"
#include "editor/ToolbarButton.h"
#include "sdk/PostHogSDK.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString panelCategory = QStringLiteral("com.app.pixaloom.ControlPanel");

qsizetype copyEvents() {
    const auto events = PostHogSDK::shared().events();
    return std::count_if(events.begin(), events.end(), [](const PostHogSDK::Event& event) {
        return event.name == "copy_clicked";
    });
}

TEST(ControlPanelFrame, WidensToAtLeast280PointsKeepingOriginAndHeight) {
    const struct {
        QRect given;
        QRect expected;
    } cases[] = {
        {{0, 0, 160, 36}, {0, 0, 280, 36}},
        {{10, 20, 280, 36}, {10, 20, 280, 36}},
        {{10, 20, 300, 50}, {10, 20, 300, 50}},
        {{5, 7, 0, 36}, {5, 7, 280, 36}},
    };
    for (const auto& [given, expected] : cases) {
        ControlPanel panel(given);
        EXPECT_EQ(panel.geometry(), expected) << given.width();
        ASSERT_TRUE(panel.innerContainer);
        EXPECT_EQ(panel.innerContainer->geometry(),
                  QRect(QPoint(2, 2), expected.size() - QSize(4, 4)));
    }
}

TEST(ControlPanelToolbar, PlacesSixButtonsInACentredRowAndKeepsThePaletteButtonOffScreen) {
    ControlPanel panel(QRect(0, 0, 160, 36));
    const std::vector<std::pair<ToolbarButton*, QString>> row{
        {panel.editButton, "Edit with prompt"},
        {panel.undoButton, "Undo edit"},
        {panel.redoButton, "Redo edit"},
        {panel.copyButton, "Copy image"},
        {panel.bgSettingsButton, "Background & Padding Settings"},
        {panel.shareButton, "Share image"}};
    // 276 points of container, 232 of row: 22 on each side.
    int x = 22;
    for (const auto& [button, label] : row) {
        ASSERT_TRUE(button);
        EXPECT_EQ(button->parentWidget(), panel.innerContainer.data());
        EXPECT_EQ(button->geometry(), QRect(x, 0, 32, 32)) << label.toStdString();
        EXPECT_EQ(button->accessibleName(), label);
        EXPECT_TRUE(button->toolTip().isEmpty());
        x += 40;
    }
    ASSERT_TRUE(panel.bgColorButton);
    EXPECT_EQ(panel.bgColorButton->parentWidget(), nullptr);
    EXPECT_FALSE(panel.bgColorButton->isVisible());
    EXPECT_EQ(panel.bgColorButton->symbolName(), "paintpalette");
    // The drag handle lies over the top of the row, in front of the buttons.
    EXPECT_EQ(panel.dragHandle->geometry(), QRect(114, 2, 48, 8));
    EXPECT_EQ(panel.innerContainer->children().last(), panel.dragHandle.data());
}

TEST(ControlPanelForwarding, SendsUndoRedoAndShareOnlyToADelegate) {
    PanelInView scene;
    QTest::mouseClick(scene.panel->undoButton, Qt::LeftButton);
    QTest::mouseClick(scene.panel->redoButton, Qt::LeftButton);
    QTest::mouseClick(scene.panel->shareButton, Qt::LeftButton);
    EXPECT_EQ(scene.recorder.calls, (std::vector<QString>{"undo", "redo", "share"}));

    scene.panel->delegate = nullptr;
    LogCapture logs;
    QTest::mouseClick(scene.panel->undoButton, Qt::LeftButton);
    QTest::mouseClick(scene.panel->shareButton, Qt::LeftButton);
    EXPECT_EQ(scene.recorder.calls.size(), 3u);
    EXPECT_TRUE(logs.messages(panelCategory).isEmpty());
}

struct Drag {
    const char* name;
    QSize view;
    QPoint by;
    QPoint expected;
};

class ControlPanelDragging : public ::testing::TestWithParam<Drag> {};

TEST_P(ControlPanelDragging, StopsAtTheViewsEdges) {
    const Drag& drag = GetParam();
    PanelInView scene(drag.view);
    LayerView* handle = scene.panel->dragHandle;
    const QPoint grip = handle->mapTo(&scene.view, QPoint(24, 4));
    // The handle moves with the panel: the pointer is placed in the view's coordinates.
    const auto pointer = [&](QPoint inView) {
        return handle->mapFrom(&scene.view, inView);
    };
    QTest::mousePress(handle, Qt::LeftButton, {}, pointer(grip));
    EXPECT_TRUE(scene.panel->isDragging);
    QTest::mouseMove(handle, pointer(grip + drag.by / 2));
    QTest::mouseMove(handle, pointer(grip + drag.by));
    EXPECT_EQ(scene.panel->pos(), drag.expected);
    EXPECT_EQ(scene.panel->size(), QSize(280, 36));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, pointer(grip + drag.by));
}

INSTANTIATE_TEST_SUITE_P(Edges, ControlPanelDragging,
                         ::testing::Values(Drag{"inside", {600, 400}, {30, 40}, {130, 75}},
                                           Drag{"right", {600, 400}, {900, 0}, {320, 35}},
                                           Drag{"left", {600, 400}, {-900, 0}, {0, 35}},
                                           Drag{"top", {600, 400}, {0, -900}, {100, 0}},
                                           Drag{"bottom", {600, 400}, {0, 900}, {100, 364}},
                                           Drag{"narrowRight", {200, 400}, {300, 0}, {0, 35}},
                                           Drag{"narrowLeft", {200, 400}, {-300, 0}, {0, 35}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ControlPanelDragFeedback, EndedAndCancelledDragsRestoreTheRestingLook) {
    for (const bool cancel : {false, true}) {
        PanelInView scene;
        ControlPanel& panel = *scene.panel;
        QTest::mousePress(panel.dragHandle, Qt::LeftButton, {}, QPoint(24, 4));
        QTest::mouseMove(panel.dragHandle, QPoint(40, 10));
        waitForAnimations();
        EXPECT_DOUBLE_EQ(panel.alphaValue(), 0.8);
        EXPECT_DOUBLE_EQ(panel.layerScale(), 1.02);
        EXPECT_TRUE(panel.dragStartPoint && panel.initialPosition);

        if (cancel)
            panel.hide();
        else
            QTest::mouseRelease(panel.dragHandle, Qt::LeftButton, {}, QPoint(40, 10));
        waitForAnimations();
        EXPECT_FALSE(panel.isDragging) << cancel;
        EXPECT_FALSE(panel.dragStartPoint || panel.initialPosition) << cancel;
        EXPECT_DOUBLE_EQ(panel.alphaValue(), 1.0) << cancel;
        EXPECT_DOUBLE_EQ(panel.layerScale(), 1.0) << cancel;
    }
}

TEST(ControlPanelAppearance, FadesInWhileRisingIntoPlace) {
    PanelInView scene;
    scene.panel->animateAppearance();
    EXPECT_EQ(scene.panel->pos(), QPoint(100, 55));
    EXPECT_DOUBLE_EQ(scene.panel->alphaValue(), 0);
    QTest::qWait(100);
    EXPECT_GT(scene.panel->pos().y(), 35);
    EXPECT_LT(scene.panel->pos().y(), 55);
    waitForAnimations();
    EXPECT_EQ(scene.panel->pos(), QPoint(100, 35));
    EXPECT_DOUBLE_EQ(scene.panel->alphaValue(), 1);

    // The view grows by 100 points meanwhile: the panel ends 100 points lower.
    scene.panel->animateAppearance();
    QTest::qWait(50);
    scene.panel->move(scene.panel->pos() + QPoint(0, 100));
    waitForAnimations();
    EXPECT_EQ(scene.panel->pos(), QPoint(100, 135));
}

TEST(ControlPanelCopy, ConfirmsForOneAndAHalfSecondsAndIgnoresClicksMeanwhile) {
    PostHogSDK::shared().clearEvents();
    LogCapture logs;
    PanelInView scene;
    ToolbarButton* copy = scene.panel->copyButton;
    // A second panel, without a delegate, that goes away while its confirmation shows: it
    // still logs, sends the event and confirms.
    auto doomed = std::make_unique<PanelInView>();
    doomed->panel->delegate = nullptr;
    QTest::mouseClick(doomed->panel->copyButton, Qt::LeftButton);
    EXPECT_EQ(logs.messages(panelCategory), QStringList{"Copy button clicked"});
    EXPECT_EQ(copyEvents(), 1);
    EXPECT_TRUE(doomed->panel->isCopied);
    EXPECT_EQ(doomed->panel->copyButton->symbolName(), "checkmark");
    doomed.reset();
    logs.clear();
    PostHogSDK::shared().clearEvents();

    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(logs.messages(panelCategory), QStringList{"Copy button clicked"});
    EXPECT_EQ(copyEvents(), 1);
    EXPECT_EQ(PostHogSDK::shared().events().back().properties, std::nullopt);
    EXPECT_EQ(scene.recorder.calls, std::vector<QString>{"copy"});
    EXPECT_TRUE(scene.panel->isCopied);
    EXPECT_EQ(copy->symbolName(), "checkmark");
    EXPECT_EQ(copy->accessibleName(), "Copied");
    EXPECT_EQ(copy->toolTip(), "Copied!");

    QTest::qWait(700);
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(logs.messages(panelCategory).size(), 1);
    EXPECT_EQ(copyEvents(), 1);
    EXPECT_EQ(scene.recorder.calls.size(), 1u);

    // The reset comes 1.5 s after the first click, not after the ignored one.
    QTest::qWait(900);
    EXPECT_FALSE(scene.panel->isCopied);
    EXPECT_EQ(copy->symbolName(), "doc.on.doc");
    EXPECT_EQ(copy->accessibleName(), "Copy");
    EXPECT_EQ(copy->toolTip(), "Copy");

    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(logs.messages(panelCategory).size(), 2);
    EXPECT_EQ(copyEvents(), 2);
    EXPECT_EQ(scene.recorder.calls, (std::vector<QString>{"copy", "copy"}));
}

} // namespace
