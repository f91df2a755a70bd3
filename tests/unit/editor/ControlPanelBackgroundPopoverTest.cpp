#include "ControlPanelRecorder.h"

#include "editor/ColorWell.h"
#include "editor/ControlPanel.h"
#include "editor/PaddingSlider.h"
#include "editor/ToolbarButton.h"

#include <QColorDialog>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ToolbarButton* preset(ControlPanel& panel, int tag) {
    for (auto* button : panel.bgSettingsPopover->findChildren<ToolbarButton*>())
        if (button->tag == tag && button->layer.borderWidth == 1 && button->text().isEmpty())
            return button;
    return nullptr;
}

TEST(BackgroundPopover, ShowingRefreshesTheControlsAndReportsNothing) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    QTest::mouseClick(panel.bgSettingsButton, Qt::LeftButton);
    ASSERT_TRUE(panel.bgSettingsPopover);
    EXPECT_TRUE(panel.bgSettingsPopover->isVisible());
    EXPECT_EQ(panel.bgSettingsPopover->size(), QSize(350, 450));
    EXPECT_EQ(panel.colorWell->color(), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(panel.horizontalPaddingSlider->doubleValue(), 20);
    EXPECT_DOUBLE_EQ(panel.verticalPaddingSlider->doubleValue(), 20);
    EXPECT_EQ(panel.hPaddingValueLabel->text(), "20px");
    EXPECT_EQ(panel.vPaddingValueLabel->text(), "20px");

    // Values changed while it was closed show at the next opening, still unreported.
    panel.cancelBgSettings();
    panel.horizontalPadding = 42.5;
    panel.currentBackgroundColor = QColor(Qt::black);
    panel.showBgSettingsPopover();
    EXPECT_DOUBLE_EQ(panel.horizontalPaddingSlider->doubleValue(), 42.5);
    EXPECT_EQ(panel.hPaddingValueLabel->text(), "42px");
    EXPECT_EQ(panel.colorWell->color(), QColor(Qt::black));
    EXPECT_TRUE(scene.recorder.calls.empty());
}

TEST(BackgroundPopover, EachSliderStepIsOneReportOfItsOwnPaddingWithFractions) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showBgSettingsPopover();
    panel.horizontalPaddingSlider->setValue(3560); // where a drag leaves the handle
    ASSERT_EQ(scene.recorder.backgrounds.size(), 1u);
    EXPECT_DOUBLE_EQ(scene.recorder.backgrounds[0].horizontalPadding, 35.6);
    EXPECT_DOUBLE_EQ(scene.recorder.backgrounds[0].verticalPadding, 20);
    EXPECT_EQ(scene.recorder.backgrounds[0].color, QColor(Qt::white));
    EXPECT_EQ(panel.hPaddingValueLabel->text(), "35px");
    EXPECT_DOUBLE_EQ(panel.horizontalPadding, 35.6);

    panel.verticalPaddingSlider->setFocus();
    QTest::keyClick(panel.verticalPaddingSlider, Qt::Key_Right);
    QTest::keyClick(panel.verticalPaddingSlider, Qt::Key_Right);
    ASSERT_EQ(scene.recorder.backgrounds.size(), 3u);
    EXPECT_DOUBLE_EQ(scene.recorder.backgrounds[2].verticalPadding, 22);
    EXPECT_DOUBLE_EQ(scene.recorder.backgrounds[2].horizontalPadding, 35.6);
    EXPECT_EQ(panel.vPaddingValueLabel->text(), "22px");
    EXPECT_EQ(scene.recorder.calls,
              (std::vector<QString>{"background", "background", "background"}));
}

