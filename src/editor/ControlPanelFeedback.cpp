// Hover and press feedback: the looks the panel gives its buttons and its drag handle as the
// pointer enters and leaves them and as their popovers open and close.
#include "editor/ControlPanel.h"

#include "editor/AnimationGroup.h"
#include "editor/LayerView.h"
#include "editor/ToolbarButton.h"

namespace {

constexpr double feedbackSeconds = 0.2;
constexpr qreal hoverScale = 1.05;
constexpr qreal primaryBrightening = 1.1;

const QColor restingTint = QColor::fromRgbF(1, 1, 1, 0.9f);
const QColor hoverTint = QColor::fromRgbF(1, 1, 1, 1);
const QColor restingPill = QColor::fromRgbF(1, 1, 1, 0.3f);
const QColor hoverPill = QColor::fromRgbF(1, 1, 1, 0.6f);
const QColor handleBand = QColor::fromRgbF(1, 1, 1, 0.1f);

// A centred circle whose diameter is 0.8 of the button's shorter side.
QRectF hoverCircle(const QWidget* button) {
    const qreal side = 0.8 * std::min(button->width(), button->height());
    return {(button->width() - side) * 0.5, (button->height() - side) * 0.5, side, side};
}

// Components above 1 cannot be shown; the brightened orange keeps its full red.
QColor brightened(const QColor& color, qreal factor) {
    const auto scaled = [factor](float component) {
        return std::min(1.0f, static_cast<float>(component * factor));
    };
    return QColor::fromRgbF(scaled(color.redF()), scaled(color.greenF()), scaled(color.blueF()), 1);
}

// The tracked view's user info: a value of an unexpected type counts as absent.
template <typename View> View* userInfoView(const QWidget* view, const char* key) {
    return qobject_cast<View*>(view->property(key).value<QObject*>());
}

bool userInfoIsPrimary(const QWidget* view) {
    const QVariant value = view->property("isPrimary");
    return value.userType() == QMetaType::Bool && value.toBool();
}

} // namespace

void ControlPanel::mouseEntered(QWidget* trackedView) {
    if (!trackedView)
        return;
    if (auto* button = userInfoView<ToolbarButton>(trackedView, "button"))
        buttonEntered(button, userInfoIsPrimary(trackedView));
    else if (auto* handle = userInfoView<LayerView>(trackedView, "dragHandle"))
        dragHandleEntered(handle);
}

void ControlPanel::mouseExited(QWidget* trackedView) {
    if (!trackedView)
        return;
    if (auto* button = userInfoView<ToolbarButton>(trackedView, "button"))
        buttonExited(button, userInfoIsPrimary(trackedView));
    else if (auto* handle = userInfoView<LayerView>(trackedView, "dragHandle"))
        dragHandleExited(handle);
}

void ControlPanel::showHoverLayer(ToolbarButton* button, const QColor& lightColor) {
    const QRectF circle = hoverCircle(button);
    if (Layer* hover = button->layer.sublayerNamed(Layer::hoverLayerName)) {
        hover->frame = circle;
        hover->cornerRadius = circle.width() * 0.5;
        button->update();
        return;
    }
    Layer hover;
    hover.name = Layer::hoverLayerName;
    hover.frame = circle;
    hover.cornerRadius = circle.width() * 0.5;
    hover.backgroundColor = lightColor;
    button->layer.insertSublayer(std::move(hover), 0);
    button->update();
}

void ControlPanel::buttonEntered(ToolbarButton* button, bool isPrimary) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeOut);
    if (isPrimary) {
        group.animate(button, "layerBackgroundColor", brightened(primaryColor, primaryBrightening));
        return;
    }
    group.animate(button, "contentTintColor", hoverTint);
    const bool existed = button->layer.sublayerNamed(Layer::hoverLayerName) != nullptr;
    showHoverLayer(button, primaryLightColor);
    if (existed) {
        group.animate(button, "hoverBackgroundColor", primaryLightColor);
        group.animate(button, "hoverOpacity", 1.0);
    }
    group.animate(button, "layerScale", hoverScale);
}

void ControlPanel::buttonExited(ToolbarButton* button, bool isPrimary) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeOut);
    if (isPrimary) {
        group.animate(button, "layerBackgroundColor", primaryColor);
        return;
    }
    group.animate(button, "contentTintColor", restingTint);
    if (button->layer.sublayerNamed(Layer::hoverLayerName))
        group.animate(button, "hoverOpacity", 0.0);
    group.animate(button, "layerScale", 1.0);
}

void ControlPanel::dragHandleEntered(LayerView* handle) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeOut);
    if (auto* pill = handle->findChild<LayerView*>(QString(), Qt::FindDirectChildrenOnly))
        group.animate(pill, "layerBackgroundColor", hoverPill);
    if (handle->layer.sublayerNamed(Layer::hoverLayerName)) {
        group.animate(handle, "hoverOpacity", 1.0);
        return;
    }
    Layer band;
    band.name = Layer::hoverLayerName;
    band.frame = QRectF(handle->rect()).adjusted(2, 0, -2, 0);
    band.cornerRadius = 4;
    band.backgroundColor = handleBand;
    handle->layer.insertSublayer(std::move(band), 0);
    handle->update();
}

void ControlPanel::dragHandleExited(LayerView* handle) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeOut);
    if (auto* pill = handle->findChild<LayerView*>(QString(), Qt::FindDirectChildrenOnly))
        group.animate(pill, "layerBackgroundColor", restingPill);
    if (handle->layer.sublayerNamed(Layer::hoverLayerName))
        group.animate(handle, "hoverOpacity", 0.0);
}

void ControlPanel::runActiveStateAnimation(ToolbarButton* button, const QColor& lightColor,
                                           const QColor& color) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeOut);
    const bool existed = button->layer.sublayerNamed(Layer::hoverLayerName) != nullptr;
    showHoverLayer(button, lightColor);
    if (existed) {
        group.animate(button, "hoverBackgroundColor", lightColor);
        group.animate(button, "hoverOpacity", 1.0);
    }
    group.animate(button, "contentTintColor", color);
}

void ControlPanel::runReleaseAnimation(ToolbarButton* button) {
    AnimationGroup group(feedbackSeconds, AnimationGroup::Timing::easeIn);
    if (button->layer.sublayerNamed(Layer::hoverLayerName))
        group.animate(button, "hoverOpacity", 0.0);
    group.animate(button, "contentTintColor", restingTint);
}
