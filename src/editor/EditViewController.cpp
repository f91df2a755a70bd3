#include "editor/EditViewController.h"

#include "editor/AnimationGroup.h"
#include "editor/ControlPanel.h"
#include "editor/FadeAnimation.h"
#include "editor/ImageView.h"
#include "editor/LoadingSpinner.h"
#include "editor/ToolbarButton.h"
#include "editor/VisualEffectView.h"
#include "platform/ClipboardWriter.h"
#include "platform/MainQueue.h"
#include "platform/MainScreen.h"
#include "platform/ShortenedText.h"
#include "platform/SmoothScaling.h"

#include <QEasingCurve>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QScreen>

namespace {

// The titlebar material, drawn as a plain tint: without a blurring compositor there is
// nothing behind the window to blur.
const QColor backdropTint{60, 60, 60};
// The loading overlay's layer: black at 0.7 over everything.
const QColor loadingTint{0, 0, 0, 178};
// The overlay's fade repaints the whole window: about 30 frames a second leave a 4K X server
// the time to take each frame before the next one is drawn.
constexpr int fadeFrameInterval = 32;

QSize pixelSize(QSizeF points, qreal ratio) {
    return QSize(std::max(1, qRound(points.width() * ratio)),
                 std::max(1, qRound(points.height() * ratio)));
}

} // namespace

EditViewController::EditViewController(const QImage& screenshot, const QRectF& frame,
                                       qreal controlPanelHeight)
    : screenshotImage(screenshot)
    , controlPanelHeight(controlPanelHeight) {
    Q_UNUSED(frame);
    historyWorker.setMaxThreadCount(1);
    resultWorker.setMaxThreadCount(1);
    if (autoCopyEnabled()) {
        ClipboardWriter::writeImage(screenshotImage);
        logger.info("Auto-copied initial screenshot to clipboard");
    }
}

EditViewController::~EditViewController() {
    // The root view is ours even while a window shows it.
    delete rootView.data();
}

QWidget* EditViewController::view() {
    if (!rootView) {
        loadView();
        viewDidLoad();
    }
    return rootView;
}

void EditViewController::detachViewFromWindow() {
    if (rootView && rootView->parentWidget()) {
        rootView->hide();
        rootView->setParent(nullptr);
    }
}

void EditViewController::loadView() {
    logger.info("Setting up edit view");
    rootView = new QWidget;
    rootView->setAutoFillBackground(true);
    QPalette palette = rootView->palette();
    palette.setColor(QPalette::Window, backgroundColor);
    rootView->setPalette(palette);
    rootView->installEventFilter(this);

    backdrop = new VisualEffectView(backdropTint, rootView);
    backdrop->setAlphaValue(0.15);

    imageView = new ImageView(rootView);
    imageView->setImage(scaleImageToFitScreen(screenshotImage));
    imageView->setCornerRadius(borderRadius);

    setupLoadingOverlay();
    setupControlPanel();
    layoutViews(rootView->size());
}

void EditViewController::viewDidLoad() {
    if (imageView && !imageView->image().isNull())
        addToHistory(imageView->image());
    updateUndoRedoButtonsState();
}

void EditViewController::setupControlPanel() {
    controlPanel = new ControlPanel(QRect(0, 0, 160, 36), rootView);
    controlPanel->delegate = this;
    controlPanel->raise();
    MainQueue::async(this, [this] {
        if (!controlPanel || !rootView)
            return;
        controlPanel->move((rootView->width() - controlPanel->width()) / 2, 35);
        controlPanel->animateAppearance();
    });
}

void EditViewController::setupLoadingOverlay() {
    loadingBackground = new VisualEffectView(loadingTint, rootView);
    // Its fade covers the whole window: each frame then repaints the overlay alone.
    loadingBackground->setKeepsPictureOfBeneath(true);
    loadingBackground->hide();
    loadingSpinner = new LoadingSpinner(loadingBackground);
    auto* centring = new QGridLayout(loadingBackground);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->addWidget(loadingSpinner, 0, 0, Qt::AlignCenter);
}

void EditViewController::layoutViews(QSize oldSize) {
    const QRect bounds = rootView->rect();
    backdrop->setGeometry(bounds);
    const int inset = qRound(controlPadding);
    imageView->setGeometry(bounds.adjusted(inset, inset, -inset, -inset));
    loadingBackground->setGeometry(bounds);
    // The panel keeps its distance from the bottom edge when the view changes height, as a
    // frame measured from the bottom-left corner does.
    if (controlPanel && oldSize.isValid() && oldSize.height() > 0)
        controlPanel->move(controlPanel->x(),
                           controlPanel->y() + bounds.height() - oldSize.height());
}

bool EditViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == rootView && event->type() == QEvent::Resize)
        layoutViews(static_cast<QResizeEvent*>(event)->oldSize());
    return QObject::eventFilter(watched, event);
}

void EditViewController::showLoading() {
    if (controlPanel) {
        for (const auto& button :
             {controlPanel->editButton, controlPanel->copyButton, controlPanel->shareButton,
              controlPanel->undoButton, controlPanel->redoButton, controlPanel->bgSettingsButton}) {
            if (!button)
                continue;
            button->setEnabled(false);
            button->setAlphaValue(0.5);
        }
    }
    if (!loadingBackground)
        return;
    // The overlay is shown by the fade's first visible value (revealLoadingOverlay): at alpha 0
    // it looks exactly like what lies beneath it, and showing it then would cost a whole-window
    // frame while only the buttons change.
    loadingSpinner->startAnimation();
    loadingBackground->setAlphaValue(0.0);
    fadeLoadingOverlay(1.0, nullptr);
}

