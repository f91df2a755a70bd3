#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>

// `image` as Qt's PNG writer makes it with its default settings, as the local edit server
// sends its results.
inline QByteArray qtPngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}
