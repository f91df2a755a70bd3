// The prompt popover: a prompt, "Improve prompt" and a theme, submitted by Edit or Return.
#include "editor/ControlPanel.h"

#include "editor/LayerView.h"
#include "editor/Popover.h"
#include "editor/PopoverParts.h"
#include "editor/ThemePopUpButton.h"
#include "editor/ToolbarButton.h"
#include "platform/ApplicationKeyMonitor.h"
#include "platform/KeyIdentity.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>

namespace {

const QString noTheme = QStringLiteral("None");
constexpr QSize promptContentSize{350, 170};

} // namespace

void ControlPanel::buildPromptPopover() {
    promptPopover =
        new Popover(this, promptContentSize, backgroundColor, borderRadius, borderColor);
    Popover* content = promptPopover;
    content->setObjectName(QStringLiteral("promptPopover"));
    connect(content, &Popover::hidden, this, [this] { popoverDidClose(editButton.data()); });
    PopoverParts::header(content, borderRadius, QStringLiteral("pencil"), tr("Edit"),
                         tr("Edit Prompt"), cardBackgroundColor, primaryColor, textColor);

    promptTextField = new QLineEdit(content);
    promptTextField->setGeometry(15, 55, 320, 30);
    promptTextField->setPlaceholderText(tr("Enter your edit prompt..."));
    promptTextField->setFont(PopoverParts::systemFont(13));
    promptTextField->setAttribute(Qt::WA_MacShowFocusRect, false);
    promptTextField->setStyleSheet(
        QStringLiteral("QLineEdit { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: %4px; padding: 0 8px; selection-background-color: %5; }")
            .arg(PopoverParts::css(textColor), PopoverParts::css(textFieldBackgroundColor),
                 PopoverParts::css(borderColor))
            .arg(borderRadius - 2)
            .arg(PopoverParts::css(primaryColor)));
    QPalette fieldPalette = promptTextField->palette();
    fieldPalette.setColor(QPalette::PlaceholderText, QColor::fromRgbF(1, 1, 1, 0.45f));
    promptTextField->setPalette(fieldPalette);
    // Keypad Enter arrives here; Return is taken by the key monitor below first.
    connect(promptTextField, &QLineEdit::returnPressed, this,
            &ControlPanel::promptEditButtonClicked);

    improvePromptCheckbox = new QCheckBox(tr("Improve prompt"), content);
    improvePromptCheckbox->setGeometry(15, 95, 320, 20);
    improvePromptCheckbox->setFont(PopoverParts::systemFont(12));
    improvePromptCheckbox->setChecked(true);
    QPalette boxPalette = improvePromptCheckbox->palette();
    boxPalette.setColor(QPalette::WindowText, textColor);
    boxPalette.setColor(QPalette::Text, textColor);
    boxPalette.setColor(QPalette::Base, textFieldBackgroundColor);
    boxPalette.setColor(QPalette::Window, backgroundColor);
    boxPalette.setColor(QPalette::Button, textFieldBackgroundColor);
    improvePromptCheckbox->setPalette(boxPalette);
    connect(improvePromptCheckbox, &QCheckBox::clicked, this,
            [this] { improvePromptToggled(improvePromptCheckbox.data()); });

    auto* themeSelector = new ThemePopUpButton(content);
    themeSelector->chevronColor = textColor;
    promptThemeSelector = themeSelector;
    promptThemeSelector->setGeometry(20, 127, 120, 28);
    promptThemeSelector->setFont(PopoverParts::systemFont(13));
    promptThemeSelector->setView(new QListView(promptThemeSelector));
    promptThemeSelector->setStyleSheet(
        QStringLiteral("QComboBox { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: 6px; padding: 0 6px 0 8px; }"
                       "QComboBox::drop-down { border: none; width: 20px; }"
                       "QComboBox::down-arrow { image: none; }"
                       "QComboBox QAbstractItemView { color: %1; background: %4;"
                       " border: 1px solid %3; selection-background-color: %5; outline: none;"
                       " padding: 4px; }"
                       "QComboBox QAbstractItemView::item { min-height: 24px; padding: 0 8px;"
                       " border-radius: 4px; }"
                       "QComboBox QAbstractItemView::item:selected { background: %5; }")
            .arg(PopoverParts::css(textColor), PopoverParts::css(textFieldBackgroundColor),
                 PopoverParts::css(borderColor), PopoverParts::css(cardBackgroundColor),
                 PopoverParts::css(primaryColor)));
    promptThemeSelector->addItem(themes.front().second, noTheme);
    for (const auto& [key, title] : themes)
        if (key != noTheme)
            promptThemeSelector->addItem(title, key);
    promptThemeSelector->setCurrentIndex(0);

    ToolbarButton* close = PopoverParts::closeButton(content);
    connect(close, &QAbstractButton::clicked, this, &ControlPanel::promptCancelButtonClicked);

    auto* edit = new ToolbarButton(content);
    edit->setObjectName(QStringLiteral("promptEditButton"));
    edit->setGeometry(265, 127, 70, 28);
    edit->setText(tr("Edit"));
    edit->setFont(PopoverParts::systemFont(13, QFont::Medium));
    edit->setContentTintColor(Qt::white);
    edit->layer.backgroundColor = primaryColor;
    edit->layer.cornerRadius = 6;
    edit->setCursor(Qt::PointingHandCursor);
    track(edit, "button");
    edit->setProperty("isPrimary", true);
    connect(edit, &QAbstractButton::clicked, this, &ControlPanel::promptEditButtonClicked);

    // Return goes to the Edit action whether or not the field would see it; the monitor
    // consumes the key it acts on, so one Return submits once.
    returnKeyMonitor =
        ApplicationKeyMonitor::addLocalMonitorForKeyDown([panel = QPointer(this)](QKeyEvent& key) {
            if (KeyIdentity::fromEvent(key) != PhysicalKey::returnKey || !panel)
                return false;
            if (!panel->promptPopover || !panel->promptPopover->isShown() ||
                !panel->promptTextField ||
                panel->promptTextField->window()->focusWidget() != panel->promptTextField)
                return false;
            panel->promptEditButtonClicked();
            return true;
        });
}

