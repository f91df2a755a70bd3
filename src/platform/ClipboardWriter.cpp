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

namespace {

using PngPromise = std::shared_ptr<std::promise<QByteArray>>;

void encodeInBackground(PngPromise promise, const QImage& image) {
    // QImage is implicitly shared and reentrant: the worker reads its own reference while
    // the GUI thread keeps showing the same pixels.
    QThreadPool::globalInstance()->start(
        [promise = std::move(promise), image] { promise->set_value(encodePng(image)); });
}

} // namespace

std::shared_future<QByteArray> encodePngInBackground(const QImage& image) {
    auto promise = std::make_shared<std::promise<QByteArray>>();
    std::shared_future<QByteArray> result = promise->get_future().share();
    encodeInBackground(std::move(promise), image);
    return result;
}

PendingPng encodePngLater() {
    auto promise = std::make_shared<std::promise<QByteArray>>();
    std::shared_future<QByteArray> png = promise->get_future().share();
    return {std::move(png), [promise](const QImage& image) {
                encodeInBackground(promise, image);
            }};
}

void writePng(std::shared_future<QByteArray> png) {
    if (auto* clipboard = QGuiApplication::clipboard())
        clipboard->setMimeData(new PngMimeData(std::move(png)), QClipboard::Clipboard);
}

void writeImage(const QImage& image) {
    if (QGuiApplication::clipboard())
        writePng(encodePngInBackground(image));
}

} // namespace ClipboardWriter
