#include "platform/SmoothScaling.h"

namespace SmoothScaling {

QImage scaled(const QImage& image, QSize size) {
    const bool straightAlpha = image.hasAlphaChannel() && image.pixelFormat().premultiplied() ==
                                                              QPixelFormat::NotPremultiplied;
    if (straightAlpha && !size.isEmpty() && size != image.size())
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace SmoothScaling