void ControlPanel::showPromptPopover() {
    if (!promptPopover)
        buildPromptPopover();
    promptTextField->clear();
    if (!selectedTheme) {
        promptThemeSelector->setCurrentIndex(0);
    } else {
        const int match = promptThemeSelector->findData(*selectedTheme);
        if (match >= 0)
            promptThemeSelector->setCurrentIndex(match);
    }
    if (!editButton)
        return;
    runActiveStateAnimation(editButton, primaryLightColor, primaryColor);
    promptPopover->showRelativeTo(editButton);
    promptTextField->setFocus(Qt::PopupFocusReason);
}

void ControlPanel::promptCancelButtonClicked() {
    if (editButton)
        runReleaseAnimation(editButton);
    if (promptPopover)
        promptPopover->hide();
}

void ControlPanel::promptEditButtonClicked() {
    const QString prompt = promptTextField ? promptTextField->text() : QString();
    std::optional<QString> theme;
    if (promptThemeSelector && promptThemeSelector->currentIndex() >= 0) {
        const QVariant key = promptThemeSelector->currentData();
        if (key.userType() == QMetaType::QString && key.toString() != noTheme)
            theme = key.toString();
    }
    selectedTheme = theme;
    const bool improvePrompt = improvePromptCheckbox && improvePromptCheckbox->isChecked();
    if (editButton)
        runReleaseAnimation(editButton);
    if (promptPopover)
        promptPopover->hide();
    if (delegate)
        delegate->controlPanelDidClickEditWithPromptThemeImprovePrompt(this, prompt, theme,
                                                                       improvePrompt);
}

void ControlPanel::improvePromptToggled(QCheckBox* checkbox) {
    logger.info("Improve prompt toggled: %{bool}d", checkbox && checkbox->isChecked());
}
