#include "editor/EditWindow.h"

#include "editor/EditViewController.h"
#include "platform/ApplicationKeyMonitor.h"
#include "platform/KeyIdentity.h"
#include "platform/MainMenu.h"
#include "platform/MainScreen.h"
#include "platform/SystemLog.h"
#include "platform/WindowActivation.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int controlPanelHeight = 60;
const QColor editorBackground{17, 17, 17};

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
    // The application's menu sits above the editor and the window grows by it, so the
    // editor keeps the capture's size plus the control panel's room.
    if (QMenuBar* menuBar = MainMenu::menuBarFor(this)) {
        content->setMenuBar(menuBar);
        resize(fittedContentSize(QSize(width(), height() + menuBar->sizeHint().height()), screen));
    }
    content->addWidget(editViewController->view());
    // The content view takes the window's size now, not at the first show: the panel is
    // placed from the view's size on the next main-queue turn, which may come first.
    content->activate();

    setupKeyboardShortcuts();
    centerOnMainScreen(this);
}

QSize EditWindow::fittedContentSize(QSize content, const QScreen* screen) {
    if (!screen)
        return content;
    return content.boundedTo(screen->availableGeometry().size());
}

EditWindow::~EditWindow() {
    localEventMonitor.reset();
    // A running edit may still hold the controller; its view then outlives this window.
    if (editViewController)
        editViewController->detachViewFromWindow();
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
    WindowActivation::activateAndUpdateMainMenu(this);
}

void EditWindow::mousePressEvent(QMouseEvent* event) {
    // Presses that no child takes land here: the window moves by its background.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}
