#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class LayerView;
class QWidget;
class ToolbarButton;

// The pieces both popovers share: the header strip, the close button, and the fonts and
// colours written the way the rest of their look is written.
class PopoverParts {
public:
    static constexpr int headerHeight = 40;

    // A strip across the top, its top corners following the popover's: a symbol tinted
    // `tint`, then the title.
    static LayerView* header(QWidget* content, qreal cornerRadius, const QString& symbol,
                             const QString& symbolDescription, const QString& title,
                             const QColor& background, const QColor& tint, const QColor& textColor);
    // The "✕" at the header's right end.
    static ToolbarButton* closeButton(QWidget* content);
    // The system font at a size in points (device-independent pixels).
    static QFont systemFont(int points, QFont::Weight weight = QFont::Normal);
    // A colour as a style-sheet value.
    static QString css(const QColor& color);
    // White-on-dark text for a label.
    static void setTextColor(QWidget* widget, const QColor& color);
};
