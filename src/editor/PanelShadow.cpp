#include "editor/PanelShadow.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <vector>

namespace {

// One box-blur pass over the alpha channel, along rows (horizontal) or columns.
void boxBlur(QImage& image, int radius, bool horizontal) {
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    std::vector<int> source(static_cast<std::size_t>(length));
    const int window = 2 * radius + 1;
    for (int line = 0; line < lines; ++line) {
        auto pixel = [&](int i) -> uchar& {
            const int x = horizontal ? i : line;
            const int y = horizontal ? line : i;
            return image.scanLine(y)[x];
        };
        for (int i = 0; i < length; ++i)
            source[static_cast<std::size_t>(i)] = pixel(i);
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? source[static_cast<std::size_t>(i)] : 0;
        for (int i = 0; i < length; ++i) {
            pixel(i) = static_cast<uchar>(sum / window);
            const int leaving = i - radius;
            const int entering = i + radius + 1;
            if (leaving >= 0)
                sum -= source[static_cast<std::size_t>(leaving)];
            if (entering < length)
                sum += source[static_cast<std::size_t>(entering)];
        }
    }
}

} // namespace

PanelShadow::PanelShadow(QWidget* caster, const Style& style)
    : QWidget(caster->parentWidget())
    , caster(caster)
    , style(style) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

int PanelShadow::margin() const {
    return static_cast<int>(std::ceil(
        style.radius * 2 + std::max(std::abs(style.offset.x()), std::abs(style.offset.y()))));
}

void PanelShadow::follow() {
    if (!caster)
        return;
    if (parentWidget() != caster->parentWidget()) {
        const bool visible = caster->isVisible();
        setParent(caster->parentWidget());
        setVisible(visible);
    }
    if (!parentWidget() || caster->isWindow()) {
        hide();
        return;
    }
    const int reach = margin();
    setGeometry(caster->geometry().adjusted(-reach, -reach, reach, reach));
    setVisible(caster->isVisible());
    stackUnder(caster);
    update();
}

QImage PanelShadow::shadowImage(const QSize& casterSize, qreal ratio) {
    const int reach = margin();
    const QSize logical = casterSize + QSize(2 * reach, 2 * reach);
    const QSize pixels = (QSizeF(logical) * ratio).toSize();
    if (cached.size() == pixels && cached.devicePixelRatio() == ratio)
        return cached;
    QImage alpha(pixels, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter painter(&alpha);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(ratio, ratio);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawRoundedRect(QRectF(QPointF(reach, reach), QSizeF(casterSize)),
                                style.cornerRadius, style.cornerRadius);
    }
    // Three box blurs approach a Gaussian whose spread is half the shadow radius.
    const int box = std::max(1, static_cast<int>(std::lround(style.radius * ratio / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, box, true);
        boxBlur(alpha, box, false);
    }
    QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter painter(&shadow);
        painter.drawImage(0, 0, alpha);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(shadow.rect(), style.color);
    }
    shadow.setDevicePixelRatio(ratio);
    cached = shadow;
    return cached;
}

void PanelShadow::paintEvent(QPaintEvent*) {
    if (!caster)
        return;
    QPainter painter(this);
    const QVariant alpha = caster->property("alphaValue");
    painter.setOpacity(alpha.isValid() ? alpha.toReal() : 1);
    painter.drawImage(style.offset, shadowImage(caster->size(), devicePixelRatioF()));
}
