#include "editor/ControlPanel.h"

#include "editor/AnimationGroup.h"
#include "editor/LayerView.h"
#include "editor/PaddingSlider.h"
#include "editor/PanelShadow.h"
#include "editor/Popover.h"
#include "editor/SymbolImage.h"
#include "editor/ToolbarButton.h"
#include "platform/ApplicationKeyMonitor.h"
#include "sdk/PostHogSDK.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int containerInset = 2;
constexpr int buttonSize = 32;
constexpr int buttonGap = 8;
constexpr int placedButtonCount = 6;
constexpr qreal toolbarSymbolPointSize = 18;
constexpr QSize dragHandleSize{48, 8};
constexpr int dragHandleTop = 2;
constexpr int copyResetMilliseconds = 1500;
constexpr double dragFeedbackSeconds = 0.1;
constexpr double appearanceSeconds = 0.2;
constexpr int appearanceRise = 20;

const QColor restingTint = QColor::fromRgbF(1, 1, 1, 0.9f);

std::vector<std::pair<QString, QString>> themeTable() {
    return {{QStringLiteral("None"), QStringLiteral("No theme")},
            {QStringLiteral("ghibli"), QStringLiteral("Studio Ghibli")},
            {QStringLiteral("pixel_art"), QStringLiteral("Pixel Art")},
            {QStringLiteral("watercolor"), QStringLiteral("Watercolor")},
            {QStringLiteral("comic"), QStringLiteral("Comic Book")},
            {QStringLiteral("cyberpunk"), QStringLiteral("Cyberpunk")},
            {QStringLiteral("retro"), QStringLiteral("Retro 80s/90s")},
            {QStringLiteral("minimalist"), QStringLiteral("Minimalist")}};
}

QRect widened(const QRect& frame) {
    QRect result = frame;
    if (result.width() <= ControlPanel::minimumWidth)
        result.setWidth(ControlPanel::minimumWidth);
    return result;
}

} // namespace

ControlPanel::ControlPanel(const QRect& frame, QWidget* parent)
    : QWidget(parent)
    , themes(themeTable()) {
    setGeometry(frame);
    setupControlPanel();
}

ControlPanel::~ControlPanel() {
    // The shadow lives beside the panel in the superview, and the background-colour button
    // has no parent at all: the panel removes both.
    delete shadow.data();
    delete bgColorButton.data();
}

void ControlPanel::setupControlPanel() {
    layer.cornerRadius = 8;
    layer.backgroundColor = QColor::fromRgbF(0, 0, 0, 0.6f);
    layer.borderWidth = 0.5;
    layer.borderColor = QColor::fromRgbF(1, 1, 1, 0.2f);
    // The shadow falls 3 points upwards: its offset is measured from the bottom-left corner.
    shadow = new PanelShadow(
        this, {QColor::fromRgbF(0, 0, 0, 0.5f * 0.8f), QPointF(0, -3), 8, layer.cornerRadius});
    setGeometry(widened(geometry()));

    innerContainer = new LayerView(this);
    setupCompactToolbar();
    setupDragHandle();
    layoutContents();
    shadow->follow();
}

void ControlPanel::setupCompactToolbar() {
    editButton = createToolbarButton(QStringLiteral("pencil"), tr("Edit with prompt"));
    undoButton = createToolbarButton(QStringLiteral("arrow.uturn.backward"), tr("Undo edit"));
    redoButton = createToolbarButton(QStringLiteral("arrow.uturn.forward"), tr("Redo edit"));
    copyButton = createToolbarButton(QStringLiteral("doc.on.doc"), tr("Copy image"));
    // Made like the others but never placed: it stays out of every widget tree.
    bgColorButton =
        createToolbarButton(QStringLiteral("paintpalette"), tr("Change background color"));
    bgSettingsButton = createToolbarButton(QStringLiteral("slider.horizontal.3"),
                                           tr("Background & Padding Settings"));
    shareButton = createToolbarButton(QStringLiteral("square.and.arrow.up"), tr("Share image"));

    for (ToolbarButton* button : {editButton.data(), undoButton.data(), redoButton.data(),
                                  copyButton.data(), bgSettingsButton.data(), shareButton.data()}) {
        button->setParent(innerContainer);
        track(button, "button");
    }
    connect(editButton, &QAbstractButton::clicked, this, &ControlPanel::showPromptPopover);
    connect(undoButton, &QAbstractButton::clicked, this, &ControlPanel::undoButtonClicked);
    connect(redoButton, &QAbstractButton::clicked, this, &ControlPanel::redoButtonClicked);
    connect(copyButton, &QAbstractButton::clicked, this,
            [this] { copyClicked(copyButton.data()); });
    connect(bgSettingsButton, &QAbstractButton::clicked, this,
            &ControlPanel::showBgSettingsPopover);
    connect(shareButton, &QAbstractButton::clicked, this, &ControlPanel::shareButtonClicked);
}

