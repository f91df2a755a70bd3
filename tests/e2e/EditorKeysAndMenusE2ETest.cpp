// The editor's keys on a real X server, with the application shell's main menu around the
// editor as Pixaloom runs it: the undo and redo chords by key position on several keyboard
// layouts, Escape while one of the editor's menus or lists is open, and the Edit menu's items
// for the text fields of the editor's popovers.
#include "shell/AppDelegate.h"

#include "editor/ControlPanel.h"
#include "editor/EditViewController.h"
#include "editor/EditWindow.h"
#include "editor/Popover.h"
#include "editor/ToolbarButton.h"
#include "platform/MainMenu.h"
#include "platform/UserDefaults.h"
#include "KeyboardLayout.h"
#include "ScreenTestTools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

namespace {

QImage capture() {
    QImage image(600, 400, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(40, 120, 90));
    return image;
}

void collectActions(const QMenu* menu, QList<QAction*>& into) {
    for (QAction* action : menu->actions()) {
        if (action->menu())
            collectActions(action->menu(), into);
        else if (!action->isSeparator())
            into.append(action);
    }
}

// The X keycode of every key press the application sees, before any shortcut can take it.
class PressedKeycodes : public QObject {
public:
    PressedKeycodes() { qApp->installEventFilter(this); }
    ~PressedKeycodes() override { qApp->removeEventFilter(this); }
    QList<quint32> codes;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // Every press is offered to the shortcuts first, once, unless a sequence is under way.
        if (event->type() == QEvent::ShortcutOverride) {
            const quint32 code = static_cast<QKeyEvent*>(event)->nativeScanCode();
            if (codes.isEmpty() || codes.last() != code)
                codes.append(code);
        }
        return false;
    }
};

struct EditorInTheShell : ::testing::Test {
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        UserDefaults::standard()->clear();
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->showEditWindow(capture(), QRectF(300, 200, 600, 400));
        ASSERT_TRUE(delegate->editWindow);
        editor = delegate->editWindow.get();
        if (!QTest::qWaitForWindowActive(editor, 2000)) {
            // A window manager may keep the focus where the last input went and refuse an
            // application's own request; a taskbar's request, as a user's click there sends,
            // it honours.
            runToolToItsEnd(QStringLiteral("xdotool"),
                            {QStringLiteral("windowactivate"), QString::number(editor->winId())});
        }
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor, screenTestTimeoutMs));
        panel = editor->findChild<ControlPanel*>();
        ASSERT_NE(panel, nullptr);
        QTest::qWait(400); // the panel's appearance
        collectActions(delegate->mainMenu(), menuItems);
        ASSERT_FALSE(menuItems.isEmpty());
    }
    void TearDown() override {
        delegate.reset();
        QTest::qWait(100);
        UserDefaults::standard()->clear();
        xdotool({"mousemove", "960", "1000"});
    }

    // Three entries, the last one shown.
    void makeThreeHistoryEntries() {
        auto& controller = *editor->editViewController;
        controller.controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
            nullptr, Qt::white, 10, 10);
        controller.controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
            nullptr, Qt::black, 20, 20);
        ASSERT_EQ(shownEntry(), 2);
        MainMenu::update();
    }
    // Which of three entries is shown: the newest has nothing to redo, the oldest nothing
    // to undo.
    int shownEntry() const {
        const auto& controller = *editor->editViewController;
        return !controller.canUndo() ? 0 : controller.canRedo() ? 1 : 2;
    }
    void showEntry(int entry) {
        while (shownEntry() > entry)
            editor->undo();
        while (shownEntry() < entry)
            editor->redo();
        // The menu's items follow, as they do after any step the user takes.
        MainMenu::update();
    }
    bool editorIsOpen() const { return delegate->editWindow && delegate->editWindow->isVisible(); }

    // Sends keys as a user types them, to the window with the keyboard focus.
    static void type(const QString& keys) {
        xdotool({"key", "--clearmodifiers", keys});
        QTest::qWait(150);
    }

    // Whether X shows the window; one that no longer exists is not drawn.
    static bool isDrawn(WId window) {
        const ToolRun info = runToolToItsEnd("xwininfo", {"-id", QString::number(window)});
        return info.succeeded && info.output.contains("IsViewable");
    }
    void expectEscapeClosesOnly(QWidget* popup) {
        const WId popupWindow = popup->winId();
        ASSERT_TRUE(isDrawn(popupWindow));
        type(QStringLiteral("Escape"));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return QApplication::activePopupWidget() != popup; }, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !isDrawn(popupWindow); }, 5000))
            << "the menu is still drawn";
        QTest::qWait(200);
        EXPECT_TRUE(editorIsOpen());
    }
    QWidget* waitForPopup() {
        QWidget* popup = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return (popup = QApplication::activePopupWidget()) != nullptr; }, 5000));
        if (popup) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(popup, screenTestTimeoutMs));
        }
        return popup;
    }
    void escapeClosesTheEditor() {
        type(QStringLiteral("Escape"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editorIsOpen(); }, 5000));
    }
    void openPromptPopover() {
        clickAt(centreOf(panel->editButton));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return panel->promptPopover && panel->promptPopover->isShown(); }, 5000));
        QTest::qWait(200);
    }
    QAction* menuItem(const QString& title) const {
        return *std::ranges::find(menuItems, title, &QAction::text);
    }
    // Opens a menu of the editor's menu bar as a user does, with a click on its title.
    QWidget* openMenuOfTheBar(const QString& title) {
        auto* bar = editor->findChild<QMenuBar*>();
        const QList<QAction*> titles = bar->actions();
        QAction* menu = *std::ranges::find(titles, title, &QAction::text);
        clickAt(bar->mapToGlobal(bar->actionGeometry(menu).center()));
        QWidget* popup = waitForPopup();
        EXPECT_EQ(popup, menu->menu());
        return popup;
    }

    QTemporaryDir settingsFolder;
    std::unique_ptr<AppDelegate> delegate;
    EditWindow* editor = nullptr;
    ControlPanel* panel = nullptr;
    QList<QAction*> menuItems;
};

