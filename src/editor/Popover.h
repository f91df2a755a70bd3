#pragma once

#include <QColor>
#include <QWidget>

// A transient popover: a popup window that closes on a click outside it, shown just below
// the button it belongs to, or just above it where there is no room below. Its content is
// laid out in its own coordinates by its owner.
class Popover : public QWidget {
    Q_OBJECT
public:
    Popover(QWidget* owner, const QSize& contentSize, const QColor& background, qreal cornerRadius,
            const QColor& border);

    // Centred under `anchor` (or over it), kept on the anchor's screen.
    void showRelativeTo(QWidget* anchor);
    bool isShown() const { return isVisible(); }

    // The top-left corner of a popover of `size` for an anchor at `anchor` (both in global
    // coordinates) on a screen whose free area is `available`: centred below the anchor, or
    // above it when it does not fit below, so that it never covers the button it belongs to;
    // only when it fits on neither side is it pushed into the screen.
    static QPoint placement(const QRect& anchor, const QSize& size, const QRect& available);

    // Distance between the anchor's edge and the popover.
    static constexpr int gap = 6;

signals:
    void hidden();

protected:
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor background;
    qreal cornerRadius;
    QColor border;
};
