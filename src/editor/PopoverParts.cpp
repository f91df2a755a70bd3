#include "editor/PopoverParts.h"

#include "editor/LayerView.h"
#include "editor/ToolbarButton.h"

#include <QLabel>

LayerView* PopoverParts::header(QWidget* content, qreal cornerRadius, const QString& symbol,
                                const QString& symbolDescription, const QString& title,
                                const QColor& background, const QColor& tint,
                                const QColor& textColor) {
    auto* strip = new LayerView(content);
    strip->setGeometry(0, 0, content->width(), headerHeight);
    strip->layer.backgroundColor = background;
    strip->layer.cornerRadius = cornerRadius;
    strip->layer.maskedCorners = Layer::topLeft | Layer::topRight;
    auto* icon = new ToolbarButton(strip);
    icon->setGeometry(15, 10, 20, 20);
    icon->setSymbol(symbol, 14);
    icon->setContentTintColor(tint);
    icon->setAccessibleName(symbolDescription);
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* label = new QLabel(title, strip);
    label->setGeometry(45, 10, 240, 20);
    label->setFont(systemFont(14, QFont::DemiBold));
    setTextColor(label, textColor);
    return strip;
}

ToolbarButton* PopoverParts::closeButton(QWidget* content) {
    auto* close = new ToolbarButton(content);
    close->setGeometry(content->width() - 30, headerHeight / 2 - 10, 20, 20);
    close->setText(QStringLiteral("\u2715"));
    close->setFont(systemFont(12, QFont::Medium));
    close->setContentTintColor(QColor::fromRgbF(1, 1, 1, 0.8f));
    close->setAccessibleName(QObject::tr("Close"));
    close->setCursor(Qt::PointingHandCursor);
    return close;
}

QFont PopoverParts::systemFont(int points, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(points);
    font.setWeight(weight);
    return font;
}

QString PopoverParts::css(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF());
}

void PopoverParts::setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}