ToolbarButton* ControlPanel::createToolbarButton(const QString& symbol,
                                                 const QString& accessibilityLabel) {
    // Unparented until placed; the panel deletes the one that is never placed.
    auto* button = new ToolbarButton();
    button->setSymbol(symbol, toolbarSymbolPointSize);
    button->setAccessibleName(accessibilityLabel);
    button->setContentTintColor(restingTint);
    button->layer.cornerRadius = 6;
    button->resize(buttonSize, buttonSize);
    return button;
}

void ControlPanel::setupDragHandle() {
    dragHandle = new LayerView(innerContainer);
    dragHandle->resize(dragHandleSize);
    dragHandle->setCursor(Qt::OpenHandCursor);
    auto* pill = new LayerView(dragHandle);
    pill->setGeometry(8, 2, 32, 4);
    pill->layer.cornerRadius = 2;
    pill->layer.backgroundColor = QColor::fromRgbF(1, 1, 1, 0.3f);
    pill->setAttribute(Qt::WA_TransparentForMouseEvents);
    dragHandle->raise();
    track(dragHandle, "dragHandle");
}

void ControlPanel::track(QWidget* view, const char* key) {
    view->setProperty(key, QVariant::fromValue<QObject*>(view));
    view->setAttribute(Qt::WA_Hover);
    view->installEventFilter(this);
}

void ControlPanel::layoutContents() {
    if (!innerContainer)
        return;
    innerContainer->setGeometry(
        rect().adjusted(containerInset, containerInset, -containerInset, -containerInset));
    // The row of six buttons and five gaps is centred: a container wider than the row
    // (276 against 232 points in a 280-point panel) shares the spare width equally.
    const int rowWidth = placedButtonCount * buttonSize + (placedButtonCount - 1) * buttonGap;
    const int left = (innerContainer->width() - rowWidth) / 2;
    const int top = (innerContainer->height() - buttonSize) / 2;
    int index = 0;
    for (ToolbarButton* button : {editButton.data(), undoButton.data(), redoButton.data(),
                                  copyButton.data(), bgSettingsButton.data(), shareButton.data()})
        button->setGeometry(left + index++ * (buttonSize + buttonGap), top, buttonSize, buttonSize);
    dragHandle->move((innerContainer->width() - dragHandleSize.width()) / 2, dragHandleTop);
}

bool ControlPanel::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Resize:
        layoutContents();
        [[fallthrough]];
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::ZOrderChange:
        if (shadow)
            shadow->follow();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void ControlPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(alpha);
    painter.setTransform(LayerView::scaleAbout(rect(), layer.scale));
    layer.paint(painter, rect());
}

void ControlPanel::setAlphaValue(qreal value) {
    alpha = std::clamp<qreal>(value, 0, 1);
    update();
    if (shadow)
        shadow->update();
}

void ControlPanel::setLayerScale(qreal scale) {
    layer.scale = scale;
    update();
}

void ControlPanel::setAppearanceOffset(qreal offset) {
    const int step = qRound(offset) - qRound(appearanceLag);
    appearanceLag = offset;
    if (step != 0)
        move(pos() + QPoint(0, step));
}

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
    auto* view = qobject_cast<QWidget*>(watched);
    if (!view)
        return false;
    if (view == horizontalPaddingSlider.data() || view == verticalPaddingSlider.data()) {
        trackPaddingSliderPress(event);
        return false;
    }
    switch (event->type()) {
    case QEvent::Enter:
        mouseEntered(view);
        return false;
    case QEvent::Leave:
        // Opening a popover grabs the pointer, and X then reports a leave from the button
        // that opened it although the pointer has not moved: the button keeps its active look.
        if (!anchorsShownPopover(view))
            mouseExited(view);
        return false;
    default:
        break;
    }
    if (view != dragHandle.data() || !parentWidget())
        return false;
    const auto location = [this](QEvent* e) {
        return parentWidget()->mapFromGlobal(static_cast<QMouseEvent*>(e)->globalPosition());
    };
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        handlePanGesture(PanState::began, location(event));
        return true;
    case QEvent::MouseMove:
        if (!isDragging)
            return false;
        handlePanGesture(PanState::changed, location(event));
        return true;
    case QEvent::MouseButtonRelease:
        if (!isDragging || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        handlePanGesture(PanState::ended, location(event));
        return true;
    case QEvent::Hide:
        // The handle vanishing under a drag (panel hidden, window closed) cancels it.
        if (isDragging)
            handlePanGesture(PanState::cancelled, {});
        return false;
    default:
        return false;
    }
}

