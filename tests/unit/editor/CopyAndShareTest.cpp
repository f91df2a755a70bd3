#include "EditViewControllerInspector.h"

#include "editor/SharingServicePicker.h"

#include "LogCapture.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace editor_test;
using Inspector = EditViewControllerInspector;

namespace {

const QString controllerLog = QStringLiteral("com.app.pixaloom.EditViewController");

// What another application would paste now: the PNG's image, or a null image.
QImage clipboardImage() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasFormat("image/png"))
        return {};
    return QImage::fromData(data->data("image/png"), "PNG");
}

void putTextOnClipboard() {
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
}

bool clipboardStillHoldsText() {
    return QGuiApplication::clipboard()->text() == "kept";
}

TEST(AutoCopy, OpeningCopiesTheUnscaledCaptureOnlyWhenOn) {
    // Larger than the screen allows: the history gets a scaled copy, the clipboard the original.
    const QSize screenSize = QGuiApplication::primaryScreen()->geometry().size();
    const QImage capture = solidImage(screenSize.width() * 2, screenSize.height() * 2, Qt::red);
    for (bool on : {false, true}) {
        SCOPED_TRACE(on);
        TemporarySettings settings;
        settings.setAutoCopy(on);
        putTextOnClipboard();
        LogCapture logs;
        auto controller = makeController(capture);
        if (!on) {
            EXPECT_TRUE(clipboardStillHoldsText());
            EXPECT_TRUE(logs.messages(controllerLog).filter("Auto-copied").isEmpty());
            continue;
        }
        EXPECT_EQ(clipboardImage().size(), capture.size());
        EXPECT_LT(Inspector::history(*controller).front().width(), capture.width());
        EXPECT_TRUE(
            logs.messages(controllerLog).contains("Auto-copied initial screenshot to clipboard"));
    }
}

TEST(AutoCopy, ReadsTheApplicationsSettingsFileWhateverTheProgramIsCalled) {
    TemporarySettings settings;
    const QString organization = QCoreApplication::organizationName();
    QCoreApplication::setOrganizationName(QStringLiteral("Some Other Program"));
    // The file as the settings window leaves it, under the user's configuration folder.
    QSettings written(settings.path() + "/Pixaloom/Pixaloom.conf", QSettings::IniFormat);
    written.setValue("PixaloomAutoCopy", true);
    written.sync();
    putTextOnClipboard();
    auto controller = makeController(solidImage(30, 20, Qt::green));
    QCoreApplication::setOrganizationName(organization);
    EXPECT_EQ(clipboardImage().size(), QSize(30, 20));
}

TEST(AutoCopy, UndoAndRedoCopyTheShownEntryWhileTheSettingIsOn) {
    TemporarySettings settings;
    auto controller = makeController(solidImage(50, 40, entryColor(0)));
    Inspector::addToHistory(*controller, solidImage(50, 40, entryColor(1)));
    putTextOnClipboard();
    controller->performUndo();
    EXPECT_TRUE(clipboardStillHoldsText()) << "off: nothing copied";

    settings.setAutoCopy(true); // switched on while the editor is open
    LogCapture logs;
    controller->performRedo();
    EXPECT_EQ(clipboardImage().pixelColor(0, 0), entryColor(1));
    controller->performUndo();
    EXPECT_EQ(clipboardImage().pixelColor(0, 0), entryColor(0));
    EXPECT_EQ(logs.messages(controllerLog).filter("Auto-copied image to clipboard").size(), 2);

    putTextOnClipboard();
    controller->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        Inspector::panel(*controller), Qt::blue, 5, 5);
    EXPECT_TRUE(clipboardStillHoldsText()) << "background changes are not copied";
}

