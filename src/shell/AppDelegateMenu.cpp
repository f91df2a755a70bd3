// The main menu, its target-less items, and the tray icon.
#include "shell/AppDelegate.h"

#include "shell/SettingsWindow.h"
#include "shell/Updater.h"

#include "editor/EditWindow.h"
#include "platform/BundleInfo.h"
#include "platform/MainMenu.h"
#include "platform/MainScreen.h"
#include "platform/StatusItem.h"
#include "platform/SystemLog.h"

#include <QApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

namespace {

// A key equivalent is one character with Ctrl; an upper-case letter adds Shift.
QKeySequence keyEquivalent(const QString& key) {
    if (key.isEmpty())
        return {};
    const QChar character = key.front();
    if (character.isLetter() && character.isUpper())
        return QKeySequence(QStringLiteral("Ctrl+Shift+") + character);
    return QKeySequence(QStringLiteral("Ctrl+") + character.toUpper());
}

QString processName() {
    return QCoreApplication::applicationName();
}

// The text field with the keyboard focus, when it is one.
struct FocusedText {
    QLineEdit* line = nullptr;
    QTextEdit* rich = nullptr;
    QPlainTextEdit* plain = nullptr;

    static FocusedText current() {
        QWidget* focus = QApplication::focusWidget();
        // A field of a popover keeps the focus after the popover has closed; hidden, it can
        // take nothing.
        if (!focus || !focus->isVisible())
            return {};
        return {qobject_cast<QLineEdit*>(focus), qobject_cast<QTextEdit*>(focus),
                qobject_cast<QPlainTextEdit*>(focus)};
    }
    bool exists() const { return line || rich || plain; }
    bool readOnly() const {
        return line ? line->isReadOnly() : rich ? rich->isReadOnly() : plain->isReadOnly();
    }
    bool hasSelection() const {
        if (line)
            return line->hasSelectedText() && line->echoMode() == QLineEdit::Normal;
        return rich ? rich->textCursor().hasSelection() : plain->textCursor().hasSelection();
    }
    bool isEmpty() const {
        return line   ? line->text().isEmpty()
               : rich ? rich->document()->isEmpty()
                      : plain->document()->isEmpty();
    }
};

bool canClose(const QWidget* window) {
    return window && !window->windowFlags().testFlag(Qt::FramelessWindowHint) &&
           window->windowFlags().testFlag(Qt::WindowCloseButtonHint);
}

bool hasHint(const QWidget* window, Qt::WindowType hint) {
    return window && !window->windowFlags().testFlag(Qt::FramelessWindowHint) &&
           window->windowFlags().testFlag(hint);
}

} // namespace

void AppDelegate::orderFrontStandardAboutPanel() {
    if (!aboutPanel) {
        const BundleInfo& info = BundleInfo::main();
        const QString version = info.string(BundleInfo::shortVersionKey).value_or(QString());
        const QString build = info.string(BundleInfo::versionKey).value_or(QString());
        auto* panel = new QMessageBox();
        panel->setAttribute(Qt::WA_DeleteOnClose);
        panel->setWindowTitle(QStringLiteral("About ") + processName());
        panel->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
        panel->setText(QStringLiteral("<b>%1</b>").arg(processName().toHtmlEscaped()));
        panel->setInformativeText(
            QStringLiteral("Version %1 (%2)").arg(version.toHtmlEscaped(), build.toHtmlEscaped()));
        panel->setStandardButtons(QMessageBox::Ok);
        panel->setModal(false);
        aboutPanel = panel;
    }
    aboutPanel->show();
    aboutPanel->raise();
    aboutPanel->activateWindow();
}