void ControlPanel::handlePanGesture(PanState state, const QPointF& location) {
    QWidget* superview = parentWidget();
    if (!superview)
        return;
    switch (state) {
    case PanState::began: {
        isDragging = true;
        dragStartPoint = location;
        initialPosition = QPointF(pos());
        AnimationGroup group(dragFeedbackSeconds, AnimationGroup::Timing::easeInEaseOut);
        group.animate(this, "alphaValue", 0.8);
        group.animate(this, "layerScale", 1.02);
        break;
    }
    case PanState::changed: {
        if (!dragStartPoint || !initialPosition)
            return;
        qreal x = initialPosition->x() + (location.x() - dragStartPoint->x());
        qreal y = initialPosition->y() + (location.y() - dragStartPoint->y());
        const qreal maxX = superview->width() - width();
        const qreal maxY = superview->height() - height();
        // Clamped to the top before the bottom: a superview smaller than the panel pins it at 0.
        x = std::max(std::min(x, maxX), 0.0);
        y = std::max(std::min(y, maxY), 0.0);
        move(QPointF(x, y).toPoint());
        break;
    }
    case PanState::ended:
    case PanState::cancelled: {
        isDragging = false;
        dragStartPoint.reset();
        initialPosition.reset();
        AnimationGroup group(dragFeedbackSeconds, AnimationGroup::Timing::easeInEaseOut);
        group.animate(this, "alphaValue", 1.0);
        group.animate(this, "layerScale", 1.0);
        break;
    }
    }
}

void ControlPanel::animateAppearance() {
    setAlphaValue(0);
    // Qt's y axis points down: starting 20 points lower, the panel rises into place.
    setAppearanceOffset(appearanceRise);
    AnimationGroup group(appearanceSeconds, AnimationGroup::Timing::easeOut);
    group.animate(this, "alphaValue", 1.0);
    group.animate(this, "appearanceOffset", 0.0);
}

bool ControlPanel::anchorsShownPopover(const QWidget* button) const {
    return (button == editButton.data() && promptPopover && promptPopover->isShown()) ||
           (button == bgSettingsButton.data() && bgSettingsPopover && bgSettingsPopover->isShown());
}

void ControlPanel::popoverDidClose(ToolbarButton* anchor) {
    // The leave ignored while the popover was open is due now if the pointer has gone.
    if (anchor && !anchor->rect().contains(anchor->mapFromGlobal(QCursor::pos())))
        mouseExited(anchor);
}

void ControlPanel::copyClicked(ToolbarButton* sender) {
    if (isCopied)
        return;
    logger.info("Copy button clicked");
    PostHogSDK::shared().capture(QStringLiteral("copy_clicked"));
    const QPointer<ControlPanel> self(this);
    if (delegate)
        delegate->controlPanelDidClickCopy(this);
    if (!self)
        return; // the delegate closed the editor
    isCopied = true;
    const QPointer<ToolbarButton> button(sender);
    if (button) {
        button->setSymbol(QStringLiteral("checkmark"), button->symbolPointSize());
        button->setAccessibleName(tr("Copied"));
        button->setToolTip(tr("Copied!"));
    }
    QTimer::singleShot(copyResetMilliseconds, qApp, [self, button] {
        if (!self || !button)
            return;
        self->isCopied = false;
        button->setSymbol(QStringLiteral("doc.on.doc"), button->symbolPointSize());
        button->setAccessibleName(tr("Copy"));
        button->setToolTip(tr("Copy"));
    });
}

void ControlPanel::shareButtonClicked() {
    if (delegate)
        delegate->controlPanelDidClickShare(this);
}

void ControlPanel::undoButtonClicked() {
    if (delegate)
        delegate->controlPanelDidClickUndo(this);
}

void ControlPanel::redoButtonClicked() {
    if (delegate)
        delegate->controlPanelDidClickRedo(this);
}

const std::vector<QColor>& ControlPanel::presetColors() {
    static const std::vector<QColor> colors{QColor(Qt::white), QColor(Qt::black),
                                            QColor::fromRgbF(2 / 3.0f, 2 / 3.0f, 2 / 3.0f),
                                            QColor(240, 240, 240), QColor(30, 30, 30)};
    return colors;
}

QString ControlPanel::paddingLabelText(qreal padding) {
    return QString::number(static_cast<long long>(padding)) + QStringLiteral("px");
}
