#include "ControlPanelRecorder.h"

#include "editor/ControlPanel.h"
#include "editor/LayerView.h"
#include "editor/ToolbarButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QColor restingTint = QColor::fromRgbF(1, 1, 1, 0.9f);

void enter(QWidget* widget) {
    QEnterEvent event(QPointF(4, 4), widget->mapTo(widget->window(), QPointF(4, 4)),
                      widget->mapToGlobal(QPointF(4, 4)));
    QApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

int hoverLayers(const Layer& layer) {
    return static_cast<int>(
        std::count_if(layer.sublayers.begin(), layer.sublayers.end(),
                      [](const Layer& sublayer) { return sublayer.name == "hoverBackground"; }));
}

bool near(const QColor& actual, const QColor& expected) {
    return std::abs(actual.red() - expected.red()) <= 3 &&
           std::abs(actual.green() - expected.green()) <= 3 &&
           std::abs(actual.blue() - expected.blue()) <= 3;
}

TEST(HoverFeedback, ToolbarButtonsKeepOneHoverLayerLaidOutAfreshOnEveryEnter) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    for (ToolbarButton* button :
         {panel.editButton.data(), panel.undoButton.data(), panel.shareButton.data()}) {
        button->setEnabled(button != panel.undoButton); // disabled buttons get it too
        for (int round = 0; round < 20; ++round) {
            enter(button);
            leave(button);
        }
        button->resize(40, 30);
        enter(button);
        waitForAnimations();
        ASSERT_EQ(hoverLayers(button->layer), 1);
        const Layer& hover = button->layer.sublayers.front();
        EXPECT_EQ(hover.name, "hoverBackground");
        EXPECT_EQ(hover.frame, QRectF(8, 3, 24, 24));
        EXPECT_DOUBLE_EQ(hover.cornerRadius, 12);
        EXPECT_DOUBLE_EQ(hover.opacity, 1);
        EXPECT_EQ(rgba(hover.backgroundColor), rgba(panel.primaryLightColor));
        EXPECT_EQ(rgba(button->contentTintColor()), rgba(Qt::white));
        EXPECT_DOUBLE_EQ(button->layerScale(), 1.05);

        leave(button);
        waitForAnimations();
        EXPECT_EQ(hoverLayers(button->layer), 1);
        EXPECT_DOUBLE_EQ(button->hoverOpacity(), 0);
        EXPECT_EQ(rgba(button->contentTintColor()), rgba(restingTint));
        EXPECT_DOUBLE_EQ(button->layerScale(), 1);
    }
}

TEST(HoverFeedback, ThePopoversEditButtonOnlyBrightensItsOrange) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showPromptPopover();
    auto* edit = panel.promptPopover->findChild<ToolbarButton*>("promptEditButton");
    ASSERT_TRUE(edit);
    enter(edit);
    waitForAnimations();
    // 1.1 times the orange, its red held at full.
    EXPECT_EQ(rgba(edit->layerBackgroundColor()), rgba(QColor::fromRgbF(1, 1.1f * 92 / 255, 0)));
    EXPECT_TRUE(edit->layer.sublayers.empty());
    EXPECT_EQ(rgba(edit->contentTintColor()), rgba(Qt::white));
    EXPECT_DOUBLE_EQ(edit->layerScale(), 1);
    leave(edit);
    waitForAnimations();
    EXPECT_EQ(rgba(edit->layerBackgroundColor()), rgba(panel.primaryColor));
}

TEST(HoverFeedback, TheDragHandleBrightensItsPillAndShowsItsBandWithoutScaling) {
    PanelInView scene;
    LayerView* handle = scene.panel->dragHandle;
    auto* pill = handle->findChild<LayerView*>();
    ASSERT_TRUE(pill);
    EXPECT_EQ(rgba(pill->layer.backgroundColor), rgba(QColor::fromRgbF(1, 1, 1, 0.3f)));
    for (int round = 0; round < 3; ++round) {
        enter(handle);
        waitForAnimations();
        EXPECT_EQ(rgba(pill->layer.backgroundColor), rgba(QColor::fromRgbF(1, 1, 1, 0.6f)));
        ASSERT_EQ(hoverLayers(handle->layer), 1);
        const Layer& band = handle->layer.sublayers.front();
        EXPECT_EQ(band.frame, QRectF(2, 0, 44, 8));
        EXPECT_DOUBLE_EQ(band.cornerRadius, 4);
        EXPECT_EQ(rgba(band.backgroundColor), rgba(QColor::fromRgbF(1, 1, 1, 0.1f)));
        EXPECT_DOUBLE_EQ(band.opacity, 1);
        EXPECT_DOUBLE_EQ(scene.panel->layerScale(), 1);
        leave(handle);
        waitForAnimations();
        EXPECT_EQ(rgba(pill->layer.backgroundColor), rgba(QColor::fromRgbF(1, 1, 1, 0.3f)));
        EXPECT_DOUBLE_EQ(handle->hoverOpacity(), 0);
    }
}

