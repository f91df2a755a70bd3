#include "editor/HistoryImage.h"

#include "platform/BackgroundWork.h"

#include <QCoreApplication>

#include <optional>
#include <utility>

struct HistoryImage::State {
    QImage pixels;
    std::optional<PackedImage> packed;
    bool shown = true;
    bool packing = false;
};

HistoryImage::HistoryImage(const QImage& image)
    : state(std::make_shared<State>()) {
    state->pixels = image;
}

HistoryImage::~HistoryImage() = default;
HistoryImage::HistoryImage(HistoryImage&&) noexcept = default;
HistoryImage& HistoryImage::operator=(HistoryImage&&) noexcept = default;

QImage HistoryImage::image() const {
    if (!state->pixels.isNull() || !state->packed)
        return state->pixels;
    QImage unpacked = state->packed->unpack();
    if (state->shown)
        state->pixels = unpacked;
    return unpacked;
}

void HistoryImage::setShown(bool shown) {
    state->shown = shown;
    if (shown || state->pixels.isNull())
        return;
    if (state->packed) {
        BackgroundWork::discard(std::exchange(state->pixels, QImage()));
        return;
    }
    if (state->packing)
        return;
    state->packing = true;
    // The packed form comes back to the GUI thread, which alone touches the state; an entry
    // dropped from the history meanwhile leaves nothing to update.
    std::weak_ptr<State> weakState = state;
    BackgroundWork::run(
        QCoreApplication::instance(),
        [pixels = state->pixels] { return PackedImage::pack(pixels); },
        [weakState](PackedImage packed) {
            const std::shared_ptr<State> state = weakState.lock();
            if (!state)
                return;
            state->packing = false;
            state->packed = std::move(packed);
            if (!state->shown)
                BackgroundWork::discard(std::exchange(state->pixels, QImage()));
        });
}

std::function<QImage()> HistoryImage::unpacker() const {
    return [packed = state->packed.value_or(PackedImage())] {
        return packed.unpack();
    };
}

void HistoryImage::keepUnpacked(const QImage& pixels) {
    if (state->shown && state->pixels.isNull())
        state->pixels = pixels;
}

bool HistoryImage::isPacked() const {
    return state->packed.has_value() && state->pixels.isNull();
}

qsizetype HistoryImage::byteSize() const {
    return state->pixels.sizeInBytes() + (state->packed ? state->packed->byteSize() : 0);
}