void AppDelegate::setupMenuBar() {
    mainMenuRoot = std::make_unique<QMenu>(QStringLiteral("Main Menu"));
    QMenu* root = mainMenuRoot.get();

    QMenu* application = root->addMenu(processName());
    addTargetlessItem(application, QStringLiteral("About ") + processName(), {},
                      Selector::orderFrontStandardAboutPanel);
    application->addSeparator();
    addMenuItem(application, QStringLiteral("Check for Updates..."), QStringLiteral("u"),
                [this] { checkForUpdates(); });
    application->addSeparator();
    addMenuItem(application, QStringLiteral("Settings"), QStringLiteral("s"),
                [this] { showPreferences(); });
    application->addSeparator();
    addTargetlessItem(application, QStringLiteral("Quit ") + processName(), QStringLiteral("q"),
                      Selector::terminate);

    QMenu* file = root->addMenu(QStringLiteral("File"));
    addMenuItem(file, QStringLiteral("Take Screenshot"), QStringLiteral("n"),
                [this] { takeScreenshot(); });
    file->addSeparator();
    addTargetlessItem(file, QStringLiteral("Close Window"), QStringLiteral("w"),
                      Selector::performClose);

    QMenu* edit = root->addMenu(QStringLiteral("Edit"));
    addTargetlessItem(edit, QStringLiteral("Undo"), QStringLiteral("z"), Selector::undo);
    addTargetlessItem(edit, QStringLiteral("Redo"), QStringLiteral("Z"), Selector::redo);
    edit->addSeparator();
    addTargetlessItem(edit, QStringLiteral("Cut"), QStringLiteral("x"), Selector::cut);
    addTargetlessItem(edit, QStringLiteral("Copy"), QStringLiteral("c"), Selector::copy);
    addTargetlessItem(edit, QStringLiteral("Paste"), QStringLiteral("v"), Selector::paste);
    addTargetlessItem(edit, QStringLiteral("Select All"), QStringLiteral("a"), Selector::selectAll);

    QMenu* window = root->addMenu(QStringLiteral("Window"));
    addTargetlessItem(window, QStringLiteral("Minimize"), QStringLiteral("m"),
                      Selector::miniaturize);
    addTargetlessItem(window, QStringLiteral("Zoom"), {}, Selector::zoom);
    window->addSeparator();
    addTargetlessItem(window, QStringLiteral("Bring All to Front"), {}, Selector::arrangeInFront);

    QMenu* help = root->addMenu(QStringLiteral("Help"));
    addTargetlessItem(help, processName() + QStringLiteral(" Help"), QStringLiteral("?"),
                      Selector::showHelp);

    QList<QMenu*> menus;
    for (QAction* item : root->actions()) {
        menus.append(item->menu());
        // Items are checked against the active window whenever a menu opens.
        connect(item->menu(), &QMenu::aboutToShow, this, [this] { updateMainMenu(); });
    }
    MainMenu::setMenus(menus);
    MainMenu::setUpdateHandler([this] { updateMainMenu(); });
    // A shortcut of a disabled item passes its key on: keep the items current as the focus
    // moves between text fields and windows.
    connect(qApp, &QApplication::focusChanged, this, [this] { updateMainMenu(); });
    updateMainMenu();
}

QAction* AppDelegate::addMenuItem(QMenu* menu, const QString& title, const QString& key,
                                  std::function<void()> action) {
    QAction* item = menu->addAction(title);
    item->setShortcut(keyEquivalent(key));
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return item;
}

QAction* AppDelegate::addTargetlessItem(QMenu* menu, const QString& title, const QString& key,
                                        Selector selector) {
    QAction* item = addMenuItem(menu, title, key, [this, selector] { sendAction(selector); });
    targetlessItems.emplace(item, selector);
    return item;
}

void AppDelegate::updateMainMenu() {
    for (const auto& [item, selector] : targetlessItems)
        item->setEnabled(validateMenuItem(selector));
}

void AppDelegate::applicationDidBecomeActive() {
    MainMenu::update();
}

bool AppDelegate::validateMenuItem(Selector selector) const {
    QWidget* active = QApplication::activeWindow();
    auto* editor = qobject_cast<EditWindow*>(active);
    const FocusedText text = FocusedText::current();
    switch (selector) {
    case Selector::orderFrontStandardAboutPanel:
    case Selector::terminate:
    case Selector::arrangeInFront:
    case Selector::showHelp:
        return true;
    case Selector::performClose:
        return canClose(active);
    case Selector::undo:
        return editor && editor->validateMenuItem(EditWindow::MenuAction::undo);
    case Selector::redo:
        return editor && editor->validateMenuItem(EditWindow::MenuAction::redo);
    case Selector::cut:
        return text.exists() && !text.readOnly() && text.hasSelection();
    case Selector::copy:
        return text.exists() && text.hasSelection();
    case Selector::paste:
        return text.exists() && !text.readOnly();
    case Selector::selectAll:
        return text.exists() && !text.isEmpty();
    case Selector::miniaturize:
        return hasHint(active, Qt::WindowMinimizeButtonHint);
    case Selector::zoom:
        return hasHint(active, Qt::WindowMaximizeButtonHint);
    }
    return false;
}