TEST(PressFeedback, APopoverOpensWithTheActiveLookAndItsOwnActionsRelease) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    using Action = void (ControlPanel::*)();
    const struct {
        ToolbarButton* button;
        Action open;
        Action close;
    } popovers[] = {
        {panel.editButton, &ControlPanel::showPromptPopover,
         &ControlPanel::promptCancelButtonClicked},
        {panel.editButton, &ControlPanel::showPromptPopover,
         &ControlPanel::promptEditButtonClicked},
        {panel.bgSettingsButton, &ControlPanel::showBgSettingsPopover,
         &ControlPanel::cancelBgSettings},
    };
    for (const auto& popover : popovers) {
        (panel.*popover.open)();
        waitForAnimations();
        EXPECT_EQ(rgba(popover.button->contentTintColor()), rgba(panel.primaryColor));
        EXPECT_DOUBLE_EQ(popover.button->hoverOpacity(), 1);
        EXPECT_EQ(rgba(popover.button->hoverBackgroundColor()), rgba(panel.primaryLightColor));
        (panel.*popover.close)();
        waitForAnimations();
        EXPECT_EQ(rgba(popover.button->contentTintColor()), rgba(restingTint));
        EXPECT_DOUBLE_EQ(popover.button->hoverOpacity(), 0);
        EXPECT_EQ(hoverLayers(popover.button->layer), 1);
    }
}

// The panel as drawn over a white view at twice the pixel density.
QImage renderPanel(ControlPanel& panel) {
    QImage image(panel.parentWidget()->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    panel.parentWidget()->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The brightest and the most orange pixels inside a button.
std::pair<QColor, QColor> buttonColours(const QImage& image, const QWidget* button,
                                        const QWidget* view) {
    const QRect area(button->mapTo(view, QPoint(0, 0)) * 2, button->size() * 2);
    QColor brightest(Qt::black), orangest(Qt::black);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.lightness() > brightest.lightness())
                brightest = pixel;
            if (pixel.red() - pixel.blue() > orangest.red() - orangest.blue())
                orangest = pixel;
        }
    return {brightest, orangest};
}

TEST(PanelPixels, TranslucentBlackPanelWithTintedIcons) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    QImage image = renderPanel(panel);
    // Black at 0.6 over white, away from buttons, border and handle.
    const QPoint background = panel.mapTo(&scene.view, QPoint(10, 18)) * 2;
    EXPECT_TRUE(near(image.pixelColor(background), QColor(102, 102, 102)))
        << image.pixelColor(background).name().toStdString();
    // Outside the panel the view is untouched except for the soft shadow.
    const QPoint outside = panel.mapTo(&scene.view, QPoint(140, 80)) * 2;
    EXPECT_EQ(image.pixelColor(outside), QColor(Qt::white));

    // Icons drawn at 0.9 white over the panel: close to (240, 240, 240) in their strokes.
    auto [brightest, orangest] = buttonColours(image, panel.shareButton, &scene.view);
    EXPECT_GE(brightest.lightness(), 225) << brightest.name().toStdString();
    EXPECT_LT(std::abs(brightest.red() - brightest.blue()), 4);

    // The active look tints the icon orange.
    panel.showPromptPopover();
    waitForAnimations();
    image = renderPanel(panel);
    std::tie(brightest, orangest) = buttonColours(image, panel.editButton, &scene.view);
    EXPECT_TRUE(near(orangest, panel.primaryColor)) << orangest.name().toStdString();

    // A dimmed button (an edit running) draws at half strength.
    panel.promptCancelButtonClicked();
    waitForAnimations();
    panel.shareButton->setAlphaValue(0.5);
    image = renderPanel(panel);
    std::tie(brightest, orangest) = buttonColours(image, panel.shareButton, &scene.view);
    EXPECT_LT(brightest.lightness(), 190) << brightest.name().toStdString();
    EXPECT_GT(brightest.lightness(), 150) << brightest.name().toStdString();
}

} // namespace
