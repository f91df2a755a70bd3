#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <memory>

class ApplicationKeyMonitor;
class EditViewController;
class QKeyEvent;
class QScreen;

// The editor's window, one per capture: the capture's size plus room for the control panel,
// centred on the screen. It routes the editor's keys and the main menu's Undo, Redo and
// Close Window to its view controller. Closing does not delete it; its owner decides.
class EditWindow : public QWidget {
    Q_OBJECT
public:
    // The main menu's target-less actions that reach the active editor window.
    enum class MenuAction { undo, redo, performClose, other };

    EditWindow(const QImage& screenshot, const QRectF& frame);
    ~EditWindow() override;

    // Shared with a running edit, which keeps the controller until its result is handled.
    std::shared_ptr<EditViewController> editViewController;

    void close();
    void undo();
    void redo();
    bool validateMenuItem(MenuAction action) const;
    bool respondsTo(MenuAction action) const;
    bool windowShouldClose() const { return true; }
    bool hasKeyMonitor() const { return localEventMonitor != nullptr; }

signals:
    // The window is about to close: after this it is never shown again.
    void windowWillClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // What the editor's keys ask for.
    enum class KeyCommand { none, close, closeMenu, undo, redo };

    static QSize fittedContentSize(QSize content, const QScreen* screen);
    void setupKeyboardShortcuts();
    static KeyCommand keyCommandFor(const QKeyEvent& event);
    // The menu or pop-up list that is open, if one is.
    static QWidget* openMenu();
    bool handleKeyDown(const QKeyEvent& event);
    void windowDidBecomeKey();
    // The separate windows the editor opened: popovers, alerts, the colour dialog, menus.
    QList<QWidget*> ownedWindows() const;
    void closeOwnedWindows();
    void raiseOwnedWindows();
    void regainKeyFocus();

    std::unique_ptr<ApplicationKeyMonitor> localEventMonitor;
};
