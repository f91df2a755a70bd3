#pragma once

#include <QColor>
#include <QWidget>

// A transient popover: a popup window that closes on a click outside it, shown just below
// the button it belongs to. Its content is laid out in its own coordinates by its owner.
class Popover : public QWidget {
    Q_OBJECT
public:
    Popover(QWidget* owner, const QSize& contentSize, const QColor& background, qreal cornerRadius,
            const QColor& border);

    // Centred under `anchor`, kept on the anchor's screen.
    void showRelativeTo(QWidget* anchor);
    bool isShown() const { return isVisible(); }

    // Distance between the anchor's bottom edge and the popover.
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