struct EditorKeys : EditorInTheShell {};
// Escape while a menu or list of the editor is open closes that menu and nothing else; the
// menu is gone from the screen, and the editor still answers Escape afterwards.
struct EscapeInAMenu : EditorInTheShell {};
struct EditMenuItems : EditorInTheShell {};

// Keycodes of the keys at the Z and Y positions of a US keyboard.
constexpr quint32 zPosition = 52, yPosition = 29;

TEST_F(EditorKeys, UndoAndRedoFollowTheKeysPositionsOnEveryLayoutAndNoMenuItemFires) {
    makeThreeHistoryEntries();
    // The letters the layouts put at the Z and Y positions.
    const struct Layout {
        const char* name;
        const char* atZ;
        const char* atY;
    } layouts[] = {{"us", "z", "y"}, {"de", "y", "z"}, {"fr", "w", "y"}};
    const struct Case {
        const char* modifiers;
        bool zKey;
        int from, to;
    } cases[] = {
        {"ctrl+", true, 2, 1},       {"ctrl+", true, 0, 0},  {"ctrl+alt+", true, 1, 0},
        {"ctrl+shift+", true, 1, 2}, {"ctrl+", false, 1, 2}, {"ctrl+shift+", false, 0, 1},
        {"ctrl+", false, 2, 2},
    };
    for (const Layout& layout : layouts) {
        KeyboardLayout keyboard(QString::fromLatin1(layout.name));
        for (const Case& c : cases) {
            const QString keys =
                QString::fromLatin1(c.modifiers) + (c.zKey ? layout.atZ : layout.atY);
            SCOPED_TRACE(QStringLiteral("%1 on %2").arg(keys, layout.name).toStdString());
            showEntry(c.from);
            std::vector<std::unique_ptr<QSignalSpy>> fired;
            for (QAction* item : menuItems)
                fired.push_back(std::make_unique<QSignalSpy>(item, &QAction::triggered));
            PressedKeycodes pressed;
            type(keys);
            const quint32 expected = c.zKey ? zPosition : yPosition;
            EXPECT_TRUE(pressed.codes.contains(expected)) << "the key was not at its position";
            ASSERT_TRUE(editorIsOpen());
            EXPECT_EQ(shownEntry(), c.to);
            for (size_t item = 0; item < fired.size(); ++item) {
                EXPECT_EQ(fired[item]->count(), 0)
                    << menuItems[int(item)]->text().toStdString() << " fired";
            }
        }
    }
}