void AppDelegate::sendAction(Selector selector) {
    // A shortcut can fire with a stale enabled state: check again before acting.
    if (!validateMenuItem(selector))
        return;
    QWidget* active = QApplication::activeWindow();
    const FocusedText text = FocusedText::current();
    const auto onText = [&text](auto&& action) {
        if (text.line)
            action(*text.line);
        else if (text.rich)
            action(*text.rich);
        else if (text.plain)
            action(*text.plain);
    };
    switch (selector) {
    case Selector::orderFrontStandardAboutPanel:
        orderFrontStandardAboutPanel();
        break;
    case Selector::terminate:
        QCoreApplication::quit();
        break;
    case Selector::performClose:
        if (auto* editor = qobject_cast<EditWindow*>(active))
            editor->close();
        else
            active->close();
        break;
    case Selector::undo:
        qobject_cast<EditWindow*>(active)->undo();
        break;
    case Selector::redo:
        qobject_cast<EditWindow*>(active)->redo();
        break;
    case Selector::cut:
        onText([](auto& field) { field.cut(); });
        break;
    case Selector::copy:
        onText([](auto& field) { field.copy(); });
        break;
    case Selector::paste:
        onText([](auto& field) { field.paste(); });
        break;
    case Selector::selectAll:
        onText([](auto& field) { field.selectAll(); });
        break;
    case Selector::miniaturize:
        active->showMinimized();
        break;
    case Selector::zoom:
        if (active->isMaximized())
            active->showNormal();
        else
            active->showMaximized();
        break;
    case Selector::arrangeInFront:
        for (QWidget* window :
             {static_cast<QWidget*>(settingsWindow.get()), static_cast<QWidget*>(editWindow.get())})
            if (window && window->isVisible())
                window->raise();
        break;
    case Selector::showHelp:
        showHelp();
        break;
    }
}

void AppDelegate::attachMainMenu(QWidget* window) {
    QLayout* layout = window->layout();
    QMenuBar* bar = layout ? MainMenu::menuBarFor(window) : nullptr;
    if (!bar) {
        window->addActions(MainMenu::allActions());
        return;
    }
    // The window grows by the bar so that its content keeps its size.
    const int barHeight = bar->sizeHint().height();
    layout->setMenuBar(bar);
    window->resize(window->width(), window->height() + barHeight);
}

void AppDelegate::showPreferences() {
    if (!settingsWindow) {
        settingsWindow = std::make_unique<SettingsWindow>();
        attachMainMenu(settingsWindow.get());
        // The window centred itself when made; the menu bar grows it once its layout runs.
        settingsWindow->layout()->activate();
        centerOnMainScreen(settingsWindow.get());
    }
    settingsWindow->show();
    settingsWindow->raise();
    settingsWindow->activateWindow();
}

void AppDelegate::showHelp() {
    systemLog(QStringLiteral("Show help"));
}

void AppDelegate::checkForUpdates() {
    updater->checkForUpdates();
}

void AppDelegate::setupStatusBarItem() {
    statusItemMenu = std::make_unique<QMenu>();
    addMenuItem(statusItemMenu.get(), QStringLiteral("Take Screenshot"), {},
                [this] { takeScreenshot(); });
    statusItemMenu->addSeparator();
    addMenuItem(statusItemMenu.get(), QStringLiteral("Settings"), {},
                [this] { showPreferences(); });
    statusItemMenu->addSeparator();
    addMenuItem(statusItemMenu.get(), QStringLiteral("Quit"), {}, [] { QCoreApplication::quit(); });
    statusItem = std::make_unique<StatusItem>(statusIcon(), statusItemMenu.get(),
                                              [this] { statusItemClicked(); });
}

void AppDelegate::statusItemClicked() {
    // A right click opens the tray menu without coming here; this is the left click.
    if (isCapturingScreen)
        return;
    if (editWindow)
        editWindow->close();
    if (settingsWindow)
        settingsWindow->close();
    takeScreenshot();
}
