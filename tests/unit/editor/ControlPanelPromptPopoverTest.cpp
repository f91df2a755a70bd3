#include "ControlPanelRecorder.h"
#include "LogCapture.h"

#include "editor/ControlPanel.h"
#include "editor/ToolbarButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ToolbarButton* popoverEditButton(ControlPanel& panel) {
    return panel.promptPopover->findChild<ToolbarButton*>("promptEditButton");
}

void pickTheme(ControlPanel& panel, const QString& title) {
    const int index = panel.promptThemeSelector->findText(title);
    ASSERT_GE(index, 0) << title.toStdString();
    panel.promptThemeSelector->setCurrentIndex(index);
}

TEST(PromptPopover, FirstShowOffersAnEmptyFocusedPromptAndNoTheme) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    EXPECT_FALSE(panel.promptPopover);
    QTest::mouseClick(panel.editButton, Qt::LeftButton);
    ASSERT_TRUE(panel.promptPopover);
    EXPECT_TRUE(panel.promptPopover->isVisible());
    EXPECT_EQ(panel.promptPopover->size(), QSize(350, 170));
    EXPECT_TRUE(panel.promptTextField->text().isEmpty());
    EXPECT_EQ(panel.promptTextField->placeholderText(), "Enter your edit prompt...");
    EXPECT_EQ(panel.promptTextField->window()->focusWidget(), panel.promptTextField.data());
    EXPECT_TRUE(panel.improvePromptCheckbox->isChecked());

    EXPECT_EQ(panel.promptThemeSelector->currentText(), "No theme");
    // Opened below its button.
    const QPoint buttonBottom = panel.editButton->mapToGlobal(QPoint(16, 32));
    EXPECT_GT(panel.promptPopover->geometry().top(), buttonBottom.y());
    EXPECT_TRUE(scene.recorder.calls.empty());

    // Built once, reused.
    const Popover* first = panel.promptPopover;
    panel.promptCancelButtonClicked();
    panel.showPromptPopover();
    EXPECT_EQ(panel.promptPopover.data(), first);
}

TEST(PromptPopover, EditPassesThePromptAsTypedClosingThePopoverFirst) {
    const struct {
        const char* typed;
        const char* theme;
        bool improve;
        std::optional<QString> expectedTheme;
    } cases[] = {
        {"  make it pop  ", "No theme", true, std::nullopt},
        {"", "No theme", true, std::nullopt},
        {"pixels", "Pixel Art", false, QStringLiteral("pixel_art")},
        {"drawn", "Retro 80s/90s", true, QStringLiteral("retro")},
    };
    for (const auto& edit : cases) {
        PanelInView scene;
        ControlPanel& panel = *scene.panel;
        panel.showPromptPopover();
        QTest::keyClicks(panel.promptTextField, edit.typed);
        pickTheme(panel, edit.theme);
        if (!edit.improve)
            QTest::mouseClick(panel.improvePromptCheckbox, Qt::LeftButton, {}, QPoint(5, 10));
        QTest::mouseClick(popoverEditButton(panel), Qt::LeftButton);

        ASSERT_EQ(scene.recorder.edits.size(), 1u) << edit.typed;
        EXPECT_EQ(scene.recorder.edits[0].prompt, edit.typed);
        EXPECT_EQ(scene.recorder.edits[0].theme, edit.expectedTheme);
        EXPECT_EQ(scene.recorder.edits[0].improvePrompt, edit.improve);
        EXPECT_EQ(scene.recorder.popoverOpenAtEdit, std::vector<bool>{false});
        EXPECT_EQ(panel.selectedTheme, edit.expectedTheme);
    }
}