TEST_F(EditorKeys, AMenuShortcutOnAKeyTheEditorDoesNotClaimStillWorks) {
    makeThreeHistoryEntries();
    // On AZERTY the key labelled Z sits where US keyboards have W: the editor leaves it to
    // the menu, whose Undo it is.
    KeyboardLayout azerty(QStringLiteral("fr"));
    QAction* undo = menuItem(QStringLiteral("Undo"));
    QSignalSpy fired(undo, &QAction::triggered);
    type(QStringLiteral("ctrl+z"));
    EXPECT_EQ(fired.count(), 1);
    EXPECT_EQ(shownEntry(), 1);
    ASSERT_TRUE(editorIsOpen());
}

TEST_F(EscapeInAMenu, OfTheMenuBar) {
    for (const char* title : {"File", "Edit"}) {
        SCOPED_TRACE(title);
        QWidget* popup = openMenuOfTheBar(QString::fromLatin1(title));
        ASSERT_TRUE(popup);
        expectEscapeClosesOnly(popup);
        EXPECT_FALSE(QApplication::activePopupWidget());
        if (HasFailure())
            return;
    }
    escapeClosesTheEditor();
}

TEST_F(EscapeInAMenu, OfTheShareButton) {
    clickAt(centreOf(panel->shareButton));
    QWidget* popup = waitForPopup();
    ASSERT_TRUE(qobject_cast<QMenu*>(popup));
    expectEscapeClosesOnly(popup);
    EXPECT_FALSE(QApplication::activePopupWidget());
    escapeClosesTheEditor();
}

TEST_F(EscapeInAMenu, OfTheThemesInThePromptPopover) {
    openPromptPopover();
    ASSERT_FALSE(HasFailure());
    clickAt(centreOf(panel->promptThemeSelector));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return panel->promptThemeSelector->view()->isVisible(); }, 5000));
    QWidget* list = panel->promptThemeSelector->view()->window();
    ASSERT_NE(list, panel->promptPopover.data());
    expectEscapeClosesOnly(list);
    // The popover is a window of the editor, not a menu: Escape there closes the editor.
    EXPECT_EQ(QApplication::activePopupWidget(), panel->promptPopover.data());
    escapeClosesTheEditor();
}

TEST_F(EditMenuItems, PasteAndSelectAllWantAFieldThatIsShown) {
    openPromptPopover();
    ASSERT_FALSE(HasFailure());
    type(QStringLiteral("a"));
    MainMenu::update();
    EXPECT_TRUE(menuItem(QStringLiteral("Paste"))->isEnabled());
    EXPECT_TRUE(menuItem(QStringLiteral("Select All"))->isEnabled());

    // A click beside the popover closes it; its field, with its text, is gone from the screen.
    clickAt(editor->mapToGlobal(QPoint(40, editor->height() - 40)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->promptPopover->isShown(); }, 5000));
    QTest::qWait(200);
    QWidget* menu = openMenuOfTheBar(QStringLiteral("Edit"));
    ASSERT_TRUE(menu);
    for (const char* title : {"Cut", "Copy", "Paste", "Select All"})
        EXPECT_FALSE(menuItem(QString::fromLatin1(title))->isEnabled()) << title;
    type(QStringLiteral("Escape"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, 5000));
}

} // namespace
