#pragma once

#include "editor/ControlPanel.h"
#include "editor/ControlPanelDelegate.h"

#include <QColor>
#include <QString>
#include <QAbstractAnimation>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

// A delegate that records every report the panel makes, in order.
class ControlPanelRecorder : public ControlPanelDelegate {
public:
    struct Edit {
        QString prompt;
        std::optional<QString> theme;
        bool improvePrompt;
    };
    struct Background {
        QColor color;
        qreal horizontalPadding;
        qreal verticalPadding;
    };

    std::vector<QString> calls;
    std::vector<Edit> edits;
    std::vector<Background> backgrounds;
    // Whether the prompt popover was still open when an edit arrived.
    std::vector<bool> popoverOpenAtEdit;

    void controlPanelDidClickUndo(ControlPanel*) override { calls.push_back("undo"); }
    void controlPanelDidClickRedo(ControlPanel*) override { calls.push_back("redo"); }
    void controlPanelDidChangeBackgroundColorPadding(ControlPanel*, const QColor&, qreal) override {
        calls.push_back("background (one padding)");
    }
    void controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        ControlPanel*, const QColor& color, qreal horizontal, qreal vertical) override {
        calls.push_back("background");
        backgrounds.push_back({color, horizontal, vertical});
    }
    void controlPanelDidClickEditWithPromptThemeImprovePrompt(ControlPanel* panel,
                                                              const QString& prompt,
                                                              const std::optional<QString>& theme,
                                                              bool improvePrompt) override {
        calls.push_back("edit");
        edits.push_back({prompt, theme, improvePrompt});
        popoverOpenAtEdit.push_back(panel->promptPopover && panel->promptPopover->isVisible());
    }
    void controlPanelDidClickCopy(ControlPanel*) override { calls.push_back("copy"); }
    void controlPanelDidClickShare(ControlPanel*) override { calls.push_back("share"); }
    void controlPanelDidChangeTheme(ControlPanel*, const std::optional<QString>&) override {
        calls.push_back("theme");
    }
};

// An editor view with a panel in it, placed as the editor places it, and a recorder as its
// delegate.
struct PanelInView {
    explicit PanelInView(QSize viewSize = {600, 400}) {
        view.resize(viewSize);
        panel = new ControlPanel(QRect(0, 0, 160, 36), &view);
        panel->move(100, 35);
        panel->delegate = &recorder;
        view.show();
    }

    ControlPanelRecorder recorder;
    QWidget view;
    ControlPanel* panel;
};

// Animations interpolate colours in 8-bit steps: colours compare at that precision.
inline QRgb rgba(const QColor& color) {
    return color.rgba();
}

// Until every animation of every widget has ended (a fixed wait is too short on a busy
// machine or under the sanitizers).
inline void waitForAnimations() {
    const auto running = [] {
        for (QWidget* widget : QApplication::allWidgets())
            for (const auto* animation :
                 widget->findChildren<QAbstractAnimation*>(Qt::FindDirectChildrenOnly))
                if (animation->state() == QAbstractAnimation::Running)
                    return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return !running(); }, 5000)) << "animations still running";
}
