#include "editor/EditWindow.h"

#include "editor/EditViewController.h"
#include "editor/Popover.h"
#include "platform/ApplicationKeyMonitor.h"
#include "platform/KeyIdentity.h"
#include "platform/MainMenu.h"
#include "platform/MainQueue.h"
#include "platform/MainScreen.h"
#include "platform/SystemLog.h"

#include <QApplication>
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
    // Sees the owned windows close, wherever they were created.
    qApp->installEventFilter(this);
    centerOnMainScreen(this);
}

QSize EditWindow::fittedContentSize(QSize content, const QScreen* screen) {
    if (!screen)
        return content;
    return content.boundedTo(screen->availableGeometry().size());
}

EditWindow::~EditWindow() {
    localEventMonitor.reset();
    closeOwnedWindows();
    // A running edit may still hold the controller; its view then outlives this window.
    if (editViewController)
        editViewController->detachViewFromWindow();
}

void EditWindow::setupKeyboardShortcuts() {
    QPointer<EditWindow> weakWindow(this);
    localEventMonitor = ApplicationKeyMonitor::addLocalMonitorForKeyDown(
        [weakWindow](QKeyEvent& event) { return weakWindow && weakWindow->handleKeyDown(event); },
        // The keys are recognised by position, the menu's shortcuts by the letter a key
        // carries: on layouts where these disagree a shortcut would otherwise take the
        // editor's key, and the editor must claim it first.
        [weakWindow](const QKeyEvent& event) {
            return weakWindow && keyCommandFor(event) != KeyCommand::none;
        });
}

EditWindow::KeyCommand EditWindow::keyCommandFor(const QKeyEvent& event) {
    const PhysicalKey key = KeyIdentity::fromEvent(event);
    const bool command = event.modifiers().testFlag(Qt::ControlModifier);
    const bool shift = event.modifiers().testFlag(Qt::ShiftModifier);
    if (key == PhysicalKey::escape)
        return openMenu() ? KeyCommand::closeMenu : KeyCommand::close;
    if (key == PhysicalKey::z && command)
        return shift ? KeyCommand::redo : KeyCommand::undo;
    if (key == PhysicalKey::y && command)
        return KeyCommand::redo;
    return KeyCommand::none;
}

QWidget* EditWindow::openMenu() {
    // The editor's popovers are popups too, but they are windows of the editor, which Escape
    // closes; any other popup is a menu or the list of a pop-up button.
    QWidget* popup = QApplication::activePopupWidget();
    return qobject_cast<Popover*>(popup) ? nullptr : popup;
}

bool EditWindow::handleKeyDown(const QKeyEvent& event) {
    switch (keyCommandFor(event)) {
    case KeyCommand::close:
        close();
        return true;
    case KeyCommand::closeMenu:
        // Closed here, as a click outside closes it, rather than left to the menu: a list
        // that closes on Escape hands the press on to its window, where it would be seen as
        // an Escape in the editor's windows.
        openMenu()->close();
        return true;
    case KeyCommand::undo:
        undo();
        return true;
    case KeyCommand::redo:
        redo();
        return true;
    case KeyCommand::none:
        return false;
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
    // Nothing of a closed editor stays open or usable: its popovers, alerts, colour dialog
    // and menus close with it.
    closeOwnedWindows();
    emit windowWillClose();
}

QList<QWidget*> EditWindow::ownedWindows() const {
    QList<QWidget*> owned;
    for (QWidget* candidate : QApplication::topLevelWidgets()) {
        for (QWidget* up = candidate->parentWidget(); up; up = up->parentWidget())
            if (up == this) {
                owned.append(candidate);
                break;
            }
    }
    return owned;
}

void EditWindow::closeOwnedWindows() {
    QList<QPointer<QWidget>> open;
    for (QWidget* owned : ownedWindows())
        if (owned->isVisible())
            open.append(owned);
    for (const QPointer<QWidget>& owned : open) {
        if (owned)
            owned->close();
        // A dialog may refuse to close; the editor is gone either way.
        if (owned && owned->isVisible())
            owned->hide();
    }
}

void EditWindow::raiseOwnedWindows() {
    for (QWidget* owned : ownedWindows())
        if (owned->isVisible())
            owned->raise();
}

bool EditWindow::eventFilter(QObject* watched, QEvent* event) {
    // When one of its windows closes, X hands the keyboard focus to the root window; the
    // editor takes it back so that its keys keep working wherever the pointer is.
    if (event->type() == QEvent::Hide && watched != this && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && ownedWindows().contains(widget))
            MainQueue::async(this, [this] { regainKeyFocus(); });
    }
    return QWidget::eventFilter(watched, event);
}

void EditWindow::regainKeyFocus() {
    if (!isVisible() || QApplication::activePopupWidget() || QApplication::activeModalWidget())
        return;
    for (QWidget* owned : ownedWindows())
        if (owned->isVisible() && owned->isActiveWindow())
            return; // another window of the editor has the focus
    activateWindow();
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
    // Not the shared raise-and-activate of the other windows: the editor is key already, and
    // raising it here would cover a popover or alert it showed since. Those go back on top.
    MainQueue::async(this, [this] {
        if (!isActiveWindow() && !QApplication::activePopupWidget())
            activateWindow();
        raiseOwnedWindows();
        MainMenu::update();
    });
}

void EditWindow::mousePressEvent(QMouseEvent* event) {
    // Presses that no child takes land here: the window moves by its background.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}