TEST(BackgroundPopover, EachPresetIsOneReportWithTheCurrentPaddings) {
    const std::pair<int, QColor> cases[] = {{0, Qt::white},
                                            {1, Qt::black},
                                            {2, QColor::fromRgbF(2 / 3.0f, 2 / 3.0f, 2 / 3.0f)},
                                            {3, QColor(240, 240, 240)},
                                            {4, QColor(30, 30, 30)}};
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showBgSettingsPopover();
    for (const auto& [tag, color] : cases) {
        ToolbarButton* button = preset(panel, tag);
        ASSERT_TRUE(button) << tag;
        EXPECT_EQ(rgba(button->layer.backgroundColor), rgba(color));
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_EQ(scene.recorder.backgrounds.size(), static_cast<std::size_t>(tag + 1));
        EXPECT_EQ(scene.recorder.backgrounds.back().color, color) << tag;
        EXPECT_DOUBLE_EQ(scene.recorder.backgrounds.back().horizontalPadding, 20);
        EXPECT_EQ(panel.colorWell->color(), color);
    }
}

TEST(BackgroundPopover, EachColourPickedInTheDialogIsOneReport) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showBgSettingsPopover();
    QTest::mouseClick(panel.colorWell, Qt::LeftButton);
    QColorDialog* dialog = panel.colorWell->dialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->currentColor(), QColor(Qt::white));
    dialog->setCurrentColor(QColor(200, 10, 10));
    dialog->setCurrentColor(QColor(10, 200, 10));
    ASSERT_EQ(scene.recorder.backgrounds.size(), 2u);
    EXPECT_EQ(scene.recorder.backgrounds[1].color, QColor(10, 200, 10));
    EXPECT_EQ(*panel.currentBackgroundColor, QColor(10, 200, 10));

    // A preset moves the open dialog along without a second report.
    QTest::mouseClick(preset(panel, 1), Qt::LeftButton);
    EXPECT_EQ(dialog->currentColor(), QColor(Qt::black));
    EXPECT_EQ(scene.recorder.backgrounds.size(), 3u);
    dialog->close();
}

TEST(BackgroundPopover, ResetAllReportsWhiteWithoutPaddingClosesAndRestoresTheButton) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    QTest::mouseClick(panel.bgSettingsButton, Qt::LeftButton);
    QTest::mouseClick(preset(panel, 4), Qt::LeftButton);
    panel.horizontalPaddingSlider->setValue(5000);
    scene.recorder.backgrounds.clear();
    EXPECT_EQ(panel.bgSettingsButton->layer.sublayerNamed(u"hoverBackground")->opacity, 1);

    auto* reset = panel.bgSettingsPopover->findChild<ToolbarButton*>("resetAllButton");
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->text(), "Reset All");
    QTest::mouseClick(reset, Qt::LeftButton);
    ASSERT_EQ(scene.recorder.backgrounds.size(), 1u);
    EXPECT_EQ(scene.recorder.backgrounds[0].color, QColor(Qt::white));
    EXPECT_EQ(scene.recorder.backgrounds[0].horizontalPadding, 0);
    EXPECT_EQ(scene.recorder.backgrounds[0].verticalPadding, 0);
    EXPECT_FALSE(panel.bgSettingsPopover->isVisible());
    EXPECT_EQ(panel.hPaddingValueLabel->text(), "0px");
    EXPECT_EQ(panel.vPaddingValueLabel->text(), "0px");
    EXPECT_EQ(panel.colorWell->color(), QColor(Qt::white));
    // At once, and still so after the popover's own feedback would have ended.
    for (int check = 0; check < 2; ++check) {
        EXPECT_EQ(rgba(panel.bgSettingsButton->contentTintColor()),
                  rgba(QColor::fromRgbF(1, 1, 1, 0.9f)));
        EXPECT_EQ(panel.bgSettingsButton->hoverOpacity(), 0);
        waitForAnimations();
    }

    // Closing with the close button keeps what was chosen.
    panel.showBgSettingsPopover();
    panel.verticalPaddingSlider->setValue(1234);
    panel.cancelBgSettings();
    panel.showBgSettingsPopover();
    EXPECT_EQ(panel.vPaddingValueLabel->text(), "12px");
    EXPECT_EQ(scene.recorder.backgrounds.size(), 2u);
}

} // namespace
