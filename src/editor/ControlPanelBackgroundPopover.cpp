// The background popover: colour and paddings, each change reported at once.
#include "editor/ControlPanel.h"

void ControlPanel::showBgSettingsPopover() {
}
void ControlPanel::horizontalSliderChanged(PaddingSlider*) {
}
void ControlPanel::verticalSliderChanged(PaddingSlider*) {
}
void ControlPanel::colorWellChanged(ColorWell*) {
}
void ControlPanel::colorPresetClicked(ToolbarButton*) {
}
void ControlPanel::resetBackgroundSettings() {
}
void ControlPanel::cancelBgSettings() {
}
