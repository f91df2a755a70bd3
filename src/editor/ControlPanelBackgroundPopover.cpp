// The background popover: a colour and two paddings, every change reported at once.
#include "editor/ControlPanel.h"

#include "editor/AnimationGroup.h"
#include "editor/ColorWell.h"
#include "editor/PaddingSlider.h"
#include "editor/Popover.h"
#include "editor/PopoverParts.h"
#include "editor/ToolbarButton.h"

#include <QEvent>
#include <QLabel>

namespace {

constexpr QSize backgroundContentSize{350, 450};
const QColor systemRed = QColor(255, 69, 58);

QLabel* addLabel(QWidget* content, const QString& text, const QRect& frame, const QColor& color,
                 Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, content);
    label->setGeometry(frame);
    label->setFont(PopoverParts::systemFont(13));
    label->setAlignment(alignment);
    PopoverParts::setTextColor(label, color);
    return label;
}

} // namespace

void ControlPanel::buildBgSettingsPopover() {
    bgSettingsPopover =
        new Popover(this, backgroundContentSize, backgroundColor, borderRadius, borderColor);
    Popover* content = bgSettingsPopover;
    content->setObjectName(QStringLiteral("bgSettingsPopover"));
    connect(content, &Popover::hidden, this, [this] { popoverDidClose(bgSettingsButton.data()); });
    PopoverParts::header(content, borderRadius, QStringLiteral("slider.horizontal.3"),
                         tr("Background Settings"), tr("Background & Padding"), cardBackgroundColor,
                         primaryColor, textColor);

    addLabel(content, tr("Background Color:"), {15, 60, 150, 20}, textColor);
    colorWell = new ColorWell(content);
    colorWell->setGeometry(15, 90, 320, 30);
    colorWell->borderColor = borderColor;
    colorWell->dialogOwner = this;
    colorWell->setAccessibleName(tr("Background Color"));
    connect(colorWell, &ColorWell::colorChanged, this,
            [this] { colorWellChanged(colorWell.data()); });

    addLabel(content, tr("Presets:"), {15, 130, 150, 20}, textColor);
    for (int tag = 0; tag < static_cast<int>(presetColors().size()); ++tag) {
        auto* preset = new ToolbarButton(content);
        preset->tag = tag;
        preset->setGeometry(15 + 40 * tag, 160, 30, 30);
        preset->layer.backgroundColor = presetColors()[static_cast<std::size_t>(tag)];
        preset->layer.cornerRadius = 4;
        preset->layer.borderWidth = 1;
        preset->layer.borderColor = borderColor;
        preset->setCursor(Qt::PointingHandCursor);
        preset->setAccessibleName(tr("Preset colour %1").arg(tag + 1));
        connect(preset, &QAbstractButton::clicked, this,
                [this, preset] { colorPresetClicked(preset); });
    }

    addLabel(content, tr("Horizontal Padding:"), {15, 235, 150, 20}, textColor);
    hPaddingValueLabel = addLabel(content, QString(), {280, 235, 50, 20}, textColor,
                                  Qt::AlignRight | Qt::AlignVCenter);
    horizontalPaddingSlider = new PaddingSlider(content);
    horizontalPaddingSlider->setGeometry(15, 265, 320, 20);
    horizontalPaddingSlider->setAccessibleName(tr("Horizontal Padding"));
    connect(horizontalPaddingSlider, &PaddingSlider::doubleValueChanged, this,
            [this] { horizontalSliderChanged(horizontalPaddingSlider.data()); });

    addLabel(content, tr("Vertical Padding:"), {15, 295, 150, 20}, textColor);
    vPaddingValueLabel = addLabel(content, QString(), {280, 295, 50, 20}, textColor,
                                  Qt::AlignRight | Qt::AlignVCenter);
    verticalPaddingSlider = new PaddingSlider(content);
    verticalPaddingSlider->setGeometry(15, 325, 320, 20);
    verticalPaddingSlider->setAccessibleName(tr("Vertical Padding"));
    connect(verticalPaddingSlider, &PaddingSlider::doubleValueChanged, this,
            [this] { verticalSliderChanged(verticalPaddingSlider.data()); });
    for (PaddingSlider* slider : {horizontalPaddingSlider.data(), verticalPaddingSlider.data()}) {
        slider->installEventFilter(this);
        QPalette palette = slider->palette();
        palette.setColor(QPalette::Highlight, primaryColor);
        palette.setColor(QPalette::Window, backgroundColor);
        palette.setColor(QPalette::Button, textFieldBackgroundColor);
        slider->setPalette(palette);
    }

    auto* reset = new ToolbarButton(content);
    reset->setObjectName(QStringLiteral("resetAllButton"));
    reset->setGeometry(15, 361, 100, 24);
    reset->setText(tr("Reset All"));
    reset->setFont(PopoverParts::systemFont(13, QFont::Medium));
    reset->setContentTintColor(systemRed);
    reset->layer.backgroundColor = backgroundColor;
    reset->layer.cornerRadius = 4;
    reset->layer.borderWidth = 1;
    reset->layer.borderColor = QColor(systemRed.red(), systemRed.green(), systemRed.blue(), 77);
    reset->setCursor(Qt::PointingHandCursor);
    connect(reset, &QAbstractButton::clicked, this, &ControlPanel::resetBackgroundSettings);

    ToolbarButton* close = PopoverParts::closeButton(content);
    connect(close, &QAbstractButton::clicked, this, &ControlPanel::cancelBgSettings);
}

