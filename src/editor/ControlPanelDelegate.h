#pragma once

#include <QColor>
#include <QString>

#include <optional>

class ControlPanel;

// How the control panel reports every user intent to the editor. The panel holds its
// delegate without owning it.
class ControlPanelDelegate {
public:
    virtual ~ControlPanelDelegate() = default;

    virtual void controlPanelDidClickUndo(ControlPanel* panel) = 0;
    virtual void controlPanelDidClickRedo(ControlPanel* panel) = 0;
    virtual void controlPanelDidChangeBackgroundColorPadding(ControlPanel* panel,
                                                             const QColor& color,
                                                             qreal padding) = 0;
    virtual void controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        ControlPanel* panel, const QColor& color, qreal horizontalPadding,
        qreal verticalPadding) = 0;
    virtual void
    controlPanelDidClickEditWithPromptThemeImprovePrompt(ControlPanel* panel, const QString& prompt,
                                                         const std::optional<QString>& theme,
                                                         bool improvePrompt) = 0;
    virtual void controlPanelDidClickCopy(ControlPanel* panel) = 0;
    virtual void controlPanelDidClickShare(ControlPanel* panel) = 0;
    virtual void controlPanelDidChangeTheme(ControlPanel* panel,
                                            const std::optional<QString>& theme) = 0;
};
