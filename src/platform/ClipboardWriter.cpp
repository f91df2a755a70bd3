#include "platform/ClipboardWriter.h"

#include "platform/PngEncoder.h"
#include "platform/PngMimeData.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThreadPool>

#include <memory>

namespace ClipboardWriter {

QByteArray encodePng(const QImage& image) {
    return PngEncoder::encode(image);
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
