// The prompt popover: prompt, "Improve prompt" and theme, submitted by Edit or Return.
#include "editor/ControlPanel.h"

void ControlPanel::showPromptPopover() {
}
void ControlPanel::promptCancelButtonClicked() {
}
void ControlPanel::promptEditButtonClicked() {
}
void ControlPanel::improvePromptToggled(QCheckBox*) {
}