TEST(PromptPopover, OneReturnSubmitsOnceAndReturnElsewhereIsLeftAlone) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showPromptPopover();
    QTest::keyClicks(panel.promptTextField, "sky");
    QTest::keyClick(panel.promptTextField, Qt::Key_Return);
    EXPECT_EQ(scene.recorder.calls, std::vector<QString>{"edit"});
    EXPECT_FALSE(panel.promptPopover->isVisible());

    // Keypad Enter reaches the field itself, which submits once as well.
    panel.showPromptPopover();
    QTest::keyClick(panel.promptTextField, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(scene.recorder.calls.size(), 2u);

    // With the popover closed, Return belongs to whoever has the focus.
    QLineEdit elsewhere;
    elsewhere.show();
    int returns = 0;
    QObject::connect(&elsewhere, &QLineEdit::returnPressed, [&] { ++returns; });
    QTest::keyClick(&elsewhere, Qt::Key_Return);
    EXPECT_EQ(returns, 1);
    EXPECT_EQ(scene.recorder.calls.size(), 2u);

    // Without a delegate, Return only closes.
    panel.delegate = nullptr;
    panel.showPromptPopover();
    QTest::keyClick(panel.promptTextField, Qt::Key_Return);
    EXPECT_FALSE(panel.promptPopover->isVisible());
    EXPECT_EQ(scene.recorder.calls.size(), 2u);
}

TEST(PromptPopover, RemembersTheThemeOfTheLastEditOnly) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showPromptPopover();
    pickTheme(panel, "Pixel Art");
    panel.promptEditButtonClicked();
    EXPECT_EQ(panel.selectedTheme, "pixel_art");

    // Picked and then closed by the close button, or by a click outside: forgotten.
    panel.showPromptPopover();
    EXPECT_EQ(panel.promptThemeSelector->currentText(), "Pixel Art");
    pickTheme(panel, "Comic Book");
    panel.promptCancelButtonClicked();
    EXPECT_EQ(panel.selectedTheme, "pixel_art");
    panel.showPromptPopover();
    EXPECT_EQ(panel.promptThemeSelector->currentText(), "Pixel Art");
    pickTheme(panel, "Cyberpunk");
    panel.promptPopover->close();
    panel.showPromptPopover();
    EXPECT_EQ(panel.promptThemeSelector->currentText(), "Pixel Art");

    // An edit without a theme clears it.
    pickTheme(panel, "No theme");
    panel.promptEditButtonClicked();
    EXPECT_EQ(panel.selectedTheme, std::nullopt);
    panel.showPromptPopover();
    EXPECT_EQ(panel.promptThemeSelector->currentIndex(), 0);
    EXPECT_TRUE(panel.promptTextField->text().isEmpty());
}

TEST(PromptPopover, KeepsTheImproveCheckboxAndLogsEachToggle) {
    const QString category = QStringLiteral("com.app.pixaloom.ControlPanel");
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showPromptPopover();
    LogCapture logs;
    QTest::mouseClick(panel.improvePromptCheckbox, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(logs.messages(category), QStringList{"Improve prompt toggled: false"});
    EXPECT_TRUE(scene.recorder.calls.empty());
    panel.promptEditButtonClicked();
    panel.showPromptPopover();
    EXPECT_FALSE(panel.improvePromptCheckbox->isChecked());
    QTest::mouseClick(panel.improvePromptCheckbox, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(logs.messages(category).last(), "Improve prompt toggled: true");
}

TEST(PromptPopover, HeaderStaysInsideTheRoundedCorners) {
    PanelInView scene;
    ControlPanel& panel = *scene.panel;
    panel.showPromptPopover();
    QImage image(panel.promptPopover->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    panel.promptPopover->render(&image);
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(image.width() - 1, 0), QPoint(0, image.height() - 1),
          QPoint(image.width() - 1, image.height() - 1)})
        EXPECT_EQ(image.pixelColor(corner).alpha(), 0) << corner.x() << "," << corner.y();
    // The header strip still reaches the edges below the curve and at the top between them.
    EXPECT_EQ(image.pixelColor(4, 40), panel.cardBackgroundColor);
    EXPECT_EQ(image.pixelColor(image.width() / 2, 4), panel.cardBackgroundColor);
}

} // namespace