void ControlPanel::refreshBgSettingsControls() {
    if (colorWell)
        colorWell->setColor(currentBackgroundColor.value_or(QColor(Qt::white)));
    if (horizontalPaddingSlider)
        horizontalPaddingSlider->setDoubleValue(horizontalPadding);
    if (verticalPaddingSlider)
        verticalPaddingSlider->setDoubleValue(verticalPadding);
    if (hPaddingValueLabel)
        hPaddingValueLabel->setText(paddingLabelText(horizontalPadding));
    if (vPaddingValueLabel)
        vPaddingValueLabel->setText(paddingLabelText(verticalPadding));
}

void ControlPanel::showBgSettingsPopover() {
    if (!bgSettingsPopover)
        buildBgSettingsPopover();
    refreshBgSettingsControls();
    if (!bgSettingsButton)
        return;
    runActiveStateAnimation(bgSettingsButton, primaryLightColor, primaryColor);
    bgSettingsPopover->showRelativeTo(bgSettingsButton);
}

void ControlPanel::trackPaddingSliderPress(QEvent* event) {
    // A slider hidden under a drag (the popover closed) gets no release: hiding ends it.
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress) {
        paddingSliderPressed = true;
        ++paddingPresses;
    } else if (type == QEvent::MouseButtonRelease || type == QEvent::Hide) {
        paddingSliderPressed = false;
    }
}

std::optional<quint64> ControlPanel::paddingDrag() const {
    return paddingSliderPressed ? std::optional(paddingPresses) : std::nullopt;
}

void ControlPanel::applyBackgroundSettingsChanges() {
    const QColor color = currentBackgroundColor.value_or(QColor(Qt::white));
    if (delegate)
        delegate->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
            this, color, horizontalPadding, verticalPadding);
}

void ControlPanel::horizontalSliderChanged(PaddingSlider* slider) {
    horizontalPadding = slider->doubleValue();
    if (hPaddingValueLabel)
        hPaddingValueLabel->setText(paddingLabelText(horizontalPadding));
    applyBackgroundSettingsChanges();
}

void ControlPanel::verticalSliderChanged(PaddingSlider* slider) {
    verticalPadding = slider->doubleValue();
    if (vPaddingValueLabel)
        vPaddingValueLabel->setText(paddingLabelText(verticalPadding));
    applyBackgroundSettingsChanges();
}

void ControlPanel::colorWellChanged(ColorWell* well) {
    currentBackgroundColor = well->color();
    applyBackgroundSettingsChanges();
}

void ControlPanel::colorPresetClicked(ToolbarButton* preset) {
    if (preset->tag < 0 || preset->tag >= static_cast<int>(presetColors().size()))
        return;
    const QColor color = presetColors()[static_cast<std::size_t>(preset->tag)];
    if (colorWell)
        colorWell->setColor(color);
    currentBackgroundColor = color;
    applyBackgroundSettingsChanges();
}

void ControlPanel::resetBackgroundSettings() {
    currentBackgroundColor = QColor(Qt::white);
    horizontalPadding = 0;
    verticalPadding = 0;
    refreshBgSettingsControls();
    const QPointer<ControlPanel> self(this);
    applyBackgroundSettingsChanges();
    if (!self)
        return; // the delegate closed the editor
    if (bgSettingsPopover)
        bgSettingsPopover->hide();
    if (!bgSettingsButton)
        return;
    // At once, without a group; feedback still running on the button must not undo it.
    AnimationGroup::stop(bgSettingsButton, "contentTintColor");
    AnimationGroup::stop(bgSettingsButton, "hoverOpacity");
    bgSettingsButton->setContentTintColor(QColor::fromRgbF(1, 1, 1, 0.9f));
    bgSettingsButton->setHoverOpacity(0);
}

void ControlPanel::cancelBgSettings() {
    if (bgSettingsButton)
        runReleaseAnimation(bgSettingsButton);
    if (bgSettingsPopover)
        bgSettingsPopover->hide();
}
