#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>
#include <future>

// Puts images on the desktop clipboard (the CLIPBOARD selection) as PNG bytes. Qt's own
// image clipboard re-encodes the image in the GUI thread on every paste; here the image is
// encoded once, on a worker thread, while the clipboard is already ours.
namespace ClipboardWriter {
// Replaces the clipboard's contents with the image and returns at once.
void writeImage(const QImage& image);
// Replaces the clipboard's contents with the PNG and returns at once; a paste before the PNG
// is ready waits for it.
void writePng(std::shared_future<QByteArray> png);
// The PNG of an image still being made elsewhere: `deliver` hands the image over, once, from
// any thread, and its encoding starts on a worker thread.
struct PendingPng {
    std::shared_future<QByteArray> png;
    std::function<void(const QImage&)> deliver;
};
PendingPng encodePngLater();
// Starts encoding the image as PNG on a worker thread.
std::shared_future<QByteArray> encodePngInBackground(const QImage& image);
// Encodes the image as PNG in the calling thread, with the fast compression used for the
// clipboard (pastes are local, so speed matters more than size).
QByteArray encodePng(const QImage& image);
} // namespace ClipboardWriter
