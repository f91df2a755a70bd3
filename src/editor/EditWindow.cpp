#include "editor/EditWindow.h"

#include "editor/EditViewController.h"
#include "platform/ApplicationKeyMonitor.h"
#include "platform/KeyIdentity.h"
#include "platform/MainQueue.h"
#include "platform/MainScreen.h"
#include "platform/SystemLog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int controlPanelHeight = 60;
const QColor editorBackground{17, 17, 17};

std::function<void()>& mainMenuUpdate() {
    static std::function<void()> update;
    return update;
}

} // namespace

EditWindow::EditWindow(const QImage& screenshot, const QRectF& frame)
    : QWidget(nullptr, Qt::Window) {
    editViewController =
        std::make_shared<EditViewController>(screenshot, frame, controlPanelHeight);
    setWindowTitle(QStringLiteral("Pixaloom"));
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, editorBackground);
    setPalette(windowPalette);
    setAutoFillBackground(true);
    setMinimumSize(400, 300);
    QScreen* screen = mainScreen();
    // A capture as large as the screen would give a window larger than the screen, its title
    // bar out of reach: the window takes the size at which the view shows the capture.
    const QSizeF shown = editViewController->sizeToFitScreen(frame.size());
    resize(fittedContentSize(
        QSize(qRound(shown.width()), qRound(shown.height()) + controlPanelHeight), screen));

    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(0, 0, 0, 0);
    content->addWidget(editViewController->view());
    // The content view takes the window's size now, not at the first show: the panel is
    // placed from the view's size on the next main-queue turn, which may come first.
    content->activate();

    setupKeyboardShortcuts();
    if (screen)
        move(centredPosition(size(), screen));
}

QSize EditWindow::fittedContentSize(QSize content, const QScreen* screen) {
    if (!screen)
        return content;
    return content.boundedTo(screen->availableGeometry().size());
}

QPoint EditWindow::centredPosition(QSize content, const QScreen* screen) {
    QRect placed(QPoint(), content);
    placed.moveCenter(screen->geometry().center());
    // Centred on the whole screen, then moved inside the part that panels leave free.
    const QRect available = screen->availableGeometry();
    placed.moveLeft(std::clamp(placed.left(), available.left(),
                               std::max(available.left(), available.right() - placed.width() + 1)));
    placed.moveTop(std::clamp(placed.top(), available.top(),
                              std::max(available.top(), available.bottom() - placed.height() + 1)));
    return placed.topLeft();
}

EditWindow::~EditWindow() {
    localEventMonitor.reset();
    // A running edit may still hold the controller; its view then outlives this window.
    if (editViewController)
        editViewController->detachViewFromWindow();
}

void EditWindow::setMainMenuUpdate(std::function<void()> update) {
    mainMenuUpdate() = std::move(update);
}

void EditWindow::setupKeyboardShortcuts() {
    QPointer<EditWindow> weakWindow(this);
    localEventMonitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown(
        [weakWindow](QKeyEvent& event) { return weakWindow && weakWindow->handleKeyDown(event); });
}

bool EditWindow::handleKeyDown(const QKeyEvent& event) {
    const PhysicalKey key = KeyIdentity::fromEvent(event);
    const bool command = event.modifiers().testFlag(Qt::ControlModifier);
    const bool shift = event.modifiers().testFlag(Qt::ShiftModifier);
    if (key == PhysicalKey::escape) {
        close();
        return true;
    }
    if (key == PhysicalKey::z && command && !shift) {
        undo();
        return true;
    }
    if ((key == PhysicalKey::z && command && shift) || (key == PhysicalKey::y && command)) {
        redo();
        return true;
    }
    return false;
}

void EditWindow::close() {
    QWidget::close();
}

void EditWindow::closeEvent(QCloseEvent* event) {
    if (!windowShouldClose()) {
        event->ignore();
        return;
    }
    if (editViewController)
        systemLog(QStringLiteral("Preparing edit window for close"));
    localEventMonitor.reset();
    event->accept();
    emit windowWillClose();
}

void EditWindow::undo() {
    if (editViewController && editViewController->canUndo())
        editViewController->performUndo();
}

void EditWindow::redo() {
    if (editViewController && editViewController->canRedo())
        editViewController->performRedo();
}

bool EditWindow::validateMenuItem(MenuAction action) const {
    switch (action) {
    case MenuAction::undo:
        return editViewController && editViewController->canUndo();
    case MenuAction::redo:
        return editViewController && editViewController->canRedo();
    case MenuAction::performClose:
    case MenuAction::other:
        return true;
    }
    return true;
}

bool EditWindow::respondsTo(MenuAction action) const {
    return action != MenuAction::other;
}

void EditWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        windowDidBecomeKey();
}

void EditWindow::windowDidBecomeKey() {
    MainQueue::async(this, [this] {
        raise();
        activateWindow();
        if (mainMenuUpdate())
            mainMenuUpdate()();
    });
}

void EditWindow::mousePressEvent(QMouseEvent* event) {
    // Presses that no child takes land here: the window moves by its background.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}