void EditViewController::revealLoadingOverlay() {
    if (!loadingBackground || !loadingBackground->isHidden() ||
        loadingBackground->alphaValue() <= 0)
        return;
    loadingBackground->show();
    loadingBackground->raise();
    if (controlPanel)
        controlPanel->raise();
}

void EditViewController::hideLoading() {
    if (!loadingBackground)
        return;
    QPointer<EditViewController> weakSelf(this);
    fadeLoadingOverlay(0.0, [weakSelf] {
        if (!weakSelf)
            return;
        auto* self = weakSelf.data();
        self->loadingBackground->hide();
        self->loadingSpinner->stopAnimation();
        if (auto* panel = self->controlPanel.data()) {
            for (const auto& button : {panel->editButton, panel->copyButton, panel->shareButton,
                                       panel->bgSettingsButton}) {
                if (!button)
                    continue;
                button->setEnabled(true);
                button->setAlphaValue(1.0);
            }
        }
        self->updateUndoRedoButtonsState();
    });
}

void EditViewController::fadeLoadingOverlay(qreal toAlpha, std::function<void()> completion) {
    if (loadingFade)
        loadingFade->stop();
    auto* fade = new FadeAnimation(loadingBackground, "alphaValue", fadeFrameInterval, this);
    fade->setDuration(qRound(buttonAnimationDuration * 1000));
    fade->setEasingCurve(AnimationGroup::curve(AnimationGroup::Timing::easeInEaseOut));
    fade->setEndValue(toAlpha);
    connect(fade, &QVariantAnimation::valueChanged, this,
            &EditViewController::revealLoadingOverlay);
    // Each frame of the fade repaints the spinner inside the overlay.
    loadingSpinner->setOwnFramesPaused(true);
    connect(fade, &QAbstractAnimation::finished, loadingSpinner,
            [spinner = loadingSpinner] { spinner->setOwnFramesPaused(false); });
    if (completion)
        connect(fade, &QAbstractAnimation::finished, this, std::move(completion));
    loadingFade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

QSizeF EditViewController::sizeToFitScreen(QSizeF points) const {
    const std::optional<QSizeF> room = screenRoom();
    return room ? sizeToFit(points, *room) : points;
}

std::optional<QSizeF> EditViewController::screenRoom() const {
    QScreen* screen = mainScreen();
    if (!screen)
        return std::nullopt;
    // The whole screen counts, not only what panels leave free.
    const QSizeF screenSize = screen->geometry().size();
    return QSizeF(screenSize.width() - 2 * maxWindowPadding,
                  screenSize.height() - 2 * maxWindowPadding - controlPanelHeight);
}

QSizeF EditViewController::sizeToFit(QSizeF points, QSizeF room) {
    if (points.isEmpty())
        return points;
    const qreal scale = std::min(room.width() / points.width(), room.height() / points.height());
    return scale >= 1.0 ? points : points * scale;
}

QImage EditViewController::scaleImageToFitScreen(const QImage& image) const {
    if (image.isNull())
        return image;
    return scaledToPoints(image, sizeToFitScreen(image.deviceIndependentSize()));
}

QImage EditViewController::fittedToScreen(const QImage& image, const QImage& prepared) const {
    // The screen under the pointer may have changed since the reduction was made.
    const QSizeF wanted = sizeToFitScreen(image.deviceIndependentSize());
    if (!prepared.isNull() && prepared.devicePixelRatio() == image.devicePixelRatio() &&
        prepared.size() == pixelSize(wanted, image.devicePixelRatio()))
        return prepared;
    return scaleImageToFitScreen(image);
}

QImage EditViewController::scaledToPoints(const QImage& image, QSizeF points) {
    if (image.isNull() || points == image.deviceIndependentSize())
        return image;
    const qreal ratio = image.devicePixelRatio();
    const QSize pixels = pixelSize(points, ratio);
    QImage scaled = SmoothScaling::scaled(image, pixels);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

void EditViewController::showError(const QString& message) {
    logger.error("Error occurred: %s", message);
    if (loadingBackground && (!loadingBackground->isHidden() || loadingFade))
        hideLoading();
    presentAlert(QStringLiteral("Error"), ShortenedText::of(message, maxAlertTextLength));
}

void EditViewController::presentAlert(const QString& messageText, const QString& informativeText) {
    QWidget* window = rootView ? rootView->window() : nullptr;
    const bool inWindow = window && window != rootView && window->isVisible();
    auto* alert = new QMessageBox(QMessageBox::Warning, messageText, messageText, QMessageBox::Ok,
                                  inWindow ? window : nullptr);
    alert->setInformativeText(informativeText);
    // The text may be a server's answer, such as a proxy's HTML page: shown as written, never
    // laid out as rich text. The box's own text format does not reach its informative label.
    alert->setTextFormat(Qt::PlainText);
    if (auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (inWindow) {
        alert->open();
        return;
    }
    // Application-modal without a nested event loop: this may run inside an edit's result
    // step, which must not be re-entered by events a nested loop would deliver.
    alert->setWindowModality(Qt::ApplicationModal);
    alert->show();
}

bool EditViewController::canUndo() const {
    return !editInFlight && currentHistoryIndex >= 1;
}

bool EditViewController::canRedo() const {
    return !editInFlight && currentHistoryIndex < static_cast<int>(imageHistory.size()) - 1;
}

void EditViewController::performUndo() {
    controlPanelDidClickUndo(controlPanel);
}

void EditViewController::performRedo() {
    controlPanelDidClickRedo(controlPanel);
}

void EditViewController::showImage(const QImage& image, const QImage& scaledForView) {
    pendingStep->store(0);
    if (imageView)
        imageView->setImage(image, scaledForView);
    if (loadingBackground)
        loadingBackground->beneathChanged();
}
