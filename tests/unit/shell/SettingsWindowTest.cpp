#include "shell/SettingsWindow.h"

#include "editor/EditWindow.h"
#include "editor/VisualEffectView.h"
#include "platform/MainMenu.h"
#include "platform/UserDefaults.h"

#include "LogCapture.h"
#include "TemporarySettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

#include <cmath>
#include <string_view>

#include <gtest/gtest.h>

using namespace std::literals;

namespace {

const QString settingsLog = QStringLiteral("com.app.pixaloom.SettingsWindow");

// The file as the user's configuration folder holds it.
QString settingsFile(const TemporarySettings& settings) {
    return settings.path() + QStringLiteral("/Pixaloom/Pixaloom.conf");
}

// Writes the file as a person editing it by hand would.
void writeSettingsText(const TemporarySettings& settings, const QByteArray& text) {
    QDir().mkpath(settings.path() + QStringLiteral("/Pixaloom"));
    QFile file(settingsFile(settings));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray settingsText(const TemporarySettings& settings) {
    QFile file(settingsFile(settings));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void clickCheckbox(SettingsWindow& window) {
    QTest::mouseClick(window.autoCopyCheckbox, Qt::LeftButton, Qt::NoModifier,
                      QPoint(8, window.autoCopyCheckbox->height() / 2));
}

TEST(SettingsWindow, IsAFixedTitledClosableWindowWithTheCheckboxInsetInADarkContainer) {
    TemporarySettings settings;
    SettingsWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(window.windowTitle(), "Pixaloom Settings");
    EXPECT_EQ(window.size(), QSize(400, 200));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "not resizable";
    EXPECT_EQ(window.containerView->geometry(), window.rect());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QPoint offCentre = window.geometry().center() - window.screen()->geometry().center();
    // Centred before the frame is known: off by at most the frame's margins.
    EXPECT_LE(offCentre.manhattanLength(), 8);

    const QColor fill = window.containerView->fillColor();
    EXPECT_LT(fill.lightness(), 60) << "dark";
    EXPECT_GT(window.containerView->palette().color(QPalette::WindowText).lightness(), 180)
        << "the label stays readable on the dark fill";

    ASSERT_NE(window.autoCopyCheckbox, nullptr);
    EXPECT_EQ(window.autoCopyCheckbox->text(), "Automatically copy to clipboard");
    EXPECT_EQ(window.autoCopyCheckbox->parentWidget(), window.containerView);
    const QRect box = window.autoCopyCheckbox->geometry();
    EXPECT_EQ(box.topLeft(), QPoint(20, 20));
    EXPECT_LE(box.x() + box.width(), window.containerView->width() - 20);

    // What a user sees: the fill around the checkbox is the container's dark colour.
    const QImage shown = window.grab().toImage();
    EXPECT_EQ(shown.pixelColor(5, 5), fill);
    EXPECT_EQ(shown.pixelColor(390, 190), fill);

    window.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window.isVisible()) << "closed, and still ours to delete";
}

// The relative luminance contrast of two colours, 1 (none) to 21 (black on white).
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double lighter = std::max(luminance(a), luminance(b));
    const double darker = std::min(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

TEST(SettingsWindow, TheTickOfTheTickedCheckboxReadsClearlyOnItsBox) {
    TemporarySettings settings;
    SettingsWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCheckBox* checkbox = window.autoCopyCheckbox;
    checkbox->setChecked(false);
    const QImage unticked = checkbox->grab().toImage();
    checkbox->setChecked(true);
    const QImage ticked = checkbox->grab().toImage();
    ASSERT_EQ(ticked.size(), unticked.size());

    // The tick is what ticking changes inside the box; the box's own fill is what it covers.
    QColor strongest;
    double strongestContrast = 1;
    QColor boxFill;
    for (int y = 0; y < ticked.height(); ++y) {
        for (int x = 0; x < ticked.width(); ++x) {
            if (ticked.pixel(x, y) == unticked.pixel(x, y))
                continue;
            const double c = contrast(ticked.pixelColor(x, y), unticked.pixelColor(x, y));
            if (c > strongestContrast) {
                strongestContrast = c;
                strongest = ticked.pixelColor(x, y);
                boxFill = unticked.pixelColor(x, y);
            }
        }
    }
    ASSERT_TRUE(strongest.isValid()) << "ticking changes what is drawn";
    EXPECT_GE(strongestContrast, 4.5)
        << "tick " << strongest.name().toStdString() << " on box " << boxFill.name().toStdString();
    EXPECT_GE(contrast(boxFill, window.containerView->fillColor()), 3.0)
        << "the box stands out from the dark window";
}

TEST(SettingsWindow, AMenuBarAboveTheContentGrowsTheWindowNotTheContent) {
    TemporarySettings settings;
    QMenu file(QStringLiteral("File"));
    file.addAction(QStringLiteral("Take Screenshot"));
    MainMenu::setMenus({&file});
    SettingsWindow window;
    QMenuBar* bar = MainMenu::menuBarFor(&window);
    window.layout()->setMenuBar(bar);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    MainMenu::setMenus({});

    EXPECT_EQ(window.containerView->size(), QSize(400, 200));
    EXPECT_EQ(window.containerView->y(), bar->height());
    EXPECT_EQ(window.size(), QSize(400, 200 + bar->height()));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "still not resizable";
}

TEST(SettingsWindow, ReadsTheStoredSettingOnceWhenMade) {
    const struct {
        std::string_view file;
        bool checked;
    } cases[] = {
        {"", false},
        {"[General]\nPixaloomAutoCopy=true\n", true},
        {"[General]\nPixaloomAutoCopy=false\n", false},
        {"[General]\nPixaloomAutoCopy=1\n", true},
        // Garbage a person or another program left: off, as when absent.
        {"[General]\nPixaloomAutoCopy=banana\n", false},
        {"[General]\nPixaloomAutoCopy=@ByteArray(\\xff)\n", false},
        {"\xff\xfe\x00garbage[[[=\n=\n"sv, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TemporarySettings settings;
        writeSettingsText(settings, QByteArray(c.file.data(), qsizetype(c.file.size())));
        SettingsWindow window;
        EXPECT_EQ(window.autoCopyCheckbox->isChecked(), c.checked);
        EXPECT_EQ(UserDefaults::boolForKey(UserDefaults::autoCopyKey), c.checked)
            << "the editor reads the same value";

        // Changed elsewhere while open: not reflected until a new window is made.
        settings.setAutoCopy(!c.checked);
        window.show();
        window.hide();
        window.show();
        EXPECT_EQ(window.autoCopyCheckbox->isChecked(), c.checked);
        SettingsWindow next;
        EXPECT_EQ(next.autoCopyCheckbox->isChecked(), !c.checked);
    }
}

TEST(SettingsWindow, AnUnwritableFileIsReportedAndTheSettingHoldsForThisRun) {
    // Made so that even root cannot write the file.
    const struct {
        const char* name;
        QString obstacle;
        bool isFolder;
    } cases[] = {
        {"the file is a folder", QStringLiteral("/Pixaloom/Pixaloom.conf"), true},
        {"its folder is a file", QStringLiteral("/Pixaloom"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporarySettings settings;
        const QString obstacle = settings.path() + c.obstacle;
        if (c.isFolder)
            QDir().mkpath(obstacle);
        else
            QFile(obstacle).open(QIODevice::WriteOnly);
        SettingsWindow window;
        EXPECT_FALSE(window.autoCopyCheckbox->isChecked());
        LogCapture logs;
        window.autoCopyCheckbox->click();

        const QString expectedError =
            QStringLiteral("Could not save the auto-copy setting: %1 cannot be written")
                .arg(settingsFile(settings));
        EXPECT_EQ(logs.messages(settingsLog),
                  QStringList({expectedError, "Auto-copy setting changed to: true"}));
        for (const auto& record : logs.records())
            if (record.category == settingsLog)
                EXPECT_EQ(record.type, record.message == expectedError ? QtCriticalMsg : QtInfoMsg);
        EXPECT_TRUE(UserDefaults::boolForKey(UserDefaults::autoCopyKey))
            << "an editor opened in this run still copies";

        // Once the file can be written again, the next toggle is saved and the file rules.
        if (c.isFolder)
            QDir(obstacle).removeRecursively();
        else
            QFile::remove(obstacle);
        logs.clear();
        window.autoCopyCheckbox->click();
        EXPECT_EQ(logs.messages(settingsLog), QStringList{"Auto-copy setting changed to: false"});
        EXPECT_TRUE(settingsText(settings).contains("PixaloomAutoCopy=false"));
        // A click where a person clicks toggles it as well, and the file follows.
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        clickCheckbox(window);
        EXPECT_TRUE(settingsText(settings).contains("PixaloomAutoCopy=true"));
        writeSettingsText(settings, "[General]\nPixaloomAutoCopy=false\n");
        EXPECT_FALSE(UserDefaults::boolForKey(UserDefaults::autoCopyKey));
    }
}

TEST(WindowActivation, EachOfOurWindowsComesForwardAndUpdatesTheMenuWhenActivated) {
    TemporarySettings settings;
    int menuUpdates = 0;
    MainMenu::setUpdateHandler([&menuUpdates] { ++menuUpdates; });
    QImage capture(40, 30, QImage::Format_ARGB32_Premultiplied);
    capture.fill(Qt::gray);
    const std::vector<std::pair<const char*, std::function<std::unique_ptr<QWidget>()>>> windows{
        {"settings",
         [] {
             return std::make_unique<SettingsWindow>();
         }},
        {"editor",
         [&capture] {
             return std::make_unique<EditWindow>(capture, QRectF(0, 0, 40, 30));
         }},
    };
    for (const auto& [name, make] : windows) {
        SCOPED_TRACE(name);
        menuUpdates = 0;
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return other.isActiveWindow(); }));
        auto window = make();
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return menuUpdates == 1; }));
        EXPECT_TRUE(window->isActiveWindow());
    }
    MainMenu::setUpdateHandler({});
}

} // namespace
