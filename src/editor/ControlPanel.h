#pragma once

#include "editor/ControlPanelDelegate.h"
#include "editor/Layer.h"
#include "editor/Popover.h"
#include "editor/ToolbarButton.h"
#include "platform/Logger.h"

#include <QColor>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class ApplicationKeyMonitor;
class ColorWell;
class LayerView;
class PaddingSlider;
class PanelShadow;

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// The floating toolbar over the editor's image: six icon buttons, a drag handle, and the
// prompt and background popovers. It keeps no image state; every user intent goes to the
// delegate.
class ControlPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal alphaValue READ alphaValue WRITE setAlphaValue)
    Q_PROPERTY(qreal layerScale READ layerScale WRITE setLayerScale)
    Q_PROPERTY(qreal appearanceOffset READ appearanceOffset WRITE setAppearanceOffset)
public:
    // Widens the frame to at least 280 points; origin and height stay.
    explicit ControlPanel(const QRect& frame, QWidget* parent = nullptr);
    ~ControlPanel() override;

    QPointer<LayerView> innerContainer;
    QPointer<ToolbarButton> editButton;
    QPointer<ToolbarButton> copyButton;
    QPointer<ToolbarButton> shareButton;
    QPointer<ToolbarButton> undoButton;
    QPointer<ToolbarButton> redoButton;
    QPointer<ToolbarButton> bgColorButton;
    QPointer<ToolbarButton> bgSettingsButton;
    QPointer<LayerView> dragHandle;
    QPointer<QComboBox> promptThemeSelector;
    QPointer<QCheckBox> improvePromptCheckbox;
    QPointer<Popover> promptPopover;
    QPointer<QLineEdit> promptTextField;
    QPointer<Popover> bgSettingsPopover;
    QPointer<PaddingSlider> horizontalPaddingSlider;
    QPointer<PaddingSlider> verticalPaddingSlider;
    QPointer<ColorWell> colorWell;
    QPointer<QLabel> hPaddingValueLabel;
    QPointer<QLabel> vPaddingValueLabel;
    std::optional<QColor> currentBackgroundColor = QColor(Qt::white);
    bool isCopied = false;
    bool isDragging = false;
    std::optional<QPointF> dragStartPoint;
    std::optional<QPointF> initialPosition;
    qreal horizontalPadding = 20;
    qreal verticalPadding = 20;
    ControlPanelDelegate* delegate = nullptr; // not owned; the editor owns the panel

    const qreal borderRadius = 8;
    const QColor primaryColor = QColor::fromRgbF(1.0f, 92 / 255.0f, 0, 1);
    const QColor primaryLightColor = QColor::fromRgbF(1.0f, 159 / 255.0f, 0.4f, 0.15f);
    const QColor backgroundColor = QColor(17, 17, 17);
    const QColor cardBackgroundColor = QColor(38, 38, 38);
    const QColor textColor = QColor(Qt::white);
    const QColor borderColor = QColor(64, 64, 64);
    const QColor textFieldBackgroundColor = QColor(45, 45, 45);
    const Logger logger{QStringLiteral("com.app.pixaloom"), QStringLiteral("ControlPanel")};
    // Theme key and menu title; "None" means no theme and is never passed on.
    const std::vector<std::pair<QString, QString>> themes;
    std::optional<QString> selectedTheme;

    void animateAppearance();

    // The toolbar's actions.
    void showPromptPopover();
    void copyClicked(ToolbarButton* sender);
    void shareButtonClicked();
    void undoButtonClicked();
    void redoButtonClicked();
    void showBgSettingsPopover();

    // The prompt popover's actions.
    void promptCancelButtonClicked();
    void promptEditButtonClicked();
    void improvePromptToggled(QCheckBox* checkbox);

    // The background popover's actions.
    void horizontalSliderChanged(PaddingSlider* slider);
    void verticalSliderChanged(PaddingSlider* slider);
    void colorWellChanged(ColorWell* well);
    void colorPresetClicked(ToolbarButton* preset);
    void resetBackgroundSettings();
    void cancelBgSettings();

    // Pointer tracking of the toolbar buttons, the drag handle and the popover's Edit button.
    void mouseEntered(QWidget* trackedView);
    void mouseExited(QWidget* trackedView);

    qreal alphaValue() const { return alpha; }
    void setAlphaValue(qreal value);
    qreal layerScale() const { return layer.scale; }
    void setLayerScale(qreal scale);
    // How far below its place the appearing panel still is. Moving by the change keeps
    // whatever shift the editor's layout makes meanwhile.
    qreal appearanceOffset() const { return appearanceLag; }
    void setAppearanceOffset(qreal offset);

    // While a padding slider is held down, the number of that press: the background
    // reports made under one number belong to one drag.
    std::optional<quint64> paddingDrag() const;

    // "35px" for 35.6: the whole points, fraction dropped.
    static QString paddingLabelText(qreal padding);
    // The five preset colours, by tag.
    static const std::vector<QColor>& presetColors();

    static constexpr int minimumWidth = 280;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class PanState { began, changed, ended, cancelled };

    void setupControlPanel();
    void setupDragHandle();
    void setupCompactToolbar();
    ToolbarButton* createToolbarButton(const QString& symbol, const QString& accessibilityLabel);
    void track(QWidget* view, const char* key);
    void layoutContents();
    void handlePanGesture(PanState state, const QPointF& location);

    void buildPromptPopover();
    void buildBgSettingsPopover();
    void refreshBgSettingsControls();
    void applyBackgroundSettingsChanges();

    void trackPaddingSliderPress(QEvent* event);
    bool anchorsShownPopover(const QWidget* button) const;
    void popoverDidClose(ToolbarButton* anchor);

    void buttonEntered(ToolbarButton* button, bool isPrimary);
    void buttonExited(ToolbarButton* button, bool isPrimary);
    void dragHandleEntered(LayerView* handle);
    void dragHandleExited(LayerView* handle);
    void runActiveStateAnimation(ToolbarButton* button, const QColor& lightColor,
                                 const QColor& color);
    void runReleaseAnimation(ToolbarButton* button);
    void showHoverLayer(ToolbarButton* button, const QColor& lightColor);

    Layer layer;
    qreal alpha = 1;
    qreal appearanceLag = 0;
    quint64 paddingPresses = 0;
    bool paddingSliderPressed = false;
    QPointer<PanelShadow> shadow;
    std::unique_ptr<ApplicationKeyMonitor> returnKeyMonitor;
};
