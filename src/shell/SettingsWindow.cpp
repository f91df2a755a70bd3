#include "shell/SettingsWindow.h"

#include "editor/VisualEffectView.h"
#include "platform/MainScreen.h"
#include "platform/UserDefaults.h"
#include "platform/WindowActivation.h"

#include <QCheckBox>
#include <QEvent>
#include <QVBoxLayout>

namespace {

constexpr QSize contentSize{400, 200};
constexpr int checkboxInset = 20;
// The dark material: a near-black backdrop under light text.
const QColor darkMaterial{30, 30, 30};
const QColor darkMaterialText{235, 235, 235};
// The checkbox's tick is drawn in the text colour on the box's light fill: it keeps a dark
// one, or the light label colour would draw a tick that barely shows on the white box.
const QColor checkMarkColor{30, 30, 30};

} // namespace

SettingsWindow::SettingsWindow()
    // Titled and closable only: no minimise or maximise button.
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    // Set on the window itself: an application display name would be appended to it.
    setWindowTitle(QStringLiteral("Pixaloom Settings"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setupUI();
    autoCopyCheckbox->setChecked(UserDefaults::boolForKey(UserDefaults::autoCopyKey));
    centerOnMainScreen(this);
}

void SettingsWindow::setupUI() {
    containerView = new VisualEffectView(darkMaterial, this);
    QPalette dark = containerView->palette();
    dark.setColor(QPalette::Window, darkMaterial);
    dark.setColor(QPalette::WindowText, darkMaterialText);
    dark.setColor(QPalette::Text, darkMaterialText);
    containerView->setPalette(dark);
    // The content keeps its size and the window is not resizable; a menu bar the shell adds
    // to this layout grows the window rather than shrinking the content.
    containerView->setFixedSize(contentSize);
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    content->setSizeConstraint(QLayout::SetFixedSize);
    content->addWidget(containerView);
    // The window takes its size now, so that it is centred by that size.
    content->activate();

    autoCopyCheckbox = new QCheckBox(QStringLiteral("Automatically copy to clipboard"));
    QPalette checkbox = dark;
    checkbox.setColor(QPalette::Text, checkMarkColor);
    autoCopyCheckbox->setPalette(checkbox);
    // A click (or Space) is the action; setting the state in code is not.
    connect(autoCopyCheckbox, &QCheckBox::clicked, this, &SettingsWindow::autoCopyToggled);
    auto* inset = new QVBoxLayout(containerView);
    // Leading and top edges 20 in; the trailing edge at least 20 from the container's.
    inset->setContentsMargins(checkboxInset, checkboxInset, checkboxInset, 0);
    inset->addWidget(autoCopyCheckbox, 0, Qt::AlignLeft | Qt::AlignTop);
    inset->addStretch();
}

void SettingsWindow::autoCopyToggled() {
    const bool isEnabled = autoCopyCheckbox->isChecked();
    if (!UserDefaults::setBool(UserDefaults::autoCopyKey, isEnabled))
        logger.error("Could not save the auto-copy setting: %s cannot be written",
                     UserDefaults::fileName());
    logger.info("Auto-copy setting changed to: %{bool}d", isEnabled);
}

void SettingsWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        windowDidBecomeKey();
}

void SettingsWindow::windowDidBecomeKey() {
    WindowActivation::activateAndUpdateMainMenu(this);
}
