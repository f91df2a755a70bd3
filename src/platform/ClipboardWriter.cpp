#include "platform/ClipboardWriter.h"

#include "platform/PngMimeData.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageWriter>
#include <QThreadPool>

#include <memory>

namespace ClipboardWriter {

namespace {
// Qt maps PNG quality 80 to zlib level 1: several times faster than the default level for
// a screen-sized image, at a modest cost in size.
constexpr int fastPngQuality = 80;
} // namespace

QByteArray encodePng(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(fastPngQuality);
    writer.write(image);
    return bytes;
}

std::shared_future<QByteArray> encodePngInBackground(const QImage& image) {
    auto promise = std::make_shared<std::promise<QByteArray>>();
    std::shared_future<QByteArray> result = promise->get_future().share();
    // QImage is implicitly shared and reentrant: the worker reads its own reference while
    // the GUI thread keeps showing the same pixels.
    QThreadPool::globalInstance()->start(
        [promise, image] { promise->set_value(encodePng(image)); });
    return result;
}

void writeImage(const QImage& image) {
    auto* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->setMimeData(new PngMimeData(encodePngInBackground(image)), QClipboard::Clipboard);
}

} // namespace ClipboardWriter