TEST(Copy, CopiesTheShownImageWhateverTheSetting) {
    TemporarySettings settings;
    auto controller = makeController(solidImage(30, 20, Qt::green));
    LogCapture logs;
    putTextOnClipboard();
    controller->controlPanelDidClickCopy(Inspector::panel(*controller));
    EXPECT_EQ(clipboardImage().size(), QSize(30, 20));
    EXPECT_EQ(clipboardImage().pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(logs.messages(controllerLog), QStringList{"Image copied to clipboard successfully"});
}

TEST(Copy, WithoutAnImageCopyAndShareOnlyLogAnError) {
    TemporarySettings settings;
    auto controller = makeController(QImage());
    LogCapture logs;
    putTextOnClipboard();
    controller->controlPanelDidClickCopy(Inspector::panel(*controller));
    controller->controlPanelDidClickShare(Inspector::panel(*controller));
    EXPECT_TRUE(clipboardStillHoldsText());
    EXPECT_EQ(logs.messages(controllerLog),
              QStringList({"No image available to copy", "No image available to share"}));
    EXPECT_TRUE(controller->view()->findChildren<QMenu*>().isEmpty());
}

TEST(Share, WithoutAWindowShowsNothingAndSaysSo) {
    TemporarySettings settings;
    auto controller = makeController(solidImage(30, 20, Qt::green));
    LogCapture logs;
    controller->controlPanelDidClickShare(Inspector::panel(*controller));
    EXPECT_EQ(logs.messages(controllerLog), QStringList{"No window to show the share picker in"});
    EXPECT_TRUE(controller->view()->findChildren<SharingServicePicker*>().isEmpty());
    EXPECT_TRUE(controller->view()->findChildren<QMenu*>().isEmpty());
}

// A desktop of our own with one application for PNG images: a script that keeps a copy of
// the file it is given.
class ShareDesktop {
public:
    ShareDesktop() {
        QDir(folder.path()).mkpath("data/applications");
        const QString script = folder.filePath("receive.sh");
        writeFile(script, QStringLiteral("#!/bin/sh\ncp \"$1\" '%1'\n").arg(receivedPath()));
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeFile(folder.filePath("data/applications/pixaloom-test-viewer.desktop"),
                  QStringLiteral("[Desktop Entry]\nType=Application\nName=Test Viewer\n"
                                 "Exec=%1 %f\nMimeType=image/png;\n")
                      .arg(script));
        writeFile(folder.filePath("data/applications/mimeinfo.cache"),
                  "[MIME Cache]\nimage/png=pixaloom-test-viewer.desktop;\n");
        // Read by GIO on its first use in this process.
        qputenv("XDG_DATA_DIRS", QFile::encodeName(folder.filePath("data")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder.filePath("home")));
    }
    QString receivedPath() const { return folder.filePath("received.png"); }

private:
    static void writeFile(const QString& path, const QString& text) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text.toUtf8());
    }
    QTemporaryDir folder;
};

TEST(Share, ListsTheDesktopsImageApplicationsAndHandsOverThePng) {
    ShareDesktop desktop;
    TemporarySettings settings;
    QWidget window;
    auto controller = makeController(solidImage(64, 48, Qt::cyan));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(controller->view());
    window.show();
    LogCapture logs;

    controller->controlPanelDidClickShare(Inspector::panel(*controller));
    auto menus = controller->view()->findChildren<QMenu*>();
    ASSERT_EQ(menus.size(), 1);
    ASSERT_EQ(menus.front()->actions().size(), 1);
    EXPECT_EQ(menus.front()->actions().front()->text(), "Test Viewer");
    menus.front()->hide();
    menus.front()->actions().front()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(desktop.receivedPath()), 5000);
    QTRY_COMPARE(
        logs.messages(controllerLog),
        QStringList({"Share picker displayed", "User selected sharing service: Test Viewer"}));
    QImage received;
    QTRY_VERIFY(received.load(desktop.receivedPath()) && received.size() == QSize(64, 48));
    EXPECT_EQ(received.pixelColor(1, 1), QColor(Qt::cyan));

    // Opening it again and dismissing it reports the cancellation only.
    logs.clear();
    controller->controlPanelDidClickShare(Inspector::panel(*controller));
    menus = controller->view()->findChildren<QMenu*>();
    ASSERT_FALSE(menus.isEmpty());
    menus.back()->hide();
    QTRY_COMPARE(logs.messages(controllerLog),
                 QStringList({"Share picker displayed", "User canceled sharing"}));
    layout->removeWidget(controller->view());
    controller->detachViewFromWindow();
}

} // namespace
